// Checks and notes about the files the commands are given, and the clean-up
// of unfinished outputs when the process is interrupted.
#pragma once

#include <string>

#include "edit_state.h"
#include "gop_scan.h"
#include "terminal_host.h"

namespace tavrel::cli {

// True when path can be read as a recording. Otherwise reports why through
// host (the file and the system's reason): a folder, a FIFO or device, a
// file that cannot be opened, or a GOP index file given in place of its
// recording.
bool checkRecording(const std::string& path, TerminalHost& host);

// "note: no GOP index saved: PATH: REASON" when a scan kept its list in
// memory only because the index file could not be created.
void noteUnsavedIndex(const ScanReport& report, const std::string& recording, TerminalHost& host);

// "note: ファイルヘッダエラー: INDEX: index rebuilt" when the scan found an
// index file that was no GOP index and replaced it; without ": index
// rebuilt" when no new index was saved (the other lines say why). Nothing
// when the host saw no such index.
void noteBadIndex(const ScanReport& report, TerminalHost& host);

// The GOP list of state.inputPath as the tools get it: loaded when its index
// is fresh, else scanned (with a progress line) and kept in memory where
// the index cannot be written, with the note about it. Reports a failure
// (naming the file) and returns false when there is no GOP list or the list
// holds no GOP ("no GOP found").
// report (optional) says what became of the index file.
bool obtainToolGopList(EditState& state, TerminalHost& host, ScanReport* report = nullptr);

// True when gop is a GOP of the list (its LAST entry is none); otherwise
// reports the range there is.
bool gopInList(const EditState& state, int64_t gop, TerminalHost& host);

// SIGINT, SIGTERM and SIGHUP remove every output still under its temporary
// name, then end the process by the signal itself (status 128 + signal).
// SIGXFSZ is ignored: a write past the file-size limit fails with EFBIG.
void installInterruptCleanup();

}  // namespace tavrel::cli
