// Streams whose headers change under the decoder: a sequence that keeps its
// size but changes progressive_sequence, a sequence extension away from its
// sequence header, field pictures that do not fit a progressive sequence,
// MPEG-1 video, and kivra-decode meeting a new picture size. Under ASan a
// write or read outside the frame stores fails these tests on the spot.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "es_support.h"
#include "kivra.h"
#include "library_internal.h"
#include "preview_host.h"
#include "test_support.h"
#include "trace.h"
#include "ts_probe.h"

using namespace kivra;
using namespace kivra_test;

namespace {

std::vector<uint8_t> join(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::vector<uint8_t> v = a;
    v.insert(v.end(), b.begin(), b.end());
    return v;
}

bool samePlanes(const YuvFrame& a, const YuvFrame& b) {
    return a.width == b.width && a.height == b.height && a.chromaFormat == b.chromaFormat && a.plane[0] == b.plane[0] &&
           a.plane[1] == b.plane[1] && a.plane[2] == b.plane[2];
}

// Opens path, previews at each position in turn (the host keeps the
// decoded planes of every picture), closes.
std::vector<DrawCall> previewAt(const std::string& path, const std::vector<int64_t>& positions,
                                std::vector<YuvFrame>& frames) {
    RecordingHost host;
    host.install();
    TavrelDecInit init{};
    init.path = path.c_str();
    TsOpen(&init);
    SetPackSize(188);
    for (int64_t pos : positions) {
        TavrelDecRead rd{};
        rd.position = pos;
        rd.videoPid = 0x100;
        TsRead(&rd);
        kivra::waitForDecode();
    }
    TsClose();
    frames = host.frames();
    return host.draws();
}

// A host that previews a GOP in each of two legal recordings joined end to
// end: 352x240 has 15 macroblock rows progressive and 16 interlaced, with
// the same size, aspect and chroma format in both sequence headers.
TEST(StreamChanges, ProgressiveSequenceAloneChangesTheStoreSize) {
    const std::string progPath = dataPath("sif_progressive.ts"), interPath = dataPath("sif_interlaced.ts");
    const auto prog = readFile(progPath), inter = readFile(interPath);
    ASSERT_EQ(prog.size() % 188, 0u);
    ASSERT_EQ(inter.size() % 188, 0u);
    const PreviewResult aloneProg = previewOnce(progPath, 188, 0x100, 0);
    const PreviewResult aloneInter = previewOnce(interPath, 188, 0x100, 0);
    ASSERT_TRUE(aloneProg.drawn);
    ASSERT_TRUE(aloneInter.drawn);
    ASSERT_EQ(aloneProg.draws[0].codedHeight, 240);
    ASSERT_EQ(aloneInter.draws[0].codedHeight, 256);

    struct Order {
        const char* name;
        const std::vector<uint8_t>* first;
        const std::vector<uint8_t>* second;
        const PreviewResult* alone[2];
        int codedHeight[2];
    };
    for (const Order& o :
         {Order{"progressive_then_interlaced", &prog, &inter, {&aloneProg, &aloneInter}, {240, 256}},
          Order{"interlaced_then_progressive", &inter, &prog, {&aloneInter, &aloneProg}, {256, 240}}}) {
        const std::string path = tempPath(std::string(o.name) + ".ts");
        ASSERT_TRUE(writeBytes(path, join(*o.first, *o.second)));
        std::vector<YuvFrame> frames;
        const auto draws = previewAt(path, {0, int64_t(o.first->size())}, frames);
        ASSERT_EQ(draws.size(), 2u) << o.name;
        ASSERT_EQ(frames.size(), 2u) << o.name;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(draws[i].codedWidth, 352) << o.name << " part " << i;
            EXPECT_EQ(draws[i].codedHeight, o.codedHeight[i]) << o.name << " part " << i;
            // Each part's picture is the one the part alone gives.
            EXPECT_TRUE(samePlanes(frames[i], o.alone[i]->frame)) << o.name << " part " << i;
        }
    }
}

// Sequence extension (6 bytes after its start code) with progressive 0,
// 4:2:2 and both size extensions 1: each would change the store sizes.
const std::vector<uint8_t> kStraySequenceExtension = {0, 0, 1, 0xB5, 0x14, 0x84, 0xA0, 0x01, 0x00, 0x00};

size_t nextStartCode(const std::vector<uint8_t>& es, size_t from) {
    for (size_t i = from; i + 3 < es.size(); ++i)
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1) return i;
    return std::string::npos;
}

TEST(StreamChanges, SequenceExtensionAwayFromTheSequenceHeaderIsPassedOver) {
    const auto es = elementaryStream(dataPath("sif_progressive.ts"));
    const size_t gop = findCode(es, 0xB8, 0);
    const size_t pic = findCode(es, 0x00, 0);
    ASSERT_NE(gop, std::string::npos);
    ASSERT_NE(pic, std::string::npos);
    const size_t codingExt = findCode(es, 0xB5, pic);
    ASSERT_NE(codingExt, std::string::npos);
    ASSERT_EQ(es[codingExt + 4] >> 4, 8);  // picture coding extension
    struct Place {
        const char* name;
        size_t at;
    };
    // After the GOP header, and after the picture coding extension of the
    // first I picture (before its first slice).
    for (const Place& place :
         {Place{"after_gop", nextStartCode(es, gop + 4)}, Place{"after_picture", nextStartCode(es, codingExt + 4)}}) {
        std::vector<uint8_t> spliced(es.begin(), es.begin() + long(place.at));
        spliced.insert(spliced.end(), kStraySequenceExtension.begin(), kStraySequenceExtension.end());
        spliced.insert(spliced.end(), es.begin() + long(place.at), es.end());

        EsDecoder good(es), bad(spliced);
        for (EsDecoder* d : {&good, &bad}) {
            ASSERT_EQ(d->dec.readHeaders(-1), Decoder::HeaderResult::Picture) << place.name;
            ASSERT_EQ(d->dec.picture().codingType, kPicI);
            ASSERT_TRUE(d->dec.decodePicture()) << place.name;
        }
        const SequenceState& s = bad.dec.sequence();
        EXPECT_EQ(s.chromaFormat, 1) << place.name;
        EXPECT_EQ(s.horizontalSize, 352) << place.name;
        EXPECT_EQ(s.verticalSize, 240) << place.name;
        EXPECT_EQ(s.progressiveSequence, 1) << place.name;
        EXPECT_EQ(s.codedHeight, 240) << place.name;
        const FrameStore& a = good.dec.currentFrame();
        const FrameStore& b = bad.dec.currentFrame();
        EXPECT_EQ(0, std::memcmp(a.plane[0], b.plane[0], size_t(352) * 240)) << place.name;
        EXPECT_EQ(0, std::memcmp(a.plane[1], b.plane[1], size_t(176) * 120)) << place.name;
        EXPECT_EQ(0, std::memcmp(a.plane[2], b.plane[2], size_t(176) * 120)) << place.name;

        // Through the exported flow: the host is told the size of the planes
        // it gets, and the picture is the unspliced stream's.
        const std::string plainPath = tempPath("ext_plain.ts"), splicedPath = tempPath(std::string(place.name) + ".ts");
        ASSERT_TRUE(writeBytes(plainPath, transportStream(es)));
        ASSERT_TRUE(writeBytes(splicedPath, transportStream(spliced)));
        const PreviewResult want = previewOnce(plainPath, 188, 0x100, 0);
        const PreviewResult got = previewOnce(splicedPath, 188, 0x100, 0);
        ASSERT_TRUE(want.drawn);
        ASSERT_TRUE(got.drawn) << place.name;
        EXPECT_EQ(got.frame.width, 352);
        EXPECT_EQ(got.frame.height, 240);
        EXPECT_EQ(got.frame.chromaFormat, 1);
        EXPECT_TRUE(samePlanes(got.frame, want.frame)) << place.name;
    }
}

// field_odd.ts: I field pairs in a sequence that says 352x240 progressive,
// each field coding 8 macroblock rows where 7.5 fit. Made legal (256 lines,
// interlaced) by patching its sequence headers, the same fields decode the
// same; the odd stream's first 7 rows of each field must match it and
// nothing may land outside the 240-line planes.
TEST(StreamChanges, FieldPicturesOfAnOddRowCountStayInsideThePlanes) {
    const auto odd = elementaryStream(dataPath("field_odd.ts"));
    auto legal = odd;
    int headers = 0;
    for (size_t at = findCode(legal, 0xB3, 0); at != std::string::npos; at = findCode(legal, 0xB3, at + 4)) {
        ASSERT_EQ(legal[at + 5] & 0x0F, 0);
        ASSERT_EQ(legal[at + 6], 240);
        legal[at + 6] = 0;  // vertical_size 256
        legal[at + 5] |= 1;
        const size_t ext = findCode(legal, 0xB5, at + 4);
        ASSERT_NE(ext, std::string::npos);
        ASSERT_EQ(legal[ext + 4] >> 4, 1);
        ASSERT_TRUE(legal[ext + 5] & 0x08);
        legal[ext + 5] &= uint8_t(~0x08);  // progressive_sequence 0
        ++headers;
    }
    ASSERT_GE(headers, 1);

    EsDecoder a(odd), b(legal);
    for (EsDecoder* d : {&a, &b}) {
        ASSERT_EQ(d->dec.readHeaders(-1), Decoder::HeaderResult::Picture);
        ASSERT_EQ(d->dec.picture().structure, kTopField);
        EXPECT_FALSE(d->dec.decodePicture());
        ASSERT_EQ(d->dec.readHeaders(-1), Decoder::HeaderResult::Picture);
        ASSERT_EQ(d->dec.picture().structure, kBottomField);
        EXPECT_TRUE(d->dec.decodePicture());
    }
    ASSERT_EQ(a.dec.sequence().codedHeight, 240);
    ASSERT_EQ(b.dec.sequence().codedHeight, 256);
    const FrameStore& fa = a.dec.currentFrame();
    const FrameStore& fb = b.dec.currentFrame();
    EXPECT_EQ(0, std::memcmp(fa.plane[0], fb.plane[0], size_t(352) * 224));
    EXPECT_EQ(0, std::memcmp(fa.plane[1], fb.plane[1], size_t(176) * 112));
    EXPECT_EQ(0, std::memcmp(fa.plane[2], fb.plane[2], size_t(176) * 112));

    // The exported flow draws the pair at the sequence's size.
    const PreviewResult r = previewOnce(dataPath("field_odd.ts"), 188, 0x100, 0);
    ASSERT_TRUE(r.drawn);
    EXPECT_EQ(r.draws[0].codedHeight, 240);
    ASSERT_EQ(r.frame.height, 240);
    EXPECT_EQ(0, std::memcmp(r.frame.plane[0].data(), fb.plane[0], size_t(352) * 224));
}

struct TraceLines {
    std::mutex mu;
    std::vector<std::string> lines;
    static void sink(void* ctx, const char* line) {
        auto* t = static_cast<TraceLines*>(ctx);
        std::lock_guard<std::mutex> lock(t->mu);
        t->lines.emplace_back(line);
    }
    bool any(const std::string& needle) {
        std::lock_guard<std::mutex> lock(mu);
        for (const auto& l : lines)
            if (l.find(needle) != std::string::npos) return true;
        return false;
    }
};

TEST(StreamChanges, Mpeg1VideoDrawsNothingAndTheTraceSaysWhy) {
    TraceLines trace;
    setTraceSink(&TraceLines::sink, &trace);
    const PreviewResult r = previewOnce(dataPath("mpeg1.ts"), 188, 0x100, 0);
    const ReadStats stats = lastReadStats();
    setTraceSink(nullptr, nullptr);
    EXPECT_FALSE(r.drawn);
    EXPECT_TRUE(r.draws.empty());
    // The read met the I picture (not the end guard) and refused it.
    EXPECT_NE(stats.fault, kFaultEndGuard);
    EXPECT_TRUE(trace.any("picture not decoded: MPEG-1"));

    EsDecoder mpeg1(elementaryStream(dataPath("mpeg1.ts")));
    ASSERT_EQ(mpeg1.dec.readHeaders(-1), Decoder::HeaderResult::Picture);
    EXPECT_TRUE(mpeg1.dec.sequence().mpeg1);
    EXPECT_FALSE(mpeg1.dec.canDecode());
    EXPECT_FALSE(mpeg1.dec.decodePicture());
    EsDecoder mpeg2(elementaryStream(dataPath("sif_progressive.ts")));
    ASSERT_EQ(mpeg2.dec.readHeaders(-1), Decoder::HeaderResult::Picture);
    EXPECT_FALSE(mpeg2.dec.sequence().mpeg1);
    EXPECT_TRUE(mpeg2.dec.canDecode());
}

// kivra-decode writes one Y4M file of one size: at a new picture size it
// stops with a message instead of writing frames under the old header.
TEST(KivraDecodeTool, NewPictureSizeStopsTheOutput) {
    const std::string tool = std::string("'") + KIVRA_DECODE_TOOL + "' ";
    const std::string aloneOut = tempPath("sif_alone.y4m");
    ASSERT_EQ(std::system((tool + "'" + dataPath("sif_progressive.ts") + "' '" + aloneOut + "' 2>/dev/null").c_str()),
              0);
    std::vector<YuvFrame> alone;
    ASSERT_TRUE(readY4m(aloneOut, alone));
    ASSERT_GT(alone.size(), 4u);

    const std::string joined = tempPath("sif_then_sd.ts"), out = tempPath("sif_then_sd.y4m"),
                      err = tempPath("sif_then_sd.err");
    ASSERT_TRUE(writeBytes(joined, join(readFile(dataPath("sif_progressive.ts")), readFile(dataPath("sd_ibp.ts")))));
    const int rc = std::system((tool + "'" + joined + "' '" + out + "' 2>'" + err + "'").c_str());
    EXPECT_NE(rc, 0);
    const auto msg = readFile(err);
    const std::string text(msg.begin(), msg.end());
    EXPECT_NE(text.find("352x240 to 720x480"), std::string::npos) << text;
    std::vector<YuvFrame> frames;
    std::string error;
    ASSERT_TRUE(readY4m(out, frames, &error)) << error;
    // The first part's pictures, all at its size (its last reference is lost
    // with the stores of the old size).
    ASSERT_GE(frames.size() + 1, alone.size());
    ASSERT_LE(frames.size(), alone.size());
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_TRUE(samePlanes(frames[i], alone[i])) << "picture " << i;
}

}  // namespace
