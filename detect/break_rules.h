// The break structure: which silences are spot edges, which runs of them
// are commercial breaks, and the programme parts left between them. Pure
// functions over the per-GOP signals, so the rules can be tried on made-up
// signals.
#pragma once

#include <cstdint>
#include <vector>

#include "audio_levels.h"
#include "detect_job.h"

namespace tavrel::detect {

// What the signals say about one recording.
struct Signals {
    // Start time of every GOP in seconds (n entries, rising), and the end of
    // the last one.
    std::vector<double> gopTime;
    double endTime = 0;
    // Picture change from GOP g - 1 to GOP g (mean absolute luma difference
    // of their reduced I pictures, 0..255); entry 0 is 0. Negative where a
    // picture is missing.
    std::vector<float> change;
    // The station logo per GOP: 1 present, 0 absent, -1 not known.
    std::vector<int8_t> logo;
    bool logoFound = false;
    int logoEdges = 0;  // how many edges the logo was known by
    // Silences of the first audio stream, rising.
    std::vector<Silence> silences;
};

struct Rules {
    std::vector<double> spotLengths{15, 30, 60};
    double tolerance = 0.5;  // seconds either side of a spot length
    // A cut of the picture: at least cutRatio times the change around it,
    // and at least minCutChange.
    float minCutChange = 6;
    float cutRatio = 2.5;
    // A stretch is free of the logo when at most this share of its GOPs
    // shows it.
    double logoShare = 0.2;
    // Without a logo a break needs this many spots in a row.
    int spotsWithoutLogo = 2;
    // A spot cut off by the recording's start or end is taken on the logo's
    // word alone: only a logo known by this many edges is trusted with it.
    int logoEdgesAtEnds = 6;
};

// A candidate edge: a silence over a cut, placed on the GOP boundary nearest
// the silence's middle (gop: the first GOP after the edge; n for the end).
struct Edge {
    double time = 0;
    int64_t gop = 0;
};

// The silences that fall on a cut of the picture, one per GOP boundary.
std::vector<Edge> findEdges(const Signals& s, const Rules& rules = {});

// The breaks: runs of spot-length stretches between edges (and the
// recording's start and end), free of the logo where one was found.
std::vector<Break> findBreaks(const Signals& s, const Rules& rules = {});

// The programme parts: the GOPs [0, gopCount) without the breaks, in order,
// none empty.
std::vector<Part> partsBetween(const std::vector<Break>& breaks, int64_t gopCount);

}  // namespace tavrel::detect
