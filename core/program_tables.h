// Program tables: the PIDs of the first program (PAT, PMT, PCR PID,
// elementary streams, NULL) read from a recording, named by stream type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tavrel {

class File;
class JobHost;
struct EditState;

enum ProgramKind : uint8_t {
    kKindPat = 0,  // also elementary streams of other types
    kKindNetwork = 1,
    kKindPmt = 2,
    kKindPcr = 3,
    kKindVideo = 4,
    kKindAudio = 5,
    kKindNull = 99,
};

struct ProgramEntry {
    uint8_t streamType = 0;
    uint8_t kind = 0;
    int32_t pid = 0;
    std::string name;
    int32_t selected = 1;
    int32_t minimum = 0;
};

struct StreamTypeInfo {
    const char* name;
    uint8_t kind;
    int32_t minimum;
};

// Name, kind and minimum flag of a PMT stream_type.
StreamTypeInfo streamTypeInfo(uint8_t streamType);

// A program list with the working state of one acquisition.
struct ProgramList {
    static constexpr size_t kSectionCapacity = 1100;
    static constexpr int kPacketLimit = 10000;

    std::vector<ProgramEntry> entries;

    uint8_t patSection[kSectionCapacity] = {};
    uint8_t pmtSection[kSectionCapacity] = {};
    int32_t pmtRegistered = 0;
    int32_t patStarted = 0;
    int32_t pmtStarted = 0;
    int32_t patMissing = 0;  // section bytes still to come
    int32_t pmtMissing = 0;
    int32_t pmtComplete = 0;
    int32_t lastProgramNumber = 0;
    int32_t pmtPid = -1;
    // Internal bookkeeping of the section buffers and the PMT's entries.
    size_t patFill = 0;
    size_t pmtFill = 0;
    size_t pmtEntriesFrom = 0;  // first entry added by the last PMT parse
    bool pmtParsed = false;

    // Empties the list and resets the acquisition state.
    void clear();
    size_t count() const { return entries.size(); }
    bool empty() const { return entries.empty(); }
};

enum class FindBy { Kind, StreamType };

// The first entry whose kind (or stream type) equals value, or null.
const ProgramEntry* findProgramEntry(const ProgramList& list, int value, FindBy by);
ProgramEntry* findProgramEntry(ProgramList& list, int value, FindBy by);

// Adds the entries of a complete PAT / PMT section stored from its table_id.
// Bytes beyond len are never read.
void parsePatSection(ProgramList& list, const uint8_t* section, size_t len);
void parsePmtSection(ProgramList& list, const uint8_t* section, size_t len);

// Feeds one 188-byte transport packet (p at its sync byte) to the
// collection. Returns true once a PMT is registered and complete.
bool collectProgramPacket(ProgramList& list, const uint8_t* p);

// Reads packets from startPacket on (one per read, at most 10,000) until the
// first program's PAT and PMT are complete. False at end of file, read
// error, a packet without sync byte in its first 33 bytes or the limit.
bool collectProgramTables(ProgramList& list, File& f, int64_t startPacket, int32_t packetSize);

enum class ProgramListChoice { Clipping, FileInfo };

// The acquisition: runs the worker on its own thread and waits for it, at
// most waitMs. Returns 0 when no input is named or the thread cannot be
// started, else 1; callers judge success by the chosen list's count. The
// worker's messages are shown once it has ended; a worker that outlives the
// wait has its result dropped rather than written under the caller.
// For tests: the worker calls started() before it opens the recording and
// ended() once it has handed over its result.
struct AcquisitionHooks {
    std::function<void()> started;
    std::function<void()> ended;
};
int acquirePids(EditState& state, JobHost& host, int64_t startPacket, ProgramListChoice which, int waitMs = 100000,
                const AcquisitionHooks* hooks = nullptr);

}  // namespace tavrel
