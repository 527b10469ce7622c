// How the breaks are found from the signals.
//
// Spot edges. Commercials are cut hard against each other and against the
// programme, and every edge sits in a short silence (0.1 s or more). A
// silence alone is no edge: speech has pauses every few seconds. So an edge
// is a silence at which the picture cuts as well: the reduced I pictures of
// the GOPs around the silence's middle differ by a fixed amount, or by a
// multiple of the change around them (fast motion changes the picture from
// GOP to GOP too). The edge is placed on the GOP boundary nearest the
// silence's middle; the silence is a few tenths of a second long and a GOP
// about half a second, so the edge lands within a GOP of the real cut.
//
// Spots. The stretch between two edges is a spot when it lasts 15, 30 or
// 60 seconds, within half a second. Where a station logo was found (see
// picture_signals.cpp), a spot must also be free of it: at most a fifth of
// its GOPs show it, and at most one of the first three and one of the last
// three. That is what keeps a programme pause on a scene cut out of the
// breaks: the stretch from it to any other edge shows the logo. Without a
// logo the rule is weaker, and a break needs two spots in a row.
//
// Breaks. The spots that overlap or share an edge form one break, from its
// first edge to its last. Where a logo was found by enough of its edges to
// be trusted, the recording's start and end count as edges too: a logo-free
// stretch of at most one spot length from the start to the first edge (or
// from the last edge to the end) is the rest of a spot the recording began
// or ended in. A faint logo may miss a programme scene, and a programme
// scene cut off is worse than a spot kept.
//
// Programme parts are what lies between the breaks.
#include "break_rules.h"

#include <algorithm>
#include <cmath>

namespace tavrel::detect {

namespace {

double boundaryTime(const Signals& s, int64_t b) {
    const int64_t n = static_cast<int64_t>(s.gopTime.size());
    return b < n ? s.gopTime[static_cast<size_t>(b)] : s.endTime;
}

// The GOP boundary (0..n) whose time is nearest t.
int64_t nearestBoundary(const Signals& s, double t) {
    int64_t b = std::lower_bound(s.gopTime.begin(), s.gopTime.end(), t) - s.gopTime.begin();
    if (b > 0 && t - boundaryTime(s, b - 1) < boundaryTime(s, b) - t) --b;
    return b;
}

float changeAt(const Signals& s, int64_t k) {
    if (k < 1 || k >= static_cast<int64_t>(s.change.size())) return -1;
    return s.change[static_cast<size_t>(k)];
}

float medianChange(const Signals& s, int64_t from, int64_t to) {
    std::vector<float> v;
    for (int64_t j = from; j <= to; ++j) {
        const float c = changeAt(s, j);
        if (c >= 0) v.push_back(c);
    }
    if (v.empty()) return -1;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// The change in the scene before k or in the one after it, whichever is
// calmer (the median of seven GOPs either side, without k's neighbours).
float localChange(const Signals& s, int64_t k) {
    const float before = medianChange(s, k - 8, k - 2), after = medianChange(s, k + 2, k + 8);
    if (before < 0) return std::max(after, 0.0f);
    if (after < 0) return before;
    return std::min(before, after);
}

// Whether the picture cuts at boundary b (between the I pictures of the GOPs
// either side of it). Where no picture is known around b, it may.
bool cutsAt(const Signals& s, int64_t b, const Rules& r) {
    bool known = false;
    for (int64_t k = b - 1; k <= b + 1; ++k) {
        const float c = changeAt(s, k);
        if (c < 0) continue;
        known = true;
        if (c >= r.minCutChange && c >= r.cutRatio * localChange(s, k)) return true;
    }
    return !known;
}

struct Node {
    double time = 0;
    int64_t gop = 0;
    bool recordingEdge = false;  // the start or the end of the recording
};

// Whether GOPs [first, end) are free of the logo.
bool logoFree(const Signals& s, int64_t first, int64_t end, const Rules& r) {
    int known = 0, shown = 0;
    int headShown = 0, tailShown = 0;
    for (int64_t g = first; g < end; ++g) {
        const int8_t v = g < static_cast<int64_t>(s.logo.size()) ? s.logo[static_cast<size_t>(g)] : -1;
        if (v < 0) continue;
        ++known;
        if (v == 1) {
            ++shown;
            if (g < first + 3) ++headShown;
            if (g >= end - 3) ++tailShown;
        }
    }
    if (known == 0) return false;
    return shown <= r.logoShare * known && headShown <= 1 && tailShown <= 1;
}

bool spotLength(double len, const Rules& r) {
    for (double l : r.spotLengths)
        if (std::abs(len - l) <= r.tolerance) return true;
    return false;
}

double longestSpot(const Rules& r) {
    double m = 0;
    for (double l : r.spotLengths) m = std::max(m, l);
    return m + r.tolerance;
}

}  // namespace

std::vector<Edge> findEdges(const Signals& s, const Rules& rules) {
    std::vector<Edge> edges;
    const int64_t n = static_cast<int64_t>(s.gopTime.size());
    if (n == 0) return edges;
    std::vector<Silence> silences = s.silences;
    std::sort(silences.begin(), silences.end(), [](const Silence& a, const Silence& b) { return a.start < b.start; });
    for (const Silence& q : silences) {
        const double mid = (q.start + q.end) / 2;
        const int64_t b = nearestBoundary(s, mid);
        if (b <= 0 || b >= n) continue;  // the recording's own edges
        if (!edges.empty() && edges.back().gop >= b) continue;
        if (!cutsAt(s, b, rules)) continue;
        edges.push_back({mid, b});
    }
    return edges;
}

std::vector<Break> findBreaks(const Signals& s, const Rules& rules) {
    std::vector<Break> breaks;
    const int64_t n = static_cast<int64_t>(s.gopTime.size());
    if (n == 0) return breaks;

    // The recording's start and end are edges only where the logo can tell
    // a spot that was cut off from the programme.
    const bool ends = s.logoFound && s.logoEdges >= rules.logoEdgesAtEnds;
    std::vector<Node> nodes;
    if (ends) nodes.push_back({s.gopTime[0], 0, true});
    for (const Edge& e : findEdges(s, rules)) nodes.push_back({e.time, e.gop, false});
    if (ends) nodes.push_back({s.endTime, n, true});

    const double reach = longestSpot(rules);
    const auto valid = [&](size_t i, size_t j) {
        const double len = nodes[j].time - nodes[i].time;
        if (nodes[j].gop <= nodes[i].gop) return false;
        if (s.logoFound) {
            if (!logoFree(s, nodes[i].gop, nodes[j].gop, rules)) return false;
            if (nodes[i].recordingEdge || nodes[j].recordingEdge) return len <= reach;
        }
        return spotLength(len, rules);
    };

    // Spot stretches, then the runs they form.
    std::vector<std::pair<size_t, size_t>> spots;
    for (size_t i = 0; i < nodes.size(); ++i)
        for (size_t j = i + 1; j < nodes.size() && nodes[j].time - nodes[i].time <= reach; ++j)
            if (valid(i, j)) spots.push_back({i, j});
    std::sort(spots.begin(), spots.end());

    size_t k = 0;
    while (k < spots.size()) {
        size_t first = spots[k].first, last = spots[k].second;
        size_t m = k + 1;
        while (m < spots.size() && spots[m].first <= last) last = std::max(last, spots[m++].second);
        // The finest run of spots from first to last: the most stretches.
        std::vector<int> count(last - first + 1, -1);
        std::vector<size_t> from(last - first + 1, first);
        count[0] = 0;
        for (size_t q = k; q < m; ++q) {
            // spots are sorted by their start, so every way into a node is
            // known before the node is left
            const auto [i, j] = spots[q];
            if (count[i - first] >= 0 && count[i - first] + 1 > count[j - first]) {
                count[j - first] = count[i - first] + 1;
                from[j - first] = i;
            }
        }
        k = m;
        Break br;
        br.firstGop = nodes[first].gop;
        br.endGop = nodes[last].gop;
        br.start = nodes[first].time - s.gopTime[0];
        br.end = nodes[last].time - s.gopTime[0];
        if (count[last - first] > 0) {
            for (size_t j = last; j != first; j = from[j - first]) {
                const size_t i = from[j - first];
                br.spots.push_back(std::round((nodes[j].time - nodes[i].time) * 10) / 10);
            }
            std::reverse(br.spots.begin(), br.spots.end());
        } else {
            br.spots.push_back(std::round((nodes[last].time - nodes[first].time) * 10) / 10);
        }
        if (!s.logoFound && static_cast<int>(br.spots.size()) < rules.spotsWithoutLogo) continue;
        if (br.endGop > br.firstGop) breaks.push_back(std::move(br));
    }
    return breaks;
}

std::vector<Part> partsBetween(const std::vector<Break>& breaks, int64_t gopCount) {
    std::vector<Part> parts;
    int64_t at = 0;
    for (const Break& b : breaks) {
        if (b.firstGop > at) parts.push_back({at, std::min(b.firstGop, gopCount)});
        at = std::max(at, b.endGop);
    }
    if (at < gopCount) parts.push_back({at, gopCount});
    return parts;
}

}  // namespace tavrel::detect
