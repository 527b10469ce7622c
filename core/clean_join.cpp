#include "clean_join.h"

#include <algorithm>
#include <cstring>

namespace tavrel {

namespace {

// PCRs count at 27 MHz and wrap with the 33-bit base.
constexpr int64_t kPcrWrap = (int64_t{1} << 33) * 300;
// Two PCRs of one time base are at most 0.1 s apart.
constexpr int64_t kPcrMaxGap = 27000000 / 10;

// Where the payload of a packet begins (from its sync byte), 0 without one.
int payloadOffset(const uint8_t* p) {
    const int afc = packetAfc(p);
    if (afc == 1) return 4;
    if (afc == 3 && p[4] < 183) return 5 + p[4];
    return 0;
}

// The kind of stream a payload unit start shows, and the length of its
// unit (6 + PES_packet_length; 0 when unbounded or not a PES).
StreamKind unitKind(const uint8_t* payload, int size, int32_t& unitLength) {
    unitLength = 0;
    if (size < 4 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) return StreamKind::Sections;
    if (size >= 6) {
        const int32_t length = (payload[4] << 8) | payload[5];
        if (length != 0) unitLength = 6 + length;
    }
    return payload[3] >= 0xE0 && payload[3] <= 0xEF ? StreamKind::Video : StreamKind::OtherPes;
}

bool pcrContinues(int64_t last, int64_t next) {
    const int64_t delta = ((next - last) % kPcrWrap + kPcrWrap) % kPcrWrap;
    return delta > 0 && delta <= kPcrMaxGap;
}

}  // namespace

int64_t packetPcr(const uint8_t* p) {
    if ((packetAfc(p) & 2) == 0 || p[4] < 7 || (p[5] & 0x10) == 0) return -1;
    const int64_t base =
        (int64_t{p[6]} << 25) | (int64_t{p[7]} << 17) | (int64_t{p[8]} << 9) | (int64_t{p[9]} << 1) | (p[10] >> 7);
    return base * 300 + (((p[10] & 1) << 8) | p[11]);
}

void keepAdaptationFieldOnly(uint8_t* p) {
    p[1] &= 0xBF;
    if (packetAfc(p) & 2) {
        int length = std::min<int>(p[4], 183);
        if (length == 0) {
            p[5] = 0;
            length = 1;
        } else {
            p[5] &= 0xBF;  // random_access_indicator: no PES begins here
        }
        std::memset(p + 5 + length, 0xFF, static_cast<size_t>(183 - length));
    } else {
        p[5] = 0;
        std::memset(p + 6, 0xFF, 182);
    }
    p[4] = 183;
    p[3] = static_cast<uint8_t>((p[3] & 0xCF) | 0x20);
}

void EdgeScan::learnKinds(const uint8_t* units, int64_t count, const PacketGeometry& g) {
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* p = units + i * g.size + g.syncOffset;
        if (p[0] != 0x47 || !packetPusi(p)) continue;
        const int at = payloadOffset(p);
        if (at == 0) continue;
        int32_t length = 0;
        PidEdge& e = pids[static_cast<size_t>(packetPid(p))];
        e.kind = std::max(e.kind, unitKind(p + at, 188 - at, length));
    }
}

void EdgeScan::scanTail(const uint8_t* units, int64_t count, const PacketGeometry& g, int64_t first) {
    for (int64_t i = count - 1; i >= 0; --i) {
        const uint8_t* p = units + i * g.size + g.syncOffset;
        if (p[0] != 0x47) continue;
        const int at = payloadOffset(p);
        PidEdge& e = pids[static_cast<size_t>(packetPid(p))];
        if (at == 0 || e.lastStart >= 0) continue;
        e.inTail = true;
        e.unitBytes += 188 - at;
        if (packetPusi(p)) {
            e.lastStart = first + i;
            unitKind(p + at, 188 - at, e.unitLength);
        }
    }
}

bool EdgeScan::needsAfterEnd(int pid) const {
    const PidEdge& e = pids[static_cast<size_t>(pid)];
    return e.kind == StreamKind::OtherPes && e.inTail && e.next == AfterEnd::Unknown &&
           !(e.lastStart >= 0 && e.unitLength > 0);
}

bool EdgeScan::scanAfterEnd(const uint8_t* units, int64_t count, const PacketGeometry& g, bool atEndOfFile) {
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* p = units + i * g.size + g.syncOffset;
        if (p[0] != 0x47 || payloadOffset(p) == 0) continue;
        PidEdge& e = pids[static_cast<size_t>(packetPid(p))];
        if (e.next == AfterEnd::Unknown) e.next = packetPusi(p) ? AfterEnd::Starts : AfterEnd::Continues;
    }
    bool done = true;
    for (int pid = 0; pid < kPidCount; ++pid) {
        if (!needsAfterEnd(pid)) continue;
        // Nothing follows at the end of the recording: no clip cut it off.
        if (atEndOfFile)
            pids[static_cast<size_t>(pid)].next = AfterEnd::Starts;
        else
            done = false;
    }
    return done;
}

bool EdgeScan::needsEarlierTail() const {
    return std::any_of(pids.begin(), pids.end(), [](const PidEdge& e) {
        return e.kind == StreamKind::OtherPes && e.inTail && e.lastStart < 0 && e.next == AfterEnd::Continues;
    });
}

int64_t cutOffFrom(const PidEdge& e, int64_t start, int64_t tailStart) {
    if (e.kind != StreamKind::OtherPes || !e.inTail) return kNoPacket;
    // PES_packet_length tells when it is there; else what follows the end.
    const bool complete =
        e.lastStart >= 0 && e.unitLength > 0 ? e.unitBytes >= e.unitLength : e.next != AfterEnd::Continues;
    if (complete) return kNoPacket;
    if (e.lastStart >= 0) return e.lastStart;
    // The PES began before the clip: none of it is the clip's. A start the
    // tail scan gave up on before reaching the clip's is left as it is.
    return tailStart <= start ? start : kNoPacket;
}

void CleanJoin::beginClip(const EdgeScan& scan, int64_t start, int64_t tailStart) {
    ++m_clip;
    for (int pid = 0; pid < kPidCount; ++pid) {
        const PidEdge& e = scan.pids[static_cast<size_t>(pid)];
        PidState& s = m_pids[static_cast<size_t>(pid)];
        s.kind = e.kind;
        s.awaitingStart = e.kind == StreamKind::OtherPes || e.kind == StreamKind::Video;
        s.cutFrom = cutOffFrom(e, start, tailStart);
        s.offsetValid = false;
    }
}

void CleanJoin::setCounter(uint8_t* p, PidState& s, bool payload) {
    const int in = p[3] & 0x0F;
    int out = in;
    if (s.offsetValid)
        out = (in + s.ccOffset) & 0x0F;
    else if (s.lastCc >= 0)
        out = payload ? (s.lastCc + 1) & 0x0F : s.lastCc;
    // The clip's own packets keep their steps (and duplicates) from here on.
    if (payload && !s.offsetValid) {
        s.ccOffset = static_cast<int8_t>((out - in) & 0x0F);
        s.offsetValid = true;
    }
    p[3] = static_cast<uint8_t>((p[3] & 0xF0) | out);
    s.lastCc = static_cast<int8_t>(out);
}

void CleanJoin::checkPcr(uint8_t* p, PidState& s) {
    const int64_t pcr = packetPcr(p);
    if (pcr < 0) return;
    if (s.pcrClip != m_clip) {
        s.pcrClip = m_clip;
        const bool jump = s.lastPcr < 0 ? m_pcrSeen : !pcrContinues(s.lastPcr, pcr);
        if (m_clip > 1 && jump) p[5] |= 0x80;  // discontinuity_indicator
    }
    s.lastPcr = pcr;
    m_pcrSeen = true;
}

bool CleanJoin::passPacket(uint8_t* p, int64_t a) {
    const int pid = packetPid(p);
    if (pid == kNullPid) return true;
    PidState& s = m_pids[static_cast<size_t>(pid)];
    const int afc = packetAfc(p);
    bool payload = (afc & 1) != 0;
    if (payload) {
        bool cut = a >= s.cutFrom;
        if (!cut && s.awaitingStart) {
            if (packetPusi(p))
                s.awaitingStart = false;
            else
                cut = true;
        }
        if (cut) {
            // The next payload packet goes on from the last counter out.
            s.offsetValid = false;
            if (s.kind != StreamKind::Video && packetPcr(p) < 0) return false;
            keepAdaptationFieldOnly(p);
            payload = false;
        }
    }
    setCounter(p, s, payload);
    if (afc & 2) checkPcr(p, s);
    return true;
}

void CleanJoin::passHeadPacket(uint8_t* p) {
    const int pid = packetPid(p);
    if (pid == kNullPid) return;
    PidState& s = m_pids[static_cast<size_t>(pid)];
    bool payload = (packetAfc(p) & 1) != 0;
    // The PAT is whole; the PCR-PID packets hold pieces of PES that are
    // not in the output.
    if (payload && pid != 0) {
        s.offsetValid = false;
        keepAdaptationFieldOnly(p);
        payload = false;
    }
    setCounter(p, s, payload);
    if (packetAfc(p) & 2) checkPcr(p, s);
}

}  // namespace tavrel
