// Pixel kernels: every SIMD kernel against its C reference (bit-exact, on
// random blocks and planes), the inverse DCT against a double-precision
// transform, and the output filters and colour conversion on known values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsp.h"
#include "tables.h"
#include "output.h"

using namespace kivra;

namespace {

// ---------------------------------------------------------------------------
// SIMD against C

struct DspCase {
    const char* name;
    unsigned mask;
};

class SimdVsC : public testing::TestWithParam<DspCase> {
protected:
    void SetUp() override {
        if ((detectCpuFlags() & GetParam().mask) != GetParam().mask) GTEST_SKIP() << "instruction set not available";
        initDsp(ref, 0);
        initDsp(opt, GetParam().mask);
    }
    Dsp ref{}, opt{};
    std::mt19937 rng{1234};
    int rnd(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    std::vector<uint8_t> randomPlane(size_t n) {
        std::vector<uint8_t> v(n);
        for (auto& b : v) b = uint8_t(rnd(0, 255));
        return v;
    }
};

TEST_P(SimdVsC, IdctMatchesOnRandomAndExtremeBlocks) {
    EXPECT_NE(opt.idct, ref.idct) << "no SIMD override installed";
    for (int iter = 0; iter < 20000; ++iter) {
        alignas(64) int16_t a[64], b[64];
        // Typical coefficient ranges, sparse blocks, and the whole 16-bit
        // range (no saturation before the transform); every other block
        // has rows 4-7 empty (the short blocks the kernels treat apart).
        const int mode = iter % 4;
        const bool upperOnly = (iter / 4) % 2 == 1;
        for (int i = 0; i < 64; ++i) {
            int v;
            if (upperOnly && i >= 32)
                v = 0;
            else if (mode == 0)
                v = rnd(-2048, 2047);
            else if (mode == 1)
                v = rnd(0, 9) == 0 ? rnd(-300, 300) : 0;
            else if (mode == 2)
                v = rnd(-32768, 32767);
            else
                v = rnd(0, 1) ? 32767 : -32768;
            a[i] = b[i] = int16_t(v);
        }
        ref.idct(a);
        opt.idct(b);
        ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "iteration " << iter;
    }
}

TEST_P(SimdVsC, IdctPutAndAddMatchAndClearTheBlock) {
    for (int iter = 0; iter < 5000; ++iter) {
        alignas(64) int16_t a[64], b[64];
        const int rows = iter % 3 == 0 ? 4 : 8;
        for (int i = 0; i < 64; ++i) a[i] = b[i] = int16_t(i >= 8 * rows || rnd(0, 3) ? 0 : rnd(-1500, 1500));
        auto d1 = randomPlane(8 * 24), d2 = d1;
        const bool add = iter % 2;
        if (add) {
            ref.idctAdd(d1.data() + 3, 24, a);
            opt.idctAdd(d2.data() + 3, 24, b);
        } else {
            ref.idctPut(d1.data() + 3, 24, a);
            opt.idctPut(d2.data() + 3, 24, b);
        }
        ASSERT_EQ(d1, d2) << "iteration " << iter;
        for (int i = 0; i < 64; ++i) ASSERT_EQ(b[i], 0);
    }
}

TEST_P(SimdVsC, DcOnlyPutAndAddMatchAndClearTheDc) {
    for (int iter = 0; iter < 20000; ++iter) {
        alignas(64) int16_t a[64] = {}, b[64] = {};
        a[0] = b[0] = int16_t(iter % 3 == 0 ? rnd(-32768, 32767) : rnd(-2048, 2047));
        auto pa = randomPlane(8 * 24), pb = pa;
        const bool add = iter & 1;
        (add ? ref.idctAddDc : ref.idctPutDc)(pa.data() + 3, 24, a);
        (add ? opt.idctAddDc : opt.idctPutDc)(pb.data() + 3, 24, b);
        ASSERT_EQ(pa, pb) << "iteration " << iter << (add ? " add" : " put") << " dc " << a[0];
        ASSERT_EQ(b[0], 0);
    }
}

TEST_P(SimdVsC, MotionCompensationAllCasesMatch) {
    const int stride = 64;
    for (int avg = 0; avg < 2; ++avg)
        for (int hc = 0; hc < 4; ++hc)
            for (int h : {4, 8, 16}) {
                // Luma: one plane, 16 wide.
                auto src = randomPlane(size_t(stride) * 40);
                auto d1 = randomPlane(size_t(stride) * 40), d2 = d1;
                const int off = rnd(0, 20) + stride * rnd(0, 10);
                ref.mc[avg][hc](d1.data() + 5, stride, src.data() + off, stride, h);
                opt.mc[avg][hc](d2.data() + 5, stride, src.data() + off, stride, h);
                ASSERT_EQ(d1, d2) << "luma avg " << avg << " case " << hc << " h " << h;
                // Chroma: both planes at once, 8 wide.
                auto su = randomPlane(size_t(stride) * 40), sv = randomPlane(size_t(stride) * 40);
                auto du1 = randomPlane(size_t(stride) * 40), dv1 = randomPlane(size_t(stride) * 40);
                auto du2 = du1, dv2 = dv1;
                ref.mcChroma[avg][hc](du1.data() + 3, dv1.data() + 3, stride, su.data() + off, sv.data() + off, stride,
                                      h);
                opt.mcChroma[avg][hc](du2.data() + 3, dv2.data() + 3, stride, su.data() + off, sv.data() + off, stride,
                                      h);
                ASSERT_EQ(du1, du2) << "chroma u avg " << avg << " case " << hc << " h " << h;
                ASSERT_EQ(dv1, dv2) << "chroma v avg " << avg << " case " << hc << " h " << h;
            }
}

TEST_P(SimdVsC, VerticalFilterRowsMatch) {
    struct Weights {
        int wa, wb, shift;
    };
    for (const Weights k : {Weights{3, 1, 2}, Weights{3, 5, 3}, Weights{5, 3, 3}, Weights{7, 1, 3}, Weights{1, 7, 3}})
        for (int w : {8, 360, 720}) {
            auto a = randomPlane(size_t(w)), b = randomPlane(size_t(w));
            std::vector<uint8_t> r1(size_t(w) + 8, 0xEE), r2(r1);
            ref.blendRow(r1.data(), a.data(), b.data(), k.wa, k.wb, k.shift, w);
            opt.blendRow(r2.data(), a.data(), b.data(), k.wa, k.wb, k.shift, w);
            EXPECT_EQ(r1, r2) << k.wa << "/" << k.wb << " width " << w;
        }
}

// The whole conversion against the reference filters applied plane by plane.
TEST_P(SimdVsC, ConvertedPictureEqualsTheReferenceFilters) {
    for (int chroma : {1, 2})
        for (int progressive : {0, 1}) {
            SequenceState seq;
            seq.codedWidth = 64;
            seq.codedHeight = 64;
            seq.chromaWidth = 32;
            seq.chromaHeight = chroma == 1 ? 32 : 64;
            seq.chromaFormat = chroma;
            seq.aspectRatio = 2;
            auto y = randomPlane(64 * 64), cb = randomPlane(size_t(32) * seq.chromaHeight),
                 cr = randomPlane(size_t(32) * seq.chromaHeight);
            FrameStore f;
            f.plane[0] = y.data();
            f.plane[1] = cb.data();
            f.plane[2] = cr.data();
            f.width = 64;
            f.height = 64;
            f.chromaWidth = 32;
            f.chromaHeight = seq.chromaHeight;
            f.chromaFormat = chroma;
            PictureRecord rec;
            rec.progressiveFrame = progressive;
            RgbPicture a, b;
            ASSERT_TRUE(a.convert(ref, f, seq, rec));
            ASSERT_TRUE(b.convert(opt, f, seq, rec));
            // Reference: vertical filter over the planes, horizontal filter,
            // BT.601, bottom-up rows.
            std::vector<uint8_t> cb422 = cb, cr422 = cr;
            if (chroma == 1) {
                cb422.assign(32 * 64, 0);
                cr422.assign(32 * 64, 0);
                auto up = progressive ? upProgressiveC : upFieldC;
                up(cb422.data(), 32, cb.data(), 32, 32, 32);
                up(cr422.data(), 32, cr.data(), 32, 32, 32);
            }
            std::vector<uint8_t> expect(64 * 64 * 3);
            for (int row = 0; row < 64; ++row) {
                uint8_t u[64], v[64];
                upHorizontalC(u, &cb422[size_t(row) * 32], 32);
                upHorizontalC(v, &cr422[size_t(row) * 32], 32);
                yuvToBgrC(&expect[size_t(63 - row) * 64 * 3], &y[size_t(row) * 64], u, v, 64);
            }
            EXPECT_EQ(0, std::memcmp(a.pixels(), expect.data(), expect.size())) << chroma << " " << progressive;
            EXPECT_EQ(0, std::memcmp(b.pixels(), expect.data(), expect.size())) << chroma << " " << progressive;
        }
}

TEST_P(SimdVsC, ColourConversionMatchesOnEveryValueMix) {
    for (int w : {16, 32, 48, 1440}) {
        auto y = randomPlane(size_t(w)), cb = randomPlane(size_t(w)), cr = randomPlane(size_t(w));
        // Guard bytes catch writes past the row.
        std::vector<uint8_t> a(size_t(w) * 3 + 4, 0xEE), b(a);
        ref.yuvToBgr(a.data(), y.data(), cb.data(), cr.data(), w);
        opt.yuvToBgr(b.data(), y.data(), cb.data(), cr.data(), w);
        EXPECT_EQ(a, b) << "width " << w;
        EXPECT_EQ(b[size_t(w) * 3], 0xEE);
    }
}

TEST_P(SimdVsC, FusedHalfWidthConversionMatches) {
    for (int w : {16, 32, 48, 720, 1440, 1920}) {
        auto y = randomPlane(size_t(w)), cb = randomPlane(size_t(w / 2)), cr = randomPlane(size_t(w / 2));
        std::vector<uint8_t> a(size_t(w) * 3 + 4, 0xEE), b(a), viaFull(a);
        ref.yuv422ToBgr(a.data(), y.data(), cb.data(), cr.data(), w);
        opt.yuv422ToBgr(b.data(), y.data(), cb.data(), cr.data(), w);
        EXPECT_EQ(a, b) << "width " << w;
        EXPECT_EQ(b[size_t(w) * 3], 0xEE);
        // The C reference is the horizontal filter followed by the conversion.
        std::vector<uint8_t> u(static_cast<size_t>(w)), v(static_cast<size_t>(w));
        upHorizontalC(u.data(), cb.data(), w / 2);
        upHorizontalC(v.data(), cr.data(), w / 2);
        yuvToBgrC(viaFull.data(), y.data(), u.data(), v.data(), w);
        EXPECT_EQ(a, viaFull) << "width " << w;
    }
}

INSTANTIATE_TEST_SUITE_P(Simd, SimdVsC,
                         testing::Values(DspCase{"SSE2", kCpuSse2}, DspCase{"SSSE3", kCpuSse2 | kCpuSsse3},
                                         DspCase{"AVX2", kCpuSse2 | kCpuSsse3 | kCpuAvx2}),
                         [](const testing::TestParamInfo<DspCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Inverse DCT accuracy, IEEE 1180-style

const double kPi = 3.14159265358979323846;

void fdctDouble(const double in[64], double out[64]) {
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    s += in[y * 8 + x] * std::cos((2 * x + 1) * u * kPi / 16) * std::cos((2 * y + 1) * v * kPi / 16);
            out[v * 8 + u] = 0.25 * (u ? 1 : M_SQRT1_2) * (v ? 1 : M_SQRT1_2) * s;
        }
}

void idctDouble(const double in[64], double out[64]) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u)
                    s += (u ? 1 : M_SQRT1_2) * (v ? 1 : M_SQRT1_2) * in[v * 8 + u] *
                         std::cos((2 * x + 1) * u * kPi / 16) * std::cos((2 * y + 1) * v * kPi / 16);
            out[y * 8 + x] = 0.25 * s;
        }
}

// The IEEE 1180 random number generator.
struct Ieee1180Rand {
    long seed = 1;
    long next(long lo, long hi) {
        static const double z = double(0x7fffffff);
        seed = (seed * 1103515245 + 12345) & 0x7fffffff;
        const double x = double(seed) / z;
        return long(x * double(lo + hi + 1)) - lo;
    }
};

struct AccuracyCase {
    int lo, hi, sign;
};

class IdctAccuracy : public testing::TestWithParam<AccuracyCase> {};

TEST_P(IdctAccuracy, WithinIeee1180Limits) {
    const auto [L, H, sign] = GetParam();
    Ieee1180Rand r;
    constexpr int kBlocks = 10000;
    double err[64] = {}, sqErr[64] = {};
    int peak = 0;
    for (int n = 0; n < kBlocks; ++n) {
        double px[64], coef[64];
        for (double& p : px) p = double(r.next(L, H)) * sign;
        fdctDouble(px, coef);
        alignas(64) int16_t blk[64];
        double refIn[64];
        for (int i = 0; i < 64; ++i) {
            double c = std::nearbyint(coef[i]);
            c = std::min(2047.0, std::max(-2048.0, c));
            refIn[i] = c;
            blk[i] = int16_t(c);
        }
        double refOut[64];
        idctDouble(refIn, refOut);
        idctC(blk);
        for (int i = 0; i < 64; ++i) {
            const double ref = std::min(255.0, std::max(-256.0, std::nearbyint(refOut[i])));
            const int got = std::min(255, std::max(-256, int(blk[i])));
            const double e = got - ref;
            peak = std::max(peak, int(std::fabs(e)));
            err[i] += e;
            sqErr[i] += e * e;
        }
    }
    double worstMse = 0, worstMean = 0, totalMse = 0, totalMean = 0;
    for (int i = 0; i < 64; ++i) {
        worstMse = std::max(worstMse, sqErr[i] / kBlocks);
        worstMean = std::max(worstMean, std::fabs(err[i]) / kBlocks);
        totalMse += sqErr[i];
        totalMean += err[i];
    }
    totalMse /= 64.0 * kBlocks;
    totalMean = std::fabs(totalMean) / (64.0 * kBlocks);
    EXPECT_LE(peak, 1);
    EXPECT_LE(worstMse, 0.06);
    EXPECT_LE(totalMse, 0.02);
    EXPECT_LE(worstMean, 0.015);
    EXPECT_LE(totalMean, 0.0015);
}

INSTANTIATE_TEST_SUITE_P(Ranges, IdctAccuracy,
                         testing::Values(AccuracyCase{256, 255, 1}, AccuracyCase{5, 5, 1}, AccuracyCase{300, 300, 1},
                                         AccuracyCase{256, 255, -1}, AccuracyCase{5, 5, -1},
                                         AccuracyCase{300, 300, -1}),
                         [](const testing::TestParamInfo<AccuracyCase>& i) {
                             // Appended piece by piece: GCC 12 at -O3 reports a false
                             // -Wrestrict for "literal" + std::string (insert at 0).
                             std::string name = "L";
                             name += std::to_string(i.param.lo);
                             name += 'H';
                             name += std::to_string(i.param.hi);
                             name += i.param.sign < 0 ? "Neg" : "Pos";
                             return name;
                         });

TEST(Idct, DcOnlyBlockGivesFlatEighth) {
    for (int dc : {-2048, -8, 0, 8, 1000, 2047}) {
        alignas(64) int16_t b[64] = {};
        b[0] = int16_t(dc);
        idctC(b);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(b[i], (dc + 4) >> 3) << "dc " << dc;
    }
}

TEST(Idct, DcOnlyShortcutEqualsTheFullTransform) {
    std::mt19937 rng(7);
    for (int iter = 0; iter < 20000; ++iter) {
        const int dc = iter < 4 ? (iter % 2 ? 32767 : -32768) : std::uniform_int_distribution<int>(-4096, 4095)(rng);
        alignas(64) int16_t a[64] = {}, b[64] = {};
        a[0] = b[0] = int16_t(dc);
        uint8_t p1[8 * 8], p2[8 * 8];
        for (int i = 0; i < 64; ++i) p1[i] = p2[i] = uint8_t(rng());
        if (iter % 2) {
            idctAddC(p1, 8, a);
            idctAddDcC(p2, 8, b);
        } else {
            idctPutC(p1, 8, a);
            idctPutDcC(p2, 8, b);
        }
        ASSERT_EQ(0, std::memcmp(p1, p2, 64)) << "dc " << dc;
        ASSERT_EQ(b[0], 0);
    }
}

TEST(Idct, ReconstructionAdds128AndClamps) {
    alignas(64) int16_t b[64] = {};
    uint8_t out[64];
    b[0] = 8 * 100;  // +100 after the transform
    idctPutC(out, 8, b);
    EXPECT_EQ(out[0], 228);
    b[0] = 8 * 200;  // 328: clamped
    idctPutC(out, 8, b);
    EXPECT_EQ(out[63], 255);
    b[0] = -8 * 200;  // -72: clamped
    idctPutC(out, 8, b);
    EXPECT_EQ(out[5], 0);
}

// ---------------------------------------------------------------------------
// Output filters and colour conversion on known values

TEST(OutputFilters, ProgressiveVerticalFilterRows) {
    // One column of 8 chroma rows.
    const uint8_t c[8] = {0, 100, 200, 40, 40, 40, 80, 120};
    uint8_t o[16];
    upProgressiveC(o, 1, c, 1, 1, 8);
    EXPECT_EQ(o[0], 0);                         // first row copied
    EXPECT_EQ(o[1], (3 * 0 + 100 + 2) >> 2);    // 25
    EXPECT_EQ(o[2], (3 * 100 + 0 + 2) >> 2);    // 75
    EXPECT_EQ(o[3], (3 * 100 + 200 + 2) >> 2);  // 125
    EXPECT_EQ(o[13], (3 * 80 + 120 + 2) >> 2);  // 90
    EXPECT_EQ(o[14], (3 * 120 + 80 + 2) >> 2);  // 110
    EXPECT_EQ(o[15], 120);                      // last row copied
}

TEST(OutputFilters, FieldVerticalFilterGroups) {
    uint8_t c[8];
    for (int i = 0; i < 8; ++i) c[i] = uint8_t(10 * i + (i % 2 ? 100 : 0));  // 0,110,20,130,40,150,60,170
    uint8_t o[16];
    upFieldC(o, 1, c, 1, 1, 8);
    // First group.
    EXPECT_EQ(o[0], 0);
    EXPECT_EQ(o[1], (3 * 0 + 5 * 110 + 4) >> 3);
    EXPECT_EQ(o[2], (5 * 0 + 3 * 20 + 4) >> 3);
    EXPECT_EQ(o[3], (7 * 110 + 130 + 4) >> 3);
    // Middle group k = 1.
    EXPECT_EQ(o[4], (0 + 7 * 20 + 4) >> 3);
    EXPECT_EQ(o[5], (3 * 110 + 5 * 130 + 4) >> 3);
    EXPECT_EQ(o[6], (5 * 20 + 3 * 40 + 4) >> 3);
    EXPECT_EQ(o[7], (7 * 130 + 150 + 4) >> 3);
    // Last group k = 3.
    EXPECT_EQ(o[12], (40 + 7 * 60 + 4) >> 3);
    EXPECT_EQ(o[13], (3 * 150 + 5 * 170 + 4) >> 3);
    EXPECT_EQ(o[14], 60);
    EXPECT_EQ(o[15], (60 + 7 * 170 + 4) >> 3);
}

TEST(OutputFilters, HorizontalFilterDoublesTheLastEight) {
    uint8_t c[16], o[32];
    for (int i = 0; i < 16; ++i) c[i] = uint8_t(i * 10);
    upHorizontalC(o, c, 16);
    EXPECT_EQ(o[0], 0);
    EXPECT_EQ(o[1], 5);
    EXPECT_EQ(o[14], 70);
    EXPECT_EQ(o[15], 75);  // i = 7 = m - 9: still interpolated
    EXPECT_EQ(o[16], 80);
    EXPECT_EQ(o[17], 80);  // i = 8: doubled
    EXPECT_EQ(o[31], 150);
}

TEST(ColourConversion, Bt601KnownValues) {
    struct Known {
        uint8_t y, cb, cr, b, g, r;
    };
    const Known k[] = {
        {16, 128, 128, 0, 0, 0},         // black
        {235, 128, 128, 255, 255, 255},  // white
        {81, 90, 240, 0, 0, 254},        // 75% red: the blue sum is negative
        {126, 128, 128, 128, 128, 128},  // mid grey
    };
    for (const auto& v : k) {
        uint8_t y[16], cb[16], cr[16], bgr[48];
        std::memset(y, v.y, 16);
        std::memset(cb, v.cb, 16);
        std::memset(cr, v.cr, 16);
        for (unsigned mask : {0u, unsigned(kCpuAll)}) {
            Dsp d;
            initDsp(d, mask);
            d.yuvToBgr(bgr, y, cb, cr, 16);
            EXPECT_EQ(bgr[45], v.b) << int(v.y) << "," << int(v.cb) << "," << int(v.cr);
            EXPECT_EQ(bgr[46], v.g) << int(v.y) << "," << int(v.cb) << "," << int(v.cr);
            EXPECT_EQ(bgr[47], v.r) << int(v.y) << "," << int(v.cb) << "," << int(v.cr);
        }
    }
}

// ---------------------------------------------------------------------------
// Coefficient tables with the sign bit, and the skip table, against the
// plain VLC tables they are built from.

// The code at the top of w through a Vlc table: symbol and length.
std::pair<int, int> vlcAt(const Vlc& v, uint32_t w) {
    VlcEntry e = v.table()[w >> (32 - v.rootBits())];
    int extra = 0;  // a subtable's lengths count from its root bits
    if (e.len < 0) {
        e = v.table()[e.sym + ((w << v.rootBits()) >> (32 + e.len))];
        extra = v.rootBits();
    }
    return {e.len == 0 ? INT32_MIN : e.sym, e.len + extra};
}

TEST(CoefficientTables, SignedLookupAndSkipAgreeWithTheCodeTables) {
    const Tables& t = tables();
    std::mt19937 rng(99);
    for (int b15 = 0; b15 < 2; ++b15) {
        const Vlc& vlc = b15 ? t.dct1 : t.dct0;
        const CoefTable& coef = b15 ? t.coef1 : t.coef0;
        const CoefSkipTable& skip = b15 ? t.skip1 : t.skip0;
        for (int iter = 0; iter < 200000; ++iter) {
            // Leading zeros now and then reach the long codes and the escape.
            uint32_t w = rng();
            if (iter % 3 == 0) w >>= rng() % 12;
            const auto [sym, len] = vlcAt(vlc, w);
            const CoefEntry e = coef.lookup(w);
            if (sym == INT32_MIN) {
                ASSERT_EQ(e.run, kCoefInvalid) << std::hex << w;
            } else if (sym == kDctEob || sym == kDctEscape) {
                ASSERT_EQ(e.run, sym == kDctEob ? kCoefEob : kCoefEscape) << std::hex << w;
                ASSERT_EQ(e.len, len);
            } else {
                const bool negative = (w >> (31 - len)) & 1;
                ASSERT_EQ(e.run, sym & 0xFF) << std::hex << w;
                ASSERT_EQ(e.level, negative ? -(sym >> 8) : (sym >> 8)) << std::hex << w;
                ASSERT_EQ(e.len, len + 1);
            }
            // The skip table: the whole codes inside its bits, one by one.
            int used = 0, positions = 0;
            bool eob = false;
            for (;;) {
                const auto [s2, l2] = vlcAt(vlc, w << used);
                if (s2 == INT32_MIN || s2 == kDctEscape) break;
                const int total = s2 == kDctEob ? l2 : l2 + 1;
                if (used + total > CoefSkipTable::kBits) break;
                used += total;
                if (s2 == kDctEob) {
                    eob = true;
                    break;
                }
                positions += (s2 & 0xFF) + 1;
            }
            const uint16_t k = skip.lookup(w);
            ASSERT_EQ(CoefSkipTable::bits(k), used) << std::hex << w;
            ASSERT_EQ(CoefSkipTable::endOfBlock(k), eob) << std::hex << w;
            ASSERT_EQ(CoefSkipTable::positions(k), positions) << std::hex << w;
        }
    }
}

// Every entry of the two-coefficient table against the codes read one by
// one from the plain table: the whole codes inside its bits, at most two
// coefficients, then an end of block if it fits too; nothing when the first
// code is not a coefficient that fits.
TEST(CoefficientTables, PairTablesHoldTheCodesThatFitTheirBits) {
    const Tables& t = tables();
    constexpr int kBits = CoefPairTable::kBits;
    for (int b15 = 0; b15 < 2; ++b15) {
        const Vlc& vlc = b15 ? t.dct1 : t.dct0;
        const CoefPairTable& table = b15 ? t.pair1 : t.pair0;
        int pairs = 0;
        for (uint32_t v = 0; v < (1u << kBits); ++v) {
            const uint32_t w = v << (32 - kBits);
            struct Code {
                int run = -1, level = 0, len = 0;
                bool eob = false;
            };
            auto codeAt = [&](int used) {
                Code c;
                const auto [sym, len] = vlcAt(vlc, w << used);
                if (sym == INT32_MIN || sym == kDctEscape) return c;
                c.eob = sym == kDctEob;
                c.len = c.eob ? len : len + 1;
                if (used + c.len > kBits) return Code{};
                if (!c.eob) {
                    c.run = sym & 0xFF;
                    c.level = ((w << used) >> (31 - len)) & 1 ? -(sym >> 8) : (sym >> 8);
                }
                return c;
            };
            const CoefPair p = table.lookup(w);
            const Code first = codeAt(0);
            if (first.run < 0) {
                ASSERT_EQ(p.len, 0) << std::hex << w;
                continue;
            }
            ASSERT_EQ(p.run1, first.run) << std::hex << w;
            ASSERT_EQ(p.level1, first.level) << std::hex << w;
            int used = first.len;
            const Code second = codeAt(used);
            if (second.run >= 0) {
                ++pairs;
                ASSERT_EQ(p.run2, second.run) << std::hex << w;
                ASSERT_EQ(p.level2, second.level) << std::hex << w;
                used += second.len;
            } else {
                ASSERT_EQ(p.run2, -1) << std::hex << w;
                ASSERT_EQ(p.level2, first.level) << std::hex << w;
            }
            // The code after the coefficients (the second code when it is not
            // one) may end the block.
            const Code last = codeAt(used);
            ASSERT_EQ(p.eob != 0, last.eob) << std::hex << w;
            ASSERT_EQ(p.len, used + (last.eob ? last.len : 0)) << std::hex << w;
        }
        // Most short codes come in pairs.
        EXPECT_GT(pairs, (1 << kBits) / 4) << "table B-" << (b15 ? 15 : 14);
    }
}

// The signed motion_code table against the motion code table and the sign
// bit after the code, for every prefix.
TEST(MotionTables, SignedCodesAgreeWithTheMotionCodeTable) {
    const Tables& t = tables();
    for (uint32_t v = 0; v < (1u << MotionTable::kBits); ++v) {
        const uint32_t w = v << (32 - MotionTable::kBits);
        const auto [sym, len] = vlcAt(t.motion, w);
        const MotionEntry e = t.motionSigned.lookup(w);
        if (sym == INT32_MIN) {
            ASSERT_EQ(e.len, 0) << std::hex << w;
            continue;
        }
        const bool negative = sym != 0 && ((w >> (31 - len)) & 1);
        ASSERT_EQ(e.code, negative ? -sym : sym) << std::hex << w;
        ASSERT_EQ(e.len, sym == 0 ? len : len + 1) << std::hex << w;
    }
}

}  // namespace
