// "preview": decodes the picture at a GOP or byte position through the Kivra
// exports, with a host that keeps what the library draws, and writes it as
// PNG or BMP (the drawn picture at its display size) or Y4M (the decoded
// planes cropped to the sequence's size).
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "commands.h"
#include "edit_state.h"
#include "file.h"
#include "gop_scan.h"
#include "image_writers.h"
#include "inputs.h"
#include "kivra.h"
#include "output_file.h"
#include "navigation.h"
#include "terminal_host.h"
#include "ts_packet.h"

namespace tavrel::cli {

namespace {

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

void onDraw(void* user, KivraWindow, const uint8_t* h, const uint8_t* pixels, int32_t dw, int32_t dh, int32_t mode) {
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

struct PreviewOptions {
    std::string file, out;
    std::optional<int64_t> gop, position, width;
    std::optional<int32_t> pid;
    std::string aspect = "9", grade = "2";  // the program's defaults: Auto, High
};

int runPreview(const PreviewOptions& o) {
    const bool toY4m = endsWith(o.out, ".y4m");
    if (!toY4m && !endsWith(o.out, ".png") && !endsWith(o.out, ".bmp")) {
        std::fprintf(stderr, "tavrelcut-cli preview: -o: OUT must end in .png, .bmp or .y4m\n");
        return kExitUsage;
    }
    TerminalHost host(false);
    host.setSubject(o.file);
    if (!checkRecording(o.file, host)) return kExitFailure;
    // A picture name that leads to the recording (a link, a second hard
    // link) is refused before anything is decoded.
    if (sameFile(o.out, o.file)) {
        showOutputCreateError(host, o.out, kErrSameAsInput);
        return kExitFailure;
    }

    PacketGeometry geometry;
    int64_t fileSize = 0;
    {
        File f;
        if (!f.openRead(o.file)) {
            host.showFileError(kMsgInputOpen, o.file, f.error());
            return kExitFailure;
        }
        fileSize = f.size();
        if (!detectPacketGeometry(f, geometry) || geometry.size == 0) {
            host.showFileError("not an MPEG-2 transport stream", o.file, 0);
            return kExitFailure;
        }
    }
    int64_t pos = o.position.value_or(0);
    int64_t videoPid = o.pid ? *o.pid : -1;
    if (o.gop || videoPid < 0) {
        EditState state;
        state.inputPath = o.file;
        if (!obtainToolGopList(state, host)) return kExitFailure;
        if (state.geometry.size > 0) geometry = state.geometry;
        if (o.gop) {
            if (!gopInList(state, *o.gop, host)) return kExitFailure;
            // The same request the window makes for the GOP under its slider:
            // an entry without a PID is asked for with the stream's video PID.
            const auto request = previewRequest(state, *o.gop, PictureOptions{});
            pos = request ? request->position : INT64_MAX;
            if (videoPid < 0 && request) videoPid = request->videoPid;
        } else if (videoPid < 0) {
            videoPid = state.streamVideoPid != 0xFFFF ? state.streamVideoPid : state.gopList.front().pid;
        }
    }
    if (pos >= fileSize) {
        host.showMessage(
            "error",
            "position " + std::to_string(pos) + " is past the end of the file (" + std::to_string(fileSize) + " bytes)",
            MsgKind::Ok);
        return kExitFailure;
    }

    Capture cap;
    TavrelDecHost decHost{};
    decHost.user = &cap;
    decHost.draw = onDraw;
    decHost.postResize = onResize;
    decHost.frame = onFrame;
    SetHostCallbacks(&decHost);
    TavrelDecInit init{};
    init.path = o.file.c_str();
    init.windowMode = 0;
    TsOpen(&init);
    SetPackSize(geometry.size);
    TavrelDecRead rd{};
    rd.position = pos;
    rd.videoPid = int32_t(videoPid);
    rd.displayWidth = int32_t(o.width.value_or(0));
    rd.windowMode = 0;
    rd.aspectMode = std::stoi(o.aspect);
    rd.stretchQuality = std::stoi(o.grade);
    TsRead(&rd);
    TsClose();  // waits for the decode thread
    SetHostCallbacks(nullptr);

    if (!cap.drawn || (toY4m && !cap.haveFrame)) {
        char pidHex[8];
        std::snprintf(pidHex, sizeof pidHex, "%04X", static_cast<unsigned>(videoPid & 0xFFFF));
        host.showMessage("error", "no picture was decoded at byte " + std::to_string(pos) + " (PID " + pidHex + ")",
                         MsgKind::Ok);
        return kExitFailure;
    }
    WriteFailure failure;
    bool ok;
    if (toY4m) {
        ok = writeY4m(o.out, cap.yuv, &failure);
    } else {
        const RgbImage img = drawnImage(cap);
        ok = endsWith(o.out, ".png") ? writePng(o.out, img, &failure) : writeBmp(o.out, img, &failure);
    }
    if (!ok) {
        host.showFileError(failure.created ? kMsgWrite : kMsgOutputOpen, o.out, failure.err);
        return kExitFailure;
    }
    return host.errorCount() == 0 ? kExitOk : kExitFailure;
}

}  // namespace

Command addPreviewCommand(CLI::App& app) {
    auto o = std::make_shared<PreviewOptions>();
    CLI::App* sub = app.add_subcommand("preview", "decode the picture at a GOP or byte position");
    setCommandHelp(*sub,
                   "usage: tavrelcut-cli preview FILE (--gop N | --position BYTES) [--pid PID]\n"
                   "                             [--width W] [--aspect 9|0|3] [--grade 0|1|2] -o OUT",
                   "Decodes the first I picture at GOP N (position and PID from FILE's GOP list,\n"
                   "loaded or scanned) or at a byte position. OUT ending in .png or .bmp gets the\n"
                   "drawn picture at its display size (width W, 0 = coded size); .y4m gets the\n"
                   "decoded Y, Cb and Cr planes cropped to the picture size. OUT is written whole\n"
                   "or not at all.");
    auto* gop = addNumberOption(*sub, "--gop", o->gop, 0, INT32_MAX, "GOP index as 'gops' prints it");
    auto* position = addNumberOption(*sub, "--position", o->position, 0, INT64_MAX, "byte position in FILE");
    position->type_name("BYTES");
    gop->excludes(position);
    addPidOption(*sub, "--pid", o->pid, "video PID (hexadecimal; default: the GOP's or the recording's)");
    addNumberOption(*sub, "--width", o->width, 0, 16383, "display width, 0 = coded size (default)")->type_name("W");
    sub->add_option("--aspect", o->aspect, "9 = from the stream (default), 0 = 4:3, 3 = 16:9")
        ->check(CLI::IsMember({"9", "0", "3"}));
    sub->add_option("--grade", o->grade, "stretch quality: 0 = normal, 1 = low, 2 = high (default)")
        ->check(CLI::IsMember({"0", "1", "2"}));
    sub->add_option("-o", o->out, "picture file: .png, .bmp or .y4m")->type_name("OUT")->required();
    sub->add_option("FILE", o->file, "the recording")->required();
    sub->callback([o] {
        if (!o->gop && !o->position) throw CLI::RequiredError("--gop or --position");
    });
    return {sub, [o] { return runPreview(*o); }};
}

}  // namespace tavrel::cli
