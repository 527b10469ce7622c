// "index" and "gops": the GOP scan from the command line.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "file.h"
#include "gop_scan.h"
#include "inputs.h"
#include "printable_name.h"
#include "terminal_host.h"

namespace tavrel::cli {

namespace {

struct IndexOptions {
    bool renumber = false;
    std::string gopDir;
    std::vector<std::string> files;
};

struct GopsOptions {
    bool renumber = false;
    bool yes = false;
    bool no = false;
    std::string file;
};

int runIndex(const IndexOptions& o) {
    TerminalHost host(false);
    int failures = 0;
    for (const auto& path : o.files) {
        host.setSubject(path);
        if (!checkRecording(path, host)) {
            ++failures;
            continue;
        }
        EditState state;
        state.inputPath = path;
        state.settings.reNo = o.renumber ? 1 : 0;
        state.settings.selGop = o.gopDir.empty() ? 0 : 1;
        state.settings.gopFolder = o.gopDir;
        ScanOptions opt;
        opt.staleCheckAndLoad = false;
        const int errorsBefore = host.errorCount();
        host.beginProgress("index " + printableName(path));
        const bool ok = runGopScan(state, host, opt);
        host.endProgress(ok);
        if (!ok || host.errorCount() != errorsBefore) {
            if (host.errorCount() == errorsBefore) host.showFileError("no transport packets found", path, 0);
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
        std::printf("%s\tpacket=%d\tvideo_pid=0x%04X\tgops=%" PRId64 "\tpackets=%" PRId64 "\n",
                    printableName(path).c_str(), state.geometry.size, static_cast<unsigned>(state.streamVideoPid), gops,
                    packets);
        std::fflush(stdout);
    }
    return failures == 0 ? kExitOk : kExitFailure;
}

int runGops(const GopsOptions& o) {
    std::optional<bool> answer;
    if (o.yes) answer = true;
    if (o.no) answer = false;
    TerminalHost host(answer);
    host.setSubject(o.file);
    if (!checkRecording(o.file, host)) return kExitFailure;
    EditState state;
    state.inputPath = o.file;
    state.settings.reNo = o.renumber ? 1 : 0;
    ScanOptions opt;
    opt.listWithoutIndex = true;
    ScanReport report;
    host.beginProgress("scan " + printableName(o.file));
    const bool ok = runGopScan(state, host, opt, &report);
    host.endProgress(ok);
    noteBadIndex(report, host);
    if (!ok && host.errorCount() == 0) host.showFileError("no transport packets found", o.file, 0);
    if (ok) noteUnsavedIndex(report, o.file, host);
    for (size_t i = 0; i < state.gopList.size(); ++i) {
        const GopEntry& e = state.gopList[i];
        std::printf("%zu\t%04X\t%s\t%s\t%" PRId64 "\t%" PRId64 "\n", i, static_cast<unsigned>(e.pid), e.timeCode,
                    e.ptsText, e.pts, e.packet);
    }
    return ok && host.errorCount() == 0 ? kExitOk : kExitFailure;
}

}  // namespace

Command addIndexCommand(CLI::App& app) {
    auto o = std::make_shared<IndexOptions>();
    CLI::App* sub = app.add_subcommand("index", "scan recordings and write their GOP index files");
    setCommandHelp(*sub, "usage: tavrelcut-cli index [--renumber] [--gop-dir DIR] [--] FILE...",
                   "Scans each FILE afresh and writes its GOP index file (FILE.txt, or DIR/NAME.txt\n"
                   "with --gop-dir). Prints one line per file: path, packet size, video PID,\n"
                   "number of GOPs and packet count. A file that fails is reported with its name\n"
                   "and the others are still indexed; the exit status is then 1.");
    sub->add_flag("--renumber", o->renumber, "renumber GOP time codes (two GOPs per second)");
    sub->add_option("--gop-dir", o->gopDir, "write index files into DIR, an existing folder")
        ->type_name("DIR")
        ->check(CLI::Validator(
            [](std::string& dir) -> std::string {
                if (isDirectory(dir)) return "";
                return dir + (fileExists(dir) ? " is not a folder" : ": no such folder");
            },
            ""));
    sub->add_option("FILE", o->files, "recordings to index")->required();
    return {sub, [o] { return runIndex(*o); }};
}

Command addGopsCommand(CLI::App& app) {
    auto o = std::make_shared<GopsOptions>();
    CLI::App* sub = app.add_subcommand("gops", "load or scan a recording and print its GOP list");
    setCommandHelp(*sub, "usage: tavrelcut-cli gops [--renumber] [--yes|--no] [--] FILE",
                   "Loads FILE's GOP index file (asking first whether a stale one is to be\n"
                   "rebuilt) or scans FILE, then prints the GOP list, one line per entry:\n"
                   "index, PID, time code, PTS time, PTS, packet number. When the index file\n"
                   "cannot be written (a read-only folder) the list is printed all the same\n"
                   "with a note on stderr.");
    sub->add_flag("--renumber", o->renumber, "renumber GOP time codes when scanning");
    auto* yes = sub->add_flag("--yes", o->yes, "rebuild a stale index without asking");
    auto* no = sub->add_flag("--no", o->no, "keep a stale index (default: ask on a terminal, else no)");
    yes->excludes(no);
    sub->add_option("FILE", o->file, "the recording")->required();
    return {sub, [o] { return runGops(*o); }};
}

}  // namespace tavrel::cli
