#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "file.h"
#include "test_util.h"
#include "ts_packet.h"

using namespace tavrel;
using tavrel::test::dataPath;
using tavrel::test::TempDir;

namespace {

struct GeometryCase {
    const char* file;
    bool found;
    int size;
    int syncOffset;
};

void PrintTo(const GeometryCase& c, std::ostream* os) { *os << c.file; }

class GeometryOfRecordings : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(GeometryOfRecordings, DetectsSizeAndLeavesFileAtStart) {
    const auto& c = GetParam();
    File f;
    ASSERT_TRUE(f.openRead(dataPath(c.file)));
    f.seek(1000);
    PacketGeometry g;
    EXPECT_EQ(detectPacketGeometry(f, g), c.found);
    EXPECT_EQ(f.tell(), 0);
    if (c.found) {
        EXPECT_EQ(g.size, c.size);
        EXPECT_EQ(g.headerSize, 4);
        EXPECT_EQ(g.syncOffset, c.syncOffset);
    }
    PacketGeometry limited;
    EXPECT_EQ(detectPacketGeometryLimited(f, limited), c.found);
    EXPECT_EQ(f.tell(), 0);
    if (c.found) {
        EXPECT_EQ(limited.size, c.size);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, GeometryOfRecordings,
    ::testing::Values(GeometryCase{"sd_480p_mp2.ts", true, 188, 0}, GeometryCase{"hd_1080i_aac_192.ts", true, 192, 4},
                      GeometryCase{"sd_480p_204.ts", true, 204, 0}, GeometryCase{"sd_480p_208.ts", true, 208, 4},
                      GeometryCase{"starts_mid_packet.ts", false, 0, 0}, GeometryCase{"empty.ts", false, 0, 0},
                      GeometryCase{"random_bytes.bin", false, 0, 0}),
    [](const ::testing::TestParamInfo<GeometryCase>& info) {
        std::string name = info.param.file;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

std::vector<uint8_t> syncOnlyPackets(int size, int count) {
    std::vector<uint8_t> v(static_cast<size_t>(size) * count, 0);
    const int sync = (size == 192 || size == 208) ? 4 : 0;
    for (int i = 0; i < count; ++i) v[static_cast<size_t>(i) * size + sync] = 0x47;
    return v;
}

TEST(Geometry, NeedsFourSyncBytesAtPacketSpacing) {
    PacketGeometry g;
    auto four = syncOnlyPackets(188, 4);
    EXPECT_TRUE(detectPacketGeometryInBuffer(four, g));
    EXPECT_EQ(g.size, 188);
    // Three sync bytes give only two hits.
    auto three = syncOnlyPackets(188, 3);
    three.resize(565, 0);
    EXPECT_FALSE(detectPacketGeometryInBuffer(three, g));
}

TEST(Geometry, StraySyncBytesInPayload) {
    PacketGeometry g;
    // A 0x47 at a distance that is no packet size resets the hit count; the
    // search then starts again from that byte.
    auto v = syncOnlyPackets(188, 8);
    v[188 + 50] = 0x47;
    EXPECT_TRUE(detectPacketGeometryInBuffer(v, g));
    EXPECT_EQ(g.size, 188);

    // A 0x47 at a packet-size distance but off the packet grid changes
    // nothing: the distance keeps growing from the last accepted sync byte.
    std::vector<uint8_t> w(188 * 6, 0);
    w[0] = 0x47;
    w[192] = 0x47;  // 192 bytes after, but 192 - 4 is not a multiple of 192
    for (int i = 1; i < 6; ++i) w[static_cast<size_t>(i) * 188] = 0x47;
    EXPECT_TRUE(detectPacketGeometryInBuffer(w, g));
    EXPECT_EQ(g.size, 188);
}

TEST(Geometry, AcrossDetectionBlocks) {
    // The sync bytes of interest straddle the 2080-byte read blocks.
    std::vector<uint8_t> v(4000, 0);
    const size_t start = 2000;
    v.resize(start + 208 * 4, 0);
    for (int i = 0; i < 4; ++i) v[start + 4 + static_cast<size_t>(i) * 208] = 0x47;
    // start + 4 is 2004, a multiple of neither 208 nor 188: no result.
    PacketGeometry g;
    EXPECT_FALSE(detectPacketGeometryInBuffer(v, g));
    std::vector<uint8_t> aligned(208 * 12, 0);
    for (int i = 8; i < 12; ++i) aligned[static_cast<size_t>(i) * 208 + 4] = 0x47;
    EXPECT_TRUE(detectPacketGeometryInBuffer(aligned, g));
    EXPECT_EQ(g.size, 208);
    EXPECT_EQ(g.syncOffset, 4);
}

TEST(PacketHeader, FieldsAndAdaptationField) {
    uint8_t p[188] = {};
    p[0] = 0x47;
    p[1] = 0x80 | 0x40 | 0x20 | 0x01;  // TEI, PUSI, priority, PID high bits 1
    p[2] = 0x23;
    p[3] = 0x80 | 0x30 | 0x07;  // scrambling 2, AF + payload, CC 7
    p[4] = 7;                   // adaptation field length
    p[5] = 0x10 | 0x40;         // PCR flag, random access
    // PCR base 0x1ABCDEF01 (33 bits), extension 0x155.
    const uint64_t base = 0x1ABCDEF01ULL;
    p[6] = static_cast<uint8_t>(base >> 25);
    p[7] = static_cast<uint8_t>(base >> 17);
    p[8] = static_cast<uint8_t>(base >> 9);
    p[9] = static_cast<uint8_t>(base >> 1);
    p[10] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | 0x01);
    p[11] = 0x55;

    PacketHeader h{};
    ASSERT_TRUE(parsePacketHeader(p, false, h));
    EXPECT_EQ(h.sync, 0x47);
    EXPECT_EQ(h.transportError, 1);
    EXPECT_EQ(h.pusi, 1);
    EXPECT_EQ(h.priority, 1);
    EXPECT_EQ(h.pid, 0x123);
    EXPECT_EQ(h.scrambling, 2);
    EXPECT_EQ(h.adaptationFieldControl, 3);
    EXPECT_EQ(h.cc, 7);
    EXPECT_EQ(h.payloadOffset, 12);
    EXPECT_EQ(h.af.length, 7);
    EXPECT_EQ(h.af.randomAccess, 1);
    EXPECT_EQ(h.af.pcrFlag, 1);
    EXPECT_EQ(h.af.pcrBase, static_cast<int64_t>(base));
    EXPECT_EQ(h.af.pcrExt, 0x155);

    // Header only: the length is read, the PCR is not.
    PacketHeader ho{};
    ASSERT_TRUE(parsePacketHeader(p, true, ho));
    EXPECT_EQ(ho.af.length, 7);
    EXPECT_EQ(ho.af.pcrFlag, 0);
    EXPECT_FALSE(parsePacketHeader(nullptr, false, ho));

    // Adaptation field only: the payload offset keeps its previous value.
    p[3] = 0x20;
    PacketHeader keep{};
    keep.payloadOffset = 99;
    parsePacketHeader(p, false, keep);
    EXPECT_EQ(keep.payloadOffset, 99);
}

TEST(PacketHeader, CorruptAdaptationLengthStaysInsidePacket) {
    // Every flag set and a length of 255: the parse must not read past the
    // packet (ASan checks the heap copy below).
    std::vector<uint8_t> p(188, 0xFF);
    p[0] = 0x47;
    p[3] = 0x30;
    PacketHeader h{};
    parsePacketHeader(p.data(), false, h);
    EXPECT_EQ(h.af.length, 255);
    EXPECT_EQ(h.payloadOffset, 260);
}

void putTimestamp(uint8_t* t, int marker, int64_t v) {
    t[0] = static_cast<uint8_t>((marker << 4) | (((v >> 30) & 7) << 1) | 1);
    t[1] = static_cast<uint8_t>(v >> 22);
    t[2] = static_cast<uint8_t>(((v >> 15) & 0x7F) << 1 | 1);
    t[3] = static_cast<uint8_t>(v >> 7);
    t[4] = static_cast<uint8_t>((v & 0x7F) << 1 | 1);
}

TEST(PesTimestamps, FlagsDecideWhatIsRead) {
    uint8_t q[16] = {};
    putTimestamp(q + 5, 3, 8589934591LL);
    putTimestamp(q + 10, 1, 123456789);
    int64_t pts = 7, dts = 7;
    char pt[16] = "x", dt[16] = "x";

    q[3] = 0xC0;
    ASSERT_TRUE(readPesTimestamps(q, pts, dts, pt, dt));
    EXPECT_EQ(pts, 8589934591LL);
    EXPECT_EQ(dts, 123456789);
    EXPECT_STREQ(pt, "26:30:43:717");
    EXPECT_STREQ(dt, "00:22:51:742");

    q[3] = 0x80;
    ASSERT_TRUE(readPesTimestamps(q, pts, dts, pt, dt));
    EXPECT_EQ(dts, -1);
    EXPECT_STREQ(dt, "00:00:00:000");

    for (uint8_t flags : {uint8_t{0x40}, uint8_t{0x00}}) {
        q[3] = flags;
        pts = 5;
        pt[0] = 'z';
        EXPECT_FALSE(readPesTimestamps(q, pts, dts, pt, dt));
        EXPECT_EQ(pts, 5);
        EXPECT_EQ(pt[0], 'z');
    }
}

TEST(TimeText, Ninety_kHz) {
    EXPECT_EQ(time90kText(0), "00:00:00:000");
    EXPECT_EQ(time90kText(8589934591LL), "26:30:43:717");
    EXPECT_EQ(time90kText(90000LL * 3661 + 45 * 90), "01:01:01:045");
    EXPECT_EQ(time90kText(89), "00:00:00:000");
}

// Packets with distinct PCRs on every tenth packet; returns the file bytes.
std::vector<uint8_t> pcrStream(int packetSize, int count) {
    const int sync = (packetSize == 192 || packetSize == 208) ? 4 : 0;
    std::vector<uint8_t> v(static_cast<size_t>(packetSize) * count, 0);
    for (int i = 0; i < count; ++i) {
        uint8_t* p = v.data() + static_cast<size_t>(i) * packetSize + sync;
        p[0] = 0x47;
        p[1] = 0x01;
        p[2] = 0x00;
        if (i % 10 == 3) {
            p[3] = 0x30;
            p[4] = 7;
            p[5] = 0x10;
            const uint64_t base = 1000 + static_cast<uint64_t>(i);
            p[6] = static_cast<uint8_t>(base >> 25);
            p[7] = static_cast<uint8_t>(base >> 17);
            p[8] = static_cast<uint8_t>(base >> 9);
            p[9] = static_cast<uint8_t>(base >> 1);
            p[10] = static_cast<uint8_t>((base & 1) << 7);
        } else {
            p[3] = 0x10;
        }
    }
    return v;
}

// Independent model of the search: PCR-bearing packets below start, newest first.
int64_t expectedPcrBackward(int64_t start, int limit) {
    int seen = 0;
    for (int64_t i = start - 1; i >= 0; --i) {
        if (i % 10 == 3 && ++seen == limit + 1) return i;
    }
    return start > 0 ? 0 : -1;
}

TEST(PcrBackward, FindsThirdPcrBelowStartForEverySize) {
    TempDir dir;
    for (int size : {188, 192, 204, 208}) {
        auto bytes = pcrStream(size, 700);
        const std::string path = dir.path("pcr" + std::to_string(size) + ".ts");
        tavrel::test::writeBytes(path, bytes.data(), bytes.size());
        File f;
        ASSERT_TRUE(f.openRead(path));
        for (int64_t start : {250, 99, 100, 101, 200, 613, 699, 24, 5, 0}) {
            SCOPED_TRACE(testing::Message() << "size " << size << " start " << start);
            EXPECT_EQ(findPcrBackward(f, start, size, 2), expectedPcrBackward(start, 2));
            EXPECT_EQ(f.tell(), 0);
        }
        EXPECT_EQ(findPcrBackward(f, 250, size, 2), 223);
    }
}

TEST(PcrBackward, RepeatedPcrValuesAreNotChanges) {
    TempDir dir;
    auto bytes = pcrStream(188, 300);
    // Give packets 243 and 233 the PCR of 253: the changes then come at 223 and 213.
    auto copyPcr = [&](int from, int to) {
        std::memcpy(bytes.data() + to * 188 + 3, bytes.data() + from * 188 + 3, 9);
    };
    copyPcr(253, 243);
    copyPcr(253, 233);
    const std::string path = dir.path("rep.ts");
    tavrel::test::writeBytes(path, bytes.data(), bytes.size());
    File f;
    ASSERT_TRUE(f.openRead(path));
    EXPECT_EQ(findPcrBackward(f, 260, 188, 2), 213);
}

}  // namespace
