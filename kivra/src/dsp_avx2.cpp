// AVX2 overrides: the colour conversion, 32 pixels a step. Every operation
// works within a 128-bit lane, so each lane is the SSSE3 kernel's sixteen
// pixels: the same bytes as the C reference.
#include "dsp.h"
#include "dsp_x86.h"

#ifdef KIVRA_X86
#include <immintrin.h>

namespace kivra {

namespace {

// Thirty-two pixels: lane 0 the first sixteen, lane 1 the next sixteen.
inline void bgr32(uint8_t* o, __m256i y8, __m256i u8, __m256i v8) {
    const __m256i k16 = _mm256_set1_epi16(16), k128 = _mm256_set1_epi16(128), bias = _mm256_set1_epi32(4096);
    const __m256i cBlue = _mm256_set1_epi32(int32_t(uint32_t(16525) << 16 | 9539));
    const __m256i cRed = _mm256_set1_epi32(int32_t(uint32_t(13075) << 16 | 9539));
    const __m256i cGreen = _mm256_set1_epi32(int32_t(uint32_t(uint16_t(-6660)) << 16 | 9539));
    const __m256i cGreenU = _mm256_set1_epi32(int32_t(uint16_t(-3209)));
    const __m256i z = _mm256_setzero_si256();
    __m256i chan[3][2];
    for (int half = 0; half < 2; ++half) {
        const __m256i ys = half ? _mm256_unpackhi_epi8(y8, z) : _mm256_unpacklo_epi8(y8, z);
        const __m256i us = half ? _mm256_unpackhi_epi8(u8, z) : _mm256_unpacklo_epi8(u8, z);
        const __m256i vs = half ? _mm256_unpackhi_epi8(v8, z) : _mm256_unpacklo_epi8(v8, z);
        const __m256i yy = _mm256_sub_epi16(ys, k16), u = _mm256_sub_epi16(us, k128), v = _mm256_sub_epi16(vs, k128);
        const __m256i yuL = _mm256_unpacklo_epi16(yy, u), yuH = _mm256_unpackhi_epi16(yy, u);
        const __m256i yvL = _mm256_unpacklo_epi16(yy, v), yvH = _mm256_unpackhi_epi16(yy, v);
        const __m256i uzL = _mm256_unpacklo_epi16(u, z), uzH = _mm256_unpackhi_epi16(u, z);
        auto fin = [&](__m256i lo, __m256i hi) {
            return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(lo, bias), 13),
                                      _mm256_srai_epi32(_mm256_add_epi32(hi, bias), 13));
        };
        chan[0][half] = fin(_mm256_madd_epi16(yuL, cBlue), _mm256_madd_epi16(yuH, cBlue));
        chan[1][half] = fin(_mm256_add_epi32(_mm256_madd_epi16(yvL, cGreen), _mm256_madd_epi16(uzL, cGreenU)),
                            _mm256_add_epi32(_mm256_madd_epi16(yvH, cGreen), _mm256_madd_epi16(uzH, cGreenU)));
        chan[2][half] = fin(_mm256_madd_epi16(yvL, cRed), _mm256_madd_epi16(yvH, cRed));
    }
    const __m256i b = _mm256_packus_epi16(chan[0][0], chan[0][1]);
    const __m256i g = _mm256_packus_epi16(chan[1][0], chan[1][1]);
    const __m256i r = _mm256_packus_epi16(chan[2][0], chan[2][1]);
    const __m256i bgL = _mm256_unpacklo_epi8(b, g), bgH = _mm256_unpackhi_epi8(b, g);
    const __m256i rzL = _mm256_unpacklo_epi8(r, z), rzH = _mm256_unpackhi_epi8(r, z);
    const __m256i compact = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6,
                                             8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i p0 = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(bgL, rzL), compact);
    const __m256i p1 = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(bgL, rzL), compact);
    const __m256i p2 = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(bgH, rzH), compact);
    const __m256i p3 = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(bgH, rzH), compact);
    const __m256i o0 = _mm256_or_si256(p0, _mm256_slli_si256(p1, 12));
    const __m256i o1 = _mm256_or_si256(_mm256_srli_si256(p1, 4), _mm256_slli_si256(p2, 8));
    const __m256i o2 = _mm256_or_si256(_mm256_srli_si256(p2, 8), _mm256_slli_si256(p3, 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(o0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm256_castsi256_si128(o1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32), _mm256_castsi256_si128(o2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 48), _mm256_extracti128_si256(o0, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 64), _mm256_extracti128_si256(o1, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 80), _mm256_extracti128_si256(o2, 1));
}

inline __m256i lanes(__m128i lo, __m128i hi) { return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1); }

void yuvToBgrAvx2(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w) {
    if (w % 16 != 0) return yuvToBgrC(bgr, y, cb, cr, w);
    int x = 0;
    for (; x + 32 <= w; x += 32)
        bgr32(bgr + 3 * x, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x)),
              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cb + x)),
              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cr + x)));
    if (x < w) yuvToBgrSsse3(bgr + 3 * x, y + x, cb + x, cr + x, w - x);
}

void yuv422ToBgrAvx2(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w) {
    if (w % 16 != 0 || w < 32) return yuv422ToBgrSsse3(bgr, y, cb, cr, w);
    int x = 0;
    for (; x + 32 <= w; x += 32) {
        __m128i u0, v0, u1, v1;
        widenChroma16(cb + x / 2, cr + x / 2, false, u0, v0);
        widenChroma16(cb + x / 2 + 8, cr + x / 2 + 8, x + 32 >= w, u1, v1);
        bgr32(bgr + 3 * x, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x)), lanes(u0, u1), lanes(v0, v1));
    }
    // The last sixteen pixels (the chroma samples doubled).
    if (x < w) yuv422ToBgrSsse3(bgr + 3 * x, y + x, cb + x / 2, cr + x / 2, w - x);
}

}  // namespace

void initDspAvx2(Dsp& d) {
    d.yuvToBgr = yuvToBgrAvx2;
    d.yuv422ToBgr = yuv422ToBgrAvx2;
}

}  // namespace kivra
#endif
