// Shared helpers of the Kivra tests: data paths, the reference decoder
// (ffmpeg) and per-plane comparisons.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "y4m.h"

namespace kivra_test {

std::string dataPath(const std::string& name);  // tests/data/kivra/NAME
std::string tempPath(const std::string& name);

bool ffmpegAvailable();
// The reference decode; onlyI keeps the I pictures (display order).
bool ffmpegDecode(const std::string& in, const std::string& outY4m, bool onlyI);
// A copy of a 204/208-byte packet stream as plain 188-byte packets.
bool writeAs188(const std::string& in, const std::string& out);

// Tests that need the reference decoder: fail on CI (CI=true) when it is
// missing, skip elsewhere.
#define KIVRA_REQUIRE_FFMPEG()                                                          \
    do {                                                                                \
        if (!::kivra_test::ffmpegAvailable()) {                                         \
            const char* ci = std::getenv("CI");                                         \
            if (ci != nullptr && std::string(ci) == "true") FAIL() << "ffmpeg missing"; \
            GTEST_SKIP() << "ffmpeg not installed";                                     \
        }                                                                               \
    } while (0)

// Smallest per-plane PSNR of two frames (0 when the sizes differ).
double minPlanePsnr(const YuvFrame& a, const YuvFrame& b);

}  // namespace kivra_test
