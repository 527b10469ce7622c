// The preview's pictures with the SIMD kernels and the picture split over
// two threads against the C kernels on one thread: every drawn byte and
// every decoded sample the same, on the conformance streams' GOPs.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "dsp.h"
#include "helper_thread.h"
#include "library_internal.h"
#include "preview_host.h"
#include "test_support.h"
#include "ts_probe.h"

using namespace kivra_test;

namespace {

struct Picture {
    bool drawn = false;
    std::vector<uint8_t> bgr;
    YuvFrame frame;
    kivra::ReadStats stats;
};

// One TsRead per GOP position with the given kernels and threads.
std::vector<Picture> previewAll(const std::string& path, int size, int pid, const std::vector<int64_t>& at,
                                unsigned mask, int threads) {
    kivra::setCpuMaskOverride(mask);
    kivra::setDecodeThreads(threads);
    RecordingHost host(3, true);
    host.install();
    TavrelDecInit init{};
    init.path = path.c_str();
    TsOpen(&init);
    SetPackSize(size);
    std::vector<Picture> out;
    for (int64_t pos : at) {
        host.clear();
        TavrelDecRead rd{};
        rd.position = pos;
        rd.videoPid = pid;
        TsRead(&rd);
        kivra::waitForDecode();
        Picture p;
        p.stats = kivra::lastReadStats();
        const auto draws = host.draws();
        const auto frames = host.frames();
        p.drawn = !draws.empty() && !frames.empty();
        if (p.drawn) {
            p.bgr = draws.back().pixels;
            p.frame = frames.back();
        }
        out.push_back(std::move(p));
    }
    TsClose();
    kivra::setCpuMaskOverride(kivra::kCpuAll);
    kivra::setDecodeThreads(0);
    return out;
}

class ThreadedPreview : public testing::TestWithParam<const char*> {};

TEST_P(ThreadedPreview, PicturesEqualTheCKernelsOnOneThread) {
    const std::string path = dataPath(GetParam());
    const auto bytes = readFile(path);
    size_t start = 0;
    const int size = probePacketSize(bytes, &start);
    ASSERT_NE(size, 0);
    const std::vector<uint8_t> aligned(bytes.begin() + long(start), bytes.end());
    const int pid = probeVideoPid(aligned, size);
    std::vector<int64_t> at;
    for (int64_t g : probeGopPackets(aligned, size, pid)) at.push_back(int64_t(start) + g * size);
    at.push_back(int64_t(start));  // the first GOP again, after the others
    const auto ref = previewAll(path, size, pid, at, 0, 1);
    const auto fast = previewAll(path, size, pid, at, kivra::kCpuAll, 2);
    int drawn = 0, split = 0;
    for (size_t i = 0; i < at.size(); ++i) {
        SCOPED_TRACE("read at byte " + std::to_string(at[i]));
        ASSERT_EQ(ref[i].drawn, fast[i].drawn);
        if (!ref[i].drawn) continue;
        ++drawn;
        split += fast[i].stats.splitDecode ? 1 : 0;
        EXPECT_TRUE(fast[i].stats.splitConvert);
        EXPECT_FALSE(ref[i].stats.splitDecode || ref[i].stats.splitConvert);
        ASSERT_EQ(ref[i].bgr.size(), fast[i].bgr.size());
        EXPECT_TRUE(ref[i].bgr == fast[i].bgr);
        for (int p = 0; p < 3; ++p) EXPECT_TRUE(ref[i].frame.plane[p] == fast[i].frame.plane[p]) << "plane " << p;
    }
    EXPECT_GT(drawn, 0);
    // Frame I pictures are split (field pairs are decoded in one piece).
    if (std::string(GetParam()).find("field") == std::string::npos) {
        EXPECT_EQ(split, drawn);
    }
}

INSTANTIATE_TEST_SUITE_P(Conformance, ThreadedPreview,
                         testing::Values("hd_interlaced.ts", "../hd_1080i_aac.ts", "../mpeg2enc_i1.ts", "sd_ibp.ts",
                                         "yuv422.ts", "yuv422_interlaced.ts", "altscan.ts", "matrices.ts", "dc10.ts",
                                         "pkt192.ts", "field_intra.ts", "sif_progressive.ts"),
                         [](const testing::TestParamInfo<const char*>& i) {
                             std::string n = i.param;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

}  // namespace

// Jobs posted one after another, some right away (the helper still spinning)
// and some after it has gone to sleep: each runs once, before wait()
// returns, and stop() ends a sleeping helper.
TEST(HelperThread, EveryJobRunsOnceWhetherTheHelperSpinsOrSleeps) {
    kivra::HelperThread helper;
    int runs = 0;
    for (int k = 0; k < 40; ++k) {
        ASSERT_TRUE(helper.post([&runs] { ++runs; }));
        helper.wait();
        ASSERT_EQ(runs, k + 1);
        if (k % 8 == 7) std::this_thread::sleep_for(std::chrono::milliseconds(2));  // past the spinning
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    helper.stop();
    // Started again by the next job.
    ASSERT_TRUE(helper.post([&runs] { runs += 100; }));
    helper.wait();
    EXPECT_EQ(runs, 140);
}
