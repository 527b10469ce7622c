#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "clip_list.h"
#include "edit_state.h"
#include "gop.h"
#include "recording_host.h"

using namespace tavrel;
using tavrel::test::RecordingHost;

namespace {

// Five GOPs of 100 packets each, then the LAST entry at packet 512.
EditState fiveGops() {
    EditState s;
    s.inputPath = "/rec/folder/news.ts";
    for (int i = 0; i < 5; ++i) {
        GopEntry e;
        e.pid = 0x100;
        char tc[20], pts[20];
        std::snprintf(tc, sizeof tc, "00:00:%02d  %02d", i / 2, (i % 2) * 15);
        std::snprintf(pts, sizeof pts, "00:00:%02d:%03d", 1 + i / 2, (i % 2) * 500);
        e.setTimeCode(tc);
        e.setPtsText(pts);
        e.pts = 90000 + i * 45045;
        e.packet = i * 100;
        s.gopList.push_back(e);
    }
    GopEntry last;
    last.setTimeCode(GopEntry::kLastText);
    last.setPtsText(GopEntry::kLastText);
    last.packet = 512;
    s.gopList.push_back(last);
    return s;
}

const char* const kRangeError = "message error: 範囲選択が正しくありません";

}  // namespace

TEST(ClipList, AddTakesTheMarkedRangeWithItsFields) {
    EditState s = fiveGops();
    RecordingHost host;
    s.inMark = 1;
    s.outMark = 3;
    ASSERT_TRUE(addClip(s, host));
    ASSERT_EQ(s.clipList.count(), 1u);
    const Clip& c = s.clipList.clips[0];
    EXPECT_EQ(c.sourcePath, "/rec/folder/news.ts");
    EXPECT_EQ(c.inIndex, 1);
    EXPECT_EQ(c.outIndex, 3);
    EXPECT_EQ(c.startPacket, 100);
    EXPECT_EQ(c.endPacket, 300);
    EXPECT_EQ(c.lastGopPacket, 200);
    EXPECT_EQ(c.inPts, 90000 + 45045);
    EXPECT_EQ(c.outPts, 90000 + 3 * 45045);
    EXPECT_EQ(c.inPtsText, "00:00:01:500");
    EXPECT_EQ(c.outPtsText, "00:00:02:500");
    EXPECT_EQ(c.inTimeCode, "00:00:00  15");
    EXPECT_EQ(c.outTimeCode, "00:00:01  15");
    EXPECT_EQ(s.clipList.lines, std::vector<std::string>{"00:00:01:500 ～ 00:00:02:500 ( news.ts )"});
    EXPECT_EQ(host.events, std::vector<std::string>{"focus slider"});
    // The marks stay; the same range can be added again.
    EXPECT_TRUE(addClip(s, host));
    EXPECT_EQ(s.clipList.count(), 2u);
}

TEST(ClipList, MarginsWidenAndClampToTheSlider) {
    EditState s = fiveGops();
    RecordingHost host;
    s.settings.pacMargin = 2;
    s.settings.pacMarginBack = 1;
    s.inMark = 1;
    s.outMark = 4;  // the last real GOP: one GOP later is the LAST entry
    ASSERT_TRUE(addClip(s, host));
    const Clip& c = s.clipList.clips[0];
    EXPECT_EQ(c.inIndex, 0);
    EXPECT_EQ(c.outIndex, 5);
    EXPECT_EQ(c.startPacket, 0);
    EXPECT_EQ(c.endPacket, 512);
    EXPECT_EQ(c.lastGopPacket, 400);
    EXPECT_EQ(c.outTimeCode, "LAST       ");
    EXPECT_EQ(c.outPtsText, "LAST       ");

    // Beyond the slider's end the out index stays on the LAST entry.
    s.settings.pacMarginBack = 9;
    s.inMark = 3;
    s.outMark = 5;
    ASSERT_TRUE(addClip(s, host));
    EXPECT_EQ(s.clipList.clips[1].inIndex, 1);
    EXPECT_EQ(s.clipList.clips[1].outIndex, 5);

    // Marks at the ends of the number range clamp the same way.
    s.inMark = std::numeric_limits<int64_t>::min();
    s.outMark = std::numeric_limits<int64_t>::max();
    ASSERT_TRUE(addClip(s, host));
    EXPECT_EQ(s.clipList.clips[2].inIndex, 0);
    EXPECT_EQ(s.clipList.clips[2].outIndex, 5);
}

TEST(ClipList, InvalidRangesAreRefused) {
    struct Case {
        int64_t in, out;
        int front, back;
    };
    const Case refused[] = {
        {2, 2, 0, 0},                  // in = out
        {3, 2, 0, 0},                  // reversed
        {1, -1, 0, 0},                 // out unset
        {0, -1, 0, 3},                 // out unset, not rescued by the back margin
        {-1, -1, 0, 0}, {7, 9, 0, 0},  // beyond the list: clamped out, in after it
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(std::to_string(c.in) + "," + std::to_string(c.out));
        EditState s = fiveGops();
        RecordingHost host;
        s.inMark = c.in;
        s.outMark = c.out;
        s.settings.pacMargin = c.front;
        s.settings.pacMarginBack = c.back;
        EXPECT_FALSE(addClip(s, host));
        EXPECT_TRUE(s.clipList.empty());
        EXPECT_EQ(host.events, (std::vector<std::string>{kRangeError, "focus slider"}));
    }
    EditState empty;
    RecordingHost host;
    empty.inMark = 0;
    empty.outMark = 1;
    EXPECT_FALSE(addClip(empty, host));
}

TEST(ClipList, UnsetInMarkStartsAtTheFirstGopAndOneGopClipHasNoLastGopPacket) {
    EditState s = fiveGops();
    RecordingHost host;
    s.inMark = -1;
    s.outMark = 2;
    ASSERT_TRUE(addClip(s, host));
    EXPECT_EQ(s.clipList.clips[0].inIndex, 0);
    EXPECT_EQ(s.clipList.clips[0].lastGopPacket, 100);
    s.inMark = 3;
    s.outMark = 4;
    ASSERT_TRUE(addClip(s, host));
    EXPECT_EQ(s.clipList.clips[1].lastGopPacket, -1);
    EXPECT_EQ(s.clipList.clips[1].startPacket, 300);
    EXPECT_EQ(s.clipList.clips[1].endPacket, 400);
}

TEST(ClipList, LineTextFollowsTimeVoptWhenAdded) {
    EditState s = fiveGops();
    RecordingHost host;
    s.inMark = 0;
    s.outMark = 5;
    s.settings.timeVopt = 0;
    addClip(s, host);
    s.settings.timeVopt = 1;
    s.inputPath = "plain.ts";  // no folder: the whole path is the name
    addClip(s, host);
    EXPECT_EQ(s.clipList.lines, (std::vector<std::string>{"00:00:00  00 ～ LAST        ( news.ts )",
                                                          "00:00:01:000 ～ LAST        ( plain.ts )"}));
}

TEST(ClipList, DeleteAndMoveFollowTheSelection) {
    EditState s = fiveGops();
    RecordingHost host;
    for (int i = 0; i < 3; ++i) {
        s.inMark = i;
        s.outMark = i + 1;
        addClip(s, host);
    }
    auto order = [&] {
        std::vector<int> v;
        for (const Clip& c : s.clipList.clips) v.push_back(c.inIndex);
        return v;
    };
    host.events.clear();
    ClipList& l = s.clipList;

    l.selected = -1;  // nothing selected: nothing happens
    EXPECT_FALSE(moveClipUp(s, host));
    EXPECT_FALSE(moveClipDown(s, host));
    EXPECT_FALSE(deleteClip(s, host));

    l.selected = 0;  // the first line cannot move up
    EXPECT_FALSE(moveClipUp(s, host));
    EXPECT_TRUE(moveClipDown(s, host));
    EXPECT_EQ(order(), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(l.selected, 1);
    EXPECT_TRUE(moveClipDown(s, host));
    EXPECT_EQ(order(), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(l.selected, 2);
    EXPECT_FALSE(moveClipDown(s, host));  // the last line cannot move down
    EXPECT_TRUE(moveClipUp(s, host));
    EXPECT_EQ(order(), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(l.selected, 1);
    // Lines move with their clips.
    EXPECT_NE(l.lines[1].find("00:00:01:000 ～"), std::string::npos);

    EXPECT_TRUE(deleteClip(s, host));
    EXPECT_EQ(order(), (std::vector<int>{1, 2}));
    EXPECT_EQ(l.selected, -1);
    EXPECT_EQ(l.lines.size(), 2u);
    l.selected = 1;
    deleteClip(s, host);
    l.selected = 0;
    deleteClip(s, host);
    EXPECT_TRUE(l.empty());
    EXPECT_TRUE(l.lines.empty());
    EXPECT_TRUE(host.events.empty());

    // A selection without its clip is reported and changes nothing.
    s.inMark = 0;
    s.outMark = 1;
    addClip(s, host);
    host.events.clear();
    l.selected = 4;
    EXPECT_FALSE(deleteClip(s, host));
    EXPECT_FALSE(moveClipUp(s, host));
    EXPECT_EQ(l.count(), 1u);
    EXPECT_EQ(host.events,
              (std::vector<std::string>{"message error: Clip List 取得エラー", "message error: Clip List 取得エラー"}));
}
