// The ten process routines in one table, for the tests and the benchmark alike: each row's
// name, its Shape choice, whether it is the modulation routine, and the routine the module
// must install for that pair. `RoutinePairs` lists the same ten as types (the frame's shape
// policy and the modulation flag), in the table's order, for typed tests of the frame.
// A plain header: no test framework.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "module/dsp/shapes.h"
#include "module/plugs.h"
#include "module/routines.h"

namespace fourwave::test {

struct RoutineRow {
    const char *name;       // the routine's name
    int16_t shape;          // its Shape choice
    bool modulated;         // the modulation routine of that shape
    ProcessRoutine routine; // what the module installs for that shape and setting
};

inline const RoutineRow kRoutineTable[] = {
    {"processPerfect", SHAPE_PERFECT, false, processPerfect},
    {"processPerfectMod", SHAPE_PERFECT, true, processPerfectMod},
    {"processPerfect2", SHAPE_PERFECT2, false, processPerfect2},
    {"processPerfect2Mod", SHAPE_PERFECT2, true, processPerfect2Mod},
    {"processBright", SHAPE_BRIGHT, false, processBright},
    {"processBrightMod", SHAPE_BRIGHT, true, processBrightMod},
    {"processMedium", SHAPE_MEDIUM, false, processMedium},
    {"processMediumMod", SHAPE_MEDIUM, true, processMediumMod},
    {"processDark", SHAPE_DARK, false, processDark},
    {"processDarkMod", SHAPE_DARK, true, processDarkMod},
};
constexpr size_t kRoutineCount = sizeof kRoutineTable / sizeof kRoutineTable[0];

// Row `Row` of the table as types: the shape policy the routine runs and whether it is the
// modulation routine.
template <size_t Row, class ShapePolicy, bool Modulated>
struct RoutinePair {
    static constexpr size_t kRow = Row;
    using Shape = ShapePolicy;
    static constexpr bool kModulated = Modulated;
    static const RoutineRow &row() { return kRoutineTable[Row]; }
};

// The ten pairs as the arguments of a type list template, e.g. RoutinePairs<::testing::Types>.
template <template <class...> class List>
using RoutinePairs =
    List<RoutinePair<0, dsp::PerfectShape, false>, RoutinePair<1, dsp::PerfectShape, true>,
         RoutinePair<2, dsp::Perfect2Shape, false>, RoutinePair<3, dsp::Perfect2Shape, true>,
         RoutinePair<4, dsp::BrightShape, false>, RoutinePair<5, dsp::BrightShape, true>,
         RoutinePair<6, dsp::MediumShape, false>, RoutinePair<7, dsp::MediumShape, true>,
         RoutinePair<8, dsp::DarkShape, false>, RoutinePair<9, dsp::DarkShape, true>>;

// The five modulation routines' pairs alone.
template <template <class...> class List>
using ModulationPairs =
    List<RoutinePair<1, dsp::PerfectShape, true>, RoutinePair<3, dsp::Perfect2Shape, true>,
         RoutinePair<5, dsp::BrightShape, true>, RoutinePair<7, dsp::MediumShape, true>,
         RoutinePair<9, dsp::DarkShape, true>>;

} // namespace fourwave::test
