// The settings file: an INI text read once at start and written once at
// close. IniDocument keeps a file exactly as it was (comments, blank lines,
// unknown sections and keys, order, spelling, line endings) and reads it the
// way the platform's profile functions do; loadSettings/saveSettings map it onto
// the program's settings through one key table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "edit_state.h"
#include "ts_packet.h"

namespace tavrel {

// Text values are read as into a 299-byte buffer: at most 298 bytes come
// back.
constexpr size_t kSettingsTextMax = 298;

// An INI file in memory.
//
// Reading rules (those of the platform's profile functions):
// - Lines end in LF or CR LF; a lone CR is part of the line.
// - After leading blanks, a line starting with '[' and holding a ']' is a
//   section header; the name is what lies between the '[' and the last ']',
//   blanks trimmed. Lines starting with ';' or '#' are comments. A line with
//   a '=' is a key: the name before the first '=' and the value after it,
//   both with surrounding blanks trimmed. Anything else is kept and ignored.
// - Lines before the first header belong to no section and are never found.
// - Section and key names match without regard to ASCII case; the first
//   matching section is searched, and in it the first matching key.
// - A value enclosed in a pair of double quotes is read without them.
// A UTF-8 byte order mark at the start is kept and skipped. New lines take
// the file's line ending; a new file gets LF.
class IniDocument {
public:
    IniDocument() = default;
    static IniDocument parse(std::string_view bytes);
    // The file's bytes. A parsed, unmodified document gives back exactly the
    // bytes it was parsed from.
    std::string serialize() const;

    // The value as stored (quotes removed, not truncated), or nullopt when
    // the section or key is missing.
    std::optional<std::string> find(std::string_view section, std::string_view key) const;
    // The value cut to kSettingsTextMax bytes (never inside a UTF-8
    // sequence); def when the key is missing.
    std::string getText(std::string_view section, std::string_view key, std::string_view def) const;
    // The value as an integer: optional blanks and sign, then the leading
    // decimal digits ("12x" is 12, "abc" is 0; digits past 32 bits wrap as
    // the platform's do). def when the key is missing or its value
    // is empty.
    int32_t getInt(std::string_view section, std::string_view key, int32_t def) const;

    // Stores a value: in place when the key exists (its spelling and the
    // text up to the value stay), else as a new line after the last key of
    // the section, else in a new section at the end. A value with
    // surrounding blanks or enclosing quotes is written in quotes, so it
    // reads back unchanged. false (nothing changed) for an empty or
    // blank-edged name, a key name with '=' or starting with '[', ';' or
    // '#', or any line break or NUL byte: the file could not hold them.
    bool set(std::string_view section, std::string_view key, std::string_view value);
    bool setInt(std::string_view section, std::string_view key, int32_t value);

    // (section, key) of every key line that a lookup can reach, in file
    // order (the first of duplicate sections and keys only).
    std::vector<std::pair<std::string, std::string>> keys() const;
    // The line ending new lines get: the file's first one, LF for a file
    // without any.
    const std::string& lineEnding() const { return m_eol; }

private:
    enum class Kind : uint8_t { Other, Section, Key };
    struct Line {
        std::string text;  // without its line ending
        std::string eol;   // "\n", "\r\n" or "" (last line without one)
        Kind kind = Kind::Other;
        std::string name;     // section or key name, trimmed
        size_t valuePos = 0;  // keys: offset just past the '='
    };
    static void classify(Line& line);
    // Index of the first header named section (npos when none), and of the
    // first key line named key after it up to the next header.
    size_t findSection(std::string_view section) const;
    size_t findKey(size_t sectionLine, std::string_view key) const;
    void insertLine(size_t at, std::string text);

    std::string m_bom;
    std::vector<Line> m_lines;
    std::string m_eol = "\n";
};

// Reads an INI file. A missing file gives an empty document and true; any
// other failure false with *error set (errno or a File code).
bool readIniFile(const std::string& path, IniDocument& doc, int* error = nullptr);

// Window places and sizes kept in the settings file.
struct WindowSettings {
    int32_t left = -1;                               // WND/left: main window
    int32_t top = -1;                                // WND/top
    int32_t viewLeft = -1;                           // WND/Vleft: output picture window
    int32_t viewTop = -1;                            // WND/Vtop
    int32_t inputLeft = -1;                          // INPUT/left: input list window
    int32_t inputTop = -1;                           // INPUT/top
    int32_t inputWidth = 320;                        // INPUT/wide
    int32_t inputHeight = 260;                       // INPUT/height
    int32_t inputColumns[4] = {100, 100, 100, 100};  // INPUTLIST/IN_ITEM1..4
    int32_t errorInfoLeft = -1;                      // ERRINFO/left: error information window
    int32_t errorInfoTop = -1;                       // ERRINFO/top
    // The error window was opened this run: saveSettings writes its place
    // too (the file keeps the old one otherwise).
    bool errorInfoPlaced = false;
};

// Everything the settings file holds. Numbers that place or size a window,
// or size memory, are checked at load against the range of their key (see
// SettingKey); the rest are kept as read and the windows apply their own
// rules (a column width of 0 shown as 1).
struct SettingsRecord {
    Settings options;
    WindowSettings windows;
    std::string inputPath;   // FILE/INPUT: written at close, never read back
    std::string outputPath;  // FILE/OUTPUT
    // DATA/PACKET, PACKET_HEAD, START_HEAD: read at start, never written;
    // every packet size detection replaces them.
    PacketGeometry geometry{0, 4, 4};
};

enum class SettingType : uint8_t { Int, Text };
enum class SettingWrite : uint8_t {
    Never,        // read only
    AtClose,      // saveSettings
    ErrorWindow,  // saveErrorInfoPosition, when the error window goes away
};

// One row of the key table.
struct SettingKey {
    const char* section;
    const char* key;
    SettingType type;
    int32_t intDefault;
    const char* textDefault;
    bool readAtStart;  // FILE/INPUT is the one key never read
    SettingWrite write;
    // The field of the record the row reads and writes (one of the two).
    int32_t* (*intField)(SettingsRecord&);
    std::string* (*textField)(SettingsRecord&);
    // Int keys: the values accepted at load (the option page's range, or
    // one that keeps window sizes and positions far from overflow). A value
    // outside it gives the default and a note.
    int32_t minValue = INT32_MIN;
    int32_t maxValue = INT32_MAX;
    // DATA/PACKET: only 0 and the packet sizes within the range.
    bool packetSize = false;
};

// The whole key table, in the order the program writes the keys at close
// (the INPUT window first, then the options, then the main and output
// picture window places), read-only keys and ERRINFO last.
std::span<const SettingKey> settingsKeys();

// Every key read at start from the file at path; defaults for a missing
// file, missing keys and values the rules above cannot read. A number
// outside its key's range gets the default too, and, when notes is given,
// one line there for the caller to show after "note: PATH: ", e.g.
// "WND/CSIZE=50000 is outside 240..5000; 640 is used".
SettingsRecord loadSettings(const std::string& path, std::vector<std::string>* notes = nullptr);
// Re-reads the file at path and writes it back whole (temporary file and
// rename) with the keys written at close set from rec; everything else in
// the file stays; the ERRINFO keys as well when rec.windows.errorInfoPlaced.
// Copies of the program saving at once: the last rename
// wins, and no reader ever sees half a file. Creates the missing folders of path. false with *error
// (errno or a File code) when the file cannot be read or written; the old
// file is then left as it was.
bool saveSettings(const std::string& path, const SettingsRecord& rec, int* error = nullptr);
// Writes ERRINFO/left and top alone, the same way.
bool saveErrorInfoPosition(const std::string& path, int32_t left, int32_t top, int* error = nullptr);

// The running program's file (/proc/self/exe), "" when unknown.
std::string programFilePath();
// Where the settings file lives, for the program's absolute file name
// (programFilePath()): next to the program, named after the
// program file without its extension plus ".ini", when the program's folder
// is writable; else $XDG_CONFIG_HOME/tavrelcut/tavrelcut.ini, with
// ~/.config when XDG_CONFIG_HOME is unset or not absolute.
std::string defaultSettingsPath(const std::string& programPath);
// The input list file, qxinput.txt, beside the settings file.
std::string inputListPath(const std::string& settingsPath);

}  // namespace tavrel
