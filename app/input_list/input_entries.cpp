#include "input_entries.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>

#include "file.h"
#include "gop_scan.h"

namespace tavrelcut {

std::string entryIndexPath(const std::string& path, const IndexRule& rule) {
    return tavrel::batchGopIndexPath(path, rule.useGopFolder, rule.gopFolder);
}

bool entryIndexExists(const std::string& path, const IndexRule& rule) {
    if (tavrel::fileExists(entryIndexPath(path, rule))) return true;
    return rule.useGopFolder && tavrel::fileExists(path + ".txt");
}

bool isExistingFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::shared_ptr<InputEntry> addInputEntry(InputEntries& list, const std::string& path, const IndexRule& rule) {
    for (const auto& e : list)
        if (e->path == path) return nullptr;
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return nullptr;
    tavrel::File f;
    if (!f.openRead(path)) return nullptr;
    const auto id = tavrel::identityOf(f);
    if (!id) return nullptr;

    auto e = std::make_shared<InputEntry>();
    e->path = path;
    e->folder = path.substr(0, slash);
    e->name = path.substr(slash + 1);
    e->size = id->size;
    const std::time_t t = static_cast<std::time_t>(id->mtimeNs / 1000000000);
    std::tm tm{};
    localtime_r(&t, &tm);
    e->year = tm.tm_year + 1900;
    e->month = tm.tm_mon + 1;
    e->day = tm.tm_mday;
    e->hour = tm.tm_hour;
    e->minute = tm.tm_min;
    e->second = tm.tm_sec;
    e->state = entryIndexExists(path, rule) ? kStateIndexed : kStateNoIndex;
    list.push_back(e);
    return e;
}

std::vector<std::string> parseInputListFile(std::string_view bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (const char c : bytes) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        line.clear();
    }
    return lines;
}

std::string inputListFileText(const InputEntries& list) {
    std::string text;
    for (const auto& e : list) text += e->path + "\r\n";
    return text;
}

int moveLanding(int from, int drop, int count) {
    if (from < 0 || from >= count || drop < 0 || drop > count) return -1;
    if (drop == from || drop == from + 1) return -1;
    return drop > from ? drop - 1 : drop;
}

void moveInputEntry(InputEntries& list, int from, int to) {
    const auto f = list.begin() + from;
    const auto t = list.begin() + to;
    if (from < to)
        std::rotate(f, f + 1, t + 1);
    else
        std::rotate(t, f, f + 1);
}

void refreshInputStates(const InputEntries& list, const IndexRule& rule, bool busy) {
    for (const auto& e : list) {
        if (!isExistingFile(e->path)) {
            e->state = kStateError;
            continue;
        }
        const int s = e->state;
        if (busy && (s == kStateWorking || s == kStateWorkingAlt || s == kStateQueued)) continue;
        e->state = entryIndexExists(e->path, rule) ? kStateIndexed : kStateNoIndex;
    }
}

void resetPendingEntries(const InputEntries& list, size_t from) {
    for (size_t i = from; i < list.size(); ++i) {
        const int s = list[i]->state;
        if (s == kStateQueued || s == kStateWorking || s == kStateWorkingAlt) list[i]->state = kStateNoIndex;
    }
}

std::string sizeText(int64_t bytes) { return std::to_string(bytes / 1048576) + " MB"; }

std::string dateText(const InputEntry& e) {
    char text[64];
    std::snprintf(text, sizeof text, "%d/%02d/%02d %02d:%02d:%02d", e.year, e.month, e.day, e.hour, e.minute, e.second);
    return text;
}

}  // namespace tavrelcut
