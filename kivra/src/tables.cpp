#include "tables.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace kivra {

namespace {

std::pair<uint32_t, int> parseBits(const char* s) {
    uint32_t v = 0;
    int n = 0;
    for (; *s; ++s) {
        if (*s == ' ') continue;
        v = (v << 1) | (*s == '1' ? 1u : 0u);
        ++n;
    }
    return {v, n};
}

}  // namespace

Vlc::Vlc(int rootBits, const VlcCode* codes, int count) : m_rootBits(rootBits) {
    std::vector<std::pair<uint32_t, int>> parsed;
    std::vector<int> syms;
    for (int i = 0; i < count; ++i) {
        parsed.push_back(parseBits(codes[i].bits));
        syms.push_back(codes[i].sym);
        m_kraft += 1.0 / double(1u << parsed.back().second);
    }
    for (size_t i = 0; i < parsed.size(); ++i)
        for (size_t j = 0; j < parsed.size(); ++j) {
            if (i == j || parsed[i].second > parsed[j].second) continue;
            if ((parsed[j].first >> (parsed[j].second - parsed[i].second)) == parsed[i].first) m_prefixFree = false;
        }
    build(parsed, syms, rootBits);
}

// Fills a table of 2^bits entries; longer codes go to subtables one level
// down, sized by the longest code they hold.
int Vlc::build(const std::vector<std::pair<uint32_t, int>>& codes, const std::vector<int>& syms, int bits) {
    int base = static_cast<int>(m_table.size());
    m_table.resize(m_table.size() + (size_t(1) << bits), VlcEntry{0, 0});
    std::map<uint32_t, std::pair<std::vector<std::pair<uint32_t, int>>, std::vector<int>>> subs;
    for (size_t i = 0; i < codes.size(); ++i) {
        auto [v, n] = codes[i];
        if (n <= bits) {
            uint32_t first = v << (bits - n);
            uint32_t count = 1u << (bits - n);
            for (uint32_t k = 0; k < count; ++k)
                m_table[base + first + k] = VlcEntry{static_cast<int16_t>(syms[i]), static_cast<int8_t>(n)};
        } else {
            uint32_t prefix = v >> (n - bits);
            auto& s = subs[prefix];
            s.first.push_back({v & ((1u << (n - bits)) - 1), n - bits});
            s.second.push_back(syms[i]);
        }
    }
    for (auto& [prefix, s] : subs) {
        int subBits = 0;
        for (auto& c : s.first) subBits = std::max(subBits, c.second);
        int idx = build(s.first, s.second, subBits);
        m_table[base + prefix] = VlcEntry{static_cast<int16_t>(idx), static_cast<int8_t>(-subBits)};
    }
    return base;
}

#define RL(run, level) ((run) | ((level) << 8))

const VlcCode kMbai[] = {
    {"1", 1},
    {"011", 2},
    {"010", 3},
    {"0011", 4},
    {"0010", 5},
    {"00011", 6},
    {"00010", 7},
    {"0000111", 8},
    {"0000110", 9},
    {"00001011", 10},
    {"00001010", 11},
    {"00001001", 12},
    {"00001000", 13},
    {"00000111", 14},
    {"00000110", 15},
    {"0000010111", 16},
    {"0000010110", 17},
    {"0000010101", 18},
    {"0000010100", 19},
    {"0000010011", 20},
    {"0000010010", 21},
    {"00000100011", 22},
    {"00000100010", 23},
    {"00000100001", 24},
    {"00000100000", 25},
    {"00000011111", 26},
    {"00000011110", 27},
    {"00000011101", 28},
    {"00000011100", 29},
    {"00000011011", 30},
    {"00000011010", 31},
    {"00000011001", 32},
    {"00000011000", 33},
    {"00000001111", kMbaiStuffing},
    {"00000001000", kMbaiEscape},
};

const VlcCode kMbTypeI[] = {{"1", kMbIntra}, {"01", kMbIntra | kMbQuant}};

const VlcCode kMbTypeP[] = {
    {"1", kMbForward | kMbPattern},
    {"01", kMbPattern},
    {"001", kMbForward},
    {"00011", kMbIntra},
    {"00010", kMbQuant | kMbForward | kMbPattern},
    {"00001", kMbQuant | kMbPattern},
    {"000001", kMbQuant | kMbIntra},
};

const VlcCode kMbTypeB[] = {
    {"10", kMbForward | kMbBackward},
    {"11", kMbForward | kMbBackward | kMbPattern},
    {"010", kMbBackward},
    {"011", kMbBackward | kMbPattern},
    {"0010", kMbForward},
    {"0011", kMbForward | kMbPattern},
    {"00011", kMbIntra},
    {"00010", kMbQuant | kMbForward | kMbBackward | kMbPattern},
    {"000011", kMbQuant | kMbForward | kMbPattern},
    {"000010", kMbQuant | kMbBackward | kMbPattern},
    {"000001", kMbQuant | kMbIntra},
};

const VlcCode kCbp[] = {
    {"111", 60},       {"1101", 4},       {"1100", 8},       {"1011", 16},      {"1010", 32},      {"10011", 12},
    {"10010", 48},     {"10001", 20},     {"10000", 40},     {"01111", 28},     {"01110", 44},     {"01101", 52},
    {"01100", 56},     {"01011", 1},      {"01010", 61},     {"01001", 2},      {"01000", 62},     {"001111", 24},
    {"001110", 36},    {"001101", 3},     {"001100", 63},    {"0010111", 5},    {"0010110", 9},    {"0010101", 17},
    {"0010100", 33},   {"0010011", 6},    {"0010010", 10},   {"0010001", 18},   {"0010000", 34},   {"00011111", 7},
    {"00011110", 11},  {"00011101", 19},  {"00011100", 35},  {"00011011", 13},  {"00011010", 49},  {"00011001", 21},
    {"00011000", 41},  {"00010111", 14},  {"00010110", 50},  {"00010101", 22},  {"00010100", 42},  {"00010011", 15},
    {"00010010", 51},  {"00010001", 23},  {"00010000", 43},  {"00001111", 25},  {"00001110", 37},  {"00001101", 26},
    {"00001100", 38},  {"00001011", 29},  {"00001010", 45},  {"00001001", 53},  {"00001000", 57},  {"00000111", 30},
    {"00000110", 46},  {"00000101", 54},  {"00000100", 58},  {"000000111", 31}, {"000000110", 47}, {"000000101", 55},
    {"000000100", 59}, {"000000011", 27}, {"000000010", 39}, {"000000001", 0},
};

const VlcCode kMotion[] = {
    {"1", 0},           {"01", 1},          {"001", 2},         {"0001", 3},        {"000011", 4},
    {"0000101", 5},     {"0000100", 6},     {"0000011", 7},     {"000001011", 8},   {"000001010", 9},
    {"000001001", 10},  {"0000010001", 11}, {"0000010000", 12}, {"0000001111", 13}, {"0000001110", 14},
    {"0000001101", 15}, {"0000001100", 16},
};

const VlcCode kDcLuma[] = {
    {"100", 0},   {"00", 1},     {"01", 2},      {"101", 3},      {"110", 4},        {"1110", 5},
    {"11110", 6}, {"111110", 7}, {"1111110", 8}, {"11111110", 9}, {"111111110", 10}, {"111111111", 11},
};

const VlcCode kDcChroma[] = {
    {"00", 0},     {"01", 1},      {"10", 2},       {"110", 3},       {"1110", 4},        {"11110", 5},
    {"111110", 6}, {"1111110", 7}, {"11111110", 8}, {"111111110", 9}, {"1111111110", 10}, {"1111111111", 11},
};

// Codes shared by Tables B-14 and B-15 (all start with six zeros or more
// apart from the escape).
#define DCT_COMMON_LONG                                                                                             \
    {"0000 0001 1100", RL(3, 3)}, {"0000 0001 0010", RL(4, 3)}, {"0000 0001 1110", RL(6, 2)},                       \
        {"0000 0001 0101", RL(7, 2)}, {"0000 0001 0001", RL(8, 2)}, {"0000 0001 1111", RL(17, 1)},                  \
        {"0000 0001 1010", RL(18, 1)}, {"0000 0001 1001", RL(19, 1)}, {"0000 0001 0111", RL(20, 1)},                \
        {"0000 0001 0110", RL(21, 1)}, {"0000 0000 1011 0", RL(1, 6)}, {"0000 0000 1010 1", RL(1, 7)},              \
        {"0000 0000 1010 0", RL(2, 5)}, {"0000 0000 1001 1", RL(3, 4)}, {"0000 0000 1001 0", RL(5, 3)},             \
        {"0000 0000 1000 1", RL(9, 2)}, {"0000 0000 1000 0", RL(10, 2)}, {"0000 0000 1111 1", RL(22, 1)},           \
        {"0000 0000 1111 0", RL(23, 1)}, {"0000 0000 1110 1", RL(24, 1)}, {"0000 0000 1110 0", RL(25, 1)},          \
        {"0000 0000 1101 1", RL(26, 1)}, {"0000 0000 0111 11", RL(0, 16)}, {"0000 0000 0111 10", RL(0, 17)},        \
        {"0000 0000 0111 01", RL(0, 18)}, {"0000 0000 0111 00", RL(0, 19)}, {"0000 0000 0110 11", RL(0, 20)},       \
        {"0000 0000 0110 10", RL(0, 21)}, {"0000 0000 0110 01", RL(0, 22)}, {"0000 0000 0110 00", RL(0, 23)},       \
        {"0000 0000 0101 11", RL(0, 24)}, {"0000 0000 0101 10", RL(0, 25)}, {"0000 0000 0101 01", RL(0, 26)},       \
        {"0000 0000 0101 00", RL(0, 27)}, {"0000 0000 0100 11", RL(0, 28)}, {"0000 0000 0100 10", RL(0, 29)},       \
        {"0000 0000 0100 01", RL(0, 30)}, {"0000 0000 0100 00", RL(0, 31)}, {"0000 0000 0011 000", RL(0, 32)},      \
        {"0000 0000 0010 111", RL(0, 33)}, {"0000 0000 0010 110", RL(0, 34)}, {"0000 0000 0010 101", RL(0, 35)},    \
        {"0000 0000 0010 100", RL(0, 36)}, {"0000 0000 0010 011", RL(0, 37)}, {"0000 0000 0010 010", RL(0, 38)},    \
        {"0000 0000 0010 001", RL(0, 39)}, {"0000 0000 0010 000", RL(0, 40)}, {"0000 0000 0011 111", RL(1, 8)},     \
        {"0000 0000 0011 110", RL(1, 9)}, {"0000 0000 0011 101", RL(1, 10)}, {"0000 0000 0011 100", RL(1, 11)},     \
        {"0000 0000 0011 011", RL(1, 12)}, {"0000 0000 0011 010", RL(1, 13)}, {"0000 0000 0011 001", RL(1, 14)},    \
        {"0000 0000 0001 0011", RL(1, 15)}, {"0000 0000 0001 0010", RL(1, 16)}, {"0000 0000 0001 0001", RL(1, 17)}, \
        {"0000 0000 0001 0000", RL(1, 18)}, {"0000 0000 0001 0100", RL(6, 3)}, {"0000 0000 0001 1010", RL(11, 2)},  \
        {"0000 0000 0001 1001", RL(12, 2)}, {"0000 0000 0001 1000", RL(13, 2)}, {"0000 0000 0001 0111", RL(14, 2)}, \
        {"0000 0000 0001 0110", RL(15, 2)}, {"0000 0000 0001 0101", RL(16, 2)}, {"0000 0000 0001 1111", RL(27, 1)}, \
        {"0000 0000 0001 1110", RL(28, 1)}, {"0000 0000 0001 1101", RL(29, 1)}, {"0000 0000 0001 1100", RL(30, 1)}, \
        {"0000 0000 0001 1011", RL(31, 1)}, {                                                                       \
        "0000 01", kDctEscape                                                                                       \
    }

// Table B-14 (the "1s" first-coefficient code of non-intra blocks is handled
// by the block decoder).
const VlcCode kDct0[] = {
    {"10", kDctEob},
    {"11", RL(0, 1)},
    {"011", RL(1, 1)},
    {"0100", RL(0, 2)},
    {"0101", RL(2, 1)},
    {"0010 1", RL(0, 3)},
    {"0011 1", RL(3, 1)},
    {"0011 0", RL(4, 1)},
    {"0001 10", RL(1, 2)},
    {"0001 11", RL(5, 1)},
    {"0001 01", RL(6, 1)},
    {"0001 00", RL(7, 1)},
    {"0000 110", RL(0, 4)},
    {"0000 100", RL(2, 2)},
    {"0000 111", RL(8, 1)},
    {"0000 101", RL(9, 1)},
    {"0010 0110", RL(0, 5)},
    {"0010 0001", RL(0, 6)},
    {"0010 0101", RL(1, 3)},
    {"0010 0100", RL(3, 2)},
    {"0010 0111", RL(10, 1)},
    {"0010 0011", RL(11, 1)},
    {"0010 0010", RL(12, 1)},
    {"0010 0000", RL(13, 1)},
    {"0000 0010 10", RL(0, 7)},
    {"0000 0011 00", RL(1, 4)},
    {"0000 0010 11", RL(2, 3)},
    {"0000 0011 11", RL(4, 2)},
    {"0000 0001 1101", RL(0, 8)},
    {"0000 0001 1000", RL(0, 9)},
    {"0000 0001 0011", RL(0, 10)},
    {"0000 0001 0000", RL(0, 11)},
    {"0000 0001 1011", RL(1, 5)},
    {"0000 0000 1101 0", RL(0, 12)},
    {"0000 0000 1100 1", RL(0, 13)},
    {"0000 0000 1100 0", RL(0, 14)},
    {"0000 0000 1011 1", RL(0, 15)},
    {"0000 0001 0100", RL(2, 4)},
    {"0000 0010 01", RL(5, 2)},
    {"0000 0011 10", RL(14, 1)},
    {"0000 0011 01", RL(15, 1)},
    {"0000 0010 00", RL(16, 1)},
    DCT_COMMON_LONG,
};

// Table B-15 (intra_vlc_format 1).
const VlcCode kDct1[] = {
    {"0110", kDctEob},
    {"10", RL(0, 1)},
    {"010", RL(1, 1)},
    {"110", RL(0, 2)},
    {"0010 1", RL(2, 1)},
    {"0111", RL(0, 3)},
    {"0011 1", RL(3, 1)},
    {"0001 10", RL(4, 1)},
    {"0011 0", RL(1, 2)},
    {"0001 11", RL(5, 1)},
    {"0000 110", RL(6, 1)},
    {"0000 100", RL(7, 1)},
    {"1110 0", RL(0, 4)},
    {"0000 111", RL(2, 2)},
    {"0000 101", RL(8, 1)},
    {"1111 000", RL(9, 1)},
    {"1110 1", RL(0, 5)},
    {"0001 01", RL(0, 6)},
    {"1111 001", RL(1, 3)},
    {"0010 0110", RL(3, 2)},
    {"1111 010", RL(10, 1)},
    {"0010 0001", RL(11, 1)},
    {"0010 0101", RL(12, 1)},
    {"0010 0100", RL(13, 1)},
    {"0001 00", RL(0, 7)},
    {"0010 0111", RL(1, 4)},
    {"1111 1100", RL(2, 3)},
    {"1111 1101", RL(4, 2)},
    {"1111 011", RL(0, 8)},
    {"1111 100", RL(0, 9)},
    {"0010 0011", RL(0, 10)},
    {"0010 0010", RL(0, 11)},
    {"0010 0000", RL(1, 5)},
    {"1111 1010", RL(0, 12)},
    {"1111 1011", RL(0, 13)},
    {"1111 1110", RL(0, 14)},
    {"1111 1111", RL(0, 15)},
    {"0000 0011 00", RL(2, 4)},
    {"0000 0010 0", RL(5, 2)},
    {"0000 0010 1", RL(14, 1)},
    {"0000 0011 1", RL(15, 1)},
    {"0000 0011 01", RL(16, 1)},
    DCT_COMMON_LONG,
};

#define COUNT(a) static_cast<int>(sizeof(a) / sizeof((a)[0]))

const int kMbaiCount = COUNT(kMbai);
const int kCbpCount = COUNT(kCbp);
const int kMotionCount = COUNT(kMotion);
const int kDcLumaCount = COUNT(kDcLuma);
const int kDcChromaCount = COUNT(kDcChroma);
const int kDct0Count = COUNT(kDct0);
const int kDct1Count = COUNT(kDct1);

Tables::Tables()
    : mbai(8, kMbai, COUNT(kMbai)),
      mbTypeI(2, kMbTypeI, COUNT(kMbTypeI)),
      mbTypeP(6, kMbTypeP, COUNT(kMbTypeP)),
      mbTypeB(6, kMbTypeB, COUNT(kMbTypeB)),
      cbp(9, kCbp, COUNT(kCbp)),
      motion(10, kMotion, COUNT(kMotion)),
      dcLuma(9, kDcLuma, COUNT(kDcLuma)),
      dcChroma(10, kDcChroma, COUNT(kDcChroma)),
      dct0(8, kDct0, COUNT(kDct0)),
      dct1(8, kDct1, COUNT(kDct1)),
      coef0(kDct0, COUNT(kDct0)),
      coef1(kDct1, COUNT(kDct1)),
      skip0(coef0),
      skip1(coef1),
      pair0(coef0),
      pair1(coef1),
      pairNonIntra(coef0, true),
      motionSigned(kMotion, COUNT(kMotion)) {}

MotionTable::MotionTable(const VlcCode* codes, int count) : m_table(size_t(1) << kBits, MotionEntry{0, 0}) {
    auto fill = [&](uint32_t bits, int len, int code) {
        const uint32_t first = bits << (kBits - len);
        for (uint32_t k = 0; k < (1u << (kBits - len)); ++k)
            m_table[first + k] = MotionEntry{int8_t(code), uint8_t(len)};
    };
    for (int i = 0; i < count; ++i) {
        const auto [v, n] = parseBits(codes[i].bits);
        const int m = codes[i].sym;
        if (m == 0) {
            fill(v, n, 0);  // no sign bit
        } else {
            fill(v << 1, n + 1, m);
            fill((v << 1) | 1, n + 1, -m);
        }
    }
}

CoefPairTable::CoefPairTable(const CoefTable& coef, bool doubled)
    : m_table(size_t(1) << kBits, CoefPair{0, -1, 0, 0, 0, 0}) {
    for (uint32_t v = 0; v < (1u << kBits); ++v) {
        const uint32_t w = v << (32 - kBits);
        // A code is known when it ends inside the kBits bits.
        auto codeAt = [&](int used, CoefEntry& e) {
            e = coef.lookup(w << used);
            return e.len > 0 && e.len <= kBits - used;
        };
        CoefEntry e1, e2, e3;
        if (!codeAt(0, e1) || e1.run < 0) continue;
        CoefPair p{e1.run, -1, uint8_t(e1.len), 0, e1.level, e1.level};
        int used = e1.len;
        if (codeAt(used, e2) && e2.run >= 0) {
            p.run2 = e2.run;
            p.level2 = e2.level;
            used += e2.len;
            if (codeAt(used, e3) && e3.run == kCoefEob) {
                used += e3.len;
                p.eob = 1;
            }
        } else if (codeAt(used, e2) && e2.run == kCoefEob) {
            used += e2.len;
            p.eob = 1;
        }
        p.len = uint8_t(used);
        if (doubled) {
            p.level1 = int16_t(2 * p.level1 + (p.level1 < 0 ? -1 : 1));
            p.level2 = int16_t(2 * p.level2 + (p.level2 < 0 ? -1 : 1));
        }
        m_table[v] = p;
    }
}

CoefSkipTable::CoefSkipTable(const CoefTable& coef) : m_table(size_t(1) << kBits) {
    for (uint32_t v = 0; v < (1u << kBits); ++v) {
        int used = 0, positions = 0;
        bool eob = false;
        for (;;) {
            const CoefEntry e = coef.lookup((v << (32 - kBits)) << used);
            if (e.len <= 0 || e.len > kBits - used) break;
            if (e.run >= 0) {
                used += e.len;
                positions += e.run + 1;
                continue;
            }
            if (e.run == kCoefEob) {
                used += e.len;
                eob = true;
            }
            break;
        }
        if (positions > 127) positions = 127;
        m_table[v] = static_cast<uint16_t>(used | (eob ? 16 : 0) | (positions << 5));
    }
}

CoefTable::CoefTable(const VlcCode* codes, int count) {
    // Every code with its sign bit (coefficients) as a bit string.
    struct Full {
        uint32_t bits;
        int len;
        CoefEntry e;
    };
    std::vector<Full> all;
    for (int i = 0; i < count; ++i) {
        auto [v, n] = parseBits(codes[i].bits);
        const int sym = codes[i].sym;
        if (sym == kDctEob || sym == kDctEscape) {
            all.push_back({v, n, CoefEntry{int8_t(sym == kDctEob ? kCoefEob : kCoefEscape), int8_t(n), 0}});
            continue;
        }
        const int run = sym & 0xFF, level = sym >> 8;
        all.push_back({v << 1, n + 1, CoefEntry{int8_t(run), int8_t(n + 1), int16_t(level)}});
        all.push_back({(v << 1) | 1, n + 1, CoefEntry{int8_t(run), int8_t(n + 1), int16_t(-level)}});
    }
    constexpr int R = kRootBits;
    m_table.assign(size_t(1) << R, CoefEntry{kCoefInvalid, 0, 0});
    std::map<uint32_t, int> subBits;  // root prefix -> index bits of its subtable
    for (const Full& f : all) {
        if (f.len <= R) {
            const uint32_t first = f.bits << (R - f.len);
            for (uint32_t k = 0; k < (1u << (R - f.len)); ++k) m_table[first + k] = f.e;
        } else {
            int& b = subBits[f.bits >> (f.len - R)];
            b = std::max(b, f.len - R);
        }
    }
    for (auto& [prefix, bits] : subBits) {
        const size_t at = m_table.size();
        m_table[prefix] = CoefEntry{kCoefSub, int8_t(bits), int16_t(at)};
        m_table.resize(at + (size_t(1) << bits), CoefEntry{kCoefInvalid, 0, 0});
        for (const Full& f : all) {
            if (f.len <= R || (f.bits >> (f.len - R)) != prefix) continue;
            const int rest = f.len - R;
            const uint32_t low = f.bits & ((1u << rest) - 1);
            const uint32_t first = low << (bits - rest);
            for (uint32_t k = 0; k < (1u << (bits - rest)); ++k) {
                CoefEntry e = f.e;
                m_table[at + first + k] = e;
            }
        }
    }
}

const Tables& tables() {
    static const Tables t;
    return t;
}

const uint8_t kZigZag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

const uint8_t kAlternate[64] = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
    4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
    52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63,
};

const uint8_t kDefaultIntraMatrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83,
};

const uint8_t kNonLinearQuant[32] = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14, 16, 18, 20,  22,
    24, 28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112,
};

const int kFrameRateNum[16] = {0, 24000, 24, 25, 30000, 30, 50, 60000, 60, 0, 0, 0, 0, 0, 0, 0};
const int kFrameRateDen[16] = {1, 1001, 1, 1, 1001, 1, 1, 1001, 1, 1, 1, 1, 1, 1, 1, 1};

}  // namespace kivra
