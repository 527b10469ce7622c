#include "test_support.h"

#include <cstdlib>
#include <fstream>

#include "ts_probe.h"

namespace kivra_test {

std::string dataPath(const std::string& name) { return std::string(KIVRA_TEST_DATA) + "/" + name; }

std::string tempPath(const std::string& name) { return testing::TempDir() + "kivra_" + name; }

bool ffmpegAvailable() {
    static const bool ok = std::system("ffmpeg -hide_banner -version > /dev/null 2>&1") == 0;
    return ok;
}

bool ffmpegDecode(const std::string& in, const std::string& out, bool onlyI) {
    std::string cmd = "ffmpeg -hide_banner -loglevel error -y -i '" + in + "' ";
    if (onlyI) cmd += "-vf \"select=eq(pict_type\\,I)\" -fps_mode passthrough ";
    cmd += "-f yuv4mpegpipe -strict -1 '" + out + "'";
    return std::system(cmd.c_str()) == 0;
}

bool writeAs188(const std::string& in, const std::string& out) {
    const auto d = readFile(in);
    size_t start = 0;
    const int size = probePacketSize(d, &start);
    if (size == 0) return false;
    const int off = (size == 192 || size == 208) ? 4 : 0;
    std::ofstream f(out, std::ios::binary);
    for (size_t at = start; at + size <= d.size(); at += size)
        f.write(reinterpret_cast<const char*>(&d[at + off]), 188);
    return f.good();
}

double minPlanePsnr(const YuvFrame& a, const YuvFrame& b) {
    if (a.width != b.width || a.height != b.height || a.chromaFormat != b.chromaFormat) return 0;
    double m = 1e9;
    for (int p = 0; p < 3; ++p) m = std::min(m, planePsnr(a.plane[p], b.plane[p]));
    return m;
}

}  // namespace kivra_test
