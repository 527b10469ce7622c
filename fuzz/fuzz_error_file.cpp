// Error file reader and the error view's tree over arbitrary file contents,
// and the per-packet error rules over arbitrary packets.
#include <cstdint>
#include <span>
#include <vector>

#include "error_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<tavrel::ErrorRecord> records;
    if (tavrel::parseErrorFile(std::span<const uint8_t>(data, size), records) == tavrel::ErrorFileStatus::Ok) {
        if (records.size() != (size - 16) / 16) __builtin_trap();
        const auto items = tavrel::buildErrorTree(records);
        // Root, then at least one program, PID and event item per record.
        if (items.empty() || items.size() < records.size() + 1) __builtin_trap();
        for (const auto& item : items)
            if (item.level < 0 || item.level > 3 || item.text.empty()) __builtin_trap();
    }
    tavrel::TransportErrorChecker checker(true);
    std::vector<tavrel::ErrorRecord> out;
    for (size_t off = 0; off + 188 <= size; off += 188)
        checker.packet(data + off, static_cast<int64_t>(off / 188), out);
    for (const auto& r : out)
        if (r.kind < 1 || r.kind > 3) __builtin_trap();
    return 0;
}
