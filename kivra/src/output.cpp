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

ResizeRequest resizeFor(int windowMode, int w, int dispHeight, int codedWidth, int codedHeight, int dialogFrameWidth) {
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
uint8_t* alloc64(size_t n) { return static_cast<uint8_t*>(std::aligned_alloc(64, (n + 63) & ~size_t(63))); }
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
    for (uint8_t** p : {&m_rgb, &m_cbRow[0], &m_crRow[0], &m_cbRow[1], &m_crRow[1]}) {
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
    bool ok = m_rgb != nullptr;
    for (int i = 0; i < 2; ++i) {
        m_cbRow[i] = alloc64(size_t(w) / 2);
        m_crRow[i] = alloc64(size_t(w) / 2);
        ok = ok && m_cbRow[i] && m_crRow[i];
    }
    if (!ok) {
        release();
        return false;
    }
    m_w = w;
    m_h = h;
    return true;
}

namespace {

// Row y (0 .. 2n-1) of the 4:2:2 chroma plane made from n 4:2:0 rows c with
// the progressive filter.
void progressiveRow(const Dsp& dsp, uint8_t* out, const uint8_t* c, int cw, int n, int y) {
    const int k = y / 2;
    const uint8_t* row = c + size_t(k) * cw;
    if (y % 2 == 0) {
        if (k == 0) {
            std::memcpy(out, row, size_t(cw));
        } else {
            dsp.blendRow(out, row, row - cw, 3, 1, 2, cw);
        }
    } else {
        if (k == n - 1) {
            std::memcpy(out, row, size_t(cw));
        } else {
            dsp.blendRow(out, row, row + cw, 3, 1, 2, cw);
        }
    }
}

// The same with the field filter (groups of four output rows).
void fieldRow(const Dsp& dsp, uint8_t* out, const uint8_t* c, int cw, int n, int y) {
    const int groups = n / 2, k = y / 4, j = y % 4;
    auto r = [&](int i) { return c + size_t(i) * cw; };
    const int b = 2 * k;
    if (k == 0) {
        switch (j) {
        case 0: std::memcpy(out, r(0), size_t(cw)); break;
        case 1: dsp.blendRow(out, r(0), r(1), 3, 5, 3, cw); break;
        case 2: dsp.blendRow(out, r(0), r(2), 5, 3, 3, cw); break;
        default: dsp.blendRow(out, r(1), r(3), 7, 1, 3, cw); break;
        }
        return;
    }
    switch (j) {
    case 0: dsp.blendRow(out, r(b - 2), r(b), 1, 7, 3, cw); break;
    case 1: dsp.blendRow(out, r(b - 1), r(b + 1), 3, 5, 3, cw); break;
    case 2:
        if (k < groups - 1) {
            dsp.blendRow(out, r(b), r(b + 2), 5, 3, 3, cw);
        } else {
            std::memcpy(out, r(b), size_t(cw));
        }
        break;
    default:
        if (k < groups - 1) {
            dsp.blendRow(out, r(b + 1), r(b + 3), 7, 1, 3, cw);
        } else {
            dsp.blendRow(out, r(b), r(b + 1), 1, 7, 3, cw);
        }
        break;
    }
}

}  // namespace

bool RgbPicture::convert(const Dsp& dsp, const FrameStore& f, const SequenceState& seq, const PictureRecord& rec) {
    if (!begin(f, seq)) return false;
    convertRows(dsp, f, rec, 0, f.height, 0);
    finish();
    return true;
}

bool RgbPicture::begin(const FrameStore& f, const SequenceState& seq) {
    // The planes are read by the sizes they were allocated for; a sequence
    // state that no longer describes them converts nothing.
    const int w = f.width, h = f.height;
    m_valid = false;
    if (f.chromaFormat != 1 && f.chromaFormat != 2) return false;
    if (f.plane[0] == nullptr || f.plane[1] == nullptr || f.plane[2] == nullptr) return false;
    if (w != seq.codedWidth || h != seq.codedHeight || f.chromaFormat != seq.chromaFormat) return false;
    if (w < 16 || h < 2 || f.chromaWidth != w / 2 || f.chromaHeight != (f.chromaFormat == 1 ? h / 2 : h)) return false;
    if (!ensure(w, h)) return false;
    buildHeader(m_header, w, h);
    m_aspect = seq.aspectRatio;
    return true;
}

void RgbPicture::convertRows(const Dsp& dsp, const FrameStore& f, const PictureRecord& rec, int y0, int y1, int part) {
    const int w = f.width, h = f.height;
    const int cw = w / 2;
    const int n = h / 2;
    const bool field = f.chromaFormat == 1 && !rec.progressiveFrame && n >= 4;
    uint8_t* cbRow = m_cbRow[part];
    uint8_t* crRow = m_crRow[part];
    // Vertical (4:2:0) and horizontal up-sampling and the conversion, one
    // output row at a time so the up-sampled chroma stays in the cache; odd
    // picture lines first, then the even ones; rows are bottom-up.
    for (int pass = 1; pass >= 0; --pass) {
        for (int y = y0 + ((y0 & 1) != pass ? 1 : 0); y < y1; y += 2) {
            const uint8_t* cb;
            const uint8_t* cr;
            if (f.chromaFormat == 2) {
                cb = f.plane[1] + size_t(y) * cw;
                cr = f.plane[2] + size_t(y) * cw;
            } else {
                if (field) {
                    fieldRow(dsp, cbRow, f.plane[1], cw, n, y);
                    fieldRow(dsp, crRow, f.plane[2], cw, n, y);
                } else {
                    progressiveRow(dsp, cbRow, f.plane[1], cw, n, y);
                    progressiveRow(dsp, crRow, f.plane[2], cw, n, y);
                }
                cb = cbRow;
                cr = crRow;
            }
            dsp.yuv422ToBgr(m_rgb + size_t(h - 1 - y) * w * 3, f.plane[0] + size_t(y) * w, cb, cr, w);
        }
    }
}

}  // namespace kivra
