// kivra-timing: the numbers behind bench/bench_preview.sh, each measured
// side by side in one run over the GOP starts of a recording.
//
//   kivra-timing preview FILE   TsRead until the draw callback, against
//                               libmpeg2 reading from the same byte position
//                               (one decoder, partially reset per GOP) with
//                               mpeg2convert_rgb24
//   kivra-timing reduced FILE   the reduced I picture against the full decode
//                               of the same GOP's first I picture (both read
//                               from the file), each round after one untimed
//                               read of the same kind: a scan reads GOP after
//                               GOP, while here the other kinds run between
//                               the rounds (the reader's helper has gone to
//                               sleep, the caches hold the others' data). The
//                               reduced reader's rounds without that read
//                               are printed beside them.
//
// Options: --reps N (rounds over the GOPs, default 7), --gops N (GOP starts
// used, default 12). Prints one line per figure: the medians over the rounds
// of the mean time per GOP, and the ratio.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dc_picture.h"
#include "decoder.h"
#include "demux.h"
#include "dsp.h"
#include "kivra.h"
#include "library_internal.h"
#include "output.h"
#include "ts_probe.h"

#ifdef KIVRA_TIMING_LIBMPEG2
extern "C" {
#include <mpeg2dec/mpeg2.h>
#include <mpeg2dec/mpeg2convert.h>
}
#endif

using namespace kivra;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t0, Clock::time_point t1) {
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Recording {
    std::string path;
    int packetSize = 0;
    int pid = -1;
    std::vector<int64_t> gops;
};

bool probe(const std::string& path, size_t maxGops, Recording& r) {
    r.path = path;
    const auto bytes = kivra_test::readFile(path);
    size_t start = 0;
    r.packetSize = kivra_test::probePacketSize(bytes, &start);
    if (r.packetSize == 0) return false;
    const std::vector<uint8_t> aligned(bytes.begin() + long(start), bytes.end());
    r.pid = kivra_test::probeVideoPid(aligned, r.packetSize);
    for (int64_t g : kivra_test::probeGopPackets(aligned, r.packetSize, r.pid))
        r.gops.push_back(int64_t(start) + g * r.packetSize);
    // The last GOP may end in the preview's unread tail.
    if (r.gops.size() > 1) r.gops.pop_back();
    if (r.gops.size() > maxGops) r.gops.resize(maxGops);
    return !r.gops.empty();
}

// --- Kivra: TsRead until the draw callback --------------------------------

std::atomic<int64_t> g_drawnAt{0};

void onDraw(void*, KivraWindow, const uint8_t*, const uint8_t*, int32_t, int32_t, int32_t) {
    g_drawnAt.store(Clock::now().time_since_epoch().count());
}
void onResize(void*, KivraWindow, KivraWindow, uint32_t) {}

struct KivraPreview {
    TavrelDecRead r{};
    explicit KivraPreview(const Recording& rec) {
        TavrelDecHost host{};
        host.draw = onDraw;
        host.postResize = onResize;
        SetHostCallbacks(&host);
        TavrelDecInit init{};
        init.path = rec.path.c_str();
        TsOpen(&init);
        SetPackSize(rec.packetSize);
        r.videoPid = rec.pid;
        r.displayWidth = 270;
        r.aspectMode = 9;
        r.position = rec.gops.front();
        TsRead(&r);  // sizes the stores, as the first GOP after opening does
        waitForDecode();
    }
    ~KivraPreview() {
        TsClose();
        SetHostCallbacks(nullptr);
    }
    // Milliseconds from TsRead to the draw callback; negative when nothing
    // was drawn.
    double read(int64_t pos) {
        g_drawnAt = 0;
        r.position = pos;
        const auto t0 = Clock::now();
        TsRead(&r);
        waitForDecode();
        const int64_t at = g_drawnAt.load();
        if (at == 0) return -1;
        return msSince(t0, Clock::time_point(Clock::duration(at)));
    }
};

#ifdef KIVRA_TIMING_LIBMPEG2
// --- libmpeg2: the same request -------------------------------------------

struct Libmpeg2Preview {
    mpeg2dec_t* dec = mpeg2_init();
    const mpeg2_info_t* info = mpeg2_info(dec);
    int fd = -1;
    int packetSize, pid;
    std::vector<uint8_t> block = std::vector<uint8_t>(Demux::kBlockSize);
    std::vector<uint8_t> es;
    explicit Libmpeg2Preview(const Recording& rec) : packetSize(rec.packetSize), pid(rec.pid) {
        fd = ::open(rec.path.c_str(), O_RDONLY);
        read(rec.gops.front());
    }
    ~Libmpeg2Preview() {
        mpeg2_close(dec);
        if (fd >= 0) ::close(fd);
    }
    // The video payload of one read block, packet by packet (as a player's
    // demultiplexer hands it over).
    bool feedBlock(int64_t& at) {
        const ssize_t n = pread(fd, block.data(), block.size(), at);
        if (n <= 0) return false;
        at += n;
        es.clear();
        const int pre = (packetSize == 192 || packetSize == 208) ? 4 : 0;
        for (ssize_t o = 0; o + packetSize <= n; o += packetSize) {
            const uint8_t* p = block.data() + o + pre;
            if (p[0] != 0x47 || (((p[1] & 0x1F) << 8) | p[2]) != pid || !(p[3] & 0x10)) continue;
            int off = 4;
            if (p[3] & 0x20) off += 1 + p[4];
            if (off >= 188) continue;
            if ((p[1] & 0x40) && off + 9 <= 188 && p[off] == 0 && p[off + 1] == 0 && p[off + 2] == 1 &&
                p[off + 3] == 0xE0)
                off += 9 + p[off + 8];
            if (off < 188) es.insert(es.end(), p + off, p + 188);
        }
        mpeg2_buffer(dec, es.data(), es.data() + es.size());
        return true;
    }
    double read(int64_t pos) {
        const auto t0 = Clock::now();
        mpeg2_reset(dec, 0);
        int64_t at = pos;
        bool sawI = false;
        for (;;) {
            const mpeg2_state_t s = mpeg2_parse(dec);
            if (s == STATE_BUFFER) {
                if (!feedBlock(at)) return -1;
                continue;
            }
            if (s == STATE_SEQUENCE) mpeg2_convert(dec, mpeg2convert_rgb24, nullptr);
            if (s == STATE_PICTURE && info->current_picture &&
                (info->current_picture->flags & PIC_MASK_CODING_TYPE) == PIC_FLAG_CODING_TYPE_I)
                sawI = true;
            if ((s == STATE_SLICE || s == STATE_END) && sawI && info->current_fbuf) {
                volatile uint8_t sink = info->current_fbuf->buf[0][0];
                (void)sink;
                return msSince(t0, Clock::now());
            }
        }
    }
};
#endif

// --- The reduced picture against the full I picture -----------------------

struct FullIPicture {
    std::unique_ptr<Demux> dm = std::make_unique<Demux>();
    BitReader br;
    Dsp dsp{};
    Decoder dec;
    RgbPicture rgb;
    int fd;
    explicit FullIPicture(const Recording& rec) {
        fd = ::open(rec.path.c_str(), O_RDONLY);
        dm->attachFd(fd);
        dm->setPacketSize(rec.packetSize);
        dm->setVideoPid(rec.pid);
        dm->setServeTail(true);
        initDsp(dsp, cpuMaskFromEnv());
        dec.setDsp(&dsp);
        dec.attach(&br);
    }
    ~FullIPicture() { ::close(fd); }
    double read(int64_t pos, bool convert) {
        const auto t0 = Clock::now();
        dm->seek(pos);
        dm->start();
        br.attach(dm.get());
        dec.beginRead();
        bool found = false;
        for (;;) {
            if (dec.readHeaders(-1) != Decoder::HeaderResult::Picture) return -1;
            if (!found && dec.picture().codingType != kPicI) continue;
            found = true;
            if (dec.decodePicture()) break;
        }
        if (convert) rgb.convert(dsp, dec.currentFrame(), dec.sequence(), dec.currentRecord());
        return msSince(t0, Clock::now());
    }
};

int usage() {
    std::fprintf(stderr, "usage: kivra-timing preview|reduced FILE [--reps N] [--gops N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string mode = argv[1];
    int reps = 7;
    size_t maxGops = 12;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--reps") == 0) {
            reps = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--gops") == 0) {
            maxGops = size_t(std::atoi(argv[i + 1]));
        } else {
            return usage();
        }
    }
    Recording rec;
    if (!probe(argv[2], maxGops, rec)) {
        std::fprintf(stderr, "kivra-timing: no GOPs in %s\n", argv[2]);
        return 1;
    }
    // Mean milliseconds per GOP of one round; < 0 when a read failed.
    auto round = [&](auto&& one, bool warm = false) {
        double sum = 0;
        if (warm && one(rec.gops.back()) < 0) return -1.0;
        for (int64_t g : rec.gops) {
            const double t = one(g);
            if (t < 0) return -1.0;
            sum += t;
        }
        return sum / double(rec.gops.size());
    };
    if (mode == "preview") {
#ifdef KIVRA_TIMING_LIBMPEG2
        KivraPreview kv(rec);
        Libmpeg2Preview lm(rec);
        std::vector<double> k, l;
        for (int i = 0; i < reps; ++i) {
            k.push_back(round([&](int64_t g) { return kv.read(g); }));
            l.push_back(round([&](int64_t g) { return lm.read(g); }));
            if (k.back() < 0 || l.back() < 0) {
                std::fprintf(stderr, "kivra-timing: a GOP gave no picture\n");
                return 1;
            }
        }
        std::printf("preview %zu GOPs: Kivra %.3f ms, libmpeg2 %.3f ms, ratio %.3f\n", rec.gops.size(), median(k),
                    median(l), median(k) / median(l));
        return 0;
#else
        std::fprintf(stderr, "kivra-timing: built without libmpeg2\n");
        return 1;
#endif
    }
    if (mode == "reduced") {
        // The reader as the program uses it (two threads on two cores), and
        // on one thread as the full decode it is compared with.
        DcPictureReader reader, single;
        if (!reader.open(rec.path, rec.packetSize, rec.pid) || !single.open(rec.path, rec.packetSize, rec.pid))
            return 1;
        single.setThreads(1);
        DcPicture pic;
        FullIPicture full(rec);
        std::vector<double> d, cold, d1, f, fc;
        auto timed = [&](DcPictureReader& r, int64_t g) {
            const auto t0 = Clock::now();
            if (r.read(g, pic) != DcResult::Picture) return -1.0;
            return msSince(t0, Clock::now());
        };
        for (int i = 0; i < reps; ++i) {
            cold.push_back(round([&](int64_t g) { return timed(reader, g); }));
            d.push_back(round([&](int64_t g) { return timed(reader, g); }, true));
            d1.push_back(round([&](int64_t g) { return timed(single, g); }, true));
            f.push_back(round([&](int64_t g) { return full.read(g, false); }, true));
            fc.push_back(round([&](int64_t g) { return full.read(g, true); }, true));
            if (cold.back() < 0 || d.back() < 0 || d1.back() < 0 || f.back() < 0) return 1;
        }
        std::printf(
            "reduced %zu GOPs (%dx%d): reduced %.3f ms, full I picture %.3f ms (ratio %.3f), with RGB %.3f ms "
            "(ratio %.3f); reduced on one thread %.3f ms (ratio %.3f); rounds without a read before: reduced %.3f ms "
            "(ratio %.3f)\n",
            rec.gops.size(), pic.width, pic.height, median(d), median(f), median(d) / median(f), median(fc),
            median(d) / median(fc), median(d1), median(d1) / median(f), median(cold), median(cold) / median(f));
        return 0;
    }
    return usage();
}
