// SSSE3 overrides: the colour conversion with byte shuffles for the 24-bit
// packing. Same bytes as the C reference (and the SSE2 kernel).
#include "dsp.h"
#include "dsp_x86.h"

#ifdef KIVRA_X86
#include <tmmintrin.h>

#include <cstring>

namespace kivra {

namespace {

inline __m128i widen(__m128i v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }

// Sixteen pixels (y, and 4:4:4 chroma as bytes) to 48 bytes at o.
inline void bgr16(uint8_t* o, __m128i y8, __m128i u8, __m128i v8, bool lastInRow) {
    const __m128i k16 = _mm_set1_epi16(16), k128 = _mm_set1_epi16(128), bias = _mm_set1_epi32(4096);
    const __m128i cBlue = _mm_setr_epi16(9539, 16525, 9539, 16525, 9539, 16525, 9539, 16525);
    const __m128i cRed = _mm_setr_epi16(9539, 13075, 9539, 13075, 9539, 13075, 9539, 13075);
    const __m128i cGreen = _mm_setr_epi16(9539, -6660, 9539, -6660, 9539, -6660, 9539, -6660);
    const __m128i cGreenU = _mm_setr_epi16(-3209, 0, -3209, 0, -3209, 0, -3209, 0);
    const __m128i z = _mm_setzero_si128();
    __m128i chan[3][2];
    for (int half = 0; half < 2; ++half) {
        const __m128i ys = half ? _mm_unpackhi_epi8(y8, z) : widen(y8);
        const __m128i us = half ? _mm_unpackhi_epi8(u8, z) : widen(u8);
        const __m128i vs = half ? _mm_unpackhi_epi8(v8, z) : widen(v8);
        const __m128i yy = _mm_sub_epi16(ys, k16), u = _mm_sub_epi16(us, k128), v = _mm_sub_epi16(vs, k128);
        const __m128i yuL = _mm_unpacklo_epi16(yy, u), yuH = _mm_unpackhi_epi16(yy, u);
        const __m128i yvL = _mm_unpacklo_epi16(yy, v), yvH = _mm_unpackhi_epi16(yy, v);
        const __m128i uzL = _mm_unpacklo_epi16(u, z), uzH = _mm_unpackhi_epi16(u, z);
        auto fin = [&](__m128i lo, __m128i hi) {
            return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, bias), 13),
                                   _mm_srai_epi32(_mm_add_epi32(hi, bias), 13));
        };
        chan[0][half] = fin(_mm_madd_epi16(yuL, cBlue), _mm_madd_epi16(yuH, cBlue));
        chan[1][half] = fin(_mm_add_epi32(_mm_madd_epi16(yvL, cGreen), _mm_madd_epi16(uzL, cGreenU)),
                            _mm_add_epi32(_mm_madd_epi16(yvH, cGreen), _mm_madd_epi16(uzH, cGreenU)));
        chan[2][half] = fin(_mm_madd_epi16(yvL, cRed), _mm_madd_epi16(yvH, cRed));
    }
    const __m128i b = _mm_packus_epi16(chan[0][0], chan[0][1]);
    const __m128i g = _mm_packus_epi16(chan[1][0], chan[1][1]);
    const __m128i r = _mm_packus_epi16(chan[2][0], chan[2][1]);
    // BGBG... and R0R0... interleaved to BGR0 per pixel, then compacted.
    const __m128i bgL = _mm_unpacklo_epi8(b, g), bgH = _mm_unpackhi_epi8(b, g);
    const __m128i rzL = _mm_unpacklo_epi8(r, z), rzH = _mm_unpackhi_epi8(r, z);
    const __m128i compact = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i p0 = _mm_shuffle_epi8(_mm_unpacklo_epi16(bgL, rzL), compact);
    const __m128i p1 = _mm_shuffle_epi8(_mm_unpackhi_epi16(bgL, rzL), compact);
    const __m128i p2 = _mm_shuffle_epi8(_mm_unpacklo_epi16(bgH, rzH), compact);
    const __m128i p3 = _mm_shuffle_epi8(_mm_unpackhi_epi16(bgH, rzH), compact);
    // 4 x 12 bytes to 3 x 16 bytes.
    const __m128i o0 = _mm_or_si128(p0, _mm_slli_si128(p1, 12));
    const __m128i o1 = _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8));
    const __m128i o2 = _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4));
    (void)lastInRow;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), o0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), o1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32), o2);
}

}  // namespace

void yuvToBgrSsse3(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w) {
    if (w % 16 != 0) return yuvToBgrC(bgr, y, cb, cr, w);
    for (int x = 0; x < w; x += 16)
        bgr16(bgr + 3 * x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)),
              _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x)),
              _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x)), x + 16 == w);
}

void yuv422ToBgrSsse3(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w) {
    if (w % 16 != 0 || w < 16) return yuv422ToBgrC(bgr, y, cb, cr, w);
    for (int x = 0; x < w; x += 16) {
        __m128i u, v;
        widenChroma16(cb + x / 2, cr + x / 2, x + 16 >= w, u, v);
        bgr16(bgr + 3 * x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)), u, v, x + 16 == w);
    }
}

void initDspSsse3(Dsp& d) {
    d.yuvToBgr = yuvToBgrSsse3;
    d.yuv422ToBgr = yuv422ToBgrSsse3;
}

}  // namespace kivra
#endif
