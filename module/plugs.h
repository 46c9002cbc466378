// The module's plug numbers. They are the pin numbers the host wires patches by and saves in
// them: never renumber one.
#pragma once

#include <stdint.h>

namespace fourwave {

enum Plug : int32_t {
    PITCH_INPUT = 0,
    WIDTH_INPUT = 1,
    SYNC_INPUT = 2,
    PHASE_INPUT = 3,
    PHASE_MOD_INPUT = 4,
    RAMP_LEVEL_INPUT = 5,
    SAW_LEVEL_INPUT = 6,
    PULSE_LEVEL_INPUT = 7,
    TRIANGLE_LEVEL_INPUT = 8,
    SYNC_THRESHOLD_INPUT = 9,
    SYNC_ADVANCE_INPUT = 10,
    ACTIVE_INPUT = 11,
    FM_MODE_SETTING = 12,
    PM_MODE_SETTING = 13,
    SHAPE_SETTING = 14,
    RAMP_OUTPUT = 15,
    SAW_OUTPUT = 16,
    PULSE_OUTPUT = 17,
    TRIANGLE_OUTPUT = 18,
    FREQ_SCALE_SETTING = 19,
    NUM_PLUGS = 20
};

// Choice numbers of the settings.
enum ShapeChoice : int16_t {
    SHAPE_PERFECT = 0,
    SHAPE_PERFECT2 = 1,
    SHAPE_BRIGHT = 2,
    SHAPE_MEDIUM = 3,
    SHAPE_DARK = 4
};
enum FmModeChoice : int16_t { FM_DISABLE = 0, FM_ENABLE = 1, FM_HALF = 2 };
enum PmModeChoice : int16_t { PM_DISABLE = 0, PM_ENABLE = 1 };
enum FreqScaleChoice : int16_t { FREQ_SCALE_VOLT_PER_OCTAVE = 0, FREQ_SCALE_VOLT_PER_KHZ = 1 };

// Plug values are on the host's scale: 1.0 stands for 10 volts.
constexpr float kVoltsPerUnit = 10.0f;

} // namespace fourwave
