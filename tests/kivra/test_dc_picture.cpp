// The reduced-size I pictures against the full decode of the same GOP scaled
// down 8x8, over every GOP of real encoders' recordings read in a row by one
// reader.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <ctime>
#include <cstdlib>
#include <memory>

#include "dc_picture.h"
#include "decoder.h"
#include "demux.h"
#include "dsp.h"
#include "es_support.h"
#include "test_support.h"
#include "ts_probe.h"

using namespace kivra;
using namespace kivra_test;

namespace {

struct Recording {
    std::vector<uint8_t> bytes;
    size_t start = 0;
    int packetSize = 0;
    int pid = -1;
    std::vector<int64_t> gops;  // byte positions
};

Recording probe(const std::string& path) {
    Recording r;
    r.bytes = readFile(path);
    r.packetSize = probePacketSize(r.bytes, &r.start);
    if (r.packetSize == 0) return r;
    const std::vector<uint8_t> aligned(r.bytes.begin() + long(r.start), r.bytes.end());
    r.pid = probeVideoPid(aligned, r.packetSize);
    for (int64_t g : probeGopPackets(aligned, r.packetSize, r.pid))
        r.gops.push_back(int64_t(r.start) + g * r.packetSize);
    return r;
}

// The recording's video from byte pos on, for a decoder.
struct Source {
    std::unique_ptr<Demux> dm = std::make_unique<Demux>();
    BitReader br;
    Source(const Recording& r, int64_t pos) {
        dm->attachMemory(r.bytes.data(), r.bytes.size());
        dm->setPacketSize(r.packetSize);
        dm->setVideoPid(r.pid);
        dm->setServeTail(true);
        dm->seek(pos);
        dm->start();
        br.attach(dm.get());
        br.setStrictStop(false);
    }
};

// A decoder without frame stores that has read the headers of the first I
// picture at pos.
struct AtIPicture {
    Source src;
    Decoder d;
    AtIPicture(const Recording& r, int64_t pos) : src(r, pos) {
        d.setAllocateFrames(false);
        d.attach(&src.br);
        while (d.readHeaders(-1) == Decoder::HeaderResult::Picture && d.picture().codingType != kPicI) {
        }
    }
};

// The first I picture (or I field pair) at pos, fully decoded with the C
// kernels; empty planes when there is none.
struct FullPicture {
    std::vector<uint8_t> plane[3];
    int w = 0, h = 0, cw = 0, ch = 0;
};

FullPicture fullDecode(const Recording& r, int64_t pos) {
    FullPicture out;
    Source src(r, pos);
    Dsp dsp;
    initDsp(dsp, 0);
    Decoder d;
    d.setDsp(&dsp);
    d.attach(&src.br);
    bool found = false;
    for (;;) {
        if (d.readHeaders(-1) != Decoder::HeaderResult::Picture) return out;
        if (!found && (d.picture().codingType != kPicI || !d.initialised())) continue;
        found = true;
        if (d.decodePicture()) break;
    }
    const FrameStore& f = d.currentFrame();
    const SequenceState& s = d.sequence();
    out.w = s.horizontalSize;
    out.h = s.verticalSize;
    out.cw = (out.w + 1) / 2;
    out.ch = s.chromaFormat == 1 ? (out.h + 1) / 2 : out.h;
    boxReduce8(f.plane[0], f.width, out.w, out.h, out.plane[0]);
    boxReduce8(f.plane[1], f.chromaWidth, out.cw, out.ch, out.plane[1]);
    boxReduce8(f.plane[2], f.chromaWidth, out.cw, out.ch, out.plane[2]);
    return out;
}

double meanAbsDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

struct DcCase {
    const char* file;   // under tests/data/kivra, or ../NAME under tests/data
    int width, height;  // expected luma size of the reduced picture
};

class DcPictures : public testing::TestWithParam<DcCase> {};

TEST_P(DcPictures, EveryGopMatchesTheFullDecodeScaledDown) {
    const DcCase& c = GetParam();
    const Recording r = probe(dataPath(c.file));
    ASSERT_NE(r.packetSize, 0);
    ASSERT_GE(r.gops.size(), 2u);
    DcPictureReader reader, oneThread;
    ASSERT_TRUE(reader.open(dataPath(c.file), r.packetSize, r.pid));
    ASSERT_TRUE(oneThread.open(dataPath(c.file), r.packetSize, r.pid));
    reader.setThreads(2);
    oneThread.setThreads(1);
    DcPicture pic, single;
    int compared = 0;
    for (int64_t pos : r.gops) {
        SCOPED_TRACE("GOP at byte " + std::to_string(pos));
        ASSERT_EQ(reader.read(pos, pic), DcResult::Picture);
        // The slices split over two threads give the same samples.
        ASSERT_EQ(oneThread.read(pos, single), DcResult::Picture);
        EXPECT_TRUE(pic.y == single.y && pic.cb == single.cb && pic.cr == single.cr);
        EXPECT_EQ(pic.width, c.width);
        EXPECT_EQ(pic.height, c.height);
        const FullPicture full = fullDecode(r, pos);
        ASSERT_FALSE(full.plane[0].empty());
        const std::vector<uint8_t>* dc[3] = {&pic.y, &pic.cb, &pic.cr};
        for (int p = 0; p < 3; ++p) {
            const double mad = meanAbsDiff(*dc[p], full.plane[p]);
            EXPECT_LE(mad, 2.0) << "plane " << p;
        }
        ++compared;
    }
    EXPECT_EQ(compared, int(r.gops.size()));
    // The same reader reads the first GOP again, after all the others.
    DcPicture again;
    ASSERT_EQ(reader.read(r.gops.front(), again), DcResult::Picture);
    ASSERT_EQ(reader.read(r.gops.back(), pic), DcResult::Picture);
    ASSERT_EQ(reader.read(r.gops.front(), pic), DcResult::Picture);
    EXPECT_EQ(again.y, pic.y);
    EXPECT_EQ(again.cr, pic.cr);
}

INSTANTIATE_TEST_SUITE_P(RealEncoders, DcPictures,
                         testing::Values(DcCase{"hd_interlaced.ts", 180, 135},    // 1440x1080i, ffmpeg
                                         DcCase{"../hd_1080i_aac.ts", 180, 135},  // 1440x1080i, ffmpeg
                                         DcCase{"../mpeg2enc_i1.ts", 90, 60},     // mpeg2enc, interlaced
                                         DcCase{"sd_ibp.ts", 90, 60},             // progressive
                                         DcCase{"yuv422_interlaced.ts", 90, 72},  // 4:2:2, field DCT
                                         DcCase{"altscan.ts", 90, 60},            // B-15, alternate scan
                                         DcCase{"dc10.ts", 90, 60},               // 10-bit DC
                                         DcCase{"pkt208.ts", 90, 60}),            // 208-byte packets
                         [](const testing::TestParamInfo<DcCase>& i) {
                             std::string n = i.param.file;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

// Field pairs (the test-only encoder: its waves change faster down the
// picture than broadcast video does, which a 16-line field block cannot
// follow in full): both fields are read and interleaved, every GOP.
TEST(DcPictureReader, FieldPairsGiveBothFields) {
    const Recording r = probe(dataPath("field_intra.ts"));
    DcPictureReader reader;
    ASSERT_TRUE(reader.open(dataPath("field_intra.ts"), r.packetSize, r.pid));
    DcPicture pic;
    for (int64_t pos : r.gops) {
        ASSERT_EQ(reader.read(pos, pic), DcResult::Picture);
        EXPECT_TRUE(pic.fieldPictures);
        EXPECT_EQ(pic.width, 44);
        EXPECT_EQ(pic.height, 36);
        const FullPicture full = fullDecode(r, pos);
        EXPECT_LE(meanAbsDiff(pic.y, full.plane[0]), 6.0);
        EXPECT_LE(meanAbsDiff(pic.cb, full.plane[1]), 9.0);
    }
}

TEST(DcPictureReader, ChromaSizesFollowTheChromaFormat) {
    DcPictureReader reader;
    for (const auto& [file, cw, ch, format] :
         {std::tuple{"hd_interlaced.ts", 90, 68, 1}, std::tuple{"yuv422_interlaced.ts", 45, 72, 2}}) {
        const Recording r = probe(dataPath(file));
        ASSERT_TRUE(reader.open(dataPath(file), r.packetSize, r.pid));
        DcPicture pic;
        ASSERT_EQ(reader.read(r.gops.front(), pic), DcResult::Picture) << file;
        EXPECT_EQ(pic.chromaFormat, format) << file;
        EXPECT_EQ(pic.chromaWidth, cw) << file;
        EXPECT_EQ(pic.chromaHeight, ch) << file;
        EXPECT_EQ(pic.cb.size(), size_t(cw) * ch);
    }
}

// With the helper thread queued behind its owner on one core (where the
// system may place a new thread for some milliseconds), reading on two
// threads costs about the processor time reading on one does: neither
// thread spins through the time the other needs to run. (Processor time,
// not wall time: other processes on that core take wall time alike.)
TEST(DcPictureReader, TwoThreadsOnOneCoreCostAboutWhatOneDoes) {
    const std::string path = dataPath("hd_interlaced.ts");
    const Recording r = probe(path);
    ASSERT_FALSE(r.gops.empty());
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);  // this thread, and the helper it starts
    auto cpuMs = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    };
    // The least processor time of three passes over every GOP; the luma
    // planes of the pictures read.
    auto readAll = [&](int threads, std::vector<std::vector<uint8_t>>& luma) {
        DcPictureReader reader;
        EXPECT_TRUE(reader.open(path, r.packetSize, r.pid));
        reader.setThreads(threads);
        DcPicture pic;
        double best = 1e9;
        for (int pass = 0; pass < 3; ++pass) {
            const double t0 = cpuMs();
            for (int64_t pos : r.gops) {
                EXPECT_EQ(reader.read(pos, pic), DcResult::Picture);
                luma.push_back(pic.y);
            }
            best = std::min(best, cpuMs() - t0);
        }
        return best;
    };
    std::vector<std::vector<uint8_t>> oneLuma, twoLuma;
    const double oneThread = readAll(1, oneLuma), twoThreads = readAll(2, twoLuma);
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_LT(twoThreads, 1.4 * oneThread) << "one thread " << oneThread << " ms";
    // Whichever thread walked the first rows (the helper, or its owner when
    // the helper had not begun them), the pictures are the same.
    EXPECT_TRUE(oneLuma == twoLuma);
}

TEST(DcPictureReader, RefusesWhatItCannotRead) {
    DcPictureReader reader;
    DcPicture pic;
    EXPECT_EQ(reader.read(0, pic), DcResult::NotOpen);
    EXPECT_FALSE(reader.open(tempPath("no such file.ts"), 188, 0x100));
    // MPEG-1 video is not MPEG-2: nothing is made of it.
    const Recording m1 = probe(dataPath("mpeg1.ts"));
    ASSERT_TRUE(reader.open(dataPath("mpeg1.ts"), m1.packetSize, m1.pid));
    EXPECT_EQ(reader.read(m1.gops.front(), pic), DcResult::Unsupported);
    // A PID without video: the packet limit ends the search.
    const Recording hd = probe(dataPath("hd_interlaced.ts"));
    ASSERT_TRUE(reader.open(dataPath("hd_interlaced.ts"), hd.packetSize, 0x1FF0));
    reader.setPacketLimit(500);
    EXPECT_EQ(reader.read(0, pic), DcResult::NoPicture);
    EXPECT_EQ(reader.lastPackets(), 501u);
    // Past the last I picture the file ends first.
    reader.setVideoPid(hd.pid);
    reader.setPacketLimit(0);
    EXPECT_EQ(reader.read(int64_t(hd.bytes.size()) - 10 * 188, pic), DcResult::EndOfFile);
}

TEST(DcPictureReader, RgbOfBlackAndWhite) {
    DcPicture pic;
    pic.width = 2;
    pic.height = 1;
    pic.chromaWidth = 1;
    pic.chromaHeight = 1;
    pic.y = {16, 235};
    pic.cb = {128};
    pic.cr = {128};
    std::vector<uint8_t> rgb;
    dcPictureToRgb(pic, rgb);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
}

}  // namespace

// A sequence header of another size between the two fields of an I pair (a
// damaged or spliced stream): the picture is the first field's alone, at the
// first field's size, and nothing is read outside its planes.
TEST(DcPictureReader, AnotherSequenceBetweenTheFieldsOfAPair) {
    std::vector<uint8_t> es = elementaryStream(dataPath("field_intra.ts"));
    const std::vector<uint8_t> other = elementaryStream(dataPath("sif_progressive.ts"));
    const size_t seq = findCode(other, 0xB3, 0);
    const size_t gop = findCode(other, 0xB8, seq);
    ASSERT_NE(seq, std::string::npos);
    ASSERT_NE(gop, std::string::npos);
    const size_t firstField = findCode(es, 0x00, 0);
    const size_t secondField = findCode(es, 0x00, firstField + 4);
    ASSERT_NE(secondField, std::string::npos);
    es.insert(es.begin() + std::ptrdiff_t(secondField), other.begin() + std::ptrdiff_t(seq),
              other.begin() + std::ptrdiff_t(gop));
    const std::vector<uint8_t> ts = transportStream(es);
    DcPictureReader reader;
    reader.openMemory(ts.data(), ts.size(), 188, 0x100);
    DcPicture pic;
    ASSERT_EQ(reader.read(0, pic), DcResult::Picture);
    EXPECT_TRUE(pic.fieldPictures);
    EXPECT_EQ(pic.width, 44);
    EXPECT_EQ(pic.height, 36);
    EXPECT_EQ(pic.y.size(), size_t(44) * 36);
}

// The two-lane walk reads each of its two ranges as decodeIntraDcIn does:
// the same grids on an encoder's I picture and on copies of it with bytes
// damaged at random (codes that run on, end early or jump ahead).
TEST(DcPictureReader, TwoLanesGiveWhatTwoPlainWalksGive) {
    const Recording r = probe(dataPath("hd_interlaced.ts"));
    ASSERT_FALSE(r.gops.empty());
    AtIPicture at(r, r.gops.front());
    Decoder& d = at.d;
    ASSERT_EQ(d.picture().codingType, kPicI);
    ASSERT_EQ(d.picture().structure, kFramePicture);
    std::vector<uint8_t> slices;
    std::vector<uint32_t> starts;
    d.collectSlices(slices, &starts);
    ASSERT_GT(starts.size(), 4u);
    const SequenceState& s = d.sequence();
    const size_t cut = starts[starts.size() / 2];
    const int cutRow = slices[cut + 3] - 1;
    const int limit = (s.mbHeight - 2) * s.mbWidth;  // the lower lane stops short of the bottom
    struct Grids {
        std::vector<uint8_t> plane[3];
        Decoder::DcGrid g;
        explicit Grids(const SequenceState& s) {
            const int w[3] = {2 * s.mbWidth, s.mbWidth, s.mbWidth}, h[3] = {2 * s.mbHeight, s.mbHeight, s.mbHeight};
            for (int c = 0; c < 3; ++c) {
                plane[c].assign(size_t(w[c]) * size_t(h[c]), 7);
                g.plane[c] = plane[c].data();
                g.stride[c] = w[c];
                g.rows[c] = h[c];
            }
        }
    };
    std::srand(19);
    std::vector<uint8_t> data = slices;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round > 0) {
            data = slices;
            // Damage past each range's first start code, not the codes that
            // mark the ranges.
            for (int k = 0; k < 1 + round % 6; ++k) {
                const size_t at = 4 + size_t(std::rand()) % (data.size() - 4);
                if (at >= cut && at < cut + 4) continue;
                data[at] = uint8_t(std::rand());
            }
        }
        Grids plain(s), lanes(s);
        Decoder a, b;
        a.borrowPicture(d);
        b.borrowPicture(d);
        const uint8_t* p = data.data();
        a.decodeIntraDcIn(p, p + cut, cutRow * s.mbWidth, plain.g);
        a.decodeIntraDcIn(p + cut, p + data.size(), limit, plain.g);
        b.decodeIntraDcLanes(p, p + cut, p + data.size(), cutRow * s.mbWidth, limit, lanes.g);
        for (int c = 0; c < 3; ++c) ASSERT_EQ(plain.plane[c], lanes.plane[c]) << "plane " << c;
        // Given the slice starts, a lane that has ended takes over half of
        // what the other has left: on an encoder's picture the same grids,
        // however unequal the first cut; on damaged ones it stays inside.
        for (const size_t k : {size_t(1), size_t(2), starts.size() / 2, starts.size() - 2}) {
            Grids shared(s);
            Decoder e;
            e.borrowPicture(d);
            const int row = data[starts[k] + 3] - 1;
            e.decodeIntraDcLanes(p, p + starts[k], p + data.size(), row * s.mbWidth, INT_MAX, shared.g, p,
                                 starts.data(), starts.size());
            if (round > 0) continue;
            Grids one(s);
            e.decodeIntraDcIn(p, p + data.size(), INT_MAX, one.g);
            for (int c = 0; c < 3; ++c) ASSERT_EQ(one.plane[c], shared.plane[c]) << "cut " << k << " plane " << c;
        }
    }
}

// Slices collected in two calls, paused before a given row, are the bytes
// and slice starts of one call; the pause comes before the first slice of
// that row or below, and nowhere when there is no such row.
TEST(DcPictureReader, CollectingPausedAtARowGivesTheSameSlices) {
    const Recording r = probe(dataPath("hd_interlaced.ts"));
    ASSERT_FALSE(r.gops.empty());
    AtIPicture whole(r, r.gops.front());
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> starts;
    ASSERT_TRUE(whole.d.collectSlices(bytes, &starts));
    ASSERT_GT(starts.size(), 10u);
    for (const int pauseRow : {1, 7, 40, 67, 68, 1000}) {
        SCOPED_TRACE("pause at row " + std::to_string(pauseRow));
        AtIPicture part(r, r.gops.front());
        std::vector<uint8_t> b;
        std::vector<uint32_t> s;
        int pausedAt = 0;
        ASSERT_TRUE(part.d.collectSlices(b, &s, pauseRow, &pausedAt));
        if (pauseRow >= part.d.sequence().mbHeight) {
            EXPECT_EQ(pausedAt, -1);
        } else {
            EXPECT_EQ(pausedAt, pauseRow);  // one slice a row here
            ASSERT_FALSE(s.empty());
            EXPECT_LT(b[s.back() + 3] - 1, pauseRow);
            EXPECT_TRUE(part.d.collectSlices(b, &s));
        }
        EXPECT_EQ(b, bytes);
        EXPECT_EQ(s, starts);
        // Both readers stand at the same start code after the slices.
        EXPECT_EQ(part.src.br.show(32), whole.src.br.show(32));
    }
}
