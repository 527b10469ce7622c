#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "printable_name.h"

using tavrel::printableName;
using tavrel::printableText;

namespace {

// Reads a printed name back: the quoted form with its escapes, else the
// name as it stands. nullopt for a quoted form that is not well made.
std::optional<std::string> readBack(const std::string& shown) {
    if (shown.empty() || shown[0] != '"') return shown;
    if (shown.size() < 2 || shown.back() != '"') return std::nullopt;
    std::string out;
    for (size_t i = 1; i + 1 < shown.size(); ++i) {
        if (shown[i] != '\\') {
            if (shown[i] == '"') return std::nullopt;
            out.push_back(shown[i]);
            continue;
        }
        if (++i + 1 >= shown.size()) return std::nullopt;
        const std::string simple = "abtnvfr\\\"";
        const std::string value = "\a\b\t\n\v\f\r\\\"";
        const auto k = simple.find(shown[i]);
        if (k != std::string::npos) {
            out.push_back(value[k]);
        } else if (shown[i] == 'x' && i + 3 < shown.size()) {
            out.push_back(static_cast<char>(std::stoi(shown.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

bool hasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

}  // namespace

TEST(PrintableName, PlainNamesAreShownAsTheyAre) {
    for (const std::string name :
         {"rec.ts", "/tmp/a b/録画 2024年.ts", "C:\\x\\y.ts", "it's \"live\".ts", "ro/rec.ts.txt", "", "\xff\xfe.ts"})
        EXPECT_EQ(printableName(name), name);
}

TEST(PrintableName, ControlBytesAreEscapedInQuotes) {
    EXPECT_EQ(printableName("a\nerror: injected.ts"), "\"a\\nerror: injected.ts\"");
    EXPECT_EQ(printableName("\t\r\a\b\f\v"), "\"\\t\\r\\a\\b\\f\\v\"");
    EXPECT_EQ(printableName("\x1b[31mred\x7f\x01"), "\"\\x1b[31mred\\x7f\\x01\"");
    // Once quoted, the quote and the backslash are escaped too.
    EXPECT_EQ(printableName("a\\n\"\n"), "\"a\\\\n\\\"\\n\"");
    // A name that starts with a quote is quoted, so no plain name looks like
    // the quoted form of another.
    EXPECT_EQ(printableName("\"a\\nb\""), "\"\\\"a\\\\nb\\\"\"");
}

TEST(PrintableName, EveryNameReadsBackAndNoTwoLookAlike) {
    std::vector<std::string> names = {"a\nb",
                                      "\"a\\nb\"",
                                      "a\\nb",
                                      "\"",
                                      "\"\"",
                                      "x\"",
                                      "\\",
                                      "\n",
                                      "\x1b"
                                      "1",
                                      "\\x1b1",
                                      "録画\r\n.ts",
                                      "a\x7f",
                                      "\"a\nb\""};
    for (int c = 0; c < 256; ++c) names.push_back(std::string("n") + static_cast<char>(c) + "e");
    std::set<std::string> shown;
    for (const std::string& name : names) {
        const std::string s = printableName(name);
        EXPECT_FALSE(hasControl(s)) << s;
        EXPECT_EQ(readBack(s), name) << s;
        EXPECT_TRUE(shown.insert(s).second) << "shown twice: " << s;
    }
}

TEST(PrintableName, TextKeepsItsWordsAndLosesItsLineBreaks) {
    EXPECT_EQ(printableText("no sync byte at packet 7: a\nerror: x.ts"), "no sync byte at packet 7: a\\nerror: x.ts");
    EXPECT_EQ(printableText("'a\"b\\c' 録画"), "'a\"b\\c' 録画");
    EXPECT_FALSE(hasControl(printableText(std::string("\x00\x1f\x7f", 3))));
}
