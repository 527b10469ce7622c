// Kivra against libmpeg2 on the same HD I picture (decode plus conversion to
// 24-bit RGB), and the time from TsRead to the picture handed to the host's
// draw callback. Run with --benchmark_repetitions=N for medians.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "decoder.h"
#include "demux.h"
#include "dsp.h"
#include "kivra.h"
#include "library_internal.h"
#include "output.h"

#ifdef KIVRA_BENCH_LIBMPEG2
extern "C" {
#include <mpeg2dec/mpeg2.h>
#include <mpeg2dec/mpeg2convert.h>
}
#endif

namespace {

std::vector<uint8_t> readFile(const char* path) {
    std::vector<uint8_t> v;
    FILE* f = std::fopen(path, "rb");
    if (!f) return v;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + n);
    std::fclose(f);
    return v;
}

// The elementary stream from the first sequence header to the end of the
// first I picture.
const std::vector<uint8_t>& firstIPicture() {
    static const std::vector<uint8_t> es = [] {
        const auto ts = readFile(KIVRA_BENCH_STREAM);
        std::vector<uint8_t> all;
        for (size_t at = 0; at + 188 <= ts.size(); at += 188) {
            const uint8_t* p = &ts[at];
            if (p[0] != 0x47 || (((p[1] & 0x1F) << 8) | p[2]) != 0x100 || !(p[3] & 0x10)) continue;
            int off = 4;
            if (p[3] & 0x20) off += 1 + p[4];
            if (off >= 188) continue;
            if ((p[1] & 0x40) && p[off] == 0 && p[off + 1] == 0 && p[off + 2] == 1 && p[off + 3] == 0xE0)
                off += 9 + p[off + 8];
            all.insert(all.end(), p + off, p + 188);
        }
        size_t pictures = 0, end = all.size();
        for (size_t i = 0; i + 4 <= all.size(); ++i)
            if (all[i] == 0 && all[i + 1] == 0 && all[i + 2] == 1 && all[i + 3] == 0x00 && ++pictures == 2) {
                end = i;
                break;
            }
        return std::vector<uint8_t>(all.begin(), all.begin() + long(end));
    }();
    return es;
}

void BM_KivraDecodeIPictureToRgb(benchmark::State& state) {
    using namespace kivra;
    const auto& es = firstIPicture();
    Dsp dsp;
    initDsp(dsp, state.range(0) ? kCpuAll : 0u);
    auto dm = std::make_unique<Demux>();
    BitReader br;
    Decoder dec;
    dec.setDsp(&dsp);
    dec.attach(&br);
    RgbPicture rgb;
    for (auto _ : state) {
        dm->attachMemory(es.data(), es.size());
        dm->setTransport(false);
        dm->setServeTail(true);
        dm->seek(0);
        dm->start();
        br.attach(dm.get());
        br.setStrictStop(false);
        if (dec.readHeaders(-1) != Decoder::HeaderResult::Picture || !dec.decodePicture()) {
            state.SkipWithError("no picture");
            break;
        }
        rgb.convert(dsp, dec.currentFrame(), dec.sequence(), dec.currentRecord());
        benchmark::DoNotOptimize(rgb.pixels()[0]);
    }
    state.counters["width"] = dec.sequence().codedWidth;
    state.counters["height"] = dec.sequence().codedHeight;
}
BENCHMARK(BM_KivraDecodeIPictureToRgb)->Arg(1)->Arg(0)->ArgName("simd")->Unit(benchmark::kMillisecond);

// The conversion alone (up-sampling and BT.601 to the bottom-up bitmap).
void BM_KivraConvertOnly(benchmark::State& state) {
    using namespace kivra;
    const auto& es = firstIPicture();
    Dsp dsp;
    initDsp(dsp, kCpuAll);
    auto dm = std::make_unique<Demux>();
    dm->attachMemory(es.data(), es.size());
    dm->setTransport(false);
    dm->setServeTail(true);
    dm->seek(0);
    dm->start();
    BitReader br;
    br.attach(dm.get());
    br.setStrictStop(false);
    Decoder dec;
    dec.setDsp(&dsp);
    dec.attach(&br);
    if (dec.readHeaders(-1) != Decoder::HeaderResult::Picture || !dec.decodePicture()) {
        state.SkipWithError("no picture");
        return;
    }
    RgbPicture rgb;
    for (auto _ : state) {
        rgb.convert(dsp, dec.currentFrame(), dec.sequence(), dec.currentRecord());
        benchmark::DoNotOptimize(rgb.pixels()[0]);
    }
}
BENCHMARK(BM_KivraConvertOnly)->Unit(benchmark::kMillisecond);

#ifdef KIVRA_BENCH_LIBMPEG2
// The same bytes fed again and again: the repeated sequence header keeps the
// buffers, and each picture completes when the next one's headers arrive, so
// every iteration decodes and converts one picture.
void BM_Libmpeg2DecodeIPictureToRgb(benchmark::State& state) {
    const auto& es = firstIPicture();
    mpeg2dec_t* dec = mpeg2_init();
    const mpeg2_info_t* info = mpeg2_info(dec);
    int64_t pictures = 0;
    auto feed = [&] {
        mpeg2_buffer(dec, const_cast<uint8_t*>(es.data()), const_cast<uint8_t*>(es.data()) + es.size());
        for (;;) {
            const mpeg2_state_t s = mpeg2_parse(dec);
            if (s == STATE_BUFFER) break;
            if (s == STATE_SEQUENCE) mpeg2_convert(dec, mpeg2convert_rgb24, nullptr);
            if (s == STATE_SLICE && info->display_fbuf) {
                benchmark::DoNotOptimize(info->display_fbuf->buf[0][0]);
                ++pictures;
            }
        }
    };
    feed();
    feed();
    pictures = 0;
    for (auto _ : state) feed();
    mpeg2_close(dec);
    state.counters["pictures_per_iteration"] = double(pictures) / double(state.iterations());
}
BENCHMARK(BM_Libmpeg2DecodeIPictureToRgb)->Unit(benchmark::kMillisecond);
#endif

// TsRead until the draw callback has the 1440x1080 picture.
std::atomic<int64_t> g_drawnAt{0};

void onDraw(void*, KivraWindow, const uint8_t*, const uint8_t*, int32_t, int32_t, int32_t) {
    g_drawnAt.store(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}
void onResize(void*, KivraWindow, KivraWindow, uint32_t) {}

void BM_TsReadToDraw(benchmark::State& state) {
    TavrelDecHost host{};
    host.draw = onDraw;
    host.postResize = onResize;
    SetHostCallbacks(&host);
    TavrelDecInit init{};
    init.path = KIVRA_BENCH_STREAM;
    TsOpen(&init);
    SetPackSize(188);
    TavrelDecRead r{};
    r.videoPid = 0x100;
    r.displayWidth = 270;
    // The first read sizes the stores; the measured ones start from there.
    TsRead(&r);
    kivra::waitForDecode();
    for (auto _ : state) {
        g_drawnAt = 0;
        const auto t0 = std::chrono::steady_clock::now();
        TsRead(&r);
        kivra::waitForDecode();
        const int64_t drawn = g_drawnAt.load();
        if (drawn == 0) {
            state.SkipWithError("nothing drawn");
            break;
        }
        const int64_t start = std::chrono::duration_cast<std::chrono::nanoseconds>(t0.time_since_epoch()).count();
        state.SetIterationTime(double(drawn - start) * 1e-9);
    }
    TsClose();
    SetHostCallbacks(nullptr);
}
BENCHMARK(BM_TsReadToDraw)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
