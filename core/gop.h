// GOP entries, the GOP list and the GOP index file.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ts_packet.h"

namespace tavrel {

class JobHost;

// One GOP: the 64-byte record the index is built from.
struct GopEntry {
    int32_t pid = 0xFFFF;
    char timeCode[20] = {};
    char ptsText[20] = {};
    uint8_t pad[4] = {};
    int64_t pts = 0;
    int64_t packet = 0;

    void setTimeCode(const char* s);
    void setPtsText(const char* s);
    bool isLast() const { return std::strcmp(ptsText, kLastText) == 0; }

    static constexpr const char* kLastText = "LAST       ";
    static constexpr const char* kNoTimeCode = "--:--:--  --";
    static constexpr const char* kNoPtsText = "--:--:--:---";
};
static_assert(sizeof(GopEntry) == 64, "GOP entry is a 64-byte record");

using GopList = std::vector<GopEntry>;

// "%02d:%02d:%02d  %02d"
std::string timeCodeText(int h, int m, int s, int pictures);

// Where the index of a recording goes: next to it as PATH.txt, or in the GOP
// folder when useGopFolder is set and that folder exists.
std::string gopIndexPath(const std::string& recording, bool useGopFolder, const std::string& gopFolder);

// The buffered text writer of the index and the other text files.
class BufferedTextWriter {
public:
    static constexpr size_t kCapacity = 9024;
    explicit BufferedTextWriter(class File& f);
    // Appends, first writing out the buffer when fewer than n + 5 bytes remain.
    bool append(const char* s, size_t n);
    bool append(const std::string& s) { return append(s.data(), s.size()); }
    // Writes out the buffer, then s directly.
    bool appendFlush(const char* s, size_t n);
    bool appendFlush(const std::string& s) { return appendFlush(s.data(), s.size()); }

private:
    class File& m_file;
    std::vector<char> m_buf;
    size_t m_pos = 0;
    size_t m_space = kCapacity;
};

struct GopIndexContent {
    GopList entries;
    int32_t videoPid = 0xFFFF;
    bool videoPidSet = false;
    PacketGeometry geometry;  // size 0 when no TSPAC_TYPE line
};

enum class GopIndexReadResult { Ok, NotOpened, ReadError, HeaderError };

// Parses index file bytes (the reader's rules, fed from memory).
GopIndexReadResult parseGopIndex(const uint8_t* data, size_t size, GopIndexContent& out);

// Reads the index at path (falling back to recording + ".txt" when path does
// not exist), reporting through host. Appends to out.entries. Without
// reportMissingPid a missing PID_VIDEO line is left to the caller.
bool readGopIndexFile(const std::string& path, const std::string& recording, GopIndexContent& out, JobHost& host,
                      bool reportMissingPid = true);

}  // namespace tavrel
