#include "output_rewrite.h"

#include <cstring>

#include "file.h"
#include "program_tables.h"

namespace tavrel {

void formatTimeCodeWord(const TimeCodeCounter& tc, uint8_t out[4]) {
    const uint32_t w =
        (static_cast<uint32_t>(tc.dropFrame & 1) << 31) | (static_cast<uint32_t>(tc.hours & 0x1F) << 26) |
        (static_cast<uint32_t>(tc.minutes & 0x3F) << 20) | (static_cast<uint32_t>(tc.markerBit & 1) << 19) |
        (static_cast<uint32_t>(tc.seconds & 0x3F) << 13) | (static_cast<uint32_t>(tc.pictures & 0x3F) << 7);
    out[0] = static_cast<uint8_t>(w >> 24);
    out[1] = static_cast<uint8_t>(w >> 16);
    out[2] = static_cast<uint8_t>(w >> 8);
    out[3] = static_cast<uint8_t>(w);
}

void advanceTimeCode(TimeCodeCounter& tc) {
    tc.pictures += 15;
    if (tc.pictures < 30) return;
    tc.pictures = 0;
    if (++tc.seconds < 60) return;
    tc.seconds = 0;
    if (++tc.minutes < 60) return;
    tc.minutes = 0;
    if (++tc.hours < 24) return;
    tc.hours = 0;
}

namespace {

inline bool startCodeAt(const uint8_t* p, uint8_t code) { return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code; }

}  // namespace

bool rewriteGopTimeCode(uint8_t* unit, const PacketGeometry& g, TimeCodeCounter& tc) {
    if (g.syncOffset < 0 || g.syncOffset + 188 > g.size) return false;
    uint8_t* q = unit + g.syncOffset;
    if (q[0] != 0x47 || !(q[1] & 0x40)) return false;
    const int afc = (q[3] >> 4) & 3;
    int payload;
    if (afc == 1)
        payload = 4;
    else if (afc == 3)
        payload = 5 + q[4];
    else
        return false;
    if (payload + 4 > 188) return false;
    const uint8_t* pes = q + payload;
    if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || (pes[3] & 0xF0) != 0xE0) return false;

    bool sequence = false;
    for (int i = 1; i <= 184; ++i) {
        if (startCodeAt(q + i, 0xB3)) {
            sequence = true;
            break;
        }
    }
    if (!sequence) return false;
    // The GOP start code and its four time-code bytes stay in this packet.
    for (int i = 1; i <= 180; ++i) {
        if (startCodeAt(q + i, 0xB8)) {
            formatTimeCodeWord(tc, q + i + 4);
            advanceTimeCode(tc);
            return true;
        }
    }
    return false;
}

PidFilter makePidFilter(const ProgramList& list) {
    PidFilter f;
    f.active = !list.empty();
    for (const ProgramEntry& e : list.entries)
        if (e.selected && e.pid >= 0 && e.pid < 8192) f.keep.set(static_cast<size_t>(e.pid));
    return f;
}

int32_t pmtPidFromPatPacket(const uint8_t* p) {
    if (p[5] != 0x00) return 0;
    const int len = ((p[6] & 0x0F) << 8) | p[7];
    for (int i = 13; i < 5 + len - 1 && i + 4 <= 188; i += 4) {
        const int program = (p[i] << 8) | p[i + 1];
        if (program != 0) return ((p[i + 2] & 0x1F) << 8) | p[i + 3];
    }
    return 0;
}

int32_t pcrPidFromPmtPacket(const uint8_t* p) {
    if (p[5] != 0x02) return 0;
    return ((p[13] & 0x1F) << 8) | p[14];
}

namespace {

// Reads unit n and finds its sync byte; false on any failure.
bool examineUnit(File& src, int64_t n, int32_t packetSize, ClipHeadPackets::Unit& u) {
    if (n < 0) return false;
    u.bytes.fill(0);
    if (!src.seek(n * packetSize)) return false;
    const int64_t got = src.read(u.bytes.data(), static_cast<size_t>(packetSize));
    if (got <= 0) return false;
    const void* s = std::memchr(u.bytes.data(), 0x47, 33);
    if (!s) return false;
    u.sync = static_cast<int32_t>(static_cast<const uint8_t*>(s) - u.bytes.data());
    u.packet = n;
    return true;
}

}  // namespace

std::optional<ClipHeadPackets> collectClipHeadPackets(File& src, int64_t start, int32_t packetSize) {
    if (packetSize <= 0 || packetSize > 250 || start <= 0) return std::nullopt;
    ClipHeadPackets h;
    ClipHeadPackets::Unit u;

    // The PAT before the start; the first six units seen lend their prefixes.
    int examined = 0;
    for (int64_t n = start - 1;; --n) {
        if (!examineUnit(src, n, packetSize, u)) return std::nullopt;
        if (examined < 6) {
            std::memcpy(h.prefix[static_cast<size_t>(5 - examined)].data(), u.bytes.data(), 4);
            ++examined;
        }
        if (packetPid(u.packet188()) == 0) break;
    }
    h.pat = u;
    h.pmtPid = pmtPidFromPatPacket(h.pat.packet188());

    bool pmtFound = false;
    for (int64_t n = h.pat.packet + 1; n <= h.pat.packet + 5000; ++n) {
        if (!examineUnit(src, n, packetSize, u)) return std::nullopt;
        if (packetPid(u.packet188()) == h.pmtPid) {
            pmtFound = true;
            break;
        }
    }
    if (!pmtFound) return std::nullopt;
    h.pcrPid = pcrPidFromPmtPacket(u.packet188());

    bool nearer = false;
    for (int64_t n = start - 1;; --n) {
        if (!examineUnit(src, n, packetSize, u)) return std::nullopt;
        if (packetPid(u.packet188()) != h.pcrPid) continue;
        if (!nearer) {
            h.nearerPcr = u;
            nearer = true;
        } else {
            h.earlierPcr = u;
            break;
        }
    }
    return h;
}

size_t layoutClipHead(const ClipHeadPackets& h, int32_t packetSize, bool out188, uint8_t* out) {
    const ClipHeadPackets::Unit* units[3] = {&h.pat, &h.earlierPcr, &h.nearerPcr};
    size_t n = 0;
    for (int i = 0; i < 3; ++i) {
        const ClipHeadPackets::Unit& u = *units[i];
        if (packetSize == 192 && !out188) {
            std::memcpy(out + n, h.prefix[static_cast<size_t>(3 + i)].data(), 4);
            std::memcpy(out + n + 4, u.packet188(), 188);
            n += 192;
        } else if (packetSize == 204 || packetSize == 208) {
            std::memcpy(out + n, u.bytes.data(), static_cast<size_t>(packetSize));
            n += static_cast<size_t>(packetSize);
        } else {
            std::memcpy(out + n, u.packet188(), 188);
            n += 188;
        }
    }
    return n;
}

}  // namespace tavrel
