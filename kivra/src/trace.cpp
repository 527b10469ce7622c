#include "trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace kivra {

bool traceEnabled() {
    static const bool enabled = std::getenv("KIVRA_TRACE") != nullptr;
    return enabled;
}

void traceLine(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
}

}  // namespace kivra
