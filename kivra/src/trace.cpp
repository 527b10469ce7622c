#include "trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kivra {

namespace {

std::atomic<bool> g_sinkSet{false};
std::mutex g_sinkMu;
TraceSink g_sink = nullptr;
void* g_sinkCtx = nullptr;

}  // namespace

bool traceEnabled() {
    static const bool enabled = std::getenv("KIVRA_TRACE") != nullptr;
    return enabled || g_sinkSet.load(std::memory_order_relaxed);
}

void setTraceSink(TraceSink sink, void* ctx) {
    std::lock_guard<std::mutex> lock(g_sinkMu);
    g_sink = sink;
    g_sinkCtx = ctx;
    g_sinkSet.store(sink != nullptr, std::memory_order_relaxed);
}

void traceLine(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    {
        std::lock_guard<std::mutex> lock(g_sinkMu);
        if (g_sink != nullptr) {
            char line[512];
            std::vsnprintf(line, sizeof line, fmt, ap);
            g_sink(g_sinkCtx, line);
            va_end(ap);
            return;
        }
    }
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
}

}  // namespace kivra
