// Helpers of the cut tests: hand-built PSI packets and a plain reading of a
// recording as units, from which expected outputs are derived.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tavrel::test {

using Bytes = std::vector<uint8_t>;

// A 188-byte packet: header, pointer field 0 when pusi, payload, 0xFF fill.
inline Bytes psiPacket(int pid, const Bytes& payload, bool pusi = true, int cc = 0) {
    Bytes p(188, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((pusi ? 0x40 : 0) | ((pid >> 8) & 0x1F));
    p[2] = static_cast<uint8_t>(pid & 0xFF);
    p[3] = static_cast<uint8_t>(0x10 | (cc & 0x0F));
    size_t at = 4;
    if (pusi) p[at++] = 0;
    for (size_t i = 0; i < payload.size() && at < 188; ++i) p[at++] = payload[i];
    return p;
}

// Splits a section over packets: the first gets 183 bytes after the pointer
// field, the following ones 184 each.
inline std::vector<Bytes> sectionPackets(int pid, const Bytes& section) {
    std::vector<Bytes> out;
    size_t pos = std::min<size_t>(183, section.size());
    out.push_back(psiPacket(pid, Bytes(section.begin(), section.begin() + static_cast<long>(pos))));
    int cc = 1;
    while (pos < section.size()) {
        const size_t n = std::min<size_t>(184, section.size() - pos);
        out.push_back(psiPacket(
            pid, Bytes(section.begin() + static_cast<long>(pos), section.begin() + static_cast<long>(pos + n)), false,
            cc++));
        pos += n;
    }
    return out;
}

inline Bytes sectionWithLength(uint8_t tableId, const Bytes& body) {
    // body: everything after the length field except the CRC.
    const size_t len = body.size() + 4;
    Bytes s(3 + len, 0);
    s[0] = tableId;
    s[1] = static_cast<uint8_t>(0xB0 | ((len >> 8) & 0x0F));
    s[2] = static_cast<uint8_t>(len & 0xFF);
    for (size_t i = 0; i < body.size(); ++i) s[3 + i] = body[i];
    const uint8_t crc[4] = {0xDE, 0xAD, 0xBE, 0xEF};  // never checked
    for (size_t i = 0; i < 4; ++i) s[3 + body.size() + i] = crc[i];
    return s;
}

inline Bytes patSection(const std::vector<std::pair<int, int>>& programs) {
    Bytes body{0x00, 0x01, 0xC1, 0x00, 0x00};
    for (auto [number, pid] : programs) {
        body.push_back(static_cast<uint8_t>(number >> 8));
        body.push_back(static_cast<uint8_t>(number & 0xFF));
        body.push_back(static_cast<uint8_t>(0xE0 | (pid >> 8)));
        body.push_back(static_cast<uint8_t>(pid & 0xFF));
    }
    return sectionWithLength(0x00, body);
}

struct EsItem {
    int type;
    int pid;
    size_t infoLength = 0;
};

inline Bytes pmtSection(int pcrPid, const std::vector<EsItem>& streams, size_t programInfo = 0) {
    Bytes body{0x00,
               0x01,
               0xC1,
               0x00,
               0x00,
               static_cast<uint8_t>(0xE0 | (pcrPid >> 8)),
               static_cast<uint8_t>(pcrPid & 0xFF),
               static_cast<uint8_t>(0xF0 | (programInfo >> 8)),
               static_cast<uint8_t>(programInfo & 0xFF)};
    body.insert(body.end(), programInfo, 0x0A);
    for (const EsItem& e : streams) {
        body.push_back(static_cast<uint8_t>(e.type));
        body.push_back(static_cast<uint8_t>(0xE0 | (e.pid >> 8)));
        body.push_back(static_cast<uint8_t>(e.pid & 0xFF));
        body.push_back(static_cast<uint8_t>(0xF0 | (e.infoLength >> 8)));
        body.push_back(static_cast<uint8_t>(e.infoLength & 0xFF));
        body.insert(body.end(), e.infoLength, 0x52);
    }
    return sectionWithLength(0x02, body);
}

// A recording read as units of a given size (whole units only).
struct Units {
    Bytes bytes;
    int size = 188;
    int sync = 0;
    int64_t count() const { return static_cast<int64_t>(bytes.size()) / size; }
    const uint8_t* unit(int64_t n) const { return bytes.data() + n * size; }
    const uint8_t* packet(int64_t n) const { return unit(n) + sync; }
    int pid(int64_t n) const { return ((packet(n)[1] & 0x1F) << 8) | packet(n)[2]; }
    Bytes range(int64_t first, int64_t last) const {  // inclusive
        return Bytes(bytes.begin() + first * size, bytes.begin() + (last + 1) * size);
    }
    // PCR (base * 300 + extension) of packet n, or -1 without one.
    int64_t pcr(int64_t n) const {
        const uint8_t* p = packet(n);
        const int afc = (p[3] >> 4) & 3;
        if ((afc & 2) == 0 || p[4] == 0 || !(p[5] & 0x10)) return -1;
        const int64_t base = (int64_t(p[6]) << 25) | (p[7] << 17) | (p[8] << 9) | (p[9] << 1) | (p[10] >> 7);
        return base * 300 + (((p[10] & 1) << 8) | p[11]);
    }
};

inline void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
inline void append(Bytes& out, const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }

}  // namespace tavrel::test
