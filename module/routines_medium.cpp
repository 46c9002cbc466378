// Shape Medium's two process routines.
#include "routine_block.h"
#include "routines.h"

namespace fourwave {

int32_t SE_ABI processMedium(void *o, int32_t b, int32_t n) {
    return processPlain<dsp::MediumShape>(o, b, n);
}
int32_t SE_ABI processMediumMod(void *o, int32_t b, int32_t n) {
    return processModulated<dsp::MediumShape>(o, b, n);
}

} // namespace fourwave
