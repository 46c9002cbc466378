// WAV writing through libsndfile, with the temporary-file-and-rename discipline.
#include "wav_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"

namespace fourwave::apps {

namespace {

// Temporary files still open, for the interrupt handler: fixed storage, no allocation there.
constexpr int kMaxOpenFiles = 8;
constexpr size_t kMaxPathBytes = 4096;
char pendingPaths[kMaxOpenFiles][kMaxPathBytes];
volatile sig_atomic_t pendingUsed[kMaxOpenFiles];

extern "C" void removePendingAndExit(int signalNumber) {
    for (int i = 0; i < kMaxOpenFiles; ++i)
        if (pendingUsed[i]) unlink(pendingPaths[i]);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

int rememberPending(const std::string &path) {
    static bool handlersInstalled = false;
    if (!handlersInstalled) {
        signal(SIGINT, removePendingAndExit);
        signal(SIGTERM, removePendingAndExit);
        signal(SIGHUP, removePendingAndExit);
        handlersInstalled = true;
    }
    if (path.size() >= kMaxPathBytes) return -1;
    for (int i = 0; i < kMaxOpenFiles; ++i) {
        if (pendingUsed[i]) continue;
        std::memcpy(pendingPaths[i], path.c_str(), path.size() + 1);
        pendingUsed[i] = 1;
        return i;
    }
    return -1;
}

void forgetPending(int slot) {
    if (slot >= 0) pendingUsed[slot] = 0;
}

std::string folderOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

WavWriter::WavWriter(const std::string &path, int channels, int32_t sampleRateHz) : path_(path) {
    const std::string folder = folderOf(path);
    std::string pattern = folder + "/." + baseNameOf(path) + ".XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        throw UsageError(path + ": cannot write in the folder '" + folder +
                         "': " + std::strerror(errno));
    temporaryPath_ = pattern;
    slot_ = rememberPending(temporaryPath_);
    // mkstemp makes the file private; an audio file is as readable as any other the user makes.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    SF_INFO info = {};
    info.samplerate = sampleRateHz;
    info.channels = channels;
    // WAVE_FORMAT_EXTENSIBLE, as a file of samples wider than 16 bits should be.
    info.format = SF_FORMAT_WAVEX | SF_FORMAT_FLOAT;
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file_ == nullptr) {
        const std::string reason = sf_strerror(nullptr);
        close(fd);
        discard();
        throw RunError(path + ": cannot start the WAV file: " + reason);
    }
}

WavWriter::~WavWriter() { discard(); }

void WavWriter::write(const float *interleaved, int64_t frames) {
    if (sf_writef_float(file_, interleaved, frames) != frames)
        throw RunError(path_ + ": write failed: " + sf_strerror(file_));
}

void WavWriter::commit() {
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) throw RunError(path_ + ": cannot finish the WAV file");
    if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0)
        throw RunError(path_ +
                       ": cannot move the finished file into place: " + std::strerror(errno));
    forgetPending(slot_);
    slot_ = -1;
    temporaryPath_.clear();
}

void WavWriter::discard() {
    if (file_ != nullptr) {
        sf_close(file_);
        file_ = nullptr;
    }
    if (!temporaryPath_.empty()) {
        unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
    }
    forgetPending(slot_);
    slot_ = -1;
}

} // namespace fourwave::apps
