#include "input_walks.h"

#include <chrono>

#include "error_check.h"
#include "file.h"
#include "gop_scan.h"
#include "operation_log.h"

namespace tavrelcut {

namespace {

void setState(InputEntry& e, int state, const WalkCallbacks& cb) {
    e.state = state;
    if (cb.statesChanged) cb.statesChanged();
}

// The state of an entry whose work ended without a result of its own.
int derivedState(const InputEntry& e, const IndexRule& rule) {
    if (!isExistingFile(e.path)) return kStateError;
    return entryIndexExists(e.path, rule) ? kStateIndexed : kStateNoIndex;
}

void cancelFrom(const InputEntries& entries, size_t i, const WalkCallbacks& cb) {
    resetPendingEntries(entries, i);
    if (cb.statesChanged) cb.statesChanged();
}

// What both walks do for every queued entry before its own work: the
// working state, and the checks that pass it over or end the walk.
enum class Next { Work, PassOver, EndWalk };

Next beginEntry(InputEntry& e, const WalkCallbacks& cb) {
    setState(e, kStateWorking, cb);
    if (e.path.find('/') == std::string::npos) {
        setState(e, kStateError, cb);
        return Next::EndWalk;
    }
    return isExistingFile(e.path) ? Next::Work : Next::PassOver;
}

// The GOP scan of one entry; false when the walk is to end (end says how).
bool scanEntry(const InputEntries& entries, size_t i, const WalkSettings& s, tavrel::JobHost& host,
               const WalkCallbacks& cb, WalkEnd& end) {
    InputEntry& e = *entries[i];
    const std::string index = entryIndexPath(e.path, s.index);
    // Made meanwhile (by the main window, by another copy of the program):
    // kept as it is.
    if (tavrel::fileExists(index)) {
        setState(e, kStateIndexed, cb);
        return true;
    }
    switch (tavrel::runBatchGopScan(e.path, index, s.renumber, host).status) {
    case tavrel::BatchScanResult::Done: setState(e, kStateIndexed, cb); return true;
    case tavrel::BatchScanResult::NoPacketSize: setState(e, kStateError, cb); return true;
    case tavrel::BatchScanResult::StopBatch:
        setState(e, kStateError, cb);
        end = WalkEnd::Failed;
        return false;
    case tavrel::BatchScanResult::Cancelled:
        cancelFrom(entries, i, cb);
        end = WalkEnd::Cancelled;
        return false;
    case tavrel::BatchScanResult::Failed: break;
    }
    setState(e, derivedState(e, s.index), cb);
    return true;
}

}  // namespace

WalkEnd runGopWalk(const InputEntries& entries, const WalkSettings& s, tavrel::JobHost& host, const WalkCallbacks& cb) {
    const auto start = std::chrono::steady_clock::now();
    if (s.log) tavrel::logStart(s.logFolder, s.logBase, true);
    WalkEnd end = WalkEnd::Finished;
    for (size_t i = 0; i < entries.size(); ++i) {
        InputEntry& e = *entries[i];
        if (e.state != kStateQueued) continue;
        std::lock_guard<std::timed_mutex> hold(e.lock);
        const Next next = beginEntry(e, cb);
        if (next == Next::EndWalk) {
            end = WalkEnd::Failed;
            break;
        }
        if (next == Next::PassOver) continue;
        if (!scanEntry(entries, i, s, host, cb, end)) break;
    }
    if (s.log) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        tavrel::logWrite("\r\nEND : " + std::to_string(ms));
        tavrel::logEnd();
    }
    return end;
}

WalkEnd runCheckWalk(const InputEntries& entries, const WalkSettings& s, tavrel::JobHost& host,
                     const WalkCallbacks& cb) {
    for (size_t i = 0; i < entries.size(); ++i) {
        InputEntry& e = *entries[i];
        if (e.state != kStateQueued) continue;
        std::lock_guard<std::timed_mutex> hold(e.lock);
        const Next next = beginEntry(e, cb);
        if (next == Next::EndWalk) return WalkEnd::Failed;
        if (next == Next::PassOver) continue;
        const auto result = tavrel::checkTransportErrors(e.path, s.discontinuity, host);
        if (cb.checked) cb.checked(e.path);
        if (result.status == tavrel::ErrorCheckResult::Cancelled) {
            cancelFrom(entries, i, cb);
            return WalkEnd::Cancelled;
        }
        setState(e, derivedState(e, s.index), cb);
    }
    return WalkEnd::Finished;
}

}  // namespace tavrelcut
