// File names as a terminal line shows them. A name may hold any byte but
// NUL and '/', so a line break or an escape sequence in it could otherwise
// end the line it is printed in and forge the next one.
#pragma once

#include <string>

namespace tavrel {

namespace detail {

// The C escape of a control byte (below 0x20, or 0x7F).
inline void appendEscape(std::string& out, unsigned char c) {
    switch (c) {
    case '\a': out += "\\a"; return;
    case '\b': out += "\\b"; return;
    case '\t': out += "\\t"; return;
    case '\n': out += "\\n"; return;
    case '\v': out += "\\v"; return;
    case '\f': out += "\\f"; return;
    case '\r': out += "\\r"; return;
    default: break;
    }
    static const char hex[] = "0123456789abcdef";
    out += "\\x";
    out.push_back(hex[c >> 4]);
    out.push_back(hex[c & 0x0F]);
}

inline bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace detail

// A name without control bytes (below 0x20, or 0x7F) is shown as it is,
// UTF-8 and every other byte included. A name with one, or one that starts
// with a double quote, is shown in double quotes with C escapes (\n, \t, \r,
// \a, \b, \f, \v, \xHH for the others), '\\' and '"' escaped as well. So a
// printed name starting with '"' is always the quoted form, and the quoted
// form reads back to one name only.
inline std::string printableName(const std::string& name) {
    bool plain = name.empty() || name[0] != '"';
    for (unsigned char c : name) plain = plain && !detail::isControl(c);
    if (plain) return name;
    std::string out = "\"";
    for (unsigned char c : name) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (detail::isControl(c)) {
            detail::appendEscape(out, c);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back('"');
    return out;
}

// Free text that may hold a name among other words (usage messages, notes):
// each control byte becomes its escape, nothing else changes.
inline std::string printableText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (detail::isControl(c))
            detail::appendEscape(out, c);
        else
            out.push_back(static_cast<char>(c));
    }
    return out;
}

}  // namespace tavrel
