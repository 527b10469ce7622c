// "preview": decodes the picture at a GOP or byte position through the Kivra
// exports, with a host that keeps what the library draws, and writes it as
// PNG or BMP (the drawn picture at its display size) or Y4M (the decoded
// planes cropped to the sequence's size).
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "commands.h"
#include "edit_state.h"
#include "file.h"
#include "gop_scan.h"
#include "image_writers.h"
#include "kivra.h"
#include "terminal_host.h"
#include "ts_packet.h"

namespace tavrel::cli {

namespace {

const char* const kPreviewHelp =
    "usage: tavrelcut-cli preview FILE (--gop N | --position BYTES) [--pid PID]\n"
    "                             [--width W] [--aspect 9|0|3] [--grade 0|1|2] -o OUT\n\n"
    "Decodes the first I picture at GOP N (position and PID from FILE's GOP list,\n"
    "loaded or scanned) or at a byte position. OUT ending in .png or .bmp gets the\n"
    "drawn picture at its display size (width W, 0 = coded size); .y4m gets the\n"
    "decoded Y, Cb and Cr planes cropped to the picture size.\n\n"
    "  --aspect  9 = from the stream (default), 0 = 4:3, 3 = 16:9\n"
    "  --grade   0 = normal, 1 = low, 2 = high (default)\n";

// What the library handed to the host.
struct Capture {
    std::mutex mu;
    bool drawn = false;
    int codedWidth = 0, codedHeight = 0;
    std::vector<uint8_t> bgr;  // bottom-up
    int destWidth = 0, destHeight = 0, mode = 0;
    bool haveFrame = false;
    YuvImage yuv;
};

void onDraw(void* user, KivraWindow, const uint8_t* h, const uint8_t* pixels, int32_t dw, int32_t dh,
            int32_t mode) {
    auto* c = static_cast<Capture*>(user);
    std::lock_guard<std::mutex> lock(c->mu);
    auto rd32 = [h](int o) { return int32_t(h[o] | h[o + 1] << 8 | h[o + 2] << 16 | uint32_t(h[o + 3]) << 24); };
    c->codedWidth = rd32(4);
    c->codedHeight = rd32(8);
    c->bgr.assign(pixels, pixels + size_t(c->codedWidth) * c->codedHeight * 3);
    c->destWidth = dw;
    c->destHeight = dh;
    c->mode = mode;
    c->drawn = true;
}

void onResize(void*, KivraWindow, KivraWindow, uint32_t) {}

void onFrame(void* user, const TavrelDecFrame* f) {
    auto* c = static_cast<Capture*>(user);
    std::lock_guard<std::mutex> lock(c->mu);
    YuvImage& y = c->yuv;
    y.width = f->width;
    y.height = f->height;
    y.chromaFormat = f->chromaFormat;
    for (int p = 0; p < 3; ++p) {
        const int w = p ? (f->width + 1) / 2 : f->width;
        const int h = p && f->chromaFormat == 1 ? (f->height + 1) / 2 : f->height;
        y.plane[p].resize(size_t(w) * h);
        for (int r = 0; r < h; ++r)
            std::memcpy(&y.plane[p][size_t(r) * w], f->planes[p] + size_t(r) * f->strides[p], size_t(w));
    }
    c->haveFrame = true;
}

// The drawn picture as the window shows it: unscaled, or stretched to the
// destination (pixel replication, or box averaging for the smooth mode).
RgbImage drawnImage(const Capture& c) {
    RgbImage img;
    const int sw = c.codedWidth, sh = c.codedHeight;
    const bool unscaled = c.mode == KIVRA_STRETCH_NONE;
    img.width = unscaled ? sw : c.destWidth;
    img.height = unscaled ? sh : c.destHeight;
    img.rgb.resize(size_t(img.width) * img.height * 3);
    auto src = [&](int x, int y) { return &c.bgr[(size_t(sh - 1 - y) * sw + x) * 3]; };
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            uint8_t* d = &img.rgb[(size_t(y) * img.width + x) * 3];
            if (unscaled) {
                const uint8_t* s = src(x, y);
                d[0] = s[2], d[1] = s[1], d[2] = s[0];
                continue;
            }
            int x0 = int(int64_t(x) * sw / img.width), x1 = int(int64_t(x + 1) * sw / img.width);
            int y0 = int(int64_t(y) * sh / img.height), y1 = int(int64_t(y + 1) * sh / img.height);
            if (c.mode != KIVRA_STRETCH_HALFTONE || x1 <= x0 || y1 <= y0) {
                const uint8_t* s = src(x0, y0);
                d[0] = s[2], d[1] = s[1], d[2] = s[0];
                continue;
            }
            unsigned sum[3] = {0, 0, 0}, n = 0;
            for (int yy = y0; yy < y1; ++yy)
                for (int xx = x0; xx < x1; ++xx, ++n) {
                    const uint8_t* s = src(xx, yy);
                    sum[0] += s[2], sum[1] += s[1], sum[2] += s[0];
                }
            for (int k = 0; k < 3; ++k) d[k] = uint8_t((sum[k] + n / 2) / n);
        }
    return img;
}

bool endsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool parseInt(const char* s, int64_t& out) {
    char* end = nullptr;
    const long long v = std::strtoll(s, &end, 0);
    if (end == s || *end != '\0') return false;
    out = v;
    return true;
}

}  // namespace

int cmdPreview(int argc, char** argv) {
    std::string file, out;
    std::optional<int64_t> gop, position, pid;
    int64_t width = 0, aspect = 9, grade = 2;  // the program's defaults: Auto, High
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](int64_t& dst) {
            if (i + 1 >= argc || !parseInt(argv[i + 1], dst)) {
                std::fprintf(stderr, "preview: %s needs a number\n", a.c_str());
                return false;
            }
            ++i;
            return true;
        };
        int64_t v = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kPreviewHelp, stdout);
            return 0;
        } else if (a == "--gop") {
            if (!value(v)) return 2;
            gop = v;
        } else if (a == "--position") {
            if (!value(v)) return 2;
            position = v;
        } else if (a == "--pid") {
            if (!value(v)) return 2;
            pid = v;
        } else if (a == "--width") {
            if (!value(width)) return 2;
        } else if (a == "--aspect") {
            if (!value(aspect)) return 2;
        } else if (a == "--grade") {
            if (!value(grade)) return 2;
        } else if (a == "-o") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "preview: -o needs a file name\n");
                return 2;
            }
            out = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "preview: unknown option '%s'\n%s", a.c_str(), kPreviewHelp);
            return 2;
        } else if (file.empty()) {
            file = a;
        } else {
            std::fprintf(stderr, "preview: one FILE only\n");
            return 2;
        }
    }
    if (file.empty() || out.empty() || gop.has_value() == position.has_value()) {
        std::fputs(kPreviewHelp, stderr);
        return 2;
    }
    const bool toY4m = endsWith(out, ".y4m");
    if (!toY4m && !endsWith(out, ".png") && !endsWith(out, ".bmp")) {
        std::fprintf(stderr, "preview: OUT must end in .png, .bmp or .y4m\n");
        return 2;
    }
    if (width < 0 || width > 16383) {
        std::fprintf(stderr, "preview: --width must be 0 to 16383\n");
        return 2;
    }
    if (isDirectory(file) || !fileExists(file)) {
        std::fprintf(stderr, "error: %s: no such file\n", file.c_str());
        return 1;
    }

    PacketGeometry geometry;
    {
        File f;
        if (!f.openRead(file) || !detectPacketGeometry(f, geometry) || geometry.size == 0) {
            std::fprintf(stderr, "error: %s: not a transport stream\n", file.c_str());
            return 1;
        }
    }
    int64_t pos = position.value_or(0);
    int64_t videoPid = pid.value_or(-1);
    if (gop.has_value() || videoPid < 0) {
        EditState state;
        state.inputPath = file;
        TerminalHost host(false);
        if (!obtainGopList(state, host) || state.gopList.empty()) {
            if (host.errorCount() == 0) std::fprintf(stderr, "error: %s: no GOPs found\n", file.c_str());
            return 1;
        }
        if (state.geometry.size > 0) geometry = state.geometry;
        // The list ends with the LAST entry, which is not a GOP.
        const int64_t count = int64_t(state.gopList.size()) - (state.gopList.back().isLast() ? 1 : 0);
        if (gop.has_value()) {
            if (*gop < 0 || *gop >= count) {
                std::fprintf(stderr, "error: GOP %" PRId64 " is out of range (0 to %" PRId64 ")\n", *gop, count - 1);
                return 1;
            }
            const GopEntry& e = state.gopList[size_t(*gop)];
            pos = e.packet * geometry.size;
            if (videoPid < 0) videoPid = e.pid;
        } else if (videoPid < 0) {
            videoPid = state.streamVideoPid != 0xFFFF ? state.streamVideoPid : state.gopList.front().pid;
        }
    }

    Capture cap;
    TavrelDecHost host{};
    host.user = &cap;
    host.draw = onDraw;
    host.postResize = onResize;
    host.frame = onFrame;
    SetHostCallbacks(&host);
    TavrelDecInit init{};
    init.path = file.c_str();
    init.windowMode = 0;
    TsOpen(&init);
    SetPackSize(geometry.size);
    TavrelDecRead rd{};
    rd.position = pos;
    rd.videoPid = int32_t(videoPid);
    rd.displayWidth = int32_t(width);
    rd.windowMode = 0;
    rd.aspectMode = int32_t(aspect);
    rd.stretchQuality = int32_t(grade);
    TsRead(&rd);
    TsClose();  // waits for the decode thread
    SetHostCallbacks(nullptr);

    if (!cap.drawn || (toY4m && !cap.haveFrame)) {
        std::fprintf(stderr, "error: no picture was decoded at byte %" PRId64 " (PID 0x%04" PRIX64 ")\n", pos,
                     videoPid);
        return 1;
    }
    bool ok;
    if (toY4m) {
        ok = writeY4m(out, cap.yuv);
    } else {
        const RgbImage img = drawnImage(cap);
        ok = endsWith(out, ".png") ? writePng(out, img) : writeBmp(out, img);
    }
    if (!ok) {
        std::fprintf(stderr, "error: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

}  // namespace tavrel::cli
