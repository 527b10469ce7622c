// Header and adaptation field parse over arbitrary 188-byte packets.
#include <cstdint>
#include <cstring>

#include "ts_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t pkt[188] = {};
    std::memcpy(pkt, data, size < sizeof pkt ? size : sizeof pkt);
    tavrel::PacketHeader h{};
    tavrel::parsePacketHeader(pkt, false, h);
    tavrel::parsePacketHeader(pkt, true, h);
    return 0;
}
