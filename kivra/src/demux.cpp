#include "demux.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "trace.h"

namespace kivra {

void Demux::attachFd(int fd) {
    m_fd = fd;
    m_mem = nullptr;
    m_memSize = 0;
}

void Demux::attachMemory(const uint8_t* data, size_t size) {
    m_fd = -1;
    m_mem = data;
    m_memSize = size;
}

bool Demux::seek(int64_t pos) {
    if (pos < 0) pos = 0;
    if (m_fd >= 0) {
        if (lseek(m_fd, pos, SEEK_SET) < 0) return false;
    }
    m_filePos = pos;
    return true;
}

void Demux::start() {
    m_pos = m_len = kCarry + kBlockSize;
    m_payloadLeft = 0;
    m_trailerLeft = 0;
    m_packets = 0;
    m_syncErrors = 0;
    m_sawShortRead = false;
    m_stop = Stop::None;
}

int64_t Demux::readSource(uint8_t* dst, size_t n) {
    if (m_mem != nullptr || m_fd < 0) {
        if (m_mem == nullptr || m_filePos < 0 || static_cast<uint64_t>(m_filePos) >= m_memSize) return 0;
        size_t left = m_memSize - static_cast<size_t>(m_filePos);
        size_t k = left < n ? left : n;
        std::memcpy(dst, m_mem + m_filePos, k);
        return static_cast<int64_t>(k);
    }
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(m_fd, dst + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return got > 0 ? static_cast<int64_t>(got) : -1;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(got);
}

// One read of a whole block. A short read is the end of the file: the
// preview stops there without decoding the partial block.
bool Demux::refill() {
    if (m_stop != Stop::None) return false;
    if (m_sawShortRead) {
        m_stop = Stop::EndOfFile;
        return false;
    }
    int64_t got = readSource(m_store + kCarry, kBlockSize);
    if (got > 0) m_filePos += got;
    if (got < static_cast<int64_t>(kBlockSize)) {
        if (!m_serveTail || got <= 0) {
            m_stop = Stop::EndOfFile;
            return false;
        }
        m_sawShortRead = true;
    }
    m_len = kCarry + static_cast<size_t>(got);
    m_pos = kCarry;
    return true;
}

bool Demux::ensure(size_t n) {
    size_t have = m_len - m_pos;
    if (have >= n) return true;
    uint8_t tail[kCarry];
    std::memcpy(tail, m_store + m_pos, have);
    if (!refill()) return false;
    m_pos = kCarry - have;
    std::memcpy(m_store + m_pos, tail, have);
    return m_len - m_pos >= n;
}

int Demux::takeByte() {
    if (m_pos >= m_len && !refill()) return -1;
    return m_store[m_pos++];
}

bool Demux::skipBytes(size_t n) {
    while (n > 0) {
        if (m_pos >= m_len && !refill()) return false;
        size_t k = m_len - m_pos;
        if (k > n) k = n;
        m_pos += k;
        n -= k;
    }
    return true;
}

// Parses packets until one of the video PID with a non-empty payload; leaves
// m_pos at the first elementary stream byte and m_payloadLeft set.
bool Demux::findVideoPayload() {
    const int size = m_sizeSource ? m_sizeSource->load(std::memory_order_relaxed) : m_packetSize;
    // 192 and 208 carry a 4-byte prefix; 204 and 208 16 bytes after the
    // 188-byte packet. Any other size is read as plain 188-byte packets.
    const int prefix = (size == 192 || size == 208) ? 4 : 0;
    const int trailer = (size == 204 || size == 208) ? 16 : 0;
    for (;;) {
        ++m_packets;
        if (m_packetLimit != 0 && m_packets > m_packetLimit) {
            m_stop = Stop::PacketLimit;
            return false;
        }
        if (prefix && !skipBytes(prefix)) return false;
        int b;
        int skipped = 0;
        while ((b = takeByte()) != 0x47) {
            if (b < 0) return false;
            ++skipped;
        }
        if (skipped != 0) {
            ++m_syncErrors;
            KIVRA_TRACE("\xE2\x96\xA0 Get SyncByte Error !!\r\n");
        }
        // The packet runs 187 bytes past its sync byte, then the trailer; a
        // resync re-aligns the packet grid on the sync byte found.
        if (!ensure(4)) return false;
        const uint8_t* h = m_store + m_pos;
        const int pid = ((h[0] & 0x1F) << 8) | h[1];
        const int afc = (h[2] >> 4) & 3;
        const bool usable = (h[0] & 0x80) == 0 && afc != 0;
        m_pos += 3;
        int rest = 184;
        if (usable && (afc & 2)) {
            int afl = takeByte();
            if (afl < 0) return false;
            --rest;
            if (afl > rest) afl = rest;
            if (!skipBytes(static_cast<size_t>(afl))) return false;
            rest -= afl;
        }
        if (!usable || rest <= 0 || pid != m_videoPid) {
            if (!skipBytes(static_cast<size_t>(rest + trailer))) return false;
            continue;
        }
        // A PES header of stream 0xE0 at the start of the payload is skipped;
        // anything else is elementary stream data.
        if (rest >= 9) {
            if (!ensure(9)) return false;
            const uint8_t* q = m_store + m_pos;
            if (q[0] == 0 && q[1] == 0 && q[2] == 1 && q[3] == 0xE0) {
                int hdl = q[8];
                m_pos += 9;
                rest -= 9;
                if (hdl > rest) hdl = rest;
                if (!skipBytes(static_cast<size_t>(hdl))) return false;
                rest -= hdl;
                if (rest <= 0) {
                    if (!skipBytes(static_cast<size_t>(trailer))) return false;
                    continue;
                }
            }
        }
        m_payloadLeft = rest;
        m_trailerLeft = trailer;
        return true;
    }
}

bool Demux::nextSpan(const uint8_t*& p, const uint8_t*& end) {
    if (m_stop != Stop::None) return false;
    if (!m_transport) {
        if (m_pos >= m_len && !refill()) return false;
        p = m_store + m_pos;
        end = m_store + m_len;
        m_pos = m_len;
        return true;
    }
    if (m_payloadLeft <= 0) {
        if (m_trailerLeft > 0) {
            if (!skipBytes(static_cast<size_t>(m_trailerLeft))) return false;
            m_trailerLeft = 0;
        }
        if (!findVideoPayload()) return false;
    }
    if (m_pos >= m_len && !refill()) return false;
    size_t avail = m_len - m_pos;
    size_t k = static_cast<size_t>(m_payloadLeft) < avail ? static_cast<size_t>(m_payloadLeft) : avail;
    p = m_store + m_pos;
    end = p + k;
    m_pos += k;
    m_payloadLeft -= static_cast<int64_t>(k);
    return true;
}

// ---------------------------------------------------------------------------

void BitReader::refill() {
    while (m_bits <= 56) {
        if (m_end - m_p >= 4 && m_bits <= 32) {
            uint64_t w = (uint64_t(m_p[0]) << 24) | (uint64_t(m_p[1]) << 16) | (uint64_t(m_p[2]) << 8) | m_p[3];
            m_cache |= w << (32 - m_bits);
            m_bits += 32;
            m_p += 4;
        } else if (m_p < m_end) {
            m_cache |= uint64_t(*m_p++) << (56 - m_bits);
            m_bits += 8;
        } else if (m_dmx == nullptr || !m_dmx->nextSpan(m_p, m_end)) {
            m_p = m_end = nullptr;
            // Zero bits after the end keep every reader bounded.
            m_bits += 8;
            m_pad += 8;
        }
    }
}

size_t findStartCodeC(const uint8_t* p, size_t n) {
    for (size_t a = 0; a + 2 < n; ++a)
        if (p[a] == 0 && p[a + 1] == 0 && p[a + 2] == 1) return a;
    return n;
}

size_t findStartCode(const uint8_t* p, size_t n) {
#if defined(__SSE2__)
    // Coded data has a 01 byte every 256 bytes or so but two zero bytes
    // before one only at a start code: the bytes equal to 0 and to 1 as two
    // masks, the 01s with two zeros before them found in one step (the zeros
    // may end the 16 bytes before).
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
    uint32_t zerosBefore = 0;  // bits 0 and 1: the last two bytes of the step before were 0
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const auto z = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
        const auto o = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, one)));
        // Bit k + 2 of zeros: byte i + k is 0; bits 0 and 1: bytes i - 2, i - 1.
        const uint32_t zeros = z << 2 | zerosBefore;
        const uint32_t ends = o & zeros & zeros >> 1;  // bit k: a prefix ends at byte i + k
        if (ends != 0) return i + static_cast<size_t>(__builtin_ctz(ends)) - 2;
        zerosBefore = z >> 14;
    }
    // The last bytes, and a prefix whose zeros end the last step.
    const size_t from = i >= 2 ? i - 2 : 0;
    return from + findStartCodeC(p + from, n - from);
#else
    return findStartCodeC(p, n);
#endif
}

bool BitReader::collectSlices(std::vector<uint8_t>& out, std::vector<uint32_t>* starts, int pauseRow, int* pausedAt) {
    byteAlign();
    if (pausedAt != nullptr) *pausedAt = -1;
    if (m_pad > 0) return false;  // the source has already stopped
    const size_t from = out.size();
    // The whole bytes still in the window first, then whole spans of the
    // source, scanned for the end as they arrive.
    while (m_bits >= 8) {
        out.push_back(static_cast<uint8_t>(m_cache >> 56));
        m_cache <<= 8;
        m_bits -= 8;
    }
    m_cache = 0;
    m_bits = 0;
    size_t spanAt = out.size();  // where the current span's bytes begin in out
    size_t scanFrom = from;
    for (;;) {
        if (m_p < m_end) {
            spanAt = out.size();
            out.insert(out.end(), m_p, m_end);
            m_p = m_end;
        }
        const size_t n = out.size();
        while (scanFrom + 4 <= n) {
            // A prefix with its code byte after it.
            const size_t at = scanFrom + findStartCode(out.data() + scanFrom, n - 1 - scanFrom);
            if (at >= n - 1) {
                scanFrom = n - 3;
                break;
            }
            const uint8_t code = out[at + 3];
            const bool slice = code != 0 && code <= 0xAF;
            if (slice && (code - 1 < pauseRow || at == from)) {
                if (starts != nullptr) starts->push_back(static_cast<uint32_t>(at));
            } else {
                if (slice && pausedAt != nullptr) *pausedAt = code - 1;
                // Give the start code and what follows back: the part in the
                // current span by moving the span pointer back, the (at most
                // three) bytes before it through the window.
                const size_t inSpan = n - (at > spanAt ? at : spanAt);
                m_p = m_end - inSpan;
                for (size_t i = at; i < spanAt; ++i) {
                    m_cache |= uint64_t(out[i]) << (56 - m_bits);
                    m_bits += 8;
                }
                out.resize(at);
                return true;
            }
            scanFrom = at + 1;
        }
        if (m_dmx == nullptr || !m_dmx->nextSpan(m_p, m_end)) {
            m_p = m_end = nullptr;
            return false;
        }
    }
}

bool BitReader::nextStartCode() {
    byteAlign();
    for (;;) {
        if (dead()) return false;
        need(24);
        if (peek(24) == 1) return true;
        drop(8);
    }
}

}  // namespace kivra
