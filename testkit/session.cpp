#include "session.h"

namespace fourwave::test {

bool createInstance(host::Host &host, const InstanceSettings &settings) {
    if (!host.create()) return false;
    host.setSampleRate(settings.sampleRate);
    host.setBlockSize(settings.blockSize);
    host.setChoice(SHAPE_SETTING, settings.shape);
    host.setChoice(FM_MODE_SETTING, settings.fmMode);
    host.setChoice(PM_MODE_SETTING, settings.pmMode);
    host.setChoice(FREQ_SCALE_SETTING, settings.freqScale);
    return true;
}

void runBlocks(host::Host &host, int32_t frames, const int32_t *blocks, size_t blockCount,
               const BlockStep &fill, const BlockStep &take) {
    size_t next = 0;
    for (int32_t done = 0; done < frames;) {
        int32_t count = blocks[next++ % blockCount];
        if (count > frames - done) count = frames - done;
        if (fill) fill(host, done, count);
        host.run(count);
        if (take) take(host, done, count);
        done += count;
    }
}

} // namespace fourwave::test
