// Arbitrary bytes as the recording, through TsOpen / SetPackSize / TsRead /
// UpdateVideo / TsClose. The first byte picks the packet size, the read
// position, the PID and the display settings; the file is padded past the
// end guard so pictures can be drawn.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = [] {
        kivra::setMaxPicturePixels(int64_t(1920) * 1088 * 2);
        TavrelDecHost host{};
        host.draw = draw;
        host.postResize = resize;
        host.dialogFrameWidth = 3;
        SetHostCallbacks(&host);
        return true;
    }();
    (void)once;
    const int fd = memfd_create("kivra-fuzz", 0);
    if (fd < 0) return 0;
    std::vector<uint8_t> file(data, data + size);
    if (file.size() < 3 * 36096) file.resize(3 * 36096, 0xFF);
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
    UpdateVideo(&r);
    TsClose();
    close(fd);
    return 0;
}
