// The clip list: the ranges of GOPs to keep, in output order, each with the
// path of its own recording. The GUI's list box mirrors it line by line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ts_packet.h"

namespace tavrel {

class JobHost;
struct EditState;

struct Clip {
    std::string sourcePath;
    int32_t inIndex = 0;         // first GOP of the clip
    int32_t outIndex = 0;        // first GOP after the clip
    int64_t startPacket = 0;     // first packet copied
    int64_t endPacket = 0;       // first packet not copied (LAST: packet count)
    int64_t lastGopPacket = -1;  // packet of GOP outIndex - 1 when after inIndex
    int64_t inPts = 0;
    int64_t outPts = 0;
    std::string inPtsText;
    std::string outPtsText;
    std::string inTimeCode;
    std::string outTimeCode;  // "LAST       " for the LAST entry
    // Packet geometry of the clip's own recording (size 0: the open file's).
    PacketGeometry geometry{};
};

struct ClipList {
    std::vector<Clip> clips;
    // The list box: one line per clip, same order; fixed when added.
    std::vector<std::string> lines;
    int32_t selected = -1;  // selected line, -1 = none

    size_t count() const { return clips.size(); }
    bool empty() const { return clips.empty(); }
};

// "%s ～ %s ( %s )": in and out texts (PTS texts when timeVopt is 1, else
// time codes) and the file name of the source.
std::string clipLineText(const Clip& c, int32_t timeVopt);

// "→": adds the marked range widened by the margins. An unset in mark is
// taken as the first GOP; an unset out mark is refused. Returns true when a
// clip was added.
bool addClip(EditState& state, JobHost& host);
// "×", "▲", "▼" on the selected line.
bool deleteClip(EditState& state, JobHost& host);
bool moveClipUp(EditState& state, JobHost& host);
bool moveClipDown(EditState& state, JobHost& host);

}  // namespace tavrel
