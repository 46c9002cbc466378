// MIDI notes as Pitch, Active and a main output's gain (note_player.h).
#include "note_player.h"

#include <algorithm>
#include <cmath>

#include "sdk/host_scale.h"

namespace fourwave::host {

namespace {

constexpr uint8_t kNoteOff = 0x80, kNoteOn = 0x90, kControlChange = 0xB0, kPitchBend = 0xE0;
constexpr uint8_t kAllSoundOff = 120, kResetControllers = 121, kAllNotesOff = 123;
constexpr int kBendCentre = 8192;

} // namespace

NotePlayer::NotePlayer(double sampleRate)
    : fadeFrames_(
          std::max<int32_t>(1, static_cast<int32_t>(std::lround(sampleRate * kFadeSeconds)))) {
    updatePitch();
}

void NotePlayer::reset() {
    heldCount_ = 0;
    note_ = kCentreNote;
    bend_ = 0.0;
    step_ = 0;
    updatePitch();
}

void NotePlayer::setControls(const Controls &controls) {
    const bool pitchChanged = controls.pitchVolts != controls_.pitchVolts ||
                              controls.kiloHertz != controls_.kiloHertz ||
                              controls.bendRangeSemitones != controls_.bendRangeSemitones;
    controls_ = controls;
    if (pitchChanged) updatePitch();
}

void NotePlayer::midi(const uint8_t *message, uint32_t size) {
    if (size < 3) return; // every message used here has two data bytes
    const uint8_t status = message[0] & 0xF0;
    const uint8_t first = message[1] & 0x7F, second = message[2] & 0x7F;
    switch (status) {
    case kNoteOn:
        if (second != 0) {
            press(first);
            break;
        }
        [[fallthrough]]; // velocity 0 is a release
    case kNoteOff: release(first); break;
    case kPitchBend:
        bend_ = static_cast<double>((second << 7 | first) - kBendCentre) / kBendCentre;
        updatePitch();
        break;
    case kControlChange:
        if (first == kAllSoundOff || first >= kAllNotesOff) heldCount_ = 0;
        if (first == kResetControllers) {
            bend_ = 0.0;
            updatePitch();
        }
        break;
    default: break;
    }
}

void NotePlayer::press(uint8_t note) {
    // A note pressed again moves to the top of the list.
    heldCount_ = static_cast<int>(std::remove(held_, held_ + heldCount_, note) - held_);
    held_[heldCount_++] = note;
    note_ = note;
    updatePitch();
}

void NotePlayer::release(uint8_t note) {
    heldCount_ = static_cast<int>(std::remove(held_, held_ + heldCount_, note) - held_);
    // The sounding note is always the latest held: releasing it returns to the one before.
    if (note == note_ && heldCount_ > 0) {
        note_ = held_[heldCount_ - 1];
        updatePitch();
    }
}

void NotePlayer::updatePitch() {
    const double semitones = (note_ - kCentreNote) + bend_ * controls_.bendRangeSemitones;
    const double pitch = controls_.pitchVolts;
    const double volts =
        controls_.kiloHertz ? pitch * std::exp2(semitones / 12.0) : pitch + semitones / 12.0;
    pitchPlug_ = static_cast<float>(volts / static_cast<double>(kVoltsPerUnit));
}

float NotePlayer::gainAt(int32_t step) const {
    if (step >= fadeFrames_) return 1.0f;
    const float x = static_cast<float>(step) / static_cast<float>(fadeFrames_);
    return x * x * (3.0f - 2.0f * x);
}

void NotePlayer::render(float *pitch, float *active, float *gain, int32_t count) {
    std::fill(pitch, pitch + count, pitchPlug_);
    const bool wanted = gateWanted();
    int32_t i = 0;
    // The fade, sample by sample: the gate stays open through the last step of a fade-out.
    for (; i < count && (wanted ? step_ < fadeFrames_ : step_ > 0); ++i) {
        active[i] = kOpenGate;
        step_ += wanted ? 1 : -1;
        gain[i] = gainAt(step_);
    }
    std::fill(active + i, active + count, wanted ? kOpenGate : 0.0f);
    std::fill(gain + i, gain + count, wanted ? 1.0f : 0.0f);
}

} // namespace fourwave::host
