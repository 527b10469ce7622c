// Single rules of the decoder: code tables, motion vectors, display sizes,
// the demultiplexer's packet handling, and stream errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "decoder.h"
#include "demux.h"
#include "es_support.h"
#include "output.h"
#include "tables.h"
#include "test_support.h"
#include "ts_probe.h"
#include "kivra.h"

using namespace kivra;
using namespace kivra_test;

namespace {

// ---------------------------------------------------------------------------
// Code tables

// Decodes one code of v from the bit string (spaces ignored).
int decodeOne(const Vlc& v, const char* bits, int* used = nullptr) {
    std::vector<uint8_t> bytes(8, 0);
    int n = 0;
    for (const char* s = bits; *s; ++s) {
        if (*s == ' ') continue;
        if (*s == '1') bytes[n / 8] |= uint8_t(0x80 >> (n % 8));
        ++n;
    }
    Demux d;
    d.attachMemory(bytes.data(), bytes.size());
    d.setTransport(false);
    d.setServeTail(true);
    d.seek(0);
    d.start();
    BitReader br;
    br.attach(&d);
    br.setStrictStop(false);
    br.need(24);
    const VlcEntry* t = v.table();
    VlcEntry e = t[br.peek(v.rootBits())];
    int len = 0;
    if (e.len < 0) {
        br.drop(v.rootBits());
        len = v.rootBits();
        e = t[e.sym + br.peek(-e.len)];
    }
    if (used) *used = len + e.len;
    return e.len == 0 ? -999 : e.sym;
}

int rl(int run, int level) { return run | (level << 8); }

TEST(CodeTables, AllArePrefixFreeAndTheCompleteOnesAddUp) {
    const Tables& t = tables();
    for (const Vlc* v :
         {&t.mbai, &t.mbTypeI, &t.mbTypeP, &t.mbTypeB, &t.cbp, &t.motion, &t.dcLuma, &t.dcChroma, &t.dct0, &t.dct1})
        EXPECT_TRUE(v->prefixFree());
    EXPECT_DOUBLE_EQ(t.dcLuma.kraftSum(), 1.0);
    EXPECT_DOUBLE_EQ(t.dcChroma.kraftSum(), 1.0);
    EXPECT_DOUBLE_EQ(t.cbp.kraftSum(), 1.0 - 1.0 / 512);  // only 0000 0000 0 is forbidden
    EXPECT_DOUBLE_EQ(t.mbTypeB.kraftSum(), 1.0 - 1.0 / 64);
}

TEST(CodeTables, CoefficientCodesThatDifferBetweenTheTwoTables) {
    const Tables& t = tables();
    int used = 0;
    // Table B-14 against Table B-15 for the same run/level.
    EXPECT_EQ(decodeOne(t.dct0, "0000 0010 01", &used), rl(5, 2));
    EXPECT_EQ(used, 10);
    EXPECT_EQ(decodeOne(t.dct1, "0000 0010 0", &used), rl(5, 2));
    EXPECT_EQ(used, 9);
    EXPECT_EQ(decodeOne(t.dct0, "0000 0001 0100"), rl(2, 4));
    EXPECT_EQ(decodeOne(t.dct1, "0000 0011 00"), rl(2, 4));
    EXPECT_EQ(decodeOne(t.dct0, "0000 0011 10"), rl(14, 1));
    EXPECT_EQ(decodeOne(t.dct1, "0000 0010 1"), rl(14, 1));
    EXPECT_EQ(decodeOne(t.dct1, "0000 0011 1"), rl(15, 1));
    EXPECT_EQ(decodeOne(t.dct1, "0000 0011 01"), rl(16, 1));
    EXPECT_EQ(decodeOne(t.dct0, "10"), kDctEob);
    EXPECT_EQ(decodeOne(t.dct1, "0110"), kDctEob);
    EXPECT_EQ(decodeOne(t.dct1, "1111 1111"), rl(0, 15));
    EXPECT_EQ(decodeOne(t.dct0, "0000 0000 0001 1011"), rl(31, 1));
    EXPECT_EQ(decodeOne(t.dct0, "0000 01"), kDctEscape);
    EXPECT_EQ(decodeOne(t.dct0, "0000 0000 0000 0000"), -999);
    EXPECT_EQ(decodeOne(t.mbai, "0000 0001 000"), kMbaiEscape);
    EXPECT_EQ(decodeOne(t.mbai, "0000 0011 000"), 33);
    EXPECT_EQ(decodeOne(t.cbp, "0000 0000 1"), 0);
    EXPECT_EQ(decodeOne(t.cbp, "111"), 60);
    EXPECT_EQ(decodeOne(t.motion, "0000 0011 00"), 16);
}

TEST(CodeTables, ScansAreEachAPermutation) {
    for (const uint8_t* scan : {kZigZag, kAlternate}) {
        bool seen[64] = {};
        for (int i = 0; i < 64; ++i) seen[scan[i]] = true;
        for (bool s : seen) EXPECT_TRUE(s);
    }
    EXPECT_EQ(kAlternate[1], 8);  // the alternate scan runs down first
    EXPECT_EQ(kNonLinearQuant[31], 112);
    EXPECT_EQ(kNonLinearQuant[9], 10);
}

// ---------------------------------------------------------------------------
// Motion vectors

TEST(MotionVectors, DeltaAndWrapAround) {
    EXPECT_EQ(Decoder::decodeMotionComponent(0, 5, 0, 1), 5);
    EXPECT_EQ(Decoder::decodeMotionComponent(15, 1, 0, 1), -16);   // past +15 wraps
    EXPECT_EQ(Decoder::decodeMotionComponent(-16, -1, 0, 1), 15);  // past -16 wraps
    EXPECT_EQ(Decoder::decodeMotionComponent(0, 3, 1, 2), 6);      // (3-1)*2 + 1 + 1
    EXPECT_EQ(Decoder::decodeMotionComponent(0, -3, 1, 2), -6);
    EXPECT_EQ(Decoder::decodeMotionComponent(10, 0, 0, 3), 10);
    // Against the standard's text for every code and residual, from
    // predictions across twice the range (a field vector's doubled one).
    for (int fCode = 1; fCode <= 9; ++fCode) {
        const int f = 1 << (fCode - 1), high = 16 * f - 1, low = -16 * f, range = 32 * f;
        for (int pred = -2 * 16 * f; pred < 2 * 16 * f; pred += 1 + f / 8)
            for (int code = -16; code <= 16; ++code)
                for (int residual = 0; residual < f; residual += 1 + f / 16) {
                    int delta = code;
                    if (f != 1 && code != 0) {
                        delta = (std::abs(code) - 1) * f + residual + 1;
                        if (code < 0) delta = -delta;
                    }
                    int v = pred + delta;
                    if (v < low) v += range;
                    if (v > high) v -= range;
                    ASSERT_EQ(Decoder::decodeMotionComponent(pred, code, f == 1 ? 0 : residual, fCode), v)
                        << "f_code " << fCode << " pred " << pred << " code " << code << " residual " << residual;
                }
    }
}

// The prediction of the common frame macroblock (frame motion inside the
// planes, done apart from the general path) gives the pictures the general
// path gives, on encoders' streams and on copies damaged at random (where
// vectors point anywhere).
TEST(MotionVectors, CommonFrameMacroblocksPredictAsTheGeneralPath) {
    std::srand(7);
    for (const char* name : {"sd_ibp.ts", "hd_interlaced.ts", "frame_dp.ts", "field_mix.ts", "sif_progressive.ts"}) {
        const auto es = elementaryStream(dataPath(name));
        ASSERT_FALSE(es.empty()) << name;
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(std::string(name) + " round " + std::to_string(round));
            auto bytes = es;
            for (int k = 0; k < 8 * round; ++k) bytes[64 + size_t(std::rand()) % (bytes.size() - 64)] ^= 0x10;
            EsDecoder fast(bytes), general(bytes);
            general.dec.setGeneralPrediction(true);
            int pictures = 0;
            while (fast.dec.readHeaders(-1) == Decoder::HeaderResult::Picture) {
                ASSERT_EQ(general.dec.readHeaders(-1), Decoder::HeaderResult::Picture);
                if (!fast.dec.canDecode()) continue;
                ASSERT_EQ(fast.dec.decodePicture(), general.dec.decodePicture());
                const FrameStore& a = fast.dec.currentFrame();
                const FrameStore& b = general.dec.currentFrame();
                const size_t sizes[3] = {size_t(a.width) * size_t(a.height),
                                         size_t(a.chromaWidth) * size_t(a.chromaHeight),
                                         size_t(a.chromaWidth) * size_t(a.chromaHeight)};
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(0, std::memcmp(a.plane[c], b.plane[c], sizes[c]))
                        << "picture " << pictures << " plane " << c;
                ++pictures;
            }
            EXPECT_GE(pictures, 10);
        }
    }
}

TEST(MotionVectors, DualPrimeOppositeParityVector) {
    const int v[2] = {5, -3}, dmv[2] = {1, -1};
    int o[2];
    // Field pictures (m 1): a top field predicts from the bottom one (e -1).
    Decoder::dualPrimeVector(v, dmv, 1, -1, o);
    EXPECT_EQ(o[0], ((5 + 1) >> 1) + 1);  // 4: halved rounding away from zero
    EXPECT_EQ(o[1], (-3 >> 1) - 1 - 1);   // -4
    // Frame pictures: the bottom field from the top field of the reference
    // three fields away (m 3, e +1).
    Decoder::dualPrimeVector(v, dmv, 3, 1, o);
    EXPECT_EQ(o[0], ((15 + 1) >> 1) + 1);  // 9
    EXPECT_EQ(o[1], (-9 >> 1) + 1 - 1);    // -5
    const int z[2] = {0, 0};
    Decoder::dualPrimeVector(z, z, 3, 1, o);
    EXPECT_EQ(o[0], 0);
    EXPECT_EQ(o[1], 1);
}

// ---------------------------------------------------------------------------
// Display size, resize request and stretch mode

TEST(DisplayRules, HeightsForTheAspectModes) {
    EXPECT_EQ(displayHeight(270, 0, 2), 202);
    EXPECT_EQ(displayHeight(270, 3, 2), 151);
    EXPECT_EQ(displayHeight(270, 9, 4), 122);
    EXPECT_EQ(displayHeight(270, 9, 1), 270);
    EXPECT_EQ(displayHeight(270, 9, 3), 151);
    EXPECT_EQ(displayHeight(270, 9, 2), 202);
    EXPECT_EQ(displayHeight(270, 5, 3), 202);  // any other mode: 4:3
    EXPECT_EQ(displayHeight(0, 9, 3), 0);
}

TEST(DisplayRules, ResizeRequestSizes) {
    // Preview window: the display size as it is.
    EXPECT_EQ(resizeFor(0, 270, 202, 720, 480, 3).packed(), (270u << 16) | 202u);
    // Output window: plus both dialog frames; unscaled: the coded size.
    ResizeRequest r = resizeFor(1, 0, 0, 720, 480, 3);
    EXPECT_EQ(r.width, 726);
    EXPECT_EQ(r.height, 486);
    r = resizeFor(1, 640, 360, 1440, 1088, 4);
    EXPECT_EQ(r.width, 648);
    EXPECT_EQ(r.height, 368);
    EXPECT_EQ(r.packed(), (648u << 16) | 368u);
}

TEST(DisplayRules, StretchModeChoice) {
    EXPECT_EQ(stretchModeFor(1, 270, 720), KIVRA_STRETCH_BLACKONWHITE);
    EXPECT_EQ(stretchModeFor(2, 270, 720), KIVRA_STRETCH_HALFTONE);
    EXPECT_EQ(stretchModeFor(0, 270, 720), KIVRA_STRETCH_COLORONCOLOR);
    EXPECT_EQ(stretchModeFor(0, 1280, 720), KIVRA_STRETCH_BLACKONWHITE);
}

TEST(DisplayRules, BitmapHeaderLayout) {
    uint8_t h[40];
    RgbPicture::buildHeader(h, 1440, 1088);
    auto rd32 = [&](int o) { return uint32_t(h[o] | h[o + 1] << 8 | h[o + 2] << 16 | uint32_t(h[o + 3]) << 24); };
    EXPECT_EQ(rd32(0), 40u);
    EXPECT_EQ(rd32(4), 1440u);
    EXPECT_EQ(rd32(8), 1088u);  // positive: bottom-up
    EXPECT_EQ(h[12] | h[13] << 8, 1);
    EXPECT_EQ(h[14] | h[15] << 8, 24);
    EXPECT_EQ(rd32(16), 0u);
    EXPECT_EQ(rd32(20), 1440u * 1088u * 3u);
    for (int o = 24; o < 40; ++o) EXPECT_EQ(h[o], 0);
}

// ---------------------------------------------------------------------------
// Demultiplexer

struct PacketSpec {
    int pid = 0x100;
    bool pusi = false;
    bool error = false;
    int afc = 1;
    int afLength = 0;  // for afc 2/3
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> packet(const PacketSpec& s, int size) {
    std::vector<uint8_t> p;
    if (size == 192 || size == 208) p.insert(p.end(), {0x11, 0x22, 0x33, 0x44});
    const size_t start = p.size();
    p.push_back(0x47);
    p.push_back(uint8_t((s.error ? 0x80 : 0) | (s.pusi ? 0x40 : 0) | (s.pid >> 8)));
    p.push_back(uint8_t(s.pid));
    p.push_back(uint8_t(s.afc << 4));
    if (s.afc & 2) {
        p.push_back(uint8_t(s.afLength));
        if (s.afLength > 0) {
            p.push_back(0);
            p.insert(p.end(), size_t(s.afLength - 1), 0xFF);
        }
    }
    const size_t room = 188 - (p.size() - start);
    for (size_t i = 0; i < room; ++i) p.push_back(i < s.payload.size() ? s.payload[i] : 0xFF);
    if (size == 204 || size == 208) p.insert(p.end(), 16, 0xEE);
    return p;
}

std::vector<uint8_t> pesPayload(std::vector<uint8_t> es, int headerDataLength) {
    std::vector<uint8_t> p = {0, 0, 1, 0xE0, 0, 0, 0x80, 0x80, uint8_t(headerDataLength)};
    p.insert(p.end(), size_t(headerDataLength), 0x21);
    p.insert(p.end(), es.begin(), es.end());
    return p;
}

// Everything the demultiplexer serves for the video PID.
std::vector<uint8_t> served(const std::vector<uint8_t>& file, int size, Demux* dm = nullptr) {
    std::unique_ptr<Demux> own;
    if (!dm) {
        own = std::make_unique<Demux>();
        dm = own.get();
    }
    dm->attachMemory(file.data(), file.size());
    dm->setPacketSize(size);
    dm->setVideoPid(0x100);
    dm->setServeTail(true);
    dm->seek(0);
    dm->start();
    std::vector<uint8_t> out;
    const uint8_t *p, *e;
    while (dm->nextSpan(p, e)) out.insert(out.end(), p, e);
    return out;
}

std::vector<uint8_t> bytesOf(int first, int count) {
    std::vector<uint8_t> v;
    for (int i = 0; i < count; ++i) v.push_back(uint8_t(first + i));
    return v;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> v;
    for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
    return v;
}

// The 16-byte scan against the byte-by-byte one (arbitrary bytes: the
// elementary stream fuzz target): a prefix at every place relative to the
// steps (its zeros ending the step before, its 01 the last byte), after a
// 01 that is not one, and the first of two.
TEST(StartCodes, ScanFindsTheFirstPrefixAsTheReference) {
    for (size_t n = 0; n <= 70; ++n) {
        for (size_t at = 0; at + 3 <= n; ++at) {
            std::vector<uint8_t> v(n, 0x55);
            v[at] = v[at + 1] = 0;
            v[at + 2] = 1;
            if (at >= 2) v[at - 2] = 0, v[at - 1] = 1;                  // a 01 after one zero only
            if (at + 6 <= n) v[at + 3] = v[at + 4] = 0, v[at + 5] = 1;  // a second prefix
            ASSERT_EQ(findStartCodeC(v.data(), n), at) << n;
            ASSERT_EQ(findStartCode(v.data(), n), at) << n << " " << at;
        }
        EXPECT_EQ(findStartCode(std::vector<uint8_t>(n, 0).data(), n), n);
    }
}

TEST(Demux, PesHeaderSkippedContinuationKeptWholeOtherPidsDropped) {
    for (int size : {188, 192, 204, 208}) {
        PacketSpec a;
        a.pusi = true;
        a.payload = pesPayload(bytesOf(1, 100), 5);
        PacketSpec other;
        other.pid = 0x101;
        other.payload = bytesOf(200, 50);
        PacketSpec cont;
        cont.payload = bytesOf(7, 184);  // no PES header: all of it is video
        const auto file = concat({packet(a, size), packet(other, size), packet(cont, size)});
        Demux dm;
        const auto got = served(file, size, &dm);
        std::vector<uint8_t> expect = bytesOf(1, 100);
        expect.insert(expect.end(), 184 - 9 - 5 - 100, 0xFF);  // the first packet's stuffing payload
        const auto c = bytesOf(7, 184);
        expect.insert(expect.end(), c.begin(), c.end());
        EXPECT_EQ(got, expect) << "packet size " << size;
        // In sync: no sync byte search beyond the prefix.
        EXPECT_EQ(dm.syncErrors(), 0u) << "packet size " << size;
    }
}

TEST(Demux, AdaptationFieldsErrorsAndReservedControlArePassedOver) {
    PacketSpec full;  // adaptation field fills the packet: no payload
    full.afc = 3;
    full.afLength = 183;
    PacketSpec af;  // adaptation field then payload
    af.afc = 3;
    af.afLength = 10;
    af.payload = bytesOf(50, 173);
    PacketSpec bad;  // transport_error_indicator
    bad.error = true;
    bad.payload = bytesOf(90, 184);
    PacketSpec reserved;
    reserved.afc = 0;
    reserved.payload = bytesOf(90, 184);
    PacketSpec onlyAf;
    onlyAf.afc = 2;
    onlyAf.afLength = 183;
    const auto file =
        concat({packet(full, 188), packet(bad, 188), packet(af, 188), packet(reserved, 188), packet(onlyAf, 188)});
    EXPECT_EQ(served(file, 188), bytesOf(50, 173));
}

TEST(Demux, PacketsStraddlingTheReadBlockAreServedWhole) {
    // 204 does not divide 36096: packets cross the block boundary.
    std::vector<uint8_t> file, expect;
    for (int i = 0; i < 400; ++i) {
        PacketSpec s;
        s.payload = bytesOf(i * 7, 184);
        const auto p = packet(s, 204);
        file.insert(file.end(), p.begin(), p.end());
        expect.insert(expect.end(), s.payload.begin(), s.payload.end());
    }
    EXPECT_EQ(served(file, 204), expect);
}

TEST(Demux, ResyncsAfterLostSyncAndCountsIt) {
    PacketSpec s;
    s.payload = bytesOf(1, 184);
    auto file = packet(s, 188);
    file.insert(file.end(), {0x00, 0x12, 0x34});  // three stray bytes
    PacketSpec t;
    t.payload = bytesOf(100, 184);
    const auto p2 = packet(t, 188);
    file.insert(file.end(), p2.begin(), p2.end());
    Demux dm;
    const auto got = served(file, 188, &dm);
    EXPECT_EQ(got, concat({bytesOf(1, 184), bytesOf(100, 184)}));
    EXPECT_EQ(dm.syncErrors(), 1u);
}

TEST(Demux, StopsAfter4000Packets) {
    PacketSpec other;
    other.pid = 0x200;
    const auto p = packet(other, 188);
    std::vector<uint8_t> file;
    for (int i = 0; i < 4100; ++i) file.insert(file.end(), p.begin(), p.end());
    PacketSpec v;
    v.payload = bytesOf(1, 184);
    const auto pv = packet(v, 188);
    file.insert(file.end(), pv.begin(), pv.end());
    Demux dm;
    EXPECT_TRUE(served(file, 188, &dm).empty());
    EXPECT_EQ(dm.stop(), Stop::PacketLimit);
    EXPECT_EQ(dm.packetCount(), 4001u);
}

TEST(Demux, WithoutTransportParsingBytesComeUnchanged) {
    const auto file = bytesOf(0, 250);
    Demux dm;
    dm.attachMemory(file.data(), file.size());
    dm.setTransport(false);
    dm.setServeTail(true);
    dm.seek(0);
    dm.start();
    std::vector<uint8_t> out;
    const uint8_t *p, *e;
    while (dm.nextSpan(p, e)) out.insert(out.end(), p, e);
    EXPECT_EQ(out, file);
}

TEST(Demux, LastPartialBlockIsNotServedToThePreview) {
    PacketSpec s;
    s.payload = bytesOf(1, 184);
    const auto p = packet(s, 188);
    std::vector<uint8_t> file;
    for (int i = 0; i < 200; ++i) file.insert(file.end(), p.begin(), p.end());  // 37600 bytes
    Demux dm;
    dm.attachMemory(file.data(), file.size());
    dm.setPacketSize(188);
    dm.setVideoPid(0x100);
    dm.seek(0);
    dm.start();
    size_t n = 0;
    const uint8_t *a, *b;
    while (dm.nextSpan(a, b)) n += size_t(b - a);
    EXPECT_EQ(n, 192u * 184u);  // the first block's 192 packets only
    EXPECT_EQ(dm.stop(), Stop::EndOfFile);
}

// ---------------------------------------------------------------------------
// Stream errors

TEST(StreamErrors, MissingLastSlicesEndThePictureWhichIsStillComplete) {
    const auto es = elementaryStream(dataPath("sd_ibp.ts"));
    ASSERT_FALSE(es.empty());
    const size_t pic = findCode(es, 0x00, 0);
    ASSERT_NE(pic, std::string::npos);
    const size_t cut = findCode(es, 0x14, pic);  // slice row 20 of 30
    const size_t next = findCode(es, 0x00, pic + 4);
    ASSERT_NE(cut, std::string::npos);
    ASSERT_LT(cut, next);
    std::vector<uint8_t> broken(es.begin(), es.begin() + long(cut));
    broken.insert(broken.end(), es.begin() + long(next), es.end());

    EsDecoder good(es), bad(broken);
    for (EsDecoder* d : {&good, &bad}) {
        ASSERT_EQ(d->dec.readHeaders(-1), Decoder::HeaderResult::Picture);
        ASSERT_EQ(d->dec.picture().codingType, kPicI);
        EXPECT_TRUE(d->dec.decodePicture());
    }
    EXPECT_EQ(good.dec.fault(), 0);
    EXPECT_EQ(bad.dec.fault(), kFaultStartCode);
    const int w = good.dec.lumaStride();
    const uint8_t* a = good.dec.currentFrame().plane[0];
    const uint8_t* b = bad.dec.currentFrame().plane[0];
    // Rows of the first 19 slices are the same, the missing ones are not.
    EXPECT_EQ(0, std::memcmp(a, b, size_t(w) * 16 * 19));
    EXPECT_NE(0, std::memcmp(a + size_t(w) * 16 * 19, b + size_t(w) * 16 * 19, size_t(w) * 16 * 11));
    // The next picture header was left for the header reader.
    EXPECT_EQ(bad.dec.readHeaders(-1), Decoder::HeaderResult::Picture);
    EXPECT_EQ(bad.dec.picture().codingType, kPicP);
}

TEST(StreamErrors, CorruptSliceDataLosesOnlyThatSlice) {
    auto es = elementaryStream(dataPath("sd_ibp.ts"));
    const size_t pic = findCode(es, 0x00, 0);
    const size_t s5 = findCode(es, 0x05, pic);
    const size_t s6 = findCode(es, 0x06, pic);
    ASSERT_LT(s5 + 40, s6);
    for (size_t i = s5 + 12; i < s5 + 36; ++i) es[i] = 0x00;  // invalid codes inside slice 5
    EsDecoder good(elementaryStream(dataPath("sd_ibp.ts"))), bad(es);
    for (EsDecoder* d : {&good, &bad}) {
        ASSERT_EQ(d->dec.readHeaders(-1), Decoder::HeaderResult::Picture);
        EXPECT_TRUE(d->dec.decodePicture());
    }
    const int w = good.dec.lumaStride();
    const uint8_t* a = good.dec.currentFrame().plane[0];
    const uint8_t* b = bad.dec.currentFrame().plane[0];
    EXPECT_EQ(0, std::memcmp(a, b, size_t(w) * 16 * 4));
    EXPECT_NE(0, std::memcmp(a + size_t(w) * 16 * 4, b + size_t(w) * 16 * 4, size_t(w) * 16));
    EXPECT_EQ(0, std::memcmp(a + size_t(w) * 16 * 5, b + size_t(w) * 16 * 5, size_t(w) * 16 * 25));
    EXPECT_EQ(bad.dec.fault(), 0);  // cleared with the abandoned slice
}

TEST(StreamErrors, SizesThatCannotBeAllocatedGiveNoStores) {
    auto es = elementaryStream(dataPath("sd_ibp.ts"));
    const size_t seq = findCode(es, 0xB3, 0);
    ASSERT_NE(seq, std::string::npos);
    // 4095 x 4095 in the sequence header, with a small limit for the test.
    es[seq + 4] = 0xFF;
    es[seq + 5] = 0xFF;
    es[seq + 6] = 0xFF;
    EsDecoder d(es);
    d.dec.setMaxPixels(int64_t(2048) * 2048);
    ASSERT_EQ(d.dec.readHeaders(-1), Decoder::HeaderResult::Picture);
    EXPECT_FALSE(d.dec.initialised());
    EXPECT_FALSE(d.dec.canDecode());
    EXPECT_FALSE(d.dec.decodePicture());
}

TEST(StreamErrors, EndlessZeroBytesEndTheHeaderSearch) {
    std::vector<uint8_t> zeros(200000, 0);
    EsDecoder d(zeros);
    EXPECT_EQ(d.dec.readHeaders(-1), Decoder::HeaderResult::Stopped);
}

TEST(SequenceSizes, CodedSizesFollowTheMacroblockRules) {
    struct Case {
        int w, h, progressive, cw, ch;
    };
    for (const Case c : {Case{1920, 1080, 0, 1920, 1088}, Case{720, 480, 1, 720, 480}, Case{1440, 1080, 0, 1440, 1088},
                         Case{720, 576, 0, 720, 576}, Case{352, 240, 1, 352, 240}, Case{1920, 1080, 1, 1920, 1088}}) {
        // Sequence header + sequence extension for the size.
        std::vector<uint8_t> es = {0,
                                   0,
                                   1,
                                   0xB3,
                                   uint8_t(c.w >> 4),
                                   uint8_t((c.w & 15) << 4 | c.h >> 8),
                                   uint8_t(c.h),
                                   0x23,
                                   0xFF,
                                   0xFF,
                                   0xE0,
                                   0x18,
                                   0,
                                   0,
                                   1,
                                   0xB5,
                                   0x14,
                                   uint8_t(0x82 | c.progressive << 3),
                                   0x00,
                                   0x01,
                                   0x00,
                                   0x00,
                                   0,
                                   0,
                                   1,
                                   0xB2};
        es.resize(es.size() + 64, 0);
        EsDecoder d(es);
        ASSERT_TRUE(d.dec.readHeaders(-1) == Decoder::HeaderResult::Stopped);
        EXPECT_EQ(d.dec.sequence().codedWidth, c.cw) << c.w << "x" << c.h;
        EXPECT_EQ(d.dec.sequence().codedHeight, c.ch) << c.w << "x" << c.h;
        EXPECT_EQ(d.dec.sequence().progressiveSequence, c.progressive);
        EXPECT_TRUE(d.dec.initialised());
    }
}

}  // namespace
