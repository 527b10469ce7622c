// Diagnostic lines for the developer: written to stderr only when the
// environment variable KIVRA_TRACE is set, otherwise a single branch.
#pragma once

namespace kivra {

bool traceEnabled();
void traceLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Tests and tools: while a sink is set, trace lines go to it (and tracing is
// on whatever the environment says); nullptr restores the default.
using TraceSink = void (*)(void* ctx, const char* line);
void setTraceSink(TraceSink sink, void* ctx);

#define KIVRA_TRACE(...)                                              \
    do {                                                              \
        if (::kivra::traceEnabled()) ::kivra::traceLine(__VA_ARGS__); \
    } while (0)

}  // namespace kivra
