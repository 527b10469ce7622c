// The transport error check: continuity-counter errors and discontinuity
// indicators of a whole recording, written to its error file (the recording's
// path plus "_err.bin"), and the error view's tree built from that file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "host.h"

namespace tavrel {

// The first 16 bytes of every error file.
inline constexpr char kErrorFileHeader[] = "TS Error Check\r\n";
inline constexpr size_t kErrorFileHeaderSize = 16;
inline constexpr size_t kErrorRecordSize = 16;

enum ErrorKind : uint8_t {
    kErrorDiscontinuity = 1,   // discontinuity_indicator set
    kErrorCounter = 2,         // continuity counter error
    kErrorCounterProgram = 3,  // the same, the PID last seen before a program change
};

// One event. On disk: SID, PMT PID, PID big-endian (2 bytes each), kind,
// counters (expected << 4 | found; 0 for kind 1), packet number 64-bit
// little-endian.
struct ErrorRecord {
    uint16_t sid = 0;
    uint16_t pmtPid = 0;
    uint16_t pid = 0;
    uint8_t kind = 0;
    uint8_t counters = 0;
    int64_t packet = 0;

    bool operator==(const ErrorRecord&) const = default;
};

void encodeErrorRecord(const ErrorRecord& r, uint8_t* out);
ErrorRecord decodeErrorRecord(const uint8_t* in);

std::string errorFilePath(const std::string& recording);

// The per-packet rules, with the check state of one file: the last counter
// and packet number of every PID and the current program (from the last PAT
// that changed it) with its change point.
class TransportErrorChecker {
public:
    explicit TransportErrorChecker(bool recordDiscontinuity);

    // p points at the sync byte of a 188-byte transport packet, number is its
    // packet number. A packet without 0x47 is ignored. Events found are
    // appended to out.
    void packet(const uint8_t* p, int64_t number, std::vector<ErrorRecord>& out);

    uint16_t sid() const { return m_sid; }
    uint16_t pmtPid() const { return m_pmtPid; }
    int64_t changePoint() const { return m_changePoint; }

private:
    void readPat(const uint8_t* p, int64_t number);

    bool m_discon;
    std::array<uint8_t, 8192> m_lastCc;
    std::array<int64_t, 8192> m_lastPacket;
    uint16_t m_sid = 0;
    uint16_t m_pmtPid = 0;
    int64_t m_changePoint = 0;
};

struct ErrorCheckResult {
    enum Status {
        Done,       // the whole file was checked and its error file is in place
        Skipped,    // no packet size found: nothing written, no message
        Failed,     // a message was shown
        Cancelled,  // the host asked to stop; no error file is left
    } status = Failed;
    std::string errorPath;
    int64_t packets = 0;
    std::array<int64_t, 4> counts{};  // records per kind (index 1..3)
};

// Checks one recording and writes its error file. Geometry comes from the
// limited detection. Progress goes to the host's title as "Input [%3d％]",
// "Input" once the file is done; the host's cancel flag is tested before
// every 100 packets. The error file is written under a temporary name and
// renamed into place once complete, so a failed check leaves the previous
// one (or none) and never a partial one; a cancelled check removes it.
ErrorCheckResult checkTransportErrors(const std::string& input, bool recordDiscontinuity, JobHost& host);

// Loading an error file.
enum class ErrorFileStatus { Ok, Missing, Unreadable, Malformed };

// Header and whole 16-byte records, or Malformed.
ErrorFileStatus parseErrorFile(std::span<const uint8_t> data, std::vector<ErrorRecord>& records);
// The first maxRecords records of the error file at path; *total gets the
// number the file holds. The header and the size are checked before
// anything is read. Unreadable with *err ENOMEM when the records cannot be
// held.
ErrorFileStatus loadErrorFile(const std::string& path, size_t maxRecords, std::vector<ErrorRecord>& records,
                              int64_t* total = nullptr, int* err = nullptr);

// The error view's tree in display order (depth first).
struct ErrorTreeItem {
    enum Kind : uint8_t { Root, Program, Pid, Event } kind = Root;  // also picks the colour
    int level = 0;                                                  // Root 0, program 1, PID 2, event 3
    std::string text;
    int64_t packet = 0;     // events: their packet; 0 for the others
    int64_t record = -1;    // events: index of their record
    bool expanded = false;  // root and program items are shown open
};

// "DI", "CC", "CC(*)" or "?".
const char* errorKindText(int kind);
// "SID [%4d] / PMT [0x%04X]", "0x%04X", "KIND DETAIL [PACKET]".
std::string errorEventText(const ErrorRecord& r);

// Root first; a program item whenever (SID, PMT PID) changes from the
// previous record (so a program that comes back gets a new item); under it
// one item per PID, records of a PID seen earlier in the same program item
// joining that PID's item.
std::vector<ErrorTreeItem> buildErrorTree(const std::vector<ErrorRecord>& records);

// Records a tree walk holds at most (28 bytes each).
inline constexpr size_t kErrorTreeHeldRecords = size_t{1} << 20;

// The tree of the error file at path, handed to emit item by item in
// buildErrorTree's order while the file is read, for files of any size.
// At most heldRecords records are held at a time: a program item with more
// is read again for each group of its PIDs that fits, and a PID with more
// alone is handed on as it is read. The header and the size are checked
// before the first item. Unreadable with *err after some items when a read
// fails or the file shrinks meanwhile; ENOMEM when the walk's memory cannot
// be had.
ErrorFileStatus walkErrorFileTree(const std::string& path, const std::function<void(const ErrorTreeItem&)>& emit,
                                  int* err = nullptr, size_t heldRecords = kErrorTreeHeldRecords);

}  // namespace tavrel
