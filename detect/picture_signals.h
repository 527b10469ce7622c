// The picture signals of the break detector, from one reduced I picture per
// GOP (Kivra's DC pictures): how much the picture changed since the GOP
// before, and whether the station logo is in it.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrel::detect {

struct PictureSignals {
    std::vector<float> change;  // per GOP; -1 where either picture is missing
    std::vector<int8_t> logo;   // per GOP: 1 shown, 0 not, -1 not known
    bool logoFound = false;
    int logoCorner = -1;  // 0 top left, 1 top right, 2 bottom left, 3 bottom right
    int logoSamples = 0;  // reduced-picture samples the logo covers
    int64_t pictures = 0;
};

// Collects the luma planes of the GOPs' reduced pictures in GOP order and
// works out the signals at the end. It keeps the corners of every picture
// (a quarter of each side) until then: about 6 KB a GOP for HD.
class PictureCollector {
public:
    explicit PictureCollector(int64_t gopCount);
    // The reduced luma plane of GOP gop (width x height, no padding), or
    // nullptr when the GOP gave no picture. GOPs come in rising order.
    void add(int64_t gop, const uint8_t* y, int width, int height);
    void finish(PictureSignals& out);

private:
    int64_t m_count;
    int m_width = 0, m_height = 0;  // of the first picture; others must match
    int m_cornerW = 0, m_cornerH = 0;
    std::vector<uint8_t> m_previous;
    int64_t m_previousGop = -2;
    std::vector<float> m_change;
    std::vector<int64_t> m_cornerGop;  // the GOP of every stored set of corners
    std::vector<uint8_t> m_corners;    // 4 corners per stored picture
    int64_t m_pictures = 0;
};

}  // namespace tavrel::detect
