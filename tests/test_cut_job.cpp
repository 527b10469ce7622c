#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cut_job.h"
#include "cut_test_util.h"
#include "edit_state.h"
#include "file.h"
#include "gop_scan.h"
#include "program_tables.h"
#include "recording_host.h"
#include "test_util.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

// A recording copied into the test folder with its GOP list and its units.
struct Rec {
    std::string path;
    GopList gops;
    PacketGeometry geo;
    Units units;
    int64_t packet(size_t gop) const { return gops.at(gop).packet; }
    size_t lastIndex() const { return gops.size() - 1; }
};

Rec load(const TempDir& dir, const std::string& name) {
    Rec r;
    r.path = dir.copy(name);
    EditState s;
    s.inputPath = r.path;
    RecordingHost scanHost;
    EXPECT_TRUE(obtainGopList(s, scanHost)) << name;
    r.gops = s.gopList;
    r.geo = s.geometry;
    r.units.bytes = readBytes(r.path);
    r.units.size = r.geo.size;
    r.units.sync = r.geo.syncOffset;
    return r;
}

// Adds GOPs in..out-1 of r as "→" would, without margins.
void addRange(EditState& s, const Rec& r, int64_t in, int64_t out) {
    s.inputPath = r.path;
    s.geometry = r.geo;
    s.gopList = r.gops;
    s.inMark = in;
    s.outMark = out;
    RecordingHost h;
    ASSERT_TRUE(addClip(s, h));
}

EditState jobFor(const TempDir& dir, const Rec& geometryOf) {
    EditState s;
    s.outputPath = dir.path("out.ts");
    s.geometry = geometryOf.geo;
    return s;
}

// The copy as a caller runs it: busy on, the job, the finish.
CutOutcome runJob(EditState& s, RecordingHost& host, CutJob& job) {
    host.setBusy(true);
    const CutOutcome outcome = runCutJob(s, host, job);
    finishCutJob(host, job);
    return outcome;
}

CutOutcome run(EditState& s, RecordingHost& host) {
    CutJob job;
    return runJob(s, host, job);
}

Bytes output(const EditState& s) { return readBytes(s.outputPath); }

// The i-th rewritten GOP time code of a job: i / 2 seconds, picture 0 or 15.
Bytes timeCodeWord(int i) {
    const uint32_t w = (1u << 19) | (static_cast<uint32_t>(i / 2) << 13) | (static_cast<uint32_t>((i % 2) * 15) << 7);
    return {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 8),
            static_cast<uint8_t>(w)};
}

// Where the GOP start code sits inside a unit's packet, or -1.
int gopHeaderOffset(const uint8_t* packet) {
    for (int i = 0; i + 8 <= 188; ++i)
        if (packet[i] == 0 && packet[i + 1] == 0 && packet[i + 2] == 1 && packet[i + 3] == 0xB8) return i;
    return -1;
}

// Expected bytes of one clip: the units first..last (inclusive), kept by
// keep(), GOP-opening units given the next time code, 192-byte units
// stripped to 188 when asked.
struct Treatments {
    std::function<bool(int pid)> keep;
    bool rewriteTc = false;
    bool strip = false;
};

Bytes expectedClip(const Rec& r, int64_t first, int64_t last, const Treatments& t, int& tcIndex) {
    std::set<int64_t> gopUnits;
    for (const GopEntry& g : r.gops)
        if (!g.isLast()) gopUnits.insert(g.packet);
    Bytes out;
    for (int64_t n = first; n <= last && n < r.units.count(); ++n) {
        if (t.keep && !t.keep(r.units.pid(n))) continue;
        Bytes unit(r.units.unit(n), r.units.unit(n) + r.units.size);
        if (t.rewriteTc && gopUnits.count(n)) {
            const int at = gopHeaderOffset(unit.data() + r.units.sync);
            if (at >= 0 && at <= 180) {
                const Bytes w = timeCodeWord(tcIndex++);
                std::copy(w.begin(), w.end(), unit.begin() + r.units.sync + at + 4);
            }
        }
        if (t.strip)
            append(out, unit.data() + 4, 188);
        else
            append(out, unit);
    }
    return out;
}

Bytes plainClip(const Rec& r, int64_t first, int64_t last) {
    int unused = 0;
    return expectedClip(r, first, last, Treatments{}, unused);
}

// The clip start after the PCR adjustment: the packet where the second
// change of PCR value is seen walking back from start.
int64_t adjustedStart(const Rec& r, int64_t start) {
    int64_t remembered = -1;
    int changes = 0;
    int64_t earliest = -1;
    for (int64_t n = start - 1; n >= 0; --n) {
        earliest = n;
        const int64_t pcr = r.units.pcr(n);
        if (pcr < 0) continue;
        if (remembered < 0) {
            remembered = pcr;
        } else if (pcr != remembered) {
            if (++changes == 2) return n;
            remembered = pcr;
        }
    }
    return earliest > 0 ? earliest : start;
}

// The packets the clip-head insertion writes before a clip at start.
Bytes expectedHead(const Rec& r, int64_t start, bool strip) {
    const Units& u = r.units;
    int64_t pat = start - 1;
    while (u.pid(pat) != 0) --pat;
    const uint8_t* p = u.packet(pat);
    int pmtPid = 0;
    for (int i = 13; i + 4 <= 188; i += 4) {
        if ((p[i] << 8 | p[i + 1]) != 0) {
            pmtPid = ((p[i + 2] & 0x1F) << 8) | p[i + 3];
            break;
        }
    }
    int64_t pmt = pat + 1;
    while (u.pid(pmt) != pmtPid) ++pmt;
    const int pcrPid = ((u.packet(pmt)[13] & 0x1F) << 8) | u.packet(pmt)[14];
    int64_t nearer = start - 1;
    while (u.pid(nearer) != pcrPid) --nearer;
    int64_t earlier = nearer - 1;
    while (u.pid(earlier) != pcrPid) --earlier;

    Bytes out;
    const int64_t units[3] = {pat, earlier, nearer};
    const int64_t examined = std::min<int64_t>(6, start - pat);
    for (int i = 0; i < 3; ++i) {
        if (u.size == 192 && !strip) {
            // Prefixes of the units start-3, start-2, start-1 when the PAT
            // search reached them, else zero.
            const int64_t from = start - (3 - i);
            if (start - from <= examined)
                append(out, u.unit(from), 4);
            else
                append(out, Bytes(4, 0));
            append(out, u.packet(units[i]), 188);
        } else if (u.size == 204 || u.size == 208) {
            append(out, u.unit(units[i]), static_cast<size_t>(u.size));
        } else {
            append(out, u.packet(units[i]), 188);
        }
    }
    return out;
}

std::vector<std::string> tail(const std::vector<std::string>& v, size_t n) {
    return std::vector<std::string>(v.end() - static_cast<long>(std::min(n, v.size())), v.end());
}

const char* const kSameFile = "message error: 出力ファイルが入力ファイルと同じです";

}  // namespace

TEST(CutJob, CopiesGopRangesForEveryPacketSize) {
    TempDir dir;
    for (const char* name : {"sd_480p_mp2.ts", "hd_1080i_aac_192.ts", "sd_480p_204.ts", "sd_480p_208.ts"}) {
        SCOPED_TRACE(name);
        const Rec r = load(dir, name);
        EditState s = jobFor(dir, r);
        addRange(s, r, 1, 3);              // GOPs 1 and 2: the out-GOP is not copied
        addRange(s, r, 4, r.lastIndex());  // to the end of the file
        RecordingHost host;
        ASSERT_EQ(run(s, host), CutOutcome::Completed);
        Bytes want = plainClip(r, r.packet(1), r.packet(3) - 1);
        append(want, plainClip(r, r.packet(4), r.units.count() - 1));
        EXPECT_EQ(output(s), want);
        EXPECT_EQ(host.events.front(), "busy on");
        EXPECT_EQ(host.events[1], "progress range 200");
        EXPECT_EQ(host.events[2], "progress 0");
        EXPECT_EQ(tail(host.events, 3), (std::vector<std::string>{"progress 0", "busy off", "title Tavrel Cutter"}));
        EXPECT_TRUE(host.messages().empty());
    }
}

TEST(CutJob, ProgressAndTitleFollowTheBlocks) {
    TempDir dir;
    const Rec r = load(dir, "sd_480p_mp2.ts");
    EditState s = jobFor(dir, r);
    addRange(s, r, 1, 3);  // packets 1456..3229
    addRange(s, r, 5, 6);  // packets 4929..5778
    RecordingHost host;
    ASSERT_EQ(run(s, host), CutOutcome::Completed);
    std::vector<int> positions;
    for (size_t i = 0; i < host.events.size(); ++i) {
        const std::string& e = host.events[i];
        if (e.rfind("progress ", 0) != 0 || e.rfind("progress range", 0) == 0) continue;
        const int pos = std::stoi(e.substr(9));
        if (i == 2 || i + 3 == host.events.size()) continue;  // the resets to 0
        positions.push_back(pos);
        ASSERT_LT(i + 1, host.events.size());
        EXPECT_EQ(host.events[i + 1], "title " + std::to_string(pos / 2) + "％");
    }
    ASSERT_FALSE(positions.empty());
    // First block 1400..1499: (1499 - 1456) * 100 / (3229 - 1456) = 2.
    EXPECT_EQ(positions.front(), 2);
    // Block 3200..3299 reaches past the end: the first clip stops at 100.
    EXPECT_NE(std::find(positions.begin(), positions.end(), 100), positions.end());
    // Second clip, first block 4900..4999: 100 + 70 * 100 / 849 = 108.
    EXPECT_NE(std::find(positions.begin(), positions.end(), 108), positions.end());
    EXPECT_EQ(positions.back(), 200);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(std::adjacent_find(positions.begin(), positions.end()), positions.end());  // no repeats
}

TEST(CutJob, OnePacketClipShowsFullProgress) {
    TempDir dir;
    const Rec r = load(dir, "sd_480p_mp2.ts");
    EditState s = jobFor(dir, r);
    Clip c;
    c.sourcePath = r.path;
    c.startPacket = 250;
    c.endPacket = 251;  // end = 250
    c.outTimeCode = "00:00:01  00";
    s.clipList.clips.push_back(c);
    RecordingHost host;
    ASSERT_EQ(run(s, host), CutOutcome::Completed);
    EXPECT_EQ(output(s), plainClip(r, 250, 250));
    EXPECT_EQ(host.events, (std::vector<std::string>{"busy on", "progress range 100", "progress 0", "progress 100",
                                                     "title 100％", "progress 0", "busy off", "title Tavrel Cutter"}));
}

TEST(CutJob, JoinsRecordingsWithTheFirstClipsGeometry) {
    TempDir dir;
    const Rec sd = load(dir, "sd_480p_mp2.ts");
    const Rec hd = load(dir, "hd_1080i_aac.ts");
    EditState s = jobFor(dir, sd);
    addRange(s, sd, 2, 4);
    addRange(s, hd, 1, hd.lastIndex());
    addRange(s, sd, 0, 1);
    RecordingHost host;
    ASSERT_EQ(run(s, host), CutOutcome::Completed);
    Bytes want = plainClip(sd, sd.packet(2), sd.packet(4) - 1);
    append(want, plainClip(hd, hd.packet(1), hd.units.count() - 1));
    append(want, plainClip(sd, sd.packet(0), sd.packet(1) - 1));
    EXPECT_EQ(output(s), want);
}

TEST(CutJob, PartialLastUnitIsNotCopied) {
    TempDir dir;
    const Rec r = load(dir, "truncated_last_packet.ts");
    ASSERT_NE(r.units.bytes.size() % 188, 0u);
    EditState s = jobFor(dir, r);
    addRange(s, r, 2, r.lastIndex());
    RecordingHost host;
    ASSERT_EQ(run(s, host), CutOutcome::Completed);
    EXPECT_EQ(output(s), plainClip(r, r.packet(2), r.units.count() - 1));
}

TEST(CutJob, Out188StripsPrefixesOnlyOf192ByteUnits) {
    TempDir dir;
    const Rec hd = load(dir, "hd_1080i_aac_192.ts");
    EditState s = jobFor(dir, hd);
    s.settings.out188 = 1;
    addRange(s, hd, 1, 4);
    addRange(s, hd, 5, hd.lastIndex());
    RecordingHost host;
    ASSERT_EQ(run(s, host), CutOutcome::Completed);
    int unused = 0;
    Bytes want = expectedClip(hd, hd.packet(1), hd.packet(4) - 1, {nullptr, false, true}, unused);
    append(want, expectedClip(hd, hd.packet(5), hd.units.count() - 1, {nullptr, false, true}, unused));
    EXPECT_EQ(output(s).size() % 188, 0u);
    EXPECT_EQ(output(s), want);

    for (const char* name : {"sd_480p_mp2.ts", "sd_480p_208.ts"}) {
        const Rec r = load(dir, name);
        EditState t = jobFor(dir, r);
        t.settings.out188 = 1;
        addRange(t, r, 1, 3);
        ASSERT_EQ(run(t, host), CutOutcome::Completed);
        EXPECT_EQ(output(t), plainClip(r, r.packet(1), r.packet(3) - 1)) << name;
    }
}

TEST(CutJob, PidFilterKeepsCheckedPids) {
    TempDir dir;
    for (const char* name : {"sd_480p_mp2.ts", "sd_480p_208.ts"}) {
        SCOPED_TRACE(name);
        const Rec r = load(dir, name);
        EditState s = jobFor(dir, r);
        s.inputPath = r.path;
        RecordingHost host;
        acquirePids(s, host, 0, ProgramListChoice::Clipping);
        ASSERT_EQ(s.pidList.count(), 6u);
        ProgramEntry* audio = findProgramEntry(s.pidList, kKindAudio, FindBy::Kind);
        ASSERT_NE(audio, nullptr);
        audio->selected = 0;
        s.settings.selectPid = 1;
        addRange(s, r, 1, 4);
        ASSERT_EQ(run(s, host), CutOutcome::Completed);
        // Audio is unchecked; the SDT (0x11) is not in the list at all.
        const std::set<int> kept{0x0000, 0x1000, 0x0100, 0x1FFF};
        int unused = 0;
        const Bytes want = expectedClip(r, r.packet(1), r.packet(4) - 1,
                                        {[&](int pid) { return kept.count(pid) > 0; }, false, false}, unused);
        EXPECT_EQ(output(s), want);
        EXPECT_LT(want.size(), plainClip(r, r.packet(1), r.packet(4) - 1).size());

        // With an empty list the filter is off.
        s.pidList.clear();
        ASSERT_EQ(run(s, host), CutOutcome::Completed);
        EXPECT_EQ(output(s), plainClip(r, r.packet(1), r.packet(4) - 1));
    }
}

TEST(CutJob, TimeCodeCounterRunsAcrossClipsAndRestartsWithTheJob) {
    TempDir dir;
    const Rec r = load(dir, "sd_480p_mp2.ts");
    EditState s = jobFor(dir, r);
    s.settings.rewriteTc = 1;
    addRange(s, r, 0, 2);
    addRange(s, r, 4, r.lastIndex());
    for (int job = 0; job < 2; ++job) {
        RecordingHost host;
        ASSERT_EQ(run(s, host), CutOutcome::Completed);
        int tc = 0;
        Bytes want = expectedClip(r, r.packet(0), r.packet(2) - 1, {nullptr, true, false}, tc);
        append(want, expectedClip(r, r.packet(4), r.units.count() - 1, {nullptr, true, false}, tc));
        EXPECT_EQ(tc, 5);  // GOPs 0, 1, 4, 5, 6
        EXPECT_EQ(output(s), want);
    }
    // The rewritten words read 00:00:00 00, 00:00:00 15, 00:00:01 00, ...
    const Bytes out = output(s);
    const int at = gopHeaderOffset(out.data()) + 4;
    EXPECT_EQ(Bytes(out.begin() + at, out.begin() + at + 4), (Bytes{0x00, 0x08, 0x00, 0x00}));
    const int64_t second = r.packet(1) - r.packet(0);
    const int at2 = gopHeaderOffset(out.data() + second * 188) + 4;
    EXPECT_EQ(Bytes(out.begin() + second * 188 + at2, out.begin() + second * 188 + at2 + 4),
              (Bytes{0x00, 0x08, 0x07, 0x80}));
}

TEST(CutJob, TimeCodeRewriteSkipsGopHeadersInTheNextPacket) {
    TempDir dir;
    const Rec r = load(dir, "gop_header_next_packet.ts");
    ASSERT_EQ(r.gops.size(), 7u);
    // GOPs 1 and 3 open with a packet that holds no GOP header.
    for (size_t g = 0; g < 6; ++g) EXPECT_EQ(gopHeaderOffset(r.units.packet(r.packet(g))) >= 0, g != 1 && g != 3) << g;
    EditState s = jobFor(dir, r);
    s.settings.rewriteTc = 1;
    addRange(s, r, 0, r.lastIndex());
    RecordingHost host;
    ASSERT_EQ(run(s, host), CutOutcome::Completed);
    int tc = 0;
    const Bytes want = expectedClip(r, r.packet(0), r.units.count() - 1, {nullptr, true, false}, tc);
    EXPECT_EQ(tc, 4);
    EXPECT_EQ(output(s), want);
    // The GOP header that follows in the next packet of the video PID keeps
    // its time code.
    const Units& u = r.units;
    int64_t n = r.packet(1) + 1;
    while (u.pid(n) != u.pid(r.packet(1))) ++n;
    ASSERT_GE(gopHeaderOffset(u.packet(n)), 0);
    const Bytes out = output(s);
    const int64_t at = (n - r.packet(0)) * 188;
    EXPECT_TRUE(std::equal(out.begin() + at, out.begin() + at + 188, u.packet(n)));
}

TEST(CutJob, ClipHeadPacketsGoBeforeLaterClipsOnly) {
    TempDir dir;
    struct Case {
        const char* name;
        bool out188;
    };
    for (Case c : {Case{"sd_480p_mp2.ts", false}, Case{"hd_1080i_aac_192.ts", false}, Case{"hd_1080i_aac_192.ts", true},
                   Case{"sd_480p_204.ts", false}, Case{"sd_480p_208.ts", false}, Case{"hd_1080i_aac.ts", false}}) {
        SCOPED_TRACE(std::string(c.name) + (c.out188 ? " 188out" : ""));
        const Rec r = load(dir, c.name);
        EditState s = jobFor(dir, r);
        s.settings.addAcp = 1;
        s.settings.out188 = c.out188 ? 1 : 0;
        addRange(s, r, 1, 2);
        addRange(s, r, 3, 5);
        RecordingHost host;
        ASSERT_EQ(run(s, host), CutOutcome::Completed);
        const bool strip = c.out188 && r.geo.size == 192;
        int unused = 0;
        Bytes want = expectedClip(r, r.packet(1), r.packet(2) - 1, {nullptr, false, strip}, unused);
        append(want, expectedHead(r, r.packet(3), strip));
        append(want, expectedClip(r, r.packet(3), r.packet(5) - 1, {nullptr, false, strip}, unused));
        EXPECT_EQ(output(s), want);
    }
}

TEST(CutJob, ClipHeadPrefixesAreZeroWhenThePatIsJustBeforeTheStart) {
    TempDir dir;
    const Rec r = load(dir, "hd_1080i_aac_192.ts");
    // Find a PAT unit and start the second clip right after it.
    int64_t pat = r.packet(2);
    while (r.units.pid(pat) != 0) ++pat;
    EditState s = jobFor(dir, r);
    s.settings.addAcp = 1;
    addRange(s, r, 0, 1);
    Clip c = s.clipList.clips[0];
    c.startPacket = pat + 1;
    c.endPacket = pat + 11;
    s.clipList.clips.push_back(c);
    RecordingHost host;
    ASSERT_EQ(run(s, host), CutOutcome::Completed);
    const Bytes out = output(s);
    const size_t head = static_cast<size_t>(r.packet(1) - r.packet(0)) * 192;
    ASSERT_EQ(out.size(), head + 3 * 192 + 10 * 192);
    EXPECT_EQ(Bytes(out.begin() + head, out.begin() + head + 4), Bytes(4, 0));          // prefix 3
    EXPECT_EQ(Bytes(out.begin() + head + 192, out.begin() + head + 196), Bytes(4, 0));  // prefix 4
    EXPECT_EQ(Bytes(out.begin() + head + 384, out.begin() + head + 388),
              Bytes(r.units.unit(pat), r.units.unit(pat) + 4));  // prefix 5
    EXPECT_EQ(Bytes(out.begin() + head, out.begin() + head + 3 * 192), expectedHead(r, pat + 1, false));
}

TEST(CutJob, PcrAdjustmentMovesLaterClipStartsBack) {
    TempDir dir;
    for (const char* name : {"sd_480p_mp2.ts", "hd_1080i_aac_192.ts"}) {
        SCOPED_TRACE(name);
        const Rec r = load(dir, name);
        EditState s = jobFor(dir, r);
        s.settings.adjustPcr = 1;
        addRange(s, r, 1, 2);
        addRange(s, r, 3, 5);
        RecordingHost host;
        ASSERT_EQ(run(s, host), CutOutcome::Completed);
        const int64_t moved = adjustedStart(r, r.packet(3));
        ASSERT_LT(moved, r.packet(3));
        ASSERT_GT(moved, r.packet(2));
        Bytes want = plainClip(r, r.packet(1), r.packet(2) - 1);
        append(want, plainClip(r, moved, r.packet(5) - 1));
        EXPECT_EQ(output(s), want);

        // Only the value 1 turns the adjustment on.
        s.settings.adjustPcr = 2;
        ASSERT_EQ(run(s, host), CutOutcome::Completed);
        want = plainClip(r, r.packet(1), r.packet(2) - 1);
        append(want, plainClip(r, r.packet(3), r.packet(5) - 1));
        EXPECT_EQ(output(s), want);
    }
}

TEST(CutJob, AllTreatmentsCombined) {
    TempDir dir;
    for (const char* name : {"hd_1080i_aac_192.ts", "sd_480p_mp2.ts", "sd_480p_208.ts"}) {
        SCOPED_TRACE(name);
        const Rec r = load(dir, name);
        EditState s = jobFor(dir, r);
        s.inputPath = r.path;
        RecordingHost host;
        acquirePids(s, host, 0, ProgramListChoice::Clipping);
        ASSERT_GE(s.pidList.count(), 4u);
        // Keep the minimum set: drops NULL and everything outside the list.
        std::set<int> kept;
        for (ProgramEntry& e : s.pidList.entries) {
            e.selected = e.minimum;
            if (e.minimum) kept.insert(e.pid);
        }
        s.settings.selectPid = 1;
        s.settings.rewriteTc = 1;
        s.settings.addAcp = 1;
        s.settings.adjustPcr = 1;
        s.settings.out188 = 1;
        addRange(s, r, 0, 2);
        addRange(s, r, 3, 4);
        addRange(s, r, 1, 2);
        ASSERT_EQ(run(s, host), CutOutcome::Completed);

        const bool strip = r.geo.size == 192;
        const Treatments t{[&](int pid) { return kept.count(pid) > 0; }, true, strip};
        int tc = 0;
        Bytes want = expectedClip(r, r.packet(0), r.packet(2) - 1, t, tc);
        const int64_t second = adjustedStart(r, r.packet(3));
        append(want, expectedHead(r, second, strip));
        append(want, expectedClip(r, second, r.packet(4) - 1, t, tc));
        const int64_t third = adjustedStart(r, r.packet(1));
        append(want, expectedHead(r, third, strip));
        append(want, expectedClip(r, third, r.packet(2) - 1, t, tc));
        EXPECT_EQ(tc, 4);
        EXPECT_EQ(output(s), want);
    }
}

TEST(CutJob, OutputThatIsARecordingIsRefusedBeforeAnythingIsCreated) {
    TempDir dir;
    const Rec r = load(dir, "sd_480p_mp2.ts");
    const Rec other = load(dir, "hd_1080i_aac.ts");
    const Bytes original = readBytes(r.path);
    std::filesystem::create_directory(dir.path("sub"));
    std::filesystem::create_hard_link(r.path, dir.path("hardlink.ts"));
    std::filesystem::create_symlink(r.path, dir.path("symlink.ts"));

    const std::string outputs[] = {r.path, dir.path("hardlink.ts"), dir.path("symlink.ts"),
                                   dir.path("sub/../sd_480p_mp2.ts"), dir.path("./sd_480p_mp2.ts")};
    for (const std::string& out : outputs) {
        SCOPED_TRACE(out);
        EditState s = jobFor(dir, r);
        addRange(s, other, 0, 1);
        addRange(s, r, 1, 2);  // the second clip's recording
        s.outputPath = out;
        RecordingHost host;
        host.answers.push_back(kResultYes);
        CutJob job;
        EXPECT_FALSE(startCutJob(s, host, false, job));
        EXPECT_FALSE(job.running);
        EXPECT_EQ(host.events, std::vector<std::string>{kSameFile});
        EXPECT_EQ(readBytes(r.path), original);

        // The job itself refuses as well, without creating the output.
        RecordingHost direct;
        EXPECT_EQ(runCutJob(s, direct, job), CutOutcome::Refused);
        EXPECT_EQ(readBytes(r.path), original);
        EXPECT_EQ(direct.messages(), std::vector<std::string>{"error: 出力ファイルが入力ファイルと同じです"});
    }

    // A recording that is gone: the output would be created in its place.
    EditState s = jobFor(dir, r);
    addRange(s, r, 1, 2);
    s.clipList.clips[0].sourcePath = dir.path("gone.ts");
    s.outputPath = dir.path("sub/../gone.ts");
    RecordingHost host;
    CutJob job;
    EXPECT_FALSE(startCutJob(s, host, false, job));
    EXPECT_EQ(host.events, std::vector<std::string>{kSameFile});
    EXPECT_FALSE(fileExists(dir.path("gone.ts")));

    // A different file in the same folder is fine.
    s.clipList.clips[0].sourcePath = r.path;
    s.outputPath = dir.path("cut.ts");
    RecordingHost ok;
    ASSERT_TRUE(startCutJob(s, ok, false, job));
    EXPECT_TRUE(job.running);  // before any thread could start the copy
    runJob(s, ok, job);
    EXPECT_FALSE(job.running);
    EXPECT_EQ(job.outcome, CutOutcome::Completed);
    EXPECT_EQ(readBytes(dir.path("cut.ts")), plainClip(r, r.packet(1), r.packet(2) - 1));
}

TEST(CutJob, StartChecksAndOverwriteQuestion) {
    TempDir dir;
    const Rec r = load(dir, "sd_480p_mp2.ts");
    CutJob job;
    {
        EditState s = jobFor(dir, r);
        RecordingHost host;
        EXPECT_FALSE(startCutJob(s, host, false, job));
        EXPECT_EQ(host.events, std::vector<std::string>{"message error: Clip List に登録して下さい"});
        addRange(s, r, 1, 2);
        s.outputPath.clear();
        EXPECT_FALSE(startCutJob(s, host, false, job));
        EXPECT_EQ(host.events.back(), "message error: 出力ファイル名を設定して下さい");
    }
    const char* const kQuestion = "message question: 既にファイルが存在しています。\r\n上書きを行いますか？";
    EditState s = jobFor(dir, r);
    addRange(s, r, 1, 2);
    writeText(s.outputPath, "keep me");
    {
        RecordingHost host;
        host.answers.push_back(kResultNo);
        EXPECT_FALSE(startCutJob(s, host, true, job));
        EXPECT_EQ(host.events, std::vector<std::string>{kQuestion});
        EXPECT_EQ(readText(s.outputPath), "keep me");
        EXPECT_EQ(s.settings.out188, 0);
    }
    {
        RecordingHost host;
        host.answers.push_back(kResultYes);
        s.settings.out188 = 1;
        ASSERT_TRUE(startCutJob(s, host, false, job));  // the unchecked box wins
        runJob(s, host, job);
        EXPECT_EQ(s.settings.out188, 0);
        EXPECT_EQ(host.events.front(), kQuestion);
        EXPECT_EQ(host.events[1], "busy on");
        EXPECT_EQ(output(s), plainClip(r, r.packet(1), r.packet(2) - 1));
    }
    {
        // A folder of that name: no question, the job cannot create it.
        s.outputPath = dir.path("folder.ts");
        std::filesystem::create_directory(s.outputPath);
        s.settings.sound = 1;
        s.settings.soundPath = "/sounds/done.wav";
        s.settings.outTime = 1;
        RecordingHost host;
        ASSERT_TRUE(startCutJob(s, host, false, job));
        runJob(s, host, job);
        EXPECT_EQ(job.outcome, CutOutcome::OutputCreateFailed);
        EXPECT_EQ(host.events, (std::vector<std::string>{"busy on", "message error: Output ファイルオープンエラー",
                                                         "progress 0", "busy off", "title Tavrel Cutter"}));
    }
}

TEST(CutJob, AFailedCutLeavesTheExistingOutputUntouched) {
    TempDir dir;
    const Rec r = load(dir, "sd_480p_mp2.ts");
    const auto before = filesIn(dir.root());
    auto jobWithOldOutput = [&] {
        EditState s = jobFor(dir, r);
        s.settings.sound = 1;
        s.settings.soundPath = "/sounds/done.wav";
        s.settings.outTime = 1;
        addRange(s, r, 1, 2);
        addRange(s, r, 2, 3);
        writeText(s.outputPath, "keep me");
        return s;
    };
    {
        // A later clip that cannot be read refuses the job before the
        // output is touched.
        EditState s = jobWithOldOutput();
        s.clipList.clips[1].sourcePath = dir.path("missing.ts");
        RecordingHost host;
        CutJob job;
        EXPECT_EQ(runJob(s, host, job), CutOutcome::ClipFailed);
        EXPECT_EQ(job.failedClips, 1);
        EXPECT_FALSE(job.running);
        EXPECT_EQ(host.events, (std::vector<std::string>{"busy on", "message error: Input ファイルオープンエラー",
                                                         "progress 0", "busy off", "title Tavrel Cutter"}));
    }
    {
        // The disk fills up part-way: the message, the sound, no elapsed
        // time, and neither a partial output nor a temporary file.
        EditState s = jobWithOldOutput();
        RecordingHost host;
        {
            FileSizeLimit limit(static_cast<rlim_t>(r.packet(2) - r.packet(1)) * 188 + 1000);
            EXPECT_EQ(run(s, host), CutOutcome::ClipFailed);
        }
        EXPECT_EQ(tail(host.events, 5),
                  (std::vector<std::string>{"message error: 書き込みエラー", "sound /sounds/done.wav", "progress 0",
                                            "busy off", "title Tavrel Cutter"}));
    }
    {
        // The recording lost its end after its GOP list was made.
        EditState s = jobWithOldOutput();
        std::filesystem::copy_file(r.path, dir.path("short.ts"));
        std::filesystem::resize_file(dir.path("short.ts"), static_cast<uintmax_t>(r.packet(2)) * 188 + 100);
        s.clipList.clips[1].sourcePath = dir.path("short.ts");
        RecordingHost host;
        EXPECT_EQ(run(s, host), CutOutcome::ClipFailed);
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: ファイルリードエラー"});
        std::filesystem::remove(dir.path("short.ts"));
    }
    {
        // It shrinks while the job copies it.
        struct ShrinkingHost : RecordingHost {
            std::string victim;
            void setProgressRange(int32_t max) override {
                RecordingHost::setProgressRange(max);
                std::filesystem::resize_file(victim, 188 * 10);
            }
        };
        EditState s = jobWithOldOutput();
        std::filesystem::copy_file(r.path, dir.path("shrinking.ts"));
        for (Clip& c : s.clipList.clips) c.sourcePath = dir.path("shrinking.ts");
        ShrinkingHost host;
        host.victim = dir.path("shrinking.ts");
        EXPECT_EQ(run(s, host), CutOutcome::ClipFailed);
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: ファイルリードエラー"});
        std::filesystem::remove(dir.path("shrinking.ts"));
    }
    EXPECT_EQ(readText(dir.path("out.ts")), "keep me");
    std::vector<std::string> after = before;
    after.push_back("out.ts");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(filesIn(dir.root()), after);
}

TEST(CutJob, JoinsRecordingsOfDifferentPacketSizesOnlyAs188BytePackets) {
    TempDir dir;
    const Rec sd = load(dir, "sd_480p_mp2.ts");
    const Rec m2ts = load(dir, "hd_1080i_aac_192.ts");
    const Rec dvb = load(dir, "sd_480p_204.ts");
    {
        EditState s = jobFor(dir, sd);
        addRange(s, sd, 1, 3);
        addRange(s, m2ts, 0, 2);
        RecordingHost host;
        EXPECT_EQ(run(s, host), CutOutcome::Refused);
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: パケットサイズの異なるファイルは結合できません"});
        EXPECT_FALSE(fileExists(s.outputPath));

        s.settings.out188 = 1;
        RecordingHost again;
        ASSERT_EQ(run(s, again), CutOutcome::Completed);
        int unused = 0;
        Bytes want = plainClip(sd, sd.packet(1), sd.packet(3) - 1);
        append(want, expectedClip(m2ts, m2ts.packet(0), m2ts.packet(2) - 1, Treatments{{}, false, true}, unused));
        EXPECT_EQ(output(s), want);
    }
    {
        // 204-byte packets have no 188-byte form here.
        EditState s = jobFor(dir, sd);
        s.settings.out188 = 1;
        addRange(s, sd, 1, 3);
        addRange(s, dvb, 0, 2);
        RecordingHost host;
        EXPECT_EQ(run(s, host), CutOutcome::Refused);
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: パケットサイズの異なるファイルは結合できません"});
    }
}

TEST(CutJob, ClipChecksInOrder) {
    TempDir dir;
    const Rec r = load(dir, "sd_480p_mp2.ts");
    struct Case {
        const char* what;
        std::function<void(EditState&)> setup;
        const char* message;
    };
    const Case cases[] = {
        {"start after end", [](EditState& s) { s.clipList.clips[0].endPacket = s.clipList.clips[0].startPacket - 1; },
         "パケットの範囲指定が終了位置より開始位置の方が大きくなっています"},
        {"no source", [](EditState& s) { s.clipList.clips[0].sourcePath.clear(); }, "入力ファイルがありません"},
        {"packet size 0", [](EditState& s) { s.geometry.size = s.clipList.clips[0].geometry.size = 0; },
         "パケットサイズは１～１０００に設定してください"},
        {"packet size 1001", [](EditState& s) { s.geometry.size = s.clipList.clips[0].geometry.size = 1001; },
         "パケットサイズは１～１０００に設定してください"},
        {"packet size not above the header",
         [](EditState& s) { s.geometry.size = s.clipList.clips[0].geometry.size = 4; },
         "パケットヘッダサイズが不正です"},
        {"packet size 221", [](EditState& s) { s.geometry.size = s.clipList.clips[0].geometry.size = 221; },
         "リードバッファがオーバーフローしました。"},
        {"empty source and start after end",
         [](EditState& s) {
             s.clipList.clips[0].sourcePath.clear();
             s.clipList.clips[0].endPacket = 0;
         },
         "パケットの範囲指定が終了位置より開始位置の方が大きくなっています"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EditState s = jobFor(dir, r);
        s.settings.outTime = 1;
        addRange(s, r, 1, 2);
        c.setup(s);
        RecordingHost host;
        EXPECT_EQ(run(s, host), CutOutcome::ClipFailed);
        EXPECT_EQ(host.messages(), std::vector<std::string>{std::string("error: ") + c.message});
        EXPECT_TRUE(output(s).empty());
    }
}

TEST(CutJob, CompletionPlaysTheSoundThenReportsTheElapsedTime) {
    TempDir dir;
    const Rec r = load(dir, "sd_480p_mp2.ts");
    EditState s = jobFor(dir, r);
    s.settings.sound = 1;
    s.settings.soundPath = "/sounds/done.wav";
    s.settings.outTime = 1;
    addRange(s, r, 1, 2);
    RecordingHost host;
    ASSERT_EQ(run(s, host), CutOutcome::Completed);
    EXPECT_EQ(tail(host.events, 5),
              (std::vector<std::string>{"sound /sounds/done.wav", "message Info: 経過時間：00:00:00 (H:M:S)",
                                        "progress 0", "busy off", "title Tavrel Cutter"}));
    EXPECT_EQ(elapsedTimeText(3723999), "経過時間：01:02:03 (H:M:S)");
    EXPECT_EQ(elapsedTimeText(90000000), "経過時間：25:00:00 (H:M:S)");
    EXPECT_EQ(elapsedTimeText(59999), "経過時間：00:00:59 (H:M:S)");
}

TEST(CutJob, HdCutReadsCleanlyWithTheKeptFrames) {
    TAVREL_REQUIRE_TOOL("ffprobe");
    TempDir dir;
    const Rec r = load(dir, "hd_1080i_aac.ts");
    EditState s = jobFor(dir, r);
    addRange(s, r, 1, 3);
    addRange(s, r, 4, r.lastIndex());
    RecordingHost host;
    ASSERT_EQ(run(s, host), CutOutcome::Completed);

    EXPECT_EQ(capture("ffprobe -v error -i '" + s.outputPath + "' 2>&1"), "");
    // Frames of the kept GOPs: video packets (one picture each) of the source
    // inside the ranges. Counted on the stream, since a decoder drops the
    // leading B pictures of an open GOP at the start.
    const std::string positions =
        capture("ffprobe -v error -select_streams v -show_entries packet=pos -of csv=p=0 '" + r.path + "'");
    int64_t kept = 0;
    size_t at = 0;
    while (at < positions.size()) {
        size_t nl = positions.find('\n', at);
        if (nl == std::string::npos) nl = positions.size();
        const std::string line = positions.substr(at, nl - at);
        at = nl + 1;
        if (line.empty()) continue;
        const int64_t packet = std::stoll(line) / 188;
        if ((packet >= r.packet(1) && packet < r.packet(3)) || packet >= r.packet(4)) ++kept;
    }
    ASSERT_GT(kept, 30);
    const std::string frames = capture(
        "ffprobe -v error -select_streams v -count_packets -show_entries "
        "stream=nb_read_packets -of csv=p=0 '" +
        s.outputPath + "'");
    EXPECT_EQ(std::stoll(frames), kept);
}
