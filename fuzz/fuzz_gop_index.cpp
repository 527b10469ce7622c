// GOP index file reader over arbitrary file contents.
#include <cstdint>
#include <cstring>

#include "gop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tavrel::GopIndexContent content;
    tavrel::parseGopIndex(data, size, content);
    for (const auto& e : content.entries) {
        // Entry texts stay NUL-terminated inside their fields.
        if (std::memchr(e.timeCode, 0, sizeof e.timeCode) == nullptr) __builtin_trap();
        if (std::memchr(e.ptsText, 0, sizeof e.ptsText) == nullptr) __builtin_trap();
    }
    return 0;
}
