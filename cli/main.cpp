// tavrelcut-cli: the cutting engine on the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int, char**);
    const char* summary;
};

const Command kCommands[] = {
    {"index", tavrel::cli::cmdIndex, "scan recordings and write their GOP index files"},
    {"gops", tavrel::cli::cmdGops, "load or scan a recording and print its GOP list"},
#ifdef TAVREL_HAVE_CUT
    {"pids", tavrel::cli::cmdPids, "print the program list of a recording"},
    {"cut", tavrel::cli::cmdCut, "write GOP ranges of recordings into one new stream"},
#endif
#ifdef TAVREL_HAVE_PREVIEW
    {"preview", tavrel::cli::cmdPreview, "decode the picture at a GOP or byte position"},
#endif
};

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: tavrelcut-cli COMMAND [OPTIONS] ...\n"
                 "       tavrelcut-cli COMMAND --help\n"
                 "       tavrelcut-cli --version\n\n"
                 "Cuts MPEG-2 transport stream recordings at GOP boundaries without re-encoding.\n\n"
                 "commands:\n");
    for (const auto& c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        usage(stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("tavrelcut-cli %s\n", TAVREL_VERSION);
        return 0;
    }
    for (const auto& c : kCommands)
        if (first == c.name) return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "tavrelcut-cli: unknown command '%s'\n", first.c_str());
    usage(stderr);
    return 2;
}
