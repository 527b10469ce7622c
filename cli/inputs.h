// Checks and notes about the files the commands are given, and the clean-up
// of unfinished outputs when the process is interrupted.
#pragma once

#include <string>

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

// SIGINT, SIGTERM and SIGHUP remove every output still under its temporary
// name, then end the process by the signal itself (status 128 + signal).
void installInterruptCleanup();

}  // namespace tavrel::cli
