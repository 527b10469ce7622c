// The SSE2 inverse DCT's passes (AP-922 rows, then columns), shared by the
// SSE2 kernels and the AVX2 ones, which build their transform from the same
// steps. Everything here has internal linkage: each file compiles it for its
// own instruction set, and no copy may stand in for another's.
#pragma once

#include <emmintrin.h>

#include <cstdint>

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

}  // namespace

}  // namespace kivra
