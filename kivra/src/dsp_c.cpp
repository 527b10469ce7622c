#include <cstdlib>
#include <cstring>

#include "dsp.h"

namespace kivra {

namespace {

inline int16_t sat16(int32_t v) { return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v)); }
inline uint8_t clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }
// High half of a signed 16 x 16 product (what pmulhw gives).
inline int16_t mulhi(int16_t a, int16_t b) { return static_cast<int16_t>((int32_t(a) * b) >> 16); }

// AP-922 row tables: the cosine constants for rows 0/4, 1/7, 2/6 and 3/5,
// in the order c4, c2, c6, c1, c3, c5, c7.
const int32_t kRowTab[4][7] = {
    {16384, 21407, 8867, 22725, 19266, 12873, 4520},
    {22725, 29692, 12299, 31521, 26722, 17855, 6270},
    {21407, 27969, 11585, 29692, 25172, 16819, 5906},
    {19266, 25172, 10426, 26722, 22654, 15137, 5315},
};
const int kRowTabOf[8] = {0, 1, 2, 3, 0, 3, 2, 1};
const int32_t kRowBias[8] = {65536, 3597, 2260, 1203, 0, 120, 512, 512};

// 32-bit sums wrap like the packed multiply-add they model.
inline int32_t wrapAdd(uint32_t a, uint32_t b) { return static_cast<int32_t>(a + b); }

void idctRow(int16_t* r, int row) {
    const int32_t* t = kRowTab[kRowTabOf[row]];
    const int32_t c4 = t[0], c2 = t[1], c6 = t[2], c1 = t[3], c3 = t[4], c5 = t[5], c7 = t[6];
    const int32_t x0 = r[0], x1 = r[1], x2 = r[2], x3 = r[3], x4 = r[4], x5 = r[5], x6 = r[6], x7 = r[7];
    const uint32_t bias = static_cast<uint32_t>(kRowBias[row]);
    auto u = [](int32_t v) { return static_cast<uint32_t>(v); };
    uint32_t a0 = u(c4 * x0) + u(c2 * x2) + u(c4 * x4) + u(c6 * x6) + bias;
    uint32_t a1 = u(c4 * x0) + u(c6 * x2) - u(c4 * x4) - u(c2 * x6) + bias;
    uint32_t a2 = u(c4 * x0) - u(c6 * x2) - u(c4 * x4) + u(c2 * x6) + bias;
    uint32_t a3 = u(c4 * x0) - u(c2 * x2) + u(c4 * x4) - u(c6 * x6) + bias;
    uint32_t b0 = u(c1 * x1) + u(c3 * x3) + u(c5 * x5) + u(c7 * x7);
    uint32_t b1 = u(c3 * x1) - u(c7 * x3) - u(c1 * x5) - u(c5 * x7);
    uint32_t b2 = u(c5 * x1) - u(c1 * x3) + u(c7 * x5) + u(c3 * x7);
    uint32_t b3 = u(c7 * x1) - u(c5 * x3) + u(c3 * x5) - u(c1 * x7);
    r[0] = sat16(wrapAdd(a0, b0) >> 11);
    r[7] = sat16(wrapAdd(a0, -b0) >> 11);
    r[1] = sat16(wrapAdd(a1, b1) >> 11);
    r[6] = sat16(wrapAdd(a1, -b1) >> 11);
    r[2] = sat16(wrapAdd(a2, b2) >> 11);
    r[5] = sat16(wrapAdd(a2, -b2) >> 11);
    r[3] = sat16(wrapAdd(a3, b3) >> 11);
    r[4] = sat16(wrapAdd(a3, -b3) >> 11);
}

// Column pass over c[0], c[s], ..., c[7s].
void idctCol(int16_t* c, int s = 8) {
    constexpr int16_t T1 = 13036, T2 = 27146, T3m1 = -21746, C4 = 23170;
    const int16_t x0 = c[0], x1 = c[s], x2 = c[2 * s], x3 = c[3 * s], x4 = c[4 * s], x5 = c[5 * s], x6 = c[6 * s],
                  x7 = c[7 * s];
    auto add = [](int a, int b) { return sat16(a + b); };
    auto sub = [](int a, int b) { return sat16(a - b); };
    int16_t u17 = add(x1, mulhi(x7, T1));
    int16_t v17 = sub(mulhi(x1, T1), x7);
    int16_t t3x3 = add(mulhi(x3, T3m1), x3);
    int16_t t3x5 = add(mulhi(x5, T3m1), x5);
    int16_t v35 = sub(t3x3, x5);
    int16_t u35 = add(t3x5, x3);
    int16_t b0 = add(u17, u35);
    int16_t b3 = sub(v17, v35);
    int16_t u12 = sub(u17, u35);
    int16_t v12 = add(v17, v35);
    int16_t b1h = mulhi(add(u12, v12), C4);
    int16_t b2h = mulhi(sub(u12, v12), C4);
    int16_t b1 = add(b1h, b1h);
    int16_t b2 = add(b2h, b2h);
    int16_t u26 = add(mulhi(x6, T2), x2);
    int16_t v26 = sub(mulhi(x2, T2), x6);
    int16_t u04 = add(x0, x4);
    int16_t v04 = sub(x0, x4);
    int16_t a0 = add(u04, u26);
    int16_t a3 = sub(u04, u26);
    int16_t a1 = add(v04, v26);
    int16_t a2 = sub(v04, v26);
    c[0] = static_cast<int16_t>(add(a0, b0) >> 6);
    c[7 * s] = static_cast<int16_t>(sub(a0, b0) >> 6);
    c[s] = static_cast<int16_t>(add(a1, b1) >> 6);
    c[6 * s] = static_cast<int16_t>(sub(a1, b1) >> 6);
    c[2 * s] = static_cast<int16_t>(add(a2, b2) >> 6);
    c[5 * s] = static_cast<int16_t>(sub(a2, b2) >> 6);
    c[3 * s] = static_cast<int16_t>(add(a3, b3) >> 6);
    c[4 * s] = static_cast<int16_t>(sub(a3, b3) >> 6);
}

template <int W, bool Avg, int Case>
void mcC(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int h) {
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < W; ++x) {
            int a = src[x];
            int v;
            if constexpr (Case == 0) {
                v = a;
            } else if constexpr (Case == 1) {
                v = (a + src[x + 1] + 1) >> 1;
            } else if constexpr (Case == 2) {
                v = (a + src[x + ss] + 1) >> 1;
            } else {
                v = (a + src[x + 1] + src[x + ss] + src[x + ss + 1] + 2) >> 2;
            }
            if constexpr (Avg) v = (dst[x] + v + 1) >> 1;
            dst[x] = static_cast<uint8_t>(v);
        }
        dst += ds;
        src += ss;
    }
}

template <bool Avg, int Case>
void mcChromaC(uint8_t* du, uint8_t* dv, ptrdiff_t ds, const uint8_t* su, const uint8_t* sv, ptrdiff_t ss, int h) {
    mcC<8, Avg, Case>(du, ds, su, ss, h);
    mcC<8, Avg, Case>(dv, ds, sv, ss, h);
}

}  // namespace

void idctC(int16_t* block) {
    for (int i = 0; i < 8; ++i) idctRow(block + 8 * i, i);
    for (int i = 0; i < 8; ++i) idctCol(block + i);
}

void idctPutC(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    idctC(block);
    for (int y = 0; y < 8; ++y, dst += stride)
        for (int x = 0; x < 8; ++x) dst[x] = clamp255(sat16(block[8 * y + x] + 128));
    std::memset(block, 0, 64 * sizeof(int16_t));
}

void idctAddC(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    idctC(block);
    for (int y = 0; y < 8; ++y, dst += stride)
        for (int x = 0; x < 8; ++x) dst[x] = clamp255(sat16(block[8 * y + x] + dst[x]));
    std::memset(block, 0, 64 * sizeof(int16_t));
}

// A DC-only block: every row of the row pass is constant (row 0 from the DC,
// the others from their bias alone), so all columns come out the same and
// one column pass gives the whole block, exactly as the full transform.
static void idctDcColumnC(const int16_t* block, int16_t col[8]) {
    // Row 0 holds v = c4 * DC + bias >> 11 in every entry; the zero rows
    // 1 and 2 hold 1 (their bias >> 11), the others 0. The column pass of
    // (v, 1, 1, 0, 0, 0, 0, 0) reduces to three values.
    const int16_t v = sat16(
        wrapAdd(static_cast<uint32_t>(kRowTab[0][0] * int32_t(block[0])), static_cast<uint32_t>(kRowBias[0])) >> 11);
    const int16_t mid = static_cast<int16_t>(v >> 6);
    col[0] = static_cast<int16_t>(sat16(v + 2) >> 6);
    col[1] = col[2] = col[5] = col[6] = col[7] = mid;
    col[3] = col[4] = static_cast<int16_t>(sat16(v - 1) >> 6);
}

void idctPutDcC(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    int16_t col[8];
    idctDcColumnC(block, col);
    for (int y = 0; y < 8; ++y, dst += stride) std::memset(dst, clamp255(sat16(col[y] + 128)), 8);
    block[0] = 0;
}

void idctAddDcC(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    int16_t col[8];
    idctDcColumnC(block, col);
    for (int y = 0; y < 8; ++y, dst += stride)
        for (int x = 0; x < 8; ++x) dst[x] = clamp255(sat16(col[y] + dst[x]));
    block[0] = 0;
}

void upProgressiveC(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int n) {
    for (int y = 0; y < n; ++y) {
        const uint8_t* c = src + y * ss;
        const uint8_t* up = y > 0 ? c - ss : c;
        const uint8_t* dn = y < n - 1 ? c + ss : c;
        uint8_t* o0 = dst + (2 * y) * ds;
        uint8_t* o1 = o0 + ds;
        for (int x = 0; x < w; ++x) {
            o0[x] = y == 0 ? c[x] : static_cast<uint8_t>((3 * c[x] + up[x] + 2) >> 2);
            o1[x] = y == n - 1 ? c[x] : static_cast<uint8_t>((3 * c[x] + dn[x] + 2) >> 2);
        }
    }
}

void upFieldC(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int n) {
    const int groups = n / 2;
    for (int k = 0; k < groups; ++k) {
        const uint8_t* c = src + 2 * k * ss;  // c[0] = row 2k
        uint8_t* o = dst + 4 * k * ds;
        for (int x = 0; x < w; ++x) {
            int c0 = c[x], c1 = c[ss + x];
            if (k == 0) {
                int c2 = c[2 * ss + x], c3 = c[3 * ss + x];
                o[x] = static_cast<uint8_t>(c0);
                o[ds + x] = static_cast<uint8_t>((3 * c0 + 5 * c1 + 4) >> 3);
                o[2 * ds + x] = static_cast<uint8_t>((5 * c0 + 3 * c2 + 4) >> 3);
                o[3 * ds + x] = static_cast<uint8_t>((7 * c1 + c3 + 4) >> 3);
            } else if (k < groups - 1) {
                int cm2 = c[-2 * ss + x], cm1 = c[-ss + x], c2 = c[2 * ss + x], c3 = c[3 * ss + x];
                o[x] = static_cast<uint8_t>((cm2 + 7 * c0 + 4) >> 3);
                o[ds + x] = static_cast<uint8_t>((3 * cm1 + 5 * c1 + 4) >> 3);
                o[2 * ds + x] = static_cast<uint8_t>((5 * c0 + 3 * c2 + 4) >> 3);
                o[3 * ds + x] = static_cast<uint8_t>((7 * c1 + c3 + 4) >> 3);
            } else {
                int cm2 = c[-2 * ss + x], cm1 = c[-ss + x];
                o[x] = static_cast<uint8_t>((cm2 + 7 * c0 + 4) >> 3);
                o[ds + x] = static_cast<uint8_t>((3 * cm1 + 5 * c1 + 4) >> 3);
                o[2 * ds + x] = static_cast<uint8_t>(c0);
                o[3 * ds + x] = static_cast<uint8_t>((c0 + 7 * c1 + 4) >> 3);
            }
        }
    }
}

void blendRowC(uint8_t* dst, const uint8_t* a, const uint8_t* b, int wa, int wb, int shift, int w) {
    const int round = 1 << (shift - 1);
    for (int x = 0; x < w; ++x) dst[x] = static_cast<uint8_t>((wa * a[x] + wb * b[x] + round) >> shift);
}

void upHorizontalC(uint8_t* dst, const uint8_t* src, int m) {
    int i = 0;
    for (; i < m - 8; ++i) {
        dst[2 * i] = src[i];
        dst[2 * i + 1] = static_cast<uint8_t>((src[i] + src[i + 1] + 1) >> 1);
    }
    for (; i < m; ++i) dst[2 * i] = dst[2 * i + 1] = src[i];
}

void yuvToBgrC(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w) {
    for (int x = 0; x < w; ++x) {
        const int yy = y[x] - 16, u = cb[x] - 128, v = cr[x] - 128;
        const int l = 9539 * yy + 4096;
        bgr[3 * x + 0] = clamp255((l + 16525 * u) >> 13);
        bgr[3 * x + 1] = clamp255((l - 6660 * v - 3209 * u) >> 13);
        bgr[3 * x + 2] = clamp255((l + 13075 * v) >> 13);
    }
}

void yuv422ToBgrC(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w) {
    uint8_t u[64], v[64];
    // In pieces of 32 pixels; the doubled tail needs the row's last samples.
    const int m = w / 2;
    for (int x = 0; x < w; x += 32) {
        const int n = w - x < 32 ? w - x : 32;
        for (int k = 0; k < n; ++k) {
            const int i = (x + k) / 2;
            const bool odd = (x + k) & 1;
            if (i >= m - 8 || !odd) {
                u[k] = cb[i];
                v[k] = cr[i];
            } else {
                u[k] = static_cast<uint8_t>((cb[i] + cb[i + 1] + 1) >> 1);
                v[k] = static_cast<uint8_t>((cr[i] + cr[i + 1] + 1) >> 1);
            }
        }
        yuvToBgrC(bgr + 3 * x, y + x, u, v, n);
    }
}

void initDsp(Dsp& d, unsigned mask) {
    d.idct = idctC;
    d.idctPut = idctPutC;
    d.idctAdd = idctAddC;
    d.idctPutDc = idctPutDcC;
    d.idctAddDc = idctAddDcC;
    d.mc[0][0] = mcC<16, false, 0>;
    d.mc[0][1] = mcC<16, false, 1>;
    d.mc[0][2] = mcC<16, false, 2>;
    d.mc[0][3] = mcC<16, false, 3>;
    d.mc[1][0] = mcC<16, true, 0>;
    d.mc[1][1] = mcC<16, true, 1>;
    d.mc[1][2] = mcC<16, true, 2>;
    d.mc[1][3] = mcC<16, true, 3>;
    d.mcChroma[0][0] = mcChromaC<false, 0>;
    d.mcChroma[0][1] = mcChromaC<false, 1>;
    d.mcChroma[0][2] = mcChromaC<false, 2>;
    d.mcChroma[0][3] = mcChromaC<false, 3>;
    d.mcChroma[1][0] = mcChromaC<true, 0>;
    d.mcChroma[1][1] = mcChromaC<true, 1>;
    d.mcChroma[1][2] = mcChromaC<true, 2>;
    d.mcChroma[1][3] = mcChromaC<true, 3>;
    d.blendRow = blendRowC;
    d.yuvToBgr = yuvToBgrC;
    d.yuv422ToBgr = yuv422ToBgrC;
    const unsigned flags = detectCpuFlags() & mask;
#ifdef KIVRA_X86
    if (flags & kCpuSse2) initDspSse2(d);
    if ((flags & kCpuSse2) && (flags & kCpuSsse3)) initDspSsse3(d);
    if ((flags & kCpuSse2) && (flags & kCpuSsse3) && (flags & kCpuAvx2)) initDspAvx2(d);
#else
    (void)flags;
#endif
}

unsigned detectCpuFlags() {
#ifdef KIVRA_X86
    __builtin_cpu_init();
    unsigned f = 0;
    if (__builtin_cpu_supports("sse2")) f |= kCpuSse2;
    if (__builtin_cpu_supports("ssse3")) f |= kCpuSsse3;
    if (__builtin_cpu_supports("avx2")) f |= kCpuAvx2;
    return f;
#else
    return 0;
#endif
}

int simdLevel() {
#ifdef KIVRA_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2")) return 5;
    if (__builtin_cpu_supports("sse")) return 2;
#endif
    return 1;
}

unsigned cpuMaskFromEnv() {
    const char* s = std::getenv("KIVRA_CPU_MASK");
    if (s == nullptr || *s == '\0') return kCpuAll;
    return static_cast<unsigned>(std::strtoul(s, nullptr, 0));
}

}  // namespace kivra
