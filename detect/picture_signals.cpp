// Picture change and the station logo from the reduced I pictures.
//
// Change: the mean absolute difference of the luma of two GOPs' reduced I
// pictures (1/8 size, each sample the mean of an 8x8 block). Within a scene
// it stays low, motion included; at a cut between unrelated pictures it
// jumps.
//
// Logo: a station shows its logo in a corner during the programme and not in
// the spots. The reduced pictures blur it, but the logo is opaque enough
// that the differences between neighbouring samples inside it (its edges)
// keep their values whatever the programme shows, while the edges of the
// pictures themselves move. For every pair of adjacent samples in the four
// corners (a quarter of the width and height each) the most frequent strong
// difference (40 levels or more) is found, with the share of GOPs that have
// it. Pairs kept in 25 % to 97 % of the GOPs are the candidates (always the
// same: a border, or a recording without breaks; that tells nothing). Per
// corner, a GOP shows the logo when it has half of the candidates; then,
// four times over, only the candidates present in 80 % of the GOPs that
// show the logo and in at most 30 % of the others are kept, and a GOP shows
// the logo when it has 70 % of them. That drops a static picture's edges
// that some scenes share. The corner whose logo is shown in the most GOPs
// (at least a fifth of them) has the logo: a spot that stands still keeps
// its edges too, but not for as long as the programme. A logo drawn
// half-transparent over moving pictures changes with them and may not be
// found; the break rules then work without it.
#include "picture_signals.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace tavrel::detect {

namespace {

constexpr int kModeTolerance = 12;
constexpr int kPresentTolerance = 24;
constexpr double kMinStable = 0.25;
constexpr double kMaxStable = 0.97;
constexpr int kMinSamples = 3;
constexpr double kMinShown = 0.20;
constexpr int64_t kMinPictures = 20;
constexpr int kMinEdge = 40;   // levels between the two samples of a logo edge
constexpr double kNeed = 0.7;  // share of the logo's edges a GOP that shows it has
constexpr double kInRate = 0.8;
constexpr double kOutRate = 0.3;

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

    // The edges: every pair of horizontally or vertically adjacent samples
    // of a corner.
    const size_t perCorner = static_cast<size_t>(m_cornerW) * static_cast<size_t>(m_cornerH);
    const size_t perPicture = 4 * perCorner;
    struct Pair {
        uint32_t a, b;
        int usual = 0;
        double share = 0;
    };
    std::array<std::vector<Pair>, 4> pairs;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < m_cornerH; ++r)
            for (int x = 0; x < m_cornerW; ++x) {
                const uint32_t p = static_cast<uint32_t>(c * perCorner + size_t(r) * m_cornerW + x);
                if (x + 1 < m_cornerW) pairs[c].push_back({p, p + 1});
                if (r + 1 < m_cornerH) pairs[c].push_back({p, p + static_cast<uint32_t>(m_cornerW)});
            }
    const auto edgeOf = [&](int64_t g, const Pair& q) {
        const uint8_t* pic = &m_corners[static_cast<size_t>(g) * perPicture];
        return int(pic[q.a]) - int(pic[q.b]);
    };

    // The usual value of every edge and the share of GOPs that have it.
    // Strong edges kept in a fair share of the GOPs, but not in all, are the
    // candidates.
    std::array<std::vector<Pair>, 4> candidates;
    std::vector<int> hist(511);
    for (int c = 0; c < 4; ++c)
        for (Pair& q : pairs[c]) {
            // The most frequent strong value: flat picture (no edge) is the
            // most frequent of all in most places.
            std::fill(hist.begin(), hist.end(), 0);
            for (int64_t g = 0; g < n; ++g) {
                const int e = edgeOf(g, q);
                if (std::abs(e) >= kMinEdge - kModeTolerance) ++hist[size_t(e + 255)];
            }
            int window = 0;
            for (int v = 0; v <= kModeTolerance; ++v) window += hist[size_t(v)];
            int best = window, bestV = 0;
            for (int v = 1; v < 511; ++v) {
                if (v + kModeTolerance < 511) window += hist[size_t(v + kModeTolerance)];
                if (v - kModeTolerance - 1 >= 0) window -= hist[size_t(v - kModeTolerance - 1)];
                if (window > best && std::abs(v - 255) >= kMinEdge) best = window, bestV = v;
            }
            q.usual = bestV - 255;
            q.share = double(best) / double(n);
            if (std::abs(q.usual) >= kMinEdge && q.share >= kMinStable && q.share <= kMaxStable)
                candidates[c].push_back(q);
        }

    // Per corner: the GOPs that show the candidates, then again with only
    // the edges that are there in nearly every GOP that shows the logo and
    // seldom in the others. The corner whose logo is shown most steadily
    // (fewest changes between shown and not shown per GOP shown) wins.
    const auto matches = [&](int64_t g, const Pair& q) {
        return std::abs(edgeOf(g, q) - q.usual) <= kPresentTolerance;
    };
    const auto showings = [&](const std::vector<Pair>& mask, double need, std::vector<int8_t>& shown) {
        int64_t count = 0;
        for (int64_t g = 0; g < n; ++g) {
            size_t match = 0;
            for (const Pair& q : mask) match += matches(g, q) ? 1 : 0;
            shown[static_cast<size_t>(g)] = double(match) >= need * double(mask.size()) ? 1 : 0;
            count += shown[static_cast<size_t>(g)];
        }
        return count;
    };
    double bestScore = 0;
    for (int c = 0; c < 4; ++c) {
        std::vector<Pair> mask = candidates[c];
        if (static_cast<int>(mask.size()) < kMinSamples) continue;
        std::vector<int8_t> shown(static_cast<size_t>(n));
        int64_t shownCount = showings(mask, 0.5, shown);
        for (int round = 0; round < 4 && shownCount > 0 && shownCount < n; ++round) {
            std::vector<Pair> kept;
            for (const Pair& q : candidates[c]) {
                int64_t in = 0, outside = 0;
                for (int64_t g = 0; g < n; ++g)
                    if (matches(g, q)) ++(shown[static_cast<size_t>(g)] ? in : outside);
                if (double(in) >= kInRate * double(shownCount) && double(outside) <= kOutRate * double(n - shownCount))
                    kept.push_back(q);
            }
            if (static_cast<int>(kept.size()) < kMinSamples) break;
            const bool same = kept.size() == mask.size();
            mask = std::move(kept);
            shownCount = showings(mask, kNeed, shown);
            if (same) break;
        }
        if (double(shownCount) < kMinShown * double(n) || static_cast<int>(mask.size()) < kMinSamples) continue;
        const double score = double(shownCount);
        if (score <= bestScore) continue;
        bestScore = score;
        out.logoFound = true;
        out.logoCorner = c;
        out.logoSamples = static_cast<int>(mask.size());
        for (int64_t g = 0; g < n; ++g)
            out.logo[static_cast<size_t>(m_cornerGop[static_cast<size_t>(g)])] = shown[static_cast<size_t>(g)];
    }
}

}  // namespace tavrel::detect
