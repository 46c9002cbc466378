// MIDI notes as the module's Pitch and Active inputs, and the gain of a main output that
// starts and ends every sound without a click. Plain floats and bytes: it knows nothing of any
// plug-in format; the host driving loop (driver.h) plays it, as the LV2 instrument does.
//
//   - Mono, last-note priority: a note sets the pitch; releasing it returns to the latest
//     note still held, without a new attack; the pitch stays at the last note when all are
//     released.
//   - Pitch: the Pitch control is the pitch of note 69 (A4). At 1 V per octave a note plays
//     at Pitch + (note - 69 + bend x range) / 12 V, so at the default 5 V note 69 is 440 Hz;
//     at 1 V per kHz the note scales it instead: Pitch x 2^((note - 69 + bend x range) / 12).
//     Before the first note the oscillator plays at Pitch itself.
//   - The gate: open while a note is held, or always while `drone` is set (the instrument's
//     Active control above 0 V). When it should close, the main output's gain falls to 0 over
//     the fade and the gate closes only then, kFadeSeconds after the release; a gate that
//     opens lets the gain rise over the same fade. The gain is a smoothstep,
//     x^2 (3 - 2x) with x = step / fade frames, and exactly 1 in between.
//   - Pitch bend: 14 bits, 8192 the centre, times the bend range in semitones either way.
//     All notes off (CC 123, and the mode messages 124-127) and all sound off (CC 120)
//     release every note; reset all controllers (CC 121) centres the bend. Every channel is
//     heard (omni); velocity is not used.
//
// The owner applies each MIDI message at its frame between render calls, so that every
// event takes effect at its own sample.
#pragma once

#include <stdint.h>

namespace fourwave::host {

class NotePlayer {
public:
    static constexpr double kFadeSeconds = 0.005;
    static constexpr int kCentreNote = 69;
    static constexpr float kOpenGate = 1.0f; // the Active input while the gate is open (10 V)

    struct Controls {
        float pitchVolts = 5.0f; // the pitch of note 69
        bool kiloHertz = false;  // Freq Scale is 1 V per kHz
        float bendRangeSemitones = 2.0f;
        bool drone = false; // sound without a note
    };

    explicit NotePlayer(double sampleRate);

    // No note held, the bend centred, the pitch back to note 69, silent.
    void reset();
    void setControls(const Controls &controls);
    // One whole MIDI message (status byte first); anything else is ignored.
    void midi(const uint8_t *message, uint32_t size);

    // The next `count` frames: Pitch and Active on the module's scale (1.0 = 10 V), and the
    // main output's gain.
    void render(float *pitch, float *active, float *gain, int32_t count);

    int32_t fadeFrames() const { return fadeFrames_; }
    // The main output's gain at a step of the fade (0 .. fadeFrames).
    float gainAt(int32_t step) const;
    bool gateWanted() const { return heldCount_ > 0 || controls_.drone; }

private:
    void press(uint8_t note);
    void release(uint8_t note);
    void updatePitch();

    int32_t fadeFrames_;
    Controls controls_;
    uint8_t held_[128] = {}; // held notes, oldest first
    int heldCount_ = 0;
    int note_ = kCentreNote; // the note the pitch follows
    double bend_ = 0.0;      // -1 .. 1
    float pitchPlug_ = 0.5f;
    int32_t step_ = 0; // the fade's step: 0 silent, fadeFrames_ fully open
};

} // namespace fourwave::host
