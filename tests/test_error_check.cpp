// The transport error check: the per-packet rules on hand-built packets, the
// error file of a real recording with a duplicated packet, cancel, and the
// error view's tree.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <tuple>
#include <utility>

#include "error_check.h"
#include "file.h"
#include "recording_host.h"
#include "ts_packet.h"
#include "test_util.h"

namespace tavrel {
namespace {

using Packet = std::array<uint8_t, 188>;

// afc 1: payload only; 2: adaptation field only; 3: both. afLength and
// afFlags fill the adaptation field when there is one.
Packet makePacket(int pid, int cc, int afc = 1, int afLength = 0, uint8_t afFlags = 0) {
    Packet p;
    p.fill(0xFF);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((pid >> 8) & 0x1F);
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>(afc << 4 | (cc & 0x0F));
    if (afc >= 2) {
        p[4] = static_cast<uint8_t>(afLength);
        p[5] = afFlags;
    }
    return p;
}

// A PAT naming the network PID first, then one program.
Packet makePat(int cc, int sid, int pmtPid) {
    Packet p = makePacket(0, cc);
    p[1] |= 0x40;
    p[4] = 0;  // pointer_field
    const uint8_t section[] = {0x00,
                               0xB0,
                               17,
                               0x00,
                               0x01,
                               0xC1,
                               0x00,
                               0x00,
                               0x00,
                               0x00,
                               0xE0,
                               0x10,  // program 0: network PID 0x10
                               static_cast<uint8_t>(sid >> 8),
                               static_cast<uint8_t>(sid),
                               static_cast<uint8_t>(0xE0 | pmtPid >> 8),
                               static_cast<uint8_t>(pmtPid),
                               0,
                               0,
                               0,
                               0};
    std::memcpy(p.data() + 5, section, sizeof section);
    return p;
}

struct Feed {
    TransportErrorChecker checker{false};
    std::vector<ErrorRecord> out;
    int64_t number = 0;
    explicit Feed(bool discon = false) : checker(discon) {}
    void operator()(const Packet& p) { checker.packet(p.data(), number++, out); }
};

ErrorRecord rec(int sid, int pmt, int pid, int kind, int counters, int64_t packet) {
    return {static_cast<uint16_t>(sid), static_cast<uint16_t>(pmt),     static_cast<uint16_t>(pid),
            static_cast<uint8_t>(kind), static_cast<uint8_t>(counters), packet};
}

TEST(ErrorCheckRules, FirstPacketIsNoErrorButRepeatsAndGapsAre) {
    Feed f;
    f(makePacket(0x100, 7));  // first of its PID: any counter is fine
    f(makePacket(0x100, 8));
    f(makePacket(0x100, 8));  // repeated (a duplicated packet)
    f(makePacket(0x100, 9));
    f(makePacket(0x100, 12));  // two lost
    f(makePacket(0x100, 13));
    f(makePacket(0x101, 3));  // another PID starts fresh
    f(makePacket(0x100, 14));
    f(makePacket(0x100, 15));
    f(makePacket(0x100, 0));  // wraps
    const std::vector<ErrorRecord> want = {rec(0, 0, 0x100, 2, 0x98, 2), rec(0, 0, 0x100, 2, 0xAC, 4)};
    EXPECT_EQ(f.out, want);
}

TEST(ErrorCheckRules, AdaptationOnlyPacketsAreSkippedAndKeepTheCounter) {
    Feed f;
    f(makePacket(0x200, 4));
    f(makePacket(0x200, 9, 2, 7));  // no payload: neither checked nor remembered
    f(makePacket(0x200, 5, 3, 7));  // follows 4: no error
    f(makePacket(0x200, 2, 2, 7));
    f(makePacket(0x200, 7));  // 6 expected: the afc 2 packet did not move it
    const std::vector<ErrorRecord> want = {rec(0, 0, 0x200, 2, 0x67, 4)};
    EXPECT_EQ(f.out, want);
}

TEST(ErrorCheckRules, ExcludedPidsNeverGiveCounterRecords) {
    Feed f;
    for (int pid : {0x001E, 0x001F, 0x1FFF, 0x0020}) {
        f(makePacket(pid, 0));
        f(makePacket(pid, 5));
        f(makePacket(pid, 5));
    }
    // Only the control PID 0x20 is checked.
    const std::vector<ErrorRecord> want = {rec(0, 0, 0x20, 2, 0x15, 10), rec(0, 0, 0x20, 2, 0x65, 11)};
    EXPECT_EQ(f.out, want);
    // PAT packets with jumping counters give no record either.
    Feed pat;
    pat(makePat(0, 1, 0x1000));
    pat(makePat(9, 1, 0x1000));
    pat(makePat(9, 1, 0x1000));
    EXPECT_TRUE(pat.out.empty());
}

TEST(ErrorCheckRules, ProgramChangeMakesKindThreeForPidsSeenBeforeIt) {
    Feed f;
    f(makePacket(0x1FFF, 0));  // packet 0
    f(makePacket(0x100, 0));   // packet 1, before any PAT: program 0 / 0
    f(makePacket(0x100, 2));   // packet 2: kind 2 under SID 0
    f(makePat(0, 1, 0x1000));  // packet 3: program 1 begins here
    f(makePacket(0x100, 3));   // packet 4: follows 2, no error
    f(makePacket(0x110, 0));   // packet 5
    f(makePat(1, 1, 0x1000));  // packet 6: the same program, no change
    EXPECT_EQ(f.checker.changePoint(), 3);
    f(makePacket(0x100, 9));   // packet 7: last seen at 4 > 3: kind 2
    f(makePat(2, 2, 0x1100));  // packet 8: program 2
    EXPECT_EQ(f.checker.changePoint(), 8);
    f(makePacket(0x110, 7));  // packet 9: last seen at 5 < 8: kind 3
    f(makePacket(0x110, 9));  // packet 10: last seen at 9 > 8: kind 2
    const std::vector<ErrorRecord> want = {rec(0, 0, 0x100, 2, 0x12, 2), rec(1, 0x1000, 0x100, 2, 0x49, 7),
                                           rec(2, 0x1100, 0x110, 3, 0x17, 9), rec(2, 0x1100, 0x110, 2, 0x89, 10)};
    EXPECT_EQ(f.out, want);
    // A PAT with another table_id names no program.
    Packet bad = makePat(3, 2, 0x1100);
    bad[5] = 0x02;
    f(bad);
    EXPECT_EQ(f.checker.sid(), 0);
    EXPECT_EQ(f.checker.pmtPid(), 0);
    EXPECT_EQ(f.checker.changePoint(), 11);
}

TEST(ErrorCheckRules, DiscontinuityOnlyWithSettingAndNonEmptyField) {
    for (bool discon : {false, true}) {
        Feed f(discon);
        f(makePacket(0x100, 0, 3, 0, 0x80));    // empty field: the 0x80 is payload
        f(makePacket(0x100, 1, 3, 1, 0x80));    // packet 1: indicator set
        f(makePacket(0x100, 2, 2, 183, 0x80));  // packet 2: adaptation only, set
        f(makePacket(0x100, 2, 1, 1, 0x80));    // afc 1: no adaptation field
        f(makePacket(0x01E, 0, 3, 1, 0x80));    // PID 0x1E is never recorded
        f(makePacket(0x101, 0, 3, 1, 0x00));    // flag clear
        std::vector<ErrorRecord> want;
        if (discon) want = {rec(0, 0, 0x100, 1, 0, 1), rec(0, 0, 0x100, 1, 0, 2)};
        EXPECT_EQ(f.out, want) << "discon " << discon;
    }
}

TEST(ErrorFile, RecordBytesAndTexts) {
    const ErrorRecord r = rec(0x0102, 0x1FC8, 0x0111, 3, 0x57, 0x0102030405060708LL);
    uint8_t bytes[16];
    encodeErrorRecord(r, bytes);
    const uint8_t want[16] = {0x01, 0x02, 0x1F, 0xC8, 0x01, 0x11, 0x03, 0x57,
                              0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(0, std::memcmp(bytes, want, 16));
    EXPECT_EQ(decodeErrorRecord(bytes), r);

    EXPECT_EQ(errorEventText(rec(1, 1, 1, 2, 0x57, 1234)), "CC [ 5 →  7] [1234]");
    EXPECT_EQ(errorEventText(rec(1, 1, 1, 3, 0xF0, 9)), "CC(*) [15 →  0] [9]");
    EXPECT_EQ(errorEventText(rec(1, 1, 1, 1, 0, 77)), "DI  [77]");
    EXPECT_EQ(errorEventText(rec(1, 1, 1, 9, 0x57, 5)), "?  [5]");
}

TEST(ErrorFile, ParseRefusesWrongHeaderAndPartialRecords) {
    std::vector<ErrorRecord> records;
    auto parse = [&records](const std::string& bytes) {
        return parseErrorFile(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                              records);
    };
    const std::string header = "TS Error Check\r\n";
    EXPECT_EQ(parse(header), ErrorFileStatus::Ok);
    EXPECT_TRUE(records.empty());
    uint8_t one[16];
    encodeErrorRecord(rec(1, 0x1000, 0x100, 2, 0x12, 42), one);
    const std::string record(reinterpret_cast<const char*>(one), 16);
    ASSERT_EQ(parse(header + record), ErrorFileStatus::Ok);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].packet, 42);
    EXPECT_EQ(parse(header + record + "x"), ErrorFileStatus::Malformed);
    EXPECT_EQ(parse("TS Error check\r\n" + record), ErrorFileStatus::Malformed);
    EXPECT_EQ(parse("TS Error"), ErrorFileStatus::Malformed);
}

TEST(ErrorTree, ProgramsAndPidsGroupAndAProgramThatComesBackGetsANewItem) {
    const std::vector<ErrorRecord> records = {
        rec(0, 0, 0x100, 2, 0x12, 5),  // before any PAT
        rec(1, 0x1000, 0x100, 2, 0x12, 10), rec(1, 0x1000, 0x110, 2, 0x34, 11),
        rec(1, 0x1000, 0x100, 3, 0x57, 12),                                      // joins the first 0x0100 item
        rec(2, 0x1FC8, 0x1011, 1, 0, 20),   rec(1, 0x1000, 0x110, 2, 0xF0, 30),  // program 1 again: a new item
    };
    std::vector<std::pair<int, std::string>> got;
    std::vector<ErrorTreeItem> items = buildErrorTree(records);
    for (const auto& i : items) got.emplace_back(i.level, i.text);
    const std::vector<std::pair<int, std::string>> want = {
        {0, "Root"},
        {1, "SID [---] / PMT [0x----]"},
        {2, "0x0100"},
        {3, "CC [ 1 →  2] [5]"},
        {1, "SID [   1] / PMT [0x1000]"},
        {2, "0x0100"},
        {3, "CC [ 1 →  2] [10]"},
        {3, "CC(*) [ 5 →  7] [12]"},
        {2, "0x0110"},
        {3, "CC [ 3 →  4] [11]"},
        {1, "SID [   2] / PMT [0x1FC8]"},
        {2, "0x1011"},
        {3, "DI  [20]"},
        {1, "SID [   1] / PMT [0x1000]"},
        {2, "0x0110"},
        {3, "CC [15 →  0] [30]"},
    };
    EXPECT_EQ(got, want);
    // Events carry their packet and record; the others packet 0.
    EXPECT_EQ(items[7].kind, ErrorTreeItem::Event);
    EXPECT_EQ(items[7].packet, 12);
    EXPECT_EQ(items[7].record, 3);
    EXPECT_EQ(items[8].kind, ErrorTreeItem::Pid);
    EXPECT_EQ(items[8].packet, 0);
    EXPECT_EQ(items[4].kind, ErrorTreeItem::Program);
    EXPECT_TRUE(items[4].expanded);
    EXPECT_FALSE(items[8].expanded);
    EXPECT_EQ(buildErrorTree({}).size(), 1u);
}

std::string errorFileBytes(const std::vector<ErrorRecord>& records) {
    std::string bytes(kErrorFileHeader, kErrorFileHeaderSize);
    for (const ErrorRecord& r : records) {
        uint8_t b[kErrorRecordSize];
        encodeErrorRecord(r, b);
        bytes.append(reinterpret_cast<const char*>(b), sizeof b);
    }
    return bytes;
}

using ItemTuple = std::tuple<int, int, std::string, int64_t, int64_t, bool>;
ItemTuple tupleOf(const ErrorTreeItem& i) { return {i.kind, i.level, i.text, i.packet, i.record, i.expanded}; }

// The file walk holds a bounded number of records, reading a program item
// again per group of PIDs that fits, and gives the tree the records in
// memory give, in the same order, for any bound.
TEST(ErrorTree, FileWalkWithLittleMemoryGivesTheSameTree) {
    std::vector<ErrorRecord> records;
    // Programs 1, 2, 1 again; within them PIDs interleaved, one PID far more
    // frequent than the others, and a PID value beyond 13 bits.
    for (int64_t i = 0; i < 600; ++i) {
        const int program = i < 250 ? 1 : i < 300 ? 2 : 1;
        const int pid = i % 3 == 0 ? 0x100 : i % 7 == 0 ? 0x111 : i % 11 == 0 ? 0xFFFF : 0x101 + int(i % 5);
        records.push_back(rec(program, 0x1000 + program, pid, 1 + int(i % 3), int(i & 0xFF), 1000 + i));
    }
    records.push_back(rec(0, 0, 0x200, 2, 0x01, 9999));
    test::TempDir dir;
    const std::string path = dir.path("r.ts_err.bin");
    const std::string bytes = errorFileBytes(records);
    test::writeBytes(path, bytes.data(), bytes.size());

    std::vector<ItemTuple> want;
    for (const ErrorTreeItem& i : buildErrorTree(records)) want.push_back(tupleOf(i));
    ASSERT_EQ(want.size(), 1 + 4 + (8 + 8 + 8 + 1) + records.size());  // root, programs, PIDs, events
    for (size_t held : {size_t{1}, size_t{2}, size_t{40}, size_t{199}, size_t{250}, kErrorTreeHeldRecords}) {
        SCOPED_TRACE(held);
        std::vector<ItemTuple> got;
        int err = -1;
        EXPECT_EQ(walkErrorFileTree(
                      path, [&got](const ErrorTreeItem& i) { got.push_back(tupleOf(i)); }, &err, held),
                  ErrorFileStatus::Ok);
        EXPECT_EQ(err, 0);
        EXPECT_EQ(got, want);
    }

    // Loading keeps the first records and tells how many there are.
    std::vector<ErrorRecord> first;
    int64_t total = 0;
    ASSERT_EQ(loadErrorFile(path, 5, first, &total), ErrorFileStatus::Ok);
    EXPECT_EQ(total, 601);
    EXPECT_EQ(first, std::vector<ErrorRecord>(records.begin(), records.begin() + 5));

    // Not an error file, or none: nothing is emitted.
    int emitted = 0;
    auto count = [&emitted](const ErrorTreeItem&) { ++emitted; };
    test::writeBytes(path, bytes.data(), bytes.size() - 1);
    EXPECT_EQ(walkErrorFileTree(path, count), ErrorFileStatus::Malformed);
    EXPECT_EQ(loadErrorFile(path, 5, first, &total), ErrorFileStatus::Malformed);
    EXPECT_EQ(walkErrorFileTree(dir.path("none_err.bin"), count), ErrorFileStatus::Missing);
    EXPECT_EQ(emitted, 0);
}

// An error file cut short while it is walked ends the walk with a read
// error, not a tree of what is left.
TEST(ErrorTree, FileShortenedDuringTheWalkIsAReadError) {
    std::vector<ErrorRecord> records;
    for (int64_t i = 0; i < 10000; ++i) records.push_back(rec(1, 0x1000, 0x100 + int(i % 2), 2, 0x12, i));
    test::TempDir dir;
    const std::string path = dir.path("r.ts_err.bin");
    const std::string bytes = errorFileBytes(records);
    test::writeBytes(path, bytes.data(), bytes.size());
    int events = 0;
    int err = 0;
    const ErrorFileStatus status = walkErrorFileTree(
        path,
        [&](const ErrorTreeItem& i) {
            if (i.kind == ErrorTreeItem::Event && events++ == 0) std::filesystem::resize_file(path, 16 + 16 * 100);
        },
        &err, 1000);
    EXPECT_EQ(status, ErrorFileStatus::Unreadable);
    EXPECT_EQ(err, kErrChanged);
    EXPECT_LT(events, 10000);
}

// A real recording with packet k copied in right behind itself.
struct Duplicated {
    std::string path;
    int pid = 0;
    int cc = 0;
    int64_t copyNumber = 0;
};

Duplicated duplicatePacket(const test::TempDir& dir, const std::string& name, int64_t from) {
    std::vector<uint8_t> data = test::readBytes(test::dataPath(name));
    Duplicated d;
    for (int64_t k = from; (k + 1) * 188 <= static_cast<int64_t>(data.size()); ++k) {
        const uint8_t* p = data.data() + k * 188;
        const int pid = packetPid(p);
        if ((packetAfc(p) & 1) == 0 || pid < 0x20 || pid == 0x1FFF) continue;
        d.pid = pid;
        d.cc = p[3] & 0x0F;
        d.copyNumber = k + 1;
        std::vector<uint8_t> copy(p, p + 188);
        data.insert(data.begin() + (k + 1) * 188, copy.begin(), copy.end());
        break;
    }
    d.path = dir.path(name);
    test::writeBytes(d.path, data.data(), data.size());
    return d;
}

TEST(ErrorCheckJob, CleanRecordingGivesHeaderOnlyAndDuplicateGivesOneRecord) {
    test::TempDir dir;
    test::RecordingHost host;
    const std::string clean = dir.copy("hd_1080i_aac_192.ts");
    ErrorCheckResult r = checkTransportErrors(clean, false, host);
    ASSERT_EQ(r.status, ErrorCheckResult::Done);
    EXPECT_EQ(test::readText(clean + "_err.bin"), "TS Error Check\r\n");

    const Duplicated d = duplicatePacket(dir, "sd_480p_mp2.ts", 1000);
    ASSERT_GT(d.copyNumber, 0);
    host.events.clear();
    r = checkTransportErrors(d.path, false, host);
    ASSERT_EQ(r.status, ErrorCheckResult::Done);
    EXPECT_EQ(r.counts[2], 1);
    const std::vector<uint8_t> file = test::readBytes(d.path + "_err.bin");
    ASSERT_EQ(file.size(), 32u);
    EXPECT_EQ(0, std::memcmp(file.data(), "TS Error Check\r\n", 16));
    // ffmpeg's default program: SID 1, PMT 0x1000.
    const ErrorRecord want = rec(1, 0x1000, d.pid, 2, ((d.cc + 1) & 15) << 4 | d.cc, d.copyNumber);
    EXPECT_EQ(decodeErrorRecord(file.data() + 16), want);
    // Titles: rising percentages, then "Input".
    ASSERT_FALSE(host.events.empty());
    EXPECT_EQ(host.events.front(), "title Input [  1％]");
    EXPECT_EQ(host.events.back(), "title Input");
    EXPECT_TRUE(host.messages().empty());
}

TEST(ErrorCheckJob, CancelLeavesNoErrorFile) {
    test::TempDir dir;
    const std::string in = dir.copy("sd_480p_mp2.ts");
    test::writeText(in + "_err.bin", "TS Error Check\r\n");  // from an earlier check
    test::RecordingHost host;
    host.cancelAfterChecks = 3;
    const ErrorCheckResult r = checkTransportErrors(in, false, host);
    EXPECT_EQ(r.status, ErrorCheckResult::Cancelled);
    EXPECT_FALSE(std::filesystem::exists(in + "_err.bin"));
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.root())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1u);  // the recording alone: no temporary file left
}

TEST(ErrorCheckJob, FailuresShowTheirMessages) {
    test::TempDir dir;
    test::RecordingHost host;
    EXPECT_EQ(checkTransportErrors(dir.path("missing.ts"), false, host).status, ErrorCheckResult::Failed);
    const std::string noPackets = dir.copy("random_bytes.bin");
    EXPECT_EQ(checkTransportErrors(noPackets, false, host).status, ErrorCheckResult::Skipped);
    EXPECT_FALSE(std::filesystem::exists(noPackets + "_err.bin"));
    const std::string in = dir.copy("sd_480p_mp2.ts");
    std::filesystem::create_directory(in + "_err.bin");  // cannot be created
    EXPECT_EQ(checkTransportErrors(in, false, host).status, ErrorCheckResult::Failed);
    const std::vector<std::string> want = {"error: Input ファイルオープンエラー",
                                           "error: Output ファイルオープンエラー"};
    EXPECT_EQ(host.messages(), want);
}

}  // namespace
}  // namespace tavrel
