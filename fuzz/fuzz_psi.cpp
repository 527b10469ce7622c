// PAT/PMT section assembly and parsing over arbitrary packets, and the
// clip-head PAT/PMT readers over single packets.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "output_rewrite.h"
#include "program_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tavrel::ProgramList list;
    uint8_t packet[188];
    for (size_t at = 0; at < size; at += 188) {
        const size_t n = size - at < 188 ? size - at : 188;
        std::memset(packet, 0xFF, sizeof packet);
        std::memcpy(packet, data + at, n);
        packet[0] = 0x47;
        if (tavrel::collectProgramPacket(list, packet)) break;
        tavrel::pmtPidFromPatPacket(packet);
        tavrel::pcrPidFromPmtPacket(packet);
    }
    // Whole sections handed straight to the parsers.
    tavrel::ProgramList direct;
    tavrel::parsePatSection(direct, data, size);
    tavrel::parsePmtSection(direct, data, size);
    for (const tavrel::ProgramEntry& e : list.entries)
        if (e.name.empty()) __builtin_trap();
    return 0;
}
