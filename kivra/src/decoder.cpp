#include "decoder.h"

#include <sys/mman.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "tables.h"
#include "trace.h"

namespace kivra {

namespace {

constexpr int kInvalid = INT_MIN;

template <class Bits>
inline int readVlc(Bits& br, const Vlc& v) {
    br.need(24);
    const VlcEntry* t = v.table();
    VlcEntry e = t[br.peek(v.rootBits())];
    if (e.len < 0) {
        br.drop(v.rootBits());
        e = t[e.sym + br.peek(-e.len)];
    }
    if (e.len == 0) return kInvalid;
    br.drop(e.len);
    return e.sym;
}

constexpr size_t kHugePage = size_t(2) << 20;

// One zeroed allocation for every plane of the three frame stores. Reference
// reads of motion compensation jump a whole line per row, so with huge the
// stores sit on 2 MiB pages where the system gives them: far fewer TLB
// misses than on small pages.
uint8_t* allocArena(size_t n, bool huge) {
    const size_t rounded = (n + kHugePage - 1) & ~(kHugePage - 1);
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (p == nullptr) return nullptr;
#ifdef MADV_HUGEPAGE
    if (huge) ::madvise(p, rounded, MADV_HUGEPAGE);
#else
    (void)huge;
#endif
    std::memset(p, 0, rounded);
    return static_cast<uint8_t*>(p);
}

}  // namespace

Decoder::Decoder() : m_tables(&tables()) { reset(); }

Decoder::~Decoder() { freeStores(); }

void Decoder::reset() {
    freeStores();
    m_seq = SequenceState{};
    std::memcpy(m_seq.intraMatrix, kDefaultIntraMatrix, 64);
    std::memset(m_seq.nonIntraMatrix, 16, 64);
    std::memcpy(m_seq.chromaIntraMatrix, kDefaultIntraMatrix, 64);
    std::memset(m_seq.chromaNonIntraMatrix, 16, 64);
    m_pic = PictureState{};
    m_haveSequence = false;
    m_initialised = false;
    m_allocW = m_allocH = 0;
    m_allocAspect = -1;
    m_allocChroma = 0;
    m_fwd = 0;
    m_bwd = 1;
    m_aux = 2;
    m_cur = 1;
    m_refCount = 0;
    for (auto& r : m_rec) r = PictureRecord{};
    std::memset(m_blocks, 0, sizeof(m_blocks));
    beginRead();
}

void Decoder::beginRead() {
    m_fault = 0;
    m_secondFieldPending = false;
    m_secondField = false;
    m_picturesDecoded = 0;
}

void Decoder::freeStores() {
    // A decoder that borrowed a picture never frees its planes; the arena
    // is always its own.
    for (auto& s : m_store) s = FrameStore{};
    m_borrowed = false;
    std::free(m_arena);
    m_arena = nullptr;
    m_initialised = false;
}

bool Decoder::allocateStores() {
    freeStores();
    const int64_t lumaPx = int64_t(m_seq.codedWidth) * m_seq.codedHeight;
    if (lumaPx <= 0 || lumaPx > m_maxPixels) return false;
    // Each plane starts on a cache line; the slack behind a plane's last
    // line stays inside the arena.
    const size_t luma = (static_cast<size_t>(lumaPx) + 63) & ~size_t(63);
    const size_t chroma = (size_t(m_seq.chromaWidth) * size_t(m_seq.chromaHeight) + 63) & ~size_t(63);
    if (m_allocateFrames) {
        m_arena = allocArena(3 * (luma + 2 * chroma) + 64, m_hugePages);
        if (m_arena == nullptr) return false;
    }
    uint8_t* next = m_arena;
    for (auto& s : m_store) {
        s.width = m_seq.codedWidth;
        s.height = m_seq.codedHeight;
        s.chromaWidth = m_seq.chromaWidth;
        s.chromaHeight = m_seq.chromaHeight;
        s.chromaFormat = m_seq.chromaFormat;
        if (!m_allocateFrames) continue;
        s.plane[0] = next;
        s.plane[1] = next + luma;
        s.plane[2] = next + luma + chroma;
        next += luma + 2 * chroma;
    }
    m_refCount = 0;
    m_secondFieldPending = false;
    m_initialised = true;
    return true;
}

bool Decoder::storesMatchSequence() const {
    const FrameStore& st = m_store[0];
    const SequenceState& s = m_seq;
    return (st.plane[0] != nullptr || !m_allocateFrames) && st.width == s.codedWidth && st.height == s.codedHeight &&
           st.chromaWidth == s.chromaWidth && st.chromaHeight == s.chromaHeight && st.chromaFormat == s.chromaFormat;
}

const char* Decoder::cannotDecodeReason() const {
    if (!m_initialised) return "no frame stores for the sequence";
    if (m_seq.mpeg1) return "MPEG-1 video (no sequence extension after the sequence header)";
    if (m_seq.chromaFormat == 3) return "4:4:4 chroma";
    if (m_seq.chromaFormat == 0 || m_seq.blocksPerMb > 8) return "reserved chroma format";
    if (!storesMatchSequence()) return "frame stores do not match the sequence";
    if (m_pic.codingType < kPicI || m_pic.codingType > kPicB) return "picture coding type is not I, P or B";
    if (m_pic.structure < kTopField || m_pic.structure > kFramePicture) return "reserved picture structure";
    return nullptr;
}

bool Decoder::canDecode() const { return cannotDecodeReason() == nullptr; }

// The macroblocks of the current picture that lie inside the planes: the
// columns and rows below these bounds (0 when the store does not fit the
// sequence). Set when a picture begins.
void Decoder::computeFit() {
    const FrameStore& st = m_store[m_cur];
    m_fitCols = m_fitRows = 0;
    if (st.plane[0] == nullptr || st.chromaFormat != m_seq.chromaFormat) return;
    const bool framePic = m_pic.structure == kFramePicture;
    // Lines of the picture being decoded: a field has half of the frame's.
    const int lines = framePic ? st.height : st.height / 2;
    const int chromaLines = framePic ? st.chromaHeight : st.chromaHeight / 2;
    const int chromaRows = st.chromaFormat == 1 ? 8 : 16;
    const int chromaCols = st.chromaFormat == 3 ? 16 : 8;
    const int cols = st.width / 16 < st.chromaWidth / chromaCols ? st.width / 16 : st.chromaWidth / chromaCols;
    const int rows = lines / 16 < chromaLines / chromaRows ? lines / 16 : chromaLines / chromaRows;
    m_fitCols = cols;
    m_fitRows = rows;
}

void Decoder::loadMatrix(uint8_t* m) {
    for (int i = 0; i < 64; ++i) m[kZigZag[i]] = static_cast<uint8_t>(m_br->get(8));
}

bool Decoder::parseSequenceHeader() {
    BitReader& br = *m_br;
    SequenceState& s = m_seq;
    s.horizontalSize = static_cast<int>(br.get(12));
    s.verticalSize = static_cast<int>(br.get(12));
    s.aspectRatio = static_cast<int>(br.get(4));
    s.frameRateCode = static_cast<int>(br.get(4));
    br.skip(18);  // bit_rate_value
    br.skip(1);   // marker
    br.skip(10);  // vbv_buffer_size_value
    br.skip(1);   // constrained_parameters_flag
    if (br.get1()) {
        loadMatrix(s.intraMatrix);
    } else {
        std::memcpy(s.intraMatrix, kDefaultIntraMatrix, 64);
    }
    if (br.get1()) {
        loadMatrix(s.nonIntraMatrix);
    } else {
        std::memset(s.nonIntraMatrix, 16, 64);
    }
    std::memcpy(s.chromaIntraMatrix, s.intraMatrix, 64);
    std::memcpy(s.chromaNonIntraMatrix, s.nonIntraMatrix, 64);
    s.progressiveSequence = 1;
    s.chromaFormat = 1;
    s.frameRateExtN = s.frameRateExtD = 0;
    s.mpeg1 = !readExtensionsAndUserData(true);
    if (s.mpeg1) KIVRA_TRACE("sequence header without a sequence extension: MPEG-1 video, not decoded\r\n");

    s.mbWidth = (s.horizontalSize + 15) / 16;
    s.mbHeight = s.progressiveSequence ? (s.verticalSize + 15) / 16 : 2 * ((s.verticalSize + 31) / 32);
    s.codedWidth = 16 * s.mbWidth;
    s.codedHeight = 16 * s.mbHeight;
    s.chromaWidth = s.chromaFormat == 3 ? s.codedWidth : s.codedWidth / 2;
    s.chromaHeight = s.chromaFormat == 1 ? s.codedHeight / 2 : s.codedHeight;
    s.blocksPerMb = s.chromaFormat == 1 ? 6 : (s.chromaFormat == 2 ? 8 : 12);
    const int num = kFrameRateNum[s.frameRateCode];
    s.frameRate =
        num == 0 ? -1.0 : double(num) / kFrameRateDen[s.frameRateCode] * (s.frameRateExtN + 1) / (s.frameRateExtD + 1);
    m_haveSequence = true;

    // Every value the store sizes derive from counts: progressive_sequence
    // alone changes the macroblock rows (352x240: 15 progressive, 16
    // interlaced).
    const bool changed = s.horizontalSize != m_allocW || s.verticalSize != m_allocH || s.aspectRatio != m_allocAspect ||
                         s.chromaFormat != m_allocChroma || !storesMatchSequence() || !m_initialised;
    if (!changed) return true;
    m_allocW = s.horizontalSize;
    m_allocH = s.verticalSize;
    m_allocAspect = s.aspectRatio;
    m_allocChroma = s.chromaFormat;
    if (s.horizontalSize == 0 || s.verticalSize == 0 || s.chromaFormat == 0) {
        freeStores();
        return false;
    }
    return allocateStores();
}

bool Decoder::readExtensionsAndUserData(bool afterSequenceHeader) {
    BitReader& br = *m_br;
    bool firstExtension = afterSequenceHeader;
    bool sequenceExtension = false;
    for (;;) {
        if (!br.nextStartCode()) return sequenceExtension;
        const uint32_t code = br.show(32);
        if (code == 0x1B2) {
            br.skip(32);
            continue;
        }
        if (code != 0x1B5) return sequenceExtension;
        br.skip(32);
        switch (br.get(4)) {
        case 1:
            // Only right after the sequence header; one after a GOP or
            // picture header is passed over, as other decoders do.
            if (firstExtension) {
                parseSequenceExtension();
                sequenceExtension = true;
            } else {
                KIVRA_TRACE("sequence extension away from its sequence header passed over\r\n");
            }
            break;
        case 3: parseQuantMatrixExtension(); break;
        case 8: parsePictureCodingExtension(); break;
        default: break;  // display extensions and the rest are not used
        }
        firstExtension = false;
    }
}

void Decoder::parseSequenceExtension() {
    BitReader& br = *m_br;
    SequenceState& s = m_seq;
    br.skip(8);  // profile_and_level_indication
    s.progressiveSequence = static_cast<int>(br.get1());
    s.chromaFormat = static_cast<int>(br.get(2));
    s.horizontalSize = (s.horizontalSize & 0xFFF) | static_cast<int>(br.get(2) << 12);
    s.verticalSize = (s.verticalSize & 0xFFF) | static_cast<int>(br.get(2) << 12);
    br.skip(12);  // bit_rate_extension
    br.skip(1);   // marker
    br.skip(8);   // vbv_buffer_size_extension
    br.skip(1);   // low_delay
    s.frameRateExtN = static_cast<int>(br.get(2));
    s.frameRateExtD = static_cast<int>(br.get(5));
}

void Decoder::parseQuantMatrixExtension() {
    BitReader& br = *m_br;
    SequenceState& s = m_seq;
    if (br.get1()) {
        loadMatrix(s.intraMatrix);
        std::memcpy(s.chromaIntraMatrix, s.intraMatrix, 64);
    }
    if (br.get1()) {
        loadMatrix(s.nonIntraMatrix);
        std::memcpy(s.chromaNonIntraMatrix, s.nonIntraMatrix, 64);
    }
    if (br.get1()) loadMatrix(s.chromaIntraMatrix);
    if (br.get1()) loadMatrix(s.chromaNonIntraMatrix);
}

void Decoder::parsePictureCodingExtension() {
    BitReader& br = *m_br;
    PictureState& p = m_pic;
    p.fCode[0][0] = static_cast<int>(br.get(4));
    p.fCode[0][1] = static_cast<int>(br.get(4));
    p.fCode[1][0] = static_cast<int>(br.get(4));
    p.fCode[1][1] = static_cast<int>(br.get(4));
    p.intraDcPrecision = static_cast<int>(br.get(2));
    p.structure = static_cast<int>(br.get(2));
    p.topFieldFirst = static_cast<int>(br.get1());
    p.framePredFrameDct = static_cast<int>(br.get1());
    p.concealmentMotionVectors = static_cast<int>(br.get1());
    p.qScaleType = static_cast<int>(br.get1());
    p.intraVlcFormat = static_cast<int>(br.get1());
    p.alternateScan = static_cast<int>(br.get1());
    p.repeatFirstField = static_cast<int>(br.get1());
    br.skip(1);  // chroma_420_type
    p.progressiveFrame = static_cast<int>(br.get1());
    if (br.get1()) br.skip(20);  // composite display fields
}

Decoder::HeaderResult Decoder::readHeaders(int64_t endGuard) {
    BitReader& br = *m_br;
    for (;;) {
        if (!br.nextStartCode()) return HeaderResult::Stopped;
        const uint32_t code = br.get(32);
        if (code == 0x1B3) {
            parseSequenceHeader();
            continue;
        }
        if (code == 0x1B8) {
            br.skip(25);  // drop_frame_flag and time code
            br.skip(2);   // closed_gop, broken_link
            readExtensionsAndUserData();
            continue;
        }
        if (code != 0x100) continue;
        PictureState& p = m_pic;
        p.temporalReference = static_cast<int>(br.get(10));
        p.codingType = static_cast<int>(br.get(3));
        if (p.codingType == kPicI && endGuard >= 0 && br.sourcePosition() >= endGuard) {
            m_fault = kFaultEndGuard;
            return HeaderResult::EndGuard;
        }
        br.skip(16);  // vbv_delay
        if (p.codingType == kPicP || p.codingType == kPicB) {
            p.fullPelForward = static_cast<int>(br.get1());
            p.forwardFCode = static_cast<int>(br.get(3));
        }
        if (p.codingType == kPicB) {
            p.fullPelBackward = static_cast<int>(br.get1());
            p.backwardFCode = static_cast<int>(br.get(3));
        }
        while (br.get1()) {  // extra_information_picture
            br.skip(8);
            if (br.dead()) return HeaderResult::Stopped;
        }
        // Without a picture coding extension the picture is a progressive
        // frame with frame prediction.
        p.fCode[0][0] = p.fCode[0][1] = p.forwardFCode;
        p.fCode[1][0] = p.fCode[1][1] = p.backwardFCode;
        p.intraDcPrecision = 0;
        p.structure = kFramePicture;
        p.topFieldFirst = 0;
        p.framePredFrameDct = 1;
        p.concealmentMotionVectors = 0;
        p.qScaleType = 0;
        p.intraVlcFormat = 0;
        p.alternateScan = 0;
        p.repeatFirstField = 0;
        p.progressiveFrame = 1;
        readExtensionsAndUserData();
        if (br.dead()) return HeaderResult::Stopped;
        if (p.codingType < kPicI || p.codingType > kPicB) continue;
        return HeaderResult::Picture;
    }
}

// ---------------------------------------------------------------------------
// Pictures and slices

bool Decoder::decodePicture() {
    if (!canDecode()) return false;
    beginPicture();
    decodeSlices();
    return endPicture();
}

void Decoder::beginPicture() {
    const PictureState& p = m_pic;
    const bool field = p.structure != kFramePicture;
    if (!field) m_secondFieldPending = false;
    m_secondField = field && m_secondFieldPending;
    if (p.codingType != kPicB) {
        if (!m_secondField) {
            std::swap(m_fwd, m_bwd);
            if (m_refCount < 2) ++m_refCount;
        }
        m_cur = m_bwd;
    } else {
        m_cur = m_aux;
    }
    m_rec[m_cur] = PictureRecord{p.codingType, p.progressiveFrame, p.topFieldFirst * 2 + p.repeatFirstField};
    computeFit();
    prepareScanQuant();
}

// The matrices and the scan hold for a picture; the quantiser scale changes
// from slice to slice and macroblock to macroblock, and the products are
// formed again when a block asks for another one.
void Decoder::prepareScanQuant() {
    const uint8_t* scan = m_pic.alternateScan ? kAlternate : kZigZag;
    const uint8_t* matrices[4] = {m_seq.intraMatrix, m_seq.chromaIntraMatrix, m_seq.nonIntraMatrix,
                                  m_seq.chromaNonIntraMatrix};
    for (int k = 0; k < 4; ++k) {
        ScanQuant& sq = m_scanQuant[k];
        for (int i = 0; i < 64; ++i) {
            sq.matrix[i] = matrices[k][scan[i]];
            sq.step[i] = ScanStep{0, scan[i], 0};
        }
        sq.q = -1;
    }
}

// Matrix entry times quantiser scale in scan order: at most 255 * 112, so a
// 16-bit product, and the dequantisation's arithmetic is unchanged.
inline const ScanStep* Decoder::scanQuant(int which) {
    ScanQuant& sq = m_scanQuant[which];
    if (sq.q != m_qscale) {
        const int16_t q = static_cast<int16_t>(m_qscale);
        for (int i = 0; i < 64; ++i) sq.step[i].quant = static_cast<int16_t>(sq.matrix[i] * q);
        sq.q = m_qscale;
    }
    return sq.step;
}

void Decoder::decodeSlices() {
    BitReader& br = *m_br;
    for (;;) {
        if (br.dead()) break;
        if (!br.nextStartCode()) break;
        const uint32_t code = br.show(32);
        if (code < 0x101 || code > 0x1AF) {
            // The picture ends early; the start code stays for the header
            // reader so the next picture is not lost.
            m_fault = kFaultStartCode;
            break;
        }
        br.skip(32);
        int row = static_cast<int>(code & 0xFF) - 1;
        if (m_seq.verticalSize > 2800) row += static_cast<int>(br.get(3)) << 7;
        int mbAddr = row;
        bool done = false;
        if (!decodeSlice(mbAddr, done)) {
            m_fault = 0;  // rest of the slice abandoned
        }
        if (done) break;
    }
}

bool Decoder::endPicture() {
    const bool field = m_pic.structure != kFramePicture;
    const bool complete = !field || m_secondField;
    if (field) m_secondFieldPending = !m_secondFieldPending;
    if (!m_secondFieldPending) ++m_picturesDecoded;
    return complete;
}

bool Decoder::splittable() const {
    return canDecode() && m_pic.codingType == kPicI && m_pic.structure == kFramePicture && m_seq.verticalSize <= 2800 &&
           !m_pic.concealmentMotionVectors;
}

bool Decoder::collectSlices(std::vector<uint8_t>& out, std::vector<uint32_t>* starts, int pauseRow, int* pausedAt) {
    return m_br->collectSlices(out, starts, pauseRow, pausedAt);
}

void Decoder::decodeSlicesIn(const uint8_t* p, const uint8_t* end, int mbLimit) {
    BitReader local;
    local.attachBytes(p, end);
    BitReader* saved = m_br;
    m_br = &local;
    m_mbLimit = mbLimit;
    prepareScanQuant();
    decodeSlices();
    m_mbLimit = INT_MAX;
    m_br = saved;
}

void Decoder::borrowPicture(const Decoder& master) {
    m_dsp = master.m_dsp;
    m_seq = master.m_seq;
    m_pic = master.m_pic;
    m_cur = master.m_cur;
    m_store[m_cur] = master.m_store[master.m_cur];
    m_borrowed = true;
    m_initialised = master.m_initialised;
    m_fitCols = master.m_fitCols;
    m_fitRows = master.m_fitRows;
    m_fault = 0;
    prepareScanQuant();
}

// ---------------------------------------------------------------------------
// Reduced decoding: DC coefficients only

void Decoder::decodeIntraDcIn(const uint8_t* p, const uint8_t* end, int mbLimit, const DcGrid& grid) {
    DcLane lane;
    lane.br.attachBytes(p, end);
    lane.limit = mbLimit;
    walkLaneDc(lane, grid);
}

namespace {

// What walking one block of the reduced picture needs.
struct DcBlockTables {
    const VlcEntry* luma;
    const VlcEntry* chroma;
    const uint16_t* skip;  // CoefSkipTable of the picture's intra_vlc_format
    const CoefTable* coef;
    int shift;  // 3 - intra_dc_precision
};

DcBlockTables dcBlockTables(const Tables& t, const PictureState& p) {
    const bool b15 = p.intraVlcFormat != 0;
    return DcBlockTables{t.dcLuma.table(), t.dcChroma.table(), (b15 ? t.skip1 : t.skip0).data(),
                         b15 ? &t.coef1 : &t.coef0, 3 - p.intraDcPrecision};
}

// One block of an intra macroblock for the reduced picture: its mean from
// the DC coefficient, its AC coefficients walked past. A top-up leaves 57
// bits or more: the DC size code (up to 10 bits), the differential (up to
// 11) and the first two lookups of the AC walk, so that a block with the DC
// alone or with a few short codes, most blocks, takes no further refill.
[[gnu::always_inline]] inline bool walkBlockDcUnchecked(LocalBits& br, const DcBlockTables& t, int comp, int& pred,
                                                        int& mean) {
    br.topUp(57);
    const VlcEntry e = comp == 0 ? t.luma[br.peek(9)] : t.chroma[br.peek(10)];
    if (e.len == 0) return false;
    br.dropUnchecked(e.len);
    // size 0 reads no bits and gives 0; otherwise a leading 0 bit marks a
    // negative differential.
    const int size = e.sym;
    const int raw = static_cast<int>(br.peek(32) >> 1 >> (31 - size));
    const int half = (1 << size) >> 1;
    br.dropUnchecked(size);
    pred += raw < half ? raw - ((1 << size) - 1) : raw;
    // The block's mean is its DC coefficient / 8 (rounded), plus the
    // mid-grey the predictor leaves out.
    const int v = 128 + ((pred * (1 << t.shift) + 4) >> 3);
    mean = v < 0 ? 0 : (v > 255 ? 255 : v);
    // Two lookups a top-up: after one there are 32 bits or more, after the
    // DC 36 or more.
    static_assert(2 * CoefSkipTable::kBits <= 32);
    const uint16_t* st = t.skip;
    int i = 0;
    for (;;) {
        uint16_t s = st[br.peek(CoefSkipTable::kBits)];
        if (CoefSkipTable::bits(s) != 0) [[likely]] {
            br.dropUnchecked(CoefSkipTable::bits(s));
            i += CoefSkipTable::positions(s);
            if (CoefSkipTable::endOfBlock(s)) break;
            s = st[br.peek(CoefSkipTable::kBits)];
            if (CoefSkipTable::bits(s) != 0) [[likely]] {
                br.dropUnchecked(CoefSkipTable::bits(s));
                i += CoefSkipTable::positions(s);
                if (CoefSkipTable::endOfBlock(s)) break;
                if (i > 63) return false;
                br.topUp(32);
                continue;
            }
        }
        // A code the skip table does not take: an escape or a long one.
        br.topUp(32);
        const CoefEntry c = t.coef->lookup(br.peek(32));
        if (c.run >= 0) {
            br.dropUnchecked(c.len);
            i += c.run + 1;
        } else if (c.run == kCoefEscape) {
            i += static_cast<int>(br.peek(c.len + 6) & 63) + 1;
            br.dropUnchecked(c.len + 18);  // the escape, its run and its level
        } else {
            return false;  // an end of block always fits the skip table
        }
        if (i > 63) return false;
        br.topUp(32);
    }
    return i <= 63;
}

// walkBlockDc with the end of the data checked once, after the block.
[[gnu::always_inline]] inline bool walkBlockDc(LocalBits& br, const DcBlockTables& t, int comp, int& pred, int& mean) {
    const bool ok = walkBlockDcUnchecked(br, t, comp, pred, mean);
    br.checkEnd();
    return ok;
}

constexpr int blockComponent(int b) { return b < 4 ? 0 : 1 + ((b - 4) & 1); }

}  // namespace

// The block means of the macroblock at (mbx, mby) into the grids: the blocks
// of a field DCT macroblock are its two fields, each half of both rows.
[[gnu::always_inline]] inline void Decoder::putDcMeans(int mbx, int mby, bool fieldDct, const int mean[8],
                                                       const DcGrid& g) const {
    const int lx = 2 * mbx, ly = 2 * mby;
    // Inside every grid (all but the last row or column at odd sizes): no
    // sample to drop.
    const bool inside = ly + 1 < g.rows[0] && lx + 1 < g.stride[0] && ly + 1 < g.rows[1] && mbx < g.stride[1] &&
                        ly + 1 < g.rows[2] && mbx < g.stride[2];
    auto put = [&](int plane, int x, int y, int v) {
        if (inside || (y < g.rows[plane] && x < g.stride[plane]))
            g.plane[plane][ptrdiff_t(y) * g.stride[plane] + x] = uint8_t(v);
    };
    if (fieldDct) {
        // Blocks 0/2 (1/3) are the two fields of the left (right) half.
        const int l = (mean[0] + mean[2] + 1) >> 1, r = (mean[1] + mean[3] + 1) >> 1;
        put(0, lx, ly, l);
        put(0, lx + 1, ly, r);
        put(0, lx, ly + 1, l);
        put(0, lx + 1, ly + 1, r);
    } else {
        put(0, lx, ly, mean[0]);
        put(0, lx + 1, ly, mean[1]);
        put(0, lx, ly + 1, mean[2]);
        put(0, lx + 1, ly + 1, mean[3]);
    }
    if (m_seq.chromaFormat == 1) {
        put(1, mbx, mby, mean[4]);
        put(2, mbx, mby, mean[5]);
    } else if (fieldDct) {
        const int u = (mean[4] + mean[6] + 1) >> 1, v = (mean[5] + mean[7] + 1) >> 1;
        put(1, mbx, ly, u);
        put(1, mbx, ly + 1, u);
        put(2, mbx, ly, v);
        put(2, mbx, ly + 1, v);
    } else {
        put(1, mbx, ly, mean[4]);
        put(2, mbx, ly, mean[5]);
        put(1, mbx, ly + 1, mean[6]);
        put(2, mbx, ly + 1, mean[7]);
    }
}

// ---------------------------------------------------------------------------
// The reduced walk. A lane reads the slices of its range one after another,
// each from its start code: macroblock headers (concealment vectors parsed
// past), block DCs, address increments, up to the lane's macroblock limit. A
// slice given up leaves no fault behind; the next one is read. Walking past
// coefficient codes is one long chain of dependent table lookups and shifts:
// two lanes over different slices, a block of one and a block of the other
// in turn, give the processor two chains to work on at once, and the grids
// come out as the two lanes walked one after the other.

bool Decoder::laneSliceDc(DcLane& L) {
    BitReader* saved = m_br;
    m_br = &L.br;
    m_mbLimit = L.limit;
    BitReader& br = L.br;
    L.inSlice = false;
    for (;;) {
        if (br.dead() || !br.nextStartCode()) {
            L.ended = true;
            break;
        }
        const uint32_t code = br.show(32);
        if (code < 0x101 || code > 0x1AF) {
            m_fault = kFaultStartCode;
            L.ended = true;
            break;
        }
        br.skip(32);
        int row = static_cast<int>(code & 0xFF) - 1;
        if (m_seq.verticalSize > 2800) row += static_cast<int>(br.get(3)) << 7;
        L.total = sliceMacroblockCount();
        br.skip(5);  // quantiser_scale_code: the DC does not depend on it
        bool done = false;
        if (beginSliceMacroblocks(row, L.total, L.addr, done)) {
            L.inSlice = true;
            break;
        }
        if (done) {
            L.ended = true;
            break;
        }
    }
    L.pred[0] = L.pred[1] = L.pred[2] = 0;
    m_mbLimit = INT_MAX;
    m_br = saved;
    return L.inSlice;
}

bool Decoder::laneHeaderDc(DcLane& L) {
    BitReader& br = L.br;
    if (br.dead()) {
        L.inSlice = false;
        L.ended = true;
        return false;
    }
    // macroblock_type of an I picture: 1 intra, 01 intra with a quantiser.
    br.need(24);
    const uint32_t type = br.peek(2);
    if (type == 0) {
        L.inSlice = false;
        return false;
    }
    const bool quant = type == 1;
    br.drop(quant ? 2 : 1);
    const bool framePic = m_pic.structure == kFramePicture;
    L.fieldDct = framePic && !m_pic.framePredFrameDct && br.get1() != 0;
    if (quant) br.skip(5);
    if (m_pic.concealmentMotionVectors) {
        BitReader* saved = m_br;
        m_br = &br;
        const bool ok = readMotionVectors(0, !framePic, false, 1);
        m_br = saved;
        if (!ok) {
            L.inSlice = false;
            return false;
        }
        br.skip(1);  // marker_bit
    }
    // A macroblock whose header was read whole is kept, even when its last
    // block ends with the data.
    if (br.dead()) {
        L.inSlice = false;
        return false;
    }
    return true;
}

void Decoder::laneNextMacroblockDc(DcLane& L, const DcGrid& g) {
    const int w = m_seq.mbWidth;
    putDcMeans(L.addr % w, L.addr / w, L.fieldDct, L.mean, g);
    BitReader& br = L.br;
    if (++L.addr >= L.total) {
        L.inSlice = false;
        L.ended = true;
        return;
    }
    br.need(23);
    if (br.peek(23) == 0) {
        L.inSlice = false;
        return;
    }
    int inc = 1;  // the usual case, code 1
    if (br.peek(1) != 0) {
        br.drop(1);
    } else {
        BitReader* saved = m_br;
        m_br = &br;
        inc = readMbai();
        m_br = saved;
    }
    if (inc <= 0) {
        L.inSlice = false;
        return;
    }
    // Skipped macroblocks have no place in an I picture: their samples keep
    // what the grid held.
    if (inc > 1) {
        L.addr += inc - 1;
        L.pred[0] = L.pred[1] = L.pred[2] = 0;
    }
    if (L.addr >= L.total) {
        L.inSlice = false;
        L.ended = true;
    }
}

// The blocks of the lane's macroblock, alone.
KIVRA_WALK_CLONES bool Decoder::laneBlocksDc(DcLane& L) {
    const DcBlockTables t = dcBlockTables(*m_tables, m_pic);
    LocalBits br(L.br);
    for (int k = 0; k < m_seq.blocksPerMb; ++k) {
        const int comp = blockComponent(k);
        if (!walkBlockDc(br, t, comp, L.pred[comp], L.mean[k])) return false;
    }
    return true;
}

void Decoder::walkLaneDc(DcLane& L, const DcGrid& g) {
    for (;;) {
        if (!L.inSlice && (L.ended || !laneSliceDc(L))) break;
        if (!laneHeaderDc(L)) continue;
        if (laneBlocksDc(L)) {
            laneNextMacroblockDc(L, g);
        } else {
            L.inSlice = false;
        }
    }
}

// Lane done has ended while busy still has slices ahead: done takes the
// later part of them, from the slice starting a new row where about half of
// busy's remaining work lies (bytes plus 12 a macroblock, as the split of
// the range was made), and busy stops before that row. False when busy has
// too little left to share.
bool Decoder::takeOverDc(DcLane& done, DcLane& busy, const uint8_t*& busyEnd, const uint8_t* p, const uint32_t* starts,
                         size_t count) {
    const int w = m_seq.mbWidth;
    const int busyRow = busy.addr / w;
    const uint8_t* at = busy.br.bytePointer();
    if (at == nullptr) return false;  // busy has read all it has
    const int endRow = std::min(busy.limit / w, m_seq.mbHeight);
    // The slices of busy's range still ahead of it, on later rows.
    size_t first = count, last = count;
    for (size_t k = 0; k < count; ++k) {
        const uint8_t* s = p + starts[k];
        if (s >= busyEnd) {
            last = k;
            break;
        }
        if (first == count && s > at && s[3] - 1 > busyRow) first = k;
    }
    if (first >= last) return false;
    const size_t rowWeight = 12 * size_t(w);
    const size_t total = size_t(busyEnd - at) + size_t(std::max(endRow - busyRow, 0)) * rowWeight;
    for (size_t k = first; k < last; ++k) {
        const uint8_t* s = p + starts[k];
        const int row = s[3] - 1;
        if (row * w >= busy.limit) break;
        if (k > first && row == p[starts[k - 1] + 3] - 1) continue;  // not a new row
        if (2 * (size_t(s - at) + size_t(row - busyRow) * rowWeight) < total) continue;
        if (row <= busyRow + 1) return false;  // too little to share
        done = DcLane{};
        done.br.attachBytes(s, busyEnd);
        done.limit = busy.limit;
        busy.limit = row * w;
        if (busy.total > busy.limit) busy.total = busy.limit;
        busyEnd = s;
        return true;
    }
    return false;
}

void Decoder::decodeIntraDcLanes(const uint8_t* p, const uint8_t* mid, const uint8_t* end, int midLimit, int endLimit,
                                 const DcGrid& g, const uint8_t* base, const uint32_t* starts, size_t count) {
    DcLane lanes[2];
    lanes[0].br.attachBytes(p, mid);
    lanes[0].limit = midLimit;
    lanes[1].br.attachBytes(mid, end);
    lanes[1].limit = endLimit;
    walkLanePairDc(lanes[0], lanes[1], mid, end, g, base, starts, count);
}

// The two lanes side by side; endA and endB: where each one's bytes end.
KIVRA_WALK_CLONES void Decoder::walkLanePairDc(DcLane& a, DcLane& b, const uint8_t* endA, const uint8_t* endB,
                                               const DcGrid& g, const uint8_t* base, const uint32_t* starts,
                                               size_t count) {
    const DcBlockTables t = dcBlockTables(*m_tables, m_pic);
    const int nblocks = m_seq.blocksPerMb;
    for (;;) {
        if (!a.inSlice && !a.ended) laneSliceDc(a);
        if (!b.inSlice && !b.ended) laneSliceDc(b);
        if (!a.inSlice || !b.inSlice) {
            // One lane has ended: it takes over half of what the other has
            // left, while that is worth sharing.
            const uint8_t* endBefore = a.ended ? endB : endA;
            if (a.ended && b.inSlice && takeOverDc(a, b, endB, base, starts, count)) {
                endA = endBefore;  // a now walks from where b stops to b's old end
                continue;
            }
            if (b.ended && a.inSlice && takeOverDc(b, a, endA, base, starts, count)) {
                endB = endBefore;
                continue;
            }
            break;
        }
        const bool ha = laneHeaderDc(a), hb = laneHeaderDc(b);
        bool oka = ha, okb = hb;
        if (ha && hb) {
            LocalBits ba(a.br), bb(b.br);
            for (int k = 0; k < nblocks; ++k) {
                const int comp = blockComponent(k);
                oka = oka && walkBlockDc(ba, t, comp, a.pred[comp], a.mean[k]);
                okb = okb && walkBlockDc(bb, t, comp, b.pred[comp], b.mean[k]);
            }
        } else if (ha) {
            oka = laneBlocksDc(a);
        } else if (hb) {
            okb = laneBlocksDc(b);
        }
        if (ha) {
            if (oka) {
                laneNextMacroblockDc(a, g);
            } else {
                a.inSlice = false;
            }
        }
        if (hb) {
            if (okb) {
                laneNextMacroblockDc(b, g);
            } else {
                b.inSlice = false;
            }
        }
    }
    // The lane left over, alone.
    walkLaneDc(a, g);
    walkLaneDc(b, g);
}

int Decoder::readMbai() {
    BitReader& br = *m_br;
    int inc = 0;
    for (;;) {
        int sym = readVlc(br, m_tables->mbai);
        if (sym == kInvalid) return -1;
        if (sym == kMbaiEscape) {
            inc += 33;
        } else if (sym != kMbaiStuffing) {
            return inc + sym;
        }
        if (br.dead()) return -1;
    }
}

// The macroblocks a slice may address. Whole macroblock rows only: a field
// of a progressive sequence with an odd row count has no place for the half
// row.
int Decoder::sliceMacroblockCount() const {
    const bool field = m_pic.structure != kFramePicture;
    const int total = m_seq.mbWidth * (field ? m_seq.mbHeight / 2 : m_seq.mbHeight);
    return total > m_mbLimit ? m_mbLimit : total;
}

// The slice header after quantiser_scale_code: the extra slice information
// is skipped (intra_slice, slice_picture_id_enable, slice_picture_id), the
// predictors reset and the first macroblock address read into addr. False,
// with done set, when the slice holds no macroblock of the picture.
bool Decoder::beginSliceMacroblocks(int row, int total, int& addr, bool& done) {
    BitReader& br = *m_br;
    if (br.get1()) {
        br.skip(8);
        while (br.get1()) {
            br.skip(8);
            if (br.dead()) break;
        }
    }
    m_dcPred[0] = m_dcPred[1] = m_dcPred[2] = 0;
    std::memset(m_pmv, 0, sizeof(m_pmv));
    const int inc = readMbai();
    if (inc <= 0) {
        m_fault = kFaultMbai;
        done = true;
        return false;
    }
    addr = row * m_seq.mbWidth + inc - 1;
    if (row < 0 || addr >= total) {
        done = true;
        return false;
    }
    return true;
}

// mbAddr holds the slice row on entry. Returns false when the rest of the
// slice is abandoned; done is set when the picture data has ended.
bool Decoder::decodeSlice(int& mbAddr, bool& done) {
    BitReader& br = *m_br;
    const int total = sliceMacroblockCount();
    const int qcode = static_cast<int>(br.get(5));
    m_qscale = m_pic.qScaleType ? kNonLinearQuant[qcode] : qcode * 2;
    m_prevFlags = 0;
    int addr = 0;
    if (!beginSliceMacroblocks(mbAddr, total, addr, done)) return true;
    for (;;) {
        if (br.dead()) {
            done = true;
            return true;
        }
        if (!decodeMacroblock(addr)) return false;
        ++addr;
        if (addr >= total) {
            done = true;
            return true;
        }
        br.need(23);
        if (br.peek(23) == 0) return true;  // end of slice
        // The usual increment, 1, is the code "1": no table, nothing skipped.
        if (br.peek(1) != 0) {
            br.drop(1);
            continue;
        }
        const int inc = readMbai();
        if (inc <= 0) {
            m_fault = kFaultMbai;
            return false;
        }
        const int skipped = inc - 1 < total - addr ? inc - 1 : total - addr;
        if (skipped > 0) {
            skippedMacroblocks(addr, skipped);
            addr += skipped;
        }
        if (addr >= total) {
            done = true;
            return true;
        }
    }
}

// Without branches on the code (they go either way at random): the
// magnitude is worked out whatever the code, and the wrap into
// [-16 f, 16 f - 1] is a mask, the range being a power of two. The
// prediction lies within twice the range (a field vector's doubled one), so
// one wrap is all the standard's two tests can make.
int Decoder::decodeMotionComponent(int pred, int motionCode, int residual, int fCode) {
    const int f = 1 << (fCode - 1);
    const int magnitude = (std::abs(motionCode) - 1) * f + residual + 1;  // |motionCode| when f is 1
    const int delta = motionCode == 0 ? 0 : (motionCode < 0 ? -magnitude : magnitude);
    return ((pred + delta + 16 * f) & (32 * f - 1)) - 16 * f;
}

void Decoder::dualPrimeVector(const int v[2], const int dmv[2], int m, int e, int out[2]) {
    out[0] = ((v[0] * m + (v[0] > 0 ? 1 : 0)) >> 1) + dmv[0];
    out[1] = ((v[1] * m + (v[1] > 0 ? 1 : 0)) >> 1) + e + dmv[1];
}

namespace {

// The new vector component from motion_code (+ residual) at the top of the
// 32-bit window w, with its bits in used; kInvalid for no code. fcode is
// 1..9.
inline int motionDeltaAt(uint32_t w, const MotionTable& motion, int fcode, int pred, int& used) {
    const MotionEntry e = motion.lookup(w);
    if (e.len == 0) return kInvalid;
    // The residual's fcode - 1 bits follow a code other than 0; taken
    // without a branch (none when there are no bits).
    const int rbits = e.code != 0 ? fcode - 1 : 0;
    const int residual = static_cast<int>((uint64_t(w << e.len) << rbits) >> 32);
    used = e.len + rbits;
    return Decoder::decodeMotionComponent(pred, e.code, residual, fcode);
}

// Reads motion_code (+ residual) and returns the new vector component, or
// kInvalid.
template <class Bits>
inline int readMotionDelta(Bits& br, const MotionTable& motion, int fcode, int pred) {
    if (fcode < 1 || fcode > 9) return kInvalid;
    // The code, its sign and the residual: at most 11 + 8 bits.
    br.need(24);
    int used = 0;
    const int d = motionDeltaAt(br.peek(32), motion, fcode, pred, used);
    if (d != kInvalid) br.drop(used);
    return d;
}

template <class Bits>
inline int readDmv(Bits& br) {
    if (!br.get(1)) return 0;
    return br.get(1) ? -1 : 1;
}

}  // namespace

// motion_vectors(s); count, fieldFormat and dmv as in the standard's
// Tables 6-17 and 6-18.
bool Decoder::readMotionVectors(int s, bool fieldFormat, bool dmv, int count) {
    LocalBits br(*m_br);
    const MotionTable& motion = m_tables->motionSigned;
    const bool framePic = m_pic.structure == kFramePicture;
    const int fh = m_pic.fCode[s][0], fv = m_pic.fCode[s][1];
    if (count == 1 && !fieldFormat && !dmv) {
        // A frame vector, the common case: both components from one top-up
        // (each takes at most 19 bits), the end of the data checked once.
        if (fh < 1 || fh > 9 || fv < 1 || fv > 9) return false;
        br.topUp(38);
        int used = 0;
        const int h = motionDeltaAt(br.peek(32), motion, fh, m_pmv[0][s][0], used);
        if (h == kInvalid) return false;
        br.dropUnchecked(used);
        const int v = motionDeltaAt(br.peek(32), motion, fv, m_pmv[0][s][1], used);
        if (v == kInvalid) return false;
        br.dropUnchecked(used);
        br.checkEnd();
        m_mv[0][s][0] = m_pmv[0][s][0] = m_pmv[1][s][0] = h;
        m_mv[0][s][1] = m_pmv[0][s][1] = m_pmv[1][s][1] = v;
        return true;
    }
    if (count == 1) {
        if (fieldFormat && !dmv) m_fieldSelect[0][s] = static_cast<int>(br.get(1));
        int h = readMotionDelta(br, motion, fh, m_pmv[0][s][0]);
        if (h == kInvalid) return false;
        if (dmv) m_dmv[0] = readDmv(br);
        // Field vectors of frame pictures predict from half the frame vector.
        const bool halve = framePic && fieldFormat;
        int v = readMotionDelta(br, motion, fv, halve ? m_pmv[0][s][1] >> 1 : m_pmv[0][s][1]);
        if (v == kInvalid) return false;
        if (dmv) m_dmv[1] = readDmv(br);
        m_mv[0][s][0] = h;
        m_mv[0][s][1] = v;
        m_pmv[0][s][0] = m_pmv[1][s][0] = h;
        m_pmv[0][s][1] = m_pmv[1][s][1] = halve ? v * 2 : v;
        return true;
    }
    for (int r = 0; r < 2; ++r) {
        m_fieldSelect[r][s] = static_cast<int>(br.get(1));
        int h = readMotionDelta(br, motion, fh, m_pmv[r][s][0]);
        if (h == kInvalid) return false;
        int v = readMotionDelta(br, motion, fv, framePic ? m_pmv[r][s][1] >> 1 : m_pmv[r][s][1]);
        if (v == kInvalid) return false;
        m_mv[r][s][0] = h;
        m_mv[r][s][1] = v;
        m_pmv[r][s][0] = h;
        m_pmv[r][s][1] = framePic ? v * 2 : v;
    }
    return true;
}

namespace {

// The coefficients of a block after scan position i (-1: none yet) up to its
// end of block: two short codes a lookup (a single one is written twice),
// the others one at a time; value dequantises a level with its position's
// factor, pairValue a level as the pair table holds it.
// The last scan position written (-1 when none), or -2 for a damaged block.
template <class Value, class PairValue>
[[gnu::always_inline]] inline int readCoefficients(LocalBits& br, const CoefPairTable& pairs, const CoefTable& coef,
                                                   const ScanStep* steps, int16_t* blk, int i, Value value,
                                                   PairValue pairValue) {
    const CoefPair* pairTable = pairs.data();
    const CoefEntry* coefTable = coef.data();
    for (;;) {
        // Codes take at most 24 bits (an escape): two of them a top-up.
        br.topUp(57);
#pragma GCC unroll 2
        for (int twice = 0; twice < 2; ++twice) {
            const uint32_t w = br.peek(32);
            const CoefPair pr = CoefPairTable::lookup(pairTable, w);
            if (pr.len != 0) [[likely]] {
                br.drop(pr.len);
                const int i1 = i + pr.run1 + 1;
                const int i2 = i1 + pr.run2 + 1;
                if (i2 > 63) return -2;
                const ScanStep s1 = steps[i1], s2 = steps[i2];
                blk[s1.pos] = pairValue(pr.level1, s1.quant);
                blk[s2.pos] = pairValue(pr.level2, s2.quant);
                i = i2;
                if (pr.eob) return i;
                continue;
            }
            const CoefEntry e = CoefTable::lookup(coefTable, w);
            int run, level;
            if (e.run >= 0) {
                br.drop(e.len);
                run = e.run;
                level = e.level;
            } else if (e.run == kCoefEob) {
                br.drop(e.len);
                return i;
            } else if (e.run == kCoefEscape) {
                br.drop(e.len);
                run = static_cast<int>(br.peek(6));
                level = static_cast<int>(br.peek(18) & 0xFFF);
                br.drop(18);
                if (level > 2047) level -= 4096;
            } else {
                return -2;
            }
            i += run + 1;
            if (i > 63) return -2;
            const ScanStep st = steps[i];
            blk[st.pos] = value(level, st.quant);
        }
    }
}

}  // namespace

bool Decoder::decodeIntraBlock(int16_t* blk, int comp, const ScanStep* steps, bool& dcOnly) {
    LocalBits br(*m_br);
    const Tables& t = *m_tables;
    int size = readVlc(br, comp == 0 ? t.dcLuma : t.dcChroma);
    if (size == kInvalid) return false;
    // The differential without branches on its size or sign: size 0 reads
    // no bits and gives 0; a leading 0 bit marks a negative one.
    br.need(24);
    const int raw = static_cast<int>(br.peek(32) >> 1 >> (31 - size));
    const int diff = raw < ((1 << size) >> 1) ? raw - ((1 << size) - 1) : raw;
    br.drop(size);
    // The predictor starts from 0, not mid-grey: reconstruction adds the
    // missing 128 back.
    m_dcPred[comp] += diff;
    blk[0] = static_cast<int16_t>(m_dcPred[comp] * (1 << (3 - m_pic.intraDcPrecision)));
    dcOnly = true;
    // Blocks with the DC alone are the common case: test for the end of
    // block code ("10", or "0110" with intra_vlc_format) before the table.
    br.need(24);
    if (m_pic.intraVlcFormat ? br.peek(4) == 0x6 : br.peek(2) == 0x2) {
        br.drop(m_pic.intraVlcFormat ? 4 : 2);
        return true;
    }
    const CoefTable& coef = m_pic.intraVlcFormat ? t.coef1 : t.coef0;
    const CoefPairTable& pairs = m_pic.intraVlcFormat ? t.pair1 : t.pair0;
    // (|level| * matrix * q) >> 4 with the level's sign: a negative
    // product is shifted toward zero by adding 15 first.
    auto value = [](int level, int quant) {
        const int v = level * quant;
        return static_cast<int16_t>((v + ((v >> 31) & 15)) >> 4);
    };
    dcOnly = false;
    return readCoefficients(br, pairs, coef, steps, blk, 0, value, value) >= 0;
}

// Forced into decodeCodedBlocks: the bit reader's state then stays in
// registers from block to block.
[[gnu::always_inline]] inline bool Decoder::decodeNonIntraBlock(int16_t* blk, const ScanStep* steps, bool& dcOnly) {
    LocalBits br(*m_br);
    const CoefTable& coef = m_tables->coef0;
    const CoefPairTable& pairs = m_tables->pairNonIntra;
    // ((2 |level| + 1) * matrix * q) >> 5 with the level's sign: 2 level
    // plus its sign, and a negative product shifted toward zero by adding 31
    // first.
    auto value = [](int level, int quant) {
        const int v = (2 * level + ((level >> 31) | 1)) * quant;
        return static_cast<int16_t>((v + ((v >> 31) & 31)) >> 5);
    };
    int i = -1;
    br.need(32);
    // The first coefficient may be "1s": run 0, level 1.
    if (br.peek(1) == 1) {
        const int level = br.peek(2) & 1 ? -1 : 1;
        br.drop(2);
        i = 0;
        blk[steps[0].pos] = value(level, steps[0].quant);
    }
    // The pair table holds 2 level plus its sign already.
    auto pairValue = [](int doubled, int quant) {
        const int v = doubled * quant;
        return static_cast<int16_t>((v + ((v >> 31) & 31)) >> 5);
    };
    const int last = readCoefficients(br, pairs, coef, steps, blk, i, value, pairValue);
    // Both scans start at raster 0: only the first position holds the DC.
    dcOnly = last <= 0;
    return last >= -1;
}

// ---------------------------------------------------------------------------
// Macroblocks

bool Decoder::decodeMacroblock(int mbAddr) {
    const Tables& t = *m_tables;
    const PictureState& p = m_pic;
    const int mbx = mbAddr % m_seq.mbWidth;
    const int mby = mbAddr / m_seq.mbWidth;
    // Whatever the headers say, nothing is written outside the planes.
    if (!macroblockFits(mbx, mby)) return false;

    const Vlc& typeVlc = p.codingType == kPicI ? t.mbTypeI : (p.codingType == kPicP ? t.mbTypeP : t.mbTypeB);
    // A body of its own for each macroblock type: one jump on the type
    // instead of a test (often mispredicted) for each of its parts.
    switch (readVlc(*m_br, typeVlc)) {
    case kMbForward: return macroblockOfType<kMbForward>(mbx, mby);
    case kMbBackward: return macroblockOfType<kMbBackward>(mbx, mby);
    case kMbForward | kMbBackward: return macroblockOfType<kMbForward | kMbBackward>(mbx, mby);
    case kMbPattern: return macroblockOfType<kMbPattern>(mbx, mby);
    case kMbPattern | kMbQuant: return macroblockOfType<kMbPattern | kMbQuant>(mbx, mby);
    case kMbForward | kMbPattern: return macroblockOfType<kMbForward | kMbPattern>(mbx, mby);
    case kMbForward | kMbPattern | kMbQuant: return macroblockOfType<kMbForward | kMbPattern | kMbQuant>(mbx, mby);
    case kMbBackward | kMbPattern: return macroblockOfType<kMbBackward | kMbPattern>(mbx, mby);
    case kMbBackward | kMbPattern | kMbQuant: return macroblockOfType<kMbBackward | kMbPattern | kMbQuant>(mbx, mby);
    case kMbForward | kMbBackward | kMbPattern:
        return macroblockOfType<kMbForward | kMbBackward | kMbPattern>(mbx, mby);
    case kMbForward | kMbBackward | kMbPattern | kMbQuant:
        return macroblockOfType<kMbForward | kMbBackward | kMbPattern | kMbQuant>(mbx, mby);
    case kMbIntra: return macroblockOfType<kMbIntra>(mbx, mby);
    case kMbIntra | kMbQuant: return macroblockOfType<kMbIntra | kMbQuant>(mbx, mby);
    default:
        // kInvalid; the tables give no other type.
        m_fault = kFaultMbType;
        return false;
    }
}

template <int flags>
bool Decoder::macroblockOfType(int mbx, int mby) {
    BitReader& br = *m_br;
    const Tables& t = *m_tables;
    const PictureState& p = m_pic;
    const bool framePic = p.structure == kFramePicture;
    int motionType = 0;
    int dctType = 0;
    if (flags & (kMbForward | kMbBackward)) {
        motionType = (framePic && p.framePredFrameDct) ? 2 : static_cast<int>(br.get(2));
        if (motionType == 0) {
            m_fault = kFaultMotionType;
            return false;
        }
    }
    if (framePic && !p.framePredFrameDct && (flags & (kMbIntra | kMbPattern))) dctType = static_cast<int>(br.get1());
    if (flags & kMbQuant) {
        const int qcode = static_cast<int>(br.get(5));
        m_qscale = p.qScaleType ? kNonLinearQuant[qcode] : qcode * 2;
    }
    const bool intra = (flags & kMbIntra) != 0;
    const bool concealment = intra && p.concealmentMotionVectors;

    // Motion vector format per motion type (Tables 6-17, 6-18).
    int count = 1;
    bool fieldFormat = !framePic;
    bool dmv = false;
    if (!concealment && motionType != 0) {
        if (framePic) {
            count = motionType == 1 ? 2 : 1;
            fieldFormat = motionType != 2;
        } else {
            count = motionType == 2 ? 2 : 1;
            fieldFormat = true;
        }
        dmv = motionType == 3;
    }
    if ((flags & kMbForward) || concealment) {
        if (!readMotionVectors(0, fieldFormat, dmv, count)) {
            m_fault = kFaultStartCode;
            return false;
        }
    }
    if (flags & kMbBackward) {
        if (!readMotionVectors(1, fieldFormat, dmv, count)) {
            m_fault = kFaultStartCode;
            return false;
        }
    }
    if (concealment) br.skip(1);  // marker_bit

    if (!intra) m_dcPred[0] = m_dcPred[1] = m_dcPred[2] = 0;
    if (intra && !concealment) std::memset(m_pmv, 0, sizeof(m_pmv));
    if (p.codingType == kPicP && !intra && !(flags & kMbForward)) std::memset(m_pmv, 0, sizeof(m_pmv));

    const int nblocks = m_seq.blocksPerMb;
    int cbp = 0;
    if (intra) {
        cbp = (1 << nblocks) - 1;
    } else if (flags & kMbPattern) {
        cbp = readVlc(br, t.cbp);
        if (cbp == kInvalid) {
            m_fault = kFaultCbp;
            return false;
        }
        if (m_seq.chromaFormat == 2) cbp = (cbp << 2) | static_cast<int>(br.get(2));
    }
    if (br.dead()) return false;

    m_prevFlags = flags;
    if (!intra && !predictFrameMacroblock(mbx, mby, flags, motionType)) predict(mbx, mby, flags, motionType);

    return !cbp || decodeCodedBlocks<(flags & kMbIntra) != 0>(mbx, mby, cbp, dctType);
}

namespace {

// A decoded block put in (intra) or added to the picture. Each call site
// has one target: the test on dcOnly is predicted from the branches before
// it, where one call with a target of two often was not.
template <bool intra>
[[gnu::always_inline]] inline void reconstruct(const Dsp& dsp, uint8_t* dst, ptrdiff_t stride, int16_t* blk,
                                               bool dcOnly) {
    if (intra) {
        if (dcOnly) {
            dsp.idctPutDc(dst, stride, blk);
        } else {
            dsp.idctPut(dst, stride, blk);
        }
    } else if (dcOnly) {
        dsp.idctAddDc(dst, stride, blk);
    } else {
        dsp.idctAdd(dst, stride, blk);
    }
}

}  // namespace

// The coded blocks of a macroblock, decoded and added to (or put in) the picture.
template <bool intra>
bool Decoder::decodeCodedBlocks(int mbx, int mby, int cbp, int dctType) {
    const PictureState& p = m_pic;
    const bool framePic = p.structure == kFramePicture;
    const int nblocks = m_seq.blocksPerMb;
    // Block destinations.
    FrameStore& cur = m_store[m_cur];
    const ptrdiff_t ls = cur.width;
    const ptrdiff_t cs = cur.chromaWidth;
    const int parity = p.structure == kBottomField ? 1 : 0;
    const ptrdiff_t lstride = framePic ? ls : 2 * ls;
    const ptrdiff_t cstride = framePic ? cs : 2 * cs;
    uint8_t* ybase = cur.plane[0] + parity * ls + (mby * 16) * lstride + mbx * 16;
    const int chromaRows = m_seq.chromaFormat == 1 ? 8 : 16;
    const ptrdiff_t coff = parity * cs + (mby * chromaRows) * cstride + mbx * 8;

    // The coded blocks in order, the first one in cbp's highest bit: one
    // step a coded block rather than a test a block.
    if (framePic && m_seq.chromaFormat == 1) {
        // The common case, a 4:2:0 frame picture: the six places set up
        // once, and one scan and quantiser table for all blocks.
        const ptrdiff_t lumaStride = dctType ? 2 * ls : ls;
        const ptrdiff_t lower = dctType ? ls : 8 * ls;
        uint8_t* const dsts[6] = {
            ybase, ybase + 8, ybase + lower, ybase + lower + 8, cur.plane[1] + coff, cur.plane[2] + coff};
        const ScanStep* steps = scanQuant(intra ? 0 : 2);
        for (int rest = cbp; rest != 0;) {
            const int top = 31 - __builtin_clz(static_cast<unsigned>(rest));
            rest &= ~(1 << top);
            const int i = 5 - top;
            int16_t* blk = m_blocks[i];
            bool dcOnly = false;
            const bool ok = intra ? decodeIntraBlock(blk, i < 4 ? 0 : i - 3, steps, dcOnly)
                                  : decodeNonIntraBlock(blk, steps, dcOnly);
            if (!ok) {
                std::memset(blk, 0, 64 * sizeof(int16_t));
                return false;
            }
            reconstruct<intra>(*m_dsp, dsts[i], i < 4 ? lumaStride : cs, blk, dcOnly);
        }
        return true;
    }
    for (int rest = cbp; rest != 0;) {
        const int top = 31 - __builtin_clz(static_cast<unsigned>(rest));
        rest &= ~(1 << top);
        const int i = nblocks - 1 - top;
        int16_t* blk = m_blocks[i];
        const int comp = i < 4 ? 0 : 1 + ((i - 4) & 1);
        const bool chromaMatrix = comp != 0 && m_seq.chromaFormat != 1;
        bool ok;
        bool dcOnly = false;
        if (intra) {
            ok = decodeIntraBlock(blk, comp, scanQuant(chromaMatrix ? 1 : 0), dcOnly);
        } else {
            ok = decodeNonIntraBlock(blk, scanQuant(chromaMatrix ? 3 : 2), dcOnly);
        }
        if (!ok) {
            std::memset(blk, 0, 64 * sizeof(int16_t));
            return false;
        }
        uint8_t* dst;
        ptrdiff_t stride;
        if (comp == 0) {
            if (dctType) {
                dst = ybase + (i & 1) * 8 + (i >> 1) * lstride;
                stride = 2 * lstride;
            } else {
                dst = ybase + (i & 1) * 8 + (i >> 1) * 8 * lstride;
                stride = lstride;
            }
        } else {
            const int lower = (i - 4) >> 1;  // 4:2:2 blocks 6 and 7
            uint8_t* base = cur.plane[comp] + coff;
            if (m_seq.chromaFormat == 2 && dctType) {
                dst = base + lower * cstride;
                stride = 2 * cstride;
            } else {
                dst = base + lower * 8 * cstride;
                stride = cstride;
            }
        }
        reconstruct<intra>(*m_dsp, dst, stride, blk, dcOnly);
    }
    return true;
}

// The prediction of a macroblock of a 4:2:0 frame picture with frame
// motion (or none: a P macroblock without vectors) whose sources lie inside
// the reference planes, the common case, without the generality of
// predict(). False otherwise: predict() then forms the whole prediction
// again (a first direction written here is put over).
[[gnu::always_inline]] inline bool Decoder::predictFrameMacroblock(int mbx, int mby, int flags, int motionType) {
    const int dirs = flags & (kMbForward | kMbBackward);
    if (m_pic.structure != kFramePicture || m_store[m_cur].chromaFormat != 1 || (dirs != 0 && motionType != 2) ||
        m_generalPrediction)
        return false;
    // Without vectors: the forward reference, zero vector.
    const int from = dirs != 0 ? dirs : kMbForward;
    bool avg = false;  // the second direction averages
    for (int s = 0; s < 2; ++s) {
        const int dir = s == 0 ? kMbForward : kMbBackward;
        if (!(from & dir)) continue;
        const int mvx = dirs & dir ? m_mv[0][s][0] : 0, mvy = dirs & dir ? m_mv[0][s][1] : 0;
        if (!predictFramesInside(avg, m_store[s == 0 ? m_fwd : m_bwd].plane, mbx, 1, mby * 16, 16, mvx, mvy))
            return false;
        avg = true;
    }
    return true;
}

// count skipped macroblocks from mbAddr on: they all take the same vectors,
// so each row's part of the run is predicted in one go.
void Decoder::skippedMacroblocks(int mbAddr, int count) {
    m_dcPred[0] = m_dcPred[1] = m_dcPred[2] = 0;
    if (m_pic.codingType != kPicP && m_pic.codingType != kPicB) return;
    const bool framePic = m_pic.structure == kFramePicture;
    const int parity = m_pic.structure == kBottomField ? 1 : 0;
    const int w = m_seq.mbWidth;
    int dirs = 0;
    while (count > 0) {
        const int mbx = mbAddr % w, mby = mbAddr / w;
        const int inRow = count < w - mbx ? count : w - mbx;
        // Only the macroblocks inside the planes are predicted, and only
        // they set the vectors.
        const int fit = mby < m_fitRows ? (m_fitCols - mbx < inRow ? m_fitCols - mbx : inRow) : 0;
        if (fit > 0) {
            if (dirs == 0) dirs = skippedVectors(parity);
            predict(mbx, mby, dirs, framePic ? 2 : 1, fit);
        }
        mbAddr += inRow;
        count -= inRow;
    }
}

// The vectors of a skipped macroblock; returns the prediction directions.
int Decoder::skippedVectors(int parity) {
    if (m_pic.codingType == kPicP) {
        std::memset(m_pmv, 0, sizeof(m_pmv));
        std::memset(m_mv, 0, sizeof(m_mv));
        m_fieldSelect[0][0] = parity;
        return kMbForward;
    }
    const int dirs = m_prevFlags & (kMbForward | kMbBackward);
    for (int s = 0; s < 2; ++s) {
        m_mv[0][s][0] = m_pmv[0][s][0];
        m_mv[0][s][1] = m_pmv[0][s][1];
        m_fieldSelect[0][s] = parity;
    }
    return dirs == 0 ? kMbForward : dirs;
}

// The common case of predictBlock: frame lines from frame lines of a 4:2:0
// picture, with every block and its source inside the planes, so nothing is
// clamped or dropped. False (nothing done) otherwise. Forced into its
// callers: the call with its eight arguments cost more than the checks.
[[gnu::always_inline]] inline bool Decoder::predictFramesInside(bool avg, const uint8_t* const refPlanes[3], int mbx,
                                                                int count, int row, int h, int mvx, int mvy) {
    const FrameStore& cur = m_store[m_cur];
    const int W = cur.width, H = cur.height, CW = cur.chromaWidth, CH = cur.chromaHeight;
    const int cx = mbx * 16, hx = mvx & 1, hy = mvy & 1;
    const int sx = cx + (mvx >> 1), sy = row + (mvy >> 1);
    const int cvx = mvx / 2, cvy = mvy / 2, chx = cvx & 1, chy = cvy & 1;
    const int ccx = mbx * 8, crow = row >> 1, ch = h >> 1;
    const int csx = ccx + (cvx >> 1), csy = crow + (cvy >> 1);
    const int span = 16 * (count - 1);
    if (cx < 0 || row < 0 || cx + span + 16 > W || row + h > H || sx < 0 || sy < 0 || sx + span + 16 + hx > W ||
        sy + h + hy > H || crow + ch > CH || ccx + span / 2 + 8 > CW || csx < 0 || csy < 0 ||
        csx + span / 2 + 8 + chx > CW || csy + ch + chy > CH)
        return false;
    const McFunc fy = m_dsp->mc[avg][hx + 2 * hy];
    const McPairFunc fc = m_dsp->mcChroma[avg][chx + 2 * chy];
    uint8_t* dy = cur.plane[0] + ptrdiff_t(row) * W + cx;
    const uint8_t* sy0 = refPlanes[0] + ptrdiff_t(sy) * W + sx;
    const ptrdiff_t dc = ptrdiff_t(crow) * CW + ccx, sc = ptrdiff_t(csy) * CW + csx;
    for (int k = 0; k < count; ++k) {
        fy(dy + 16 * k, W, sy0 + 16 * k, W, h);
        fc(cur.plane[1] + dc + 8 * k, cur.plane[2] + dc + 8 * k, CW, refPlanes[1] + sc + 8 * k,
           refPlanes[2] + sc + 8 * k, CW, ch);
    }
    return true;
}

// Forms the prediction of one macroblock region for all three planes, in
// count macroblocks side by side from mbx on (a run of skipped macroblocks
// shares its vectors). srcPar/dstPar: -1 for frame lines, else the field
// parity within the store. The two chroma planes share one size, so their
// blocks are placed once.
void Decoder::predictBlock(bool avg, const uint8_t* const refPlanes[3], int srcPar, int dstPar, int mbx, int count,
                           int row, int h, int mvx, int mvy) {
    const FrameStore& cur = m_store[m_cur];
    const McFunc(&mc)[4] = m_dsp->mc[avg ? 1 : 0];
    if (srcPar < 0 && dstPar < 0 && cur.chromaFormat == 1 &&
        predictFramesInside(avg, refPlanes, mbx, count, row, h, mvx, mvy))
        return;
    // All three stores share one allocation size.
    for (int chroma = 0; chroma < 2; ++chroma) {
        int W, H, cx, cy, ch, vx, vy, bw;
        if (!chroma) {
            W = cur.width;
            H = cur.height;
            cx = mbx * 16;
            cy = row;
            ch = h;
            vx = mvx;
            vy = mvy;
            bw = 16;
        } else {
            W = cur.chromaWidth;
            H = cur.chromaHeight;
            cx = mbx * 8;
            vx = mvx / 2;
            bw = 8;
            if (cur.chromaFormat == 1) {
                cy = row >> 1;
                ch = h >> 1;
                vy = mvy / 2;
            } else {
                cy = row;
                ch = h;
                vy = mvy;
            }
        }
        // The destination lies inside the plane (frame or field lines).
        const int dh = dstPar < 0 ? H : H / 2;
        if (cy < 0 || cy + ch > dh) continue;
        const ptrdiff_t ds = dstPar < 0 ? W : 2 * W;
        const ptrdiff_t ss = srcPar < 0 ? W : 2 * W;
        const int sh = srcPar < 0 ? H : H / 2;
        const int hx = vx & 1, hy = vy & 1;
        if (W < bw + hx || sh < ch + hy) continue;
        // Vectors pointing outside the reference are clamped to its edge.
        int sy = cy + (vy >> 1);
        if (sy < 0) sy = 0;
        if (sy > sh - ch - hy) sy = sh - ch - hy;
        const ptrdiff_t dRow = (dstPar > 0 ? W : 0) + cy * ds;
        const ptrdiff_t sRow = (srcPar > 0 ? W : 0) + sy * ss;
        const int dx = vx >> 1, maxSx = W - bw - hx;
        const McFunc f = mc[hx + 2 * hy];
        const McPairFunc fc = m_dsp->mcChroma[avg][hx + 2 * hy];
        for (int k = 0; k < count; ++k, cx += bw) {
            if (cx < 0 || cx + bw > W) continue;
            int sx = cx + dx;
            if (sx < 0) sx = 0;
            if (sx > maxSx) sx = maxSx;
            if (!chroma) {
                f(cur.plane[0] + dRow + cx, ds, refPlanes[0] + sRow + sx, ss, ch);
            } else {
                fc(cur.plane[1] + dRow + cx, cur.plane[2] + dRow + cx, ds, refPlanes[1] + sRow + sx,
                   refPlanes[2] + sRow + sx, ss, ch);
            }
        }
    }
}

void Decoder::predict(int mbx, int mby, int flags, int motionType, int count) {
    const PictureState& p = m_pic;
    const bool framePic = p.structure == kFramePicture;
    const int parity = p.structure == kBottomField ? 1 : 0;
    const FrameStore& fwd = m_store[m_fwd];
    const FrameStore& bwd = m_store[m_bwd];
    const FrameStore& cur = m_store[m_cur];

    // Reference store of a field of direction s: the second field of a P
    // picture may use the first field of its own frame.
    auto fieldRef = [&](int s, int sel) -> const uint8_t* const* {
        if (s == 1) return bwd.plane;
        if (p.codingType == kPicP && m_secondField && sel != parity) return cur.plane;
        return fwd.plane;
    };

    if (!(flags & (kMbForward | kMbBackward))) {
        // P macroblock without motion compensation: zero vector.
        if (framePic) {
            predictBlock(false, fwd.plane, -1, -1, mbx, count, mby * 16, 16, 0, 0);
        } else {
            predictBlock(false, fieldRef(0, parity), parity, parity, mbx, count, mby * 16, 16, 0, 0);
        }
        return;
    }
    bool avg = false;
    for (int s = 0; s < 2; ++s) {
        if (!(flags & (s == 0 ? kMbForward : kMbBackward))) continue;
        const FrameStore& ref = s == 0 ? fwd : bwd;
        if (framePic) {
            if (motionType == 2) {
                predictBlock(avg, ref.plane, -1, -1, mbx, count, mby * 16, 16, m_mv[0][s][0], m_mv[0][s][1]);
            } else if (motionType == 1) {
                for (int r = 0; r < 2; ++r)
                    predictBlock(avg, ref.plane, m_fieldSelect[r][s], r, mbx, count, mby * 8, 8, m_mv[r][s][0],
                                 m_mv[r][s][1]);
            } else {
                // Dual prime: each field averages the same-parity prediction
                // with the one from the opposite field.
                const int v[2] = {m_mv[0][s][0], m_mv[0][s][1]};
                for (int r = 0; r < 2; ++r) {
                    int o[2];
                    const int m = (r == 0) == (p.topFieldFirst != 0) ? 1 : 3;
                    dualPrimeVector(v, m_dmv, m, r == 0 ? -1 : 1, o);
                    predictBlock(false, ref.plane, r, r, mbx, count, mby * 8, 8, v[0], v[1]);
                    predictBlock(true, ref.plane, 1 - r, r, mbx, count, mby * 8, 8, o[0], o[1]);
                }
            }
        } else {
            if (motionType == 1) {
                predictBlock(avg, fieldRef(s, m_fieldSelect[0][s]), m_fieldSelect[0][s], parity, mbx, count, mby * 16,
                             16, m_mv[0][s][0], m_mv[0][s][1]);
            } else if (motionType == 2) {
                for (int r = 0; r < 2; ++r)
                    predictBlock(avg, fieldRef(s, m_fieldSelect[r][s]), m_fieldSelect[r][s], parity, mbx, count,
                                 mby * 16 + 8 * r, 8, m_mv[r][s][0], m_mv[r][s][1]);
            } else {
                const int v[2] = {m_mv[0][s][0], m_mv[0][s][1]};
                int o[2];
                dualPrimeVector(v, m_dmv, 1, parity ? 1 : -1, o);
                predictBlock(false, fieldRef(s, parity), parity, parity, mbx, count, mby * 16, 16, v[0], v[1]);
                predictBlock(true, fieldRef(s, 1 - parity), 1 - parity, parity, mbx, count, mby * 16, 16, o[0], o[1]);
            }
        }
        avg = true;
    }
}

}  // namespace kivra
