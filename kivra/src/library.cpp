// The exported interface: one open stream, one decode thread at a time.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "decoder.h"
#include "demux.h"
#include "dsp.h"
#include "helper_thread.h"
#include "kivra.h"
#include "library_internal.h"
#include "output.h"
#include "trace.h"

namespace kivra {

namespace {

struct Library {
    // Serialises TsOpen, TsRead and TsClose: the program calls TsRead from
    // its UI thread and from its GOP scan worker, and both wait for (join)
    // the same decode thread.
    std::mutex apiMu;
    // Guards the converted picture, the draw state and the display fields of
    // the last request: the decode thread and UpdateVideo both draw.
    std::mutex outMu;
    TavrelDecHost host{};

    int fd = -1;
    int64_t fileLength = 0;
    int64_t endGuard = 0;
    std::atomic<int> packetSize{0};
    int simd = 1;
    unsigned cpuMask = kCpuAll;
    bool cpuMaskForced = false;
    int64_t maxPixels = int64_t(8192) * 8192;

    KivraWindow notifyWindow = nullptr, previewWindow = nullptr, outWindow = nullptr;
    KivraWindow drawingWindow = nullptr;
    TavrelDecRead last{};

    std::thread thread;
    int threadsWanted = 0;  // setDecodeThreads
    int threads = 1;        // of this TsOpen
    HelperThread helper;
    std::unique_ptr<Decoder> helperDecoder;
    std::vector<uint8_t> pictureData;     // an I picture's slices, for the split decode
    std::vector<uint32_t> pictureSlices;  // where each of them starts
    std::unique_ptr<Decoder> decoder;
    std::unique_ptr<Demux> demux;
    BitReader br;
    Dsp dsp{};
    RgbPicture rgb;
    bool pictureReady = false;

    // Kept across TsClose: the first draw after load always asks for a resize.
    int prevWidth = 0, prevHeight = 0, prevAspect = 0;
    bool redraw = false;
    ReadStats stats;
};

// Set on the decode thread: a host callback calling back into TsRead or
// TsClose would wait for its own thread.
thread_local bool t_onDecodeThread = false;

Library& lib() {
    static Library* L = new Library;  // never destroyed: a detached host may call late
    return *L;
}

// Caller holds outMu.
void drawLocked(Library& L) {
    if (L.decoder == nullptr || !L.pictureReady || !L.rgb.valid()) return;
    const int cw = L.rgb.codedWidth(), ch = L.rgb.codedHeight(), aspect = L.rgb.aspectCode();
    bool request = false;
    if (cw != L.prevWidth || ch != L.prevHeight || aspect != L.prevAspect) {
        L.prevWidth = cw;
        L.prevHeight = ch;
        L.prevAspect = aspect;
        request = true;
    } else if (L.redraw) {
        L.redraw = false;
        request = true;
    }
    const int w = L.last.displayWidth;
    const int dh = displayHeight(w, L.last.aspectMode, aspect);
    if (request) {
        ++L.stats.resizeRequests;
        if (L.host.postResize) {
            ResizeRequest rr = resizeFor(L.last.windowMode, w, dh, cw, ch, L.host.dialogFrameWidth);
            L.host.postResize(L.host.user, L.notifyWindow, L.drawingWindow, rr.packed());
        }
    }
    ++L.stats.draws;
    if (L.host.draw) {
        if (w == 0) {
            L.host.draw(L.host.user, L.drawingWindow, L.rgb.header(), L.rgb.pixels(), KIVRA_UNSCALED, KIVRA_UNSCALED,
                        KIVRA_STRETCH_NONE);
        } else {
            L.host.draw(L.host.user, L.drawingWindow, L.rgb.header(), L.rgb.pixels(), w, dh,
                        stretchModeFor(L.last.stretchQuality, w, cw));
        }
    }
}

void outputPicture(Library& L) {
    Decoder& d = *L.decoder;
    if (d.fault() >= 50) return;
    d.clearFault();
    std::lock_guard<std::mutex> lock(L.outMu);
    const SequenceState& s = d.sequence();
    const FrameStore& f = d.currentFrame();
    // The host reads the planes by what they were allocated for: the
    // sequence state must still describe them.
    if (f.plane[0] == nullptr || f.width != s.codedWidth || f.height != s.codedHeight ||
        f.chromaFormat != s.chromaFormat || s.horizontalSize > f.width || s.verticalSize > f.height) {
        KIVRA_TRACE("frame stores do not match the sequence: nothing drawn\r\n");
        return;
    }
    if (L.host.frame) {
        TavrelDecFrame fr{};
        for (int i = 0; i < 3; ++i) {
            fr.planes[i] = f.plane[i];
            fr.strides[i] = i == 0 ? f.width : f.chromaWidth;
        }
        fr.codedWidth = f.width;
        fr.codedHeight = f.height;
        fr.width = s.horizontalSize;
        fr.height = s.verticalSize;
        fr.chromaFormat = f.chromaFormat;
        fr.aspectRatioCode = s.aspectRatio;
        fr.progressiveFrame = d.currentRecord().progressiveFrame;
        L.host.frame(L.host.user, &fr);
    }
    L.pictureReady = L.rgb.begin(f, s);
    if (L.pictureReady) {
        // The lower half of the lines on the helper, when there is one.
        const int half = (f.height / 2) & ~1;
        const PictureRecord& rec = d.currentRecord();
        if (L.threads > 1 && half > 0 &&
            L.helper.post([&L, &f, &rec, half] { L.rgb.convertRows(L.dsp, f, rec, half, f.height, 1); })) {
            L.rgb.convertRows(L.dsp, f, rec, 0, half, 0);
            L.helper.wait();
            L.stats.splitConvert = true;
        } else {
            L.rgb.convertRows(L.dsp, f, rec, 0, f.height, 0);
        }
        L.rgb.finish();
        drawLocked(L);
    }
}

// Decodes the I frame picture whose headers were just read with its slices
// split between the decode thread (upper rows) and the helper (lower rows),
// at a slice boundary near the middle of the data. Pictures whose slices do
// not come row by row are decoded in one piece.
bool decodeSplit(Library& L, Decoder& d) {
    std::vector<uint8_t>& buf = L.pictureData;
    std::vector<uint32_t>& starts = L.pictureSlices;
    buf.clear();
    starts.clear();
    if (!d.collectSlices(buf, &starts)) return false;  // the source stopped: the caller ends the read
    const uint8_t* p = buf.data();
    const size_t n = buf.size();
    int splitRow = -1;
    size_t splitAt = 0;
    const bool ordered = findSliceSplit(buf, starts, splitRow, splitAt);
    d.beginPicture();
    if (!ordered || splitRow < 0) {
        d.decodeSlicesIn(p, p + n, INT_MAX);
        return d.endPicture();
    }
    if (!L.helperDecoder) L.helperDecoder = std::make_unique<Decoder>();
    Decoder& h = *L.helperDecoder;
    h.borrowPicture(d);
    if (!L.helper.post([&h, p, n, splitAt] { h.decodeSlicesIn(p + splitAt, p + n, INT_MAX); })) {
        d.decodeSlicesIn(p, p + n, INT_MAX);
        return d.endPicture();
    }
    d.decodeSlicesIn(p, p + splitAt, splitRow * d.sequence().mbWidth);
    L.helper.wait();
    {
        std::lock_guard<std::mutex> lock(L.outMu);
        L.stats.splitDecode = true;
    }
    return d.endPicture();
}

void decodeThread(int64_t position, int videoPid) {
    t_onDecodeThread = true;
    Library& L = lib();
    Decoder& d = *L.decoder;
    Demux& dm = *L.demux;
    BitReader& br = L.br;
    d.beginRead();
    dm.setVideoPid(videoPid);
    // A program stream (a pack header at the position) is read as plain
    // bytes; the served-bytes check below alone would never see the pack
    // header, since with transport parsing on only video payload is served.
    uint8_t head[4] = {};
    const bool pack = L.fd >= 0 && pread(L.fd, head, 4, position) == 4 && head[0] == 0 && head[1] == 0 &&
                      head[2] == 1 && head[3] == 0xBA;
    dm.setTransport(!pack);
    {
        std::lock_guard<std::mutex> lock(L.outMu);
        L.stats = ReadStats{};
    }
    auto finish = [&] {
        std::lock_guard<std::mutex> lock(L.outMu);
        L.stats.packets = dm.packetCount();
        L.stats.fault = d.fault();
        L.stats.stop = static_cast<int>(dm.stop());
    };

    // First request after TsOpen: find a sequence header to size the stores.
    if (!d.initialised()) {
        dm.seek(position);
        dm.start();
        br.attach(&dm);
        for (;;) {
            if (!br.nextStartCode()) return finish();
            const uint32_t code = br.get(32);
            if (code == 0x1B3) {
                if (d.parseSequenceHeader()) break;
            } else if (code == 0x1BA) {
                dm.setTransport(false);  // a program stream: read the bytes as they are
            }
        }
    }
    dm.seek(position);
    dm.start();
    br.attach(&dm);

    bool found = false;
    for (;;) {
        if (d.readHeaders(L.endGuard) != Decoder::HeaderResult::Picture) return finish();
        const PictureState& p = d.picture();
        if (!found) {
            if (p.codingType != kPicI) continue;
            found = true;
        } else if (p.codingType == kPicB && d.secondFieldPending()) {
            continue;
        }
        if (!d.canDecode()) {  // MPEG-1, 4:4:4 or no stores
            KIVRA_TRACE("picture not decoded: %s\r\n", d.cannotDecodeReason());
            return finish();
        }
        const bool complete = L.threads > 1 && d.splittable() ? decodeSplit(L, d) : d.decodePicture();
        if (br.dead()) return finish();
        if (complete) {
            outputPicture(L);
            {
                std::lock_guard<std::mutex> lock(L.outMu);
                L.stats.drawn = L.pictureReady;
            }
            return finish();
        }
    }
}

void joinThread(Library& L, bool& failed) {
    failed = false;
    if (t_onDecodeThread) {
        failed = true;  // called from a host callback on the decode thread
        return;
    }
    if (!L.thread.joinable()) return;
    try {
        L.thread.join();
    } catch (const std::system_error&) {
        failed = true;
    }
}

void closeLocked(Library& L) {
    {
        std::lock_guard<std::mutex> lock(L.outMu);
        L.rgb.release();
        L.pictureReady = false;
    }
    if (L.fd >= 0) {
        ::close(L.fd);
        L.fd = -1;
    }
    if (L.decoder) {
        for (int i = 0; i < 8; ++i)
            KIVRA_TRACE("block[%d] = %llX Clear\r\n", i,
                        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(L.decoder->blockAddress(i))));
        L.decoder.reset();
    }
    L.helper.stop();
    L.helperDecoder.reset();
    L.pictureData = std::vector<uint8_t>();
    L.pictureSlices = std::vector<uint32_t>();
    if (L.demux) L.demux->setTransport(false);
    L.drawingWindow = nullptr;
}

}  // namespace

void setCpuMaskOverride(unsigned mask) {
    Library& L = lib();
    L.cpuMask = mask;
    L.cpuMaskForced = true;
}

void setMaxPicturePixels(int64_t px) { lib().maxPixels = px; }

void setDecodeThreads(int threads) { lib().threadsWanted = threads; }

ReadStats lastReadStats() {
    Library& L = lib();
    std::lock_guard<std::mutex> lock(L.outMu);
    return L.stats;
}

bool waitForDecode() {
    if (t_onDecodeThread) return false;
    Library& L = lib();
    std::lock_guard<std::mutex> api(L.apiMu);
    bool failed;
    joinThread(L, failed);
    return !failed;
}

}  // namespace kivra

using namespace kivra;

extern "C" {

KIVRA_API int SetHostCallbacks(const TavrelDecHost* host) {
    Library& L = lib();
    std::lock_guard<std::mutex> lock(L.outMu);
    if (host == nullptr) {
        L.host = TavrelDecHost{};
        return -1;
    }
    L.host = *host;
    return 1;
}

KIVRA_API int SetPackSize(int size) {
    if (size <= 0) size = 188;
    lib().packetSize.store(size, std::memory_order_relaxed);
    KIVRA_TRACE("\xE2\x96\xA0 Packet Size = [%3d]\r\n", size);
    return 1;
}

KIVRA_API int TsOpen(const TavrelDecInit* init) {
    if (init == nullptr) return -1;
    if (t_onDecodeThread) return 0;
    Library& L = lib();
    std::lock_guard<std::mutex> api(L.apiMu);
    bool failed;
    joinThread(L, failed);
    if (failed) return 0;
    closeLocked(L);  // a second TsOpen without TsClose must not leak the first

    L.simd = simdLevel();
    {
        const unsigned cores = std::thread::hardware_concurrency();
        L.threads = L.threadsWanted > 0 ? L.threadsWanted : (cores >= 2 ? 2 : 1);
        if (L.threads > 2) L.threads = 2;
    }
    const unsigned mask = L.cpuMaskForced ? L.cpuMask : cpuMaskFromEnv();
    initDsp(L.dsp, mask);
    if (!L.demux) L.demux = std::make_unique<Demux>();
    L.demux->setPacketSizeSource(&L.packetSize);
    L.decoder = std::make_unique<Decoder>();
    L.decoder->setDsp(&L.dsp);
    L.decoder->attach(&L.br);
    L.decoder->setMaxPixels(L.maxPixels);
    L.decoder->setHugePages(false);  // a GOP's first picture: hardly a reference read
    L.redraw = false;

    L.fd = -1;
    L.fileLength = 0;
    if (init->path != nullptr) {
        L.fd = ::open(init->path, O_RDONLY | O_CLOEXEC);
        if (L.fd >= 0) {
            struct stat st {};
            if (fstat(L.fd, &st) == 0) L.fileLength = st.st_size;
            posix_fadvise(L.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        }
    }
    L.demux->attachFd(L.fd);
    constexpr int64_t B = static_cast<int64_t>(Demux::kBlockSize);
    L.endGuard = (L.fileLength / B) * B - B;

    L.notifyWindow = init->notifyWindow;
    L.previewWindow = init->previewWindow;
    L.outWindow = init->outWindow;
    L.drawingWindow = init->windowMode == 1 ? init->outWindow : init->previewWindow;
    {
        std::lock_guard<std::mutex> lock(L.outMu);
        L.last = TavrelDecRead{};
        L.last.windowMode = init->windowMode;
    }
    for (int i = 0; i < 8; ++i)
        KIVRA_TRACE("block[%d] = %llX ( %d )\r\n", i,
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(L.decoder->blockAddress(i))), 128);
    return L.simd;
}

KIVRA_API int TsRead(const TavrelDecRead* r) {
    if (r == nullptr) return -1;
    if (t_onDecodeThread) return 0;  // the wait for the decode thread would fail
    Library& L = lib();
    std::lock_guard<std::mutex> api(L.apiMu);
    bool failed;
    joinThread(L, failed);
    if (failed) return 0;
    {
        std::lock_guard<std::mutex> lock(L.outMu);
        const bool widthChanged = r->displayWidth != L.last.displayWidth;
        L.last = *r;
        if (r->windowMode == 1) {
            if (L.drawingWindow != L.outWindow) {
                L.drawingWindow = L.outWindow;
                L.redraw = true;
            } else if (widthChanged) {
                L.redraw = true;
            }
        } else if (r->windowMode == 0) {
            if (L.drawingWindow != L.previewWindow) {
                L.drawingWindow = L.previewWindow;
                L.redraw = true;
            }
        }
    }
    if (!L.decoder || L.fd < 0) return 1;  // nothing to decode: no picture
    try {
        L.thread = std::thread(decodeThread, r->position, r->videoPid);
    } catch (const std::system_error&) {
        return 0;
    }
    return 1;
}

KIVRA_API int UpdateVideo(const TavrelDecRead* r) {
    if (r == nullptr) return -1;
    Library& L = lib();
    {
        std::lock_guard<std::mutex> lock(L.outMu);
        if (r->displayWidth != L.last.displayWidth || r->aspectMode != L.last.aspectMode) L.redraw = true;
        L.last.displayWidth = r->displayWidth;
        L.last.stretchQuality = r->stretchQuality;
        L.last.aspectMode = r->aspectMode;
        drawLocked(L);
    }
    KIVRA_TRACE("UpdateVideo\r\n");
    return 1;
}

KIVRA_API int TsClose(void) {
    if (t_onDecodeThread) return 1;  // the wait fails: only the handle would be closed
    Library& L = lib();
    std::lock_guard<std::mutex> api(L.apiMu);
    bool failed;
    joinThread(L, failed);
    if (failed) return 1;
    closeLocked(L);
    return 1;
}

}  // extern "C"
