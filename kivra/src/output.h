// Picture output: chroma up-sampling, BT.601 conversion to a bottom-up BGR
// bitmap with its 40-byte header, and the display-size and resize rules.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder.h"
#include "dsp.h"

namespace kivra {

// Display height for width w (integer arithmetic, truncating).
int displayHeight(int w, int aspectMode, int aspectCode);

struct ResizeRequest {
    int width = 0;
    int height = 0;
    uint32_t packed() const { return (uint32_t(width & 0xFFFF) << 16) | uint32_t(height & 0xFFFF); }
};
// Size the drawing window should take.
ResizeRequest resizeFor(int windowMode, int w, int dispHeight, int codedWidth, int codedHeight, int dialogFrameWidth);
// Stretch mode for a scaled draw.
int stretchModeFor(int stretchQuality, int w, int codedWidth);

// The converted picture and its buffers.
class RgbPicture {
public:
    RgbPicture() = default;
    ~RgbPicture();
    RgbPicture(const RgbPicture&) = delete;
    RgbPicture& operator=(const RgbPicture&) = delete;

    // Converts the frame; false when the buffers cannot be allocated.
    bool convert(const Dsp& dsp, const FrameStore& frame, const SequenceState& seq, const PictureRecord& rec);
    // The same in parts that may run at the same time: begin() checks the
    // frame and sizes the buffers (false: nothing to convert), convertRows()
    // converts picture lines [y0, y1) with the chroma row buffers of part
    // (0 or 1), finish() marks the picture whole.
    bool begin(const FrameStore& frame, const SequenceState& seq);
    void convertRows(const Dsp& dsp, const FrameStore& frame, const PictureRecord& rec, int y0, int y1, int part);
    void finish() { m_valid = true; }
    void release();

    bool valid() const { return m_rgb != nullptr && m_valid; }
    const uint8_t* header() const { return m_header; }
    const uint8_t* pixels() const { return m_rgb; }
    int codedWidth() const { return m_w; }
    int codedHeight() const { return m_h; }
    int aspectCode() const { return m_aspect; }

    static void buildHeader(uint8_t* h, int w, int hgt);

private:
    bool ensure(int w, int h);
    uint8_t m_header[40] = {};
    uint8_t* m_rgb = nullptr;
    uint8_t* m_cbRow[2] = {nullptr, nullptr};  // one up-sampled 4:2:2 chroma row per part
    uint8_t* m_crRow[2] = {nullptr, nullptr};
    int m_w = 0, m_h = 0;
    int m_aspect = 0;
    bool m_valid = false;
};

}  // namespace kivra
