// kivra-field-encoder: a small test-only MPEG-2 encoder that writes field
// pictures (picture_structure 1 and 2), which the encoders at hand do not
// produce. Modes:
//   intra-pair  every frame an I field pair, with concealment motion vectors
//               and slice headers carrying intra_slice and extra information
//   intra-p     I/P pairs opening each GOP, P/P pairs after them; P fields use
//               field prediction, the second field partly from the first
//               field of its own frame, with half-sample vectors
//   odd-rows    I field pairs like intra-pair, but the sequence says
//               352x240 progressive (15 macroblock rows, an odd count, that
//               no field picture can split): each field carries 8 macroblock
//               rows of a 256-line picture, one more than half of 15 holds.
//               Not a legal stream; it is there to show the decoder keeps
//               every write inside its planes whatever the headers say.
// Output: an elementary stream (.m2v), 352x288 4:2:0 (odd-rows: 352x240), 25
// frames/s.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tables.h"

namespace {

constexpr int kW = 352, kGop = 4;
constexpr int kCW = kW / 2;
// Lines of the pictures coded (a multiple of 32) and what the sequence
// header says about them; odd-rows changes them.
int g_lines = 288;
int g_verticalSize = 288;
int g_progressiveSequence = 0;
int g_frameCount = 24;

class BitWriter {
public:
    void put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            m_acc = (m_acc << 1) | ((v >> i) & 1);
            if (++m_n == 8) {
                m_out.push_back(uint8_t(m_acc));
                m_acc = 0;
                m_n = 0;
            }
        }
    }
    void align() {
        while (m_n != 0) put(0, 1);
    }
    void startCode(uint32_t code) {
        align();
        put(0x000001, 24);
        put(code & 0xFF, 8);
    }
    const std::vector<uint8_t>& bytes() const { return m_out; }

private:
    std::vector<uint8_t> m_out;
    uint32_t m_acc = 0;
    int m_n = 0;
};

using CodeMap = std::map<int, std::pair<uint32_t, int>>;

CodeMap codeMap(const kivra::VlcCode* codes, int n) {
    CodeMap m;
    for (int i = 0; i < n; ++i) {
        uint32_t v = 0;
        int len = 0;
        for (const char* s = codes[i].bits; *s; ++s) {
            if (*s == ' ') continue;
            v = (v << 1) | (*s == '1');
            ++len;
        }
        m[codes[i].sym] = {v, len};
    }
    return m;
}

struct Plane {
    int w = 0, h = 0;
    std::vector<uint8_t> px;
    uint8_t& at(int x, int y) { return px[size_t(y) * w + x]; }
    uint8_t at(int x, int y) const { return px[size_t(y) * w + x]; }
};

struct Frame {
    Plane p[3];
    Frame() {
        const int ch = g_lines / 2;
        p[0] = Plane{kW, g_lines, std::vector<uint8_t>(size_t(kW) * g_lines)};
        p[1] = Plane{kCW, ch, std::vector<uint8_t>(size_t(kCW) * ch)};
        p[2] = Plane{kCW, ch, std::vector<uint8_t>(size_t(kCW) * ch)};
    }
};

uint8_t clip(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

// Moving picture: waves and a deterministic texture, 2 pixels per frame.
Frame source(int t) {
    Frame f;
    for (int y = 0; y < g_lines; ++y)
        for (int x = 0; x < kW; ++x) {
            const int xs = x - 2 * t;
            const uint32_t hsh = ((uint32_t(xs) * 73856093u) ^ (uint32_t(y) * 19349663u)) * 2654435761u;
            f.p[0].at(x, y) = clip(128 + 70 * std::sin(xs / 9.0) * std::cos(y / 13.0) + double(hsh >> 28) - 8);
        }
    for (int y = 0; y < g_lines / 2; ++y)
        for (int x = 0; x < kCW; ++x) {
            const int xs = 2 * x - 2 * t;
            f.p[1].at(x, y) = clip(128 + 50 * std::sin(xs / 17.0 + y / 11.0));
            f.p[2].at(x, y) = clip(128 + 50 * std::cos(xs / 23.0 - y / 7.0));
        }
    return f;
}

const double kPi = 3.14159265358979323846;

void fdct(const double in[64], double out[64]) {
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            double s = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    s += in[y * 8 + x] * std::cos((2 * x + 1) * u * kPi / 16) * std::cos((2 * y + 1) * v * kPi / 16);
            const double cu = u ? 1 : 1 / std::sqrt(2.0), cv = v ? 1 : 1 / std::sqrt(2.0);
            out[v * 8 + u] = 0.25 * cu * cv * s;
        }
}

void idct(const double in[64], double out[64]) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    const double cu = u ? 1 : 1 / std::sqrt(2.0), cv = v ? 1 : 1 / std::sqrt(2.0);
                    s += cu * cv * in[v * 8 + u] * std::cos((2 * x + 1) * u * kPi / 16) *
                         std::cos((2 * y + 1) * v * kPi / 16);
                }
            out[y * 8 + x] = 0.25 * s;
        }
}

class Encoder {
public:
    Encoder(bool withP, bool mix, bool frames = false, bool fieldB = false)
        : m_withP(withP), m_mix(mix), m_frames(frames), m_fieldB(fieldB) {
        m_dct = codeMap(kivra::kDct0, kivra::kDct0Count);
        m_dcL = codeMap(kivra::kDcLuma, kivra::kDcLumaCount);
        m_dcC = codeMap(kivra::kDcChroma, kivra::kDcChromaCount);
        m_cbp = codeMap(kivra::kCbp, kivra::kCbpCount);
        m_mv = codeMap(kivra::kMotion, kivra::kMotionCount);
    }

    std::vector<uint8_t> run() {
        if (m_fieldB) return runFieldB();
        Frame prev;
        // Frame mode has small P pictures: twice the frames to stay clear of
        // the preview's end guard.
        const int frames = m_frames ? 2 * g_frameCount : g_frameCount;
        for (int t = 0; t < frames; ++t) {
            const Frame src = source(t);
            Frame rec;
            if (t % kGop == 0) writeSequenceAndGop(t);
            const bool intraFrame = t % kGop == 0;
            m_gopStart = intraFrame;
            if (m_frames) {
                writeFramePicture(src, rec, prev, t, intraFrame, (t / kGop) % 2 == 0);
                prev = rec;
                m_recon.push_back(rec);
                continue;
            }
            for (int field = 0; field < 2; ++field) {
                const bool intra = !m_withP ? true : (intraFrame && field == 0);
                writePicture(src, rec, prev, t, field, intra);
            }
            prev = rec;
            m_recon.push_back(rec);
        }
        m_bw.startCode(0xB7);
        return m_bw.bytes();
    }

private:
    void code(const CodeMap& m, int sym) {
        auto it = m.find(sym);
        if (it == m.end()) {
            std::fprintf(stderr, "no code for %d\n", sym);
            std::exit(1);
        }
        m_bw.put(it->second.first, it->second.second);
    }

    void writeSequenceAndGop(int t) {
        BitWriter& b = m_bw;
        b.startCode(0xB3);
        b.put(kW, 12);
        b.put(uint32_t(g_verticalSize), 12);
        b.put(2, 4);  // 4:3
        b.put(3, 4);  // 25 Hz
        b.put(10000000 / 400, 18);
        b.put(1, 1);
        b.put(112, 10);
        b.put(0, 1);
        b.put(0, 1);
        b.put(0, 1);
        b.startCode(0xB5);
        b.put(1, 4);
        b.put(0x48, 8);  // main profile, main level
        b.put(uint32_t(g_progressiveSequence), 1);
        b.put(1, 2);  // 4:2:0
        b.put(0, 2);
        b.put(0, 2);
        b.put(0, 12);
        b.put(1, 1);
        b.put(0, 8);
        b.put(m_fieldB ? 0 : 1, 1);  // low_delay
        b.put(0, 2);
        b.put(0, 5);
        b.startCode(0xB8);
        b.put(0, 1);
        b.put(0, 5);
        b.put(0, 6);
        b.put(1, 1);
        b.put(t / 25, 6);
        b.put(t % 25, 6);
        b.put(1, 1);  // closed_gop
        b.put(0, 1);
    }

    void writePicture(const Frame& src, Frame& rec, const Frame& prev, int t, int field, bool intra) {
        BitWriter& b = m_bw;
        b.startCode(0x00);
        b.put(uint32_t(m_fieldB ? t - m_trBase : t % kGop), 10);
        b.put(intra ? 1 : 2, 3);
        b.put(0xFFFF, 16);
        if (!intra) {
            b.put(0, 1);
            b.put(7, 3);
        }
        b.put(0, 1);
        b.startCode(0xB5);
        b.put(8, 4);
        const bool conceal = intra && !m_withP;
        const int fc = intra && !conceal ? 15 : 2;
        b.put(fc, 4);
        b.put(fc, 4);
        b.put(15, 4);
        b.put(15, 4);
        b.put(0, 2);          // intra_dc_precision 8 bits
        b.put(field + 1, 2);  // picture_structure
        b.put(0, 1);          // top_field_first
        b.put(0, 1);          // frame_pred_frame_dct
        b.put(conceal, 1);    // concealment_motion_vectors
        b.put(0, 1);          // q_scale_type
        b.put(0, 1);          // intra_vlc_format
        b.put(0, 1);          // alternate_scan
        b.put(0, 1);          // repeat_first_field
        b.put(0, 1);          // chroma_420_type
        b.put(0, 1);          // progressive_frame
        b.put(0, 1);          // composite_display_flag

        const int q = 4;  // quantiser_scale_code (linear: scale 8)
        const int mbw = kW / 16, mbh = g_lines / 32;
        for (int row = 0; row < mbh; ++row) {
            b.startCode(0x01 + row);
            b.put(q, 5);
            if (conceal) {
                b.put(1, 1);     // intra_slice_flag
                b.put(1, 1);     // intra_slice
                b.put(0, 7);     // reserved
                b.put(1, 1);     // extra_bit_slice
                b.put(0xA5, 8);  // extra_information_slice
            }
            b.put(0, 1);
            int dcPred[3] = {128, 128, 128};
            int pmv[2][2] = {{0, 0}, {0, 0}};
            for (int mbx = 0; mbx < mbw; ++mbx) {
                b.put(1, 1);  // macroblock_address_increment 1
                if (intra) {
                    b.put(1, 1);  // intra
                    if (conceal) {
                        // Concealment vector: field select, vector, marker.
                        const int vx = (mbx % 5) - 2, vy = (row % 3) - 1;
                        b.put(uint32_t(mbx % 2), 1);
                        writeMotion(vx - pmv[0][0]);
                        writeMotion(vy - pmv[0][1]);
                        pmv[0][0] = pmv[1][0] = vx;
                        pmv[0][1] = pmv[1][1] = vy;
                        b.put(1, 1);
                    }
                    intraMacroblock(src, rec, field, mbx, row, q * 2, dcPred);
                } else {
                    const int kind = (m_mix && t % kGop != 0) ? mbx % 3 : 0;
                    if (kind == 0) {
                        interMacroblock(src, rec, prev, field, mbx, row, q * 2, pmv, m_gopStart);
                    } else {
                        predictionOnlyMacroblock(rec, prev, field, mbx, row, pmv, kind);
                    }
                }
            }
        }
    }

    // Field f of plane p as a view: rows y of the field are frame rows 2y+f.
    static int fieldRow(int y, int f) { return 2 * y + f; }

    void blockOf(const Plane& pl, int f, int x0, int y0, double out[64]) {
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) out[y * 8 + x] = pl.at(x0 + x, fieldRow(y0 + y, f));
    }

    void writeCoefficients(const int qf[64], bool intraBlock) {
        int run = 0;
        bool first = true;
        for (int i = intraBlock ? 1 : 0; i < 64; ++i) {
            const int l = qf[kivra::kZigZag[i]];
            if (l == 0) {
                ++run;
                continue;
            }
            const int a = std::abs(l);
            if (!intraBlock && first && run == 0 && a == 1) {
                m_bw.put(1, 1);
                m_bw.put(l < 0, 1);
            } else if (a < 41 && m_dct.count(run | (a << 8))) {
                code(m_dct, run | (a << 8));
                m_bw.put(l < 0, 1);
            } else {
                code(m_dct, kivra::kDctEscape);
                m_bw.put(uint32_t(run), 6);
                m_bw.put(uint32_t(l) & 0xFFF, 12);
            }
            first = false;
            run = 0;
        }
        code(m_dct, kivra::kDctEob);
    }

    void intraMacroblock(const Frame& src, Frame& rec, int f, int mbx, int row, int qs, int dcPred[3]) {
        for (int blk = 0; blk < 6; ++blk) {
            const int comp = blk < 4 ? 0 : blk - 3;
            const int x0 = comp ? mbx * 8 : mbx * 16 + (blk & 1) * 8;
            const int y0 = comp ? row * 8 : row * 16 + (blk >> 1) * 8;
            double s[64], F[64];
            blockOf(src.p[comp], f, x0, y0, s);
            fdct(s, F);
            int qf[64] = {};
            const int dc = int(std::lround(F[0] / 8));
            qf[0] = dc;
            for (int i = 1; i < 64; ++i) {
                const double w = kivra::kDefaultIntraMatrix[i] * qs;
                qf[i] = int(std::lround(16 * F[i] / w));
                if (qf[i] > 2047) qf[i] = 2047;
                if (qf[i] < -2047) qf[i] = -2047;
            }
            const int diff = dc - dcPred[comp];
            dcPred[comp] = dc;
            const int a = std::abs(diff);
            int size = 0;
            while ((1 << size) <= a) ++size;
            code(comp ? m_dcC : m_dcL, size);
            if (size) m_bw.put(uint32_t(diff < 0 ? diff + (1 << size) - 1 : diff), size);
            writeCoefficients(qf, true);
            // Reconstruction.
            double R[64], r[64];
            R[0] = dc * 8.0;
            for (int i = 1; i < 64; ++i) {
                const int l = qf[i];
                R[i] = l == 0 ? 0 : (l < 0 ? -1 : 1) * double((std::abs(l) * kivra::kDefaultIntraMatrix[i] * qs) >> 4);
            }
            idct(R, r);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) rec.p[comp].at(x0 + x, fieldRow(y0 + y, f)) = clip(r[y * 8 + x]);
        }
    }

    // Half-sample prediction from field sel of a frame, field coordinates.
    static int predSample(const Plane& pl, int sel, int x2, int y2) {
        const int fh = pl.h / 2;
        auto px = [&](int x, int y) {
            x = x < 0 ? 0 : (x >= pl.w ? pl.w - 1 : x);
            y = y < 0 ? 0 : (y >= fh ? fh - 1 : y);
            return int(pl.at(x, fieldRow(y, sel)));
        };
        const int x = x2 >> 1, y = y2 >> 1, hx = x2 & 1, hy = y2 & 1;
        if (!hx && !hy) return px(x, y);
        if (hx && !hy) return (px(x, y) + px(x + 1, y) + 1) >> 1;
        if (!hx && hy) return (px(x, y) + px(x, y + 1) + 1) >> 1;
        return (px(x, y) + px(x + 1, y) + px(x, y + 1) + px(x + 1, y + 1) + 2) >> 2;
    }

    void writeMotion(int delta) {
        // f_code 2: one residual bit.
        if (delta == 0) {
            code(m_mv, 0);
            return;
        }
        const int a = std::abs(delta);
        const int mc = (a - 1) / 2 + 1, res = (a - 1) % 2;
        code(m_mv, mc);
        m_bw.put(delta < 0, 1);
        m_bw.put(uint32_t(res), 1);
    }

    void interMacroblock(const Frame& src, Frame& rec, const Frame& prev, int f, int mbx, int row, int qs,
                         int pmv[2][2], bool gopStart) {
        // Second (bottom) field: even macroblock columns predict from the top
        // field of this frame (half a line down in frame terms), odd ones from
        // the previous frame's bottom field; at a GOP start all of them use
        // the I field. First field: the previous frame's top field. Vectors
        // stay inside the reference.
        int sel, mvx, mvy;
        const Frame* ref;
        if (f == 1 && (mbx % 2 == 0 || gopStart)) {
            sel = 0;
            mvx = 0;
            mvy = row == g_lines / 32 - 1 ? 0 : 1;
            ref = &rec;
        } else {
            sel = f;
            mvx = mbx == 0 ? 0 : -4;  // the content moves 2 pixels right per frame
            mvy = 0;
            ref = &prev;
        }
        // Prediction and residual.
        int pred[6][64];
        int qf[6][64] = {};
        int cbp = 0;
        for (int blk = 0; blk < 6; ++blk) {
            const int comp = blk < 4 ? 0 : blk - 3;
            const int x0 = comp ? mbx * 8 : mbx * 16 + (blk & 1) * 8;
            const int y0 = comp ? row * 8 : row * 16 + (blk >> 1) * 8;
            const int vx = comp ? mvx / 2 : mvx, vy = comp ? mvy / 2 : mvy;
            double res[64], F[64];
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    const int p = predSample(ref->p[comp], sel, 2 * (x0 + x) + vx, 2 * (y0 + y) + vy);
                    pred[blk][y * 8 + x] = p;
                    res[y * 8 + x] = src.p[comp].at(x0 + x, fieldRow(y0 + y, f)) - p;
                }
            fdct(res, F);
            for (int i = 0; i < 64; ++i) {
                const double w = 16.0 * qs;
                const int l = int(std::fabs(F[i]) * 16 / w);
                qf[blk][i] = F[i] < 0 ? -std::min(l, 2047) : std::min(l, 2047);
                if (qf[blk][i]) cbp |= 1 << (5 - blk);
            }
        }
        if (cbp) {
            m_bw.put(1, 1);  // MC, coded
        } else {
            m_bw.put(1, 3);  // 001: MC, not coded
        }
        m_bw.put(1, 2);  // field_motion_type: field
        m_bw.put(uint32_t(sel), 1);
        writeMotion(mvx - pmv[0][0]);
        writeMotion(mvy - pmv[0][1]);
        pmv[0][0] = pmv[1][0] = mvx;
        pmv[0][1] = pmv[1][1] = mvy;
        if (cbp) code(m_cbp, cbp);
        for (int blk = 0; blk < 6; ++blk) {
            const int comp = blk < 4 ? 0 : blk - 3;
            const int x0 = comp ? mbx * 8 : mbx * 16 + (blk & 1) * 8;
            const int y0 = comp ? row * 8 : row * 16 + (blk >> 1) * 8;
            double R[64], r[64];
            for (int i = 0; i < 64; ++i) {
                const int l = qf[blk][i];
                R[i] = l == 0 ? 0 : (l < 0 ? -1 : 1) * double(((2 * std::abs(l) + 1) * 16 * qs) >> 5);
            }
            if (cbp & (1 << (5 - blk))) writeCoefficients(qf[blk], false);
            idct(R, r);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    rec.p[comp].at(x0 + x, fieldRow(y0 + y, f)) = clip(pred[blk][y * 8 + x] + r[y * 8 + x]);
        }
    }

    // Field sample of the reference a field prediction names: the second
    // field's opposite parity is the first field of its own frame.
    static int refSample(const Frame& cur, const Frame& prev, int curField, int comp, int sel, int x2, int y2) {
        const Frame& f = (curField == 1 && sel == 0) ? cur : prev;
        return predSample(f.p[comp], sel, x2, y2);
    }

    // 16x8 (kind 1) or dual prime (kind 2), forward MC without residual.
    void predictionOnlyMacroblock(Frame& rec, const Frame& prev, int f, int mbx, int row, int pmv[2][2], int kind) {
        m_bw.put(1, 3);                  // 001: MC, not coded
        m_bw.put(kind == 1 ? 2 : 3, 2);  // field_motion_type
        int mv[2][2];
        int sel[2];
        int dmv[2] = {0, 0};
        if (kind == 1) {
            // Upper half from the same parity of the previous frame, lower
            // half from the other field with a vertical half sample.
            sel[0] = f;
            mv[0][0] = -4;
            mv[0][1] = 0;
            sel[1] = 1 - f;
            mv[1][0] = -3;
            mv[1][1] = row == g_lines / 32 - 1 ? -1 : 1;  // stay inside the field
            for (int r = 0; r < 2; ++r) {
                m_bw.put(uint32_t(sel[r]), 1);
                writeMotion(mv[r][0] - pmv[r][0]);
                writeMotion(mv[r][1] - pmv[r][1]);
                pmv[r][0] = mv[r][0];
                pmv[r][1] = mv[r][1];
            }
        } else {
            mv[0][0] = -4 + (mbx % 2);
            // Vertical vectors point into the field at its top and bottom.
            mv[0][1] = row == 0 ? 2 : (row == g_lines / 32 - 1 ? -2 : ((row % 2) ? 2 : -2));
            dmv[0] = (mbx % 4) < 2 ? 1 : -1;
            dmv[1] = (row == 0 || row == g_lines / 32 - 1) ? 0 : (row % 3) - 1;
            auto dm = [this](int d) {
                if (d == 0) {
                    m_bw.put(0, 1);
                } else {
                    m_bw.put(d > 0 ? 2 : 3, 2);
                }
            };
            writeMotion(mv[0][0] - pmv[0][0]);
            dm(dmv[0]);
            writeMotion(mv[0][1] - pmv[0][1]);
            dm(dmv[1]);
            pmv[0][0] = pmv[1][0] = mv[0][0];
            pmv[0][1] = pmv[1][1] = mv[0][1];
        }
        // The encoder's own reconstruction: the same prediction.
        for (int comp = 0; comp < 3; ++comp) {
            const int bw = comp ? 8 : 16, bh = comp ? 8 : 16;
            const int x0 = mbx * bw, y0 = row * bh;
            for (int y = 0; y < bh; ++y)
                for (int x = 0; x < bw; ++x) {
                    int v;
                    auto cv = [comp](int a) { return comp ? a / 2 : a; };
                    if (kind == 1) {
                        const int r = y < bh / 2 ? 0 : 1;
                        v = refSample(rec, prev, f, comp, sel[r], 2 * (x0 + x) + cv(mv[r][0]),
                                      2 * (y0 + y) + cv(mv[r][1]));
                    } else {
                        const int vx = mv[0][0], vy = mv[0][1];
                        const int ox = ((vx + (vx > 0)) >> 1) + dmv[0];
                        const int oy = ((vy + (vy > 0)) >> 1) + dmv[1] + (f == 1 ? 1 : -1);
                        const int a = refSample(rec, prev, f, comp, f, 2 * (x0 + x) + cv(vx), 2 * (y0 + y) + cv(vy));
                        const int b =
                            refSample(rec, prev, f, comp, 1 - f, 2 * (x0 + x) + cv(ox), 2 * (y0 + y) + cv(oy));
                        v = (a + b + 1) >> 1;
                    }
                    rec.p[comp].at(x0 + x, fieldRow(y0 + y, f)) = uint8_t(v);
                }
        }
    }

    // GOPs of three frames in coding order 0, 2, 1: an I/P field pair, a P
    // pair predicting from it, and a B pair between them.
    std::vector<uint8_t> runFieldB() {
        constexpr int kGopB = 3;
        Frame prevRef;
        for (int g = 0; g < g_frameCount / kGopB; ++g) {
            const int t0 = g * kGopB;
            writeSequenceAndGop(t0);
            const Frame s0 = source(t0), s2 = source(t0 + 2);
            Frame r0, r2;
            m_trBase = t0;
            m_gopStart = true;
            writePicture(s0, r0, prevRef, t0, 0, true);
            writePicture(s0, r0, prevRef, t0, 1, false);
            m_gopStart = false;
            writePicture(s2, r2, r0, t0 + 2, 0, false);
            writePicture(s2, r2, r0, t0 + 2, 1, false);
            for (int field = 0; field < 2; ++field) writeBField(t0 + 1, field);
            prevRef = r2;
        }
        m_bw.startCode(0xB7);
        return m_bw.bytes();
    }

    void writeBField(int t, int f) {
        BitWriter& b = m_bw;
        b.startCode(0x00);
        b.put(uint32_t(t - m_trBase), 10);
        b.put(3, 3);
        b.put(0xFFFF, 16);
        b.put(0, 1);
        b.put(7, 3);
        b.put(0, 1);
        b.put(7, 3);
        b.put(0, 1);
        b.startCode(0xB5);
        b.put(8, 4);
        b.put(2, 4);
        b.put(2, 4);
        b.put(2, 4);
        b.put(2, 4);
        b.put(0, 2);
        b.put(uint32_t(f + 1), 2);
        b.put(0, 1);
        b.put(0, 1);
        b.put(0, 6);
        b.put(0, 1);
        b.put(0, 1);
        const int mbw = kW / 16, mbh = g_lines / 32;
        for (int row = 0; row < mbh; ++row) {
            b.startCode(0x01 + row);
            b.put(6, 5);
            b.put(0, 1);
            int pmv[2][2] = {{0, 0}, {0, 0}};  // [direction][component]
            int increment = 1;
            for (int mbx = 0; mbx < mbw; ++mbx) {
                // Every seventh macroblock (never the first or last) is skipped:
                // it repeats the previous one's vectors on same-parity fields.
                if (mbx % 7 == 3 && mbx != mbw - 1) {
                    ++increment;
                    continue;
                }
                b.put(increment == 1 ? 1 : (increment == 2 ? 3 : 2), increment == 1 ? 1 : 3);
                increment = 1;
                b.put(2, 2);  // 10: forward and backward, not coded
                b.put(1, 2);  // field_motion_type: field
                for (int s = 0; s < 2; ++s) {
                    const int sel = (mbx + row + s) % 2;
                    int vx = (mbx % 3) - 1 + (s ? 1 : -1);
                    int vy = (row % 2) ? 1 : -1;
                    if (mbx == 0 && vx < 0) vx = 0;
                    if (row == 0 && vy < 0) vy = 0;
                    if (row == mbh - 1 && vy > 0) vy = 0;
                    b.put(uint32_t(sel), 1);
                    writeMotion(vx - pmv[s][0]);
                    writeMotion(vy - pmv[s][1]);
                    pmv[s][0] = vx;
                    pmv[s][1] = vy;
                }
            }
        }
    }

    void writePictureHeaders(int t, bool intra, int structure, int tff, int fpfd) {
        BitWriter& b = m_bw;
        b.startCode(0x00);
        b.put(uint32_t(t % kGop), 10);
        b.put(intra ? 1 : 2, 3);
        b.put(0xFFFF, 16);
        if (!intra) {
            b.put(0, 1);
            b.put(7, 3);
        }
        b.put(0, 1);
        b.startCode(0xB5);
        b.put(8, 4);
        const int fc = intra ? 15 : 2;
        b.put(fc, 4);
        b.put(fc, 4);
        b.put(15, 4);
        b.put(15, 4);
        b.put(0, 2);
        b.put(uint32_t(structure), 2);
        b.put(uint32_t(tff), 1);
        b.put(uint32_t(fpfd), 1);
        b.put(0, 6);  // concealment, q_scale_type, intra_vlc, alternate_scan, rff, chroma_420_type
        b.put(0, 1);  // progressive_frame
        b.put(0, 1);
    }

    // Frame pictures: intra macroblocks with frame DCT, or dual prime.
    void writeFramePicture(const Frame& src, Frame& rec, const Frame& prev, int t, bool intra, bool tff) {
        writePictureHeaders(t, intra, 3, tff ? 1 : 0, 0);
        const int q = 4, mbw = kW / 16, mbh = g_lines / 16;
        for (int row = 0; row < mbh; ++row) {
            m_bw.startCode(0x01 + row);
            m_bw.put(q, 5);
            m_bw.put(0, 1);
            int dcPred[3] = {128, 128, 128};
            int pmv[2] = {0, 0};
            for (int mbx = 0; mbx < mbw; ++mbx) {
                m_bw.put(1, 1);
                if (intra) {
                    m_bw.put(1, 1);  // intra
                    m_bw.put(0, 1);  // dct_type: frame
                    intraFrameMacroblock(src, rec, mbx, row, q * 2, dcPred);
                } else {
                    dualPrimeFrameMacroblock(rec, prev, mbx, row, pmv, tff);
                }
            }
        }
    }

    void intraFrameMacroblock(const Frame& src, Frame& rec, int mbx, int row, int qs, int dcPred[3]) {
        for (int blk = 0; blk < 6; ++blk) {
            const int comp = blk < 4 ? 0 : blk - 3;
            const int x0 = comp ? mbx * 8 : mbx * 16 + (blk & 1) * 8;
            const int y0 = comp ? row * 8 : row * 16 + (blk >> 1) * 8;
            double s[64], F[64];
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) s[y * 8 + x] = src.p[comp].at(x0 + x, y0 + y);
            fdct(s, F);
            int qf[64] = {};
            const int dc = int(std::lround(F[0] / 8));
            qf[0] = dc;
            for (int i = 1; i < 64; ++i) {
                qf[i] = int(std::lround(16 * F[i] / (kivra::kDefaultIntraMatrix[i] * qs)));
                qf[i] = std::max(-2047, std::min(2047, qf[i]));
            }
            const int diff = dc - dcPred[comp];
            dcPred[comp] = dc;
            int size = 0;
            while ((1 << size) <= std::abs(diff)) ++size;
            code(comp ? m_dcC : m_dcL, size);
            if (size) m_bw.put(uint32_t(diff < 0 ? diff + (1 << size) - 1 : diff), size);
            writeCoefficients(qf, true);
            double R[64], r[64];
            R[0] = dc * 8.0;
            for (int i = 1; i < 64; ++i) {
                const int l = qf[i];
                R[i] = l == 0 ? 0 : (l < 0 ? -1 : 1) * double((std::abs(l) * kivra::kDefaultIntraMatrix[i] * qs) >> 4);
            }
            idct(R, r);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) rec.p[comp].at(x0 + x, y0 + y) = clip(r[y * 8 + x]);
        }
    }

    // Dual prime in a frame picture: each field averages the same-parity
    // field prediction with the opposite-parity one, whose vector is scaled
    // by the field distance (1 or 3, by top_field_first) and corrected by
    // half a line.
    void dualPrimeFrameMacroblock(Frame& rec, const Frame& prev, int mbx, int row, int pmv[2], bool tff) {
        const int last = g_lines / 16 - 1;
        const int vx = mbx == 0 ? 2 : -4 + (mbx % 2);
        const int vy = row == 0 ? 2 : (row == last ? -2 : ((row % 2) ? 2 : -2));  // field units
        const int dmv[2] = {mbx == 0 ? 0 : ((mbx % 4) < 2 ? 1 : -1), (row == 0 || row == last) ? 0 : (row % 3) - 1};
        m_bw.put(1, 3);  // 001: MC, not coded
        m_bw.put(3, 2);  // frame_motion_type: dual prime
        auto dm = [this](int d) {
            if (d == 0) {
                m_bw.put(0, 1);
            } else {
                m_bw.put(d > 0 ? 2 : 3, 2);
            }
        };
        writeMotion(vx - pmv[0]);
        dm(dmv[0]);
        writeMotion(vy - (pmv[1] >> 1));
        dm(dmv[1]);
        pmv[0] = vx;
        pmv[1] = vy * 2;
        for (int comp = 0; comp < 3; ++comp) {
            const int bw = comp ? 8 : 16, fh = comp ? 4 : 8;  // lines per field in the macroblock
            auto cv = [comp](int a) { return comp ? a / 2 : a; };
            for (int r = 0; r < 2; ++r) {
                const int m = (r == 0) == tff ? 1 : 3;
                const int ox = ((vx * m + (vx > 0)) >> 1) + dmv[0];
                const int oy = ((vy * m + (vy > 0)) >> 1) + (r == 0 ? -1 : 1) + dmv[1];
                for (int y = 0; y < fh; ++y)
                    for (int x = 0; x < bw; ++x) {
                        const int fx = mbx * bw + x, fy = row * fh + y;  // field coordinates
                        const int a = predSample(prev.p[comp], r, 2 * fx + cv(vx), 2 * fy + cv(vy));
                        const int b = predSample(prev.p[comp], 1 - r, 2 * fx + cv(ox), 2 * fy + cv(oy));
                        rec.p[comp].at(fx, fieldRow(fy, r)) = uint8_t((a + b + 1) >> 1);
                    }
            }
        }
    }

public:
    std::vector<Frame> m_recon;  // the encoder's own decode, for debugging

private:
    bool m_withP;
    bool m_mix;
    bool m_frames;
    bool m_fieldB;
    bool m_gopStart = false;
    int m_trBase = 0;
    BitWriter m_bw;
    CodeMap m_dct, m_dcL, m_dcC, m_cbp, m_mv;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "intra-pair" && mode != "intra-p" && mode != "mix" && mode != "frame-dp" && mode != "field-b" &&
        mode != "odd-rows") {
        std::fprintf(stderr, "usage: kivra-field-encoder intra-pair|intra-p|mix|frame-dp|field-b|odd-rows OUT.m2v\n");
        return 2;
    }
    if (mode == "odd-rows") {
        g_lines = 256;
        g_verticalSize = 240;
        g_progressiveSequence = 1;
        g_frameCount = 8;
    }
    const bool intraOnly = mode == "intra-pair" || mode == "odd-rows";
    Encoder enc(!intraOnly, mode == "mix", mode == "frame-dp", mode == "field-b");
    const auto bytes = enc.run();
    FILE* f = std::fopen(argv[2], "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) return 1;
    std::fclose(f);
    if (const char* dump = std::getenv("KIVRA_FIELD_ENCODER_RECON")) {
        FILE* r = std::fopen(dump, "wb");
        if (!r) return 1;
        std::fprintf(r, "YUV4MPEG2 W%d H%d F25:1 It A0:0 C420\n", kW, g_lines);
        for (const Frame& fr : enc.m_recon) {
            std::fputs("FRAME\n", r);
            for (const Plane& p : fr.p) std::fwrite(p.px.data(), 1, p.px.size(), r);
        }
        std::fclose(r);
    }
    return 0;
}
