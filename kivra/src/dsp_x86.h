// Helpers shared by the SSE2 and SSSE3 kernels.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace kivra {

// Eight 4:2:2 chroma samples of Cb and Cr widened to sixteen 4:4:4 ones: even
// outputs copy, odd ones average with the next sample; at the end of a row
// (last) the samples are doubled.
inline void widenChroma16(const uint8_t* cb, const uint8_t* cr, bool last, __m128i& u, __m128i& v) {
    const __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb));
    const __m128i d = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr));
    if (!last) {
        u = _mm_unpacklo_epi8(c, _mm_avg_epu8(c, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + 1))));
        v = _mm_unpacklo_epi8(d, _mm_avg_epu8(d, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + 1))));
    } else {
        u = _mm_unpacklo_epi8(c, c);
        v = _mm_unpacklo_epi8(d, d);
    }
}

}  // namespace kivra
