// Hooks of the library for tests and tools (not exported from the .so).
#pragma once

#include <cstdint>

namespace kivra {

// Instruction-set mask for the next TsOpen (0 forces the C kernels).
void setCpuMaskOverride(unsigned mask);
// Largest coded picture the next TsOpen's decoder allocates for.
void setMaxPicturePixels(int64_t px);
// Waits for the decode thread; false when the wait failed.
bool waitForDecode();

struct ReadStats {
    uint64_t packets = 0;
    int fault = 0;
    int stop = 0;
    bool drawn = false;
    int draws = 0;
    int resizeRequests = 0;
};
// Counters of the last read (and draws since it started).
ReadStats lastReadStats();

}  // namespace kivra
