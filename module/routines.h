// The ten process routines, one plain and one modulation routine per shape, and the table that
// selects among them. Each is a plain function of the ProcessRoutine form.
#pragma once

#include <stdint.h>

#include "sdk/abi.h"

namespace fourwave {

int32_t SE_ABI processPerfect(void *object, int32_t blockOffset, int32_t sampleCount);
int32_t SE_ABI processPerfectMod(void *object, int32_t blockOffset, int32_t sampleCount);
int32_t SE_ABI processPerfect2(void *object, int32_t blockOffset, int32_t sampleCount);
int32_t SE_ABI processPerfect2Mod(void *object, int32_t blockOffset, int32_t sampleCount);
int32_t SE_ABI processBright(void *object, int32_t blockOffset, int32_t sampleCount);
int32_t SE_ABI processBrightMod(void *object, int32_t blockOffset, int32_t sampleCount);
int32_t SE_ABI processMedium(void *object, int32_t blockOffset, int32_t sampleCount);
int32_t SE_ABI processMediumMod(void *object, int32_t blockOffset, int32_t sampleCount);
int32_t SE_ABI processDark(void *object, int32_t blockOffset, int32_t sampleCount);
int32_t SE_ABI processDarkMod(void *object, int32_t blockOffset, int32_t sampleCount);

// The routine for a Shape choice (any value outside 0 to 3 is Dark) and whether either
// modulation setting is on.
ProcessRoutine routineFor(int16_t shape, bool modulated);

} // namespace fourwave
