// Hooks of the library for tests and tools (not exported from the .so).
#pragma once

#include <cstdint>

namespace kivra {

// Instruction-set mask for the next TsOpen (0 forces the C kernels).
void setCpuMaskOverride(unsigned mask);
// Largest coded picture the next TsOpen's decoder allocates for.
void setMaxPicturePixels(int64_t px);
// Threads one picture is decoded and converted on, from the next TsOpen:
// 1 = the decode thread alone; 0 = as many as there are cores, at most 2
// (the default).
void setDecodeThreads(int threads);
// Waits for the decode thread; false when the wait failed.
bool waitForDecode();

struct ReadStats {
    uint64_t packets = 0;
    int fault = 0;
    int stop = 0;
    bool drawn = false;
    int draws = 0;
    int resizeRequests = 0;
    bool splitDecode = false;   // the picture's slices were decoded on two threads
    bool splitConvert = false;  // and its conversion
};
// Counters of the last read (and draws since it started).
ReadStats lastReadStats();

}  // namespace kivra
