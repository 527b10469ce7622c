#include "error_check.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "file.h"
#include "output_file.h"
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
            out.push_back({m_sid, m_pmtPid, static_cast<uint16_t>(pid), kind,
                           static_cast<uint8_t>(expected << 4 | cc), number});
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
                host.showNote("no sync byte at packet " + std::to_string(b + i) + ": " + input);
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

ErrorFileStatus loadErrorFile(const std::string& path, std::vector<ErrorRecord>& records, int* err) {
    records.clear();
    if (err) *err = 0;
    if (!fileExists(path)) return ErrorFileStatus::Missing;
    File f;
    if (!f.openRead(path)) {
        if (err) *err = f.error();
        return f.error() == ENOENT ? ErrorFileStatus::Missing : ErrorFileStatus::Unreadable;
    }
    std::vector<uint8_t> data;
    uint8_t piece[1 << 16];
    for (;;) {
        const int64_t got = f.read(piece, sizeof piece);
        if (got < 0) {
            if (err) *err = f.error();
            return ErrorFileStatus::Unreadable;
        }
        if (got == 0) break;
        data.insert(data.end(), piece, piece + got);
    }
    return parseErrorFile(data, records);
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
    std::snprintf(line, sizeof line, "%s %s [%lld]", errorKindText(r.kind), detail,
                  static_cast<long long>(r.packet));
    return line;
}

namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

struct Node {
    ErrorTreeItem item;
    std::vector<size_t> children;
};

void flatten(const std::vector<Node>& nodes, size_t at, std::vector<ErrorTreeItem>& out) {
    out.push_back(nodes[at].item);
    for (size_t c : nodes[at].children) flatten(nodes, c, out);
}

}  // namespace

std::vector<ErrorTreeItem> buildErrorTree(const std::vector<ErrorRecord>& records) {
    std::vector<Node> nodes;
    nodes.reserve(records.size() + 2);
    nodes.push_back({{ErrorTreeItem::Root, 0, "Root", 0, -1, true}, {}});
    size_t program = 0;  // 0: none yet
    size_t pidItem = 0;
    const ErrorRecord* previous = nullptr;
    for (size_t i = 0; i < records.size(); ++i) {
        const ErrorRecord& r = records[i];
        if (program == 0 || r.sid != previous->sid || r.pmtPid != previous->pmtPid) {
            char text[64];
            if (r.sid == 0 && r.pmtPid == 0)
                std::snprintf(text, sizeof text, "SID [---] / PMT [0x----]");
            else
                std::snprintf(text, sizeof text, "SID [%4d] / PMT [0x%04X]", r.sid, r.pmtPid);
            nodes.push_back({{ErrorTreeItem::Program, 1, text, 0, -1, true}, {}});
            program = nodes.size() - 1;
            nodes[0].children.push_back(program);
            pidItem = 0;
        }
        if (pidItem == 0 || r.pid != previous->pid) {
            char text[16];
            std::snprintf(text, sizeof text, "0x%04X", r.pid);
            pidItem = 0;
            for (size_t c : nodes[program].children) {
                if (equalsIgnoringCase(nodes[c].item.text, text)) {
                    pidItem = c;
                    break;
                }
            }
            if (pidItem == 0) {
                nodes.push_back({{ErrorTreeItem::Pid, 2, text, 0, -1, false}, {}});
                pidItem = nodes.size() - 1;
                nodes[program].children.push_back(pidItem);
            }
        }
        nodes.push_back({{ErrorTreeItem::Event, 3, errorEventText(r), r.packet, static_cast<int32_t>(i), false}, {}});
        nodes[pidItem].children.push_back(nodes.size() - 1);
        previous = &r;
    }
    std::vector<ErrorTreeItem> out;
    out.reserve(nodes.size());
    flatten(nodes, 0, out);
    return out;
}

}  // namespace tavrel
