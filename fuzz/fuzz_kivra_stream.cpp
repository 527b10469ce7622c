// Arbitrary bytes as the recording, through TsOpen / SetPackSize / TsRead /
// UpdateVideo / TsClose. The first byte picks the packet size, the read
// position, the PID and the display settings; the file is padded past the
// end guard so pictures can be drawn (see below). A host frame hook reads
// the planes by the size the frame reports.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kivra.h"
#include "library_internal.h"

namespace {

void draw(void*, KivraWindow, const uint8_t* h, const uint8_t* px, int32_t, int32_t, int32_t) {
    // Touch the first and last pixel like a real draw would.
    const uint32_t size = uint32_t(h[20] | h[21] << 8 | h[22] << 16 | uint32_t(h[23]) << 24);
    volatile uint8_t sink = px[0];
    sink = px[size - 1];
    (void)sink;
}
void resize(void*, KivraWindow, KivraWindow, uint32_t) {}
// Reads every sample the frame claims to have, like a host copying the
// planes out: a size larger than the planes shows up under ASan.
void frame(void*, const TavrelDecFrame* f) {
    if (f->width <= 0 || f->height <= 0) return;
    unsigned sum = 0;
    const int cw = (f->width + 1) / 2, ch = f->chromaFormat == 1 ? (f->height + 1) / 2 : f->height;
    for (int y = 0; y < f->height; ++y) {
        sum += f->planes[0][size_t(y) * f->strides[0]];
        sum += f->planes[0][size_t(y) * f->strides[0] + size_t(f->width) - 1];
    }
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < ch; ++y) {
            sum += f->planes[p][size_t(y) * f->strides[p]];
            sum += f->planes[p][size_t(y) * f->strides[p] + size_t(cw) - 1];
        }
    volatile unsigned sink = sum;
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = [] {
        kivra::setMaxPicturePixels(int64_t(1920) * 1088 * 2);
        TavrelDecHost host{};
        host.draw = draw;
        host.postResize = resize;
        host.frame = frame;
        host.dialogFrameWidth = 3;
        SetHostCallbacks(&host);
        return true;
    }();
    (void)once;
    const int fd = memfd_create("kivra-fuzz", 0);
    if (fd < 0) return 0;
    std::vector<uint8_t> file(data, data + size);
    // Inputs of odd length get two read blocks of padding, so every picture
    // in them lies before the end guard (the seeds are made that way); even
    // lengths are padded to three blocks only, so the guard ends some reads.
    if (size % 2 == 1) {
        file.resize(file.size() + 2 * 36096, 0xFF);
    } else if (file.size() < 3 * 36096) {
        file.resize(3 * 36096, 0xFF);
    }
    if (write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size())) {
        close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const uint8_t sel = size > 0 ? data[0] : 0;
    static const int kSizes[4] = {188, 192, 204, 208};
    TavrelDecInit init{};
    init.path = path.c_str();
    init.windowMode = sel >> 7;
    TsOpen(&init);
    SetPackSize(kSizes[sel & 3]);
    TavrelDecRead r{};
    r.position = (sel >> 2) & 1 ? 188 : 0;
    // Mostly the PID the sample streams use; sometimes one from the input.
    r.videoPid = (sel & 0x40) && size > 2 ? (((data[1] & 0x1F) << 8) | data[2]) : 0x100;
    r.displayWidth = (sel >> 3) & 1 ? 270 : 0;
    r.windowMode = init.windowMode;
    r.aspectMode = 9;
    r.stretchQuality = (sel >> 4) & 3;
    TsRead(&r);
    TsRead(&r);  // the second read starts with initialised stores
    // A third read further on: after a sequence change in joined recordings
    // the stores must follow the new sequence.
    r.position = static_cast<int64_t>(size / 2) / 188 * 188;
    TsRead(&r);
    UpdateVideo(&r);
    TsClose();
    close(fd);
    return 0;
}
