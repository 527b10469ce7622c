#include <gtest/gtest.h>

#include <string>

#include "file.h"
#include "gop.h"
#include "recording_host.h"
#include "test_util.h"

using namespace tavrel;
using tavrel::test::RecordingHost;
using tavrel::test::TempDir;
using tavrel::test::writeText;

namespace {

const std::string kPidMessage = "error: ビデオＰＩＤが見つかりませんでした\r\nＧＯＰ情報ファイルを確認してください";

const std::string kGood =
    "KIVRA2\r\n"
    "rec.ts\r\n"
    "0100,00:00:00  00,00:00:01:433,129003,3\r\n"
    "0101,00:00:00  15,00:00:01:833,165039,452\r\n"
    "LAST       ,2121\r\n"
    "PID_VIDEO,0100\r\n"
    "TSPAC_TYPE,192\r\n"
    "END\r\n";

struct Loaded {
    bool ok;
    GopIndexContent content;
    std::vector<std::string> messages;
};

Loaded load(const std::string& text) {
    TempDir dir;
    writeText(dir.path("rec.ts.txt"), text);
    Loaded r;
    RecordingHost host;
    r.ok = readGopIndexFile(dir.path("rec.ts.txt"), dir.path("rec.ts"), r.content, host);
    r.messages = host.messages();
    return r;
}

TEST(GopIndexRead, CompleteFile) {
    auto r = load(kGood);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.messages.empty());
    ASSERT_EQ(r.content.entries.size(), 3u);
    const auto& e0 = r.content.entries[0];
    EXPECT_EQ(e0.pid, 0x100);
    EXPECT_STREQ(e0.timeCode, "00:00:00  00");
    EXPECT_STREQ(e0.ptsText, "00:00:01:433");
    EXPECT_EQ(e0.pts, 129003);
    EXPECT_EQ(e0.packet, 3);
    EXPECT_EQ(r.content.entries[1].pid, 0x101);
    const auto& last = r.content.entries[2];
    EXPECT_EQ(last.pid, 0xFFFF);
    EXPECT_STREQ(last.timeCode, "LAST       ");
    EXPECT_STREQ(last.ptsText, "LAST       ");
    EXPECT_EQ(last.pts, 0);
    EXPECT_EQ(last.packet, 2121);
    EXPECT_TRUE(last.isLast());
    EXPECT_EQ(r.content.videoPid, 0x100);
    EXPECT_EQ(r.content.geometry.size, 192);
    EXPECT_EQ(r.content.geometry.headerSize, 4);
    EXPECT_EQ(r.content.geometry.syncOffset, 4);
}

TEST(GopIndexRead, TagsAndHeaderErrors) {
    std::string older = kGood;
    older.replace(0, 6, "KIVRA");
    auto a = load(older);
    auto b = load(kGood);
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.content.entries.size(), b.content.entries.size());
    for (size_t i = 0; i < a.content.entries.size(); ++i)
        EXPECT_EQ(std::memcmp(&a.content.entries[i], &b.content.entries[i], sizeof(GopEntry)), 0);

    for (const char* tag : {"KIVRA2 ", "KIVRA3", "kivra2", "", "KIVRA2,x"}) {
        std::string t = kGood;
        t.replace(0, 6, tag);
        auto r = load(t);
        EXPECT_FALSE(r.ok) << tag;
        EXPECT_EQ(r.messages, std::vector<std::string>{"error: ファイルヘッダエラー"}) << tag;
    }
    // Empty, and cut off inside the tag line.
    for (const char* t : {"", "KIVR"}) {
        auto r = load(t);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.messages, std::vector<std::string>{"error: ファイルヘッダエラー"});
    }
}

TEST(GopIndexRead, MissingFileIsSilentFailure) {
    TempDir dir;
    RecordingHost host;
    GopIndexContent c;
    EXPECT_FALSE(readGopIndexFile(dir.path("none.txt"), dir.path("rec.ts"), c, host));
    EXPECT_TRUE(host.events.empty());
}

TEST(GopIndexRead, FallsBackToRecordingPathPlusTxt) {
    TempDir dir;
    writeText(dir.path("rec.ts.txt"), kGood);
    RecordingHost host;
    GopIndexContent c;
    ASSERT_TRUE(readGopIndexFile(dir.path("elsewhere/rec.ts.txt"), dir.path("rec.ts"), c, host));
    EXPECT_EQ(c.entries.size(), 3u);
}

TEST(GopIndexRead, MissingLinesAndTruncation) {
    // No PID_VIDEO: entries load, the message is shown, success.
    std::string noPid = kGood;
    noPid.erase(noPid.find("PID_VIDEO"), 16);
    auto r = load(noPid);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.content.entries.size(), 3u);
    EXPECT_EQ(r.messages, std::vector<std::string>{kPidMessage});

    // No LAST line (a failed scan): no LAST entry.
    std::string noLast = kGood;
    noLast.erase(noLast.find("LAST"), 18);
    r = load(noLast);
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(r.content.entries.size(), 2u);
    EXPECT_FALSE(r.content.entries.back().isLast());

    // Cut off in the middle of a GOP line: the partial line is dropped.
    r = load(kGood.substr(0, kGood.find("0101") + 12));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.content.entries.size(), 1u);
    EXPECT_EQ(r.messages, std::vector<std::string>{kPidMessage});

    // Lines after END are never read.
    r = load(kGood + "0200,00:00:09  00,00:00:09:000,810000,99\r\nPID_VIDEO,0200\r\n");
    EXPECT_EQ(r.content.entries.size(), 3u);
    EXPECT_EQ(r.content.videoPid, 0x100);
}

TEST(GopIndexRead, FieldRules) {
    // Empty time code field: a single blank, the rest still lands in place.
    auto r = load("KIVRA2\r\nrec.ts\r\n0100,,00:00:01:433,129003,3\r\nPID_VIDEO,0100\r\n");
    ASSERT_EQ(r.content.entries.size(), 1u);
    EXPECT_STREQ(r.content.entries[0].timeCode, " ");
    EXPECT_STREQ(r.content.entries[0].ptsText, "00:00:01:433");
    EXPECT_EQ(r.content.entries[0].pts, 129003);
    EXPECT_EQ(r.content.entries[0].packet, 3);

    // Lower-case and odd hex digits; TSPAC_TYPE 204 and LF-only line ends.
    r = load("KIVRA2\nrec\n1aG0,a,b,-5,7\nPID_VIDEO,01fF\nTSPAC_TYPE,204\nEND\n");
    ASSERT_EQ(r.content.entries.size(), 1u);
    EXPECT_EQ(r.content.entries[0].pid, 0x1A00);
    EXPECT_EQ(r.content.entries[0].pts, -5);
    EXPECT_EQ(r.content.videoPid, 0x01FF);
    EXPECT_EQ(r.content.geometry.size, 204);
    EXPECT_EQ(r.content.geometry.syncOffset, 0);
}

TEST(GopIndexRead, OverlongFieldsAreHeaderErrors) {
    const std::string huge(5000, '7');
    for (const std::string& line :
         {"0100," + huge + ",x,1,2", "0100,t," + std::string(20, 'p') + ",1,2", "0100,t,p,1," + huge}) {
        auto r = load("KIVRA2\r\nrec.ts\r\n" + line + "\r\nPID_VIDEO,0100\r\n");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.messages, std::vector<std::string>{"error: ファイルヘッダエラー"});
    }
    // 19 characters still fit.
    auto r = load("KIVRA2\r\nrec.ts\r\n0100,t," + std::string(19, 'p') + ",1,2\r\nPID_VIDEO,0100\r\n");
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(r.content.entries.size(), 1u);
    EXPECT_EQ(std::string(r.content.entries[0].ptsText), std::string(19, 'p'));
}

TEST(GopIndexRead, BadPacketSizeIsHeaderError) {
    auto r = load("KIVRA2\r\nrec\r\nPID_VIDEO,0100\r\nTSPAC_TYPE,0\r\nEND\r\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.messages, std::vector<std::string>{"error: ファイルヘッダエラー"});
}

TEST(BufferedTextWriter, WritesOutWhenFewerThanNPlusFiveBytesRemain) {
    TempDir dir;
    File f;
    ASSERT_TRUE(f.create(dir.path("out.txt")));
    BufferedTextWriter w(f);
    const std::string block(1000, 'a');
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(w.append(block));
    EXPECT_EQ(f.size(), 0);  // 9,000 bytes buffered, 24 left
    ASSERT_TRUE(w.append(std::string(19, 'b')));
    EXPECT_EQ(f.size(), 0);  // 19 + 5 = 24: still fits
    ASSERT_TRUE(w.append("c", 1));
    EXPECT_EQ(f.size(), 9019);  // 5 left < 1 + 5: written out first
    ASSERT_TRUE(w.appendFlush("END\r\n", 5));
    EXPECT_EQ(f.size(), 9025);
    EXPECT_EQ(tavrel::test::readText(dir.path("out.txt")).substr(9019), "cEND\r\n");
}

TEST(GopIndexPath, NextToRecordingOrInGopFolder) {
    TempDir dir;
    EXPECT_EQ(gopIndexPath("/x/rec.ts", false, dir.root()), "/x/rec.ts.txt");
    EXPECT_EQ(gopIndexPath("/x/rec.ts", true, dir.root() + "//"), dir.root() + "/rec.ts.txt");
    EXPECT_EQ(gopIndexPath("/x/rec.ts", true, dir.path("missing")), "/x/rec.ts.txt");
}

}  // namespace
