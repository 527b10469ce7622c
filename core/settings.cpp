#include "settings.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "file.h"
#include "output_file.h"

namespace tavrel {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// Larger files are no settings file of ours; refusing them keeps a save
// from loading something unbounded.
constexpr int64_t kMaxFileSize = 16 << 20;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string lowered(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = lower(c);
    return r;
}

bool hasLineBreakOrNul(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; }

bool quoted(std::string_view v) { return v.size() >= 2 && v.front() == '"' && v.back() == '"'; }

// The value part of a key line as a lookup returns it.
std::string_view readValue(std::string_view raw) {
    raw = trim(raw);
    if (quoted(raw)) raw = raw.substr(1, raw.size() - 2);
    return raw;
}

// The text a value is written as, so that readValue gives it back.
std::string encodeValue(std::string_view v) {
    const bool needQuotes = (!v.empty() && (isBlank(v.front()) || isBlank(v.back()))) || quoted(v);
    if (!needQuotes) return std::string(v);
    std::string r;
    r.reserve(v.size() + 2);
    r += '"';
    r += v;
    r += '"';
    return r;
}

// Leading blanks, one sign, decimal digits; stops at the first other byte.
// Accumulates in 32 unsigned bits as the platform's profile reading does.
int32_t profileInt(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    uint32_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = v * 10u + static_cast<uint32_t>(s[i] - '0');
    if (negative) v = 0u - v;
    return static_cast<int32_t>(v);
}

}  // namespace

// ---------------------------------------------------------------------------
// IniDocument

void IniDocument::classify(Line& line) {
    line.kind = Kind::Other;
    line.name.clear();
    line.valuePos = 0;
    std::string_view t = line.text;
    size_t start = 0;
    while (start < t.size() && isBlank(t[start])) ++start;
    if (start == t.size() || t[start] == ';' || t[start] == '#') return;
    if (t[start] == '[') {
        const size_t close = t.rfind(']');
        if (close != t.npos && close > start) {
            line.kind = Kind::Section;
            line.name = trim(t.substr(start + 1, close - start - 1));
            return;
        }
    }
    const size_t eq = t.find('=', start);
    if (eq == t.npos) return;
    const std::string_view name = trim(t.substr(start, eq - start));
    if (name.empty()) return;
    line.kind = Kind::Key;
    line.name = name;
    line.valuePos = eq + 1;
}

IniDocument IniDocument::parse(std::string_view bytes) {
    IniDocument doc;
    if (bytes.starts_with(kBom)) {
        doc.m_bom = kBom;
        bytes.remove_prefix(kBom.size());
    }
    bool eolKnown = false;
    while (!bytes.empty()) {
        Line line;
        const size_t lf = bytes.find('\n');
        if (lf == bytes.npos) {
            line.text = bytes;
            bytes = {};
        } else {
            const bool crlf = lf > 0 && bytes[lf - 1] == '\r';
            line.text = bytes.substr(0, crlf ? lf - 1 : lf);
            line.eol = crlf ? "\r\n" : "\n";
            bytes.remove_prefix(lf + 1);
            if (!eolKnown) {
                doc.m_eol = line.eol;
                eolKnown = true;
            }
        }
        classify(line);
        doc.m_lines.push_back(std::move(line));
    }
    return doc;
}

std::string IniDocument::serialize() const {
    size_t n = m_bom.size();
    for (const auto& l : m_lines) n += l.text.size() + l.eol.size();
    std::string out;
    out.reserve(n);
    out += m_bom;
    for (const auto& l : m_lines) {
        out += l.text;
        out += l.eol;
    }
    return out;
}

size_t IniDocument::findSection(std::string_view section) const {
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (m_lines[i].kind == Kind::Section && sameName(m_lines[i].name, section)) return i;
    return std::string::npos;
}

size_t IniDocument::findKey(size_t sectionLine, std::string_view key) const {
    for (size_t i = sectionLine + 1; i < m_lines.size(); ++i) {
        if (m_lines[i].kind == Kind::Section) break;
        if (m_lines[i].kind == Kind::Key && sameName(m_lines[i].name, key)) return i;
    }
    return std::string::npos;
}

std::optional<std::string> IniDocument::find(std::string_view section, std::string_view key) const {
    const size_t s = findSection(section);
    if (s == std::string::npos) return std::nullopt;
    const size_t k = findKey(s, key);
    if (k == std::string::npos) return std::nullopt;
    const Line& l = m_lines[k];
    return std::string(readValue(std::string_view(l.text).substr(l.valuePos)));
}

std::string IniDocument::getText(std::string_view section, std::string_view key, std::string_view def) const {
    auto v = find(section, key);
    if (!v) return std::string(def);
    if (v->size() > kSettingsTextMax) {
        size_t n = kSettingsTextMax;
        // Step back over at most three continuation bytes so a multi-byte
        // character is dropped whole rather than split.
        for (int i = 0; i < 3 && n > 0 && (static_cast<unsigned char>((*v)[n]) & 0xC0) == 0x80; ++i) --n;
        if ((static_cast<unsigned char>((*v)[n]) & 0xC0) == 0x80) n = kSettingsTextMax;
        v->resize(n);
    }
    return *v;
}

int32_t IniDocument::getInt(std::string_view section, std::string_view key, int32_t def) const {
    const auto v = find(section, key);
    if (!v || v->empty()) return def;
    return profileInt(*v);
}

void IniDocument::insertLine(size_t at, std::string text) {
    // The line before the new one may have been the last, without an ending.
    if (at > 0 && m_lines[at - 1].eol.empty()) m_lines[at - 1].eol = m_eol;
    Line line;
    line.text = std::move(text);
    line.eol = m_eol;
    classify(line);
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

bool IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    if (section.empty() || trim(section) != section || hasLineBreakOrNul(section)) return false;
    if (key.empty() || trim(key) != key || hasLineBreakOrNul(key) || key.find('=') != key.npos || key.front() == '[' ||
        key.front() == ';' || key.front() == '#')
        return false;
    if (hasLineBreakOrNul(value)) return false;
    const std::string encoded = encodeValue(value);

    size_t s = findSection(section);
    if (s == std::string::npos) {
        if (!m_lines.empty() && !trim(m_lines.back().text).empty()) insertLine(m_lines.size(), "");
        insertLine(m_lines.size(), "[" + std::string(section) + "]");
        insertLine(m_lines.size(), std::string(key) + "=" + encoded);
        return true;
    }
    const size_t k = findKey(s, key);
    if (k != std::string::npos) {
        Line& l = m_lines[k];
        size_t keep = l.valuePos;
        while (keep < l.text.size() && isBlank(l.text[keep])) ++keep;
        l.text.resize(keep);
        l.text += encoded;
        return true;
    }
    // After the section's last key, so comments and blank lines that lead
    // into the next section stay with it.
    size_t at = s + 1;
    for (size_t i = s + 1; i < m_lines.size() && m_lines[i].kind != Kind::Section; ++i)
        if (m_lines[i].kind == Kind::Key) at = i + 1;
    insertLine(at, std::string(key) + "=" + encoded);
    return true;
}

bool IniDocument::setInt(std::string_view section, std::string_view key, int32_t value) {
    return set(section, key, std::to_string(value));
}

std::vector<std::pair<std::string, std::string>> IniDocument::keys() const {
    std::vector<std::pair<std::string, std::string>> out;
    std::set<std::string> sectionsSeen;
    std::set<std::string> keysSeen;
    bool reachable = false;
    std::string current;
    for (const auto& l : m_lines) {
        if (l.kind == Kind::Section) {
            reachable = sectionsSeen.insert(lowered(l.name)).second;
            current = l.name;
            keysSeen.clear();
        } else if (l.kind == Kind::Key && reachable && keysSeen.insert(lowered(l.name)).second) {
            out.emplace_back(current, l.name);
        }
    }
    return out;
}

bool readIniFile(const std::string& path, IniDocument& doc, int* error) {
    if (error) *error = 0;
    File f;
    if (!f.openRead(path)) {
        if (f.error() == ENOENT) {
            doc = IniDocument();
            return true;
        }
        if (error) *error = f.error();
        return false;
    }
    const int64_t size = f.size();
    if (size > kMaxFileSize) {
        if (error) *error = EFBIG;
        return false;
    }
    std::string bytes;
    char buf[65536];
    for (;;) {
        const int64_t n = f.read(buf, sizeof buf);
        if (n < 0) {
            if (error) *error = f.error();
            return false;
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<size_t>(n));
        if (static_cast<int64_t>(bytes.size()) > kMaxFileSize) {
            if (error) *error = EFBIG;
            return false;
        }
    }
    doc = IniDocument::parse(bytes);
    return true;
}

// ---------------------------------------------------------------------------
// Key table

namespace {

template <auto Member>
int32_t* option(SettingsRecord& r) {
    return &(r.options.*Member);
}
template <auto Member>
std::string* optionText(SettingsRecord& r) {
    return &(r.options.*Member);
}
template <auto Member>
int32_t* window(SettingsRecord& r) {
    return &(r.windows.*Member);
}
template <int Index>
int32_t* column(SettingsRecord& r) {
    return &r.windows.inputColumns[Index];
}
template <auto Member>
int32_t* geometry(SettingsRecord& r) {
    return &(r.geometry.*Member);
}
std::string* inputPath(SettingsRecord& r) { return &r.inputPath; }
std::string* outputPath(SettingsRecord& r) { return &r.outputPath; }

constexpr auto I = SettingType::Int;
constexpr auto T = SettingType::Text;
constexpr auto kClose = SettingWrite::AtClose;
constexpr auto kNever = SettingWrite::Never;

SettingKey intKey(const char* s, const char* k, int32_t def, SettingWrite w, int32_t* (*f)(SettingsRecord&),
                  int32_t min = INT32_MIN, int32_t max = INT32_MAX) {
    return {s, k, I, def, nullptr, true, w, f, nullptr, min, max, false};
}

// Ranges of the keys that place or size windows or memory. Where an option
// page sets the key, its range; else one that no window system coordinate
// arithmetic can overflow: places within 16-bit screen coordinates, window
// sizes and column widths at most 8192 pixels (a window's backing store then
// stays within 256 MB).
constexpr int32_t kPlaceMin = -32768;
constexpr int32_t kPlaceMax = 32767;
constexpr int32_t kWindowSizeMax = 8192;
constexpr int32_t kMarginMax = 100;  // DATA/PACMARGIN, PACMARGINBACK: packets

SettingKey place(const char* s, const char* k, SettingWrite w, int32_t* (*f)(SettingsRecord&)) {
    return intKey(s, k, -1, w, f, kPlaceMin, kPlaceMax);
}
SettingKey packetSizeKey() {
    SettingKey k = intKey("DATA", "PACKET", 0, kNever, geometry<&PacketGeometry::size>, 0, 208);
    k.packetSize = true;
    return k;
}

// The note for a value outside its key's range, else "".
std::string rangeNote(const SettingKey& k, int32_t v) {
    const bool packetOk = !k.packetSize || v == 0 || v == 188 || v == 192 || v == 204 || v == 208;
    if (v >= k.minValue && v <= k.maxValue && packetOk) return {};
    std::string note = std::string(k.section) + "/" + k.key + "=" + std::to_string(v);
    if (k.packetSize)
        note += " is not a packet size (0, 188, 192, 204 or 208)";
    else
        note += " is outside " + std::to_string(k.minValue) + ".." + std::to_string(k.maxValue);
    return note + "; " + std::to_string(k.intDefault) + " is used";
}
SettingKey textKey(const char* s, const char* k, bool read, std::string* (*f)(SettingsRecord&)) {
    return {s, k, T, 0, "", read, kClose, nullptr, f};
}

const std::vector<SettingKey>& table() {
    static const std::vector<SettingKey> keys = {
        // Close: the input list window first.
        place("INPUT", "left", kClose, window<&WindowSettings::inputLeft>),
        place("INPUT", "top", kClose, window<&WindowSettings::inputTop>),
        intKey("INPUT", "wide", 320, kClose, window<&WindowSettings::inputWidth>, 1, kWindowSizeMax),
        intKey("INPUT", "height", 260, kClose, window<&WindowSettings::inputHeight>, 1, kWindowSizeMax),
        // Then the options.
        textKey("FILE", "INPUT", false, inputPath),
        textKey("FILE", "OUTPUT", true, outputPath),
        intKey("DATA", "ReNo", 0, kClose, option<&Settings::reNo>),
        intKey("DATA", "SELECT_PID", 0, kClose, option<&Settings::selectPid>),
        intKey("DATA", "OPTIMIZE", 0, kClose, option<&Settings::optimize>),
        intKey("DATA", "REWRITE_TC", 0, kClose, option<&Settings::rewriteTc>),
        intKey("DATA", "PACMARGIN", 0, kClose, option<&Settings::pacMargin>, 0, kMarginMax),
        intKey("DATA", "PACMARGINBACK", 0, kClose, option<&Settings::pacMarginBack>, 0, kMarginMax),
        intKey("DATA", "SET_FC_SLIDER", 1, kClose, option<&Settings::setFcSlider>),
        intKey("DATA", "ADD_ACP", 0, kClose, option<&Settings::addAcp>),
        intKey("DATA", "ADD_TOPPSI", 0, kClose, option<&Settings::addTopPsi>),
        intKey("FILE", "SELGOP", 0, kClose, option<&Settings::selGop>),
        textKey("FILE", "GOPF", true, optionText<&Settings::gopFolder>),
        intKey("DATA", "REPEAT", 0, kClose, option<&Settings::repeat>),
        intKey("DATA", "TIME_VOPT", 1, kClose, option<&Settings::timeVopt>),
        intKey("WND", "OUT_WND", 0, kClose, option<&Settings::outWnd>),
        intKey("DATA", "CTGOPMV", 120, kClose, option<&Settings::ctGopMv>),
        intKey("DATA", "ADJUST_PCR", 0, kClose, option<&Settings::adjustPcr>),
        intKey("DATA", "CLEAN_JOIN", 0, kClose, option<&Settings::cleanJoin>),
        intKey("INPUTLIST", "IN_ITEM1", 100, kClose, column<0>, 0, kWindowSizeMax),
        intKey("INPUTLIST", "IN_ITEM2", 100, kClose, column<1>, 0, kWindowSizeMax),
        intKey("INPUTLIST", "IN_ITEM3", 100, kClose, column<2>, 0, kWindowSizeMax),
        intKey("INPUTLIST", "IN_ITEM4", 100, kClose, column<3>, 0, kWindowSizeMax),
        intKey("FILE", "SOUND", 0, kClose, option<&Settings::sound>),
        textKey("FILE", "SOUND_PATH", true, optionText<&Settings::soundPath>),
        intKey("FILE", "OUTTIME", 0, kClose, option<&Settings::outTime>),
        intKey("WND", "NATIVE", 0, kClose, option<&Settings::native>),
        intKey("WND", "CSIZE", kCSizeDefault, kClose, option<&Settings::cSize>, kCSizeMin, kCSizeMax),
        intKey("WND", "ASPECT", 9, kClose, option<&Settings::aspect>),
        intKey("WND", "GRADE", 2, kClose, option<&Settings::grade>),
        // Then the main and the output picture window.
        place("WND", "left", kClose, window<&WindowSettings::left>),
        place("WND", "top", kClose, window<&WindowSettings::top>),
        place("WND", "Vleft", kClose, window<&WindowSettings::viewLeft>),
        place("WND", "Vtop", kClose, window<&WindowSettings::viewTop>),
        // Read at start only.
        packetSizeKey(),
        intKey("DATA", "PACKET_HEAD", 4, kNever, geometry<&PacketGeometry::headerSize>, 0, 4),
        intKey("DATA", "START_HEAD", 4, kNever, geometry<&PacketGeometry::syncOffset>, 0, 4),
        intKey("DATA", "DISCON", 0, kNever, option<&Settings::discon>),
        intKey("DATA", "188OUT", 0, kNever, option<&Settings::out188>),
        intKey("DEBUG", "CHK", 0, kNever, option<&Settings::debugChk>),
        // Written when the error information window is destroyed.
        place("ERRINFO", "left", SettingWrite::ErrorWindow, window<&WindowSettings::errorInfoLeft>),
        place("ERRINFO", "top", SettingWrite::ErrorWindow, window<&WindowSettings::errorInfoTop>),
    };
    return keys;
}

// Creates the folders above path that do not exist yet.
bool makeParentFolders(const std::string& path, int* error) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    const std::string folder = path.substr(0, slash);
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0) return true;  // anything else fails at the write
    if (errno != ENOENT) {
        if (error) *error = errno;
        return false;
    }
    if (!makeParentFolders(folder, error)) return false;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error) *error = errno;
        return false;
    }
    return true;
}

// Reads the file, lets change() set keys, writes it back whole.
template <typename Change>
bool rewriteSettings(const std::string& path, int* error, Change change) {
    if (error) *error = 0;
    IniDocument doc;
    // A file that exists but cannot be read is not replaced: what it holds
    // would be lost.
    if (!readIniFile(path, doc, error)) return false;
    change(doc);
    if (!makeParentFolders(path, error)) return false;
    const std::string bytes = doc.serialize();
    OutputFile out;
    if (!out.create(path) || !out.file().writeAll(bytes.data(), bytes.size())) {
        if (error) *error = out.error() ? out.error() : out.file().error();
        out.discard();
        return false;
    }
    if (!out.commit()) {
        if (error) *error = out.error();
        return false;
    }
    return true;
}

}  // namespace

std::span<const SettingKey> settingsKeys() { return table(); }

SettingsRecord loadSettings(const std::string& path, std::vector<std::string>* notes) {
    SettingsRecord rec;
    IniDocument doc;
    if (!readIniFile(path, doc)) doc = IniDocument();
    for (const SettingKey& k : table()) {
        if (!k.readAtStart) continue;
        if (k.type == SettingType::Text) {
            *k.textField(rec) = doc.getText(k.section, k.key, k.textDefault);
            continue;
        }
        int32_t v = doc.getInt(k.section, k.key, k.intDefault);
        if (std::string note = rangeNote(k, v); !note.empty()) {
            v = k.intDefault;
            if (notes) notes->push_back(std::move(note));
        }
        *k.intField(rec) = v;
    }
    return rec;
}

bool saveSettings(const std::string& path, const SettingsRecord& rec, int* error) {
    // The accessors hand out pointers into a record they may change; this
    // one is only read.
    SettingsRecord copy = rec;
    return rewriteSettings(path, error, [&](IniDocument& doc) {
        for (const SettingKey& k : table()) {
            const bool errorWindow = k.write == SettingWrite::ErrorWindow && copy.windows.errorInfoPlaced;
            if (k.write != SettingWrite::AtClose && !errorWindow) continue;
            // A path with a line break cannot be stored; the file keeps the
            // value it had.
            if (k.type == SettingType::Int)
                doc.setInt(k.section, k.key, *k.intField(copy));
            else
                doc.set(k.section, k.key, *k.textField(copy));
        }
    });
}

bool saveErrorInfoPosition(const std::string& path, int32_t left, int32_t top, int* error) {
    return rewriteSettings(path, error, [&](IniDocument& doc) {
        doc.setInt("ERRINFO", "left", left);
        doc.setInt("ERRINFO", "top", top);
    });
}

// ---------------------------------------------------------------------------
// Places

std::string programFilePath() {
    std::string buf(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return {};
    buf.resize(static_cast<size_t>(n));
    return buf;
}

std::string defaultSettingsPath(const std::string& programPath) {
    const size_t slash = programPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : programPath.substr(0, slash == 0 ? 1 : slash);
    const std::string dirPrefix = slash == std::string::npos ? "" : programPath.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    if (!base.empty() && ::access(folder.c_str(), W_OK) == 0) return dirPrefix + base + ".ini";

    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        std::string home;
        if (const char* h = std::getenv("HOME"); h && h[0]) {
            home = h;
        } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
            home = pw->pw_dir;
        }
        if (home.empty()) return dirPrefix + (base.empty() ? "tavrelcut" : base) + ".ini";
        config = home + "/.config";
    }
    while (config.size() > 1 && config.back() == '/') config.pop_back();
    return config + "/tavrelcut/tavrelcut.ini";
}

std::string inputListPath(const std::string& settingsPath) {
    const size_t slash = settingsPath.rfind('/');
    if (slash == std::string::npos) return "qxinput.txt";
    return settingsPath.substr(0, slash + 1) + "qxinput.txt";
}

}  // namespace tavrel
