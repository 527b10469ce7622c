#include "preview_host.h"

namespace kivra_test {

RecordingHost::RecordingHost(int dialogFrameWidth, bool keepPixels)
    : m_frameWidth(dialogFrameWidth), m_keepPixels(keepPixels) {}

RecordingHost::~RecordingHost() { SetHostCallbacks(nullptr); }

void RecordingHost::install() {
    TavrelDecHost h{};
    h.user = this;
    h.draw = &RecordingHost::draw;
    h.postResize = &RecordingHost::resize;
    h.frame = &RecordingHost::frame;
    h.dialogFrameWidth = m_frameWidth;
    SetHostCallbacks(&h);
}

void RecordingHost::draw(void* u, KivraWindow w, const uint8_t* hdr, const uint8_t* px, int32_t dw, int32_t dh,
                         int32_t mode) {
    auto* self = static_cast<RecordingHost*>(u);
    if (self->onDraw) self->onDraw(self->onDrawCtx);
    DrawCall c;
    c.window = w;
    c.header.assign(hdr, hdr + 40);
    c.codedWidth = int(hdr[4] | hdr[5] << 8 | hdr[6] << 16);
    c.codedHeight = int(hdr[8] | hdr[9] << 8 | hdr[10] << 16);
    c.destWidth = dw;
    c.destHeight = dh;
    c.mode = mode;
    if (self->m_keepPixels) c.pixels.assign(px, px + size_t(c.codedWidth) * c.codedHeight * 3);
    std::lock_guard<std::mutex> lock(self->m_mu);
    self->m_draws.push_back(std::move(c));
}

void RecordingHost::resize(void* u, KivraWindow n, KivraWindow w, uint32_t packed) {
    auto* self = static_cast<RecordingHost*>(u);
    std::lock_guard<std::mutex> lock(self->m_mu);
    self->m_resizes.push_back(ResizeCall{n, w, int(packed >> 16), int(packed & 0xFFFF)});
}

void RecordingHost::frame(void* u, const TavrelDecFrame* f) {
    auto* self = static_cast<RecordingHost*>(u);
    const int strides[3] = {f->strides[0], f->strides[1], f->strides[2]};
    YuvFrame y = cropFrame(f->planes, strides, f->width, f->height, f->chromaFormat);
    std::lock_guard<std::mutex> lock(self->m_mu);
    self->m_frames.push_back(std::move(y));
}

std::vector<DrawCall> RecordingHost::draws() const {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_draws;
}
std::vector<ResizeCall> RecordingHost::resizes() const {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_resizes;
}
std::vector<YuvFrame> RecordingHost::frames() const {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_frames;
}
void RecordingHost::clear() {
    std::lock_guard<std::mutex> lock(m_mu);
    m_draws.clear();
    m_resizes.clear();
    m_frames.clear();
}

PreviewResult previewOnce(const std::string& path, int packetSize, int pid, int64_t position, int displayWidth) {
    RecordingHost host;
    host.install();
    TavrelDecInit init{};
    init.path = path.c_str();
    TsOpen(&init);
    SetPackSize(packetSize);
    TavrelDecRead rd{};
    rd.position = position;
    rd.videoPid = pid;
    rd.displayWidth = displayWidth;
    TsRead(&rd);
    TsClose();
    PreviewResult r;
    r.draws = host.draws();
    auto frames = host.frames();
    r.drawn = !r.draws.empty() && !frames.empty();
    if (!frames.empty()) r.frame = frames.back();
    return r;
}

}  // namespace kivra_test
