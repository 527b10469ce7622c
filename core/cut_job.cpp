#include "cut_job.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <vector>

#include "edit_state.h"
#include "file.h"
#include "host.h"
#include "ts_packet.h"

namespace tavrel {

namespace {

constexpr const char* kLastTimeCode = "LAST       ";

bool sameCanonicalPath(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    const auto ca = std::filesystem::weakly_canonical(std::filesystem::path(a), ec1);
    const auto cb = std::filesystem::weakly_canonical(std::filesystem::path(b), ec2);
    if (ec1 || ec2) return a == b;
    return ca == cb;
}

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
        return true;
    }

    void setClipCount(int32_t n) { m_clips = n; }

    // One clip; failures are reported here and counted on the job.
    void writeClipRange(const std::string& source, int64_t start, int64_t end, int32_t k);

private:
    void fail(const char* text) {
        m_host.showMessage("error", text, MsgKind::Ok);
        m_job.errorCount.fetch_add(1);
    }
    bool appendRun();
    bool flushOutput();
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
    size_t m_outLen = 0;
    const uint8_t* m_runBegin = nullptr;  // kept units not yet copied out
    const uint8_t* m_runEnd = nullptr;
    std::vector<int32_t> m_pendingProgress;
};

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
        fail("書き込みエラー");
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

void CutRun::processBlock(uint8_t* block, int64_t bytes, int64_t b, int64_t start, int64_t end,
                          int32_t k) {
    const int32_t P = m_geo.size;
    const int64_t units = bytes / P;
    if (units <= 0) return;
    int64_t lo = std::max<int64_t>(0, start - b);
    int64_t hi = std::min<int64_t>(units - 1, end - b);
    int64_t kept = 0;
    for (int64_t i = lo; i <= hi; ++i) {
        uint8_t* unit = block + i * P;
        if (m_filter.active && !isSelectedPid(unit, m_geo, m_filter)) continue;
        if (m_rewriteTc) rewriteGopTimeCode(unit, m_geo, m_job.timeCode);
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

void CutRun::writeClipRange(const std::string& source, int64_t start, int64_t end, int32_t k) {
    m_geo = m_state.geometry;
    const int32_t P = m_geo.size;
    if (start > end) return fail("パケットの範囲指定が終了位置より開始位置の方が大きくなっています");
    if (source.empty()) return fail("入力ファイルがありません");
    if (P < 1 || P > 1000) return fail("パケットサイズは１～１０００に設定してください");
    if (P <= m_geo.headerSize) return fail("パケットヘッダサイズが不正です");

    File src;
    if (!src.openRead(source)) return fail("Input ファイルオープンエラー");

    const Settings& st = m_state.settings;
    const bool out188 = st.out188 != 0 && P == 192;
    if (k != 1 && st.adjustPcr == 1) {
        const int64_t moved = findPcrBackward(src, start, P, 2);
        if (moved > 0) start = moved;
    }
    if (k != 1 && st.addAcp != 0) {
        if (auto head = collectClipHeadPackets(src, start, P)) {
            uint8_t bytes[3 * 256];
            const size_t n = layoutClipHead(*head, P, out188, bytes);
            if (!m_out.writeAll(bytes, n)) return fail("書き込みエラー");
        }
    }

    const int64_t size = src.size();
    const int64_t count = size > 0 ? size / P : 0;
    const int64_t N = CutJob::kPacketsPerRead;
    const int64_t blockBytes = N * P;
    if (static_cast<size_t>(blockBytes) > CutJob::kReadBufferSize)
        return fail("リードバッファがオーバーフローしました。");

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
            if (!src.seek(b * P)) return fail("ファイルシークエラー");
            positioned = true;
        }
        if (chunkPos >= chunkGot) {
            if (!flushOutput()) return;
            const int64_t want = std::min<int64_t>(chunkBlocks, (end - b) / N + 1);
            const int64_t got = src.read(rbuf, static_cast<size_t>(want * blockBytes));
            if (got < 0) return fail("ファイルリードエラー");
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
        MsgResult r = host.showMessage("question", "既にファイルが存在しています。\r\n上書きを行いますか？",
                                       MsgKind::YesNo);
        if (r != kResultYes) return false;
    }
    state.settings.out188 = out188Checked ? 1 : 0;
    job.wait();
    try {
        job.worker = std::thread([&state, &host, &job] { runCutJob(state, host, job); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

CutOutcome runCutJob(EditState& state, JobHost& host, CutJob& job) {
    job.running = true;
    job.errorCount = 0;
    job.failedClips = 0;
    job.elapsedMs = 0;
    host.setBusy(true);
    const auto startTick = std::chrono::steady_clock::now();

    CutOutcome outcome = CutOutcome::Completed;
    File out;
    if (outputIsClipSource(state)) {
        host.showMessage("error", "出力ファイルが入力ファイルと同じです", MsgKind::Ok);
        outcome = CutOutcome::Refused;
    } else if (!out.create(state.outputPath)) {
        host.showMessage("error", "Output ファイルオープンエラー", MsgKind::Ok);
        outcome = CutOutcome::OutputCreateFailed;
    } else {
        CutRun run(state, host, job, out);
        if (!run.allocate()) {
            outcome = CutOutcome::AllocationFailed;
        } else {
            const auto clips = static_cast<int32_t>(state.clipList.count());
            run.setClipCount(clips);
            host.setProgressRange(clips * 100);
            host.setProgress(0);
            job.timeCode = TimeCodeCounter{};
            int32_t k = 1;
            for (const Clip& c : state.clipList.clips) {
                const int64_t end = c.outTimeCode == kLastTimeCode ? c.endPacket : c.endPacket - 1;
                run.writeClipRange(c.sourcePath, c.startPacket, end, k++);
                if (job.errorCount != 0) break;
            }
            if (state.settings.sound != 0) host.playSound(state.settings.soundPath);
            job.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - startTick)
                                .count();
            if (job.errorCount == 0 && state.settings.outTime != 0)
                host.showMessage("Info", elapsedTimeText(job.elapsedMs), MsgKind::Ok);
            if (job.errorCount != 0) outcome = CutOutcome::ClipFailed;
        }
    }

    out.close();
    host.setProgress(0);
    host.setBusy(false);
    host.setTitle("Tavrel Cutter");
    job.failedClips = job.errorCount;
    job.outcome = outcome;
    job.running = false;
    job.errorCount = 0;
    return outcome;
}

}  // namespace tavrel
