// tavrelcut-cli preview end to end: the GOP list of a copy of the stream,
// the decoded planes against the exports' own result, the drawn picture as
// PNG and BMP at its display size, and the failure exit. tavrelcut-cli
// thumbs end to end: the contact sheet's pictures against the reduced
// pictures of every N-th GOP.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "dc_picture.h"
#include "preview_host.h"
#include "test_support.h"
#include "ts_probe.h"

using namespace kivra_test;

namespace {

// A folder of the running test's own: ctest runs these tests as parallel
// processes, and a recording copied over while another test reads it (or
// its index) would fail that test.
std::string copyToTemp(const std::string& name, const std::string& as = "") {
    const std::string dir =
        tempPath(std::string("cli_") + testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    const std::string dst = dir + "/" + (as.empty() ? name : as);
    std::filesystem::copy_file(dataPath(name), dst, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(dst + ".txt");
    return dst;
}

int run(const std::string& args, const char* command = "preview") {
    const std::string cmd = std::string("'") + TAVREL_CLI + "' " + command + " " + args + " > /dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

uint32_t be32(const std::vector<uint8_t>& v, size_t o) {
    return uint32_t(v[o]) << 24 | uint32_t(v[o + 1]) << 16 | uint32_t(v[o + 2]) << 8 | v[o + 3];
}

TEST(CliPreview, GopPictureAsY4mMatchesTheExports) {
    const std::string ts = copyToTemp("hd_interlaced.ts");
    const std::string out = tempPath("cli_gop1.y4m");
    ASSERT_EQ(run("'" + ts + "' --gop 1 -o '" + out + "'"), 0);
    std::vector<YuvFrame> frames;
    ASSERT_TRUE(readY4m(out, frames));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].width, 1440);
    EXPECT_EQ(frames[0].height, 1080);  // cropped from the coded 1088

    const auto bytes = readFile(ts);
    const auto gops = probeGopPackets(bytes, 188, 0x100);
    ASSERT_GE(gops.size(), 2u);
    const PreviewResult r = previewOnce(ts, 188, 0x100, gops[1] * 188);
    ASSERT_TRUE(r.drawn);
    EXPECT_EQ(frames[0].plane[0], r.frame.plane[0]);
    EXPECT_EQ(frames[0].plane[1], r.frame.plane[1]);
    EXPECT_EQ(frames[0].plane[2], r.frame.plane[2]);
}

TEST(CliPreview, PngAndBmpHoldTheDisplaySize) {
    const std::string ts = copyToTemp("sd_ibp.ts");
    const std::string png = tempPath("cli.png"), bmp = tempPath("cli.bmp");
    ASSERT_EQ(run("'" + ts + "' --gop 0 --width 270 --aspect 3 --grade 2 -o '" + png + "'"), 0);
    const auto p = readFile(png);
    ASSERT_GT(p.size(), 33u);
    EXPECT_EQ(0, std::memcmp(p.data(), "\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(be32(p, 16), 270u);
    EXPECT_EQ(be32(p, 20), 151u);

    ASSERT_EQ(run("'" + ts + "' --position 0 --pid 0x100 -o '" + bmp + "'"), 0);
    const auto b = readFile(bmp);
    ASSERT_GT(b.size(), 54u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[18] | b[19] << 8, 720);  // unscaled: the coded size
    EXPECT_EQ(b[22] | b[23] << 8, 480);
    EXPECT_EQ(b.size(), 54u + 720u * 480u * 3u);
}

TEST(CliPreview, FailsClearlyWhenNothingIsDrawn) {
    const std::string ts = copyToTemp("sd_ibp.ts");
    EXPECT_EQ(run("'" + ts + "' --position 0 --pid 0x1FF0 -o '" + tempPath("none.png") + "'"), 1);
    EXPECT_EQ(run("'" + ts + "' --gop 999 -o '" + tempPath("none.png") + "'"), 1);
    EXPECT_EQ(run("'" + ts + "' --gop 0 -o '" + tempPath("x.jpg") + "'"), 2);
    EXPECT_EQ(run("'" + ts + "' -o '" + tempPath("x.png") + "'"), 2);
}

// Trace lines reach stderr only with KIVRA_TRACE set.
TEST(CliPreview, TraceLinesOnlyWithKivraTrace) {
    const std::string ts = copyToTemp("sd_ibp.ts");
    const std::string log = tempPath("trace.log");
    const std::string args = std::string("'") + TAVREL_CLI + "' preview '" + ts + "' --gop 0 -o '" + tempPath("t.y4m") +
                             "' 2> '" + log + "'";
    ASSERT_EQ(std::system(("KIVRA_TRACE=1 " + args).c_str()), 0);
    auto text = readFile(log);
    std::string s(text.begin(), text.end());
    EXPECT_NE(s.find("\xE2\x96\xA0 Packet Size = [188]\r\n"), std::string::npos) << s;
    EXPECT_NE(s.find("block[0] = "), std::string::npos);
    EXPECT_NE(s.find(" ( 128 )\r\n"), std::string::npos);
    EXPECT_NE(s.find("block[7] = "), std::string::npos);
    EXPECT_NE(s.find(" Clear\r\n"), std::string::npos);
    EXPECT_EQ(s.find("SyncByte"), std::string::npos);  // the stream is in sync

    ASSERT_EQ(std::system(("env -u KIVRA_TRACE " + args).c_str()), 0);
    text = readFile(log);
    s.assign(text.begin(), text.end());
    EXPECT_EQ(s.find("Packet Size"), std::string::npos);
    EXPECT_EQ(s.find("block["), std::string::npos);
}

// The pixels of a PNG as tavrelcut-cli writes it (8-bit RGB, stored
// deflate blocks, no filter); empty when it is not one.
std::vector<uint8_t> pngPixels(const std::vector<uint8_t>& png, int& w, int& h) {
    std::vector<uint8_t> z, raw, rgb;
    w = h = 0;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t len = be32(png, at);
        if (at + 12 + len > png.size()) return {};
        const std::string type(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
        if (type == "IHDR") {
            w = int(be32(png, at + 8));
            h = int(be32(png, at + 12));
        }
        if (type == "IDAT") z.insert(z.end(), png.begin() + long(at) + 8, png.begin() + long(at + 8 + len));
        at += 12 + len;
    }
    for (size_t at = 2; at + 5 <= z.size();) {  // stored blocks after the zlib header
        const bool last = z[at] & 1;
        const size_t n = z[at + 1] | z[at + 2] << 8;
        raw.insert(raw.end(), z.begin() + long(at) + 5, z.begin() + long(at + 5 + n));
        at += 5 + n;
        if (last) break;
    }
    if (raw.size() != size_t(h) * (size_t(w) * 3 + 1)) return {};
    for (int y = 0; y < h; ++y) {
        if (raw[size_t(y) * (w * 3 + 1)] != 0) return {};
        const auto row = raw.begin() + long(size_t(y) * (w * 3 + 1) + 1);
        rgb.insert(rgb.end(), row, row + w * 3);
    }
    return rgb;
}

// Every second GOP of the recording, eight to a row, each the reduced
// picture the library gives for that GOP.
TEST(CliThumbs, ContactSheetHoldsEveryNthGopsReducedPicture) {
    const std::string ts = copyToTemp("../hd_1080i_aac.ts", "hd.ts");  // 1440x1080i, 6 GOPs
    const std::string png = tempPath("thumbs.png");
    std::filesystem::remove(png);
    ASSERT_EQ(run("'" + ts + "' --every 2 -o '" + png + "'", "thumbs"), 0);
    int w = 0, h = 0;
    const auto pixels = pngPixels(readFile(png), w, h);
    ASSERT_FALSE(pixels.empty());

    const auto bytes = readFile(ts);
    const auto gops = probeGopPackets(bytes, 188, 0x100);
    const size_t shown = (gops.size() + 1) / 2;
    ASSERT_GE(shown, 2u);
    const int cols = int(std::min<size_t>(shown, 8)), rows = int((shown + 7) / 8);
    EXPECT_EQ(w, cols * (180 + 4) + 4);
    EXPECT_EQ(h, rows * (135 + 4) + 4);
    kivra::DcPictureReader reader;
    ASSERT_TRUE(reader.open(ts, 188, 0x100));
    for (size_t i = 0; i < shown; ++i) {
        SCOPED_TRACE("picture " + std::to_string(i));
        kivra::DcPicture pic;
        ASSERT_EQ(reader.read(gops[2 * i] * 188, pic), kivra::DcResult::Picture);
        std::vector<uint8_t> rgb;
        kivra::dcPictureToRgb(pic, rgb);
        const int x0 = 4 + int(i % 8) * 184, y0 = 4 + int(i / 8) * 139;
        for (int y = 0; y < pic.height; ++y)
            ASSERT_EQ(0, std::memcmp(&pixels[(size_t(y0 + y) * w + x0) * 3], &rgb[size_t(y) * pic.width * 3],
                                     size_t(pic.width) * 3))
                << "row " << y;
    }
    // The gaps stay background.
    EXPECT_EQ(pixels[0], 32);
    EXPECT_EQ(pixels[(size_t(2) * w + 184 + 1) * 3], 32);
}

TEST(CliThumbs, RefusesWhatItCannotShow) {
    const std::string ts = copyToTemp("sd_ibp.ts");
    EXPECT_EQ(run("'" + ts + "' -o '" + tempPath("t.jpg") + "'", "thumbs"), 2);
    EXPECT_EQ(run("'" + ts + "' --every 0 -o '" + tempPath("t.png") + "'", "thumbs"), 2);
    const std::string link = ts + ".png";  // the recording under another name
    std::filesystem::remove(link);
    std::filesystem::create_symlink(ts, link);
    EXPECT_EQ(run("'" + ts + "' -o '" + link + "'", "thumbs"), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    const std::string mpeg1 = copyToTemp("mpeg1.ts");
    EXPECT_EQ(run("'" + mpeg1 + "' -o '" + tempPath("m1.png") + "'", "thumbs"), 1);
    EXPECT_FALSE(std::filesystem::exists(tempPath("m1.png")));
}

}  // namespace
