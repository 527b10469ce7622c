// The break rules on made-up signals: a recording of 0.5 s GOPs, the
// picture changing by 3 levels from GOP to GOP inside a scene and by 40 at
// a cut, the logo shown in the programme, and silences where the layout
// puts them.
#include <gtest/gtest.h>

#include <cmath>

#include "break_rules.h"

using namespace tavrel::detect;

namespace {

constexpr double kGop = 0.5;

struct Layout {
    double duration = 0;
    std::vector<double> cuts;                       // picture cuts (seconds)
    std::vector<double> pauses;                     // silences of 0.3 s centred here
    std::vector<std::pair<double, double>> noLogo;  // stretches without the logo
    bool logo = true;
};

Signals signalsOf(const Layout& l) {
    Signals s;
    const int n = static_cast<int>(std::lround(l.duration / kGop));
    for (int g = 0; g < n; ++g) s.gopTime.push_back(g * kGop);
    s.endTime = n * kGop;
    s.change.assign(n, 3.0f);
    s.change[0] = 0;
    // A cut at t shows in the first GOP whose I picture (shown at its start)
    // comes after it.
    for (double t : l.cuts) {
        const int g = static_cast<int>(std::ceil(t / kGop - 1e-9));
        if (g > 0 && g < n) s.change[g] = 40;
    }
    s.logo.assign(n, l.logo ? 1 : -1);
    for (auto [a, b] : l.noLogo)
        for (int g = 0; g < n; ++g)
            if (g * kGop >= a && g * kGop < b) s.logo[g] = 0;
    s.logoFound = l.logo;
    s.logoEdges = l.logo ? 12 : 0;
    for (double p : l.pauses) s.silences.push_back({p - 0.15, p + 0.15});
    return s;
}

// A break from a to b of spots cut at the given edges, each on a silence.
void addBreak(Layout& l, std::vector<double> edges) {
    for (double e : edges) {
        l.cuts.push_back(e);
        l.pauses.push_back(e);
    }
    l.noLogo.push_back({edges.front(), edges.back()});
}

int64_t gopAt(double t) { return std::lround(t / kGop); }

}  // namespace

// The shape of a broadcast: programme, a break of 15 + 30 + 15 s, programme
// with a pause on a scene cut and pauses inside scenes, a break of
// 30 + 15 + 15 s, programme. Exactly the two breaks are found, edge for edge.
TEST(BreakRules, BreaksOfSpotsAreFoundAndAProgrammePauseOnACutIsNot) {
    Layout l;
    l.duration = 300;
    l.cuts = {12, 27.3, 112, 131.5, 250, 271};
    l.pauses = {5.2, 9.1, 20.4, 131.5, 140.2, 155.7, 260.5};  // 131.5: the trap
    addBreak(l, {40.2, 55.2, 85.2, 100.2});
    addBreak(l, {170.7, 200.7, 215.7, 230.7});
    const Signals s = signalsOf(l);
    const std::vector<Break> b = findBreaks(s);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[0].firstGop, gopAt(40.2));
    EXPECT_EQ(b[0].endGop, gopAt(100.2));
    EXPECT_EQ(b[0].spots, (std::vector<double>{15, 30, 15}));
    EXPECT_EQ(b[1].firstGop, gopAt(170.7));
    EXPECT_EQ(b[1].endGop, gopAt(230.7));
    EXPECT_EQ(b[1].spots, (std::vector<double>{30, 15, 15}));

    const std::vector<Part> parts = partsBetween(b, 600);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].inGop, 0);
    EXPECT_EQ(parts[0].outGop, gopAt(40.2));
    EXPECT_EQ(parts[1].inGop, gopAt(100.2));
    EXPECT_EQ(parts[2].outGop, 600);
}

// Two programme pauses on cuts exactly one spot apart still show the logo
// between them; and a silence without a cut is no edge at all.
TEST(BreakRules, SpotLengthsInTheProgrammeAndSilencesWithoutCutsAreNoBreak) {
    Layout l;
    l.duration = 120;
    l.cuts = {30, 45, 90};
    l.pauses = {30, 45, 60, 75};  // 60 and 75: silences in one scene
    EXPECT_TRUE(findBreaks(signalsOf(l)).empty());
    EXPECT_EQ(findEdges(signalsOf(l)).size(), 2u);

    // The 15 s from 30 to 45 without the logo is a one-spot break.
    l.noLogo = {{30, 45}};
    const std::vector<Break> b = findBreaks(signalsOf(l));
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].spots, (std::vector<double>{15}));

    // A spot length is 15, 30 or 60 s within half a second: 15.6 is none.
    Layout m;
    m.duration = 120;
    addBreak(m, {30, 45.6});
    EXPECT_TRUE(findBreaks(signalsOf(m)).empty());
}

// Without a logo a lone spot-length stretch is taken for the programme; two
// spots in a row make a break.
TEST(BreakRules, WithoutALogoABreakNeedsTwoSpots) {
    Layout l;
    l.logo = false;
    l.duration = 200;
    l.cuts = {30, 45};
    l.pauses = {30, 45};
    EXPECT_TRUE(findBreaks(signalsOf(l)).empty());

    l.cuts.push_back(75);
    l.pauses.push_back(75);
    const std::vector<Break> b = findBreaks(signalsOf(l));
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].firstGop, gopAt(30));
    EXPECT_EQ(b[0].endGop, gopAt(75));
}

// A recording that starts inside a break's last spot and ends inside the
// next break: the logo-free stretches at both ends belong to the breaks.
TEST(BreakRules, BreaksRunToTheRecordingsStartAndEnd) {
    Layout l;
    l.duration = 150;
    l.cuts = {8, 38, 60};
    l.pauses = {8, 38, 130};
    l.noLogo = {{0, 38}, {130, 150}};
    l.cuts.push_back(130);
    const std::vector<Break> b = findBreaks(signalsOf(l));
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[0].firstGop, 0);
    EXPECT_EQ(b[0].endGop, gopAt(38));
    EXPECT_EQ(b[1].firstGop, gopAt(130));
    EXPECT_EQ(b[1].endGop, 300);
    const std::vector<Part> parts = partsBetween(b, 300);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].inGop, gopAt(38));
    EXPECT_EQ(parts[0].outGop, gopAt(130));

    // A faint logo (known by few edges) is not trusted with that: only the
    // whole 30 s spot between two edges goes, the stretches at the ends stay.
    Signals faint = signalsOf(l);
    faint.logoEdges = 4;
    const std::vector<Break> f = findBreaks(faint);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].firstGop, gopAt(8));
    EXPECT_EQ(f[0].endGop, gopAt(38));

    // A programme that simply starts and ends with the recording is kept
    // whole.
    Layout p;
    p.duration = 100;
    p.cuts = {10, 90};
    p.pauses = {10, 90};
    EXPECT_TRUE(findBreaks(signalsOf(p)).empty());
    EXPECT_EQ(partsBetween({}, 200).size(), 1u);
}
