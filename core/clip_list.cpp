#include "clip_list.h"

#include <utility>

#include "edit_state.h"
#include "file.h"
#include "host.h"
#include "navigation.h"

namespace tavrel {

namespace {

constexpr const char* kLastTimeCode = "LAST       ";

void showError(JobHost& host, const char* text) { host.showMessage("error", text, MsgKind::Ok); }

// The selected line must have its clip; reports the lookup failure.
bool selectedClipExists(const ClipList& list, JobHost& host) {
    if (list.selected < 0) return false;
    if (static_cast<size_t>(list.selected) >= list.clips.size()) {
        showError(host, "Clip List 取得エラー");
        return false;
    }
    return true;
}

}  // namespace

std::string clipLineText(const Clip& c, int32_t timeVopt) {
    const std::string& in = showsPtsTime(timeVopt) ? c.inPtsText : c.inTimeCode;
    const std::string& out = showsPtsTime(timeVopt) ? c.outPtsText : c.outTimeCode;
    return in + " ～ " + out + " ( " + fileNameOf(c.sourcePath) + " )";
}

bool addClip(EditState& state, JobHost& host) {
    const GopList& gops = state.gopList;
    const int64_t lowest = 0;
    const int64_t highest = static_cast<int64_t>(gops.size()) - 1;

    // Marks come from the command line too: widen without overflowing.
    int64_t in = 0;
    if (__builtin_sub_overflow(state.inMark, int64_t{state.settings.pacMargin}, &in) || in < lowest) in = lowest;
    int64_t out = 0;
    if (__builtin_add_overflow(state.outMark, int64_t{state.settings.pacMarginBack}, &out) || out > highest)
        out = highest;

    // An unset out mark would otherwise turn into a GOP index through the
    // back margin; it is refused like a missing range.
    bool valid = state.outMark >= 0 && in >= 0 && out >= 0 && in < out && out <= highest;
    if (!valid) {
        showError(host, "範囲選択が正しくありません");
        host.focusSlider();
        return false;
    }

    const GopEntry& gin = gops[static_cast<size_t>(in)];
    const GopEntry& gout = gops[static_cast<size_t>(out)];
    Clip c;
    c.sourcePath = state.inputPath;
    c.geometry = state.geometry;
    c.inIndex = static_cast<int32_t>(in);
    c.outIndex = static_cast<int32_t>(out);
    c.startPacket = gin.packet;
    c.endPacket = gout.packet;
    c.lastGopPacket = out - 1 > in ? gops[static_cast<size_t>(out - 1)].packet : -1;
    c.inPts = gin.pts;
    c.outPts = gout.pts;
    c.inPtsText = gin.ptsText;
    c.outPtsText = gout.ptsText;
    c.inTimeCode = gin.timeCode;
    c.outTimeCode = gout.isLast() ? kLastTimeCode : gout.timeCode;

    ClipList& list = state.clipList;
    list.lines.push_back(clipLineText(c, state.settings.timeVopt));
    list.clips.push_back(std::move(c));
    host.focusSlider();
    return true;
}

bool deleteClip(EditState& state, JobHost& host) {
    ClipList& list = state.clipList;
    if (!selectedClipExists(list, host)) return false;
    const auto s = static_cast<size_t>(list.selected);
    list.clips.erase(list.clips.begin() + static_cast<std::ptrdiff_t>(s));
    list.lines.erase(list.lines.begin() + static_cast<std::ptrdiff_t>(s));
    if (list.clips.empty()) {
        list.clips.shrink_to_fit();
        list.lines.shrink_to_fit();
    }
    list.selected = -1;
    return true;
}

bool moveClipUp(EditState& state, JobHost& host) {
    ClipList& list = state.clipList;
    if (list.selected < 1) return false;
    if (!selectedClipExists(list, host)) return false;
    const auto s = static_cast<size_t>(list.selected);
    std::swap(list.clips[s], list.clips[s - 1]);
    std::swap(list.lines[s], list.lines[s - 1]);
    list.selected = static_cast<int32_t>(s - 1);
    return true;
}

bool moveClipDown(EditState& state, JobHost& host) {
    ClipList& list = state.clipList;
    if (list.selected < 0) return false;
    if (!selectedClipExists(list, host)) return false;
    const auto s = static_cast<size_t>(list.selected);
    if (s + 1 >= list.clips.size()) return false;
    std::swap(list.clips[s], list.clips[s + 1]);
    std::swap(list.lines[s], list.lines[s + 1]);
    list.selected = static_cast<int32_t>(s + 1);
    return true;
}

}  // namespace tavrel
