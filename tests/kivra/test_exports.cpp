// The exported flow: records, the decode thread, windows, resize requests,
// redraws and the reads that must draw nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "kivra.h"
#include "library_internal.h"
#include "preview_host.h"
#include "test_support.h"
#include "ts_probe.h"

using namespace kivra_test;

namespace {

KivraWindow win(uintptr_t v) { return reinterpret_cast<KivraWindow>(v); }
const KivraWindow kNotify = win(0x10), kPreview = win(0x20), kOut = win(0x30);

class Exports : public testing::Test {
protected:
    void open(const std::string& path, int windowMode = 0, int packetSize = 188) {
        host.install();
        TavrelDecInit init{};
        init.path = path.c_str();
        init.notifyWindow = kNotify;
        init.previewWindow = kPreview;
        init.outWindow = kOut;
        init.windowMode = windowMode;
        const int level = TsOpen(&init);
        EXPECT_TRUE(level == 1 || level == 2 || level == 5);
        SetPackSize(packetSize);
    }
    int read(int64_t position, int displayWidth, int windowMode, int aspect = 0, int quality = 0, int pid = 0x100) {
        TavrelDecRead r{};
        r.position = position;
        r.videoPid = pid;
        r.displayWidth = displayWidth;
        r.windowMode = windowMode;
        r.aspectMode = aspect;
        r.stretchQuality = quality;
        const int rc = TsRead(&r);
        kivra::waitForDecode();
        return rc;
    }
    int update(int displayWidth, int aspect, int quality = 0) {
        TavrelDecRead r{};
        r.displayWidth = displayWidth;
        r.aspectMode = aspect;
        r.stretchQuality = quality;
        return UpdateVideo(&r);
    }
    void TearDown() override { TsClose(); }
    RecordingHost host{3};
};

TEST(ExportRecords, NullRecordsAreRefused) {
    EXPECT_EQ(TsOpen(nullptr), -1);
    EXPECT_EQ(TsRead(nullptr), -1);
    EXPECT_EQ(UpdateVideo(nullptr), -1);
    EXPECT_EQ(TsClose(), 1);
}

TEST(ExportRecords, RecordLayoutKeepsTheFieldOrder) {
    EXPECT_EQ(offsetof(TavrelDecRead, position), 0u);
    EXPECT_EQ(offsetof(TavrelDecRead, videoPid), 8u);
    EXPECT_EQ(offsetof(TavrelDecRead, displayWidth), 12u);
    EXPECT_EQ(offsetof(TavrelDecRead, windowMode), 16u);
    EXPECT_EQ(offsetof(TavrelDecRead, aspectMode), 20u);
    EXPECT_EQ(offsetof(TavrelDecRead, stretchQuality), 24u);
    EXPECT_EQ(offsetof(TavrelDecInit, path), 0u);
    EXPECT_EQ(offsetof(TavrelDecInit, notifyWindow), sizeof(void*));
    EXPECT_EQ(offsetof(TavrelDecInit, windowMode), 4 * sizeof(void*));
}

TEST_F(Exports, UpdateVideoDrawsNothingBeforeAPictureOrAfterClose) {
    open(dataPath("sd_ibp.ts"));
    EXPECT_EQ(update(270, 0), 1);
    EXPECT_TRUE(host.draws().empty());
    EXPECT_EQ(read(0, 270, 0), 1);
    ASSERT_EQ(host.draws().size(), 1u);
    EXPECT_EQ(TsClose(), 1);
    EXPECT_EQ(update(270, 0), 1);
    EXPECT_EQ(host.draws().size(), 1u);
}

TEST_F(Exports, SecondReadWaitsForTheFirstPicture) {
    open(dataPath("hd_interlaced.ts"));
    // A slow host: each draw waits until the test lets it finish.
    struct Gates {
        std::promise<void> open[2];
        std::shared_future<void> wait[2] = {open[0].get_future().share(), open[1].get_future().share()};
        std::atomic<int> draws{0};
        void releaseAll() {
            for (auto& p : open) {
                try {
                    p.set_value();
                } catch (const std::future_error&) {
                }
            }
        }
    } gates;
    struct Release {
        Gates& g;
        ~Release() {
            g.releaseAll();
            kivra::waitForDecode();
        }
    } release{gates};
    host.onDrawCtx = &gates;
    host.onDraw = [](void* ctx) {
        auto* g = static_cast<Gates*>(ctx);
        g->wait[std::min(g->draws++, 1)].wait();
    };
    TavrelDecRead r{};
    r.videoPid = 0x100;
    r.displayWidth = 270;
    // The first read returns while its picture is still being drawn.
    auto first = std::async(std::launch::async, [&] { return TsRead(&r); });
    ASSERT_EQ(first.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(first.get(), 1);
    // The second waits for that picture before it starts its own.
    auto second = std::async(std::launch::async, [&] { return TsRead(&r); });
    EXPECT_EQ(second.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_TRUE(host.draws().empty());
    gates.open[0].set_value();
    ASSERT_EQ(second.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(second.get(), 1);
    EXPECT_EQ(host.draws().size(), 1u);  // the first picture, drawn before the second read started
    gates.open[1].set_value();
    kivra::waitForDecode();
    EXPECT_EQ(host.draws().size(), 2u);
}

// UpdateVideo redraws on the caller's thread while the decode thread
// converts and draws a new picture (a sequence change between the reads
// reallocates the bitmap): every draw sees a whole, consistent bitmap.
TEST_F(Exports, UpdateVideoDuringADecodeDrawsConsistentPictures) {
    const auto sd = readFile(dataPath("sd_ibp.ts"));
    const auto hd = readFile(dataPath("hd_interlaced.ts"));
    const std::string both = tempPath("sd_hd_concurrent.ts");
    {
        std::ofstream f(both, std::ios::binary);
        f.write(reinterpret_cast<const char*>(sd.data()), long(sd.size()));
        f.write(reinterpret_cast<const char*>(hd.data()), long(hd.size()));
    }
    RecordingHost keep(3, true);
    keep.install();
    TavrelDecInit init{};
    init.path = both.c_str();
    init.previewWindow = kPreview;
    TsOpen(&init);
    SetPackSize(188);
    for (int round = 0; round < 4; ++round) {
        TavrelDecRead r{};
        r.position = round % 2 ? int64_t(sd.size()) : 0;
        r.videoPid = 0x100;
        r.displayWidth = 270;
        ASSERT_EQ(TsRead(&r), 1);
        for (int i = 0; i < 50; ++i) update(270, i % 2 ? 3 : 0);
        kivra::waitForDecode();
    }
    const auto draws = keep.draws();
    ASSERT_GE(draws.size(), 4u);
    for (const auto& d : draws) {
        ASSERT_TRUE((d.codedWidth == 720 && d.codedHeight == 480) || (d.codedWidth == 1440 && d.codedHeight == 1088));
        ASSERT_EQ(d.pixels.size(), size_t(d.codedWidth) * d.codedHeight * 3);
    }
    TsClose();
}

// The UI thread and the GOP scan worker both call TsRead.
TEST_F(Exports, ReadsFromTwoThreadsAreSerialised) {
    open(dataPath("sd_ibp.ts"));
    auto reader = [] {
        for (int i = 0; i < 10; ++i) {
            TavrelDecRead r{};
            r.videoPid = 0x100;
            r.displayWidth = 270;
            EXPECT_EQ(TsRead(&r), 1);
        }
    };
    std::thread a(reader), b(reader);
    a.join();
    b.join();
    kivra::waitForDecode();
    EXPECT_EQ(host.draws().size(), 20u);
}

// A host that calls back into the library from its draw callback gets the
// "wait failed" result instead of waiting for its own thread.
TEST_F(Exports, CallsFromTheDrawCallbackDoNotDeadlock) {
    open(dataPath("sd_ibp.ts"));
    static int results[2];
    host.onDraw = [](void*) {
        TavrelDecRead r{};
        results[0] = TsRead(&r);
        results[1] = TsClose();
    };
    read(0, 270, 0);
    EXPECT_EQ(host.draws().size(), 1u);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 1);
    // The stream is still open: the next read draws.
    host.onDraw = nullptr;
    read(0, 270, 0);
    EXPECT_EQ(host.draws().size(), 2u);
}

TEST_F(Exports, WindowSwitchesAndResizeRequests) {
    open(dataPath("sd_ibp.ts"), 0);
    read(0, 270, 0);
    auto d = host.draws();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].window, kPreview);
    EXPECT_EQ(d[0].destWidth, 270);
    EXPECT_EQ(d[0].destHeight, 202);
    EXPECT_EQ(d[0].mode, KIVRA_STRETCH_COLORONCOLOR);
    host.clear();

    // Same size, same window: no request.
    read(0, 270, 0);
    EXPECT_TRUE(host.resizes().empty());

    // To the output window, unscaled: request for the coded size + frames.
    host.clear();
    read(0, 0, 1);
    auto rs = host.resizes();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].notify, kNotify);
    EXPECT_EQ(rs[0].window, kOut);
    EXPECT_EQ(rs[0].width, 726);
    EXPECT_EQ(rs[0].height, 486);
    d = host.draws();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].window, kOut);
    EXPECT_EQ(d[0].mode, KIVRA_STRETCH_NONE);
    host.clear();

    // Same window, same width: nothing; a new width: a request.
    read(0, 0, 1);
    EXPECT_TRUE(host.resizes().empty());
    read(0, 640, 1, 0, 2);
    rs = host.resizes();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].width, 646);
    EXPECT_EQ(rs[0].height, 486);
    EXPECT_EQ(host.draws().back().mode, KIVRA_STRETCH_HALFTONE);
    host.clear();

    // UpdateVideo with another aspect asks again and redraws; a repeat does not ask.
    EXPECT_EQ(update(640, 3), 1);
    rs = host.resizes();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].height, 360 + 6);
    EXPECT_EQ(host.draws().back().destHeight, 360);
    EXPECT_EQ(update(640, 3), 1);
    EXPECT_EQ(host.resizes().size(), 1u);
    EXPECT_EQ(host.draws().size(), 2u);

    // Back to the preview window: request again.
    host.clear();
    read(0, 270, 0);
    rs = host.resizes();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].window, kPreview);
    EXPECT_EQ(rs[0].width, 270);
    EXPECT_EQ(rs[0].height, 202);
}

TEST_F(Exports, HdPictureIsDrawnFromTheCodedSizeWithTheStreamAspect) {
    open(dataPath("hd_interlaced.ts"));
    read(0, 270, 0, 9);
    const auto d = host.draws();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].codedWidth, 1440);
    EXPECT_EQ(d[0].codedHeight, 1088);
    EXPECT_EQ(d[0].destHeight, 151);  // aspect code 3 (16:9)
}

TEST_F(Exports, PacketSizeZeroAndNegativeMean188) {
    for (int size : {0, -5}) {
        open(dataPath("sd_ibp.ts"), 0, size);
        EXPECT_EQ(SetPackSize(size), 1);
        host.clear();
        read(0, 270, 0);
        EXPECT_EQ(host.draws().size(), 1u) << "SetPackSize(" << size << ")";
        TsClose();
    }
}

TEST_F(Exports, ReadsThatDrawNothing) {
    const std::string path = dataPath("sd_ibp.ts");
    const int64_t length = int64_t(readFile(path).size());
    constexpr int64_t kBlock = 36096;
    const int64_t guard = (length / kBlock) * kBlock - kBlock;
    open(path);

    // A PID that is not in the stream: the packet limit ends the read.
    EXPECT_EQ(read(0, 270, 0, 0, 0, 0x1FF0), 1);
    EXPECT_TRUE(host.draws().empty());
    EXPECT_EQ(kivra::lastReadStats().packets, 4001u);

    // A position of end guard - 36,096 or later.
    const int64_t late = ((guard - kBlock) / 188) * 188 + 188;
    EXPECT_EQ(read(late, 270, 0), 1);
    EXPECT_TRUE(host.draws().empty());
    EXPECT_EQ(read(length - 188 * 10, 270, 0), 1);
    EXPECT_TRUE(host.draws().empty());
    EXPECT_EQ(read(length + 1000000, 270, 0), 1);
    EXPECT_TRUE(host.draws().empty());

    // Still works from the start.
    EXPECT_EQ(read(0, 270, 0), 1);
    EXPECT_EQ(host.draws().size(), 1u);
}

TEST_F(Exports, MissingFileDrawsNothing) {
    open("/nonexistent/kivra.ts");
    EXPECT_EQ(read(0, 270, 0), 1);
    EXPECT_TRUE(host.draws().empty());
}

TEST_F(Exports, PositionInsideAGopShowsTheNextIPicture) {
    const std::string path = dataPath("sd_ibp.ts");
    const auto bytes = readFile(path);
    const auto gops = probeGopPackets(bytes, 188, 0x100);
    ASSERT_GE(gops.size(), 3u);
    open(path);
    read((gops[0] + (gops[1] - gops[0]) / 2) * 188, 0, 0);  // middle of GOP 0: P and B pictures first
    read(gops[1] * 188, 0, 0);
    const auto f = host.frames();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].plane[0], f[1].plane[0]);
}

// Writes a patched copy of a stream: bytes at offsets relative to the first
// sequence header's start code.
std::string patchedCopy(const std::string& name, std::initializer_list<std::pair<int, uint8_t>> patches,
                        uint8_t extMask = 0, uint8_t extBits = 0) {
    auto bytes = readFile(dataPath(name));
    const std::string out = tempPath("patched_" + name);
    for (size_t i = 0; i + 4 < bytes.size(); ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xB3) {
            for (auto [off, v] : patches) bytes[i + size_t(off)] = v;
        }
        // Sequence extension: identifier 1 in the high nibble after 00 00 01 B5.
        if (extMask && bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xB5 &&
            (bytes[i + 4] >> 4) == 1)
            bytes[i + 5] = uint8_t((bytes[i + 5] & ~extMask) | extBits);
    }
    std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    return out;
}

TEST_F(Exports, ChromaFormat444IsNotDrawn) {
    // chroma_format is bits 2..1 of the second extension byte.
    open(patchedCopy("sd_ibp.ts", {}, 0x06, 0x06));
    EXPECT_EQ(read(0, 270, 0), 1);
    EXPECT_TRUE(host.draws().empty());
}

TEST_F(Exports, HugeSizeInTheSequenceHeaderIsNoPictureNotACrash) {
    kivra::setMaxPicturePixels(int64_t(4096) * 4096);
    // 4095 x 4095 plus size extensions 3: 16383 x 16383.
    open(patchedCopy("sd_ibp.ts", {{4, 0xFF}, {5, 0xFF}, {6, 0xFF}}, 0x01, 0x01));
    EXPECT_EQ(read(0, 270, 0), 1);
    EXPECT_TRUE(host.draws().empty());
    kivra::setMaxPicturePixels(int64_t(8192) * 8192);
}

TEST_F(Exports, NewSequenceSizeBetweenReads) {
    const auto sd = readFile(dataPath("sd_ibp.ts"));
    const auto hd = readFile(dataPath("hd_interlaced.ts"));
    const std::string both = tempPath("sd_then_hd.ts");
    {
        std::ofstream f(both, std::ios::binary);
        f.write(reinterpret_cast<const char*>(sd.data()), long(sd.size()));
        f.write(reinterpret_cast<const char*>(hd.data()), long(hd.size()));
    }
    open(both);
    read(0, 270, 0);
    read(int64_t(sd.size()), 270, 0);
    const auto d = host.draws();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].codedWidth, 720);
    EXPECT_EQ(d[1].codedWidth, 1440);
    EXPECT_EQ(d[1].codedHeight, 1088);
    EXPECT_GE(host.resizes().size(), 1u);
    EXPECT_EQ(host.frames()[1].width, 1440);
    EXPECT_EQ(host.frames()[1].height, 1080);
}

TEST_F(Exports, ProgramStreamIsReadAsPlainBytes) {
    // A pack header in front of the elementary stream switches transport
    // parsing off.
    const auto ts = readFile(dataPath("sd_ibp.ts"));
    std::vector<uint8_t> ps = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0, 0, 3, 0xF8};
    for (size_t at = 0; at + 188 <= ts.size(); at += 188) {
        const uint8_t* p = &ts[at];
        if ((((p[1] & 0x1F) << 8) | p[2]) != 0x100) continue;
        int off = 4;
        if (p[3] & 0x20) off += 1 + p[4];
        if ((p[3] & 0x10) == 0 || off >= 188) continue;
        if ((p[1] & 0x40) && p[off] == 0 && p[off + 1] == 0 && p[off + 2] == 1 && p[off + 3] == 0xE0)
            off += 9 + p[off + 8];
        ps.insert(ps.end(), p + off, p + 188);
    }
    const std::string path = tempPath("plain.mpg");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(ps.data()), long(ps.size()));
    open(path);
    EXPECT_EQ(read(0, 270, 0), 1);
    EXPECT_EQ(host.draws().size(), 1u);
}

}  // namespace
