// A host for the Kivra exports that records what the library draws and
// posts, for the tests and the benchmark.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "kivra.h"
#include "y4m.h"

namespace kivra_test {

struct DrawCall {
    KivraWindow window = nullptr;
    int codedWidth = 0, codedHeight = 0;
    int destWidth = 0, destHeight = 0, mode = 0;
    std::vector<uint8_t> header;
    std::vector<uint8_t> pixels;  // only when keepPixels
};

struct ResizeCall {
    KivraWindow notify = nullptr, window = nullptr;
    int width = 0, height = 0;
};

class RecordingHost {
public:
    explicit RecordingHost(int dialogFrameWidth = 3, bool keepPixels = false);
    ~RecordingHost();
    void install();

    std::vector<DrawCall> draws() const;
    std::vector<ResizeCall> resizes() const;
    std::vector<YuvFrame> frames() const;
    void clear();
    // Called at the start of every draw (e.g. to time it).
    void (*onDraw)(void* ctx) = nullptr;
    void* onDrawCtx = nullptr;

private:
    static void draw(void*, KivraWindow, const uint8_t*, const uint8_t*, int32_t, int32_t, int32_t);
    static void resize(void*, KivraWindow, KivraWindow, uint32_t);
    static void frame(void*, const TavrelDecFrame*);
    mutable std::mutex m_mu;
    int m_frameWidth;
    bool m_keepPixels;
    std::vector<DrawCall> m_draws;
    std::vector<ResizeCall> m_resizes;
    std::vector<YuvFrame> m_frames;
};

// Opens path, sets the packet size, reads at position and closes.
struct PreviewResult {
    bool drawn = false;
    YuvFrame frame;
    std::vector<DrawCall> draws;
};
PreviewResult previewOnce(const std::string& path, int packetSize, int pid, int64_t position, int displayWidth = 0);

}  // namespace kivra_test
