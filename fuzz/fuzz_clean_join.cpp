// Clean joins over arbitrary bytes as 188-byte packets: the edge scans and
// the per-packet rewrite of two clips cut from them.
#include <cstdint>
#include <vector>

#include "clean_join.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tavrel::PacketGeometry g{188, 4, 0};
    const int64_t count = static_cast<int64_t>(size / 188);
    if (count == 0) return 0;
    std::vector<uint8_t> units(data, data + count * 188);
    const int64_t half = count / 2;
    tavrel::EdgeScan scan;
    tavrel::CleanJoin join;
    // Clip 1: packets half..count-1; clip 2: 0..half-1 with the rest after it.
    for (const auto& [start, end] : {std::pair<int64_t, int64_t>{half, count - 1}, {0, half - 1}}) {
        if (end < start) continue;
        scan.clear();
        const uint8_t* first = units.data() + start * 188;
        scan.learnKinds(first, end - start + 1, g);
        scan.scanTail(first, end - start + 1, g, start);
        scan.scanAfterEnd(units.data() + (end + 1) * 188, count - end - 1, g, true);
        join.beginClip(scan, start, start);
        for (int64_t a = start; a <= end; ++a) {
            uint8_t* p = units.data() + a * 188;
            if (p[0] == 0x47) join.passPacket(p, a);
        }
        join.passHeadPacket(units.data());
    }
    return 0;
}
