#include "ts_probe.h"

#include <algorithm>
#include <cstdio>

namespace kivra_test {

std::vector<uint8_t> readFile(const std::string& path, size_t maxBytes) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    // One allocation of the size that will be read, not a growing vector's
    // copies (each of them faulting in fresh pages).
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long size = std::ftell(f);
        if (size > 0) out.reserve(std::min(size_t(size), maxBytes));
        std::rewind(f);
    }
    uint8_t buf[65536];
    size_t n;
    while (out.size() < maxBytes && (n = std::fread(buf, 1, std::min(sizeof buf, maxBytes - out.size()), f)) > 0)
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

static int syncOffsetOf(int size) { return (size == 192 || size == 208) ? 4 : 0; }

int probePacketSize(const std::vector<uint8_t>& d, size_t* offset) {
    // A recording may start inside a packet: try every start in the first one.
    for (size_t start = 0; start < 208; ++start)
        for (int size : {188, 192, 204, 208}) {
            const int off = syncOffsetOf(size);
            int good = 0;
            for (size_t i = 0; i < 8; ++i) {
                size_t at = start + i * size + off;
                if (at < d.size() && d[at] == 0x47) ++good;
            }
            if (good == 8) {
                if (offset) *offset = start;
                return size;
            }
        }
    return 0;
}

// Payload start of the packet whose sync byte is at p, or -1.
static int payloadOffset(const uint8_t* p) {
    const int afc = (p[3] >> 4) & 3;
    if (afc == 0 || afc == 2) return -1;
    int off = 4;
    if (afc == 3) off += 1 + p[4];
    return off < 188 ? off : -1;
}

int probeVideoPid(const std::vector<uint8_t>& d, int size) {
    const int so = syncOffsetOf(size);
    for (size_t at = 0; at + size <= d.size(); at += size) {
        const uint8_t* p = &d[at + so];
        if (p[0] != 0x47 || !(p[1] & 0x40)) continue;
        const int off = payloadOffset(p);
        if (off < 0 || off + 4 > 188) continue;
        if (p[off] == 0 && p[off + 1] == 0 && p[off + 2] == 1 && p[off + 3] == 0xE0) return ((p[1] & 0x1F) << 8) | p[2];
    }
    return -1;
}

std::vector<int64_t> probeGopPackets(const std::vector<uint8_t>& d, int size, int pid) {
    std::vector<int64_t> out;
    const int so = syncOffsetOf(size);
    for (size_t at = 0; at + size <= d.size(); at += size) {
        const uint8_t* p = &d[at + so];
        if (p[0] != 0x47 || !(p[1] & 0x40) || (((p[1] & 0x1F) << 8) | p[2]) != pid) continue;
        const int off = payloadOffset(p);
        if (off < 0) continue;
        for (int i = off; i + 4 <= 188; ++i)
            if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB3) {
                out.push_back(static_cast<int64_t>(at / size));
                break;
            }
    }
    return out;
}

}  // namespace kivra_test
