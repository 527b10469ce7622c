#include "gop.h"

#include <cstdio>
#include <vector>

#include "file.h"
#include "host.h"

namespace tavrel {

namespace {

constexpr size_t kFieldMax = 999;     // the reader's field buffer
constexpr size_t kEntryTextMax = 19;  // entry text fields, without the NUL

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

// The first four characters as hexadecimal digits; anything else, including
// the end of a shorter field, counts as 0.
int32_t fourHex(const std::string& s) {
    int32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = v * 16 + (i < s.size() ? hexDigit(s[i]) : 0);
    return v;
}

// Decimal value with the usual leading blanks and sign; stops at the first
// non-digit, saturates instead of overflowing.
int64_t decimalValue(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    int64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (v > (INT64_MAX - 9) / 10) {
            v = INT64_MAX;
            break;
        }
        v = v * 10 + (s[i] - '0');
    }
    return neg ? -v : v;
}

void copyText(char (&dst)[20], const char* s) { std::snprintf(dst, sizeof dst, "%s", s); }

}  // namespace

void GopEntry::setTimeCode(const char* s) { copyText(timeCode, s); }
void GopEntry::setPtsText(const char* s) { copyText(ptsText, s); }

std::string timeCodeText(int h, int m, int s, int pictures) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d  %02d", h, m, s, pictures);
    return buf;
}

std::string gopIndexPath(const std::string& recording, bool useGopFolder, const std::string& gopFolder) {
    if (useGopFolder && !gopFolder.empty() && fileExists(gopFolder)) {
        std::string dir = gopFolder;
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        if (dir == "/") dir.clear();
        return dir + "/" + fileNameOf(recording) + ".txt";
    }
    return recording + ".txt";
}

BufferedTextWriter::BufferedTextWriter(File& f) : m_file(f), m_buf(kCapacity) {}

bool BufferedTextWriter::append(const char* s, size_t n) {
    if (m_space < n + 5) {
        if (m_pos > 0 && !m_file.writeAll(m_buf.data(), m_pos)) return false;
        m_pos = 0;
        m_space = kCapacity;
    }
    if (n > m_space) return m_file.writeAll(s, n);  // longer than the whole buffer
    std::memcpy(m_buf.data() + m_pos, s, n);
    m_pos += n;
    m_space -= n;
    return true;
}

bool BufferedTextWriter::appendFlush(const char* s, size_t n) {
    if (m_pos > 0 && !m_file.writeAll(m_buf.data(), m_pos)) return false;
    m_pos = 0;
    m_space = kCapacity;
    return n == 0 || m_file.writeAll(s, n);
}

namespace {

// The line-by-line reader, fed one byte at a time.
class IndexReader {
public:
    explicit IndexReader(GopIndexContent& out) : m_out(out) {}

    // false = stop (END seen or a header error; see result()).
    bool feed(char c) {
        if (c == ',') return endField();
        if (c == '\n') return endLine();
        if (m_field.size() >= kFieldMax) {
            m_result = GopIndexReadResult::HeaderError;
            return false;
        }
        m_field.push_back(c);
        return true;
    }

    GopIndexReadResult finish() {
        // A file that ends before its tag line is complete has no valid header.
        if (m_result == GopIndexReadResult::Ok && m_line == 1) m_result = GopIndexReadResult::HeaderError;
        return m_result;
    }

private:
    bool fieldToText(char (&dst)[20]) {
        if (m_field.size() > kEntryTextMax) {
            m_result = GopIndexReadResult::HeaderError;
            return false;
        }
        copyText(dst, m_field.empty() ? " " : m_field.c_str());
        return true;
    }

    bool endField() {
        bool keyed = true;
        if (m_field == GopEntry::kLastText) {
            m_entry.setTimeCode(GopEntry::kLastText);
            m_entry.setPtsText(GopEntry::kLastText);
        } else if (m_field == "PID_VIDEO" || m_field == "TSPAC_TYPE" || m_field == "END") {
        } else if (m_entry.pid == 0xFFFF && m_field.size() < 5) {
            m_entry.pid = fourHex(m_field);
            keyed = false;
        } else if (m_entry.timeCode[0] == '\0') {
            if (!fieldToText(m_entry.timeCode)) return false;
        } else if (m_entry.ptsText[0] == '\0') {
            if (!fieldToText(m_entry.ptsText)) return false;
        } else {
            m_entry.pts = decimalValue(m_field);
            keyed = false;
        }
        if (keyed) m_key = m_field;
        m_field.clear();
        return true;
    }

    bool endLine() {
        if (!m_field.empty() && m_field.back() == '\r') m_field.pop_back();
        bool go = true;
        if (m_line == 1) {
            if (m_field != "KIVRA" && m_field != "KIVRA2") {
                m_result = GopIndexReadResult::HeaderError;
                return false;
            }
        } else if (m_line >= 3) {
            if (m_field == "END") {
                go = false;
            } else if (m_key == "TSPAC_TYPE" && !m_field.empty()) {
                int64_t size = decimalValue(m_field);
                if (size != 188 && size != 192 && size != 204 && size != 208) {
                    m_result = GopIndexReadResult::HeaderError;
                    return false;
                }
                m_out.geometry = geometryForSize(static_cast<int32_t>(size));
            } else if (m_key == "PID_VIDEO" && !m_field.empty()) {
                m_out.videoPid = fourHex(m_field);
                m_out.videoPidSet = true;
            } else {
                m_entry.packet = decimalValue(m_field);
                m_out.entries.push_back(m_entry);
            }
        }
        ++m_line;
        m_entry = GopEntry{};
        m_field.clear();
        return go;
    }

    GopIndexContent& m_out;
    GopEntry m_entry;
    std::string m_field;
    std::string m_key;
    int64_t m_line = 1;
    GopIndexReadResult m_result = GopIndexReadResult::Ok;
};

}  // namespace

GopIndexReadResult parseGopIndex(const uint8_t* data, size_t size, GopIndexContent& out) {
    IndexReader reader(out);
    for (size_t i = 0; i < size; ++i)
        if (!reader.feed(static_cast<char>(data[i]))) break;
    return reader.finish();
}

bool readGopIndexFile(const std::string& path, const std::string& recording, GopIndexContent& out, JobHost& host,
                      bool reportMissingPid) {
    File f;
    const std::string name = fileExists(path) ? path : recording + ".txt";
    if (!f.openRead(name)) return false;
    IndexReader reader(out);
    std::vector<uint8_t> buf(4096);
    bool reading = true;
    while (reading) {
        int64_t got = f.read(buf.data(), buf.size());
        if (got < 0) {
            host.showFileError(kMsgRead, name, f.error());
            return false;
        }
        if (got == 0) break;
        for (int64_t i = 0; i < got; ++i) {
            if (!reader.feed(static_cast<char>(buf[static_cast<size_t>(i)]))) {
                reading = false;
                break;
            }
        }
    }
    f.close();
    if (reader.finish() == GopIndexReadResult::HeaderError) {
        host.showIndexHeaderError(name);
        return false;
    }
    if (!out.videoPidSet && reportMissingPid)
        host.showMessage("error", "ビデオＰＩＤが見つかりませんでした\r\nＧＯＰ情報ファイルを確認してください",
                         MsgKind::Ok);
    return true;
}

}  // namespace tavrel
