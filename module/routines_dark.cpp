// Shape Dark's two process routines.
#include "routine_block.h"
#include "routines.h"

namespace fourwave {

int32_t SE_ABI processDark(void *o, int32_t b, int32_t n) {
    return processPlain<dsp::DarkShape>(o, b, n);
}
int32_t SE_ABI processDarkMod(void *o, int32_t b, int32_t n) {
    return processModulated<dsp::DarkShape>(o, b, n);
}

} // namespace fourwave
