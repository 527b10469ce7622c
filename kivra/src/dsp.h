// Pixel kernels behind a per-decoder table of function pointers: filled with
// the C reference first, then SIMD overrides allowed by the CPU flags and
// the caller's mask. Every SIMD kernel is bit-exact with its C reference.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kivra {

// Bits of the instruction-set mask.
enum CpuFlags : unsigned {
    kCpuSse2 = 1u << 0,
    kCpuSsse3 = 1u << 1,
    kCpuAvx2 = 1u << 2,
    kCpuAll = ~0u,
};

// Detected CPU flags (kCpuSse2 on every x86-64).
unsigned detectCpuFlags();
// The SIMD level reported by TsOpen: 5 with SSE2, 2 with integer SSE, else 1.
int simdLevel();
// KIVRA_CPU_MASK=0 in the environment forces the C path for the library.
unsigned cpuMaskFromEnv();

// Motion compensation: put or average a 16 x h luma block, half-sample case
// xh + 2 * yh.
using McFunc = void (*)(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int h);
// The same for the 8 x h blocks of both chroma planes at once (u and v: the
// two planes' blocks, with the same strides and vector).
using McPairFunc = void (*)(uint8_t* dstU, uint8_t* dstV, ptrdiff_t dstStride, const uint8_t* srcU, const uint8_t* srcV,
                            ptrdiff_t srcStride, int h);

struct Dsp {
    // Inverse DCT in place (AP-922, row pass then column pass).
    void (*idct)(int16_t* block);
    // idct, then +128 with 16-bit saturation, clamp to 0..255, store; the
    // block is cleared.
    void (*idctPut)(uint8_t* dst, ptrdiff_t stride, int16_t* block);
    // idct, added to dst with saturation, clamp, store; block cleared.
    void (*idctAdd)(uint8_t* dst, ptrdiff_t stride, int16_t* block);
    // The same for a block whose only non-zero coefficient is the DC.
    void (*idctPutDc)(uint8_t* dst, ptrdiff_t stride, int16_t* block);
    void (*idctAddDc)(uint8_t* dst, ptrdiff_t stride, int16_t* block);
    McFunc mc[2][4];            // [avg][half case]
    McPairFunc mcChroma[2][4];  // [avg][half case]

    // One row of the vertical chroma filters: (wa * a + wb * b + round) >>
    // shift with round = 1 << (shift - 1), shift 2 or 3, w a multiple of 8.
    void (*blendRow)(uint8_t* dst, const uint8_t* a, const uint8_t* b, int wa, int wb, int shift, int w);
    // One row of w pixels (w multiple of 16) to BGR.
    void (*yuvToBgr)(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w);
    // The same from half-width chroma rows: upHorizontal and yuvToBgr in one
    // pass, so the full-width chroma rows never go to memory.
    void (*yuv422ToBgr)(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w);
};

void initDsp(Dsp& dsp, unsigned mask);

// C references (also used by tests). The whole-plane filters define the
// output's chroma up-sampling; the output applies them row by row.
void idctC(int16_t* block);
void idctPutC(uint8_t* dst, ptrdiff_t stride, int16_t* block);
void idctAddC(uint8_t* dst, ptrdiff_t stride, int16_t* block);
void idctPutDcC(uint8_t* dst, ptrdiff_t stride, int16_t* block);
void idctAddDcC(uint8_t* dst, ptrdiff_t stride, int16_t* block);
void upProgressiveC(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int w, int rows);
void upFieldC(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int w, int rows);
void upHorizontalC(uint8_t* dst, const uint8_t* src, int m);
void blendRowC(uint8_t* dst, const uint8_t* a, const uint8_t* b, int wa, int wb, int shift, int w);
void yuvToBgrC(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w);
void yuv422ToBgrC(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w);

#if defined(__x86_64__) || defined(__i386__)
#define KIVRA_X86 1
void initDspSse2(Dsp& dsp);
void initDspSsse3(Dsp& dsp);
void initDspAvx2(Dsp& dsp);
// The SSSE3 conversions (the AVX2 ones finish a row's last 16 pixels with them).
void yuvToBgrSsse3(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w);
void yuv422ToBgrSsse3(uint8_t* bgr, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int w);
#endif

}  // namespace kivra
