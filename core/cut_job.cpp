#include "cut_job.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <vector>

#include "clean_join.h"
#include "edit_state.h"
#include "file.h"
#include "host.h"
#include "output_file.h"
#include "printable_name.h"
#include "ts_packet.h"

namespace tavrel {

namespace {

constexpr const char* kLastTimeCode = "LAST       ";
constexpr const char* kMsgMixedSizes = "パケットサイズの異なるファイルは結合できません";

// The geometry a clip is read with: its own recording's.
PacketGeometry clipGeometry(const EditState& state, const Clip& c) {
    return c.geometry.size != 0 ? c.geometry : state.geometry;
}

// Last packet copied (inclusive): the LAST entry's packet count is already
// one past the end of the file.
int64_t clipEnd(const Clip& c) { return c.outTimeCode == kLastTimeCode ? c.endPacket : c.endPacket - 1; }

// Clips of recordings with different packet sizes can only be joined as
// 188-byte packets, which needs "188 out" and 188/192-byte recordings.
const Clip* clipOfOtherSize(const EditState& state) {
    if (state.clipList.empty()) return nullptr;
    const int32_t first = clipGeometry(state, state.clipList.clips.front()).size;
    const bool joinAs188 = state.settings.out188 != 0;
    for (const Clip& c : state.clipList.clips) {
        const int32_t size = clipGeometry(state, c).size;
        if (size == first) continue;
        if (joinAs188 && (size == 188 || size == 192) && (first == 188 || first == 192)) continue;
        return &c;
    }
    return nullptr;
}

bool sameCanonicalPath(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    const auto ca = std::filesystem::weakly_canonical(std::filesystem::path(a), ec1);
    const auto cb = std::filesystem::weakly_canonical(std::filesystem::path(b), ec2);
    if (ec1 || ec2) return a == b;
    return ca == cb;
}

// A cut output may be a FIFO or device (a stream), and like cp it leaves
// flushing to the system: outputs are large.
OutputOptions cutOutputOptions() {
    OutputOptions o;
    o.stream = true;
    o.sync = false;
    return o;
}

// Clean joins: packets read around each clip's edges. The head tells the
// kinds of the streams that run on into the clip, the tail (scanned back in
// stretches until every cut-off PES has its start) and the packets after
// the end tell which PES the clip cuts off.
constexpr int64_t kHeadScan = 4096;
constexpr int64_t kTailStretch = 4096;
constexpr int64_t kTailLimit = int64_t{1} << 18;
constexpr int64_t kAfterScan = 4096;

struct CleanJoinWork {
    EdgeScan scan;
    CleanJoin join;
};

// Unaligned work buffer without the zero fill of a std::vector<uint8_t>.
struct Buffer {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
    bool allocate(size_t n) {
        data.reset(new (std::nothrow) uint8_t[n]);
        size = data ? n : 0;
        return data != nullptr;
    }
};

class CutRun {
public:
    CutRun(EditState& s, JobHost& h, CutJob& j, File& out) : m_state(s), m_host(h), m_job(j), m_out(out) {}

    bool allocate() {
        const int32_t blocks = std::max<int32_t>(1, m_job.blocksPerCall);
        m_chunkCapacity = static_cast<size_t>(blocks) * CutJob::kReadBufferSize;
        // The slack keeps any look past the last unit inside the buffer.
        if (!m_read.allocate(m_chunkCapacity + 512)) return false;
        if (!m_write.allocate(m_chunkCapacity + 512)) return false;
        std::memset(m_read.data.get(), 0, m_read.size);
        if (m_state.settings.cleanJoin != 0) {
            m_clean.reset(new (std::nothrow) CleanJoinWork);
            if (!m_clean) return false;
            m_join = &m_clean->join;
        }
        return true;
    }

    void setClipCount(int32_t n) { m_clips = n; }

    // False (reported) when a clip's recording was replaced or rewritten
    // since checkClip saw it: what was copied may be of either file.
    bool sourcesUnchanged();
    int64_t packetsWithoutSync() const { return m_missingSync; }

    // The checks that can refuse a clip, run for every clip before the
    // output is created. Reports and counts a failure; false then.
    bool checkClip(const Clip& c);
    // One clip; failures are reported here and counted on the job.
    // packetsNeeded: the packet count the clip's GOP list promised.
    void writeClipRange(const std::string& source, const PacketGeometry& geo, int64_t start, int64_t end,
                        int64_t packetsNeeded, int32_t k);

private:
    void fail(const char* text) {
        m_host.showMessage("error", text, MsgKind::Ok);
        m_job.errorCount.fetch_add(1);
    }
    void failFile(const char* text, const std::string& path, int err) {
        m_host.showFileError(text, path, err);
        m_job.errorCount.fetch_add(1);
    }
    bool rememberSource(const std::string& path, const File& src);
    bool appendRun();
    bool flushOutput();
    template <typename Fn>
    bool readStretch(File& src, int64_t first, int64_t last, bool backwards, Fn fn);
    bool planClipEdges(File& src, const std::string& source, int64_t start, int64_t end);
    void cleanClipHead(const ClipHeadPackets& head, uint8_t* bytes, size_t n);
    void processBlock(uint8_t* block, int64_t bytes, int64_t b, int64_t start, int64_t end, int32_t k);
    void reportProgress(int64_t aLast, int64_t start, int64_t end, int32_t k);

    EditState& m_state;
    JobHost& m_host;
    CutJob& m_job;
    File& m_out;
    Buffer m_read;
    Buffer m_write;
    size_t m_chunkCapacity = 0;
    int32_t m_clips = 1;
    int32_t m_position = 0;

    // Per clip.
    PacketGeometry m_geo;
    PidFilter m_filter;
    bool m_strip = false;
    bool m_rewriteTc = false;
    CleanJoin* m_join = nullptr;  // clean joins on
    std::unique_ptr<CleanJoinWork> m_clean;
    size_t m_outLen = 0;
    const uint8_t* m_runBegin = nullptr;  // kept units not yet copied out
    const uint8_t* m_runEnd = nullptr;
    std::vector<int32_t> m_pendingProgress;
    int64_t m_missingSync = 0;
    std::vector<std::pair<std::string, FileIdentity>> m_sources;
};

// Keeps the identity of a clip's recording as the checks saw it (once per
// recording).
bool CutRun::rememberSource(const std::string& path, const File& src) {
    for (const auto& known : m_sources)
        if (known.first == path) return true;
    const auto id = identityOf(src);
    if (id) m_sources.emplace_back(path, *id);
    return id.has_value();
}

bool CutRun::sourcesUnchanged() {
    for (const auto& [path, id] : m_sources) {
        if (!unchangedSince(path, id)) {
            failFile(kMsgRead, path, kErrChanged);
            return false;
        }
    }
    return true;
}

bool CutRun::appendRun() {
    if (m_runBegin == m_runEnd) return true;
    const size_t n = static_cast<size_t>(m_runEnd - m_runBegin);
    std::memcpy(m_write.data.get() + m_outLen, m_runBegin, n);
    m_outLen += n;
    m_runBegin = m_runEnd = nullptr;
    return true;
}

// Writes what the blocks read so far kept (in one call), then shows their
// progress. A single run of untouched units goes out straight from the
// read buffer.
bool CutRun::flushOutput() {
    bool ok = true;
    if (m_outLen == 0 && m_runBegin != m_runEnd) {
        ok = m_out.writeAll(m_runBegin, static_cast<size_t>(m_runEnd - m_runBegin));
        m_runBegin = m_runEnd = nullptr;
    } else {
        appendRun();
        if (m_outLen > 0) ok = m_out.writeAll(m_write.data.get(), m_outLen);
    }
    m_outLen = 0;
    if (!ok) {
        m_pendingProgress.clear();
        failFile(kMsgWrite, m_state.outputPath, m_out.error());
        return false;
    }
    for (int32_t pos : m_pendingProgress) {
        if (pos == m_position) continue;
        m_position = pos;
        m_host.setProgress(pos);
        char title[32];
        std::snprintf(title, sizeof title, "%d％", pos / m_clips);
        m_host.setTitle(title);
    }
    m_pendingProgress.clear();
    return true;
}

void CutRun::reportProgress(int64_t aLast, int64_t start, int64_t end, int32_t k) {
    int64_t p = 100;
    if (end != start) p = (aLast - start) * 100 / (end - start);
    // The last block of a clip usually reaches past its end; the bar stops
    // at the clip's 100 %.
    if (p > 100) p = 100;
    if (p < 0) p = 0;
    m_pendingProgress.push_back(static_cast<int32_t>((k - 1) * 100 + p));
}

void CutRun::processBlock(uint8_t* block, int64_t bytes, int64_t b, int64_t start, int64_t end, int32_t k) {
    const int32_t P = m_geo.size;
    const int64_t units = bytes / P;
    if (units <= 0) return;
    int64_t lo = std::max<int64_t>(0, start - b);
    int64_t hi = std::min<int64_t>(units - 1, end - b);
    int64_t kept = 0;
    for (int64_t i = lo; i <= hi; ++i) {
        uint8_t* unit = block + i * P;
        if (m_filter.active && !isSelectedPid(unit, m_geo, m_filter)) continue;
        if (m_join && unit[m_geo.syncOffset] == 0x47 && !m_join->passPacket(unit + m_geo.syncOffset, b + i)) continue;
        if (m_rewriteTc) rewriteGopTimeCode(unit, m_geo, m_job.timeCode);
        if (unit[m_geo.syncOffset] != 0x47) ++m_missingSync;
        ++kept;
        if (m_strip) {
            std::memcpy(m_write.data.get() + m_outLen, unit + 4, 188);
            m_outLen += 188;
        } else if (m_runEnd == unit && m_runBegin != nullptr) {
            m_runEnd += P;
        } else {
            appendRun();
            m_runBegin = unit;
            m_runEnd = unit + P;
        }
    }
    if (kept > 0) reportProgress(b + units - 1, start, end, k);
}

// Reads units first..last (inclusive) into the read buffer in pieces that
// fit it, the pieces from the last back when backwards, and hands each to
// fn(units, count, first packet number), which returns false to stop. A
// recording that ends early ends the stretch there; the copy reports it.
template <typename Fn>
bool CutRun::readStretch(File& src, int64_t first, int64_t last, bool backwards, Fn fn) {
    const int32_t P = m_geo.size;
    const int64_t piece = std::max<int64_t>(1, static_cast<int64_t>(m_chunkCapacity) / P);
    uint8_t* buf = m_read.data.get();
    for (int64_t done = 0; done < last - first + 1;) {
        const int64_t n = std::min(piece, last - first + 1 - done);
        const int64_t from = backwards ? last - done - n + 1 : first + done;
        if (!src.seek(from * P)) return false;
        const int64_t got = src.read(buf, static_cast<size_t>(n * P));
        if (got < 0) return false;
        const int64_t units = got / P;
        if (units > 0 && !fn(buf, units, from)) return true;
        if (units < n) return true;
        done += n;
    }
    return true;
}

// Clean joins: scans the clip's edges and starts its edge plan, before the
// clip-head packets and the copy. False (reported) when a read fails.
bool CutRun::planClipEdges(File& src, const std::string& source, int64_t start, int64_t end) {
    EdgeScan& scan = m_clean->scan;
    scan.clear();
    const int64_t count = src.size() / m_geo.size;
    const int64_t last = std::min(end, count - 1);
    auto kinds = [&](const uint8_t* u, int64_t n, int64_t) {
        scan.learnKinds(u, n, m_geo);
        return true;
    };
    auto tail = [&](const uint8_t* u, int64_t n, int64_t first) {
        scan.learnKinds(u, n, m_geo);
        scan.scanTail(u, n, m_geo, first);
        return true;
    };
    auto after = [&](const uint8_t* u, int64_t n, int64_t first) {
        scan.learnKinds(u, n, m_geo);
        return !scan.scanAfterEnd(u, n, m_geo, first + n >= count);
    };
    bool ok = readStretch(src, start, std::min(last, start + kHeadScan - 1), false, kinds);
    int64_t tailStart = last + 1;
    bool afterScanned = false;
    while (ok && tailStart > start) {
        const int64_t hi = tailStart - 1;
        tailStart = std::max(start, hi - kTailStretch + 1);
        ok = readStretch(src, tailStart, hi, true, tail);
        if (ok && !afterScanned) {
            afterScanned = true;
            if (last + 1 >= count)
                scan.scanAfterEnd(nullptr, 0, m_geo, true);
            else
                ok = readStretch(src, last + 1, std::min(count - 1, last + kAfterScan), false, after);
        }
        if (last - tailStart + 1 >= kTailLimit || !scan.needsEarlierTail()) break;
    }
    if (!ok) {
        failFile(kMsgRead, source, src.error());
        return false;
    }
    m_join->beginClip(scan, start, tailStart);
    return true;
}

// Clean joins: the clip-head packets keep their PCRs and carry on the
// counters, without the pieces of PES they hold.
void CutRun::cleanClipHead(const ClipHeadPackets& head, uint8_t* bytes, size_t n) {
    const size_t unit = n / 3;
    const ClipHeadPackets::Unit* units[3] = {&head.pat, &head.earlierPcr, &head.nearerPcr};
    for (size_t i = 0; i < 3; ++i) {
        const size_t at = unit == 188 ? 0 : unit == 192 ? 4 : static_cast<size_t>(units[i]->sync);
        uint8_t* p = bytes + i * unit + at;
        if (p[0] == 0x47) m_join->passHeadPacket(p);
    }
}

bool CutRun::checkClip(const Clip& c) {
    const PacketGeometry geo = clipGeometry(m_state, c);
    const int32_t P = geo.size;
    const int64_t start = c.startPacket;
    const int64_t end = clipEnd(c);
    const int32_t errorsBefore = m_job.errorCount;
    if (start > end)
        fail("パケットの範囲指定が終了位置より開始位置の方が大きくなっています");
    else if (c.sourcePath.empty())
        fail("入力ファイルがありません");
    else if (P < 1 || P > 1000)
        fail("パケットサイズは１～１０００に設定してください");
    else if (P <= geo.headerSize)
        fail("パケットヘッダサイズが不正です");
    else {
        File src;
        if (!src.openRead(c.sourcePath)) {
            failFile(kMsgInputOpen, c.sourcePath, src.error());
        } else if (!rememberSource(c.sourcePath, src)) {
            failFile(kMsgInputOpen, c.sourcePath, src.error());
        } else if (static_cast<size_t>(CutJob::kPacketsPerRead) * static_cast<size_t>(P) > CutJob::kReadBufferSize) {
            fail("リードバッファがオーバーフローしました。");
        } else if (c.endPacket > src.size() / P) {
            // The recording is shorter than the GOP list it was cut from.
            failFile(kMsgRead, c.sourcePath, 0);
        }
    }
    return m_job.errorCount == errorsBefore;
}

void CutRun::writeClipRange(const std::string& source, const PacketGeometry& geo, int64_t start, int64_t end,
                            int64_t packetsNeeded, int32_t k) {
    m_geo = geo;
    const int32_t P = m_geo.size;
    File src;
    if (!src.openRead(source)) return failFile(kMsgInputOpen, source, src.error());

    const Settings& st = m_state.settings;
    const bool out188 = st.out188 != 0 && P == 192;
    if (k != 1 && st.adjustPcr == 1) {
        const int64_t moved = findPcrBackward(src, start, P, 2);
        if (moved > 0) start = moved;
    }
    if (m_join && !planClipEdges(src, source, start, end)) return;
    if (k != 1 && st.addAcp != 0) {
        if (auto head = collectClipHeadPackets(src, start, P)) {
            uint8_t bytes[3 * 256];
            const size_t n = layoutClipHead(*head, P, out188, bytes);
            if (m_join) cleanClipHead(*head, bytes, n);
            if (!m_out.writeAll(bytes, n)) return failFile(kMsgWrite, m_state.outputPath, m_out.error());
        }
    }

    const int64_t size = src.size();
    const int64_t count = size > 0 ? size / P : 0;
    // The recording lost packets since the clip was made.
    if (count < packetsNeeded) return failFile(kMsgRead, source, 0);
    const int64_t N = CutJob::kPacketsPerRead;
    const int64_t blockBytes = N * P;

    m_filter = st.selectPid != 0 ? makePidFilter(m_state.pidList) : PidFilter{};
    m_strip = out188;
    m_rewriteTc = st.rewriteTc != 0;
    m_outLen = 0;
    m_runBegin = m_runEnd = nullptr;
    m_pendingProgress.clear();

    const int64_t chunkBlocks = static_cast<int64_t>(m_chunkCapacity / CutJob::kReadBufferSize);
    uint8_t* rbuf = m_read.data.get();
    int64_t chunkGot = 0;
    int64_t chunkPos = 0;
    bool positioned = false;
    for (int64_t b = 0; b < count + N; b += N) {
        if (b > count) b = count;
        if (!(b + N >= start && b <= end)) continue;
        if (!positioned) {
            if (!src.seek(b * P)) return failFile("ファイルシークエラー", source, src.error());
            positioned = true;
        }
        if (chunkPos >= chunkGot) {
            if (!flushOutput()) return;
            const int64_t want = std::min<int64_t>(chunkBlocks, (end - b) / N + 1);
            const int64_t got = src.read(rbuf, static_cast<size_t>(want * blockBytes));
            if (got < 0) return failFile(kMsgRead, source, src.error());
            // Less than the packets the size promised: the recording shrank
            // while it was being cut.
            const int64_t expected = std::min<int64_t>(want * blockBytes, (count - b) * P);
            if (got < expected) return failFile(kMsgRead, source, 0);
            if (got == 0) break;
            // Keep the bytes after the data zero, as a cleared buffer would be.
            std::memset(rbuf + got, 0, 512);
            chunkGot = got;
            chunkPos = 0;
        }
        const int64_t bytes = std::min<int64_t>(blockBytes, chunkGot - chunkPos);
        processBlock(rbuf + chunkPos, bytes, b, start, end, k);
        chunkPos += bytes;
    }
    flushOutput();
}

}  // namespace

std::string elapsedTimeText(int64_t ms) {
    char text[96];
    std::snprintf(text, sizeof text, "経過時間：%02d:%02d:%02d (H:M:S)", static_cast<int>(ms / 3600000),
                  static_cast<int>((ms / 60000) % 60), static_cast<int>((ms / 1000) % 60));
    return text;
}

bool outputIsClipSource(const EditState& state) {
    struct stat out;
    const bool outExists = ::stat(state.outputPath.c_str(), &out) == 0;
    for (const Clip& c : state.clipList.clips) {
        struct stat in;
        if (outExists) {
            if (::stat(c.sourcePath.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
                return true;
        } else if (sameCanonicalPath(state.outputPath, c.sourcePath)) {
            return true;
        }
    }
    return false;
}

bool startCutJob(EditState& state, JobHost& host, bool out188Checked, CutJob& job) {
    if (state.clipList.empty()) {
        host.showMessage("error", "Clip List に登録して下さい", MsgKind::Ok);
        return false;
    }
    if (state.outputPath.empty()) {
        host.showMessage("error", "出力ファイル名を設定して下さい", MsgKind::Ok);
        return false;
    }
    if (outputIsClipSource(state)) {
        host.showMessage("error", "出力ファイルが入力ファイルと同じです", MsgKind::Ok);
        return false;
    }
    if (fileExists(state.outputPath) && !isDirectory(state.outputPath)) {
        MsgResult r =
            host.showMessage("question", "既にファイルが存在しています。\r\n上書きを行いますか？", MsgKind::YesNo);
        if (r != kResultYes) return false;
    }
    state.settings.out188 = out188Checked ? 1 : 0;
    job.running = true;
    return true;
}

void finishCutJob(JobHost& host, CutJob& job) {
    host.setBusy(false);
    host.setTitle("Tavrel Cutter");
    job.running = false;
}

CutOutcome runCutJobInline(EditState& state, JobHost& host, bool out188Checked, CutJob& job) {
    if (!startCutJob(state, host, out188Checked, job)) return CutOutcome::NotRun;
    host.setBusy(true);
    const CutOutcome outcome = runCutJob(state, host, job);
    finishCutJob(host, job);
    return outcome;
}

CutOutcome runCutJob(EditState& state, JobHost& host, CutJob& job) {
    job.running = true;
    job.errorCount = 0;
    job.failedClips = 0;
    job.elapsedMs = 0;
    const auto startTick = std::chrono::steady_clock::now();

    // Everything that can refuse the job is checked before the output is
    // created; the output is written under a temporary name and takes the
    // place of an existing file only when every clip has been copied.
    CutOutcome outcome = CutOutcome::Completed;
    OutputFile out;
    CutRun run(state, host, job, out.file());
    const auto clips = static_cast<int32_t>(state.clipList.count());
    if (outputIsClipSource(state)) {
        host.showMessage("error", "出力ファイルが入力ファイルと同じです", MsgKind::Ok);
        outcome = CutOutcome::Refused;
    } else if (const Clip* other = clipOfOtherSize(state)) {
        host.showFileError(kMsgMixedSizes, other->sourcePath, 0);
        outcome = CutOutcome::Refused;
    } else if (!std::all_of(state.clipList.clips.begin(), state.clipList.clips.end(),
                            [&run](const Clip& c) { return run.checkClip(c); })) {
        outcome = CutOutcome::ClipFailed;
    } else if (!out.create(state.outputPath, cutOutputOptions())) {
        showOutputCreateError(host, state.outputPath, out.error());
        outcome = CutOutcome::OutputCreateFailed;
    } else if (!run.allocate()) {
        outcome = CutOutcome::AllocationFailed;
    } else {
        run.setClipCount(clips);
        host.setProgressRange(clips * 100);
        host.setProgress(0);
        job.timeCode = TimeCodeCounter{};
        int32_t k = 1;
        for (const Clip& c : state.clipList.clips) {
            run.writeClipRange(c.sourcePath, clipGeometry(state, c), c.startPacket, clipEnd(c), c.endPacket, k++);
            if (job.errorCount != 0) break;
        }
        if (job.errorCount == 0 && !run.sourcesUnchanged()) out.discard();
        if (job.errorCount == 0 && !out.commit()) {
            host.showFileError(kMsgWrite, state.outputPath, out.error());
            job.errorCount.fetch_add(1);
        }
        if (job.errorCount != 0) out.discard();
        if (job.errorCount == 0 && run.packetsWithoutSync() > 0)
            host.showNote(std::to_string(run.packetsWithoutSync()) +
                          " packets copied without a sync byte: " + printableName(state.outputPath));
        if (state.settings.sound != 0) host.playSound(state.settings.soundPath);
        job.elapsedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startTick).count();
        if (job.errorCount == 0 && state.settings.outTime != 0)
            host.showMessage("Info", elapsedTimeText(job.elapsedMs), MsgKind::Ok);
        if (job.errorCount != 0) outcome = CutOutcome::ClipFailed;
    }

    out.discard();
    host.setProgress(0);
    job.failedClips = job.errorCount;
    job.outcome = outcome;
    job.errorCount = 0;
    return outcome;
}

}  // namespace tavrel
