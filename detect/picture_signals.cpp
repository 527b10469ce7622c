// Picture change and the station logo from the reduced I pictures.
//
// Change: the mean absolute difference of the luma of two GOPs' reduced I
// pictures (1/8 size, each sample the mean of an 8x8 block). Within a scene
// it stays low, motion included; at a cut between unrelated pictures it
// jumps.
//
// Logo: a station shows its logo in a corner during the programme and not in
// the spots. In the reduced pictures that is a group of corner samples that
// keep one value (within a few levels) in a large share of the GOPs while
// the pictures around them change. For every sample of the four corners
// (a quarter of the width and height each) the most frequent value is
// found, with the share of GOPs that show it. Samples kept in 35 % to 97 %
// of the GOPs are logo candidates (always the same: a black border or a
// recording without breaks; that tells nothing), the corner with the most
// candidates is the logo's, and a GOP shows the logo when at least half of
// its candidates have their usual value. A logo is found when there are at
// least three candidates and at least 30 % of the GOPs show it. A logo drawn
// half-transparent over moving pictures changes with them and may not be
// found; the break rules then work without it.
#include "picture_signals.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace tavrel::detect {

namespace {

constexpr int kModeTolerance = 6;      // levels either side of the usual value
constexpr int kPresentTolerance = 10;  // a logo sample in a GOP that shows it
constexpr double kMinStable = 0.35;
constexpr double kMaxStable = 0.97;
constexpr int kMinSamples = 3;
constexpr double kMinShown = 0.30;
constexpr int64_t kMinPictures = 20;

}  // namespace

PictureCollector::PictureCollector(int64_t gopCount) : m_count(gopCount) {
    m_change.assign(static_cast<size_t>(std::max<int64_t>(gopCount, 0)), -1.0f);
    if (!m_change.empty()) m_change[0] = 0;
}

void PictureCollector::add(int64_t gop, const uint8_t* y, int width, int height) {
    if (gop < 0 || gop >= m_count) return;
    if (y == nullptr || width <= 0 || height <= 0) return;
    if (m_width == 0) {
        m_width = width;
        m_height = height;
        m_cornerW = std::max(2, width / 4);
        m_cornerH = std::max(2, height / 4);
    }
    if (width != m_width || height != m_height) return;  // another picture size: unknown
    ++m_pictures;
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (m_previousGop == gop - 1 && m_previous.size() == size) {
        uint64_t sum = 0;
        for (size_t i = 0; i < size; ++i) sum += static_cast<uint64_t>(std::abs(int(y[i]) - int(m_previous[i])));
        m_change[static_cast<size_t>(gop)] = static_cast<float>(double(sum) / double(size));
    }
    m_previous.assign(y, y + size);
    m_previousGop = gop;

    m_cornerGop.push_back(gop);
    for (int c = 0; c < 4; ++c) {
        const int x0 = (c & 1) ? width - m_cornerW : 0;
        const int y0 = (c & 2) ? height - m_cornerH : 0;
        for (int r = 0; r < m_cornerH; ++r) {
            const uint8_t* row = y + static_cast<size_t>(y0 + r) * static_cast<size_t>(width) + x0;
            m_corners.insert(m_corners.end(), row, row + m_cornerW);
        }
    }
}

void PictureCollector::finish(PictureSignals& out) {
    out = PictureSignals{};
    out.change = m_change;
    out.logo.assign(m_change.size(), -1);
    out.pictures = m_pictures;
    const int64_t n = static_cast<int64_t>(m_cornerGop.size());
    if (n < kMinPictures) return;

    const size_t perCorner = static_cast<size_t>(m_cornerW) * static_cast<size_t>(m_cornerH);
    const size_t perPicture = 4 * perCorner;
    // The usual value of every corner sample and the share of GOPs showing it.
    std::vector<int> usual(perPicture);
    std::vector<double> share(perPicture);
    std::array<int, 256> hist{};
    for (size_t p = 0; p < perPicture; ++p) {
        hist.fill(0);
        for (int64_t g = 0; g < n; ++g) ++hist[m_corners[static_cast<size_t>(g) * perPicture + p]];
        int window = 0;
        for (int v = 0; v <= kModeTolerance && v < 256; ++v) window += hist[v];
        int best = window, bestV = 0;
        for (int v = 1; v < 256; ++v) {
            if (v + kModeTolerance < 256) window += hist[v + kModeTolerance];
            if (v - kModeTolerance - 1 >= 0) window -= hist[v - kModeTolerance - 1];
            if (window > best) best = window, bestV = v;
        }
        usual[p] = bestV;
        share[p] = double(best) / double(n);
    }
    std::array<std::vector<size_t>, 4> candidates;
    for (size_t p = 0; p < perPicture; ++p)
        if (share[p] >= kMinStable && share[p] <= kMaxStable) candidates[p / perCorner].push_back(p);
    int corner = 0;
    for (int c = 1; c < 4; ++c)
        if (candidates[c].size() > candidates[corner].size()) corner = c;
    const std::vector<size_t>& mask = candidates[corner];
    if (static_cast<int>(mask.size()) < kMinSamples) return;

    std::vector<int8_t> shown(static_cast<size_t>(n));
    int64_t shownCount = 0;
    for (int64_t g = 0; g < n; ++g) {
        const uint8_t* pic = &m_corners[static_cast<size_t>(g) * perPicture];
        size_t match = 0;
        for (size_t p : mask)
            if (std::abs(int(pic[p]) - usual[p]) <= kPresentTolerance) ++match;
        shown[static_cast<size_t>(g)] = match * 2 >= mask.size() ? 1 : 0;
        shownCount += shown[static_cast<size_t>(g)];
    }
    if (double(shownCount) < kMinShown * double(n)) return;
    out.logoFound = true;
    out.logoCorner = corner;
    out.logoSamples = static_cast<int>(mask.size());
    for (int64_t g = 0; g < n; ++g)
        out.logo[static_cast<size_t>(m_cornerGop[static_cast<size_t>(g)])] = shown[static_cast<size_t>(g)];
}

}  // namespace tavrel::detect
