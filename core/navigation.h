// GOP navigation without a window: step targets, mark jumps, the GOP that
// holds a packet, and what a picture request asks the preview library for.
// The program wires these to its controls; the CLI's preview uses them too.
#pragma once

#include <cstdint>
#include <optional>

#include "gop.h"

namespace tavrel {

struct EditState;

enum class Step {
    Back1,          // "←"      p - 1
    Forward1,       // "→"      p + 1
    Back30,         // "←15"    p - 30
    Back60,         // "←30"    p - 60
    Forward30,      // "15→"    p + 30
    Forward60,      // "30→"    p + 60
    BackCustom,     // "← C"    p - CTGOPMV
    ForwardCustom,  // "C →" p + CTGOPMV
    JumpIn,         // "| <<"   the in mark
    JumpOut,        // ">> |"   the out mark
};

// The GOP a step from slider position p moves to, or nullopt when it does
// nothing: a target outside 0..count-1 is never clamped, a jump to an unset
// mark (-1) and any step over an empty list do nothing.
std::optional<int64_t> stepTarget(Step step, int64_t p, int64_t gopCount, int32_t ctGopMv, int64_t inMark,
                                  int64_t outMark);

// Index i of the GOP with packet(i) <= packet < packet(i + 1), or -1. A
// packet at or after the last entry's packet number is never found.
int64_t gopOfPacket(const GopList& list, int64_t packet);

// Wherever a GOP's time is shown: TIME_VOPT 1 shows its PTS time text, 0
// its GOP time code.
inline bool showsPtsTime(int32_t timeVopt) { return timeVopt == 1; }
const char* gopTimeText(const GopEntry& entry, int32_t timeVopt);

// The PID a GOP's picture is requested with: its own, or the stream's video
// PID for an entry that has none (0xFFFF).
int32_t previewPid(const GopEntry& entry, int32_t streamVideoPid);

// The picture settings of the window (WND section).
struct PictureOptions {
    int32_t outWnd = 0;   // pictures go to the output picture window
    int32_t native = 0;   // that window shows the picture's own size
    int32_t csize = 640;  // else this width
    int32_t aspect = 9;   // 9 Auto, 0 4:3, 3 16:9
    int32_t grade = 2;    // 0 Nomal, 1 Low, 2 High
};

// Picture width asked of the library: 270 in the main window's picture
// area, else 0 (own size) or CSIZE.
int32_t displayWidthFor(const PictureOptions& o);

// What one picture request puts into the library's read record.
struct PreviewRequest {
    int64_t position = 0;  // packet size x the entry's packet number
    int32_t videoPid = 0;
    int32_t displayWidth = 0;
    int32_t windowMode = 0;
    int32_t aspectMode = 9;
    int32_t stretchQuality = 2;
};

// The request for GOP index, or nullopt when there is no picture to ask
// for: no such entry, the LAST entry (the picture is cleared instead), or a
// byte position that does not fit 64 bits.
std::optional<PreviewRequest> previewRequest(const EditState& state, int64_t index, const PictureOptions& o);

}  // namespace tavrel
