// The core on its own: built with nothing but this folder on the include path (see
// module/CMakeLists.txt), so that an include of module/ or sdk/ from here breaks the build.
// Every shape's frame is instantiated with the simplest Active source there is.
#include "frame.h"

namespace fourwave::dsp {
namespace {

struct AlwaysActive {
    float read(int32_t) const { return 1.0f; }
};

template <class Shape>
void instantiate(const FrameBuffers &b, FrameState &s, AlwaysActive &a) {
    runFrame<Shape, NoModulation>(b, s, a, 0, 0);
    runFrame<Shape, Modulation<FollowPitch::EverySample, true>>(b, s, a, 0, 0);
    runFrame<Shape, Modulation<FollowPitch::EveryPair, false>>(b, s, a, 0, 0);
}

} // namespace

// Not called: it only makes the compiler instantiate the frames.
void instantiateStandaloneFrames(const FrameBuffers &b, FrameState &s) {
    AlwaysActive a;
    instantiate<PerfectShape>(b, s, a);
    instantiate<Perfect2Shape>(b, s, a);
    instantiate<BrightShape>(b, s, a);
    instantiate<MediumShape>(b, s, a);
    instantiate<DarkShape>(b, s, a);
}

} // namespace fourwave::dsp
