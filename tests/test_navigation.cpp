#include <gtest/gtest.h>

#include <optional>

#include "edit_state.h"
#include "navigation.h"

using namespace tavrel;

namespace {

// GOPs at packets 0, 100, ..., 400 and the LAST entry at 512.
EditState fiveGops() {
    EditState s;
    s.geometry = geometryForSize(192);
    s.streamVideoPid = 0x1011;
    for (int i = 0; i < 5; ++i) {
        GopEntry e;
        e.pid = i == 2 ? 0xFFFF : 0x100;
        e.packet = i * 100;
        e.setTimeCode("00:00:01  00");
        e.setPtsText("00:00:02:000");
        s.gopList.push_back(e);
    }
    GopEntry last;
    last.setTimeCode(GopEntry::kLastText);
    last.setPtsText(GopEntry::kLastText);
    last.packet = 512;
    s.gopList.push_back(last);
    return s;
}

}  // namespace

TEST(Navigation, StepsMoveOnlyToTargetsInsideTheList) {
    const std::optional<int64_t> none;
    struct Case {
        Step step;
        int64_t p, count;
        int32_t custom;
        int64_t in, out;
        std::optional<int64_t> want;
    } cases[] = {
        {Step::Forward1, 4, 6, 120, -1, -1, 5},     // onto the LAST entry
        {Step::Forward1, 5, 6, 120, -1, -1, none},  // past it: nothing, no clamping
        {Step::Back1, 0, 6, 120, -1, -1, none},
        {Step::Forward60, 10, 100, 120, -1, -1, 70},
        {Step::Back30, 29, 100, 120, -1, -1, none},
        {Step::Back30, 30, 100, 120, -1, -1, 0},
        {Step::BackCustom, 100, 300, 120, -1, -1, none},  // CTGOPMV above the position
        {Step::ForwardCustom, 100, 300, 120, -1, -1, 220},
        {Step::JumpIn, 7, 10, 120, 3, -1, 3},
        {Step::JumpOut, 7, 10, 120, 3, -1, none},  // out mark unset
        {Step::JumpOut, 1, 10, 120, -1, 9, 9},
        {Step::Forward1, 0, 0, 120, -1, -1, none},  // empty list
        {Step::JumpIn, 0, 0, 120, 0, -1, none},
        {Step::ForwardCustom, INT64_MAX - 5, INT64_MAX, 120, -1, -1, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "step " << static_cast<int>(c.step) << " from " << c.p);
        EXPECT_EQ(stepTarget(c.step, c.p, c.count, c.custom, c.in, c.out), c.want);
    }
}

TEST(Navigation, PacketsFindTheGopThatHoldsThem) {
    const EditState s = fiveGops();
    EXPECT_EQ(gopOfPacket(s.gopList, 0), 0);
    EXPECT_EQ(gopOfPacket(s.gopList, 99), 0);
    EXPECT_EQ(gopOfPacket(s.gopList, 100), 1);
    EXPECT_EQ(gopOfPacket(s.gopList, 511), 4);
    EXPECT_EQ(gopOfPacket(s.gopList, 512), -1);  // the LAST entry's packet
    EXPECT_EQ(gopOfPacket(s.gopList, -1), -1);
    EXPECT_EQ(gopOfPacket(GopList(1), 0), -1);
}

TEST(Navigation, PictureRequests) {
    EditState s = fiveGops();
    PictureOptions o;
    auto r = previewRequest(s, 1, o);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->position, 100 * 192);
    EXPECT_EQ(r->videoPid, 0x100);
    EXPECT_EQ(r->displayWidth, 270);
    EXPECT_EQ(r->windowMode, 0);
    EXPECT_EQ(r->aspectMode, 9);
    EXPECT_EQ(r->stretchQuality, 2);

    // An entry without a PID is asked for with the stream's video PID.
    EXPECT_EQ(previewRequest(s, 2, o)->videoPid, 0x1011);
    // The LAST entry has no picture; nor has an index past the list.
    EXPECT_FALSE(previewRequest(s, 5, o));
    EXPECT_FALSE(previewRequest(s, 6, o));

    o.outWnd = 1;
    o.csize = 800;
    EXPECT_EQ(previewRequest(s, 0, o)->displayWidth, 800);
    o.native = 1;
    EXPECT_EQ(previewRequest(s, 0, o)->displayWidth, 0);
    EXPECT_EQ(previewRequest(s, 0, o)->windowMode, 1);

    EXPECT_STREQ(gopTimeText(s.gopList[0], 1), "00:00:02:000");
    EXPECT_STREQ(gopTimeText(s.gopList[0], 0), "00:00:01  00");
}
