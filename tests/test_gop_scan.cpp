#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "file.h"
#include "gop_scan.h"
#include "recording_host.h"
#include "test_util.h"

using namespace tavrel;
using tavrel::test::readBytes;
using tavrel::test::readText;
using tavrel::test::RecordingHost;
using tavrel::test::TempDir;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t e = text.find("\r\n", pos);
        if (e == std::string::npos) e = text.size();
        out.push_back(text.substr(pos, e - pos));
        pos = e + 2;
    }
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream ss(line);
    std::string f;
    while (std::getline(ss, f, ',')) out.push_back(f);
    if (!line.empty() && line.back() == ',') out.emplace_back();
    return out;
}

// The time code column of the GOP lines of an index file.
std::vector<std::string> timeCodeColumn(const std::string& indexPath, size_t gops) {
    const auto l = lines(readText(indexPath));
    std::vector<std::string> codes;
    for (size_t i = 2; i < 2 + gops && i < l.size(); ++i) codes.push_back(fields(l[i])[1]);
    return codes;
}

EditState stateFor(const std::string& path) {
    EditState s;
    s.inputPath = path;
    return s;
}

// Independent check of a GOP packet: a PES start of a video stream that
// holds a sequence header within the packet.
bool opensGopWithSequenceHeader(const std::vector<uint8_t>& file, int size, int sync, int64_t n) {
    const uint8_t* p = file.data() + n * size + sync;
    if (p[0] != 0x47 || !(p[1] & 0x40)) return false;
    std::string pkt(reinterpret_cast<const char*>(p), 188);
    return pkt.find(std::string("\0\0\1\xB3", 4)) != std::string::npos;
}

TEST(GopScan, HdRecordingEventsAndIndexFile) {
    TempDir dir;
    const std::string rec = dir.copy("hd_1080i_aac.ts");
    EditState s = stateFor(rec);
    s.inMark = 3;
    s.outMark = 4;
    RecordingHost host;
    ASSERT_TRUE(runGopScan(s, host));
    EXPECT_EQ(s.inMark, -1);
    EXPECT_EQ(s.outMark, -1);
    ASSERT_EQ(s.gopList.size(), 7u);
    EXPECT_EQ(s.geometry.size, 188);
    EXPECT_EQ(s.streamVideoPid, 0x100);

    const auto bytes = readBytes(rec);
    const int64_t count = static_cast<int64_t>(bytes.size() / 188);
    EXPECT_EQ(host.withoutProgress(),
              (std::vector<std::string>{"busy on", "packsize 188", std::string("time ") + s.gopList[0].ptsText,
                                        "slider 6 1200 0", "refresh error info", "busy off", "title Tavrel Cutter",
                                        "labels 188 256 0 0", "preview", "focus slider"}));
    EXPECT_EQ(host.events[1], "progress range " + std::to_string(count));
    EXPECT_EQ(host.events[2], "progress 0");

    const auto l = lines(readText(rec + ".txt"));
    ASSERT_EQ(l.size(), 2u + 6 + 4);
    EXPECT_EQ(l[0], "KIVRA2");
    EXPECT_EQ(l[1], "hd_1080i_aac.ts");
    for (int i = 0; i < 6; ++i) {
        const auto f = fields(l[2 + i]);
        ASSERT_EQ(f.size(), 5u) << l[2 + i];
        const GopEntry& e = s.gopList[static_cast<size_t>(i)];
        EXPECT_EQ(f[0], "0100");
        EXPECT_EQ(f[1], e.timeCode);
        EXPECT_EQ(f[2], e.ptsText);
        EXPECT_EQ(f[2], time90kText(e.pts));
        EXPECT_EQ(f[3], std::to_string(e.pts));
        EXPECT_EQ(f[4], std::to_string(e.packet));
        EXPECT_TRUE(opensGopWithSequenceHeader(bytes, 188, 0, e.packet));
        if (i > 0) {
            EXPECT_GT(e.packet, s.gopList[static_cast<size_t>(i) - 1].packet);
        }
    }
    EXPECT_STREQ(s.gopList[0].timeCode, "00:00:00  00");
    EXPECT_EQ(l[8], "LAST       ," + std::to_string(count));
    EXPECT_EQ(l[9], "PID_VIDEO,0100");
    EXPECT_EQ(l[10], "TSPAC_TYPE,188");
    EXPECT_EQ(l[11], "END");
    const GopEntry& last = s.gopList.back();
    EXPECT_TRUE(last.isLast());
    EXPECT_EQ(last.packet, count);
    EXPECT_EQ(last.pid, 0x100);
    EXPECT_EQ(last.pts, s.gopList[5].pts);

    // Loading the file back gives the same GOPs.
    EditState again = stateFor(rec);
    RecordingHost h2;
    std::filesystem::last_write_time(rec + ".txt", std::filesystem::last_write_time(rec) + std::chrono::seconds(5));
    ASSERT_TRUE(runGopScan(again, h2));
    EXPECT_TRUE(h2.messages().empty());
    EXPECT_EQ(h2.events[1], "input " + rec);
    ASSERT_EQ(again.gopList.size(), 7u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(std::memcmp(&again.gopList[i], &s.gopList[i], sizeof(GopEntry)), 0);
    EXPECT_EQ(again.gopList[6].pid, 0xFFFF);
    EXPECT_EQ(again.gopList[6].packet, count);
}

TEST(GopScan, SameGopsForEveryPacketSize) {
    std::vector<std::vector<GopEntry>> lists;
    for (const char* name : {"sd_480p_mp2.ts", "sd_480p_204.ts", "sd_480p_208.ts"}) {
        TempDir dir;
        EditState s = stateFor(dir.copy(name));
        RecordingHost host;
        ASSERT_TRUE(runGopScan(s, host)) << name;
        lists.push_back(s.gopList);
    }
    ASSERT_EQ(lists[0].size(), 8u);
    for (size_t k = 1; k < lists.size(); ++k) {
        ASSERT_EQ(lists[k].size(), lists[0].size());
        for (size_t i = 0; i < lists[0].size(); ++i) {
            EXPECT_EQ(lists[k][i].packet, lists[0][i].packet);
            EXPECT_EQ(lists[k][i].pts, lists[0][i].pts);
            EXPECT_STREQ(lists[k][i].timeCode, lists[0][i].timeCode);
        }
    }
}

TEST(GopScan, GopHeaderInNextPacket) {
    TempDir dir;
    const std::string rec = dir.copy("gop_header_next_packet.ts");
    EditState s = stateFor(rec);
    RecordingHost host;
    ASSERT_TRUE(runGopScan(s, host));
    ASSERT_EQ(s.gopList.size(), 7u);
    const auto l = lines(readText(rec + ".txt"));
    for (size_t i : {size_t{1}, size_t{3}}) {
        EXPECT_STREQ(s.gopList[i].timeCode, "--:--:--  --");
        EXPECT_STREQ(s.gopList[i].ptsText, "--:--:--:---");
        const auto f = fields(l[2 + i]);
        const auto prev = fields(l[1 + i]);
        EXPECT_EQ(f[1], prev[1]);  // repeats the previous GOP's time code
        EXPECT_EQ(f[2], time90kText(s.gopList[i].pts));
        EXPECT_GT(s.gopList[i].pts, s.gopList[i - 1].pts);
    }
    EXPECT_STRNE(s.gopList[2].timeCode, "--:--:--  --");

    // Renumbered: only GOPs with a GOP header advance the counter.
    EditState r = stateFor(rec);
    r.settings.reNo = 1;
    RecordingHost h2;
    ASSERT_TRUE(runGopScan(r, h2, ScanOptions{false}));
    EXPECT_EQ(timeCodeColumn(rec + ".txt", 6),
              (std::vector<std::string>{"00:00:00  00", "00:00:00  00", "00:00:00  15", "00:00:00  15", "00:00:01  00",
                                        "00:00:01  15"}));
}

TEST(GopScan, RenumberedTimeCodesRunHalfASecondPerGop) {
    TempDir dir;
    EditState s = stateFor(dir.copy("sd_480p_mp2.ts"));
    s.settings.reNo = 1;
    RecordingHost host;
    ASSERT_TRUE(runGopScan(s, host));
    ASSERT_GE(s.gopList.size(), 4u);
    EXPECT_STREQ(s.gopList[0].timeCode, "00:00:00  00");
    EXPECT_STREQ(s.gopList[1].timeCode, "00:00:00  15");
    EXPECT_STREQ(s.gopList[2].timeCode, "00:00:01  00");
    EXPECT_STREQ(s.gopList[3].timeCode, "00:00:01  15");
}

TEST(GopScan, NoVideoAndTwoVideoPids) {
    TempDir dir;
    const std::string rec = dir.copy("no_video.ts");
    EditState s = stateFor(rec);
    RecordingHost host;
    ASSERT_TRUE(runGopScan(s, host));
    ASSERT_EQ(s.gopList.size(), 1u);
    EXPECT_TRUE(s.gopList[0].isLast());
    const auto l = lines(readText(rec + ".txt"));
    const int64_t count = static_cast<int64_t>(std::filesystem::file_size(rec) / 188);
    EXPECT_EQ(l, (std::vector<std::string>{"KIVRA2", "no_video.ts", "LAST       ," + std::to_string(count),
                                           "PID_VIDEO,ffff", "TSPAC_TYPE,188", "END"}));
    // A video PID found earlier stays.
    s.streamVideoPid = 0x1234;
    RecordingHost h2;
    runGopScan(s, h2, ScanOptions{false});
    EXPECT_EQ(lines(readText(rec + ".txt"))[3], "PID_VIDEO,1234");

    EditState two = stateFor(dir.copy("two_video_pids.ts"));
    RecordingHost h3;
    ASSERT_TRUE(runGopScan(two, h3));
    int first = 0, second = 0;
    for (size_t i = 0; i + 1 < two.gopList.size(); ++i) {
        first += two.gopList[i].pid == 0x100;
        second += two.gopList[i].pid == 0x101;
        if (i > 0) {
            EXPECT_GT(two.gopList[i].packet, two.gopList[i - 1].packet);
        }
    }
    EXPECT_EQ(first, 6);
    EXPECT_EQ(second, 6);
    EXPECT_EQ(two.streamVideoPid, 0x100);
}

TEST(GopScan, TxtInputIsNotScanned) {
    TempDir dir;
    tavrel::test::writeText(dir.path("list.txt"), "hello");
    EditState s = stateFor(dir.path("list.txt"));
    RecordingHost host;
    EXPECT_TRUE(runGopScan(s, host));
    EXPECT_TRUE(s.gopList.empty());
    EXPECT_EQ(host.events, (std::vector<std::string>{"busy on", "slider 0 0 0", "busy off", "title Tavrel Cutter",
                                                     "labels 0 65535 0 0", "preview", "focus slider"}));
    EXPECT_FALSE(fileExists(dir.path("list.txt.txt")));
}

TEST(GopScan, StaleIndexQuestion) {
    TempDir dir;
    const std::string rec = dir.copy("sd_480p_mp2.ts");
    const std::string idx = rec + ".txt";
    const auto packets = std::filesystem::file_size(rec) / 188;
    const std::string old = "KIVRA2\r\nx\r\n0100,01:02:03  04,00:00:01:000,90000,5\r\nLAST       ," +
                            std::to_string(packets) + "\r\nPID_VIDEO,0100\r\nTSPAC_TYPE,188\r\nEND\r\n";
    const char* question =
        "question: GOPファイルよりTSファイルの更新日時が新しくなっています。\r\nGOPファイルを再作成しますか？";
    auto makeStale = [&] {
        tavrel::test::writeText(idx, old);
        std::filesystem::last_write_time(idx, std::filesystem::last_write_time(rec) - std::chrono::seconds(60));
    };

    makeStale();
    EditState no = stateFor(rec);
    RecordingHost hNo;
    hNo.answers.push_back(kResultNo);
    ASSERT_TRUE(runGopScan(no, hNo));
    EXPECT_EQ(hNo.messages(), std::vector<std::string>{question});
    ASSERT_EQ(no.gopList.size(), 2u);
    EXPECT_STREQ(no.gopList[0].timeCode, "01:02:03  04");

    makeStale();
    EditState yes = stateFor(rec);
    RecordingHost hYes;
    hYes.answers.push_back(kResultYes);
    ASSERT_TRUE(runGopScan(yes, hYes));
    EXPECT_EQ(hYes.messages(), std::vector<std::string>{question});
    EXPECT_EQ(yes.gopList.size(), 8u);
    EXPECT_EQ(lines(readText(idx))[1], "sd_480p_mp2.ts");

    // Equal times count as stale: the recording may have been written in
    // the same clock tick after the index.
    tavrel::test::writeText(idx, old);
    std::filesystem::last_write_time(idx, std::filesystem::last_write_time(rec));
    EditState same = stateFor(rec);
    RecordingHost hSame;
    hSame.answers.push_back(kResultNo);
    ASSERT_TRUE(runGopScan(same, hSame));
    EXPECT_EQ(hSame.messages(), std::vector<std::string>{question});

    // A fresh index: no question, loaded as it is.
    tavrel::test::writeText(idx, old);
    std::filesystem::last_write_time(idx, std::filesystem::last_write_time(rec) + std::chrono::seconds(60));
    EditState fresh = stateFor(rec);
    RecordingHost hFresh;
    ASSERT_TRUE(runGopScan(fresh, hFresh));
    EXPECT_TRUE(hFresh.messages().empty());
    EXPECT_EQ(fresh.gopList.size(), 2u);
}

// A GOP-opening video packet whose GOP start code sits at the last possible
// offset (184), so its time code is read from the four bytes after the packet.
void putGopPacketAtEdge(uint8_t* p) {
    std::memset(p, 0xFF, 188);
    p[0] = 0x47;
    p[1] = 0x41;
    p[2] = 0x00;
    p[3] = 0x10;
    const uint8_t pes[] = {0, 0, 1, 0xE0, 0, 0, 0x80, 0x80, 5, 0x21, 0, 1, 0, 1};
    std::memcpy(p + 4, pes, sizeof pes);
    const uint8_t seq[] = {0, 0, 1, 0xB3};
    std::memcpy(p + 30, seq, 4);
    const uint8_t gop[] = {0, 0, 1, 0xB8};
    std::memcpy(p + 184, gop, 4);
}

std::vector<uint8_t> nullPackets(int count) {
    std::vector<uint8_t> v(static_cast<size_t>(count) * 188, 0xFF);
    for (int i = 0; i < count; ++i) {
        uint8_t* p = v.data() + static_cast<size_t>(i) * 188;
        p[0] = 0x47;
        p[1] = 0x1F;
        p[2] = 0xFF;
        p[3] = 0x10;
    }
    return v;
}

TEST(GopScan, IndexThatDoesNotFitItsRecordingIsRebuilt) {
    TempDir dir;
    const std::string rec = dir.copy("sd_480p_mp2.ts");
    const std::string idx = rec + ".txt";
    const std::string other = dir.copy("two_video_pids.ts");
    {
        EditState s = stateFor(rec);
        RecordingHost h;
        ASSERT_TRUE(runGopScan(s, h));
        EditState t = stateFor(other);
        ASSERT_TRUE(runGopScan(t, h));
    }
    const std::string good = readText(idx);
    const auto goodLines = lines(good);
    auto without = [&](const std::string& key) {
        std::string text;
        for (const auto& l : goodLines)
            if (l.rfind(key, 0) != 0) text += l + "\r\n";
        return text;
    };
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::string gop1 = goodLines[2], gop2 = goodLines[3];
    const std::string gop2Packet = fields(gop2)[4];
    const struct {
        const char* what;
        std::string index;
    } cases[] = {
        {"made for another recording", readText(other + ".txt")},
        {"no LAST line", without("LAST")},
        {"no PID_VIDEO line", without("PID_VIDEO")},
        {"no TSPAC_TYPE line", without("TSPAC_TYPE")},
        {"GOPs out of order", replaced(gop1 + "\r\n" + gop2, gop2 + "\r\n" + gop1)},
        {"a negative packet", replaced("," + gop2Packet + "\r\n", ",-5\r\n")},
        {"a packet past LAST", replaced("," + gop2Packet + "\r\n", ",999999\r\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tavrel::test::writeText(idx, c.index);
        std::filesystem::last_write_time(idx, std::filesystem::last_write_time(rec) + std::chrono::seconds(60));
        EditState s = stateFor(rec);
        RecordingHost host;
        ASSERT_TRUE(runGopScan(s, host));
        EXPECT_TRUE(host.messages().empty());
        EXPECT_EQ(readText(idx), good);
        EXPECT_EQ(s.gopList.size(), goodLines.size() - 5);
    }

    // The recording grew after it was indexed (still recording).
    {
        const auto bytes = tavrel::test::readBytes(rec);
        std::ofstream(rec, std::ios::binary | std::ios::app)
            .write(reinterpret_cast<const char*>(bytes.data()), 188 * 300);
        std::filesystem::last_write_time(idx, std::filesystem::last_write_time(rec) + std::chrono::seconds(60));
        EditState s = stateFor(rec);
        RecordingHost host;
        ASSERT_TRUE(runGopScan(s, host));
        EXPECT_EQ(s.gopList.back().packet, static_cast<int64_t>(bytes.size() / 188 + 300));
        GopIndexContent reread;
        ASSERT_TRUE(readGopIndexFile(idx, rec, reread, host));
        EXPECT_TRUE(gopIndexFitsRecording(reread, static_cast<int64_t>(std::filesystem::file_size(rec))));
    }
}

TEST(GopScan, AFailedScanNeverLeavesAPartialIndex) {
    TempDir dir;
    // 300 GOP packets: an index of about 15 KB, more than one writer buffer.
    std::vector<uint8_t> v(300 * 188);
    for (int i = 0; i < 300; ++i) putGopPacketAtEdge(v.data() + i * 188);
    const std::string rec = dir.path("many.ts");
    tavrel::test::writeBytes(rec, v.data(), v.size());
    const std::string idx = rec + ".txt";
    const std::string old = "KIVRA2\r\nold\r\n";
    const auto before = tavrel::test::filesIn(dir.root());

    EditState whole = stateFor(rec);
    RecordingHost h0;
    ASSERT_TRUE(runGopScan(whole, h0, ScanOptions{false}));
    const auto indexSize = static_cast<rlim_t>(std::filesystem::file_size(idx));
    ASSERT_GT(indexSize, 9024u);
    const auto wholeLines = lines(readText(idx));
    // The disk fills up in the GOP lines, and in the last line.
    const struct {
        rlim_t limit;
        const char* message;
    } full[] = {{4000, "error: 書き込みエラー"}, {indexSize - 3, "error: パケット情報書き込みエラー"}};
    for (const auto& f : full) {
        tavrel::test::writeText(idx, old);
        const rlim_t limit = f.limit;
        EditState s = stateFor(rec);
        RecordingHost host;
        {
            tavrel::test::FileSizeLimit l(limit);
            EXPECT_FALSE(runGopScan(s, host, ScanOptions{false}));
        }
        EXPECT_EQ(host.messages(), std::vector<std::string>{f.message});
        EXPECT_EQ(host.events.back(), "navigation off");
        EXPECT_EQ(readText(idx), old);
    }
    {
        // The PID line is where the writer's buffer runs full: the first
        // GOP lines of the same packets, behind a file name whose length
        // puts the header, the GOP lines and LAST at 9,010 of 9,024 bytes.
        const auto& l = wholeLines;
        size_t k = 0, gopBytes = 0;
        while (gopBytes + l[2 + k].size() + 2 <= 8960) gopBytes += l[2 + k++].size() + 2;
        const size_t lastLen = 12 + std::to_string(k).size() + 2;
        const std::string name = std::string(9010 - 10 - gopBytes - lastLen - 3, 'p') + ".ts";
        const std::string pidRec = dir.path(name);
        tavrel::test::writeBytes(pidRec, v.data(), k * 188);
        EditState s = stateFor(pidRec);
        RecordingHost host;
        {
            tavrel::test::FileSizeLimit l0(0);
            EXPECT_FALSE(runGopScan(s, host, ScanOptions{false}));
        }
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: ＰＩＤ情報書き込みエラー"});
        std::filesystem::remove(pidRec);
    }
    // The index name is a link to a device: no index is written into it
    // (a FIFO there would block the open), and the link stays.
    std::filesystem::remove(idx);
    std::filesystem::create_symlink("/dev/full", idx);
    {
        EditState s = stateFor(rec);
        RecordingHost host;
        EXPECT_FALSE(runGopScan(s, host, ScanOptions{false}));
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: Output ファイルオープンエラー"});
        EXPECT_TRUE(std::filesystem::is_symlink(idx));
    }
    std::filesystem::remove(idx);
    // The recording shrinks while it is scanned.
    struct ShrinkingHost : RecordingHost {
        std::string victim;
        void setProgressRange(int32_t max) override {
            RecordingHost::setProgressRange(max);
            std::filesystem::resize_file(victim, 188 * 150);
        }
    };
    {
        tavrel::test::writeText(idx, old);
        EditState s = stateFor(rec);
        ShrinkingHost host;
        host.victim = rec;
        EXPECT_FALSE(runGopScan(s, host, ScanOptions{false}));
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: ファイルリードエラー"});
        EXPECT_EQ(readText(idx), old);
    }
    auto after = before;
    after.push_back("many.ts.txt");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(tavrel::test::filesIn(dir.root()), after);
}

TEST(GopScan, InputsThatAreNoRecordings) {
    TempDir dir;
    // A FIFO with no writer is refused at once instead of waiting forever.
    const std::string fifo = dir.path("pipe.ts");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EditState s = stateFor(fifo);
    RecordingHost host;
    EXPECT_FALSE(runGopScan(s, host, ScanOptions{false}));
    EXPECT_EQ(host.messages(), std::vector<std::string>{"error: Input ファイルオープンエラー"});
    File f;
    EXPECT_FALSE(f.openRead("/dev/zero"));
    EXPECT_EQ(errorText(f.error()), "not a regular file");

    // Line breaks in a file name stay out of the index's line structure.
    const std::string odd = dir.path("a\r\nLAST       ,1.ts");
    std::filesystem::copy_file(tavrel::test::dataPath("sd_480p_mp2.ts"), odd);
    EditState t = stateFor(odd);
    ASSERT_TRUE(runGopScan(t, host, ScanOptions{false}));
    EXPECT_EQ(lines(readText(odd + ".txt"))[1], "a__LAST       ,1.ts");
    std::filesystem::last_write_time(odd + ".txt", std::filesystem::last_write_time(odd) + std::chrono::seconds(60));
    EditState again = stateFor(odd);
    RecordingHost quiet;
    ASSERT_TRUE(runGopScan(again, quiet));
    EXPECT_TRUE(quiet.messages().empty());
    EXPECT_EQ(again.gopList.size(), t.gopList.size());
}

TEST(GopScan, BrokenIndexIsRescanned) {
    TempDir dir;
    const std::string rec = dir.copy("sd_480p_mp2.ts");
    tavrel::test::writeText(rec + ".txt", "NOT AN INDEX\r\n");
    std::filesystem::last_write_time(rec + ".txt", std::filesystem::last_write_time(rec) + std::chrono::seconds(60));
    EditState s = stateFor(rec);
    RecordingHost host;
    ASSERT_TRUE(runGopScan(s, host));
    EXPECT_EQ(host.messages(), std::vector<std::string>{"error: ファイルヘッダエラー"});
    EXPECT_EQ(s.gopList.size(), 8u);
    EXPECT_EQ(lines(readText(rec + ".txt"))[0], "KIVRA2");
}

TEST(GopScan, Failures) {
    TempDir dir;
    {
        EditState s = stateFor(dir.copy("empty.ts"));
        RecordingHost host;
        EXPECT_FALSE(runGopScan(s, host));
        EXPECT_TRUE(host.messages().empty());
        EXPECT_EQ(host.events.back(), "navigation off");
        EXPECT_FALSE(fileExists(s.inputPath + ".txt"));
    }
    {
        EditState s = stateFor(dir.path("missing.ts"));
        RecordingHost host;
        EXPECT_FALSE(runGopScan(s, host));
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: Input ファイルオープンエラー"});
    }
    {
        EditState s = stateFor(dir.root());  // a folder
        RecordingHost host;
        EXPECT_FALSE(runGopScan(s, host));
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: Input ファイルオープンエラー"});
    }
    {
        // The index path is taken by a folder: it cannot be created.
        EditState s = stateFor(dir.copy("two_video_pids.ts"));
        std::filesystem::create_directory(s.inputPath + ".txt");
        RecordingHost host;
        EXPECT_FALSE(runGopScan(s, host, ScanOptions{false}));
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: Output ファイルオープンエラー"});
        EXPECT_TRUE(s.gopList.empty());
    }
    {
        EditState s = stateFor(dir.copy("truncated_last_packet.ts"));
        RecordingHost host;
        ASSERT_TRUE(runGopScan(s, host));
        EXPECT_EQ(s.gopList.back().packet, static_cast<int64_t>(std::filesystem::file_size(s.inputPath) / 188));
    }
}

TEST(GopScan, GopFolder) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("gops"));
    EditState s = stateFor(dir.copy("sd_480p_mp2.ts"));
    s.settings.selGop = 1;
    s.settings.gopFolder = dir.path("gops") + "/";
    RecordingHost host;
    ASSERT_TRUE(runGopScan(s, host));
    EXPECT_TRUE(fileExists(dir.path("gops/sd_480p_mp2.ts.txt")));
    EXPECT_FALSE(fileExists(s.inputPath + ".txt"));
}

TEST(BatchGopScan, LinesTitleAndPid) {
    TempDir dir;
    const std::string rec = dir.copy("gop_header_next_packet.ts");
    RecordingHost host;
    auto r = runBatchGopScan(rec, rec + ".txt", false, host);
    EXPECT_EQ(r.status, BatchScanResult::Done);
    EXPECT_EQ(host.events.front(), "title Input [  0％]");
    EXPECT_EQ(host.events.back(), "title Input");
    const auto l = lines(readText(rec + ".txt"));
    ASSERT_EQ(l.size(), 12u);
    EXPECT_EQ(l[9], "PID_VIDEO,0100");
    // The GOPs without a GOP header repeat a code from their own chunk only.
    for (int i : {1, 3}) {
        const auto f = fields(l[2 + i]);
        EXPECT_TRUE(f[1].empty()) << l[2 + i];
    }

    RecordingHost renum;
    runBatchGopScan(rec, rec + ".txt", true, renum);
    EXPECT_EQ(timeCodeColumn(rec + ".txt", 6),
              (std::vector<std::string>{"00:00:00  00", "00:00:00  15", "00:00:01  00", "00:00:01  15", "00:00:02  00",
                                        "00:00:02  15"}));
}

TEST(BatchGopScan, CancelRemovesPartialIndexAndMissingInputStops) {
    TempDir dir;
    const std::string rec = dir.copy("sd_480p_mp2.ts");
    RecordingHost host;
    host.cancelAfterChecks = 3;
    auto r = runBatchGopScan(rec, rec + ".txt", false, host);
    EXPECT_EQ(r.status, BatchScanResult::Cancelled);
    EXPECT_FALSE(fileExists(rec + ".txt"));

    RecordingHost h2;
    EXPECT_EQ(runBatchGopScan(dir.path("none.ts"), dir.path("none.ts.txt"), false, h2).status,
              BatchScanResult::StopBatch);
    EXPECT_EQ(h2.messages(), std::vector<std::string>{"error: Input ファイルオープンエラー"});

    RecordingHost h3;
    EXPECT_EQ(runBatchGopScan(dir.copy("no_video.ts"), dir.path("nv.txt"), false, h3).status, BatchScanResult::Done);
    EXPECT_EQ(lines(readText(dir.path("nv.txt")))[3], "PID_VIDEO,ffff");
}

// No packet size is an outcome of its own: nothing written, nothing said.
TEST(BatchGopScan, NoPacketSize) {
    TempDir dir;
    for (const char* name : {"random_bytes.bin", "empty.ts"}) {
        RecordingHost host;
        const std::string rec = dir.copy(name);
        EXPECT_EQ(runBatchGopScan(rec, rec + ".txt", false, host).status, BatchScanResult::NoPacketSize) << name;
        EXPECT_TRUE(host.events.empty()) << name;
        EXPECT_FALSE(fileExists(rec + ".txt")) << name;
    }
}

}  // namespace

TEST(GopScan, LookingPastTheLastPacketOfARead) {
    TempDir dir;
    auto v = nullPackets(150);
    // Packet 99 ends a full 100-packet read: what follows it in the read
    // buffer was never filled, so the time code reads as zero.
    putGopPacketAtEdge(v.data() + 99 * 188);
    // Packet 149 ends the short last read: behind it lies what the previous
    // read left there, the header of packet 50.
    putGopPacketAtEdge(v.data() + 149 * 188);
    const uint8_t stale[] = {0x47, 0x00, 0x64, 0x10};
    std::memcpy(v.data() + 50 * 188, stale, 4);
    // Packet 40 is an ordinary case: the next packet's header follows.
    putGopPacketAtEdge(v.data() + 40 * 188);
    const uint8_t next[] = {0x47, 0x00, 0x64, 0x90};
    std::memcpy(v.data() + 41 * 188, next, 4);

    const std::string rec = dir.path("edge.ts");
    tavrel::test::writeBytes(rec, v.data(), v.size());
    EditState s = stateFor(rec);
    RecordingHost host;
    ASSERT_TRUE(runGopScan(s, host));
    ASSERT_EQ(s.gopList.size(), 4u);
    EXPECT_EQ(s.gopList[0].packet, 40);
    EXPECT_STREQ(s.gopList[0].timeCode, "17:48:03  09");
    EXPECT_EQ(s.gopList[1].packet, 99);
    EXPECT_STREQ(s.gopList[1].timeCode, "00:00:00  00");
    EXPECT_EQ(s.gopList[2].packet, 149);
    EXPECT_STREQ(s.gopList[2].timeCode, "17:48:03  08");
    EXPECT_EQ(s.gopList[0].pts, 0);
}
