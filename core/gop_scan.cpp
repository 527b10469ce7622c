#include "gop_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "file.h"
#include "navigation.h"
#include "output_file.h"
#include "printable_name.h"

namespace tavrel {

namespace {

constexpr size_t kReadBufferSize = 22000;
constexpr int kPacketsPerRead = 100;

const char* const kMsgPidWrite = "ＰＩＤ情報書き込みエラー";
const char* const kMsgPacketWrite = "パケット情報書き込みエラー";

void showError(JobHost& host, const char* text) { host.showMessage("error", text, MsgKind::Ok); }
void showFileError(JobHost& host, const char* text, const std::string& path, int err) {
    host.showFileError(text, path, err);
}

// Renumbered GOP time codes: two GOPs per second, pictures 00 and 15.
struct RenumberCounter {
    int h = 0, m = 0, s = 0, pictures = 0;

    std::string next() {
        if (pictures > 15) {
            pictures = 0;
            if (++s > 59) {
                s = 0;
                if (++m > 59) {
                    m = 0;
                    if (++h > 23) h = 0;
                }
            }
        }
        std::string text = timeCodeText(h, m, s, pictures);
        pictures += 15;
        return text;
    }
};

// Offset of 00 00 01 <code> starting at bytes 1..184 of the packet, or -1.
int findStartCode(const uint8_t* p, uint8_t code) {
    for (int i = 1; i <= 184; ++i) {
        if (p[i + 2] == 1 && p[i + 3] == code && p[i] == 0 && p[i + 1] == 0) return i;
    }
    return -1;
}

// Payload offset of a packet that opens a video PES, or -1. Reads may run up
// to 264 bytes past the sync byte, as far as a corrupt adaptation field length
// points.
int videoPesPayload(const uint8_t* p) {
    if (p[0] != 0x47 || !packetPusi(p)) return -1;
    const int afc = packetAfc(p);
    int off;
    if (afc == 1)
        off = 4;
    else if (afc == 3)
        off = 5 + p[4];
    else
        return -1;
    const uint8_t* q = p + off;
    if (q[0] != 0 || q[1] != 0 || q[2] != 1 || (q[3] & 0xF0) != 0xE0) return -1;
    return off;
}

enum class ScanStatus { Ok, Failed, Cancelled };

struct ScanRun {
    ScanRun(File& in_, BufferedTextWriter* out_, JobHost& host_, PacketGeometry g, int64_t count, bool renum,
            bool isBatch)
        : in(in_), out(out_), host(host_), geometry(g), packetCount(count), renumber(renum), batch(isBatch) {}

    // The index lines go to out; a scan without an index file has none.
    // With keepListOnWriteError a write that fails (a full disk) drops the
    // index and the scan goes on for the list alone.
    bool write(const char* s, size_t n) { return !out || out->append(s, n) || dropIndex(); }
    bool writeFlush(const char* s, size_t n) { return !out || out->appendFlush(s, n) || dropIndex(); }
    bool dropIndex() {
        if (!keepListOnWriteError) return false;
        droppedIndexError = indexFile ? indexFile->error() : 0;
        out = nullptr;
        return true;
    }
    void writeError(const char* text) { showFileError(host, text, indexPath, indexFile ? indexFile->error() : 0); }

    File& in;
    BufferedTextWriter* out;
    JobHost& host;
    std::string inputPath;
    std::string indexPath;
    File* indexFile = nullptr;
    PacketGeometry geometry;
    int64_t packetCount = 0;
    bool renumber = false;
    bool batch = false;
    bool keepListOnWriteError = false;
    int droppedIndexError = 0;  // why the index was dropped (0: it was not)
    std::optional<FileIdentity> inputIdentity;
    bool syncNoted = false;

    // Results.
    GopList* list = nullptr;  // main variant only
    int32_t firstPid = -1;    // PID of the first GOP found
    GopEntry last;            // PID and PTS of the last GOP
};

// The scan walks the file in 100-packet chunks. To save system calls it
// reads many chunks at once, but every packet sees exactly the bytes it would
// see in a 22,000-byte buffer filled by one 100-packet read: looking past the
// last packet of a chunk finds zeros (the buffer tail no read ever reaches),
// or, after the short final read, what the previous read left there.
class ChunkReader {
public:
    static constexpr int kChunksPerRead = 64;
    static constexpr size_t kLookahead = 300;  // furthest look past a packet start

    ChunkReader(File& f, int32_t packetSize)
        : m_file(f),
          m_ps(packetSize),
          m_chunkBytes(static_cast<int64_t>(packetSize) * kPacketsPerRead),
          m_buf(static_cast<size_t>(m_chunkBytes) * kChunksPerRead),
          m_prev(kReadBufferSize, 0),
          m_tail(static_cast<size_t>(packetSize) + kLookahead, 0) {}

    // Next chunk; got < 0 on a read error, 0 at the end.
    int64_t next() {
        if (m_pos >= m_filled) {
            if (m_filled > 0) keepLastChunk();
            m_filled = m_file.read(m_buf.data(), m_buf.size());
            m_pos = 0;
            if (m_filled <= 0) return m_filled;
        }
        m_chunk = m_buf.data() + m_pos;
        m_got = std::min(m_chunkBytes, m_filled - m_pos);
        if (m_pos > 0) m_prevChunk = m_chunk - m_chunkBytes;
        m_pos += m_got;
        return m_got;
    }

    const uint8_t* chunk() const { return m_chunk; }

    // Stored packet j of the current chunk, followed by what a 100-packet
    // read buffer would hold behind it.
    const uint8_t* view(int64_t j) {
        const int64_t begin = j * m_ps;
        if (begin + static_cast<int64_t>(m_tail.size()) <= m_got) return m_chunk + begin;
        for (size_t t = 0; t < m_tail.size(); ++t) {
            const int64_t x = begin + static_cast<int64_t>(t);
            uint8_t v = 0;
            if (x < m_got)
                v = m_chunk[x];
            else if (x < m_chunkBytes && m_prevChunk)
                v = m_prevChunk[x];
            m_tail[t] = v;
        }
        return m_tail.data();
    }

private:
    void keepLastChunk() {
        // The chunk before the next read's first one, for the stale-tail view.
        const int64_t lastStart = ((m_filled - 1) / m_chunkBytes) * m_chunkBytes;
        std::memcpy(m_prev.data(), m_buf.data() + lastStart, static_cast<size_t>(m_filled - lastStart));
        m_prevChunk = m_prev.data();
    }

    File& m_file;
    const int32_t m_ps;
    const int64_t m_chunkBytes;
    std::vector<uint8_t> m_buf;
    std::vector<uint8_t> m_prev;
    std::vector<uint8_t> m_tail;
    int64_t m_filled = 0;
    int64_t m_pos = 0;
    const uint8_t* m_chunk = nullptr;
    const uint8_t* m_prevChunk = nullptr;
    int64_t m_got = 0;
};

ScanStatus scanPackets(ScanRun& run) {
    const int32_t ps = run.geometry.size;
    ChunkReader reader(run.in, ps);
    RenumberCounter counter;
    std::string lastTimeCode;  // time code text of the most recent GOP header
    int64_t pts = 0, dts = 0;
    char ptsText[32] = "";
    char ptsDecimal[32] = "";
    char line[256];
    int lastPercent = -1;

    for (int64_t c = 0; c < run.packetCount; c += kPacketsPerRead) {
        if (run.batch) {
            if (run.host.cancelRequested()) return ScanStatus::Cancelled;
            const int percent = static_cast<int>(c * 100 / run.packetCount);
            if (percent > lastPercent) {
                lastPercent = percent;
                char title[64];
                std::snprintf(title, sizeof title, "Input [%3d％]", percent);
                run.host.setTitle(title);
            }
            lastTimeCode.clear();
        }
        const int64_t got = reader.next();
        const int64_t packets = got > 0 ? got / ps : 0;
        // Fewer packets than the size promised: the recording shrank (or
        // the read failed) while it was being scanned.
        if (got < 0 || packets < std::min<int64_t>(kPacketsPerRead, run.packetCount - c)) {
            showFileError(run.host, kMsgRead, run.inputPath, got < 0 ? run.in.error() : 0);
            return ScanStatus::Failed;
        }
        for (int64_t j = 0; j < packets; ++j) {
            const uint8_t* raw = reader.chunk() + j * ps + run.geometry.syncOffset;
            if (raw[0] != 0x47) {
                // Said once: a damaged stretch is common in broadcast
                // captures, and the scan goes on over it.
                if (!run.syncNoted) {
                    run.syncNoted = true;
                    run.host.showNote("no sync byte at packet " + std::to_string(c + j) + ": " +
                                      printableName(run.inputPath));
                }
                continue;
            }
            if (!packetPusi(raw)) continue;
            const uint8_t* p = reader.view(j) + run.geometry.syncOffset;
            const int payload = videoPesPayload(p);
            if (payload < 0 || findStartCode(p, 0xB3) < 0) continue;
            const int64_t number = c + j;
            const int pid = packetPid(p);
            if (readPesTimestamps(p + payload + 4, pts, dts, ptsText)) {
                std::snprintf(ptsDecimal, sizeof ptsDecimal, "%lld", static_cast<long long>(pts));
            }
            if (run.firstPid < 0) run.firstPid = pid;

            GopEntry entry;
            entry.pid = pid;
            entry.pts = pts;
            entry.packet = number;
            const int gopAt = findStartCode(p, 0xB8);
            std::string code;
            if (gopAt >= 0) {
                int h, m, s, pictures;
                decodeGopTimeCode(p + gopAt + 4, h, m, s, pictures);
                code = run.renumber ? counter.next() : timeCodeText(h, m, s, pictures);
                lastTimeCode = code;
                entry.setTimeCode(code.c_str());
                entry.setPtsText(ptsText);
            } else {
                code = (run.batch && run.renumber) ? counter.next() : lastTimeCode;
                entry.setTimeCode(GopEntry::kNoTimeCode);
                entry.setPtsText(GopEntry::kNoPtsText);
            }
            const int n = std::snprintf(line, sizeof line, "%04X,%s,%s,%s,%lld\r\n", pid, code.c_str(), ptsText,
                                        ptsDecimal, static_cast<long long>(number));
            if (!run.write(line, static_cast<size_t>(n))) {
                run.writeError(kMsgWrite);
                return ScanStatus::Failed;
            }
            if (run.list) run.list->push_back(entry);
            run.last.pid = pid;
            run.last.pts = pts;
        }
        if (!run.batch) run.host.setProgress(static_cast<int32_t>(c));
    }
    return ScanStatus::Ok;
}

// LAST, PID_VIDEO and TSPAC_TYPE/END lines after a complete scan. Returns
// false when any of them could not be written: an index without its
// trailer is no index.
bool writeTrailer(ScanRun& run, int32_t videoPid) {
    char line[128];
    if (run.list) {
        GopEntry last = run.last;
        last.setTimeCode(GopEntry::kLastText);
        last.setPtsText(GopEntry::kLastText);
        last.packet = run.packetCount;
        run.list->push_back(last);
    }
    int n = std::snprintf(line, sizeof line, "%s,%d\r\n", GopEntry::kLastText, static_cast<int32_t>(run.packetCount));
    if (!run.write(line, static_cast<size_t>(n))) {
        run.writeError(kMsgWrite);
        return false;
    }
    n = std::snprintf(line, sizeof line, "%s,%04x\r\n", "PID_VIDEO", static_cast<unsigned>(videoPid));
    if (!run.write(line, static_cast<size_t>(n))) {
        run.writeError(kMsgPidWrite);
        return false;
    }
    n = std::snprintf(line, sizeof line, "%s,%d\r\nEND\r\n", "TSPAC_TYPE", run.geometry.size);
    if (!run.writeFlush(line, static_cast<size_t>(n))) {
        run.writeError(kMsgPacketWrite);
        return false;
    }
    return true;
}

bool writeHeader(ScanRun& run) {
    // The name line must stay one line whatever the file is called.
    std::string name = fileNameOf(run.inputPath);
    std::replace(name.begin(), name.end(), '\r', '_');
    std::replace(name.begin(), name.end(), '\n', '_');
    name += "\r\n";
    return run.write("KIVRA2\r\n", 8) && run.write(name.data(), name.size());
}

// Header, GOP lines and trailer into the (temporary) index file, then the
// rename into place. Ok only when the whole index is in place (or none was
// wanted); otherwise the temporary file goes with the OutputFile.
ScanStatus scanAndWrite(ScanRun& run, OutputFile* index, int32_t fallbackPid) {
    ScanStatus status = ScanStatus::Failed;
    if (!writeHeader(run))
        run.writeError(kMsgWrite);
    else
        status = scanPackets(run);
    // A failed scan leaves no index: its temporary file is removed, so
    // there is no trailer to write.
    if (status != ScanStatus::Ok) return status;
    if (!writeTrailer(run, run.firstPid >= 0 ? run.firstPid : fallbackPid)) status = ScanStatus::Failed;
    // A list (and index) of a recording that was replaced or rewritten while
    // it was read describes neither file.
    if (status == ScanStatus::Ok && !(run.inputIdentity && unchangedSince(run.inputPath, *run.inputIdentity))) {
        showFileError(run.host, kMsgRead, run.inputPath, kErrChanged);
        status = ScanStatus::Failed;
    }
    if (index && !run.out) index->discard();
    if (index && run.out && status == ScanStatus::Ok && !index->commit()) {
        showFileError(run.host, kMsgWrite, index->target(), index->error());
        status = ScanStatus::Failed;
    }
    return status;
}

std::string lastFour(const std::string& s) { return s.size() >= 4 ? s.substr(s.size() - 4) : s; }

int64_t recordingSize(const std::string& path) {
    File f;
    return f.openRead(path) ? f.size() : -1;
}

// Loads or scans; returns false on failure.
bool loadOrScan(EditState& state, JobHost& host, const ScanOptions& opt, ScanReport& report) {
    const std::string& input = state.inputPath;
    if (lastFour(input) == ".txt") return true;

    const std::string indexPath = gopIndexPath(input, state.settings.selGop == 1, state.settings.gopFolder);
    report.indexPath = indexPath;

    if (opt.staleCheckAndLoad) {
        auto inTime = lastWriteTime(input);
        auto idxTime = lastWriteTime(indexPath);
        if (inTime && idxTime && *inTime >= *idxTime) {
            MsgResult r = host.showMessage(
                "question",
                "GOPファイルよりTSファイルの更新日時が新しくなっています。\r\nGOPファイルを再作成しますか？",
                MsgKind::YesNo);
            if (r == kResultYes && !removeFile(indexPath)) showError(host, "削除に失敗しました。");
        }
        // An index that does not fit the recording (made for another file,
        // the recording grew or shrank, edited) is rebuilt like a stale one.
        GopIndexContent content;
        if (readGopIndexFile(indexPath, input, content, host, /*reportMissingPid=*/false) &&
            gopIndexFitsRecording(content, recordingSize(input))) {
            state.gopList = std::move(content.entries);
            state.streamVideoPid = content.videoPid;
            state.geometry = content.geometry;
            host.setInputPathText(input);
            report.loaded = true;
            return true;
        }
    }

    File in;
    if (!in.openRead(input)) {
        showFileError(host, kMsgInputOpen, input, in.error());
        return false;
    }
    PacketGeometry g;
    if (!detectPacketGeometry(in, g)) return false;
    state.geometry = g;
    const int64_t count = in.size() / g.size;
    host.setProgressRange(static_cast<int32_t>(count));
    host.setProgress(0);

    OutputOptions indexOptions;
    indexOptions.input = input;
    OutputFile index;
    const bool indexOpen = index.create(indexPath, indexOptions);
    if (!indexOpen) {
        report.indexError = index.error();
        // An index name that leads to the recording is refused outright.
        if (!opt.listWithoutIndex || index.error() == kErrSameAsInput) {
            showOutputCreateError(host, indexPath, index.error());
            return false;
        }
    }
    BufferedTextWriter writer(index.file());
    ScanRun run{in, indexOpen ? &writer : nullptr, host, g, count, state.settings.reNo != 0, false};
    run.inputPath = input;
    run.indexPath = indexPath;
    run.indexFile = &index.file();
    run.list = &state.gopList;
    run.keepListOnWriteError = opt.listWithoutIndex;
    run.inputIdentity = identityOf(in);
    const ScanStatus status = scanAndWrite(run, indexOpen ? &index : nullptr, state.streamVideoPid);
    if (run.firstPid >= 0) state.streamVideoPid = run.firstPid;
    if (run.droppedIndexError != 0) report.indexError = run.droppedIndexError;
    report.indexSaved = indexOpen && run.out && status == ScanStatus::Ok;
    return status == ScanStatus::Ok;
}

}  // namespace

void decodeGopTimeCode(const uint8_t* p, int& h, int& m, int& s, int& pictures) {
    const uint32_t w = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                       (static_cast<uint32_t>(p[2]) << 8) | p[3];
    h = static_cast<int>((w >> 26) & 0x1F);
    m = static_cast<int>((w >> 20) & 0x3F);
    s = static_cast<int>((w >> 13) & 0x3F);
    pictures = static_cast<int>((w >> 7) & 0x3F);
}

bool gopIndexFitsRecording(const GopIndexContent& content, int64_t recordingSize) {
    const GopList& list = content.entries;
    if (!content.videoPidSet || content.geometry.size == 0 || recordingSize < 0) return false;
    if (list.empty() || !list.back().isLast()) return false;
    const int64_t last = list.back().packet;
    // LAST holds the low 32 bits of the packet count, as it was written.
    const int64_t count = recordingSize / content.geometry.size;
    if (last != static_cast<int32_t>(static_cast<uint32_t>(count))) return false;
    int64_t previous = -1;
    for (size_t i = 0; i + 1 < list.size(); ++i) {
        const int64_t packet = list[i].packet;
        if (list[i].isLast() || packet <= previous || packet >= count) return false;
        previous = packet;
    }
    return true;
}

bool runGopScanJob(EditState& state, JobHost& host, const ScanOptions& opt, ScanReport* report) {
    state.inMark = -1;
    state.outMark = -1;
    state.gopList.clear();
    ScanReport local;
    return loadOrScan(state, host, opt, report ? *report : local);
}

void finishGopScan(EditState& state, JobHost& host, bool ok) {
    if (!state.gopList.empty()) {
        host.setPreviewPacketSize(state.geometry.size);
        const GopEntry& first = state.gopList.front();
        host.showGopTime(gopTimeText(first, state.settings.timeVopt));
        host.setSliderRange(static_cast<int32_t>(state.gopList.size() - 1), 1200, 0);
        host.setProgress(0);
        host.refreshErrorInfo();
    } else {
        host.setSliderRange(0, 0, 0);
    }
    host.setBusy(false);
    if (!ok) {
        host.disableNavigation();
    } else {
        host.setTitle("Tavrel Cutter");
        ScanFinishInfo info;
        info.packetSize = state.geometry.size;
        info.videoPid = state.streamVideoPid;
        info.marginFront = state.settings.pacMargin;
        info.marginBack = state.settings.pacMarginBack;
        host.showScanLabels(info);
        host.showCurrentPreview();
        if (state.settings.setFcSlider) host.focusSlider();
    }
}

bool runGopScan(EditState& state, JobHost& host, const ScanOptions& opt, ScanReport* report) {
    host.setBusy(true);
    const bool ok = runGopScanJob(state, host, opt, report);
    finishGopScan(state, host, ok);
    return ok;
}

std::string batchGopIndexPath(const std::string& recording, bool useGopFolder, const std::string& gopFolder) {
    if (useGopFolder && isDirectory(gopFolder)) return gopIndexPath(recording, true, gopFolder);
    return recording + ".txt";
}

BatchScanResult runBatchGopScan(const std::string& input, const std::string& indexPath, bool renumber, JobHost& host) {
    BatchScanResult result;
    File in;
    if (!in.openRead(input)) {
        showFileError(host, kMsgInputOpen, input, in.error());
        result.status = BatchScanResult::StopBatch;
        return result;
    }
    PacketGeometry g;
    if (!detectPacketGeometryLimited(in, g)) {
        result.status = BatchScanResult::NoPacketSize;
        return result;
    }
    const int64_t count = in.size() / g.size;

    OutputOptions indexOptions;
    indexOptions.input = input;
    OutputFile index;
    if (!index.create(indexPath, indexOptions)) {
        showOutputCreateError(host, indexPath, index.error());
        return result;
    }
    BufferedTextWriter writer(index.file());
    ScanRun run{in, &writer, host, g, count, renumber, true};
    run.inputPath = input;
    run.indexPath = indexPath;
    run.indexFile = &index.file();
    run.inputIdentity = identityOf(in);
    const ScanStatus status = scanAndWrite(run, &index, 0xFFFF);
    host.setTitle("Input");
    if (status == ScanStatus::Cancelled) {
        // The partly written index goes with its temporary file.
        index.discard();
        result.status = BatchScanResult::Cancelled;
        return result;
    }
    result.status = status == ScanStatus::Ok ? BatchScanResult::Done : BatchScanResult::Failed;
    return result;
}

bool obtainGopList(EditState& state, JobHost& host, bool listWithoutIndex, ScanReport* report) {
    const std::string indexPath = gopIndexPath(state.inputPath, state.settings.selGop == 1, state.settings.gopFolder);
    auto inTime = lastWriteTime(state.inputPath);
    auto idxTime = lastWriteTime(indexPath);
    ScanOptions opt;
    // A stale or missing index is rebuilt without asking.
    opt.staleCheckAndLoad = inTime && idxTime && *inTime < *idxTime;
    opt.listWithoutIndex = listWithoutIndex;
    state.inMark = -1;
    state.outMark = -1;
    state.gopList.clear();
    ScanReport local;
    return loadOrScan(state, host, opt, report ? *report : local);
}

}  // namespace tavrel
