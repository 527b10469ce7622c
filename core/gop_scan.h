// The GOP scan: loads a recording's GOP index file or reads the recording
// and writes one, filling the GOP list.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "edit_state.h"
#include "gop.h"
#include "host.h"

namespace tavrel {

struct ScanOptions {
    // Ask whether a stale index file is to be rebuilt, then try to load it.
    // The CLI's "index" command turns both off for a fresh scan.
    bool staleCheckAndLoad = true;
    // When the index file cannot be created (a read-only folder), scan all
    // the same and keep the GOP list in memory only. Without this the scan
    // fails with "Output ファイルオープンエラー".
    bool listWithoutIndex = false;
};

// What became of the index file.
struct ScanReport {
    std::string indexPath;
    bool loaded = false;      // the list came from the index file
    bool indexSaved = false;  // a new index file is in place
    int indexError = 0;       // why none could be created (listWithoutIndex)
};

// Main variant ("Get GOP"), the job itself: resets the marks, empties the
// list, then loads or scans. It sets no busy state and starts no thread: the
// caller disables its controls, runs it on the thread it chooses and calls
// finishGopScan with the result once it has ended. Returns true when the
// list was loaded or a scan ran to the end of the file. An index file is
// loaded only when it fits the recording (gopIndexFitsRecording); otherwise
// the recording is scanned. A new index is written under a temporary name
// and renamed into place only when the scan succeeded, so a failed or
// interrupted scan leaves the old index (or none) behind.
bool runGopScanJob(EditState& state, JobHost& host, const ScanOptions& opt = {}, ScanReport* report = nullptr);

// The window's side once the job has ended (on the caller's thread): the
// preview's packet size, the time label, the slider, the controls enabled
// again, then navigation off after a failure, or the labels, the preview and
// the slider focus after a success.
void finishGopScan(EditState& state, JobHost& host, bool ok);

// All of it in line: busy on, the job, the finish. For the CLI and tests.
bool runGopScan(EditState& state, JobHost& host, const ScanOptions& opt = {}, ScanReport* report = nullptr);

// True when a loaded index can describe a recording of recordingSize bytes:
// it has its LAST, PID_VIDEO and TSPAC_TYPE lines, LAST (low 32 bits, as
// written) is the packet count of the recording, and the GOP packet numbers
// rise strictly from 0 or more to below LAST.
bool gopIndexFitsRecording(const GopIndexContent& content, int64_t recordingSize);

// Decodes the 25-bit GOP time code from the four bytes after 00 00 01 B8.
void decodeGopTimeCode(const uint8_t* p, int& h, int& m, int& s, int& pictures);

struct BatchScanResult {
    enum Status { Done, Failed, Cancelled, StopBatch, NoPacketSize } status = Failed;
};

// Batch variant for one recording: no stale check and no load, geometry from
// the limited detection, no GOP list. StopBatch means the input could not be
// opened (the whole batch stops); NoPacketSize that no packet size was found
// (nothing written, no message: the input list marks the entry failed and
// goes on); Failed that the index could not be created, written or
// committed, or the recording could not be read (a message was shown, no
// index is left); Cancelled that the host's cancel flag was seen and the
// partial index was removed.
BatchScanResult runBatchGopScan(const std::string& input, const std::string& indexPath, bool renumber, JobHost& host);

// Index path for the batch variant: the GOP folder must exist as a directory.
std::string batchGopIndexPath(const std::string& recording, bool useGopFolder, const std::string& gopFolder);

// Loads the GOP list of a recording when a fresh index exists, else scans it
// and writes the index: what the tools do before they use a GOP list. No
// stale question is asked: a stale index is rebuilt.
bool obtainGopList(EditState& state, JobHost& host, bool listWithoutIndex = false, ScanReport* report = nullptr);

}  // namespace tavrel
