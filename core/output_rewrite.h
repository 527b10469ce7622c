// What the cut does to packets on their way to the output: the PID filter,
// the GOP time-code rewrite, and the packets put in front of later clips.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>

#include "ts_packet.h"

namespace tavrel {

class File;
struct ProgramList;

// The running GOP time code of a cut job: every rewritten GOP counts as 15
// pictures at 30 pictures per second.
struct TimeCodeCounter {
    int32_t dropFrame = 0;
    int32_t hours = 0;
    int32_t minutes = 0;
    int32_t markerBit = 1;
    int32_t seconds = 0;
    int32_t pictures = 0;  // 0 or 15
};

// Stores the group_of_pictures_header word (time code, marker bit, closed_gop
// and broken_link cleared) most significant byte first.
void formatTimeCodeWord(const TimeCodeCounter& tc, uint8_t out[4]);
void advanceTimeCode(TimeCodeCounter& tc);

// Rewrites the time code of the first GOP header of a unit that starts a
// video PES with a sequence header. The GOP header and its four time-code
// bytes must lie inside the unit's 188-byte packet. Returns true when a
// time code was rewritten (the counter has then advanced).
bool rewriteGopTimeCode(uint8_t* unit, const PacketGeometry& g, TimeCodeCounter& tc);

// The PIDs the filter keeps, taken from a program list's check marks.
struct PidFilter {
    bool active = false;  // false: every unit is kept
    std::bitset<8192> keep;
};

// Builds the filter of a clip: off when the list is empty.
PidFilter makePidFilter(const ProgramList& list);

// PID of the unit's packet (no sync byte check), then the filter's verdict.
inline bool isSelectedPid(const uint8_t* unit, const PacketGeometry& g, const PidFilter& f) {
    if (!f.active) return true;
    const uint8_t* q = unit + g.syncOffset;
    return f.keep.test(static_cast<size_t>(((q[1] & 0x1F) << 8) | q[2]));
}

// PMT PID of the first program of the PAT packet p (188 bytes from its sync
// byte): pointer field 0 and no adaptation field assumed; 0 when table_id is
// not 0 or no program is listed within the packet.
int32_t pmtPidFromPatPacket(const uint8_t* p);
// PCR_PID of a PMT packet, 0 when table_id is not 2.
int32_t pcrPidFromPmtPacket(const uint8_t* p);

// The packets written in front of a later clip: the PAT and two packets of
// the PCR PID found before its start, and the 4-byte prefixes of the units
// examined first.
struct ClipHeadPackets {
    // A unit as read (zero beyond its size) and where its sync byte was found.
    struct Unit {
        std::array<uint8_t, 256> bytes{};
        int32_t sync = 0;
        int64_t packet = -1;
        const uint8_t* packet188() const { return bytes.data() + sync; }
    };
    Unit pat;
    Unit earlierPcr;
    Unit nearerPcr;
    std::array<std::array<uint8_t, 4>, 6> prefix{};
    int32_t pmtPid = 0;
    int32_t pcrPid = 0;
};

// Finds the clip-head packets for a clip starting at packet start; nullopt
// when any of them is missing, a read fails or the unit is over 250 bytes.
std::optional<ClipHeadPackets> collectClipHeadPackets(File& src, int64_t start, int32_t packetSize);

// Lays the clip-head packets out as they go to the output: with 192-byte
// units and no 188 out each 188-byte packet is preceded by prefix 3, 4 and
// 5; 204- and 208-byte units are written whole as stored, so the output
// keeps its framing; otherwise bare 188-byte packets.
// Returns the number of bytes written to out (at most 3 * 256).
size_t layoutClipHead(const ClipHeadPackets& h, int32_t packetSize, bool out188, uint8_t* out);

}  // namespace tavrel
