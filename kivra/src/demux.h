// Pull-driven demultiplexer: serves the elementary stream of one video PID
// from a transport stream file (or a plain elementary stream) through one
// 36,096-byte read buffer, and the MSB-first bit reader on top of it.
#pragma once

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kivra {

enum class Stop : uint8_t { None, PacketLimit, EndOfFile };

class Demux {
public:
    static constexpr size_t kBlockSize = 36096;  // 192 x 188 = 188 x 192
    static constexpr uint64_t kPacketLimit = 4000;

    // Source: a file descriptor or bytes in memory.
    void attachFd(int fd);
    void attachMemory(const uint8_t* data, size_t size);

    void setPacketSize(int size) { m_packetSize = size; }
    // Packet size read at every packet (the library's SetPackSize value).
    void setPacketSizeSource(const std::atomic<int>* src) { m_sizeSource = src; }
    void setVideoPid(int pid) { m_videoPid = pid; }
    void setTransport(bool on) { m_transport = on; }
    bool transport() const { return m_transport; }
    // 0 = no limit.
    void setPacketLimit(uint64_t limit) { m_packetLimit = limit; }
    // Serve the bytes of the last, partial read block too (the conformance
    // tool decodes to the end of the file; the preview does not).
    void setServeTail(bool on) { m_serveTail = on; }

    bool seek(int64_t pos);
    // Drops the buffer contents and counters; the next span comes from the
    // file position set by seek().
    void start();
    // Next run of elementary stream bytes. False once stopped.
    bool nextSpan(const uint8_t*& p, const uint8_t*& end);

    Stop stop() const { return m_stop; }
    // File offset after the last read (what the end guard is checked with).
    int64_t filePosition() const { return m_filePos; }
    uint64_t packetCount() const { return m_packets; }
    uint64_t syncErrors() const { return m_syncErrors; }

private:
    bool refill();
    int takeByte();
    bool skipBytes(size_t n);
    bool findVideoPayload();
    int64_t readSource(uint8_t* dst, size_t n);

    // Makes n (<= kCarry) bytes readable in a row at m_pos, carrying the
    // unread tail of the block in front of the next one.
    bool ensure(size_t n);

    static constexpr size_t kCarry = 16;
    // Block data lives at [kCarry, kCarry + block length).
    alignas(64) uint8_t m_store[kCarry + kBlockSize];
    size_t m_pos = kCarry + kBlockSize;
    size_t m_len = kCarry + kBlockSize;  // end index of valid data
    int m_trailerLeft = 0;
    int64_t m_filePos = 0;
    int64_t m_payloadLeft = 0;

    int m_fd = -1;
    const uint8_t* m_mem = nullptr;
    size_t m_memSize = 0;

    int m_packetSize = 188;
    const std::atomic<int>* m_sizeSource = nullptr;
    int m_videoPid = -1;
    bool m_transport = true;
    bool m_serveTail = false;
    bool m_sawShortRead = false;
    uint64_t m_packetLimit = kPacketLimit;
    uint64_t m_packets = 0;
    uint64_t m_syncErrors = 0;
    Stop m_stop = Stop::None;
};

// The offset of the first start code prefix (00 00 01) wholly inside
// p[0, n), or n when there is none. findStartCodeC is the byte-by-byte
// reference; findStartCode looks at 16 bytes a step where SSE2 is there
// (x86-64 always) and gives the same offsets.
size_t findStartCodeC(const uint8_t* p, size_t n);
size_t findStartCode(const uint8_t* p, size_t n);

// MSB-first reader with a 64-bit window. Once the source has stopped it
// serves zero bits; decoders poll dead() at header, slice and macroblock
// boundaries instead of checking every read.
class BitReader {
public:
    void attach(Demux* d) {
        m_dmx = d;
        m_memory = false;
        reset();
    }
    // Reads the bytes [p, end) alone (kept by the caller), then zero bits:
    // dead once the real bits are used up.
    void attachBytes(const uint8_t* p, const uint8_t* end) {
        m_dmx = nullptr;
        reset();
        m_memory = true;
        m_p = p;
        m_end = end;
    }
    void reset() {
        m_cache = 0;
        m_bits = 0;
        m_pad = 0;
        m_overrun = false;
        m_p = m_end = nullptr;
    }
    // With strictStop the reader is dead as soon as the source stops (the
    // preview ends its thread at once); otherwise when the real bits are used.
    void setStrictStop(bool on) { m_strict = on; }

    // The steps of the readers are forced inline: in a unit as large as the
    // decoder's the compiler otherwise stops inlining some of them, and a
    // call costs more than the step.
    [[gnu::always_inline]] inline bool dead() const {
        if (m_dmx == nullptr) return !m_memory || (m_p == m_end && (m_overrun || m_bits <= m_pad));
        if (m_dmx->stop() == Stop::None) return false;
        return m_strict || m_overrun || m_bits <= m_pad;
    }

    // n <= 32.
    [[gnu::always_inline]] inline void need(int n) {
        if (m_bits < n) {
            if (m_end - m_p >= 8) {
                refill8();
            } else {
                refill();
            }
        }
    }
    [[gnu::always_inline]] inline uint32_t show(int n) {
        need(n);
        return static_cast<uint32_t>(m_cache >> (64 - n));
    }
    [[gnu::always_inline]] inline uint32_t peek(int n) const { return static_cast<uint32_t>(m_cache >> (64 - n)); }
    [[gnu::always_inline]] inline void skip(int n) {
        need(n);
        drop(n);
    }
    // Drops bits already known to be in the window.
    [[gnu::always_inline]] inline void drop(int n) {
        m_cache <<= n;
        m_bits -= n;
        if (m_bits < m_pad) {
            m_overrun = true;
            m_pad = m_bits < 0 ? 0 : m_bits;
        }
    }
    [[gnu::always_inline]] inline uint32_t get(int n) {
        uint32_t v = show(n);
        drop(n);
        return v;
    }
    [[gnu::always_inline]] inline uint32_t get1() { return get(1); }
    // Signed value of n bits (two's complement).
    inline int32_t getSigned(int n) {
        int32_t v = static_cast<int32_t>(get(n));
        return (v & (1 << (n - 1))) ? v - (1 << n) : v;
    }
    inline void byteAlign() { skip(m_bits & 7); }
    int bitsInWindow() const { return m_bits; }
    // File position reached by the source (0 without one).
    int64_t sourcePosition() const { return m_dmx ? m_dmx->filePosition() : 0; }
    // Over bytes (attachBytes): the first byte not yet read whole; null once
    // the bytes have all gone into the window.
    const uint8_t* bytePointer() const { return m_p == nullptr ? nullptr : m_p - m_bits / 8; }

    // Aligns, then skips bytes until the next three are 00 00 01 (not
    // consumed). False when the source ended first.
    bool nextStartCode();

    // Aligns and appends the bytes up to the next start code that is not a
    // slice start code (not consumed) to out; the reader then stands at that
    // start code. False when the source stopped first (out then holds what
    // there was). With starts, the offsets in out of the slice start codes
    // found on the way are appended to it. With pauseRow, it also stops
    // (true, *pausedAt set to its row; else -1) before the first later
    // slice of macroblock row pauseRow or below; a second call goes on from
    // there.
    bool collectSlices(std::vector<uint8_t>& out, std::vector<uint32_t>* starts = nullptr, int pauseRow = INT_MAX,
                       int* pausedAt = nullptr);

private:
    friend class LocalBits;
    void refill();
    // What refill() does with eight bytes or more at p, in one load: whole
    // bytes into the window (cache, bits; fewer than 57 bits) until it holds
    // more than 56 bits. The bytes taken.
    static inline int fill8(uint64_t& cache, int& bits, const uint8_t* p) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        w = __builtin_bswap64(w);
        const int k = (64 - bits) >> 3;
        const int after = bits + 8 * k;
        cache |= (w >> bits) & (~uint64_t(0) << (64 - after));
        bits = after;
        return k;
    }
    inline void refill8() { m_p += fill8(m_cache, m_bits, m_p); }

    uint64_t m_cache = 0;
    int m_bits = 0;
    int m_pad = 0;  // zero bits appended after the source stopped
    bool m_overrun = false;
    bool m_strict = true;
    bool m_memory = false;
    const uint8_t* m_p = nullptr;
    const uint8_t* m_end = nullptr;
    Demux* m_dmx = nullptr;
};

// The window of a BitReader held in locals for a hot loop (the coefficients
// of a block): the same bits and the same end-of-data rules, with the cache
// and its bit count in registers (the rest stays in the reader); written
// back when it goes out of scope. The reader must not be used directly
// meanwhile. Its steps are forced inline, as the reader's are.
class LocalBits {
public:
    explicit LocalBits(BitReader& br) : m_br(br), m_cache(br.m_cache), m_bits(br.m_bits) {}
    ~LocalBits() { store(); }
    LocalBits(const LocalBits&) = delete;
    LocalBits& operator=(const LocalBits&) = delete;

    [[gnu::always_inline]] inline void need(int n) {
        if (m_bits < n) {
            const uint8_t* p = m_br.m_p;
            if (m_br.m_end - p >= 8) {
                m_br.m_p = p + BitReader::fill8(m_cache, m_bits, p);
            } else {
                slowRefill();
            }
        }
    }
    // need(n) without the branch on the bits left: tops the window up
    // whenever eight bytes are left. Where the window runs low at random
    // (walking codes past), that branch is mispredicted often enough to
    // cost more than the load. The bits below the window are then the
    // stream's next ones rather than zeros (the same bytes at the same
    // places, so later loads agree with them).
    [[gnu::always_inline]] inline void topUp(int n) {
        const uint8_t* p = m_br.m_p;
        if (m_br.m_end - p >= 8) [[likely]] {
            uint64_t w;
            std::memcpy(&w, p, 8);
            w = __builtin_bswap64(w);
            const int k = (64 - m_bits) >> 3;  // whole bytes that fit
            // A full window (64 bits) takes nothing.
            const uint64_t fits = uint64_t(m_bits >> 6) - 1;
            m_cache |= (w >> (m_bits & 63)) & fits;
            m_br.m_p = p + k;
            m_bits += 8 * k;
        } else if (m_bits < n) {
            slowRefill();
        }
    }
    [[gnu::always_inline]] inline uint32_t peek(int n) const { return static_cast<uint32_t>(m_cache >> (64 - n)); }
    [[gnu::always_inline]] inline void drop(int n) {
        m_cache <<= n;
        m_bits -= n;
        checkEnd();
    }
    // drop without the check for bits read past the end of the data: a walk
    // that drops many codes checks once with checkEnd() when it is done (the
    // window only shrinks meanwhile, so the outcome is the same).
    [[gnu::always_inline]] inline void dropUnchecked(int n) {
        m_cache <<= n;
        m_bits -= n;
    }
    [[gnu::always_inline]] inline void checkEnd() {
        if (m_bits < m_br.m_pad) [[unlikely]] {
            m_br.m_overrun = true;
            m_br.m_pad = m_bits < 0 ? 0 : m_bits;
        }
    }
    [[gnu::always_inline]] inline uint32_t get(int n) {
        need(n);
        const uint32_t v = peek(n);
        drop(n);
        return v;
    }

private:
    void store() {
        m_br.m_cache = m_cache;
        m_br.m_bits = m_bits;
    }
    void slowRefill() {
        store();
        m_br.refill();
        m_cache = m_br.m_cache;
        m_bits = m_br.m_bits;
    }

    BitReader& m_br;
    uint64_t m_cache;
    int m_bits;
};

}  // namespace kivra
