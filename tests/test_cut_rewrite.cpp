#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "cut_test_util.h"
#include "output_rewrite.h"
#include "program_tables.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

using Word = std::array<uint8_t, 4>;

Word word(const TimeCodeCounter& tc) {
    Word w{};
    formatTimeCodeWord(tc, w.data());
    return w;
}

// A video PES start: optional adaptation field, PES header, sequence header
// at 'seqAt' (offset in the packet) and GOP header at 'gopAt' with
// closed_gop and broken_link set.
Bytes videoStart(int seqAt, int gopAt, int adaptation = 0, int streamId = 0xE0) {
    Bytes p(188, 0xA5);
    p[0] = 0x47;
    p[1] = 0x41;
    p[2] = 0x00;
    int at = 4;
    if (adaptation > 0) {
        p[3] = 0x30;
        p[4] = static_cast<uint8_t>(adaptation);
        at = 5 + adaptation;
    } else {
        p[3] = 0x10;
    }
    const uint8_t pes[] = {0, 0, 1, static_cast<uint8_t>(streamId), 0, 0, 0x80, 0x80, 5, 0x21, 0, 1, 0, 1};
    std::copy(std::begin(pes), std::end(pes), p.begin() + at);
    if (seqAt >= 0) {
        const uint8_t seq[] = {0, 0, 1, 0xB3};
        std::copy(std::begin(seq), std::end(seq), p.begin() + seqAt);
    }
    if (gopAt >= 0) {
        const uint8_t gop[] = {0, 0, 1, 0xB8, 0x12, 0x34, 0x56, 0x60};
        for (int i = 0; i < 8 && gopAt + i < 188; ++i) p[static_cast<size_t>(gopAt + i)] = gop[i];
    }
    return p;
}

const PacketGeometry k188{188, 4, 0};

}  // namespace

TEST(TimeCode, WordLayout) {
    TimeCodeCounter tc;
    EXPECT_EQ(word(tc), (Word{0x00, 0x08, 0x00, 0x00}));  // only the marker bit
    tc.pictures = 15;
    EXPECT_EQ(word(tc), (Word{0x00, 0x08, 0x07, 0x80}));
    tc = TimeCodeCounter{};
    tc.seconds = 1;
    EXPECT_EQ(word(tc), (Word{0x00, 0x08, 0x20, 0x00}));
    tc = TimeCodeCounter{0, 23, 59, 1, 59, 15};
    EXPECT_EQ(word(tc), (Word{0x5F, 0xBF, 0x67, 0x80}));
    tc = TimeCodeCounter{0, 1, 2, 1, 3, 0};
    EXPECT_EQ(word(tc), (Word{0x04, 0x28, 0x60, 0x00}));
}

TEST(TimeCode, AdvanceCountsHalfSecondsAndWrapsAfterADay) {
    struct Step {
        int h, m, s, p;
    };
    TimeCodeCounter tc;
    const Step seq[] = {{0, 0, 0, 15}, {0, 0, 1, 0}, {0, 0, 1, 15}, {0, 0, 2, 0}};
    for (const Step& want : seq) {
        advanceTimeCode(tc);
        EXPECT_EQ(tc.hours * 1000000 + tc.minutes * 10000 + tc.seconds * 100 + tc.pictures,
                  want.h * 1000000 + want.m * 10000 + want.s * 100 + want.p);
    }
    tc = TimeCodeCounter{0, 0, 59, 1, 59, 15};
    advanceTimeCode(tc);
    EXPECT_EQ(tc.hours, 1);
    EXPECT_EQ(tc.minutes, 0);
    EXPECT_EQ(tc.seconds, 0);
    tc = TimeCodeCounter{0, 23, 59, 1, 59, 15};
    advanceTimeCode(tc);
    EXPECT_EQ(word(tc), (Word{0x00, 0x08, 0x00, 0x00}));
    EXPECT_EQ(tc.markerBit, 1);
    EXPECT_EQ(tc.dropFrame, 0);
}

TEST(TimeCode, RewriteOnlyTheFirstGopHeaderOfASequenceStart) {
    TimeCodeCounter tc;
    Bytes p = videoStart(18, 30);
    const uint8_t gop2[] = {0, 0, 1, 0xB8, 0x77, 0x77, 0x77, 0x77};
    std::copy(std::begin(gop2), std::end(gop2), p.begin() + 100);
    Bytes want = p;
    want[34] = 0x00;
    want[35] = 0x08;
    want[36] = 0x00;
    want[37] = 0x00;  // closed_gop and broken_link cleared
    EXPECT_TRUE(rewriteGopTimeCode(p.data(), k188, tc));
    EXPECT_EQ(p, want);
    EXPECT_EQ(tc.pictures, 15);

    // The next one gets the next count; an adaptation field moves the payload.
    Bytes q = videoStart(30, 50, 8);
    EXPECT_TRUE(rewriteGopTimeCode(q.data(), k188, tc));
    EXPECT_EQ(Word({q[54], q[55], q[56], q[57]}), (Word{0x00, 0x08, 0x07, 0x80}));
    EXPECT_EQ(tc.seconds, 1);
}

TEST(TimeCode, PacketsThatAreNotSequenceStartsStayUntouched) {
    struct Case {
        const char* what;
        Bytes packet;
    };
    Bytes noPusi = videoStart(18, 30);
    noPusi[1] = 0x01;
    Bytes noSync = videoStart(18, 30);
    noSync[0] = 0x48;
    Bytes adaptationOnly = videoStart(18, 30);
    adaptationOnly[3] = 0x20;
    Bytes hugeAdaptation = videoStart(18, 30);
    hugeAdaptation[3] = 0x30;
    hugeAdaptation[4] = 183;
    const Case cases[] = {
        {"GOP header without sequence header", videoStart(-1, 30)},
        {"audio PES", videoStart(18, 30, 0, 0xC0)},
        {"no payload unit start", noPusi},
        {"no sync byte", noSync},
        {"adaptation field only", adaptationOnly},
        {"adaptation field fills the packet", hugeAdaptation},
        // The GOP header's time code would reach into the next packet.
        {"GOP header split over packets", videoStart(18, 182)},
        {"GOP start code at the last position", videoStart(18, 181)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TimeCodeCounter tc;
        Bytes p = c.packet;
        EXPECT_FALSE(rewriteGopTimeCode(p.data(), k188, tc));
        EXPECT_EQ(p, c.packet);
        EXPECT_EQ(tc.pictures, 0);
    }
    // The last position that still holds the whole time code is used.
    TimeCodeCounter tc;
    Bytes edge = videoStart(18, 180);
    EXPECT_TRUE(rewriteGopTimeCode(edge.data(), k188, tc));
    EXPECT_EQ(Word({edge[184], edge[185], edge[186], edge[187]}), (Word{0x00, 0x08, 0x00, 0x00}));
}

TEST(TimeCode, RewriteInsidePrefixedAndTrailedUnits) {
    for (PacketGeometry g : {PacketGeometry{192, 4, 4}, PacketGeometry{204, 4, 0}, PacketGeometry{208, 4, 4}}) {
        SCOPED_TRACE(g.size);
        Bytes unit(static_cast<size_t>(g.size), 0xEE);
        const Bytes p = videoStart(18, 30);
        std::copy(p.begin(), p.end(), unit.begin() + g.syncOffset);
        Bytes want = unit;
        const size_t tcAt = static_cast<size_t>(g.syncOffset) + 34;
        want[tcAt] = 0x00;
        want[tcAt + 1] = 0x08;
        want[tcAt + 2] = 0x00;
        want[tcAt + 3] = 0x00;
        TimeCodeCounter tc;
        EXPECT_TRUE(rewriteGopTimeCode(unit.data(), g, tc));
        EXPECT_EQ(unit, want);
    }
}

TEST(PidFilter, KeepsOnlyCheckedPidsOfTheList) {
    ProgramList list;
    list.entries.push_back(ProgramEntry{0, kKindPat, 0x0000, "PAT", 1, 1});
    list.entries.push_back(ProgramEntry{0x02, kKindVideo, 0x0100, "MPEG-2 Video", 1, 1});
    list.entries.push_back(ProgramEntry{0x03, kKindAudio, 0x0101, "MPEG-1 Audio", 0, 1});
    const PidFilter f = makePidFilter(list);
    auto unitOf = [](int pid, int prefix) {
        Bytes u(static_cast<size_t>(prefix + 188), 0);
        u[static_cast<size_t>(prefix)] = 0x47;
        u[static_cast<size_t>(prefix + 1)] = static_cast<uint8_t>(0xE0 | (pid >> 8));  // flag bits ignored
        u[static_cast<size_t>(prefix + 2)] = static_cast<uint8_t>(pid & 0xFF);
        return u;
    };
    for (int prefix : {0, 4}) {
        const PacketGeometry g{188 + prefix, 4, prefix};
        EXPECT_TRUE(isSelectedPid(unitOf(0x0000, prefix).data(), g, f));
        EXPECT_TRUE(isSelectedPid(unitOf(0x0100, prefix).data(), g, f));
        EXPECT_FALSE(isSelectedPid(unitOf(0x0101, prefix).data(), g, f));  // unchecked
        EXPECT_FALSE(isSelectedPid(unitOf(0x1FFF, prefix).data(), g, f));  // not listed
    }
    // An empty list turns the filter off.
    const PidFilter off = makePidFilter(ProgramList{});
    EXPECT_FALSE(off.active);
    EXPECT_TRUE(isSelectedPid(unitOf(0x1FFF, 0).data(), k188, off));
    // The same PID listed twice is kept when either entry is checked.
    list.entries.push_back(ProgramEntry{0, kKindPcr, 0x0101, "PCR PID", 1, 1});
    EXPECT_TRUE(isSelectedPid(unitOf(0x0101, 0).data(), k188, makePidFilter(list)));
}

TEST(ClipHeadTables, PmtAndPcrPidFromPackets) {
    EXPECT_EQ(pmtPidFromPatPacket(sectionPackets(0, patSection({{1, 0x1000}}))[0].data()), 0x1000);
    EXPECT_EQ(pmtPidFromPatPacket(sectionPackets(0, patSection({{0, 0x10}, {3, 0x1F0}}))[0].data()), 0x1F0);
    EXPECT_EQ(pmtPidFromPatPacket(sectionPackets(0, patSection({{0, 0x10}}))[0].data()), 0);
    Bytes notPat = sectionPackets(0, patSection({{1, 0x1000}}))[0];
    notPat[5] = 0x02;
    EXPECT_EQ(pmtPidFromPatPacket(notPat.data()), 0);
    // A section length beyond the packet stops the loop at the packet's end.
    Bytes zeros = psiPacket(0, Bytes{0x00, 0xBF, 0xFF});
    std::fill(zeros.begin() + 8, zeros.end(), 0);
    EXPECT_EQ(pmtPidFromPatPacket(zeros.data()), 0);

    EXPECT_EQ(pcrPidFromPmtPacket(sectionPackets(0x1000, pmtSection(0x1FF, {{2, 0x100}}))[0].data()), 0x1FF);
    EXPECT_EQ(pcrPidFromPmtPacket(sectionPackets(0, patSection({{1, 0x1000}}))[0].data()), 0);
}

TEST(ClipHeadTables, LayoutPerPacketSize) {
    ClipHeadPackets h;
    auto fill = [](ClipHeadPackets::Unit& u, int sync, uint8_t tag) {
        u.bytes.fill(0);
        for (size_t i = 0; i < 208; ++i) u.bytes[i] = static_cast<uint8_t>(tag + i);
        u.bytes[static_cast<size_t>(sync)] = 0x47;
        u.sync = sync;
    };
    for (size_t i = 0; i < 6; ++i) h.prefix[i] = {static_cast<uint8_t>(i), 0, 0, static_cast<uint8_t>(i)};
    uint8_t out[3 * 256];

    fill(h.pat, 4, 0x10);
    fill(h.earlierPcr, 4, 0x20);
    fill(h.nearerPcr, 4, 0x30);
    ASSERT_EQ(layoutClipHead(h, 192, false, out), 3u * 192);
    Bytes want;
    for (int i = 0; i < 3; ++i) {
        const ClipHeadPackets::Unit& u = i == 0 ? h.pat : i == 1 ? h.earlierPcr : h.nearerPcr;
        append(want, h.prefix[static_cast<size_t>(3 + i)].data(), 4);
        append(want, u.bytes.data() + 4, 188);
    }
    EXPECT_EQ(Bytes(out, out + 3 * 192), want);

    ASSERT_EQ(layoutClipHead(h, 192, true, out), 3u * 188);
    EXPECT_EQ(Bytes(out, out + 188), Bytes(h.pat.bytes.begin() + 4, h.pat.bytes.begin() + 192));

    ASSERT_EQ(layoutClipHead(h, 208, false, out), 3u * 208);
    EXPECT_EQ(Bytes(out + 208, out + 416), Bytes(h.earlierPcr.bytes.begin(), h.earlierPcr.bytes.begin() + 208));

    fill(h.pat, 0, 0x10);
    fill(h.earlierPcr, 0, 0x20);
    fill(h.nearerPcr, 0, 0x30);
    ASSERT_EQ(layoutClipHead(h, 204, true, out), 3u * 204);  // 188 out only touches 192
    EXPECT_EQ(Bytes(out + 408, out + 612), Bytes(h.nearerPcr.bytes.begin(), h.nearerPcr.bytes.begin() + 204));
    ASSERT_EQ(layoutClipHead(h, 188, false, out), 3u * 188);
    EXPECT_EQ(Bytes(out + 188, out + 376), Bytes(h.earlierPcr.bytes.begin(), h.earlierPcr.bytes.begin() + 188));
}
