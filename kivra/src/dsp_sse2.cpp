// SSE2 kernels; each gives the same bytes as its C reference in dsp_c.cpp.
#include "dsp.h"
#include "dsp_idct_x86.h"
#include "dsp_x86.h"

#ifdef KIVRA_X86
#include <emmintrin.h>

#include <cstring>

namespace kivra {

namespace {

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

// A DC-only block's eight row values (what idctDcColumnC gives) in lanes 0-7:
// the row pass leaves c4 * DC + bias >> 11 = 8 DC + 32 in row 0 and 1 in rows
// 1 and 2, and the column pass of that is v >> 6, v + 2 and v - 1 (with
// saturation) for rows 0, 3 and 4.
inline __m128i dcColumn(const int16_t* block) {
    const int32_t w = 8 * int32_t(block[0]) + 32;
    const int16_t v = static_cast<int16_t>(w < -32768 ? -32768 : (w > 32767 ? 32767 : w));
    return _mm_srai_epi16(_mm_adds_epi16(_mm_set1_epi16(v), _mm_setr_epi16(2, 0, 0, -1, -1, 0, 0, 0)), 6);
}

void idctPutDcSse2(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    // Row y's byte in byte y, then each byte widened to the eight of its row.
    const __m128i b = _mm_packus_epi16(_mm_adds_epi16(dcColumn(block), _mm_set1_epi16(128)), _mm_setzero_si128());
    const __m128i b2 = _mm_unpacklo_epi8(b, b);
    const __m128i lo = _mm_unpacklo_epi16(b2, b2), hi = _mm_unpackhi_epi16(b2, b2);
    const __m128i rows[4] = {_mm_unpacklo_epi32(lo, lo), _mm_unpackhi_epi32(lo, lo), _mm_unpacklo_epi32(hi, hi),
                             _mm_unpackhi_epi32(hi, hi)};
    for (int k = 0; k < 4; ++k, dst += 2 * stride) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), rows[k]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride), _mm_unpackhi_epi64(rows[k], rows[k]));
    }
    block[0] = 0;
}

void idctAddDcSse2(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    // q[k]: rows 2k and 2k + 1, each value in four lanes; widened to eight
    // lanes a row below.
    const __m128i c = dcColumn(block);
    const __m128i lo = _mm_unpacklo_epi16(c, c), hi = _mm_unpackhi_epi16(c, c);
    const __m128i q[4] = {_mm_unpacklo_epi32(lo, lo), _mm_unpackhi_epi32(lo, lo), _mm_unpacklo_epi32(hi, hi),
                          _mm_unpackhi_epi32(hi, hi)};
    const __m128i z = _mm_setzero_si128();
    for (int k = 0; k < 4; ++k, dst += 2 * stride) {
        const __m128i r0 = _mm_unpacklo_epi64(q[k], q[k]), r1 = _mm_unpackhi_epi64(q[k], q[k]);
        const __m128i p0 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), z);
        const __m128i p1 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst + stride)), z);
        const __m128i out = _mm_packus_epi16(_mm_adds_epi16(p0, r0), _mm_adds_epi16(p1, r1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), out);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride), _mm_unpackhi_epi64(out, out));
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

// One row of a prediction from its samples a (x, y), b (x + 1, y), c (x, y + 1)
// and d (x + 1, y + 1), those the case needs: 16 bytes of any rows.
template <int Case>
inline __m128i halfSample(__m128i a, __m128i b, __m128i c, __m128i d) {
    if constexpr (Case == 0) {
        return a;
    } else if constexpr (Case == 1) {
        return _mm_avg_epu8(a, b);
    } else if constexpr (Case == 2) {
        return _mm_avg_epu8(a, c);
    } else {
        // (a + b + c + d + 2) >> 2 in bytes: with s = avg(a, b) and
        // t = avg(c, d) (each rounded up), avg(s, t) is one too high exactly
        // when s + t is odd and a + b or c + d was odd.
        const __m128i s = _mm_avg_epu8(a, b), t = _mm_avg_epu8(c, d);
        const __m128i odd = _mm_or_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
        const __m128i fix = _mm_and_si128(_mm_and_si128(_mm_xor_si128(s, t), odd), _mm_set1_epi8(1));
        return _mm_sub_epi8(_mm_avg_epu8(s, t), fix);
    }
}

// The rows of a prediction: row(y, x) loads the 16 source bytes of row y
// at offset x (0 or 1), put(y, v) stores (or averages) a row. With half
// samples between rows, a row's lower samples are the next row's upper
// ones: each source row is loaded once.
template <int Case, class Row, class Put>
inline void predictRowsOf(int h, Row row, Put put) {
    const __m128i z = _mm_setzero_si128();
    if constexpr ((Case & 2) == 0) {
        for (int y = 0; y < h; ++y) put(y, halfSample<Case>(row(y, 0), Case & 1 ? row(y, 1) : z, z, z));
    } else {
        __m128i a = row(0, 0), b = Case == 3 ? row(0, 1) : z;
        for (int y = 0; y < h; ++y) {
            const __m128i c = row(y + 1, 0), d = Case == 3 ? row(y + 1, 1) : z;
            put(y, halfSample<Case>(a, b, c, d));
            a = c;
            b = d;
        }
    }
}

// The common heights as constants, so that their loops unroll: 16 (a frame
// macroblock's luma) and 8 (its chroma, or a field's luma).
template <int Case, class Row, class Put>
inline void predictRows(int h, Row row, Put put) {
    if (h == 16) {
        predictRowsOf<Case>(16, row, put);
    } else if (h == 8) {
        predictRowsOf<Case>(8, row, put);
    } else {
        predictRowsOf<Case>(h, row, put);
    }
}

template <bool Avg, int Case>
void mcSse2(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int h) {
    predictRows<Case>(
        h, [&](int y, int x) { return load<16>(src + y * ss + x); },
        [&](int y, __m128i v) {
            uint8_t* d = dst + y * ds;
            if constexpr (Avg) v = _mm_avg_epu8(load<16>(d), v);
            store<16>(d, v);
        });
}

// Eight bytes of each plane's row side by side: u in the low half.
inline __m128i loadPair(const uint8_t* u, const uint8_t* v) { return _mm_unpacklo_epi64(load<8>(u), load<8>(v)); }

template <bool Avg, int Case>
void mcChromaSse2(uint8_t* du, uint8_t* dv, ptrdiff_t ds, const uint8_t* su, const uint8_t* sv, ptrdiff_t ss, int h) {
    predictRows<Case>(
        h, [&](int y, int x) { return loadPair(su + y * ss + x, sv + y * ss + x); },
        [&](int y, __m128i v) {
            uint8_t* u = du + y * ds;
            uint8_t* w = dv + y * ds;
            if constexpr (Avg) v = _mm_avg_epu8(loadPair(u, w), v);
            store<8>(u, v);
            store<8>(w, _mm_unpackhi_epi64(v, v));
        });
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
    d.mc[0][0] = mcSse2<false, 0>;
    d.mc[0][1] = mcSse2<false, 1>;
    d.mc[0][2] = mcSse2<false, 2>;
    d.mc[0][3] = mcSse2<false, 3>;
    d.mc[1][0] = mcSse2<true, 0>;
    d.mc[1][1] = mcSse2<true, 1>;
    d.mc[1][2] = mcSse2<true, 2>;
    d.mc[1][3] = mcSse2<true, 3>;
    d.mcChroma[0][0] = mcChromaSse2<false, 0>;
    d.mcChroma[0][1] = mcChromaSse2<false, 1>;
    d.mcChroma[0][2] = mcChromaSse2<false, 2>;
    d.mcChroma[0][3] = mcChromaSse2<false, 3>;
    d.mcChroma[1][0] = mcChromaSse2<true, 0>;
    d.mcChroma[1][1] = mcChromaSse2<true, 1>;
    d.mcChroma[1][2] = mcChromaSse2<true, 2>;
    d.mcChroma[1][3] = mcChromaSse2<true, 3>;
    d.blendRow = blendRowSse2;
    d.yuvToBgr = yuvToBgrSse2;
    d.yuv422ToBgr = yuv422ToBgrSse2;
}

}  // namespace kivra
#endif
