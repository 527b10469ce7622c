#include "error_check.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "file.h"
#include "output_file.h"
#include "printable_name.h"
#include "ts_packet.h"

namespace tavrel {

namespace {

constexpr int kPacketsPerRead = 100;
constexpr int kChunksPerRead = 64;  // 100-packet chunks fetched by one read
constexpr size_t kWriteBufferSize = 9024;
constexpr uint8_t kNotSeen = 0xFF;

// Records gather here and go to the file whenever fewer than a record and
// five bytes are free, and at the end.
class RecordWriter {
public:
    explicit RecordWriter(File& f) : m_file(f) {}

    bool add(const ErrorRecord& r) {
        if (kWriteBufferSize - m_fill < kErrorRecordSize + 5 && !flush()) return false;
        encodeErrorRecord(r, m_buf + m_fill);
        m_fill += kErrorRecordSize;
        return true;
    }
    bool put(const void* data, size_t n) {
        std::memcpy(m_buf + m_fill, data, n);
        m_fill += n;
        return true;
    }
    bool flush() {
        if (m_fill == 0) return true;
        const bool ok = m_file.writeAll(m_buf, m_fill);
        m_fill = 0;
        return ok;
    }

private:
    File& m_file;
    uint8_t m_buf[kWriteBufferSize];
    size_t m_fill = 0;
};

}  // namespace

void encodeErrorRecord(const ErrorRecord& r, uint8_t* out) {
    out[0] = static_cast<uint8_t>(r.sid >> 8);
    out[1] = static_cast<uint8_t>(r.sid);
    out[2] = static_cast<uint8_t>(r.pmtPid >> 8);
    out[3] = static_cast<uint8_t>(r.pmtPid);
    out[4] = static_cast<uint8_t>(r.pid >> 8);
    out[5] = static_cast<uint8_t>(r.pid);
    out[6] = r.kind;
    out[7] = r.counters;
    const auto v = static_cast<uint64_t>(r.packet);
    for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<uint8_t>(v >> (8 * i));
}

ErrorRecord decodeErrorRecord(const uint8_t* in) {
    ErrorRecord r;
    r.sid = static_cast<uint16_t>((in[0] << 8) | in[1]);
    r.pmtPid = static_cast<uint16_t>((in[2] << 8) | in[3]);
    r.pid = static_cast<uint16_t>((in[4] << 8) | in[5]);
    r.kind = in[6];
    r.counters = in[7];
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | in[8 + i];
    r.packet = static_cast<int64_t>(v);
    return r;
}

std::string errorFilePath(const std::string& recording) { return recording + "_err.bin"; }

TransportErrorChecker::TransportErrorChecker(bool recordDiscontinuity) : m_discon(recordDiscontinuity) {
    m_lastCc.fill(kNotSeen);
    m_lastPacket.fill(0);
}

void TransportErrorChecker::readPat(const uint8_t* p, int64_t number) {
    // The section is taken to start at byte 5: pointer_field 0, no
    // adaptation field.
    uint16_t sid = 0;
    uint16_t pmt = 0;
    if (p[5] == 0) {
        const int len = ((p[6] & 0x0F) << 8) | p[7];
        for (int i = 13; i < 5 + len - 1 && i + 4 <= 188; i += 4) {
            const int program = (p[i] << 8) | p[i + 1];
            if (program != 0) {  // program 0 names the network PID
                sid = static_cast<uint16_t>(program);
                pmt = static_cast<uint16_t>(((p[i + 2] & 0x1F) << 8) | p[i + 3]);
                break;
            }
        }
    }
    if (pmt != m_pmtPid || sid != m_sid) {
        m_pmtPid = pmt;
        m_sid = sid;
        m_changePoint = number;
    }
}

void TransportErrorChecker::packet(const uint8_t* p, int64_t number, std::vector<ErrorRecord>& out) {
    if (p[0] != 0x47) return;
    const int pid = packetPid(p);
    const int afc = packetAfc(p);
    if (pid == 0) readPat(p, number);

    // An adaptation field of length 0 holds no flags.
    if (m_discon && pid != 0 && pid != 0x1E && afc >= 2 && p[4] != 0 && (p[5] & 0x80) != 0) {
        out.push_back({m_sid, m_pmtPid, static_cast<uint16_t>(pid), kErrorDiscontinuity, 0, number});
    }

    if (afc == 2) return;  // no payload: no counter
    const int cc = p[3] & 0x0F;
    const uint8_t last = m_lastCc[static_cast<size_t>(pid)];
    if (last != kNotSeen && pid != 0 && pid != 0x1E && pid != 0x1F && pid != 0x1FFF) {
        const int expected = (last + 1) & 0x0F;
        if (cc != expected) {
            // A PID last seen before the current program began: kind 3.
            const uint8_t kind =
                m_lastPacket[static_cast<size_t>(pid)] > m_changePoint ? kErrorCounter : kErrorCounterProgram;
            out.push_back(
                {m_sid, m_pmtPid, static_cast<uint16_t>(pid), kind, static_cast<uint8_t>(expected << 4 | cc), number});
        }
    }
    m_lastCc[static_cast<size_t>(pid)] = static_cast<uint8_t>(cc);
    m_lastPacket[static_cast<size_t>(pid)] = number;
}

ErrorCheckResult checkTransportErrors(const std::string& input, bool recordDiscontinuity, JobHost& host) {
    ErrorCheckResult result;
    result.errorPath = errorFilePath(input);
    File in;
    if (!in.openRead(input)) {
        host.showFileError(kMsgInputOpen, input, in.error());
        return result;
    }
    PacketGeometry g;
    if (!detectPacketGeometryLimited(in, g)) {
        result.status = ErrorCheckResult::Skipped;
        return result;
    }
    const int64_t ps = g.size;
    const int64_t count = in.size() / ps;
    result.packets = count;

    const auto identity = identityOf(in);
    OutputOptions outOptions;
    outOptions.input = input;
    OutputFile out;
    if (!out.create(result.errorPath, outOptions)) {
        showOutputCreateError(host, result.errorPath, out.error());
        return result;
    }
    auto writer = std::make_unique<RecordWriter>(out.file());
    writer->put(kErrorFileHeader, kErrorFileHeaderSize);

    TransportErrorChecker checker(recordDiscontinuity);
    std::vector<ErrorRecord> found;
    found.reserve(256);
    // Many 100-packet chunks per read; each chunk is handled as if it had
    // been read on its own (the cancel test and progress per chunk).
    const int64_t chunkBytes = ps * kPacketsPerRead;
    std::vector<uint8_t> buf(static_cast<size_t>(chunkBytes * kChunksPerRead));
    int64_t filled = 0;
    int64_t pos = 0;
    int lastPercent = 0;
    bool ok = true;
    bool ended = false;
    bool syncNoted = false;

    for (int64_t b = 0; b < count && !ended; b += kPacketsPerRead) {
        if (host.cancelRequested()) {
            out.discard();
            // The check starts the error file anew, so a cancelled one
            // leaves none behind.
            removeFile(result.errorPath);
            result.status = ErrorCheckResult::Cancelled;
            return result;
        }
        if (pos >= filled) {
            filled = in.read(buf.data(), buf.size());
            pos = 0;
            if (filled < 0) {
                host.showFileError(kMsgRead, input, in.error());
                ok = false;
                break;
            }
        }
        const int64_t got = std::min(chunkBytes, filled - pos);
        const uint8_t* chunk = buf.data() + pos;
        pos += got;
        const int64_t units = got / ps;
        // Fewer packets than the size promised: the recording shrank while
        // it was being checked.
        if (units < std::min<int64_t>(kPacketsPerRead, count - b)) {
            host.showFileError(kMsgRead, input, 0);
            ok = false;
            break;
        }
        found.clear();
        for (int64_t i = 0; i < units; ++i) {
            const uint8_t* p = chunk + i * ps + g.syncOffset;
            // Said once; the check goes on over a damaged stretch.
            if (p[0] != 0x47 && !syncNoted) {
                syncNoted = true;
                host.showNote("no sync byte at packet " + std::to_string(b + i) + ": " + printableName(input));
            }
            checker.packet(p, b + i, found);
        }
        for (const ErrorRecord& r : found) {
            ++result.counts[r.kind];
            if (!writer->add(r)) {
                host.showFileError(kMsgWrite, result.errorPath, out.file().error());
                ok = false;
                ended = true;
                break;
            }
        }
        const int percent = static_cast<int>(b * 100 / count);
        if (percent > lastPercent) {
            lastPercent = percent;
            char title[64];
            std::snprintf(title, sizeof title, "Input [%3d％]", percent);
            host.setTitle(title);
        }
    }
    if (ok && !writer->flush()) {
        host.showFileError(kMsgWrite, result.errorPath, out.file().error());
        ok = false;
    }
    // An error file of a recording replaced or rewritten meanwhile describes
    // neither file.
    if (ok && !(identity && unchangedSince(input, *identity))) {
        host.showFileError(kMsgRead, input, kErrChanged);
        ok = false;
    }
    if (ok && !out.commit()) {
        host.showFileError(kMsgWrite, result.errorPath, out.error());
        ok = false;
    }
    host.setTitle("Input");
    result.status = ok ? ErrorCheckResult::Done : ErrorCheckResult::Failed;
    return result;
}

ErrorFileStatus parseErrorFile(std::span<const uint8_t> data, std::vector<ErrorRecord>& records) {
    records.clear();
    if (data.size() < kErrorFileHeaderSize || std::memcmp(data.data(), kErrorFileHeader, kErrorFileHeaderSize) != 0)
        return ErrorFileStatus::Malformed;
    const size_t body = data.size() - kErrorFileHeaderSize;
    if (body % kErrorRecordSize != 0) return ErrorFileStatus::Malformed;
    records.reserve(body / kErrorRecordSize);
    for (size_t off = kErrorFileHeaderSize; off < data.size(); off += kErrorRecordSize)
        records.push_back(decodeErrorRecord(data.data() + off));
    return ErrorFileStatus::Ok;
}

namespace {

// Opens an error file and checks its header and size; count gets the number
// of records after the header.
ErrorFileStatus openErrorFile(const std::string& path, File& f, int64_t& count, int* err) {
    if (!fileExists(path)) return ErrorFileStatus::Missing;
    if (!f.openRead(path)) {
        if (err) *err = f.error();
        return f.error() == ENOENT ? ErrorFileStatus::Missing : ErrorFileStatus::Unreadable;
    }
    const int64_t size = f.size();
    char header[kErrorFileHeaderSize];
    const int64_t got = size < 0 ? -1 : f.read(header, sizeof header);
    if (got < 0) {
        if (err) *err = f.error();
        return ErrorFileStatus::Unreadable;
    }
    const int64_t body = size - static_cast<int64_t>(kErrorFileHeaderSize);
    if (got != static_cast<int64_t>(kErrorFileHeaderSize) ||
        std::memcmp(header, kErrorFileHeader, kErrorFileHeaderSize) != 0 ||
        body % static_cast<int64_t>(kErrorRecordSize) != 0)
        return ErrorFileStatus::Malformed;
    count = body / static_cast<int64_t>(kErrorRecordSize);
    return ErrorFileStatus::Ok;
}

// Reads records [first, first + n) of an open error file; a file that ends
// early was shortened meanwhile.
bool readRecords(File& f, int64_t first, size_t n, ErrorRecord* out, int* err) {
    uint8_t bytes[4096 * kErrorRecordSize];
    const int64_t start = static_cast<int64_t>(kErrorFileHeaderSize) + first * static_cast<int64_t>(kErrorRecordSize);
    if (!f.seek(start)) {
        if (err) *err = f.error();
        return false;
    }
    while (n > 0) {
        const size_t take = std::min(n, sizeof bytes / kErrorRecordSize);
        const int64_t got = f.read(bytes, take * kErrorRecordSize);
        if (got != static_cast<int64_t>(take * kErrorRecordSize)) {
            if (err) *err = got < 0 ? f.error() : kErrChanged;
            return false;
        }
        for (size_t i = 0; i < take; ++i) *out++ = decodeErrorRecord(bytes + i * kErrorRecordSize);
        n -= take;
    }
    return true;
}

}  // namespace

ErrorFileStatus loadErrorFile(const std::string& path, size_t maxRecords, std::vector<ErrorRecord>& records,
                              int64_t* total, int* err) {
    records.clear();
    if (total) *total = 0;
    if (err) *err = 0;
    File f;
    int64_t count = 0;
    const ErrorFileStatus status = openErrorFile(path, f, count, err);
    if (status != ErrorFileStatus::Ok) return status;
    if (total) *total = count;
    const size_t keep = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(count), maxRecords));
    try {
        records.resize(keep);
    } catch (const std::bad_alloc&) {
        if (err) *err = ENOMEM;
        return ErrorFileStatus::Unreadable;
    }
    if (!readRecords(f, 0, keep, records.data(), err)) {
        records.clear();
        return ErrorFileStatus::Unreadable;
    }
    return ErrorFileStatus::Ok;
}

const char* errorKindText(int kind) {
    switch (kind) {
    case kErrorDiscontinuity: return "DI";
    case kErrorCounter: return "CC";
    case kErrorCounterProgram: return "CC(*)";
    default: return "?";
    }
}

std::string errorEventText(const ErrorRecord& r) {
    char detail[32] = "";
    if (r.kind == kErrorCounter || r.kind == kErrorCounterProgram)
        std::snprintf(detail, sizeof detail, "[%2d → %2d]", r.counters >> 4, r.counters & 0x0F);
    char line[96];
    std::snprintf(line, sizeof line, "%s %s [%lld]", errorKindText(r.kind), detail, static_cast<long long>(r.packet));
    return line;
}

namespace {

constexpr size_t kChunkRecords = 4096;
constexpr size_t kPidCount = 65536;
constexpr uint32_t kNone = UINT32_MAX;

// The memory of a tree walk, taken once and without exceptions: the records
// held, linked per PID in file order, and per PID its count in the program
// item, its first and last held record and whether the current group holds
// it; the program item's PIDs in the order they first appear; one chunk of
// records as read.
struct TreeWalkMemory {
    size_t capacity = 0;
    std::unique_ptr<ErrorRecord[]> held;
    std::unique_ptr<int64_t[]> heldIndex;
    std::unique_ptr<uint32_t[]> next;
    std::unique_ptr<int64_t[]> count;
    std::unique_ptr<uint32_t[]> head;
    std::unique_ptr<uint32_t[]> tail;
    std::unique_ptr<uint8_t[]> inGroup;
    std::unique_ptr<uint16_t[]> order;
    std::unique_ptr<ErrorRecord[]> chunk;

    bool take(size_t cap) {
        capacity = std::clamp<size_t>(cap, 1, kNone - 1);
        held.reset(new (std::nothrow) ErrorRecord[capacity]);
        heldIndex.reset(new (std::nothrow) int64_t[capacity]);
        next.reset(new (std::nothrow) uint32_t[capacity]);
        count.reset(new (std::nothrow) int64_t[kPidCount]());
        head.reset(new (std::nothrow) uint32_t[kPidCount]);
        tail.reset(new (std::nothrow) uint32_t[kPidCount]);
        inGroup.reset(new (std::nothrow) uint8_t[kPidCount]());
        order.reset(new (std::nothrow) uint16_t[kPidCount]);
        chunk.reset(new (std::nothrow) ErrorRecord[kChunkRecords]);
        if (!held || !heldIndex || !next || !count || !head || !tail || !inGroup || !order || !chunk) return false;
        std::fill_n(head.get(), kPidCount, kNone);
        return true;
    }
};

// The tree over total records that read(first, n, out) fetches. A program
// item's records are read once to find its end, its PIDs and their counts,
// and held while they fit; otherwise they are read again per group of PIDs
// that fits, and once per PID that alone does not. false with err set when a
// read fails or the memory cannot be had.
template <typename Read, typename Emit>
bool walkTree(int64_t total, size_t heldMax, Read&& read, Emit&& emit, int& err) {
    emit(ErrorTreeItem{ErrorTreeItem::Root, 0, "Root", 0, -1, true});
    if (total <= 0) return true;
    TreeWalkMemory m;
    if (!m.take(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(total), heldMax)))) {
        err = ENOMEM;
        return false;
    }
    // Visits records from first on, through the chunk, until visit returns
    // false or end is reached; a failed read sets readFailed.
    int64_t chunkFirst = 0;
    int64_t chunkEnd = 0;
    bool readFailed = false;
    auto scan = [&](int64_t first, int64_t end, auto&& visit) {
        for (int64_t i = first; i < end; ++i) {
            if (i < chunkFirst || i >= chunkEnd) {
                const int64_t n = std::min<int64_t>(total - i, static_cast<int64_t>(kChunkRecords));
                chunkFirst = chunkEnd = i;
                if (!read(i, static_cast<size_t>(n), m.chunk.get(), err)) {
                    readFailed = true;
                    return;
                }
                chunkEnd = i + n;
            }
            if (!visit(m.chunk[static_cast<size_t>(i - chunkFirst)], i)) return;
        }
    };
    size_t heldCount = 0;
    auto hold = [&](const ErrorRecord& r, int64_t index) {
        const uint32_t k = static_cast<uint32_t>(heldCount++);
        m.held[k] = r;
        m.heldIndex[k] = index;
        m.next[k] = kNone;
        if (m.head[r.pid] == kNone)
            m.head[r.pid] = k;
        else
            m.next[m.tail[r.pid]] = k;
        m.tail[r.pid] = k;
    };
    auto emitPid = [&](uint16_t pid) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%04X", pid);
        emit(ErrorTreeItem{ErrorTreeItem::Pid, 2, text, 0, -1, false});
    };
    auto emitEvent = [&](const ErrorRecord& r, int64_t index) {
        emit(ErrorTreeItem{ErrorTreeItem::Event, 3, errorEventText(r), r.packet, index, false});
    };
    // The PID items order[from, to) with their held records.
    auto emitHeld = [&](size_t from, size_t to) {
        for (size_t p = from; p < to; ++p) {
            const uint16_t pid = m.order[p];
            emitPid(pid);
            for (uint32_t k = m.head[pid]; k != kNone; k = m.next[k]) emitEvent(m.held[k], m.heldIndex[k]);
        }
    };

    for (int64_t at = 0; at < total;) {
        uint16_t sid = 0, pmtPid = 0;
        size_t pids = 0;
        int64_t end = at;
        bool fits = true;
        heldCount = 0;
        scan(at, total, [&](const ErrorRecord& r, int64_t index) {
            if (index == at) {
                sid = r.sid;
                pmtPid = r.pmtPid;
            } else if (r.sid != sid || r.pmtPid != pmtPid) {
                return false;
            }
            if (m.count[r.pid]++ == 0) m.order[pids++] = r.pid;
            if (fits && heldCount < m.capacity)
                hold(r, index);
            else
                fits = false;
            end = index + 1;
            return true;
        });
        if (readFailed) return false;
        char text[64];
        if (sid == 0 && pmtPid == 0)
            std::snprintf(text, sizeof text, "SID [---] / PMT [0x----]");
        else
            std::snprintf(text, sizeof text, "SID [%4d] / PMT [0x%04X]", sid, pmtPid);
        emit(ErrorTreeItem{ErrorTreeItem::Program, 1, text, 0, -1, true});

        if (fits) emitHeld(0, pids);
        const int64_t capacity = static_cast<int64_t>(m.capacity);
        for (size_t p = 0; !fits && p < pids;) {
            const uint16_t pid = m.order[p];
            if (m.count[pid] > capacity) {
                emitPid(pid);
                scan(at, end, [&](const ErrorRecord& r, int64_t index) {
                    if (r.pid == pid) emitEvent(r, index);
                    return true;
                });
                if (readFailed) return false;
                ++p;
                continue;
            }
            size_t q = p;
            for (int64_t sum = 0; q < pids && m.count[m.order[q]] <= capacity - sum; ++q) {
                sum += m.count[m.order[q]];
                m.inGroup[m.order[q]] = 1;
                m.head[m.order[q]] = kNone;
            }
            heldCount = 0;
            scan(at, end, [&](const ErrorRecord& r, int64_t index) {
                if (m.inGroup[r.pid]) hold(r, index);
                return true;
            });
            if (readFailed) return false;
            emitHeld(p, q);
            for (size_t i = p; i < q; ++i) m.inGroup[m.order[i]] = 0;
            p = q;
        }
        for (size_t i = 0; i < pids; ++i) {
            m.count[m.order[i]] = 0;
            m.head[m.order[i]] = kNone;
        }
        at = end;
    }
    return true;
}

}  // namespace

std::vector<ErrorTreeItem> buildErrorTree(const std::vector<ErrorRecord>& records) {
    std::vector<ErrorTreeItem> out;
    int err = 0;
    walkTree(
        static_cast<int64_t>(records.size()), records.size(),
        [&records](int64_t first, size_t n, ErrorRecord* to, int&) {
            std::copy_n(records.begin() + first, n, to);
            return true;
        },
        [&out](const ErrorTreeItem& item) { out.push_back(item); }, err);
    return out;
}

ErrorFileStatus walkErrorFileTree(const std::string& path, const std::function<void(const ErrorTreeItem&)>& emit,
                                  int* err, size_t heldRecords) {
    if (err) *err = 0;
    File f;
    int64_t count = 0;
    const ErrorFileStatus status = openErrorFile(path, f, count, err);
    if (status != ErrorFileStatus::Ok) return status;
    int walkErr = 0;
    const bool ok = walkTree(
        count, heldRecords,
        [&f](int64_t first, size_t n, ErrorRecord* to, int& e) { return readRecords(f, first, n, to, &e); }, emit,
        walkErr);
    if (ok) return ErrorFileStatus::Ok;
    if (err) *err = walkErr;
    return ErrorFileStatus::Unreadable;
}

}  // namespace tavrel
