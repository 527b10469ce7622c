// Y4M reading and writing and plane comparison for the Kivra tests and the
// conformance tool.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kivra_test {

struct YuvFrame {
    int width = 0, height = 0;
    int chromaFormat = 1;  // 1: 4:2:0, 2: 4:2:2
    std::vector<uint8_t> plane[3];
    int chromaWidth() const { return (width + 1) / 2; }
    int chromaHeight() const { return chromaFormat == 1 ? (height + 1) / 2 : height; }
};

// Copies a decoded picture out of frame-store planes, cropped to w x h.
YuvFrame cropFrame(const uint8_t* const planes[3], const int strides[3], int w, int h, int chromaFormat);

class Y4mWriter {
public:
    bool open(const std::string& path, int w, int h, int chromaFormat, int rateNum, int rateDen);
    bool write(const YuvFrame& f);
    ~Y4mWriter();

private:
    FILE* m_f = nullptr;
};

// Reads every frame of a Y4M file (C420*, C422*).
bool readY4m(const std::string& path, std::vector<YuvFrame>& frames, std::string* error = nullptr);

// PSNR of one plane in dB (99 for identical planes).
double planePsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace kivra_test
