#include "ts_packet.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "file.h"

namespace tavrel {

namespace {

constexpr int kTsPacket = 188;
constexpr size_t kDetectBlock = 2080;

bool isPacketSize(int64_t n) { return n == 188 || n == 192 || n == 204 || n == 208; }

// Sync-byte spacing search shared by the file and memory variants.
struct GeometrySearch {
    int64_t n = 0;  // bytes since the reference sync byte
    int h = 0;      // qualifying hits
    int64_t k = 0;  // sync bytes seen
    int found = 0;

    // Feeds one block that starts at file offset base; true once a size is found.
    bool feed(const uint8_t* data, size_t len, int64_t base) {
        for (size_t i = 0; i < len; ++i) {
            if (data[i] == 0x47) {
                int64_t p = base + static_cast<int64_t>(i);
                if (k > 0 && n > 0) {
                    if (isPacketSize(n)) {
                        if (n == 192 || n == 208) p -= 4;
                        if (p % n == 0) {
                            if (++h == 3) {
                                found = static_cast<int>(n);
                                return true;
                            }
                            n = 0;
                        }
                    } else {
                        h = 0;
                        n = 0;
                    }
                }
                if (++k == 1) n = 0;
            }
            ++n;
        }
        return false;
    }
};

bool detectFromFile(File& f, PacketGeometry& g, int64_t blockLimit) {
    GeometrySearch search;
    std::vector<uint8_t> block(kDetectBlock);
    bool ok = false;
    f.seek(0);
    for (int64_t b = 0; blockLimit < 0 || b < blockLimit; ++b) {
        int64_t got = f.read(block.data(), block.size());
        if (got <= 0) break;
        if (search.feed(block.data(), static_cast<size_t>(got), b * static_cast<int64_t>(kDetectBlock))) {
            g = geometryForSize(search.found);
            ok = true;
            break;
        }
    }
    f.seek(0);
    return ok;
}

int64_t readPcrBase(const uint8_t* b) {
    return (static_cast<int64_t>(b[0]) << 25) | (static_cast<int64_t>(b[1]) << 17) | (static_cast<int64_t>(b[2]) << 9) |
           (static_cast<int64_t>(b[3]) << 1) | (b[4] >> 7);
}

int32_t readPcrExt(const uint8_t* b) { return ((b[4] & 1) << 8) | b[5]; }

int64_t readTimestamp(const uint8_t* t) {
    return (static_cast<int64_t>((t[0] >> 1) & 7) << 30) | (static_cast<int64_t>(t[1]) << 22) |
           (static_cast<int64_t>(t[2] >> 1) << 15) | (static_cast<int64_t>(t[3]) << 7) | (t[4] >> 1);
}

// Full adaptation field parse. Every optional group is read only when it lies
// inside the 188-byte packet, so a corrupt length never reads past it.
void parseAdaptationField(const uint8_t* pkt, AdaptationField& af) {
    const uint8_t* end = pkt + kTsPacket;
    const uint8_t* q = pkt + 4;
    af.length = q[0];
    if (af.length == 0) return;
    ++q;
    const uint8_t f = *q++;
    af.discontinuity = (f >> 7) & 1;
    af.randomAccess = (f >> 6) & 1;
    af.esPriority = (f >> 5) & 1;
    af.pcrFlag = (f >> 4) & 1;
    af.opcrFlag = (f >> 3) & 1;
    af.splicingPointFlag = (f >> 2) & 1;
    af.privateDataFlag = (f >> 1) & 1;
    af.extensionFlag = f & 1;
    if (af.pcrFlag) {
        if (end - q < 6) return;
        af.pcrBase = readPcrBase(q);
        af.pcrExt = readPcrExt(q);
        q += 6;
    }
    if (af.opcrFlag) {
        if (end - q < 6) return;
        af.opcrBase = readPcrBase(q);
        af.opcrExt = readPcrExt(q);
        q += 6;
    }
    if (af.splicingPointFlag) {
        if (end - q < 1) return;
        af.spliceCountdown = *q++;
    }
    if (af.privateDataFlag) {
        if (end - q < 1) return;
        af.privateDataLength = *q++;
        if (end - q < af.privateDataLength) return;
        q += af.privateDataLength;
    }
    if (af.extensionFlag) {
        if (end - q < 2) return;
        af.extensionLength = *q++;
        const uint8_t e = *q++;
        af.ltwFlag = (e >> 7) & 1;
        af.piecewiseRateFlag = (e >> 6) & 1;
        af.seamlessSpliceFlag = (e >> 5) & 1;
        if (af.ltwFlag) {
            if (end - q < 2) return;
            af.ltwValid = (q[0] >> 7) & 1;
            af.ltwOffset = ((q[0] & 0x7F) << 8) | q[1];
            q += 2;
        }
        if (af.piecewiseRateFlag) {
            if (end - q < 3) return;
            af.piecewiseRate = ((q[0] & 0x3F) << 16) | (q[1] << 8) | q[2];
            q += 3;
        }
        if (af.seamlessSpliceFlag) {
            if (end - q < 5) return;
            af.spliceType = (q[0] >> 4) & 0xF;
            af.dtsNextAu = readTimestamp(q);
        }
    }
}

}  // namespace

PacketGeometry geometryForSize(int32_t size) {
    PacketGeometry g;
    g.size = size;
    g.headerSize = 4;
    g.syncOffset = (size == 192 || size == 208) ? 4 : 0;
    return g;
}

bool parsePacketHeader(const uint8_t* p, bool headerOnly, PacketHeader& h) {
    if (!p) return false;
    h.sync = p[0];
    h.transportError = (p[1] >> 7) & 1;
    h.pusi = (p[1] >> 6) & 1;
    h.priority = (p[1] >> 5) & 1;
    h.pid = ((p[1] & 0x1F) << 8) | p[2];
    h.scrambling = (p[3] >> 6) & 3;
    h.adaptationFieldControl = (p[3] >> 4) & 3;
    h.cc = p[3] & 0xF;
    switch (h.adaptationFieldControl) {
    case 0:
    case 1: h.payloadOffset = 4; break;
    case 3: h.payloadOffset = 5 + p[4]; break;
    default: break;  // no payload: left as it was
    }
    if (h.adaptationFieldControl >= 2) {
        if (headerOnly)
            h.af.length = p[4];
        else
            parseAdaptationField(p, h.af);
    }
    return true;
}

bool readPesTimestamps(const uint8_t* q, int64_t& pts, int64_t& dts, char* ptsText, char* dtsText) {
    const int flags = (q[3] >> 6) & 3;
    if (flags != 2 && flags != 3) return false;
    pts = readTimestamp(q + 5);
    dts = flags == 3 ? readTimestamp(q + 10) : -1;
    if (ptsText) formatTime90k(pts, ptsText);
    if (dtsText) formatTime90k(dts < 0 ? 0 : dts, dtsText);
    return true;
}

void formatTime90k(int64_t v, char* buf) {
    const int64_t hours = v / 324000000;
    const int64_t r = v % 324000000;
    const int64_t minutes = r / 5400000;
    const int64_t seconds = (r % 5400000) / 90000;
    const int64_t ms = ((r % 5400000) % 90000) / 90;
    std::snprintf(buf, 16, "%02d:%02d:%02d:%03d", static_cast<int>(hours), static_cast<int>(minutes),
                  static_cast<int>(seconds), static_cast<int>(ms));
}

std::string time90kText(int64_t v) {
    char buf[32];
    formatTime90k(v, buf);
    return buf;
}

bool detectPacketGeometry(File& f, PacketGeometry& g) { return detectFromFile(f, g, -1); }

bool detectPacketGeometryLimited(File& f, PacketGeometry& g) {
    // The batch workers count blocks in steps of 11 and give up at 1,000,000.
    constexpr int64_t kLimitBlocks = (1000000 + 10) / 11;
    return detectFromFile(f, g, kLimitBlocks);
}

bool detectPacketGeometryInBuffer(std::span<const uint8_t> data, PacketGeometry& g) {
    GeometrySearch search;
    for (size_t off = 0; off < data.size(); off += kDetectBlock) {
        size_t len = std::min(kDetectBlock, data.size() - off);
        if (search.feed(data.data() + off, len, static_cast<int64_t>(off))) {
            g = geometryForSize(search.found);
            return true;
        }
    }
    return false;
}

int64_t findPcrBackward(File& f, int64_t start, int32_t packetSize, int32_t changeLimit) {
    if (packetSize <= 0 || start < 0) return -1;
    const int64_t blockBytes = static_cast<int64_t>(packetSize) * 100;
    uint8_t* buf = new (std::nothrow) uint8_t[static_cast<size_t>(blockBytes)];
    if (!buf) {
        std::printf("VirtualAlloc(%ld) error. (lpvRead)\r\n", 12L);
        return 0;
    }
    const int64_t P = static_cast<int64_t>(packetSize) * start;
    int64_t blocks;
    int64_t remainder;
    int64_t readSize;
    if (P >= blockBytes) {
        blocks = P / blockBytes + 1;
        remainder = P % blockBytes;
        readSize = blockBytes;
        f.seek(P - blockBytes);
    } else {
        blocks = 1;
        remainder = P;
        readSize = P;
        f.seek(0);
    }
    const int sync = (packetSize == 192 || packetSize == 208) ? 4 : 0;
    PacketHeader h{};
    bool havePcr = false;
    int64_t lastBase = 0;
    int32_t lastExt = 0;
    int32_t changes = 0;
    int64_t result = -1;
    bool error = false;
    bool stop = false;
    for (int64_t b = 0; b < blocks && !stop; ++b) {
        const bool atFileStart = (b == blocks - 1);
        int64_t got = readSize > 0 ? f.read(buf, static_cast<size_t>(readSize)) : 0;
        if (got < 0) {
            error = true;
            break;
        }
        if (got == 0) break;
        const int64_t count = got / packetSize;
        const int64_t first = atFileStart ? 0 : start - 100 * (b + 1);
        for (int64_t j = count - 1; j >= 0; --j) {
            const uint8_t* pkt = buf + j * packetSize + sync;
            if (packetSize - sync < kTsPacket) continue;
            parsePacketHeader(pkt, false, h);
            const int64_t number = first + j;
            result = number;
            if (h.af.pcrFlag != 1) continue;
            if (!havePcr) {
                havePcr = true;
                lastBase = h.af.pcrBase;
                lastExt = h.af.pcrExt;
            } else if (h.af.pcrBase != lastBase || h.af.pcrExt != lastExt) {
                if (++changes >= changeLimit) {
                    stop = true;
                    break;
                }
                lastBase = h.af.pcrBase;
                lastExt = h.af.pcrExt;
            }
        }
        if (stop || atFileStart) break;
        if (b + 1 == blocks - 1) {
            f.seek(0);
            readSize = remainder;
        } else {
            f.seek(f.tell() - 2 * blockBytes);
        }
    }
    delete[] buf;
    f.seek(0);
    return error ? -1 : result;
}

}  // namespace tavrel
