// The oscillator module class: its twenty plugs, identity texts, lifecycle (open, plug-state
// changes, the sleep countdown) and the choice among the ten process routines. The routines
// (routines.h) run the frame of dsp/ on this class's buffers and state.
#pragma once

#include <stdint.h>

#include "dsp/core.h"
#include "plugs.h"
#include "sdk/module_base.h"

namespace fourwave::dsp {
struct FrameBuffers;
}

class Module : public SEModule_base {
public:
    // Runs the base constructor and sets every member below to zero (buffers null), so that a
    // host that processes before binding meets a defined state. Makes no host call.
    Module(HostCallback hostCallback, void *hostData);
    ~Module() override;

    // Re-reads the Active input at any plug's state change: a running instance re-selects its
    // routine; one whose Active input reads 0 winds down towards a sleep request.
    int32_t onPlugStateChange(SEPin *pin) override;
    // Installs the selected routine, resets the oscillator from the sample rate, creates the
    // pins and announces the four outputs as running.
    void open() override;
    // The plug table; false, with the record untouched, for any number outside 0 to 19.
    bool describePlug(int32_t number, PlugDescription *description) override;

    // Stores the three identity texts' addresses for getModuleProperties; touches nothing else.
    static bool fillProperties(ModuleProperties *properties);

    // The routine for the current Shape and modulation settings.
    ProcessRoutine selectRoutine() const;
    // Installed while the Active input reads 0: runs the selected routine, counts the block
    // size down and asks the host to sleep once it has run out (and at every block after).
    static int32_t SE_ABI processUntilSleep(void *object, int32_t blockOffset, int32_t sampleCount);

    // --- what the sample loops use ---------------------------------------------------------

    // The running part of the oscillator state, for a block's locals, and back.
    fourwave::dsp::Oscillator loadOscillator() const {
        return fourwave::dsp::Oscillator{phase,        lastPitch, phaseIncrement, invSampleRate,
                                         maxFrequency, freqScale, syncArmed};
    }
    void storeOscillator(const fourwave::dsp::Oscillator &oscillator) {
        phase = oscillator.phase;
        lastPitch = oscillator.lastPitch;
        phaseIncrement = oscillator.phaseIncrement;
        syncArmed = oscillator.syncArmed;
    }
    // Whether the host has bound every audio plug; a block before that is skipped.
    bool buffersBound() const;
    // The buffer addresses the frame reads and writes, as the host has bound them.
    fourwave::dsp::FrameBuffers frameBuffers() const;

    // --- state, in declared order ----------------------------------------------------------
    // The host writes the settings' choice numbers and the audio plugs' buffer addresses into
    // these members through the plug descriptions; the module only reads them.
    int16_t freqScale;    // plug 19: 0 1 V/oct, otherwise 1 V/kHz
    int16_t fmMode;       // plug 12: 0 Disable, 1 Enable, 2 Half
    int16_t pmMode;       // plug 13: 0 Disable, 1 Enable
    float phase;          // cycles, nominally [0, 1)
    float lastPitch;      // pitch value phaseIncrement was computed from
    float phaseIncrement; // cycles per sample
    float invSampleRate;  // seconds per sample
    float maxFrequency;   // Hz: a quarter of the sample rate
    const float *pitchIn;
    float *pulseOut;
    float *rampOut;
    float *sawOut;
    float *triangleOut;
    const float *pulseLevelIn;
    const float *rampLevelIn;
    const float *sawLevelIn;
    const float *triangleLevelIn;
    const float *widthIn;
    const float *syncIn;
    const float *syncThresholdIn;
    const float *syncAdvanceIn;
    const float *phaseIn;
    int16_t shape; // plug 14: 0 Perfect ... 4 Dark; other values Dark
    const float *activeIn;
    const float *phaseModIn;
    bool syncArmed;
    int32_t sleepCountdown; // samples left before the sleep request
    float lastPulseSign;    // Perfect 2's memories, zeroed by open and while winding down
    float lastRampValue;
};
