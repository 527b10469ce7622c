// SSE2 kernels; each gives the same bytes as its C reference in dsp_c.cpp.
#include "dsp.h"
#include "dsp_x86.h"

#ifdef KIVRA_X86
#include <emmintrin.h>

#include <cstring>

namespace kivra {

namespace {

// The transform's helpers work on arrays of registers: inlined, the arrays
// stay in registers.
#define KIVRA_INLINE inline __attribute__((always_inline))

// ---------------------------------------------------------------------------
// Inverse DCT

KIVRA_INLINE void transpose8(__m128i r[8]) {
    __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Row constants: for each multiply-add pair, lanes of rows 0-3 and 4-7.
struct RowConsts {
    alignas(16) int16_t v[2][12][8];
};

constexpr int16_t kTab[4][7] = {
    {16384, 21407, 8867, 22725, 19266, 12873, 4520},
    {22725, 29692, 12299, 31521, 26722, 17855, 6270},
    {21407, 27969, 11585, 29692, 25172, 16819, 5906},
    {19266, 25172, 10426, 26722, 22654, 15137, 5315},
};
constexpr int kTabOf[8] = {0, 1, 2, 3, 0, 3, 2, 1};
constexpr int32_t kBias[8] = {65536, 3597, 2260, 1203, 0, 120, 512, 512};

// Pair constants (first, second) per combination, in terms of the table
// entries c4 c2 c6 c1 c3 c5 c7 (indexes 0..6); negative index = negated.
struct PairDef {
    int a, b;
    bool na, nb;
};
constexpr PairDef kPairs[12] = {
    {0, 0, false, false},  // 0: x0x4 -> c4, c4
    {0, 0, false, true},   // 1: x0x4 -> c4, -c4
    {1, 2, false, false},  // 2: x2x6 -> c2, c6
    {2, 1, false, true},   // 3: x2x6 -> c6, -c2
    {3, 4, false, false},  // 4: x1x3 -> c1, c3
    {5, 6, false, false},  // 5: x5x7 -> c5, c7
    {4, 6, false, true},   // 6: x1x3 -> c3, -c7
    {3, 5, true, true},    // 7: x5x7 -> -c1, -c5
    {5, 3, false, true},   // 8: x1x3 -> c5, -c1
    {6, 4, false, false},  // 9: x5x7 -> c7, c3
    {6, 5, false, true},   // 10: x1x3 -> c7, -c5
    {4, 3, false, true},   // 11: x5x7 -> c3, -c1
};

constexpr RowConsts makeRowConsts() {
    RowConsts c{};
    for (int half = 0; half < 2; ++half)
        for (int p = 0; p < 12; ++p)
            for (int r = 0; r < 4; ++r) {
                const int16_t* t = kTab[kTabOf[half * 4 + r]];
                c.v[half][p][2 * r] = int16_t(kPairs[p].na ? -t[kPairs[p].a] : t[kPairs[p].a]);
                c.v[half][p][2 * r + 1] = int16_t(kPairs[p].nb ? -t[kPairs[p].b] : t[kPairs[p].b]);
            }
    return c;
}
constexpr RowConsts kRowConsts = makeRowConsts();

inline __m128i madd(__m128i x, const int16_t* c) {
    return _mm_madd_epi16(x, _mm_load_si128(reinterpret_cast<const __m128i*>(c)));
}

// Row pass over four rows (half 0: rows 0-3, 1: rows 4-7), given
// coefficient pairs (0,4), (2,6), (1,3), (5,7) of those rows interleaved;
// out[j] gets output j of the four rows as 32-bit values.
template <int Half>
KIVRA_INLINE void rowPassHalf(__m128i x04, __m128i x26, __m128i x13, __m128i x57, __m128i out[8]) {
    const auto& c = kRowConsts.v[Half];
    const __m128i bias = _mm_setr_epi32(kBias[Half * 4], kBias[Half * 4 + 1], kBias[Half * 4 + 2], kBias[Half * 4 + 3]);
    const __m128i e0 = _mm_add_epi32(madd(x04, c[0]), bias);
    const __m128i e1 = _mm_add_epi32(madd(x04, c[1]), bias);
    const __m128i f0 = madd(x26, c[2]);
    const __m128i f1 = madd(x26, c[3]);
    const __m128i a0 = _mm_add_epi32(e0, f0);
    const __m128i a3 = _mm_sub_epi32(e0, f0);
    const __m128i a1 = _mm_add_epi32(e1, f1);
    const __m128i a2 = _mm_sub_epi32(e1, f1);
    const __m128i b0 = _mm_add_epi32(madd(x13, c[4]), madd(x57, c[5]));
    const __m128i b1 = _mm_add_epi32(madd(x13, c[6]), madd(x57, c[7]));
    const __m128i b2 = _mm_add_epi32(madd(x13, c[8]), madd(x57, c[9]));
    const __m128i b3 = _mm_add_epi32(madd(x13, c[10]), madd(x57, c[11]));
    out[0] = _mm_srai_epi32(_mm_add_epi32(a0, b0), 11);
    out[7] = _mm_srai_epi32(_mm_sub_epi32(a0, b0), 11);
    out[1] = _mm_srai_epi32(_mm_add_epi32(a1, b1), 11);
    out[6] = _mm_srai_epi32(_mm_sub_epi32(a1, b1), 11);
    out[2] = _mm_srai_epi32(_mm_add_epi32(a2, b2), 11);
    out[5] = _mm_srai_epi32(_mm_sub_epi32(a2, b2), 11);
    out[3] = _mm_srai_epi32(_mm_add_epi32(a3, b3), 11);
    out[4] = _mm_srai_epi32(_mm_sub_epi32(a3, b3), 11);
}

// Row pass over all eight rows: X[j] holds coefficient j of rows 0..7.
KIVRA_INLINE void rowPass(__m128i X[8]) {
    __m128i lo[8], hi[8];
    rowPassHalf<0>(_mm_unpacklo_epi16(X[0], X[4]), _mm_unpacklo_epi16(X[2], X[6]), _mm_unpacklo_epi16(X[1], X[3]),
                   _mm_unpacklo_epi16(X[5], X[7]), lo);
    rowPassHalf<1>(_mm_unpackhi_epi16(X[0], X[4]), _mm_unpackhi_epi16(X[2], X[6]), _mm_unpackhi_epi16(X[1], X[3]),
                   _mm_unpackhi_epi16(X[5], X[7]), hi);
    for (int j = 0; j < 8; ++j) X[j] = _mm_packs_epi32(lo[j], hi[j]);
}

// Column pass: V[k] holds row k of all eight columns. Upper: rows 4-7 are
// zero, and the saturating steps they enter are left out (adding or taking
// away zero, and the product of zero, change nothing).
template <bool Upper>
KIVRA_INLINE void colPass(__m128i V[8]) {
    const __m128i T1 = _mm_set1_epi16(13036), T2 = _mm_set1_epi16(27146), T3 = _mm_set1_epi16(-21746),
                  C4 = _mm_set1_epi16(23170);
    const __m128i x0 = V[0], x1 = V[1], x2 = V[2], x3 = V[3];
    __m128i u17, v17, v35, u35, u26, v26, u04, v04;
    const __m128i t3x3 = _mm_adds_epi16(_mm_mulhi_epi16(x3, T3), x3);
    if constexpr (Upper) {
        u17 = x1;
        v17 = _mm_mulhi_epi16(x1, T1);
        v35 = t3x3;
        u35 = x3;
        u26 = x2;
        v26 = _mm_mulhi_epi16(x2, T2);
        u04 = x0;
        v04 = x0;
    } else {
        const __m128i x4 = V[4], x5 = V[5], x6 = V[6], x7 = V[7];
        u17 = _mm_adds_epi16(x1, _mm_mulhi_epi16(x7, T1));
        v17 = _mm_subs_epi16(_mm_mulhi_epi16(x1, T1), x7);
        const __m128i t3x5 = _mm_adds_epi16(_mm_mulhi_epi16(x5, T3), x5);
        v35 = _mm_subs_epi16(t3x3, x5);
        u35 = _mm_adds_epi16(t3x5, x3);
        u26 = _mm_adds_epi16(_mm_mulhi_epi16(x6, T2), x2);
        v26 = _mm_subs_epi16(_mm_mulhi_epi16(x2, T2), x6);
        u04 = _mm_adds_epi16(x0, x4);
        v04 = _mm_subs_epi16(x0, x4);
    }
    const __m128i b0 = _mm_adds_epi16(u17, u35);
    const __m128i b3 = _mm_subs_epi16(v17, v35);
    const __m128i u12 = _mm_subs_epi16(u17, u35);
    const __m128i v12 = _mm_adds_epi16(v17, v35);
    const __m128i b1h = _mm_mulhi_epi16(_mm_adds_epi16(u12, v12), C4);
    const __m128i b2h = _mm_mulhi_epi16(_mm_subs_epi16(u12, v12), C4);
    const __m128i b1 = _mm_adds_epi16(b1h, b1h);
    const __m128i b2 = _mm_adds_epi16(b2h, b2h);
    const __m128i a0 = _mm_adds_epi16(u04, u26);
    const __m128i a3 = _mm_subs_epi16(u04, u26);
    const __m128i a1 = _mm_adds_epi16(v04, v26);
    const __m128i a2 = _mm_subs_epi16(v04, v26);
    V[0] = _mm_srai_epi16(_mm_adds_epi16(a0, b0), 6);
    V[7] = _mm_srai_epi16(_mm_subs_epi16(a0, b0), 6);
    V[1] = _mm_srai_epi16(_mm_adds_epi16(a1, b1), 6);
    V[6] = _mm_srai_epi16(_mm_subs_epi16(a1, b1), 6);
    V[2] = _mm_srai_epi16(_mm_adds_epi16(a2, b2), 6);
    V[5] = _mm_srai_epi16(_mm_subs_epi16(a2, b2), 6);
    V[3] = _mm_srai_epi16(_mm_adds_epi16(a3, b3), 6);
    V[4] = _mm_srai_epi16(_mm_subs_epi16(a3, b3), 6);
}

// A block whose rows 4-7 are zero (the common case of short non-intra
// blocks): the row pass of those rows gives zero (their bias is below
// 2^11), so only rows 0-3 are transformed and transposed.
KIVRA_INLINE void idctUpperRows(__m128i r[8]) {
    // Coefficient pairs of rows 0-3, as the low halves of the transpose.
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i c0 = _mm_unpacklo_epi32(a0, a2), c1 = _mm_unpackhi_epi32(a0, a2);  // columns 0,1 / 2,3
    const __m128i c2 = _mm_unpacklo_epi32(a1, a3), c3 = _mm_unpackhi_epi32(a1, a3);  // columns 4,5 / 6,7
    const __m128i z = _mm_setzero_si128();
    __m128i out[8];
    // Column j of rows 0-3 sits in the low (even j) or high (odd j) half.
    auto col = [&](__m128i c, bool high) { return high ? _mm_unpackhi_epi64(c, z) : c; };
    rowPassHalf<0>(_mm_unpacklo_epi16(col(c0, false), col(c2, false)),
                   _mm_unpacklo_epi16(col(c1, false), col(c3, false)), _mm_unpacklo_epi16(col(c0, true), col(c1, true)),
                   _mm_unpacklo_epi16(col(c2, true), col(c3, true)), out);
    // out[j]: output j of rows 0-3; transposed back into rows 0-3.
    __m128i X[8];
    for (int j = 0; j < 8; ++j) X[j] = _mm_packs_epi32(out[j], out[j]);
    const __m128i e0 = _mm_unpacklo_epi16(X[0], X[1]), e2 = _mm_unpacklo_epi16(X[2], X[3]);
    const __m128i e4 = _mm_unpacklo_epi16(X[4], X[5]), e6 = _mm_unpacklo_epi16(X[6], X[7]);
    const __m128i f0 = _mm_unpacklo_epi32(e0, e2), f1 = _mm_unpackhi_epi32(e0, e2);
    const __m128i f4 = _mm_unpacklo_epi32(e4, e6), f5 = _mm_unpackhi_epi32(e4, e6);
    r[0] = _mm_unpacklo_epi64(f0, f4);
    r[1] = _mm_unpackhi_epi64(f0, f4);
    r[2] = _mm_unpacklo_epi64(f1, f5);
    r[3] = _mm_unpackhi_epi64(f1, f5);
    colPass<true>(r);
}

KIVRA_INLINE void idctRegs(int16_t* block, __m128i r[8]) {
    for (int i = 0; i < 8; ++i) r[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    const __m128i lower = _mm_or_si128(_mm_or_si128(r[4], r[5]), _mm_or_si128(r[6], r[7]));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(lower, _mm_setzero_si128())) == 0xFFFF) {
        idctUpperRows(r);
        return;
    }
    transpose8(r);
    rowPass(r);
    transpose8(r);
    colPass<false>(r);
}

void idctSse2(int16_t* block) {
    __m128i r[8];
    idctRegs(block, r);
    for (int i = 0; i < 8; ++i) _mm_store_si128(reinterpret_cast<__m128i*>(block + 8 * i), r[i]);
}

void clearBlock(int16_t* block) {
    const __m128i z = _mm_setzero_si128();
    for (int i = 0; i < 8; ++i) _mm_store_si128(reinterpret_cast<__m128i*>(block + 8 * i), z);
}

void idctPutSse2(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    __m128i r[8];
    idctRegs(block, r);
    const __m128i k128 = _mm_set1_epi16(128);
    for (int i = 0; i < 8; ++i, dst += stride) {
        const __m128i v = _mm_adds_epi16(r[i], k128);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
    }
    clearBlock(block);
}

void idctAddSse2(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    __m128i r[8];
    idctRegs(block, r);
    const __m128i z = _mm_setzero_si128();
    for (int i = 0; i < 8; ++i, dst += stride) {
        const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), z);
        const __m128i v = _mm_adds_epi16(r[i], p);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
    }
    clearBlock(block);
}

// A DC-only block: the eight row values of the transform (shared with the C
// reference), each put or added to a row of eight pixels.
void idctPutDcSse2(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    alignas(16) int16_t col[8];
    idctDcColumnC(block, col);
    const __m128i v = _mm_adds_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(col)), _mm_set1_epi16(128));
    alignas(16) uint8_t px[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(px), _mm_packus_epi16(v, v));
    for (int y = 0; y < 8; ++y, dst += stride) {
        const uint64_t row = px[y] * 0x0101010101010101ull;
        std::memcpy(dst, &row, 8);
    }
    block[0] = 0;
}

void idctAddDcSse2(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    int16_t col[8];
    idctDcColumnC(block, col);
    const __m128i z = _mm_setzero_si128();
    for (int y = 0; y < 8; ++y, dst += stride) {
        const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), z);
        const __m128i v = _mm_adds_epi16(p, _mm_set1_epi16(col[y]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
    }
    block[0] = 0;
}

// ---------------------------------------------------------------------------
// Motion compensation

template <int W>
inline __m128i load(const uint8_t* p) {
    if constexpr (W == 16) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    }
}
template <int W>
inline void store(uint8_t* p, __m128i v) {
    if constexpr (W == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    }
}

template <int W, bool Avg, int Case>
void mcSse2(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int h) {
    const __m128i z = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    for (int y = 0; y < h; ++y, dst += ds, src += ss) {
        __m128i v;
        if constexpr (Case == 0) {
            v = load<W>(src);
        } else if constexpr (Case == 1) {
            v = _mm_avg_epu8(load<W>(src), load<W>(src + 1));
        } else if constexpr (Case == 2) {
            v = _mm_avg_epu8(load<W>(src), load<W>(src + ss));
        } else {
            const __m128i a = load<W>(src), b = load<W>(src + 1), c = load<W>(src + ss), d = load<W>(src + ss + 1);
            __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z)),
                                       _mm_add_epi16(_mm_unpacklo_epi8(c, z), _mm_unpacklo_epi8(d, z)));
            lo = _mm_srli_epi16(_mm_add_epi16(lo, two), 2);
            __m128i hi = _mm_setzero_si128();
            if constexpr (W == 16) {
                hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z)),
                                   _mm_add_epi16(_mm_unpackhi_epi8(c, z), _mm_unpackhi_epi8(d, z)));
                hi = _mm_srli_epi16(_mm_add_epi16(hi, two), 2);
            }
            v = _mm_packus_epi16(lo, hi);
        }
        if constexpr (Avg) v = _mm_avg_epu8(load<W>(dst), v);
        store<W>(dst, v);
    }
}

// ---------------------------------------------------------------------------
// Chroma up-sampling

inline __m128i lo16(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
inline void store8(uint8_t* p, __m128i v16) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v16, v16));
}

void blendRowSse2(uint8_t* dst, const uint8_t* a, const uint8_t* b, int wa, int wb, int shift, int w) {
    if (w % 8 != 0) return blendRowC(dst, a, b, wa, wb, shift, w);
    const __m128i ka = _mm_set1_epi16(int16_t(wa)), kb = _mm_set1_epi16(int16_t(wb));
    const __m128i round = _mm_set1_epi16(int16_t(1 << (shift - 1)));
    const __m128i count = _mm_cvtsi32_si128(shift);
    for (int x = 0; x < w; x += 8) {
        const __m128i v = _mm_add_epi16(_mm_mullo_epi16(lo16(a + x), ka), _mm_mullo_epi16(lo16(b + x), kb));
        store8(dst + x, _mm_srl_epi16(_mm_add_epi16(v, round), count));
    }
}

// ---------------------------------------------------------------------------
// Colour conversion

// Four B,G,R,0 pixels to twelve B,G,R bytes at the bottom of the register.
inline __m128i pack12(__m128i p) {
    const __m128i keep3 = _mm_and_si128(p, _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF));
    const __m128i next3 =
        _mm_and_si128(_mm_srli_epi64(p, 8), _mm_set_epi32(0x0000FFFF, int(0xFF000000), 0x0000FFFF, int(0xFF000000)));
    const __m128i six = _mm_or_si128(keep3, next3);  // six bytes at the bottom of each half
    const __m128i low = _mm_and_si128(six, _mm_set_epi32(0, 0, 0x0000FFFF, -1));
    const __m128i high = _mm_srli_si128(_mm_and_si128(six, _mm_set_epi32(0x0000FFFF, -1, 0, 0)), 2);
    return _mm_or_si128(low, high);
}

struct BgrConsts {
    __m128i k16 = _mm_set1_epi16(16), k128 = _mm_set1_epi16(128), bias = _mm_set1_epi32(4096);
    __m128i cBlue = _mm_setr_epi16(9539, 16525, 9539, 16525, 9539, 16525, 9539, 16525);
    __m128i cRed = _mm_setr_epi16(9539, 13075, 9539, 13075, 9539, 13075, 9539, 13075);
    __m128i cGreen = _mm_setr_epi16(9539, -6660, 9539, -6660, 9539, -6660, 9539, -6660);
    __m128i cGreenU = _mm_setr_epi16(-3209, 0, -3209, 0, -3209, 0, -3209, 0);
};

// Eight pixels (samples widened to 16 bits) to 24 bytes at o; lastInRow
// keeps the stores inside the row.
inline void bgr8(const BgrConsts& k, uint8_t* o, __m128i y16, __m128i cb16, __m128i cr16, bool lastInRow) {
    const __m128i z = _mm_setzero_si128();
    const __m128i yy = _mm_sub_epi16(y16, k.k16);
    const __m128i u = _mm_sub_epi16(cb16, k.k128);
    const __m128i v = _mm_sub_epi16(cr16, k.k128);
    const __m128i yuL = _mm_unpacklo_epi16(yy, u), yuH = _mm_unpackhi_epi16(yy, u);
    const __m128i yvL = _mm_unpacklo_epi16(yy, v), yvH = _mm_unpackhi_epi16(yy, v);
    const __m128i uzL = _mm_unpacklo_epi16(u, z), uzH = _mm_unpackhi_epi16(u, z);
    auto chan = [&](__m128i lo, __m128i hi) {
        return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, k.bias), 13),
                               _mm_srai_epi32(_mm_add_epi32(hi, k.bias), 13));
    };
    const __m128i b = chan(_mm_madd_epi16(yuL, k.cBlue), _mm_madd_epi16(yuH, k.cBlue));
    const __m128i r = chan(_mm_madd_epi16(yvL, k.cRed), _mm_madd_epi16(yvH, k.cRed));
    const __m128i g = chan(_mm_add_epi32(_mm_madd_epi16(yvL, k.cGreen), _mm_madd_epi16(uzL, k.cGreenU)),
                           _mm_add_epi32(_mm_madd_epi16(yvH, k.cGreen), _mm_madd_epi16(uzH, k.cGreenU)));
    const __m128i b8 = _mm_packus_epi16(b, b), g8 = _mm_packus_epi16(g, g), r8 = _mm_packus_epi16(r, r);
    const __m128i bg = _mm_unpacklo_epi8(b8, g8), r0 = _mm_unpacklo_epi8(r8, z);
    const __m128i q0 = pack12(_mm_unpacklo_epi16(bg, r0));  // pixels 0-3 in bytes 0-11
    const __m128i q1 = pack12(_mm_unpackhi_epi16(bg, r0));  // pixels 4-7
    // Whole 16-byte stores; the 4 spare bytes are overwritten by the next
    // store, except at the row's end.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), q0);
    if (!lastInRow) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12), q1);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 12), q1);
        const int tail = _mm_cvtsi128_si32(_mm_srli_si128(q1, 8));
        std::memcpy(o + 20, &tail, 4);
    }
}

void yuvToBgrSse2(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w) {
    if (w % 8 != 0) return yuvToBgrC(bgr, y, cb, cr, w);
    const BgrConsts k;
    for (int x = 0; x < w; x += 8) bgr8(k, bgr + 3 * x, lo16(y + x), lo16(cb + x), lo16(cr + x), x + 8 == w);
}

void yuv422ToBgrSse2(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w) {
    if (w % 16 != 0 || w < 16) return yuv422ToBgrC(bgr, y, cb, cr, w);
    const BgrConsts k;
    const __m128i z = _mm_setzero_si128();
    for (int x = 0; x < w; x += 16) {
        __m128i u, v;
        widenChroma16(cb + x / 2, cr + x / 2, x + 16 >= w, u, v);
        const __m128i yv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        bgr8(k, bgr + 3 * x, _mm_unpacklo_epi8(yv, z), _mm_unpacklo_epi8(u, z), _mm_unpacklo_epi8(v, z), false);
        bgr8(k, bgr + 3 * x + 24, _mm_unpackhi_epi8(yv, z), _mm_unpackhi_epi8(u, z), _mm_unpackhi_epi8(v, z),
             x + 16 == w);
    }
}

}  // namespace

void initDspSse2(Dsp& d) {
    d.idct = idctSse2;
    d.idctPut = idctPutSse2;
    d.idctAdd = idctAddSse2;
    d.idctPutDc = idctPutDcSse2;
    d.idctAddDc = idctAddDcSse2;
    d.mc[0][0][0] = mcSse2<16, false, 0>;
    d.mc[0][1][0] = mcSse2<16, false, 1>;
    d.mc[0][2][0] = mcSse2<16, false, 2>;
    d.mc[0][3][0] = mcSse2<16, false, 3>;
    d.mc[0][0][1] = mcSse2<8, false, 0>;
    d.mc[0][1][1] = mcSse2<8, false, 1>;
    d.mc[0][2][1] = mcSse2<8, false, 2>;
    d.mc[0][3][1] = mcSse2<8, false, 3>;
    d.mc[1][0][0] = mcSse2<16, true, 0>;
    d.mc[1][1][0] = mcSse2<16, true, 1>;
    d.mc[1][2][0] = mcSse2<16, true, 2>;
    d.mc[1][3][0] = mcSse2<16, true, 3>;
    d.mc[1][0][1] = mcSse2<8, true, 0>;
    d.mc[1][1][1] = mcSse2<8, true, 1>;
    d.mc[1][2][1] = mcSse2<8, true, 2>;
    d.mc[1][3][1] = mcSse2<8, true, 3>;
    d.blendRow = blendRowSse2;
    d.yuvToBgr = yuvToBgrSse2;
    d.yuv422ToBgr = yuv422ToBgrSse2;
}

}  // namespace kivra
#endif
