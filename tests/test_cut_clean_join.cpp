// Clean joins on a hand-built recording: the cut job runs on it with the
// option on, and every packet out is written as a token, so each scenario
// reads as the list of packets a decoder gets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cut_job.h"
#include "cut_test_util.h"
#include "edit_state.h"
#include "recording_host.h"
#include "test_util.h"

using namespace tavrel;
using namespace tavrel::test;

namespace {

// One packet of the recording. Streams: V video (PID 0x100, unbounded PES),
// A audio with PES_packet_length (0x101), B audio without (0x102, the PCR
// PID), T the PAT, N null packets.
struct Pk {
    char stream;
    char what;         // 'S' starts a PES (or section), 'C' continues one, 'F' adaptation field only
    int units = 1;     // 'S' of A: packets of A its PES fills
    bool pcr = false;  // PCR = packet number x 1 ms
};

// 188-byte packets; payload packets end in their packet number.
std::vector<Bytes> build(const std::vector<Pk>& rec) {
    std::vector<Bytes> out;
    int cc[4] = {};  // V, A, B, PAT
    auto payloadSize = [](const Pk& k) { return k.pcr ? 176 : 184; };
    for (size_t n = 0; n < rec.size(); ++n) {
        const Pk& k = rec[n];
        const bool start = k.what == 'S', payload = k.what != 'F';
        const int pid = k.stream == 'V'   ? 0x100
                        : k.stream == 'A' ? 0x101
                        : k.stream == 'B' ? 0x102
                        : k.stream == 'T' ? 0
                                          : 0x1FFF;
        Bytes p(188, static_cast<uint8_t>(n));
        if (k.stream == 'T') p = psiPacket(0, start ? patSection({{1, 0x1000}}) : Bytes(10, 0x55), start, cc[3]++);
        if (k.stream != 'T') {
            const int counter = pid == 0x1FFF ? 0 : payload ? cc[pid & 3]++ : cc[pid & 3] - 1;
            p[0] = 0x47;
            p[1] = static_cast<uint8_t>((start ? 0x40 : 0) | (pid >> 8));
            p[2] = static_cast<uint8_t>(pid & 0xFF);
            p[3] = static_cast<uint8_t>((payload ? 0x10 : 0) | (k.pcr || !payload ? 0x20 : 0) | (counter & 15));
        }
        if (k.pcr || !payload) {
            p[4] = payload ? 7 : 183;
            p[5] = k.pcr ? 0x10 : 0;
            std::fill(p.begin() + 6, p.end(), 0xFF);
            const int64_t base = static_cast<int64_t>(n) * 90;
            for (int i = 0; k.pcr && i < 4; ++i)
                p[6 + static_cast<size_t>(i)] = static_cast<uint8_t>(base >> (25 - 8 * i));
            if (k.pcr) p[10] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E), p[11] = 0;
        }
        if (start && k.stream != 'T') {
            int bytes = payloadSize(k);  // of the PES's packets, for A's PES_packet_length
            for (size_t m = n + 1, left = static_cast<size_t>(k.units - 1); left > 0; ++m)
                if (rec[m].stream == k.stream) bytes += payloadSize(rec[m]), --left;
            const int length = k.stream == 'A' ? bytes - 6 : 0;
            uint8_t* pes = p.data() + 188 - payloadSize(k);
            pes[0] = pes[1] = 0, pes[2] = 1, pes[3] = k.stream == 'V' ? 0xE0 : 0xC0;
            pes[4] = static_cast<uint8_t>(length >> 8), pes[5] = static_cast<uint8_t>(length);
        }
        if (payload && pid != 0x1FFF) p[187] = static_cast<uint8_t>(n);
        out.push_back(p);
    }
    return out;
}

// A packet as a token: stream, '<' for a unit start, the counter, 'a' for
// adaptation field only, 'p' with a PCR, 'd' with the discontinuity
// indicator, and the packet number of its payload after '#'.
std::string token(const uint8_t* p) {
    const int pid = packetPid(p);
    std::string t(1, pid == 0x100 ? 'V' : pid == 0x101 ? 'A' : pid == 0x102 ? 'B' : pid == 0 ? 'T' : 'N');
    if (packetPusi(p)) t += '<';
    t += std::to_string(p[3] & 15);
    const int afc = packetAfc(p);
    if (afc == 2) t += 'a';
    if ((afc & 2) && p[4] > 0 && (p[5] & 0x10)) t += 'p';
    if ((afc & 2) && p[4] > 0 && (p[5] & 0x80)) t += 'd';
    if (afc & 1) t += "#" + std::to_string(p[187]);
    return t;
}

// The recording of every scenario below:
//   V:  3< 11(no payload) 17 | 20< 24 26<
//   A:  2<(PES of 3: 2 4 7) 8<(8 10) 12<(12 14 18) | 21<(21)
//   B:  1< 5p 9< 13p 16(PCR only) 19 | 22<p 25<
//   T:  0< 6(continuation) 23<   N: 15
const std::vector<Pk> kRecording = {
    {'T', 'S'},    {'B', 'S'},          {'A', 'S', 3}, {'V', 'S'},    {'A', 'C'},          {'B', 'C', 1, true},
    {'T', 'C'},    {'A', 'C'},          {'A', 'S', 2}, {'B', 'S'},    {'A', 'C'},          {'V', 'F'},
    {'A', 'S', 3}, {'B', 'C', 1, true}, {'A', 'C'},    {'N', 'C'},    {'B', 'F', 1, true}, {'V', 'C'},
    {'A', 'C'},    {'B', 'C'},          {'V', 'S'},    {'A', 'S', 1}, {'B', 'S', 1, true}, {'T', 'S'},
    {'V', 'C'},    {'B', 'S'},          {'V', 'S'},
};

struct Range {
    int64_t first, last;
};

// Cuts the ranges of the recording, framed as units of size bytes, with
// clean joins; the tokens of the output.
std::vector<std::string> cleanCut(const std::vector<Range>& ranges, int size = 188) {
    TempDir dir;
    const PacketGeometry geo = geometryForSize(size);
    Bytes file;
    for (const Bytes& p : build(kRecording)) {
        append(file, Bytes(static_cast<size_t>(geo.syncOffset), 0x3C));
        append(file, p);
        append(file, Bytes(static_cast<size_t>(size - 188 - geo.syncOffset), 0));
    }
    const std::string path = dir.path("rec.ts");
    writeBytes(path, file.data(), file.size());
    EditState s;
    s.outputPath = dir.path("out.ts");
    s.geometry = geo;
    s.settings.cleanJoin = 1;
    for (Range r : ranges) {
        Clip c;
        c.sourcePath = path;
        c.startPacket = r.first;
        c.endPacket = r.last + 1;
        c.geometry = geo;
        s.clipList.clips.push_back(c);
    }
    RecordingHost host;
    CutJob job;
    EXPECT_EQ(runCutJobInline(s, host, false, job), CutOutcome::Completed);
    const Bytes out = readBytes(s.outputPath);
    std::vector<std::string> tokens;
    for (size_t at = 0; at + static_cast<size_t>(size) <= out.size(); at += static_cast<size_t>(size)) {
        EXPECT_EQ(out[at], geo.syncOffset ? 0x3C : 0x47);  // units keep their framing
        tokens.push_back(token(out.data() + at + geo.syncOffset));
    }
    EXPECT_EQ(out.size() % static_cast<size_t>(size), 0u);
    return tokens;
}

using Tokens = std::vector<std::string>;

// Packets 3..17: A and B begin inside PES of packets 2 and 1, and their
// last PES (12, 9) run on past packet 17.
const Tokens kClip3To17 = {
    "V<0#3",  // video starts at its unit start
    "B1ap",   // B continues PES 1: only its adaptation field stays, with the PCR
    "T1#6",   // PSI continuation untouched (A 4 and 7 are left out)
    "A<3#8", "A4#10",
    "V0a",   // no payload: the counter of the packet before
    "B1ap",  // B's PES 9 is cut off (9 left out, 13 keeps its PCR); A's 12 by its length (12, 14 out)
    "N0#15",
    "B1ap",  // PCR only: kept; the counter stays
    "V1#17",
};

}  // namespace

TEST(CleanJoin, ClipEdgesForEveryPacketSize) {
    for (int size : {188, 192, 204, 208}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(cleanCut({{3, 17}}, size), kClip3To17);
    }
}

TEST(CleanJoin, VideoThatContinuesAtTheStartKeepsItsPacketsWithoutPayload) {
    // As after a moved clip start: the video packet 17 continues a PES begun
    // before the clip and stays as a packet of its adaptation field.
    EXPECT_EQ(cleanCut({{4, 17}}), (Tokens{"B1ap", "T1#6", "A<3#8", "A4#10", "V0a", "B1ap", "N0#15", "B1ap", "V0a"}));
}

TEST(CleanJoin, CountersRunOnAndAJumpingPcrIsMarked) {
    // Packets 20..24 first, then 3..17: every PID's counter goes on from the
    // first clip's, the clip's own steps kept; B's PCR goes back in time.
    Tokens want = {"V<2#20", "A<8#21", "B<5p#22", "T<2#23", "V3#24",  // the first clip as it is
                   "V<4#3",  "B5apd",  "T3#6",    "A<9#8",  "A10#10", "V4a", "B5ap", "N0#15", "B5ap", "V5#17"};
    EXPECT_EQ(cleanCut({{20, 24}, {3, 17}}), want);

    // Joined where the clips meet: the PCR runs on, so no indicator; the
    // packets 18 and 19 continue PES whose starts the first clip left out.
    want = kClip3To17;
    for (const char* t : {"V<2#20", "A<5#21", "B<2p#22", "T<2#23", "V3#24"}) want.push_back(t);
    EXPECT_EQ(cleanCut({{3, 17}, {18, 24}}), want);
}
