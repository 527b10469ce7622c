// MPEG-2 video picture decoder (ISO/IEC 13818-2 main profile tools, 4:2:0
// and 4:2:2) over the bit reader of the demultiplexer.
#pragma once

#include <cstddef>
#include <climits>
#include <cstdint>
#include <vector>

#include "demux.h"
#include "dsp.h"

namespace kivra {

struct Tables;

// Fault codes (0 = none). Codes below 50 are cleared when a frame is handed
// to the output; 50 and above end the read.
enum Fault : int {
    kFaultNone = 0,
    kFaultMbType = 2,
    kFaultCbp = 3,
    kFaultMbai = 4,
    kFaultMotionType = 5,
    kFaultStartCode = 10,  // also an invalid motion_code
    kFaultEndGuard = 97,
    kFaultEndOfFile = 98,
};

enum PictureType : int { kPicI = 1, kPicP = 2, kPicB = 3 };
enum PictureStructure : int { kTopField = 1, kBottomField = 2, kFramePicture = 3 };

struct SequenceState {
    int horizontalSize = 0, verticalSize = 0;
    int aspectRatio = 0, frameRateCode = 0;
    int frameRateExtN = 0, frameRateExtD = 0;
    double frameRate = 0;
    int progressiveSequence = 1;
    int chromaFormat = 1;
    // No sequence extension followed the sequence header: MPEG-1 video,
    // whose syntax this decoder does not read.
    bool mpeg1 = false;
    uint8_t intraMatrix[64], nonIntraMatrix[64], chromaIntraMatrix[64], chromaNonIntraMatrix[64];
    // Derived.
    int mbWidth = 0, mbHeight = 0;
    int codedWidth = 0, codedHeight = 0;
    int chromaWidth = 0, chromaHeight = 0;
    int blocksPerMb = 6;
};

struct PictureState {
    int temporalReference = 0;
    int codingType = 0;
    int fullPelForward = 0, forwardFCode = 0, fullPelBackward = 0, backwardFCode = 0;
    int fCode[2][2] = {{15, 15}, {15, 15}};
    int intraDcPrecision = 0;
    int structure = kFramePicture;
    int topFieldFirst = 0;
    int framePredFrameDct = 1;
    int concealmentMotionVectors = 0;
    int qScaleType = 0;
    int intraVlcFormat = 0;
    int alternateScan = 0;
    int repeatFirstField = 0;
    int progressiveFrame = 1;
};

// What the output needs to know about a frame.
struct PictureRecord {
    int codingType = 0;
    int progressiveFrame = 1;
    int fieldFlags = 0;  // top_field_first * 2 + repeat_first_field
};

// Planes of one frame and the sizes they were allocated for. Every write
// of the decoder and every read of the output is bounded by these, never by
// the sequence state the headers describe.
struct FrameStore {
    uint8_t* plane[3] = {nullptr, nullptr, nullptr};
    int width = 0, height = 0;              // luma plane (coded size)
    int chromaWidth = 0, chromaHeight = 0;  // each chroma plane
    int chromaFormat = 0;
};

// The reduced walk is one long chain of shifts and table lookups: a second
// copy of its functions for processors with the BMI2 shifts (one micro-op,
// no flags), chosen when the library is loaded. Sanitizer builds keep one
// copy: the choice runs before their runtime is ready (ThreadSanitizer
// crashes there).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KIVRA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define KIVRA_SANITIZED 1
#endif
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(KIVRA_SANITIZED)
#define KIVRA_WALK_CLONES __attribute__((target_clones("default", "bmi2")))
#else
#define KIVRA_WALK_CLONES
#endif

// A scan position's raster index and weighting matrix entry times the
// quantiser scale: one load gives a coefficient's place and factor.
struct ScanStep {
    int16_t quant;
    uint8_t pos;
    uint8_t unused;
};

class Decoder {
public:
    Decoder();
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    void setDsp(const Dsp* dsp) { m_dsp = dsp; }
    void attach(BitReader* br) { m_br = br; }
    // Largest coded picture (pixels) the decoder will allocate stores for.
    void setMaxPixels(int64_t px) { m_maxPixels = px; }

    // Frees everything; back to the state after construction.
    void reset();
    // Per-read state: fault, field pairing, picture count.
    void beginRead();

    // Parses a sequence header (its start code consumed) with the extensions
    // that follow; reallocates the frame stores when the size, the aspect
    // code or anything the store sizes derive from (progressive_sequence,
    // chroma format) changed. False when the stores could not be made.
    bool parseSequenceHeader();

    enum class HeaderResult { Picture, Stopped, EndGuard };
    // Reads start codes until a picture header and its extensions were read.
    // endGuard: an I picture header at or past this file position ends the
    // read (negative: no guard).
    HeaderResult readHeaders(int64_t endGuard);

    // Decodes the slices of the picture whose headers were just read. True
    // when a complete frame (frame picture or second field) was finished.
    bool decodePicture();

    // An I frame picture's slices on more than one thread: the caller
    // collects the picture's slice data (collectSlices), lets helper
    // decoders that borrowed the picture (borrowPicture) decode the slices
    // of the lower rows (decodeSlicesIn) while this decoder does the upper
    // ones, then ends the picture. Each decoder writes only its own
    // macroblock rows (mbLimit stops a slice running into the next part), so
    // the picture is the one decodePicture gives.
    bool splittable() const;
    bool collectSlices(std::vector<uint8_t>& out, std::vector<uint32_t>* starts = nullptr, int pauseRow = INT_MAX,
                       int* pausedAt = nullptr);
    void beginPicture();
    void decodeSlicesIn(const uint8_t* p, const uint8_t* end, int mbLimit);
    bool endPicture();
    void borrowPicture(const Decoder& master);

    // Reduced decoding of an I picture (the caller checked canDecode() and
    // the picture type): the DC of each block, as the block's mean level
    // (0..255), goes to one sample of the grid; AC coefficients are parsed
    // past. The grid has the picture's block layout: 2 x mb_width luma
    // columns and 2 rows per macroblock row (of this picture: a field has
    // half the frame's rows); chroma one column per macroblock and one row
    // (4:2:0) or two (4:2:2). Blocks coded with field DCT give both of their
    // rows the mean of the two fields. Frame stores are not touched.
    struct DcGrid {
        uint8_t* plane[3] = {nullptr, nullptr, nullptr};
        int stride[3] = {0, 0, 0};
        int rows[3] = {0, 0, 0};  // rows the grid holds per plane
    };
    // Over slice data collected before (collectSlices), up to macroblock
    // address mbLimit, by this decoder or one that borrowed the picture: as
    // decodeSlicesIn for the full decode.
    void decodeIntraDcIn(const uint8_t* p, const uint8_t* end, int mbLimit, const DcGrid& grid);
    // The same over two ranges at once, [p, mid) up to macroblock midLimit
    // and [mid, end) up to endLimit, as two decodeIntraDcIn calls would (mid
    // at a slice start of a new row); faster than one after the other.
    // starts (optional): the offsets from base of the slice start codes,
    // row by row, [p, end) among them; with them a lane that has ended
    // takes over the later half of what the other has left.
    void decodeIntraDcLanes(const uint8_t* p, const uint8_t* mid, const uint8_t* end, int midLimit, int endLimit,
                            const DcGrid& grid, const uint8_t* base = nullptr, const uint32_t* starts = nullptr,
                            size_t count = 0);
    // Without frame stores the decoder only parses headers and decodes DC
    // grids (the reduced path needs no full-size planes).
    void setAllocateFrames(bool on) { m_allocateFrames = on; }
    // Frame stores on 2 MiB pages where the system gives them (the
    // default): motion compensation misses the TLB far less. Asking for them
    // can stall the allocation while the system compacts memory (a tenth of
    // a second has been seen), so a decoder of the first pictures of GOPs,
    // which makes hardly any reference reads, does without.
    void setHugePages(bool on) { m_hugePages = on; }
    // Every prediction through the general path (predict), not the one for
    // the common frame macroblock: the tests compare the two.
    void setGeneralPrediction(bool on) { m_generalPrediction = on; }

    bool initialised() const { return m_initialised; }
    bool canDecode() const;
    // Why canDecode() is false, for the trace (nullptr when it is true).
    const char* cannotDecodeReason() const;
    int fault() const { return m_fault; }
    void clearFault() { m_fault = 0; }
    void setFault(int f) { m_fault = f; }
    bool secondFieldPending() const { return m_secondFieldPending; }
    int picturesDecoded() const { return m_picturesDecoded; }

    const SequenceState& sequence() const { return m_seq; }
    const PictureState& picture() const { return m_pic; }
    // Strides of the frame stores.
    int lumaStride() const { return m_store[0].width; }
    int chromaStride() const { return m_store[0].chromaWidth; }
    // The frame just finished (backward reference for I/P, auxiliary for B).
    const FrameStore& currentFrame() const { return m_store[m_cur]; }
    const PictureRecord& currentRecord() const { return m_rec[m_cur]; }
    // The older reference (for display-order output).
    const FrameStore& forwardFrame() const { return m_store[m_fwd]; }
    const PictureRecord& forwardRecord() const { return m_rec[m_fwd]; }
    const FrameStore& backwardFrame() const { return m_store[m_bwd]; }
    const PictureRecord& backwardRecord() const { return m_rec[m_bwd]; }
    // Number of reference frames decoded since reset (saturates at 2).
    int referencesDecoded() const { return m_refCount; }
    const int16_t* blockAddress(int i) const { return m_blocks[i]; }

    // Motion vector decoding and dual-prime derivation (exposed for tests).
    static int decodeMotionComponent(int pred, int motionCode, int residual, int fCode);
    // Opposite-parity vector of dual prime: m is 1 or 3, e is -1, 0 or +1.
    static void dualPrimeVector(const int v[2], const int dmv[2], int m, int e, int out[2]);

private:
    bool allocateStores();
    void freeStores();
    // afterSequenceHeader: a sequence extension is read only as the first
    // extension right after a sequence header; anywhere else it would change
    // the sizes behind the frame stores' back, so it is passed over.
    // Returns whether a sequence extension was read.
    bool readExtensionsAndUserData(bool afterSequenceHeader = false);
    // The stores were made for the sequence's derived sizes and chroma format.
    bool storesMatchSequence() const;
    // Macroblock (mbx, mby) of the current picture lies inside the planes.
    bool macroblockFits(int mbx, int mby) const {
        return unsigned(mbx) < unsigned(m_fitCols) && unsigned(mby) < unsigned(m_fitRows);
    }
    void computeFit();
    void parseSequenceExtension();
    void parseQuantMatrixExtension();
    void parsePictureCodingExtension();
    void parsePictureDisplayExtension();
    void loadMatrix(uint8_t* m);

    void decodeSlices();
    bool decodeSlice(int& mbAddr, bool& pictureDone);
    void putDcMeans(int mbx, int mby, bool fieldDct, const int mean[8], const DcGrid& grid) const;
    // A walker of the reduced picture over a range of slices (two of them
    // side by side in decodeIntraDcLanes): its own reader over its slices.
    struct DcLane {
        BitReader br;
        int limit = INT_MAX;  // macroblock address its slices stop at
        int addr = 0, total = 0;
        int pred[3] = {0, 0, 0};
        int mean[8] = {};
        bool fieldDct = false;
        bool inSlice = false;  // at a macroblock of a slice
        bool ended = false;    // no slice left, or the data is done
    };
    bool laneSliceDc(DcLane& lane);
    bool laneHeaderDc(DcLane& lane);
    void laneNextMacroblockDc(DcLane& lane, const DcGrid& grid);
    KIVRA_WALK_CLONES bool laneBlocksDc(DcLane& lane);
    KIVRA_WALK_CLONES void walkLanePairDc(DcLane& a, DcLane& b, const uint8_t* endA, const uint8_t* endB,
                                          const DcGrid& grid, const uint8_t* base, const uint32_t* starts,
                                          size_t count);
    void walkLaneDc(DcLane& lane, const DcGrid& grid);
    bool takeOverDc(DcLane& done, DcLane& busy, const uint8_t*& busyEnd, const uint8_t* p, const uint32_t* starts,
                    size_t count);
    int readMbai();
    int sliceMacroblockCount() const;
    bool beginSliceMacroblocks(int row, int total, int& addr, bool& done);
    bool decodeMacroblock(int mbAddr);
    // The rest of a macroblock of a type (flags: its macroblock_type).
    template <int flags>
    bool macroblockOfType(int mbx, int mby);
    template <bool intra>
    bool decodeCodedBlocks(int mbx, int mby, int cbp, int dctType);
    void skippedMacroblocks(int mbAddr, int count);
    int skippedVectors(int parity);
    bool readMotionVectors(int s, bool fieldFormat, bool dmv, int count);
    // dcOnly is set when no coefficient but the DC (raster 0) was coded.
    bool decodeIntraBlock(int16_t* blk, int comp, const ScanStep* steps, bool& dcOnly);
    bool decodeNonIntraBlock(int16_t* blk, const ScanStep* steps, bool& dcOnly);
    void prepareScanQuant();
    const ScanStep* scanQuant(int which);
    void predict(int mbx, int mby, int flags, int motionType, int count = 1);
    bool predictFrameMacroblock(int mbx, int mby, int flags, int motionType);
    // Prediction of h luma lines at row (in the destination's line
    // numbering) for all planes, in count macroblocks from mbx on;
    // srcPar/dstPar -1 for frame lines, else the field parity within the
    // store.
    void predictBlock(bool avg, const uint8_t* const refPlanes[3], int srcPar, int dstPar, int mbx, int count, int row,
                      int h, int mvx, int mvy);
    bool predictFramesInside(bool avg, const uint8_t* const refPlanes[3], int mbx, int count, int row, int h, int mvx,
                             int mvy);

    const Dsp* m_dsp = nullptr;
    const Tables* m_tables;  // the VLC tables, looked up once
    BitReader* m_br = nullptr;
    SequenceState m_seq;
    PictureState m_pic;
    bool m_haveSequence = false;
    bool m_initialised = false;
    int64_t m_maxPixels = int64_t(8192) * 8192;
    bool m_allocateFrames = true;
    bool m_hugePages = true;
    bool m_generalPrediction = false;
    bool m_borrowed = false;           // the stores belong to another decoder
    int m_fitCols = 0, m_fitRows = 0;  // macroblocks inside the planes (computeFit)
    int m_mbLimit = INT_MAX;

    FrameStore m_store[3];
    uint8_t* m_arena = nullptr;  // the planes of all three stores (allocateStores)
    PictureRecord m_rec[3];
    int m_fwd = 0, m_bwd = 1, m_aux = 2, m_cur = 1;
    int m_refCount = 0;
    int m_allocW = 0, m_allocH = 0, m_allocAspect = -1, m_allocChroma = 0;

    int m_fault = 0;
    bool m_secondFieldPending = false;
    bool m_secondField = false;
    int m_picturesDecoded = 0;

    // Slice and macroblock state.
    int m_qscale = 0;
    int m_dcPred[3] = {0, 0, 0};
    int m_pmv[2][2][2] = {};  // [r][s][t]
    int m_mv[2][2][2] = {};   // vectors of the current macroblock [r][s][t]
    int m_fieldSelect[2][2] = {};
    int m_dmv[2] = {};
    int m_prevFlags = 0;  // macroblock_type of the previous macroblock
    alignas(64) int16_t m_blocks[8][64];
    // The four weighting matrices (intra, chroma intra, non-intra, chroma
    // non-intra) in the picture's scan order, and their products with the
    // quantiser scale they were last asked for (q -1: none yet).
    struct ScanQuant {
        int q = -1;
        alignas(16) int16_t matrix[64];
        alignas(16) ScanStep step[64];
    };
    ScanQuant m_scanQuant[4];
};

}  // namespace kivra
