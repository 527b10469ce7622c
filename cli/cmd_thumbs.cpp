// "thumbs": a contact sheet of a recording. Every N-th GOP's first I picture
// is read at 1/8 of its size from its DC coefficients (Kivra's reduced-picture
// reader, one reader for the whole file) and the pictures are laid out in
// rows of eight, in GOP order, into one PNG.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "dc_picture.h"
#include "edit_state.h"
#include "image_writers.h"
#include "inputs.h"
#include "navigation.h"
#include "output_file.h"
#include "terminal_host.h"

namespace tavrel::cli {

namespace {

constexpr int kColumns = 8;
constexpr int kGap = 4;              // pixels between and around the pictures
constexpr uint8_t kBackground = 32;  // dark grey

struct ThumbsOptions {
    std::string file, out;
    std::optional<int64_t> every;
};

struct Tile {
    int64_t gop = 0;
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // empty: no picture at this GOP
};

RgbImage layOut(const std::vector<Tile>& tiles) {
    int tw = 0, th = 0;
    for (const Tile& t : tiles) {
        tw = std::max(tw, t.width);
        th = std::max(th, t.height);
    }
    const int cols = std::min<int>(kColumns, static_cast<int>(tiles.size()));
    const int rows = (static_cast<int>(tiles.size()) + kColumns - 1) / kColumns;
    RgbImage img;
    img.width = cols * (tw + kGap) + kGap;
    img.height = rows * (th + kGap) + kGap;
    img.rgb.assign(size_t(img.width) * img.height * 3, kBackground);
    for (size_t i = 0; i < tiles.size(); ++i) {
        const Tile& t = tiles[i];
        const int x0 = kGap + static_cast<int>(i % kColumns) * (tw + kGap);
        const int y0 = kGap + static_cast<int>(i / kColumns) * (th + kGap);
        for (int y = 0; y < t.height && !t.rgb.empty(); ++y)
            std::copy_n(&t.rgb[size_t(y) * t.width * 3], size_t(t.width) * 3,
                        &img.rgb[(size_t(y0 + y) * img.width + x0) * 3]);
    }
    return img;
}

int runThumbs(const ThumbsOptions& o) {
    const std::string& out = o.out;
    if (out.size() < 4 || out.compare(out.size() - 4, 4, ".png") != 0) {
        std::fprintf(stderr, "tavrelcut-cli thumbs: -o: OUT must end in .png\n");
        return kExitUsage;
    }
    TerminalHost host(false);
    host.setSubject(o.file);
    if (!checkRecording(o.file, host)) return kExitFailure;
    if (sameFile(out, o.file)) {
        showOutputCreateError(host, out, kErrSameAsInput);
        return kExitFailure;
    }
    EditState state;
    state.inputPath = o.file;
    if (!obtainToolGopList(state, host)) return kExitFailure;

    const int64_t every = o.every.value_or(1);
    kivra::DcPictureReader reader;
    std::vector<Tile> tiles;
    int pictures = 0;
    int openPid = -1;
    for (int64_t g = 0; g < static_cast<int64_t>(state.gopList.size()); g += every) {
        const auto request = previewRequest(state, g, PictureOptions{});
        if (!request) continue;  // the LAST entry
        if (openPid < 0) {
            if (!reader.open(o.file, state.geometry.size, request->videoPid)) {
                host.showFileError(kMsgInputOpen, o.file, errno);
                return kExitFailure;
            }
            openPid = request->videoPid;
        } else if (request->videoPid != openPid) {
            reader.setVideoPid(request->videoPid);
            openPid = request->videoPid;
        }
        Tile t;
        t.gop = g;
        kivra::DcPicture pic;
        if (reader.read(request->position, pic) == kivra::DcResult::Picture) {
            kivra::dcPictureToRgb(pic, t.rgb);
            t.width = pic.width;
            t.height = pic.height;
            ++pictures;
        } else {
            std::fprintf(stderr, "note: no picture at GOP %lld\n", static_cast<long long>(g));
        }
        tiles.push_back(std::move(t));
    }
    if (pictures == 0) {
        host.showMessage("error", "no picture was decoded in " + o.file, MsgKind::Ok);
        return kExitFailure;
    }
    WriteFailure failure;
    if (!writePng(out, layOut(tiles), &failure)) {
        host.showFileError(failure.created ? kMsgWrite : kMsgOutputOpen, out, failure.err);
        return kExitFailure;
    }
    std::printf("%d pictures\n", pictures);
    return host.errorCount() == 0 ? kExitOk : kExitFailure;
}

}  // namespace

Command addThumbsCommand(CLI::App& app) {
    auto o = std::make_shared<ThumbsOptions>();
    CLI::App* sub = app.add_subcommand("thumbs", "write a contact sheet of the recording's GOPs");
    setCommandHelp(*sub, "usage: tavrelcut-cli thumbs FILE -o OUT.png [--every N]",
                   "Shows a recording at a glance: the first I picture of every N-th GOP (every\n"
                   "GOP by default) at 1/8 of its size, eight to a row in GOP order, in one PNG.\n"
                   "The GOP list is loaded or scanned as for 'gops'. Prints the number of\n"
                   "pictures; a GOP without a picture leaves its place empty.");
    addNumberOption(*sub, "--every", o->every, 1, INT32_MAX, "take every N-th GOP (default 1)")->type_name("N");
    sub->add_option("-o", o->out, "the contact sheet (.png)")->type_name("OUT")->required();
    sub->add_option("FILE", o->file, "the recording")->required();
    return {sub, [o] { return runThumbs(*o); }};
}

}  // namespace tavrel::cli
