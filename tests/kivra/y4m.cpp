#include "y4m.h"

#include <cmath>
#include <cstring>

namespace kivra_test {

YuvFrame cropFrame(const uint8_t* const planes[3], const int strides[3], int w, int h, int chromaFormat) {
    YuvFrame f;
    f.width = w;
    f.height = h;
    f.chromaFormat = chromaFormat;
    for (int p = 0; p < 3; ++p) {
        const int pw = p ? f.chromaWidth() : w;
        const int ph = p ? f.chromaHeight() : h;
        f.plane[p].resize(size_t(pw) * ph);
        for (int y = 0; y < ph; ++y)
            std::memcpy(&f.plane[p][size_t(y) * pw], planes[p] + size_t(y) * strides[p], size_t(pw));
    }
    return f;
}

bool Y4mWriter::open(const std::string& path, int w, int h, int cf, int num, int den) {
    m_f = std::fopen(path.c_str(), "wb");
    if (!m_f) return false;
    if (num <= 0 || den <= 0) {
        num = 25;
        den = 1;
    }
    std::fprintf(m_f, "YUV4MPEG2 W%d H%d F%d:%d Ip A0:0 %s\n", w, h, num, den, cf == 2 ? "C422" : "C420");
    return true;
}

bool Y4mWriter::write(const YuvFrame& f) {
    if (!m_f) return false;
    std::fputs("FRAME\n", m_f);
    for (const auto& p : f.plane)
        if (std::fwrite(p.data(), 1, p.size(), m_f) != p.size()) return false;
    return true;
}

Y4mWriter::~Y4mWriter() {
    if (m_f) std::fclose(m_f);
}

bool readY4m(const std::string& path, std::vector<YuvFrame>& frames, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return fail("cannot open");
    std::string header;
    int c;
    while ((c = std::fgetc(f)) != EOF && c != '\n') header += static_cast<char>(c);
    if (header.rfind("YUV4MPEG2", 0) != 0) {
        std::fclose(f);
        return fail("not a Y4M file");
    }
    int w = 0, h = 0, cf = 1;
    size_t pos = 0;
    while ((pos = header.find(' ', pos)) != std::string::npos) {
        ++pos;
        if (header[pos] == 'W') w = std::atoi(header.c_str() + pos + 1);
        if (header[pos] == 'H') h = std::atoi(header.c_str() + pos + 1);
        if (header[pos] == 'C') {
            if (header.compare(pos, 4, "C422") == 0)
                cf = 2;
            else if (header.compare(pos, 4, "C420") != 0) {
                std::fclose(f);
                return fail("unsupported chroma");
            }
        }
    }
    if (w <= 0 || h <= 0) {
        std::fclose(f);
        return fail("bad size");
    }
    for (;;) {
        std::string line;
        while ((c = std::fgetc(f)) != EOF && c != '\n') line += static_cast<char>(c);
        if (c == EOF) break;
        if (line.rfind("FRAME", 0) != 0) {
            std::fclose(f);
            return fail("bad frame header");
        }
        YuvFrame fr;
        fr.width = w;
        fr.height = h;
        fr.chromaFormat = cf;
        bool ok = true;
        for (int p = 0; p < 3; ++p) {
            const size_t n = p ? size_t(fr.chromaWidth()) * fr.chromaHeight() : size_t(w) * h;
            fr.plane[p].resize(n);
            if (std::fread(fr.plane[p].data(), 1, n, f) != n) ok = false;
        }
        if (!ok) break;
        frames.push_back(std::move(fr));
    }
    std::fclose(f);
    return true;
}

double planePsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0.0;
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        se += d * d;
    }
    if (se == 0) return 99.0;
    const double mse = se / double(a.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace kivra_test
