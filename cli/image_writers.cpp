#include "image_writers.h"

#include <cstdio>

#include "output_file.h"

namespace tavrel::cli {

namespace {

void put16le(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32le(std::vector<uint8_t>& v, uint32_t x) {
    put16le(v, x & 0xFFFF);
    put16le(v, x >> 16);
}
void put32be(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x >> 24));
    v.push_back(uint8_t(x >> 16));
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}

bool writeAll(const std::string& path, const std::vector<uint8_t>& bytes, WriteFailure* failure) {
    OutputFile out;
    WriteFailure local;
    WriteFailure& f = failure ? *failure : local;
    OutputOptions options;
    options.stream = true;  // /dev/stdout, a FIFO
    if (!out.create(path, options)) {
        f = {false, out.error()};
        return false;
    }
    if (!out.file().writeAll(bytes.data(), bytes.size())) {
        f = {true, out.file().error()};
        return false;  // out removes the temporary file
    }
    if (!out.commit()) {
        f = {true, out.error()};
        return false;
    }
    return true;
}

}  // namespace

uint32_t crc32Of(const uint8_t* p, size_t n, uint32_t crc) {
    static uint32_t table[256];
    static bool init = false;
    if (!init) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        init = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t adler32Of(const uint8_t* p, size_t n) {
    uint32_t a = 1, b = 0;
    for (size_t i = 0; i < n; ++i) {
        a = (a + p[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

bool writeBmp(const std::string& path, const RgbImage& img, WriteFailure* failure) {
    const uint32_t rowBytes = (uint32_t(img.width) * 3 + 3) & ~3u;
    const uint32_t imageSize = rowBytes * uint32_t(img.height);
    std::vector<uint8_t> v;
    v.reserve(54 + imageSize);
    v.push_back('B');
    v.push_back('M');
    put32le(v, 54 + imageSize);
    put32le(v, 0);
    put32le(v, 54);
    put32le(v, 40);
    put32le(v, uint32_t(img.width));
    put32le(v, uint32_t(img.height));
    put16le(v, 1);
    put16le(v, 24);
    put32le(v, 0);
    put32le(v, imageSize);
    put32le(v, 2835);
    put32le(v, 2835);
    put32le(v, 0);
    put32le(v, 0);
    for (int y = img.height - 1; y >= 0; --y) {
        const uint8_t* row = &img.rgb[size_t(y) * img.width * 3];
        for (int x = 0; x < img.width; ++x) {
            v.push_back(row[3 * x + 2]);
            v.push_back(row[3 * x + 1]);
            v.push_back(row[3 * x + 0]);
        }
        for (uint32_t k = uint32_t(img.width) * 3; k < rowBytes; ++k) v.push_back(0);
    }
    return writeAll(path, v, failure);
}

bool writePng(const std::string& path, const RgbImage& img, WriteFailure* failure) {
    std::vector<uint8_t> raw;
    raw.reserve(size_t(img.height) * (1 + size_t(img.width) * 3));
    for (int y = 0; y < img.height; ++y) {
        raw.push_back(0);  // filter: none
        const uint8_t* row = &img.rgb[size_t(y) * img.width * 3];
        raw.insert(raw.end(), row, row + size_t(img.width) * 3);
    }
    // zlib stream of stored deflate blocks.
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        const size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
        z.push_back(pos + n == raw.size() ? 1 : 0);
        put16le(z, uint32_t(n));
        put16le(z, uint32_t(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
        pos += n;
    } while (pos < raw.size());
    put32be(z, adler32Of(raw.data(), raw.size()));

    std::vector<uint8_t> v = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&v](const char* type, const std::vector<uint8_t>& data) {
        put32be(v, uint32_t(data.size()));
        const size_t start = v.size();
        v.insert(v.end(), type, type + 4);
        v.insert(v.end(), data.begin(), data.end());
        put32be(v, crc32Of(&v[start], v.size() - start));
    };
    std::vector<uint8_t> ihdr;
    put32be(ihdr, uint32_t(img.width));
    put32be(ihdr, uint32_t(img.height));
    ihdr.push_back(8);  // bit depth
    ihdr.push_back(2);  // colour type RGB
    ihdr.push_back(0);
    ihdr.push_back(0);
    ihdr.push_back(0);
    chunk("IHDR", ihdr);
    chunk("IDAT", z);
    chunk("IEND", {});
    return writeAll(path, v, failure);
}

bool writeY4m(const std::string& path, const YuvImage& img, WriteFailure* failure) {
    char header[96];
    const int n = std::snprintf(header, sizeof header, "YUV4MPEG2 W%d H%d F25:1 Ip A0:0 %s\nFRAME\n", img.width,
                                img.height, img.chromaFormat == 2 ? "C422" : "C420");
    std::vector<uint8_t> v(header, header + n);
    for (const auto& p : img.plane) v.insert(v.end(), p.begin(), p.end());
    return writeAll(path, v, failure);
}

}  // namespace tavrel::cli
