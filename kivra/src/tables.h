// Variable-length code tables, scan orders and quantiser defaults of
// ISO/IEC 13818-2 (Annex B and clause 7).
#pragma once

#include <cstdint>
#include <vector>

namespace kivra {

// Lookup table entry. len > 0: a code of len bits with value sym.
// len < 0: subtable at index sym, indexed by the next -len bits.
// len == 0: no such code.
struct VlcEntry {
    int16_t sym;
    int8_t len;
};

struct VlcCode {
    const char* bits;  // '0'/'1', spaces ignored
    int sym;
};

class Vlc {
public:
    Vlc(int rootBits, const VlcCode* codes, int count);
    int rootBits() const { return m_rootBits; }
    const VlcEntry* table() const { return m_table.data(); }
    // Checks that no code is a prefix of another (used by tests).
    bool prefixFree() const { return m_prefixFree; }
    // Sum of 2^-len over all codes: 1.0 for a complete code.
    double kraftSum() const { return m_kraft; }

private:
    int build(const std::vector<std::pair<uint32_t, int>>& codes, const std::vector<int>& syms, int bits);
    int m_rootBits;
    std::vector<VlcEntry> m_table;
    bool m_prefixFree = true;
    double m_kraft = 0;
};

// DCT coefficient codes with their sign bit in one lookup: the entry of the
// next kRootBits bits (or of a subtable) gives run and signed level and the
// length of code and sign together.
struct CoefEntry {
    int8_t run;     // >= 0: a coefficient; else kCoefEob, kCoefEscape, kCoefSub, kCoefInvalid
    int8_t len;     // bits of code and sign; for kCoefSub the subtable's index bits
    int16_t level;  // signed level; for kCoefSub the subtable's offset
};
constexpr int8_t kCoefEob = -1, kCoefEscape = -2, kCoefSub = -3, kCoefInvalid = -4;

class CoefTable {
public:
    static constexpr int kRootBits = 10;
    CoefTable(const VlcCode* codes, int count);
    // Entry of the code at the top of the 32-bit window w.
    inline CoefEntry lookup(uint32_t w) const {
        CoefEntry e = m_table[w >> (32 - kRootBits)];
        if (e.run == kCoefSub) e = m_table[e.level + ((w << kRootBits) >> (32 - e.len))];
        return e;
    }
    const CoefEntry* data() const { return m_table.data(); }
    // lookup() on data(): a hot loop keeps the table's address in a local,
    // which stores through other pointers cannot change.
    static inline CoefEntry lookup(const CoefEntry* t, uint32_t w) {
        CoefEntry e = t[w >> (32 - kRootBits)];
        if (e.run == kCoefSub) e = t[e.level + ((w << kRootBits) >> (32 - e.len))];
        return e;
    }

private:
    std::vector<CoefEntry> m_table;
};

// Skipping coefficients several at a time (the reduced pictures parse AC
// coefficients past without using them): the entry of the next kBits bits
// gives how many bits the whole coefficient codes (and an end of block)
// inside them take, the scan positions they advance and whether the block
// ended. 0 bits: the first code does not fit or is an escape.
class CoefSkipTable {
public:
    static constexpr int kBits = 15;  // a 64 KiB table: fewer lookups a block
    static_assert(kBits < 16, "bits() has four bits");
    explicit CoefSkipTable(const CoefTable& coef);
    inline uint16_t lookup(uint32_t w) const { return m_table[w >> (32 - kBits)]; }
    const uint16_t* data() const { return m_table.data(); }
    static int bits(uint16_t e) { return e & 15; }
    static bool endOfBlock(uint16_t e) { return (e & 16) != 0; }
    static int positions(uint16_t e) { return e >> 5; }

private:
    std::vector<uint16_t> m_table;
};

// Two coefficients a lookup: the entry of the next kBits bits gives the
// first coefficient code and, when its whole code fits behind it, the
// second one, and whether an end of block follows inside the bits. A single
// coefficient has run2 = -1 and level2 = level1 (its position and value
// again). len 0: the first code is not a short coefficient (an end of
// block, an escape or a longer code): decode it alone.
struct CoefPair {
    int8_t run1, run2;
    uint8_t len;  // bits of the codes, their signs and the end of block
    uint8_t eob;
    int16_t level1, level2;
};

class CoefPairTable {
public:
    static constexpr int kBits = 11;
    // doubled: each level as 2 level plus its sign (+1 or -1), the factor
    // non-intra blocks dequantise with.
    explicit CoefPairTable(const CoefTable& coef, bool doubled = false);
    inline CoefPair lookup(uint32_t w) const { return m_table[w >> (32 - kBits)]; }
    const CoefPair* data() const { return m_table.data(); }
    static inline CoefPair lookup(const CoefPair* t, uint32_t w) { return t[w >> (32 - kBits)]; }

private:
    std::vector<CoefPair> m_table;
};

// motion_code with its sign bit in one lookup: the signed code and the
// length of code and sign (0: no such code).
struct MotionEntry {
    int8_t code;
    uint8_t len;
};

class MotionTable {
public:
    static constexpr int kBits = 11;  // the longest code and its sign
    MotionTable(const VlcCode* codes, int count);
    inline MotionEntry lookup(uint32_t w) const { return m_table[w >> (32 - kBits)]; }

private:
    std::vector<MotionEntry> m_table;
};

// Symbols of the DCT coefficient tables: run | level << 8, or these.
constexpr int kDctEob = -1;
constexpr int kDctEscape = -2;
// macroblock_address_increment specials.
constexpr int kMbaiEscape = -1;
constexpr int kMbaiStuffing = -2;

// macroblock_type flags.
enum MbFlags : int {
    kMbQuant = 1,
    kMbForward = 2,
    kMbBackward = 4,
    kMbPattern = 8,
    kMbIntra = 16,
};

struct Tables {
    Vlc mbai;
    Vlc mbTypeI, mbTypeP, mbTypeB;
    Vlc cbp;
    Vlc motion;  // magnitude of motion_code; the sign bit follows unless 0
    Vlc dcLuma, dcChroma;
    Vlc dct0, dct1;          // Tables B-14 and B-15 without the sign bit
    CoefTable coef0, coef1;  // the same with the sign bit
    CoefSkipTable skip0, skip1;
    CoefPairTable pair0, pair1;  // of coef0 and coef1
    CoefPairTable pairNonIntra;  // of coef0, levels doubled
    MotionTable motionSigned;    // motion with the sign bit
    Tables();
};

const Tables& tables();

// The code lists the tables are built from (also used by the test encoder).
extern const VlcCode kMbai[], kCbp[], kMotion[], kDcLuma[], kDcChroma[], kDct0[], kDct1[];
extern const int kMbaiCount, kCbpCount, kMotionCount, kDcLumaCount, kDcChromaCount, kDct0Count, kDct1Count;

extern const uint8_t kZigZag[64];  // scan position -> raster index
extern const uint8_t kAlternate[64];
extern const uint8_t kDefaultIntraMatrix[64];  // raster order
extern const uint8_t kNonLinearQuant[32];
// Frame rates of frame_rate_code 0..15 (numerator/denominator; 0 for
// forbidden and reserved codes).
extern const int kFrameRateNum[16];
extern const int kFrameRateDen[16];

}  // namespace kivra
