// Minimal picture file writers for the preview command: 24-bit BMP, PNG
// (stored deflate blocks, no compression library) and one-frame Y4M, each
// written through a temporary file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrel::cli {

// Top-down RGB picture, 3 bytes per pixel in R, G, B order.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Why a picture file was not written: created is false when the file could
// not be created, err is the system's error code. Every writer puts the
// whole file in place or leaves the target as it was.
struct WriteFailure {
    bool created = false;
    int err = 0;
};

bool writeBmp(const std::string& path, const RgbImage& img, WriteFailure* failure = nullptr);
bool writePng(const std::string& path, const RgbImage& img, WriteFailure* failure = nullptr);

// Planes cropped to width x height; chroma 4:2:0 (1) or 4:2:2 (2).
struct YuvImage {
    int width = 0, height = 0, chromaFormat = 1;
    std::vector<uint8_t> plane[3];
};
bool writeY4m(const std::string& path, const YuvImage& img, WriteFailure* failure = nullptr);

// CRC-32 (PNG chunks) and Adler-32 (zlib stream), exposed for tests.
uint32_t crc32Of(const uint8_t* p, size_t n, uint32_t crc = 0);
uint32_t adler32Of(const uint8_t* p, size_t n);

}  // namespace tavrel::cli
