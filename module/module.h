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
    // Runs the base constructor; every member below starts at zero (buffers null), so that a
    // host that processes before binding meets a defined state. Makes no host call.
    Module(HostCallback hostCallback, void *hostData) : SEModule_base(hostCallback, hostData) {}
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
    int16_t freqScale = 0;       // plug 19: 0 1 V/oct, otherwise 1 V/kHz
    int16_t fmMode = 0;          // plug 12: 0 Disable, 1 Enable, 2 Half
    int16_t pmMode = 0;          // plug 13: 0 Disable, 1 Enable
    float phase = 0.0f;          // cycles, nominally [0, 1)
    float lastPitch = 0.0f;      // pitch value phaseIncrement was computed from
    float phaseIncrement = 0.0f; // cycles per sample
    float invSampleRate = 0.0f;  // seconds per sample
    float maxFrequency = 0.0f;   // Hz: a quarter of the sample rate
    const float *pitchIn = nullptr;
    float *pulseOut = nullptr;
    float *rampOut = nullptr;
    float *sawOut = nullptr;
    float *triangleOut = nullptr;
    const float *pulseLevelIn = nullptr;
    const float *rampLevelIn = nullptr;
    const float *sawLevelIn = nullptr;
    const float *triangleLevelIn = nullptr;
    const float *widthIn = nullptr;
    const float *syncIn = nullptr;
    const float *syncThresholdIn = nullptr;
    const float *syncAdvanceIn = nullptr;
    const float *phaseIn = nullptr;
    int16_t shape = 0; // plug 14: 0 Perfect ... 4 Dark; other values Dark
    const float *activeIn = nullptr;
    const float *phaseModIn = nullptr;
    bool syncArmed = false;
    int32_t sleepCountdown = 0; // samples left before the sleep request
    float lastPulseSign = 0.0f; // Perfect 2's memories, zeroed by open and while winding down
    float lastRampValue = 0.0f;
};
