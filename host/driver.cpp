// The host driving loop (driver.h).
#include "driver.h"

namespace fourwave::host {

void Driver::start(const Start &how) {
    active_ = host_.buffer(ACTIVE_INPUT);
    pitch_ = host_.buffer(PITCH_INPUT);
    for (int c = 0; c < kOutputCount; ++c) outputs_[c] = host_.buffer(kPanelOutputs[c]);
    how_ = how;
    started_ = false;
    asleep_ = false;
    frame_ = 0;
    pendingCount_ = 0;
    sleepRequestsSeen_ = host_.sleepRequests();
}

void Driver::setSetting(int32_t plug, int16_t choice) {
    host_.setChoice(plug, choice);
    if (plug == FM_MODE_SETTING) fmDisabled_ = choice == FM_DISABLE;
    if (!started_) return;
    if (std::find(pendingSettings_, pendingSettings_ + pendingCount_, plug) ==
        pendingSettings_ + pendingCount_)
        pendingSettings_[pendingCount_++] = plug;
}

bool Driver::runBlock(int32_t count) {
    if (!failure_.empty()) return false;
    for (int i = 0; i < pendingCount_; ++i) {
        host_.sendPlugState(pendingSettings_[i], STATE_STATIC, 0);
        asleep_ = false;
    }
    pendingCount_ = 0;

    const bool pitchSteps = how_.notePitch && fmDisabled_;
    int32_t begin = 0;
    for (int32_t j = 0; j < count; ++j) {
        if (!started_ || (how_.activeSteps && active_[j] != previousActive_)) {
            runSpan(begin, j);
            host_.sendPlugState(ACTIVE_INPUT, started_ ? STATE_ONE_OFF : how_.firstActiveState, j);
            asleep_ = false;
            started_ = true;
            begin = j;
        } else if (pitchSteps && pitch_[j] != previousPitch_) {
            runSpan(begin, j);
            begin = j;
        }
        previousActive_ = active_[j];
        previousPitch_ = pitch_[j];
    }
    runSpan(begin, count);
    if (!failure_.empty()) return false;
    frame_ += count;
    return true;
}

// One process call over [begin, end) of the host's buffers, or the held outputs while the
// instance sleeps.
void Driver::runSpan(int32_t begin, int32_t end) {
    if (end <= begin || !failure_.empty()) return;
    if (asleep_) {
        for (int c = 0; c < kOutputCount; ++c)
            std::fill(outputs_[c] + begin, outputs_[c] + end, held_[c]);
        return;
    }
    host_.process(begin, end - begin);
    ++processCalls_;
    if (!host_.violations().empty()) {
        failure_ = "the plug-in broke the host's block checks at frame " +
                   std::to_string(frame_ + begin) + ": " + host_.violations().front();
        return;
    }
    if (host_.sleepRequests() > sleepRequestsSeen_) {
        sleepRequestsSeen_ = host_.sleepRequests();
        asleep_ = true;
        if (sleepFrames_ != nullptr) sleepFrames_->push_back(frame_ + end);
        for (int c = 0; c < kOutputCount; ++c) held_[c] = outputs_[c][end - 1];
    }
}

} // namespace fourwave::host
