// Settings file model over arbitrary bytes. The input up to the first NUL is
// the file; after it come edits, each "section\x01key\x01value" and
// separated by NUL bytes.
//
// Checked: an unmodified document serialises to exactly its bytes; a value
// that set() accepts reads back unchanged and leaves every other reachable
// key as it was; and the serialised result, parsed again, answers every
// lookup as the document did.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings.h"

namespace {

using tavrel::IniDocument;

struct Lookup {
    std::string section, key;
    std::string text;
    int32_t number;
};

std::vector<Lookup> lookups(const IniDocument& doc) {
    std::vector<Lookup> out;
    for (auto& [s, k] : doc.keys()) {
        auto v = doc.find(s, k);
        if (!v) __builtin_trap();  // keys() lists only what a lookup reaches
        out.push_back({s, k, *v, doc.getInt(s, k, -7)});
    }
    return out;
}

void sameLookups(const IniDocument& doc, const std::vector<Lookup>& want) {
    if (doc.keys().size() != want.size()) __builtin_trap();
    for (const auto& l : want) {
        auto v = doc.find(l.section, l.key);
        if (!v || *v != l.text || doc.getInt(l.section, l.key, -7) != l.number) __builtin_trap();
        if (doc.getText(l.section, l.key, "").size() > tavrel::kSettingsTextMax) __builtin_trap();
    }
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lo = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
        if (lo(a[i]) != lo(b[i])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t nul = all.find('\0');
    const std::string_view file = all.substr(0, nul);
    std::string_view edits = nul == all.npos ? std::string_view() : all.substr(nul + 1);

    IniDocument doc = IniDocument::parse(file);
    if (doc.serialize() != file) __builtin_trap();

    int count = 0;
    while (!edits.empty() && count++ < 16) {
        const size_t end = edits.find('\0');
        std::string_view edit = edits.substr(0, end);
        edits = end == edits.npos ? std::string_view() : edits.substr(end + 1);
        const size_t a = edit.find('\x01');
        const size_t b = a == edit.npos ? edit.npos : edit.find('\x01', a + 1);
        if (b == edit.npos) continue;
        const std::string_view section = edit.substr(0, a), key = edit.substr(a + 1, b - a - 1);
        const std::string_view value = edit.substr(b + 1);

        const auto before = lookups(doc);
        if (!doc.set(section, key, value)) {
            // Refused: nothing changed.
            sameLookups(doc, before);
            continue;
        }
        auto got = doc.find(section, key);
        if (!got || *got != value) __builtin_trap();
        // Every other key keeps its value.
        for (const auto& l : before) {
            if (sameName(l.section, section) && sameName(l.key, key)) continue;
            auto v = doc.find(l.section, l.key);
            if (!v || *v != l.text) __builtin_trap();
        }
    }

    const auto want = lookups(doc);
    const std::string bytes = doc.serialize();
    const IniDocument again = IniDocument::parse(bytes);
    sameLookups(again, want);
    if (again.serialize() != bytes) __builtin_trap();
    return 0;
}
