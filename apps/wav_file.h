// 32-bit float WAV files written whole or not at all: the samples go to a temporary file in
// the target's folder, which is renamed onto the target only by commit(). A writer destroyed
// without commit() removes its temporary file, and so does an interrupt (SIGINT, SIGTERM).
#pragma once

#include <stdint.h>

#include <string>

#include <sndfile.h>

namespace fourwave::apps {

class WavWriter {
public:
    // Throws UsageError (the folder does not exist or is not writable).
    WavWriter(const std::string &path, int channels, int32_t sampleRateHz);
    ~WavWriter();
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    // `frames` interleaved frames. Throws RunError on a write failure.
    void write(const float *interleaved, int64_t frames);
    // Closes the file and moves it onto the target. Throws RunError.
    void commit();

    const std::string &path() const { return path_; }

private:
    void discard();
    std::string path_;
    std::string temporaryPath_;
    SNDFILE *file_ = nullptr;
    int slot_ = -1; // in the interrupt handler's list
};

} // namespace fourwave::apps
