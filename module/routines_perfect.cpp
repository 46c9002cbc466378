// Shape Perfect's two process routines.
#include "routine_block.h"
#include "routines.h"

namespace fourwave {

int32_t SE_ABI processPerfect(void *o, int32_t b, int32_t n) {
    return processPlain<dsp::PerfectShape>(o, b, n);
}
int32_t SE_ABI processPerfectMod(void *o, int32_t b, int32_t n) {
    return processModulated<dsp::PerfectShape>(o, b, n);
}

} // namespace fourwave
