#include "output.h"

#include <cstdlib>
#include <cstring>

#include "../include/kivra.h"

namespace kivra {

int displayHeight(int w, int aspectMode, int aspectCode) {
    if (aspectMode == 9) {
        switch (aspectCode) {
            case 1: return w;
            case 3: return w * 9 / 16;
            case 4: return static_cast<int>(w * 0.45248868778280543);  // 2.21:1
            default: return w * 3 / 4;
        }
    }
    if (aspectMode == 3) return w * 9 / 16;
    return w * 3 / 4;
}

ResizeRequest resizeFor(int windowMode, int w, int dispHeight, int codedWidth, int codedHeight,
                        int dialogFrameWidth) {
    if (windowMode == 0) return {w, dispHeight};
    const int f = 2 * dialogFrameWidth;
    if (w != 0) return {w + f, dispHeight + f};
    return {codedWidth + f, codedHeight + f};
}

int stretchModeFor(int q, int w, int codedWidth) {
    if (q == 1) return KIVRA_STRETCH_BLACKONWHITE;
    if (q == 2) return KIVRA_STRETCH_HALFTONE;
    return w > codedWidth ? KIVRA_STRETCH_BLACKONWHITE : KIVRA_STRETCH_COLORONCOLOR;
}

namespace {
void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
uint8_t* alloc64(size_t n) {
    return static_cast<uint8_t*>(std::aligned_alloc(64, (n + 63) & ~size_t(63)));
}
}  // namespace

void RgbPicture::buildHeader(uint8_t* h, int w, int hgt) {
    std::memset(h, 0, 40);
    put32(h + 0, 40);
    put32(h + 4, static_cast<uint32_t>(w));
    put32(h + 8, static_cast<uint32_t>(hgt));
    h[12] = 1;   // planes
    h[14] = 24;  // bit count
    put32(h + 16, 0);
    put32(h + 20, static_cast<uint32_t>(w) * static_cast<uint32_t>(hgt) * 3u);
}

RgbPicture::~RgbPicture() { release(); }

void RgbPicture::release() {
    for (uint8_t** p : {&m_rgb, &m_cb422, &m_cr422}) {
        std::free(*p);
        *p = nullptr;
    }
    m_w = m_h = 0;
    m_valid = false;
}

bool RgbPicture::ensure(int w, int h) {
    if (w == m_w && h == m_h && m_rgb != nullptr) return true;
    release();
    const size_t px = size_t(w) * size_t(h);
    m_rgb = alloc64(px * 3);
    m_cb422 = alloc64(px / 2);
    m_cr422 = alloc64(px / 2);
    if (!m_rgb || !m_cb422 || !m_cr422) {
        release();
        return false;
    }
    m_w = w;
    m_h = h;
    return true;
}

bool RgbPicture::convert(const Dsp& dsp, const FrameStore& f, const SequenceState& seq, const PictureRecord& rec) {
    const int w = seq.codedWidth, h = seq.codedHeight;
    if (seq.chromaFormat != 1 && seq.chromaFormat != 2) return false;
    if (!ensure(w, h)) return false;
    m_valid = false;
    buildHeader(m_header, w, h);
    m_aspect = seq.aspectRatio;
    const int cw = w / 2;
    const uint8_t* cb422 = f.plane[1];
    const uint8_t* cr422 = f.plane[2];
    if (seq.chromaFormat == 1) {
        const int n = h / 2;
        if (rec.progressiveFrame || n < 4) {
            dsp.upProgressive(m_cb422, cw, f.plane[1], cw, cw, n);
            dsp.upProgressive(m_cr422, cw, f.plane[2], cw, cw, n);
        } else {
            dsp.upField(m_cb422, cw, f.plane[1], cw, cw, n);
            dsp.upField(m_cr422, cw, f.plane[2], cw, cw, n);
        }
        cb422 = m_cb422;
        cr422 = m_cr422;
    }
    // Horizontal up-sampling and conversion row by row (the 4:4:4 chroma
    // never goes to memory); odd picture lines first, then the even ones;
    // rows are bottom-up.
    for (int pass = 1; pass >= 0; --pass) {
        for (int y = pass; y < h; y += 2) {
            const size_t c = size_t(y) * cw;
            dsp.yuv422ToBgr(m_rgb + size_t(h - 1 - y) * w * 3, f.plane[0] + size_t(y) * w, cb422 + c, cr422 + c, w);
        }
    }
    m_valid = true;
    return true;
}

}  // namespace kivra
