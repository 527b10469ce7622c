// PES timestamp read and time text over arbitrary header bytes.
#include <cstdint>
#include <cstring>

#include "ts_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t q[15] = {};
    std::memcpy(q, data, size < sizeof q ? size : sizeof q);
    int64_t pts = 0, dts = 0;
    char a[16], b[16];
    tavrel::readPesTimestamps(q, pts, dts, a, b);
    if (size >= 23) {
        int64_t v;
        std::memcpy(&v, data + 15, sizeof v);
        char t[16];
        tavrel::formatTime90k(v & 0x1FFFFFFFFLL, t);
    }
    return 0;
}
