#include "navigation.h"

#include "edit_state.h"

namespace tavrel {

std::optional<int64_t> stepTarget(Step step, int64_t p, int64_t gopCount, int32_t ctGopMv, int64_t inMark,
                                  int64_t outMark) {
    if (gopCount <= 0) return std::nullopt;
    int64_t delta = 0;
    switch (step) {
    case Step::Back1: delta = -1; break;
    case Step::Forward1: delta = 1; break;
    case Step::Back30: delta = -30; break;
    case Step::Back60: delta = -60; break;
    case Step::Forward30: delta = 30; break;
    case Step::Forward60: delta = 60; break;
    case Step::BackCustom: delta = -int64_t{ctGopMv}; break;
    case Step::ForwardCustom: delta = ctGopMv; break;
    case Step::JumpIn:
    case Step::JumpOut: {
        const int64_t mark = step == Step::JumpIn ? inMark : outMark;
        if (mark < 0 || mark >= gopCount) return std::nullopt;
        return mark;
    }
    }
    int64_t t = 0;
    if (__builtin_add_overflow(p, delta, &t) || t < 0 || t >= gopCount) return std::nullopt;
    return t;
}

int64_t gopOfPacket(const GopList& list, int64_t packet) {
    if (list.size() < 2) return -1;
    for (size_t i = 0; i + 1 < list.size(); ++i) {
        if (list[i].packet <= packet && packet < list[i + 1].packet) return static_cast<int64_t>(i);
    }
    return -1;
}

const char* gopTimeText(const GopEntry& entry, int32_t timeVopt) {
    return showsPtsTime(timeVopt) ? entry.ptsText : entry.timeCode;
}

int32_t previewPid(const GopEntry& entry, int32_t streamVideoPid) {
    return entry.pid == 0xFFFF ? streamVideoPid : entry.pid;
}

int32_t displayWidthFor(const PictureOptions& o) {
    if (o.outWnd == 0) return 270;
    return o.native == 1 ? 0 : o.csize;
}

std::optional<PreviewRequest> previewRequest(const EditState& state, int64_t index, const PictureOptions& o) {
    if (index < 0 || static_cast<uint64_t>(index) >= state.gopList.size()) return std::nullopt;
    const GopEntry& e = state.gopList[static_cast<size_t>(index)];
    if (e.isLast()) return std::nullopt;
    PreviewRequest r;
    if (__builtin_mul_overflow(e.packet, int64_t{state.geometry.size}, &r.position) || r.position < 0)
        return std::nullopt;
    r.videoPid = previewPid(e, state.streamVideoPid);
    r.displayWidth = displayWidthFor(o);
    r.windowMode = o.outWnd;
    r.aspectMode = o.aspect;
    r.stretchQuality = o.grade;
    return r;
}

}  // namespace tavrel
