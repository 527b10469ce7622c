// "index" and "gops": the GOP scan from the command line.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "file.h"
#include "gop_scan.h"
#include "terminal_host.h"

namespace tavrel::cli {

namespace {

const char* const kIndexHelp =
    "usage: tavrelcut-cli index [--renumber] [--gop-dir DIR] FILE...\n\n"
    "Scans each FILE afresh and writes its GOP index file (FILE.txt, or\n"
    "DIR/NAME.txt with --gop-dir when DIR exists). Prints one line per file:\n"
    "path, packet size, video PID, number of GOPs and packet count.\n\n"
    "  --renumber     renumber GOP time codes (two GOPs per second)\n"
    "  --gop-dir DIR  write index files into DIR\n";

const char* const kGopsHelp =
    "usage: tavrelcut-cli gops [--renumber] [--yes|--no] FILE\n\n"
    "Loads FILE's GOP index file (asking first whether a stale one is to be\n"
    "rebuilt) or scans FILE, then prints the GOP list, one line per entry:\n"
    "index, PID, time code, PTS time, PTS, packet number.\n\n"
    "  --renumber  renumber GOP time codes when scanning\n"
    "  --yes/--no  answer the rebuild question (default: ask on a terminal, else no)\n";

bool isHelp(const char* a) { return !std::strcmp(a, "--help") || !std::strcmp(a, "-h"); }

}  // namespace

int cmdIndex(int argc, char** argv) {
    bool renumber = false;
    std::string gopDir;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (isHelp(a)) {
            std::fputs(kIndexHelp, stdout);
            return 0;
        } else if (!std::strcmp(a, "--renumber")) {
            renumber = true;
        } else if (!std::strcmp(a, "--gop-dir")) {
            if (++i >= argc) {
                std::fprintf(stderr, "index: --gop-dir needs a folder\n");
                return 2;
            }
            gopDir = argv[i];
        } else if (a[0] == '-' && a[1] != '\0') {
            std::fprintf(stderr, "index: unknown option '%s'\n%s", a, kIndexHelp);
            return 2;
        } else {
            files.emplace_back(a);
        }
    }
    if (files.empty()) {
        std::fputs(kIndexHelp, stderr);
        return 2;
    }
    if (!gopDir.empty() && !isDirectory(gopDir))
        std::fprintf(stderr, "warning: %s is not a folder; index files go next to the recordings\n",
                     gopDir.c_str());

    int failures = 0;
    for (const auto& path : files) {
        EditState state;
        state.inputPath = path;
        state.settings.reNo = renumber ? 1 : 0;
        state.settings.selGop = gopDir.empty() ? 0 : 1;
        state.settings.gopFolder = gopDir;
        TerminalHost host(false);
        ScanOptions opt;
        opt.staleCheckAndLoad = false;
        if (isDirectory(path)) {
            std::fprintf(stderr, "error: %s is a folder\n", path.c_str());
            ++failures;
            continue;
        }
        const bool ok = runGopScan(state, host, opt);
        if (!ok) {
            if (host.errorCount() == 0)
                std::fprintf(stderr, "error: %s: no transport packets found\n", path.c_str());
            ++failures;
            continue;
        }
        int64_t gops = 0;
        int64_t packets = 0;
        for (const auto& e : state.gopList) {
            if (e.isLast())
                packets = e.packet;
            else
                ++gops;
        }
        std::printf("%s\tpacket=%d\tvideo_pid=0x%04X\tgops=%" PRId64 "\tpackets=%" PRId64 "\n", path.c_str(),
                    state.geometry.size, static_cast<unsigned>(state.streamVideoPid), gops, packets);
    }
    return failures == 0 ? 0 : 1;
}

int cmdGops(int argc, char** argv) {
    bool renumber = false;
    std::optional<bool> answer;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (isHelp(a)) {
            std::fputs(kGopsHelp, stdout);
            return 0;
        } else if (!std::strcmp(a, "--renumber")) {
            renumber = true;
        } else if (!std::strcmp(a, "--yes")) {
            answer = true;
        } else if (!std::strcmp(a, "--no")) {
            answer = false;
        } else if (a[0] == '-' && a[1] != '\0') {
            std::fprintf(stderr, "gops: unknown option '%s'\n%s", a, kGopsHelp);
            return 2;
        } else if (file.empty()) {
            file = a;
        } else {
            std::fprintf(stderr, "gops: one FILE only\n");
            return 2;
        }
    }
    if (file.empty()) {
        std::fputs(kGopsHelp, stderr);
        return 2;
    }
    if (isDirectory(file)) {
        std::fprintf(stderr, "error: %s is a folder\n", file.c_str());
        return 1;
    }
    EditState state;
    state.inputPath = file;
    state.settings.reNo = renumber ? 1 : 0;
    TerminalHost host(answer);
    const bool ok = runGopScan(state, host);
    if (!ok && host.errorCount() == 0)
        std::fprintf(stderr, "error: %s: no transport packets found\n", file.c_str());
    for (size_t i = 0; i < state.gopList.size(); ++i) {
        const GopEntry& e = state.gopList[i];
        std::printf("%zu\t%04X\t%s\t%s\t%" PRId64 "\t%" PRId64 "\n", i, static_cast<unsigned>(e.pid), e.timeCode,
                    e.ptsText, e.pts, e.packet);
    }
    return ok ? 0 : 1;
}

}  // namespace tavrel::cli
