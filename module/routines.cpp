// The ten instantiations of the frame, under their names, and the selection table.
#include "routines.h"

#include "frame.h"

namespace fourwave {

using namespace dsp;

int32_t SE_ABI processPerfect(void *o, int32_t b, int32_t n) { return processPlain<PerfectShape>(o, b, n); }
int32_t SE_ABI processPerfectMod(void *o, int32_t b, int32_t n) { return processModulated<PerfectShape>(o, b, n); }
int32_t SE_ABI processPerfect2(void *o, int32_t b, int32_t n) { return processPlain<Perfect2Shape>(o, b, n); }
int32_t SE_ABI processPerfect2Mod(void *o, int32_t b, int32_t n) { return processModulated<Perfect2Shape>(o, b, n); }
int32_t SE_ABI processBright(void *o, int32_t b, int32_t n) { return processPlain<BrightShape>(o, b, n); }
int32_t SE_ABI processBrightMod(void *o, int32_t b, int32_t n) { return processModulated<BrightShape>(o, b, n); }
int32_t SE_ABI processMedium(void *o, int32_t b, int32_t n) { return processPlain<MediumShape>(o, b, n); }
int32_t SE_ABI processMediumMod(void *o, int32_t b, int32_t n) { return processModulated<MediumShape>(o, b, n); }
int32_t SE_ABI processDark(void *o, int32_t b, int32_t n) { return processPlain<DarkShape>(o, b, n); }
int32_t SE_ABI processDarkMod(void *o, int32_t b, int32_t n) { return processModulated<DarkShape>(o, b, n); }

namespace {

constexpr int kShapeCount = 5;
// [shape][modulated]
constexpr ProcessRoutine kRoutines[kShapeCount][2] = {
    {processPerfect, processPerfectMod},
    {processPerfect2, processPerfect2Mod},
    {processBright, processBrightMod},
    {processMedium, processMediumMod},
    {processDark, processDarkMod},
};

} // namespace

ProcessRoutine routineFor(int16_t shape, bool modulated) {
    const int row = shape >= SHAPE_PERFECT && shape < SHAPE_DARK ? int{shape} : int{SHAPE_DARK};
    return kRoutines[row][modulated ? 1 : 0];
}

} // namespace fourwave
