// Shape Perfect 2's two process routines.
#include "routine_block.h"
#include "routines.h"

namespace fourwave {

int32_t SE_ABI processPerfect2(void *o, int32_t b, int32_t n) {
    return processPlain<dsp::Perfect2Shape>(o, b, n);
}
int32_t SE_ABI processPerfect2Mod(void *o, int32_t b, int32_t n) {
    return processModulated<dsp::Perfect2Shape>(o, b, n);
}

} // namespace fourwave
