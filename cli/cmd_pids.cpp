// "pids": the program list of a recording, as "Get PID" reads it.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands.h"
#include "edit_state.h"
#include "program_tables.h"
#include "terminal_host.h"

namespace tavrel::cli {

namespace {

const char* const kPidsHelp =
    "usage: tavrelcut-cli pids [--packet N] FILE\n\n"
    "Reads the PAT and PMT of FILE's first program from packet N (default 0)\n"
    "and prints the program list, one line per PID: PID (hex), kind, name,\n"
    "selected and minimum-set flags.\n";

bool parseCount(const char* s, int64_t& v) {
    if (!s || !*s) return false;
    char* end = nullptr;
    errno = 0;
    long long x = std::strtoll(s, &end, 10);
    if (errno != 0 || *end != '\0' || x < 0) return false;
    v = x;
    return true;
}

}  // namespace

int cmdPids(int argc, char** argv) {
    int64_t packet = 0;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            std::fputs(kPidsHelp, stdout);
            return 0;
        } else if (!std::strcmp(a, "--packet")) {
            if (++i >= argc || !parseCount(argv[i], packet)) {
                std::fprintf(stderr, "pids: --packet needs a packet number\n");
                return 2;
            }
        } else if (a[0] == '-' && a[1] != '\0') {
            std::fprintf(stderr, "pids: unknown option '%s'\n%s", a, kPidsHelp);
            return 2;
        } else if (file.empty()) {
            file = a;
        } else {
            std::fprintf(stderr, "pids: only one FILE\n%s", kPidsHelp);
            return 2;
        }
    }
    if (file.empty()) {
        std::fputs(kPidsHelp, stderr);
        return 2;
    }

    EditState state;
    state.inputPath = file;
    TerminalHost host(false);
    acquirePids(state, host, packet, ProgramListChoice::Clipping);
    if (state.pidList.count() < 1) {
        host.showMessage("error", "ＰＩＤ情報の取得に失敗しました", MsgKind::Ok);
        return 1;
    }
    std::printf("PID   KIND  NAME                    SELECTED  MINIMUM\n");
    for (const ProgramEntry& e : state.pidList.entries)
        std::printf("%04X  %-4d  %-22s  %-8d  %d\n", static_cast<unsigned>(e.pid), e.kind, e.name.c_str(),
                    e.selected, e.minimum);
    return 0;
}

}  // namespace tavrel::cli
