// The operation log: a small timestamped text file for timing a batch run,
// written only when DEBUG/CHK is non-zero. There is one log per process at a
// time; its lines may come from any thread.
#pragma once

#include <chrono>
#include <string>

namespace tavrel {

// "FOLDER/BASE_YYYYMMDDhhmm.txt" for the local time at.
std::string operationLogPath(const std::string& folder, const std::string& base,
                             std::chrono::system_clock::time_point at);

// Starts the log. With enabled false nothing else happens and the later
// calls do nothing. Otherwise the file named for the local time now is
// created afresh (a file of that name is replaced, never written through)
// and gets the line "Start". An empty folder, or a file that cannot be
// created, leaves the log closed: the later calls then do nothing. True when
// the file is open.
bool logStart(const std::string& folder, const std::string& base, bool enabled,
              std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
// One line "hh:mm:ss:mmm > TEXT" ended by CR LF, with the local time now,
// in one write; lines of several threads never mix.
void logWrite(const std::string& text);
// The line "End", then the file is closed.
void logEnd();
// The file the log writes to, "" while none is open.
std::string logFilePath();

}  // namespace tavrel
