// The cut job: copies every clip of the clip list, in order, from its own
// recording into one output stream through the output rewrites.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "output_rewrite.h"

namespace tavrel {

class JobHost;
struct EditState;

enum class CutOutcome {
    NotRun,
    Completed,           // every clip copied
    Refused,             // the output is one of the clips' recordings
    OutputCreateFailed,  // "Output ファイルオープンエラー"
    AllocationFailed,    // work buffers not obtained
    ClipFailed,          // a clip reported its failure and the job stopped
};

struct CutJob {
    // Packets per block of the walk, and blocks moved per read/write call.
    static constexpr int32_t kPacketsPerRead = 100;
    static constexpr size_t kReadBufferSize = 22000;

    std::atomic<bool> running{false};
    std::atomic<int32_t> errorCount{0};
    TimeCodeCounter timeCode;
    // Result of the last run (kept after the clean-up clears the counters).
    CutOutcome outcome = CutOutcome::NotRun;
    int32_t failedClips = 0;
    int64_t elapsedMs = 0;
    // Blocks of kPacketsPerRead packets read and written per system call.
    int32_t blocksPerCall = 16;

    CutJob() = default;
    CutJob(const CutJob&) = delete;
    CutJob& operator=(const CutJob&) = delete;
};

// True when creating the output would empty the recording of a clip: the
// output exists and is the same file (device and inode), or it does not
// exist yet and its canonical path is a clip's.
bool outputIsClipSource(const EditState& state);

// "Clipping", on the caller's thread: checks the clip list and the output
// (refusing an output that is one of the recordings, asking before an
// existing file is overwritten) and takes the "188 out" box. Returns true
// when the copy is to run; job.running is then already set, so nothing
// sees the job idle before its thread starts. The caller sets busy, runs
// runCutJob on the thread it chooses and calls finishCutJob when it ends.
bool startCutJob(EditState& state, JobHost& host, bool out188Checked, CutJob& job);

// The copy: every clip into the output, with progress, the completion sound
// and the elapsed time. Sets no busy state and starts no thread.
CutOutcome runCutJob(EditState& state, JobHost& host, CutJob& job);

// Once runCutJob has returned, on the caller's thread: the controls back on,
// the title back, the job idle.
void finishCutJob(JobHost& host, CutJob& job);

// All of it in line (the CLI): the checks, then busy, the copy and the
// finish. Returns the outcome, NotRun when the checks stopped it.
CutOutcome runCutJobInline(EditState& state, JobHost& host, bool out188Checked, CutJob& job);

// "経過時間：%02d:%02d:%02d (H:M:S)"
std::string elapsedTimeText(int64_t elapsedMs);

}  // namespace tavrel
