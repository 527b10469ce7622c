#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "cut_test_util.h"
#include "edit_state.h"
#include "file.h"
#include "program_tables.h"
#include "recording_host.h"
#include "test_util.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

struct Expected {
    int pid;
    int kind;
    const char* name;
    int minimum;
    int streamType;
};

void expectList(const ProgramList& list, const std::vector<Expected>& want) {
    ASSERT_EQ(list.count(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        const ProgramEntry& e = list.entries[i];
        EXPECT_EQ(e.pid, want[i].pid);
        EXPECT_EQ(e.kind, want[i].kind);
        EXPECT_EQ(e.name, want[i].name);
        EXPECT_EQ(e.minimum, want[i].minimum);
        EXPECT_EQ(e.streamType, want[i].streamType);
        EXPECT_EQ(e.selected, 1);
    }
}

// Feeds packets until the collection reports completion.
bool feed(ProgramList& list, const std::vector<Bytes>& packets) {
    bool done = false;
    for (const Bytes& p : packets) done = collectProgramPacket(list, p.data());
    return done;
}

std::vector<Bytes> tables(const Bytes& pat, int pmtPid, const Bytes& pmt) {
    std::vector<Bytes> out = sectionPackets(0, pat);
    for (Bytes& p : sectionPackets(pmtPid, pmt)) out.push_back(p);
    return out;
}

}  // namespace

TEST(ProgramTables, SingleProgramListsTablesStreamsAndNull) {
    ProgramList list;
    ASSERT_TRUE(feed(list, tables(patSection({{1, 0x100}}), 0x100, pmtSection(0x111, {{0x02, 0x111}, {0x0F, 0x112}}))));
    expectList(list, {{0x0000, 0, "PAT", 1, 0},
                      {0x0100, 2, "PMT", 1, 0},
                      {0x0111, 3, "PCR PID", 1, 0},
                      {0x0111, 4, "MPEG-2 Video", 1, 0x02},
                      {0x0112, 5, "MPEG-2 AAC", 1, 0x0F},
                      {0x1FFF, 99, "NULL", 0, 0}});
    EXPECT_EQ(list.pmtComplete, 1);
    EXPECT_EQ(list.lastProgramNumber, 1);
}

TEST(ProgramTables, NetworkPidAc3AndOtherStreamsKeepPmtOrder) {
    ProgramList list;
    ASSERT_TRUE(feed(list, tables(patSection({{0, 0x10}, {7, 0x1F0}, {8, 0x1F8}}), 0x1F0,
                                  pmtSection(0x1FF, {{0x06, 0x130}, {0x02, 0x140}, {0x81, 0x150}}, 6))));
    expectList(list, {{0x0000, 0, "PAT", 1, 0},
                      {0x0010, 1, "Network PID", 1, 0},
                      {0x01F0, 2, "PMT", 1, 0},
                      {0x01FF, 3, "PCR PID", 1, 0},
                      {0x0130, 0, "MPEG-2 PES packets", 0, 0x06},
                      {0x0140, 4, "MPEG-2 Video", 1, 0x02},
                      {0x0150, 5, "Dolby AC-3", 0, 0x81},
                      {0x1FFF, 99, "NULL", 0, 0}});
    // Only the first program is used.
    EXPECT_EQ(list.lastProgramNumber, 7);
}

TEST(ProgramTables, SectionsSpanningPacketsAreAssembled) {
    // ES_info descriptors push the PMT over three packets.
    ProgramList list;
    const Bytes pmt = pmtSection(0x200, {{0x02, 0x201, 150}, {0x03, 0x202, 150}, {0x83, 0x203, 40}}, 20);
    ASSERT_GT(pmt.size(), 183u + 184u);
    auto packets = tables(patSection({{2, 0x300}}), 0x300, pmt);
    ASSERT_EQ(packets.size(), 4u);
    // Foreign packets between the pieces do not disturb the assembly.
    packets.insert(packets.begin() + 2, psiPacket(0x201, Bytes{0, 0, 1, 0xE0}));
    ASSERT_TRUE(feed(list, packets));
    ASSERT_EQ(list.count(), 7u);
    EXPECT_EQ(list.entries[4].name, "MPEG-1 Audio");
    EXPECT_EQ(list.entries[5].name, "Linear PCM");
    EXPECT_EQ(list.entries[5].kind, 5);
    EXPECT_EQ(list.entries[5].minimum, 0);
    EXPECT_EQ(list.pmtStarted, 1);
}

TEST(ProgramTables, OversizedSectionIsNotAssembled) {
    ProgramList list;
    // A PMT claiming 1,200 section bytes would overrun the 1,100-byte buffer.
    Bytes huge = pmtSection(0x100, {{0x02, 0x101, 1180}});
    ASSERT_GT(huge.size(), ProgramList::kSectionCapacity);
    auto packets = tables(patSection({{1, 0x100}}), 0x100, huge);
    EXPECT_FALSE(feed(list, packets));
    EXPECT_EQ(list.count(), 2u);  // PAT, PMT
    // A well-formed copy afterwards is read normally.
    EXPECT_TRUE(feed(list, sectionPackets(0x100, pmtSection(0x101, {{0x02, 0x101}, {0x04, 0x102}}))));
    EXPECT_EQ(list.count(), 6u);
    // A section length of 4095 on PID 0 is refused the same way.
    ProgramList other;
    Bytes p = psiPacket(0, Bytes{0x00, 0xBF, 0xFF});
    EXPECT_FALSE(collectProgramPacket(other, p.data()));
    EXPECT_TRUE(other.empty());
}

TEST(ProgramTables, PmtWithoutVideoOrAudioNeverCompletesAndIsNotDuplicated) {
    ProgramList list;
    const auto packets = tables(patSection({{1, 0x100}}), 0x100, pmtSection(0x101, {{0x03, 0x101}}));
    EXPECT_FALSE(feed(list, packets));
    // Later copies of the PAT and PMT replace, not repeat, what they gave.
    EXPECT_FALSE(feed(list, packets));
    EXPECT_FALSE(feed(list, packets));
    expectList(list, {{0x0000, 0, "PAT", 1, 0},
                      {0x0100, 2, "PMT", 1, 0},
                      {0x0101, 3, "PCR PID", 1, 0},
                      {0x0101, 5, "MPEG-1 Audio", 1, 0x03}});
    // A copy that gains video completes the list.
    EXPECT_TRUE(feed(list, sectionPackets(0x100, pmtSection(0x101, {{0x02, 0x105}, {0x03, 0x101}}))));
    ASSERT_EQ(list.count(), 6u);
    EXPECT_EQ(list.entries[3].name, "MPEG-2 Video");
    EXPECT_EQ(list.entries[5].name, "NULL");
}

TEST(ProgramTables, PacketsWithoutPayloadOrWrongTableAreIgnored) {
    ProgramList list;
    Bytes noPayload = sectionPackets(0, patSection({{1, 0x100}}))[0];
    noPayload[3] = 0x20;  // adaptation field only
    EXPECT_FALSE(collectProgramPacket(list, noPayload.data()));
    Bytes notPat = sectionPackets(0, patSection({{1, 0x100}}))[0];
    notPat[5] = 0x42;
    EXPECT_FALSE(collectProgramPacket(list, notPat.data()));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.patStarted, 0);
}

TEST(ProgramTables, StreamTypeTable) {
    struct Row {
        int type;
        const char* name;
        int kind;
        int minimum;
    };
    // The ranges and the names that share a text or differ in the minimum set.
    const Row rows[] = {
        {0x00, "Reserved", 0, 0},
        {0x02, "MPEG-2 Video", 4, 1},
        {0x04, "MPEG-4 Audio", 5, 1},
        {0x11, "MPEG-4 Audio", 5, 1},
        {0x0F, "MPEG-2 AAC", 5, 1},
        {0x10, "MPEG-4 Visual", 0, 0},
        {0x14, "Extensions for DSM-CC", 0, 0},
        {0x15, "Reserved", 0, 0},
        {0x7F, "Reserved", 0, 0},
        {0x80, "unknown", 0, 0},
        {0x81, "Dolby AC-3", 5, 0},
        {0x82, "unknown", 0, 0},
        {0x83, "Linear PCM", 5, 0},
        {0x84, "User Private", 0, 0},
        {0xFF, "User Private", 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.type);
        const StreamTypeInfo info = streamTypeInfo(static_cast<uint8_t>(r.type));
        EXPECT_STREQ(info.name, r.name);
        EXPECT_EQ(info.kind, r.kind);
        EXPECT_EQ(info.minimum, r.minimum);
    }
}

TEST(ProgramTables, FindEntryByKindOrStreamType) {
    ProgramList list;
    feed(list,
         tables(patSection({{1, 0x100}}), 0x100, pmtSection(0x111, {{0x02, 0x111}, {0x03, 0x112}, {0x03, 0x113}})));
    ASSERT_NE(findProgramEntry(list, kKindAudio, FindBy::Kind), nullptr);
    EXPECT_EQ(findProgramEntry(list, kKindAudio, FindBy::Kind)->pid, 0x112);
    EXPECT_EQ(findProgramEntry(list, 0x02, FindBy::StreamType)->pid, 0x111);
    EXPECT_EQ(findProgramEntry(list, 0x0F, FindBy::StreamType), nullptr);
    EXPECT_EQ(findProgramEntry(list, kKindNull, FindBy::Kind)->pid, 0x1FFF);
    list.clear();
    EXPECT_EQ(findProgramEntry(list, kKindPat, FindBy::Kind), nullptr);
    EXPECT_EQ(list.pmtRegistered, 0);
}

TEST(ProgramTables, CollectionStopsAtTheTenThousandthPacket) {
    TempDir dir;
    auto build = [&](int completeAt) {
        Bytes file;
        const auto pat = sectionPackets(0, patSection({{1, 0x100}}));
        const auto radio = sectionPackets(0x100, pmtSection(0x101, {{0x03, 0x101}}));
        const auto full = sectionPackets(0x100, pmtSection(0x101, {{0x02, 0x105}, {0x03, 0x101}}));
        append(file, pat[0]);
        for (int n = 1; n < 10500; ++n) {
            if (n == completeAt)
                append(file, full[0]);
            else
                append(file, n % 50 == 1 ? radio[0] : psiPacket(0x101, Bytes{0, 0, 1, 0xC0}));
        }
        const std::string path = dir.path("limit" + std::to_string(completeAt) + ".ts");
        writeBytes(path, file.data(), file.size());
        return path;
    };
    for (int at : {9999, 10000}) {
        File f;
        ASSERT_TRUE(f.openRead(build(at)));
        ProgramList list;
        const bool done = collectProgramTables(list, f, 0, 188);
        EXPECT_EQ(done, at == 9999) << at;
        EXPECT_EQ(findProgramEntry(list, kKindNull, FindBy::Kind) != nullptr, at == 9999) << at;
        EXPECT_EQ(list.count(), at == 9999 ? 6u : 4u) << at;
    }
}

TEST(ProgramTables, AcquisitionOfRecordings) {
    struct Case {
        const char* file;
        int size;
        int sync;
        std::vector<Expected> want;
    };
    const Case cases[] = {
        {"sd_480p_mp2.ts",
         188,
         0,
         {{0, 0, "PAT", 1, 0},
          {0x1000, 2, "PMT", 1, 0},
          {0x100, 3, "PCR PID", 1, 0},
          {0x100, 4, "MPEG-2 Video", 1, 2},
          {0x101, 5, "MPEG-1 Audio", 1, 3},
          {0x1FFF, 99, "NULL", 0, 0}}},
        {"sd_480p_208.ts",
         208,
         4,
         {{0, 0, "PAT", 1, 0},
          {0x1000, 2, "PMT", 1, 0},
          {0x100, 3, "PCR PID", 1, 0},
          {0x100, 4, "MPEG-2 Video", 1, 2},
          {0x101, 5, "MPEG-1 Audio", 1, 3},
          {0x1FFF, 99, "NULL", 0, 0}}},
        {"no_video.ts",
         188,
         0,
         {{0, 0, "PAT", 1, 0},
          {0x1000, 2, "PMT", 1, 0},
          {0x100, 3, "PCR PID", 1, 0},
          {0x100, 5, "MPEG-1 Audio", 1, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EditState s;
        s.inputPath = dataPath(c.file);
        s.streamVideoPid = 0x100;
        RecordingHost host;
        EXPECT_EQ(acquirePids(s, host, 0, ProgramListChoice::Clipping), 1);
        expectList(s.pidList, c.want);
        EXPECT_TRUE(s.fileInfoPidList.empty());
        EXPECT_EQ(s.geometry.size, c.size);
        EXPECT_EQ(s.geometry.headerSize, 4);
        EXPECT_EQ(s.geometry.syncOffset, c.sync);
        EXPECT_EQ(s.streamVideoPid, 0xFFFF);
        EXPECT_TRUE(host.events.empty());
    }
}

TEST(ProgramTables, AcquisitionFromLaterPacketFillsTheFileInfoList) {
    EditState s;
    s.inputPath = dataPath("hd_1080i_aac.ts");
    RecordingHost host;
    EXPECT_EQ(acquirePids(s, host, 5000, ProgramListChoice::FileInfo), 1);
    EXPECT_TRUE(s.pidList.empty());
    ASSERT_EQ(s.fileInfoPidList.count(), 6u);
    EXPECT_EQ(s.fileInfoPidList.entries[4].name, "MPEG-2 AAC");
}

TEST(ProgramTables, AcquisitionFailures) {
    RecordingHost host;
    EditState s;
    EXPECT_EQ(acquirePids(s, host, 0, ProgramListChoice::Clipping), 0);  // no input named
    EXPECT_TRUE(host.events.empty());

    // The list keeps its content when the input cannot be read.
    s.pidList.entries.push_back(ProgramEntry{0, 0, 0x42, "kept", 1, 0});
    s.inputPath = dataPath("missing.ts");
    EXPECT_EQ(acquirePids(s, host, 0, ProgramListChoice::Clipping), 1);
    s.inputPath = dataPath("random_bytes.bin");
    EXPECT_EQ(acquirePids(s, host, 0, ProgramListChoice::Clipping), 1);
    s.inputPath = dataPath("empty.ts");
    EXPECT_EQ(acquirePids(s, host, 0, ProgramListChoice::Clipping), 1);
    ASSERT_EQ(s.pidList.count(), 1u);
    EXPECT_EQ(s.pidList.entries[0].name, "kept");
    EXPECT_EQ(host.events, (std::vector<std::string>{"message error: Input ファイルオープンエラー",
                                                     "message error: Not MPEG2 Transport Stream",
                                                     "message error: Not MPEG2 Transport Stream"}));
}

TEST(ProgramTables, ALateWorkerLeavesTheListAlone) {
    // A radio-only stream, so the worker would read its full 10,000
    // packets; it is held at its start until the wait is over.
    TempDir dir;
    Bytes file;
    const auto pat = sectionPackets(0, patSection({{1, 0x100}}));
    const auto radio = sectionPackets(0x100, pmtSection(0x101, {{0x03, 0x101}}));
    for (int n = 0; n < 10500; ++n) append(file, n % 100 == 0 ? pat[0] : n % 100 == 1 ? radio[0] : pat[0]);
    const std::string path = dir.path("radio.ts");
    writeBytes(path, file.data(), file.size());

    EditState s;
    s.inputPath = path;
    s.geometry = PacketGeometry{204, 4, 0};
    s.pidList.entries.push_back(ProgramEntry{0, 0, 0x42, "kept", 1, 0});
    RecordingHost host;
    std::promise<void> release;
    std::promise<void> ended;
    AcquisitionHooks hooks{[gate = release.get_future().share()] { gate.wait(); }, [&ended] { ended.set_value(); }};
    EXPECT_EQ(acquirePids(s, host, 0, ProgramListChoice::Clipping, 0, &hooks), 1);
    release.set_value();
    ended.get_future().wait();
    ASSERT_EQ(s.pidList.count(), 1u);
    EXPECT_EQ(s.pidList.entries[0].name, "kept");
    EXPECT_EQ(s.geometry.size, 204);
    EXPECT_TRUE(host.events.empty());

    // Waited for, the same file gives its list.
    EXPECT_EQ(acquirePids(s, host, 0, ProgramListChoice::Clipping), 1);
    EXPECT_EQ(s.pidList.count(), 4u);
    EXPECT_EQ(s.geometry.size, 188);
}
