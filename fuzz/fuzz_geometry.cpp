// Packet geometry detection over arbitrary file contents.
#include <cstdint>

#include "ts_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tavrel::PacketGeometry g;
    if (tavrel::detectPacketGeometryInBuffer({data, size}, g)) {
        if (g.size != 188 && g.size != 192 && g.size != 204 && g.size != 208) __builtin_trap();
    }
    return 0;
}
