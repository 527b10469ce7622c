// Decoded pictures against the reference decoder (ffmpeg), by PSNR per
// plane: the I pictures the preview shows, and whole streams decoded by
// kivra-decode in display order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "es_support.h"
#include "preview_host.h"
#include "test_support.h"
#include "ts_probe.h"

using namespace kivra_test;

namespace {

struct StreamCase {
    const char* file;
    bool ffmpegReadsIt;  // ffmpeg does not read 204/208-byte packets
};

// A file-name-safe tag for temporary files.
std::string tagOf(const StreamCase& c) {
    std::string n = c.file;
    if (n.rfind("../", 0) == 0) n = "shared_" + n.substr(3);
    return n;
}

// A temporary file of the running test alone: ctest runs the tests of one
// stream as parallel processes, which must not overwrite each other's files.
std::string testTemp(const std::string& name) {
    std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(test.begin(), test.end(), '/', '_');
    return tempPath(test + "_" + name);
}

std::string referenceInput(const StreamCase& c) {
    if (c.ffmpegReadsIt) return dataPath(c.file);
    const std::string plain = testTemp(tagOf(c) + ".188.ts");
    EXPECT_TRUE(writeAs188(dataPath(c.file), plain));
    return plain;
}

class Conformance : public testing::TestWithParam<StreamCase> {};

// Streams of the other components' tests (made with their own encoder
// settings) are used when present.
#define SKIP_IF_MISSING(c)                                                                   \
    do {                                                                                     \
        if (!std::filesystem::exists(dataPath((c).file))) GTEST_SKIP() << "no " << (c).file; \
    } while (0)

TEST_P(Conformance, PreviewShowsEachIPictureAtLeast48dB) {
    KIVRA_REQUIRE_FFMPEG();
    const StreamCase& c = GetParam();
    SKIP_IF_MISSING(c);
    const std::string path = dataPath(c.file);
    const auto bytes = readFile(path);
    size_t start = 0;
    const int size = probePacketSize(bytes, &start);
    ASSERT_NE(size, 0);
    const std::vector<uint8_t> aligned(bytes.begin() + long(start), bytes.end());
    const int pid = probeVideoPid(aligned, size);
    ASSERT_GE(pid, 0);
    const auto gops = probeGopPackets(aligned, size, pid);
    ASSERT_FALSE(gops.empty());

    // Reference: ffmpeg's first I picture of the stream cut at the GOP.
    const std::string whole = referenceInput(c);
    const auto refBytes = readFile(whole);
    const int refSize = probePacketSize(refBytes);

    // Positions whose first read block ends before the end guard.
    constexpr int64_t kBlock = 36096;
    const int64_t guard = (int64_t(bytes.size()) / kBlock) * kBlock - kBlock;
    int checked = 0;
    for (size_t k = 0; k < gops.size() && checked < 4; ++k) {
        const int64_t pos = int64_t(start) + gops[k] * size;
        if (pos + 2 * kBlock > guard) break;
        PreviewResult r = previewOnce(path, size, pid, pos);
        ASSERT_TRUE(r.drawn) << "GOP " << k;

        const std::string tail = testTemp(tagOf(c) + ".tail.ts");
        {
            FILE* f = std::fopen(tail.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            const size_t from = c.ffmpegReadsIt ? size_t(pos) : size_t(gops[k]) * refSize;
            std::fwrite(refBytes.data() + from, 1, refBytes.size() - from, f);
            std::fclose(f);
        }
        const std::string ref = testTemp(tagOf(c) + ".I.y4m");
        ASSERT_TRUE(ffmpegDecode(tail, ref, true));
        std::vector<YuvFrame> iframes;
        ASSERT_TRUE(readY4m(ref, iframes));
        ASSERT_FALSE(iframes.empty());
        EXPECT_GE(minPlanePsnr(r.frame, iframes[0]), 48.0) << c.file << " GOP " << k;
        ++checked;
    }
    EXPECT_GE(checked, 1);
}

TEST_P(Conformance, WholeStreamDecodeAtLeast40dBMeanAnd35dBEach) {
    KIVRA_REQUIRE_FFMPEG();
    const StreamCase& c = GetParam();
    SKIP_IF_MISSING(c);
    const std::string ours = testTemp(tagOf(c) + ".kivra.y4m");
    const std::string cmd =
        std::string("'") + KIVRA_DECODE_TOOL + "' '" + dataPath(c.file) + "' '" + ours + "' 2> /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string ref = testTemp(tagOf(c) + ".ref.y4m");
    ASSERT_TRUE(ffmpegDecode(referenceInput(c), ref, false));
    std::vector<YuvFrame> a, b;
    ASSERT_TRUE(readY4m(ours, a));
    ASSERT_TRUE(readY4m(ref, b));
    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double p = minPlanePsnr(a[i], b[i]);
        EXPECT_GE(p, 35.0) << c.file << " picture " << i;
        sum += p;
    }
    EXPECT_GE(sum / double(a.size()), 40.0) << c.file;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Conformance,
    testing::Values(StreamCase{"sd_ibp.ts", true}, StreamCase{"hd_interlaced.ts", true},
                    StreamCase{"mpeg2enc_i1.ts", true}, StreamCase{"yuv422.ts", true},
                    StreamCase{"yuv422_interlaced.ts", true}, StreamCase{"dc10.ts", true},
                    StreamCase{"matrices.ts", true}, StreamCase{"altscan.ts", true}, StreamCase{"pkt192.ts", true},
                    StreamCase{"pkt204.ts", false}, StreamCase{"pkt208.ts", false}, StreamCase{"field_intra.ts", true},
                    StreamCase{"field_ip.ts", true}, StreamCase{"field_mix.ts", true}, StreamCase{"field_b.ts", true},
                    StreamCase{"frame_dp.ts", true}, StreamCase{"sif_progressive.ts", true},
                    StreamCase{"sif_interlaced.ts", true}, StreamCase{"../hd_1080i_aac.ts", true},
                    StreamCase{"../hd_1080i_aac_192.ts", true}, StreamCase{"../mpeg2enc_i1.ts", true},
                    StreamCase{"../sd_480p_208.ts", false}, StreamCase{"../starts_mid_packet.ts", true}),
    [](const testing::TestParamInfo<StreamCase>& i) {
        std::string n = i.param.file;
        const bool other = n.rfind("../", 0) == 0;
        if (other) n = n.substr(3);
        return (other ? "shared_" : "") + n.substr(0, n.find('.'));
    });

// --frames stops after N pictures; --pid names the PID (a wrong one: no picture).
TEST(KivraDecodeTool, FramesAndPidOptions) {
    const std::string tool = std::string("'") + KIVRA_DECODE_TOOL + "' ";
    const std::string out = tempPath("frames.y4m");
    ASSERT_EQ(std::system(
                  (tool + "--frames 5 --pid 0x100 '" + dataPath("sd_ibp.ts") + "' '" + out + "' 2>/dev/null").c_str()),
              0);
    std::vector<YuvFrame> f;
    ASSERT_TRUE(readY4m(out, f));
    EXPECT_EQ(f.size(), 5u);
    EXPECT_EQ(f[0].width, 720);
    EXPECT_NE(
        std::system(
            (tool + "--pid 0x101 '" + dataPath("sd_ibp.ts") + "' '" + tempPath("none.y4m") + "' 2>/dev/null").c_str()),
        0);
}

// --null decodes every picture, writes nothing and says how many there were:
// as many as the Y4M run writes, also when the video starts late.
TEST(KivraDecodeTool, NullCountsThePicturesItWouldWrite) {
    const std::string tool = std::string("'") + KIVRA_DECODE_TOOL + "' ";
    const std::string y4m = tempPath("null_ref.y4m"), log = tempPath("null.log");
    ASSERT_EQ(std::system((tool + "'" + dataPath("sd_ibp.ts") + "' '" + y4m + "' 2>/dev/null").c_str()), 0);
    std::vector<YuvFrame> f;
    ASSERT_TRUE(readY4m(y4m, f));
    ASSERT_EQ(std::system((tool + "--null '" + dataPath("sd_ibp.ts") + "' 2> '" + log + "'").c_str()), 0);
    const auto text = readFile(log);
    EXPECT_EQ(std::string(text.begin(), text.end()), "kivra-decode: " + std::to_string(f.size()) + " pictures\n");
    EXPECT_NE(std::system((tool + "--null '" + dataPath("sd_ibp.ts") + "' '" + y4m + "' 2>/dev/null").c_str()), 0);
    // The same recording with its video starting late (after 300 KB of null
    // packets, past the head the tool probes first): the same count.
    std::vector<uint8_t> late;
    for (int k = 0; k < 1600; ++k) {
        const uint8_t header[4] = {0x47, 0x1F, 0xFF, 0x10};
        late.insert(late.end(), header, header + 4);
        late.insert(late.end(), 184, 0xFF);
    }
    const auto ts = readFile(dataPath("sd_ibp.ts"));
    late.insert(late.end(), ts.begin(), ts.end());
    const std::string path = tempPath("late_video.ts");
    ASSERT_TRUE(writeBytes(path, late));
    ASSERT_EQ(std::system((tool + "--null '" + path + "' 2> '" + log + "'").c_str()), 0);
    EXPECT_EQ(readFile(log), text);
}

// The C kernels give the same pictures as each instruction set's kernels
// (SSE2 alone, with SSSE3, and everything the machine has), over whole
// streams: frame and field pictures, 4:2:0 and 4:2:2, both scans.
TEST(ConformanceCPath, ForcedCKernelsDecodeIdentically) {
    const std::string tool = std::string("'") + KIVRA_DECODE_TOOL + "' ";
    for (const char* file : {"hd_interlaced.ts", "sd_ibp.ts", "field_mix.ts", "yuv422_interlaced.ts", "altscan.ts"}) {
        const std::string plain = testTemp(std::string(file) + ".c.y4m");
        ASSERT_EQ(std::system((tool + "--c '" + dataPath(file) + "' '" + plain + "' 2>/dev/null").c_str()), 0) << file;
        const auto reference = readFile(plain);
        ASSERT_FALSE(reference.empty()) << file;
        for (const char* mask : {"1", "3", "0xFFFFFFFF"}) {
            const std::string simd = testTemp(std::string(file) + ".simd.y4m");
            ASSERT_EQ(std::system(("KIVRA_CPU_MASK=" + std::string(mask) + " " + tool + "'" + dataPath(file) + "' '" +
                                   simd + "' 2>/dev/null")
                                      .c_str()),
                      0)
                << file << " mask " << mask;
            EXPECT_EQ(readFile(simd), reference) << file << " mask " << mask;
        }
    }
}

}  // namespace
