// Clean joins: the cut's option that makes the joins and clip edges of an
// output acceptable to every decoder. Continuity counters run on across
// joins, PES packets of non-video streams begun before a clip's start or cut
// off at its end are left out (their PCRs kept), and the first PCR after a
// join that jumps carries the discontinuity indicator.
//
// The cut job scans a few thousand packets around each clip's edges first
// (EdgeScan), turns that into the clip's edge plan (beginClip) and then
// passes every packet it keeps through passPacket, which works in place.
#pragma once

#include <cstdint>
#include <vector>

#include "ts_packet.h"

namespace tavrel {

constexpr int kPidCount = 8192;
constexpr int kNullPid = 0x1FFF;
constexpr int64_t kNoPacket = INT64_MAX;

// What a PID carries, as its payload unit starts show it. Ordered: a PID
// seen as video once stays video, so no video packet is ever dropped.
enum class StreamKind : uint8_t { Unknown = 0, Sections = 1, OtherPes = 2, Video = 3 };

// The last PES of a PID at a clip's end.
enum class AfterEnd : uint8_t { Unknown, Starts, Continues };

struct PidEdge {
    StreamKind kind = StreamKind::Unknown;
    // Tail, scanned backwards from the clip's end: the last payload unit
    // start at or before it and the payload bytes from there to the end.
    int64_t lastStart = -1;
    int64_t unitBytes = 0;
    int32_t unitLength = 0;  // 6 + PES_packet_length; 0 when unbounded or unknown
    bool inTail = false;     // payload packets in the tail scanned so far
    // The PID's first payload packet after the clip's end.
    AfterEnd next = AfterEnd::Unknown;
};

// The packets around one clip, as the cut job reads them.
struct EdgeScan {
    std::vector<PidEdge> pids = std::vector<PidEdge>(kPidCount);

    void clear() { pids.assign(kPidCount, PidEdge{}); }

    // Kinds from the payload unit starts of count units (any stretch).
    void learnKinds(const uint8_t* units, int64_t count, const PacketGeometry& g);
    // One stretch of the tail: count units from packet number first on,
    // all at or before the clip's end; stretches go from the end backwards.
    void scanTail(const uint8_t* units, int64_t count, const PacketGeometry& g, int64_t first);
    // Units after the clip's end, in file order; atEndOfFile when they run
    // to the end of the recording. Returns true once every PID that needs
    // to know how its last PES goes on knows it.
    bool scanAfterEnd(const uint8_t* units, int64_t count, const PacketGeometry& g, bool atEndOfFile);
    // True while a PES that the tail shows cut off has its start further
    // back than the tail scanned so far.
    bool needsEarlierTail() const;
    // True while a PID's last PES can only be judged by what follows it.
    bool needsAfterEnd(int pid) const;
};

// The packet from which a PID's cut-off PES is dropped at the clip's end
// (kNoPacket: nothing to drop). tailStart is the first packet the tail
// scan reached; start the clip's first packet.
int64_t cutOffFrom(const PidEdge& e, int64_t start, int64_t tailStart);

// The state of clean joins across one cut job.
class CleanJoin {
public:
    CleanJoin() : m_pids(kPidCount) {}

    // Starts clip k (1, 2, ...) of packets start..end with the edges that
    // were scanned around it.
    void beginClip(const EdgeScan& scan, int64_t start, int64_t tailStart);

    // One packet of the clip (p at its sync byte, number a in the
    // recording), after the PID filter. Rewrites it in place; false when it
    // is to be left out.
    bool passPacket(uint8_t* p, int64_t a);
    // A packet put in front of the clip that belongs to none of its PES
    // (the clip-head packets): kept with its PCR, without its payload.
    void passHeadPacket(uint8_t* p);

private:
    struct PidState {
        // Per job.
        int8_t lastCc = -1;   // counter of the PID's last packet out, -1 none yet
        int8_t ccOffset = 0;  // out = in + offset while offsetValid
        bool offsetValid = false;
        int64_t lastPcr = -1;
        int32_t pcrClip = 0;  // the clip whose first PCR was checked
        // Per clip.
        StreamKind kind = StreamKind::Unknown;
        bool awaitingStart = false;  // payload before the first unit start is not the clip's
        int64_t cutFrom = kNoPacket;
    };

    void setCounter(uint8_t* p, PidState& s, bool payload);
    void checkPcr(uint8_t* p, PidState& s);

    std::vector<PidState> m_pids;
    int32_t m_clip = 0;
    bool m_pcrSeen = false;
};

// Leaves only the adaptation field of a 188-byte packet: its payload (and
// payload_unit_start_indicator and random_access_indicator) is removed,
// and its PCR and other fields stay. A packet without an adaptation field
// gets one of stuffing only.
void keepAdaptationFieldOnly(uint8_t* p);

// PCR of a packet (base * 300 + extension), -1 without one.
int64_t packetPcr(const uint8_t* p);

}  // namespace tavrel
