// The table that selects among the ten process routines (each shape's pair is built in
// routines_<shape>.cpp, on the block entry of routine_block.h).
#include "routines.h"

#include "plugs.h"

namespace fourwave {

namespace {

constexpr int kShapeCount = 5;
// [shape][modulated]
constexpr ProcessRoutine kRoutines[kShapeCount][2] = {
    {processPerfect, processPerfectMod}, {processPerfect2, processPerfect2Mod},
    {processBright, processBrightMod},   {processMedium, processMediumMod},
    {processDark, processDarkMod},
};

} // namespace

ProcessRoutine routineFor(int16_t shape, bool modulated) {
    const int row = shape >= SHAPE_PERFECT && shape < SHAPE_DARK ? int{shape} : int{SHAPE_DARK};
    return kRoutines[row][modulated ? 1 : 0];
}

} // namespace fourwave
