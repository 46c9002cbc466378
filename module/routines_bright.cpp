// Shape Bright's two process routines.
#include "routine_block.h"
#include "routines.h"

namespace fourwave {

int32_t SE_ABI processBright(void *o, int32_t b, int32_t n) {
    return processPlain<dsp::BrightShape>(o, b, n);
}
int32_t SE_ABI processBrightMod(void *o, int32_t b, int32_t n) {
    return processModulated<dsp::BrightShape>(o, b, n);
}

} // namespace fourwave
