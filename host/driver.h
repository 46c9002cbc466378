// The one loop by which our hosts run the module block by block, around the stand-in host's
// process calls: the render engine (the CLI and the page) and the LV2 plug-ins alike. The
// caller fills the host's input buffers for a block (from signals, controls, CV ports or notes)
// and hands the block over; the driver does what the host application does around the calls:
//
//   - A changed setting is written into the module at once and announced with a plug-state
//     event at the first sample of the next block, after its inputs are filled, so that the
//     module selects its routine anew with that block's Active in view. Before the first
//     announcement of Active a setting is simply in place.
//   - Active is announced with a plug-state event at the first sample after start(), with the
//     state the caller gives, and then (when the caller says Active moves in steps) at every
//     change of its value, as a one-off step. The call is split there, so that the module reads
//     Active at exactly that sample.
//   - Where Pitch is played from notes (notePitch) and Audio Rate Frequency Modulation is
//     Disable, the module reads Pitch once per call: the call is split at each step of Pitch
//     too, so that a note or a bend takes effect at its own sample.
//   - When the instance asks to sleep it is no longer processed: its outputs hold their last
//     values until the next plug-state event wakes it.
//   - A block check that breaks (hosts with checks on) stops the run; failure() says where.
//
// playNotes fills Pitch and Active from a NotePlayer, each MIDI message at its frame.
//
// runBlock allocates nothing (unless the caller asked for the sleep frames to be kept), takes
// no lock and makes no system call.
#pragma once

#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host.h"
#include "module/plugs.h"
#include "note_player.h"

namespace fourwave::host {

class Driver {
public:
    static constexpr int kOutputCount = static_cast<int>(kPanelOutputs.size());

    // Drives the instance of `host`, once it is created and bound; the outputs in panel order.
    explicit Driver(Host &host) : host_(host) {}

    struct Start {
        int32_t firstActiveState = STATE_ONE_OFF; // announced at the first sample
        bool activeSteps = true;                  // announce every change of Active
        bool notePitch = false;                   // Pitch is played from notes
    };
    // A new run after the instance was created and opened: frame 0, nothing held, Active
    // announced at the next sample.
    void start(const Start &how);

    // A setting's choice: written now, announced at the next block once the run has started.
    void setSetting(int32_t plug, int16_t choice);
    // Whether Active moves in steps from the next block on (a host's patch may change).
    void setActiveSteps(bool steps) { how_.activeSteps = steps; }

    // Frames [0, count) of the host's buffers, whose inputs the caller has filled. False when a
    // block check broke, now or before.
    bool runBlock(int32_t count);

    // Pitch and Active for frames [0, count) from `notes`, and the main output's gain, with each
    // MIDI message of `events` applied at its frame. `events` hands out the messages in order:
    // nextFrame(none) is the next one's frame (`none` when there is none) counted from the
    // caller's frame `from`, which is this block's first; take(&size) returns it (null for an
    // event that is no MIDI message) and moves on. A message out of order or before the block
    // takes effect at once.
    template <class Events>
    void playNotes(NotePlayer &notes, Events &events, int64_t from, int32_t count, float *gain);

    bool asleep() const { return asleep_; }
    int64_t frame() const { return frame_; } // frames run since start(), whole blocks
    int64_t processCalls() const { return processCalls_; }
    const std::string &failure() const { return failure_; }
    // Keeps the frame at which the instance fell asleep (the end of the call), each time.
    void keepSleepFrames(std::vector<int64_t> *frames) { sleepFrames_ = frames; }
    const float *output(int channel) const { return outputs_[channel]; }

private:
    void runSpan(int32_t begin, int32_t end);

    Host &host_;
    float *active_ = nullptr;
    float *pitch_ = nullptr;
    float *outputs_[kOutputCount] = {};
    Start how_;
    bool started_ = false;
    bool asleep_ = false;
    bool fmDisabled_ = true;
    float previousActive_ = 0.0f;
    float previousPitch_ = 0.0f;
    float held_[kOutputCount] = {};
    int64_t frame_ = 0;
    int64_t processCalls_ = 0;
    int64_t sleepRequestsSeen_ = 0;
    std::vector<int64_t> *sleepFrames_ = nullptr;
    int32_t pendingSettings_[NUM_PLUGS] = {};
    int pendingCount_ = 0;
    std::string failure_;
};

template <class Events>
void Driver::playNotes(NotePlayer &notes, Events &events, int64_t from, int32_t count,
                       float *gain) {
    int32_t done = 0;
    const int64_t end = from + count;
    for (int64_t frame; (frame = events.nextFrame(end)) < end;) {
        const int32_t at = static_cast<int32_t>(std::clamp<int64_t>(frame - from, done, count));
        notes.render(pitch_ + done, active_ + done, gain + done, at - done);
        done = at;
        uint32_t size = 0;
        if (const uint8_t *message = events.take(&size)) notes.midi(message, size);
    }
    notes.render(pitch_ + done, active_ + done, gain + done, count - done);
}

} // namespace fourwave::host
