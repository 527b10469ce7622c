// AVX2 overrides: the inverse DCT (below), and the colour conversion, 32
// pixels a step. Every operation of the conversion works within a 128-bit
// lane, so each lane is the SSSE3 kernel's sixteen pixels: the same bytes as
// the C reference.
#include "dsp.h"
#include "dsp_idct_x86.h"
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

// ---------------------------------------------------------------------------
// Inverse DCT: the SSE2 kernel's steps, with the row pass of rows 0-3 and
// 4-7 side by side in the two lanes (the lanes are the SSE2 pass's two
// halves, with their constants), so the transposes and the multiply-adds
// are done once for both.

struct RowConsts256 {
    alignas(32) int16_t v[12][16];
};

constexpr RowConsts256 makeRowConsts256() {
    RowConsts256 c{};
    for (int p = 0; p < 12; ++p)
        for (int k = 0; k < 8; ++k) {
            c.v[p][k] = kRowConsts.v[0][p][k];
            c.v[p][8 + k] = kRowConsts.v[1][p][k];
        }
    return c;
}
constexpr RowConsts256 kRowConsts256 = makeRowConsts256();

KIVRA_INLINE __m256i madd256(__m256i x, int p) {
    return _mm256_madd_epi16(x, _mm256_load_si256(reinterpret_cast<const __m256i*>(kRowConsts256.v[p])));
}

KIVRA_INLINE void idctRegsAvx2(int16_t* block, __m128i r[8]) {
    for (int i = 0; i < 8; ++i) r[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    const __m128i lower = _mm_or_si128(_mm_or_si128(r[4], r[5]), _mm_or_si128(r[6], r[7]));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(lower, _mm_setzero_si128())) == 0xFFFF) {
        idctUpperRows(r);
        return;
    }
    // Rows k and k + 4 in the lanes; the columns of each four rows, as the
    // pairs the row pass multiplies.
    const __m256i A0 = lanes(r[0], r[4]), A1 = lanes(r[1], r[5]), A2 = lanes(r[2], r[6]), A3 = lanes(r[3], r[7]);
    const __m256i a0 = _mm256_unpacklo_epi16(A0, A1), a1 = _mm256_unpackhi_epi16(A0, A1);
    const __m256i a2 = _mm256_unpacklo_epi16(A2, A3), a3 = _mm256_unpackhi_epi16(A2, A3);
    const __m256i c0 = _mm256_unpacklo_epi32(a0, a2), c1 = _mm256_unpackhi_epi32(a0, a2);  // columns 0,1 / 2,3
    const __m256i c2 = _mm256_unpacklo_epi32(a1, a3), c3 = _mm256_unpackhi_epi32(a1, a3);  // columns 4,5 / 6,7
    const __m256i x04 = _mm256_unpacklo_epi16(c0, c2), x26 = _mm256_unpacklo_epi16(c1, c3);
    const __m256i x13 = _mm256_unpackhi_epi16(c0, c1), x57 = _mm256_unpackhi_epi16(c2, c3);
    const __m256i bias =
        _mm256_setr_epi32(kBias[0], kBias[1], kBias[2], kBias[3], kBias[4], kBias[5], kBias[6], kBias[7]);
    const __m256i e0 = _mm256_add_epi32(madd256(x04, 0), bias);
    const __m256i e1 = _mm256_add_epi32(madd256(x04, 1), bias);
    const __m256i f0 = madd256(x26, 2);
    const __m256i f1 = madd256(x26, 3);
    const __m256i s0 = _mm256_add_epi32(e0, f0), s3 = _mm256_sub_epi32(e0, f0);
    const __m256i s1 = _mm256_add_epi32(e1, f1), s2 = _mm256_sub_epi32(e1, f1);
    const __m256i b0 = _mm256_add_epi32(madd256(x13, 4), madd256(x57, 5));
    const __m256i b1 = _mm256_add_epi32(madd256(x13, 6), madd256(x57, 7));
    const __m256i b2 = _mm256_add_epi32(madd256(x13, 8), madd256(x57, 9));
    const __m256i b3 = _mm256_add_epi32(madd256(x13, 10), madd256(x57, 11));
    // Output j of the four rows of each lane, saturated to 16 bits.
    auto out = [](__m256i v) {
        const __m256i s = _mm256_srai_epi32(v, 11);
        return _mm256_packs_epi32(s, s);
    };
    const __m256i X0 = out(_mm256_add_epi32(s0, b0)), X7 = out(_mm256_sub_epi32(s0, b0));
    const __m256i X1 = out(_mm256_add_epi32(s1, b1)), X6 = out(_mm256_sub_epi32(s1, b1));
    const __m256i X2 = out(_mm256_add_epi32(s2, b2)), X5 = out(_mm256_sub_epi32(s2, b2));
    const __m256i X3 = out(_mm256_add_epi32(s3, b3)), X4 = out(_mm256_sub_epi32(s3, b3));
    // Back into rows: lane 0 rows 0-3, lane 1 rows 4-7.
    const __m256i g0 = _mm256_unpacklo_epi16(X0, X1), g2 = _mm256_unpacklo_epi16(X2, X3);
    const __m256i g4 = _mm256_unpacklo_epi16(X4, X5), g6 = _mm256_unpacklo_epi16(X6, X7);
    const __m256i h0 = _mm256_unpacklo_epi32(g0, g2), h1 = _mm256_unpackhi_epi32(g0, g2);
    const __m256i h4 = _mm256_unpacklo_epi32(g4, g6), h5 = _mm256_unpackhi_epi32(g4, g6);
    const __m256i R0 = _mm256_unpacklo_epi64(h0, h4), R1 = _mm256_unpackhi_epi64(h0, h4);
    const __m256i R2 = _mm256_unpacklo_epi64(h1, h5), R3 = _mm256_unpackhi_epi64(h1, h5);
    r[0] = _mm256_castsi256_si128(R0);
    r[4] = _mm256_extracti128_si256(R0, 1);
    r[1] = _mm256_castsi256_si128(R1);
    r[5] = _mm256_extracti128_si256(R1, 1);
    r[2] = _mm256_castsi256_si128(R2);
    r[6] = _mm256_extracti128_si256(R2, 1);
    r[3] = _mm256_castsi256_si128(R3);
    r[7] = _mm256_extracti128_si256(R3, 1);
    colPass<false>(r);
}

KIVRA_INLINE void clearBlockAvx2(int16_t* block) {
    const __m256i z = _mm256_setzero_si256();
    for (int i = 0; i < 4; ++i) _mm256_store_si256(reinterpret_cast<__m256i*>(block + 16 * i), z);
}

void idctAvx2(int16_t* block) {
    __m128i r[8];
    idctRegsAvx2(block, r);
    for (int i = 0; i < 8; ++i) _mm_store_si128(reinterpret_cast<__m128i*>(block + 8 * i), r[i]);
}

void idctPutAvx2(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    __m128i r[8];
    idctRegsAvx2(block, r);
    const __m128i k128 = _mm_set1_epi16(128);
    for (int i = 0; i < 8; ++i, dst += stride) {
        const __m128i v = _mm_adds_epi16(r[i], k128);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
    }
    clearBlockAvx2(block);
}

void idctAddAvx2(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    __m128i r[8];
    idctRegsAvx2(block, r);
    const __m128i z = _mm_setzero_si128();
    for (int i = 0; i < 8; ++i, dst += stride) {
        const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), z);
        const __m128i v = _mm_adds_epi16(r[i], p);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
    }
    clearBlockAvx2(block);
}

}  // namespace

void initDspAvx2(Dsp& d) {
    d.idct = idctAvx2;
    d.idctPut = idctPutAvx2;
    d.idctAdd = idctAddAvx2;
    d.yuvToBgr = yuvToBgrAvx2;
    d.yuv422ToBgr = yuv422ToBgrAvx2;
}

}  // namespace kivra
#endif
