// "check" and "errors": the transport error check and its error view.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "error_check.h"
#include "file.h"
#include "inputs.h"
#include "printable_name.h"
#include "terminal_host.h"

namespace tavrel::cli {

namespace {

struct CheckOptions {
    bool discon = false;
    std::vector<std::string> files;
};

// The check reports its progress as the input list's title ("Input [ 42％]");
// the terminal turns that into its progress line.
class CheckHost : public TerminalHost {
public:
    void setTitle(const std::string& title) override {
        int percent = 0;
        if (std::sscanf(title.c_str(), "Input [%d", &percent) == 1) setProgress(percent);
    }
};

int runCheck(const CheckOptions& o) {
    CheckHost host;
    int failures = 0;
    for (const auto& path : o.files) {
        host.setSubject(path);
        if (!checkRecording(path, host)) {
            ++failures;
            continue;
        }
        const int errorsBefore = host.errorCount();
        host.beginProgress("check " + printableName(path));
        host.setProgressRange(100);
        const ErrorCheckResult r = checkTransportErrors(path, o.discon, host);
        const bool ok = r.status == ErrorCheckResult::Done && host.errorCount() == errorsBefore;
        host.endProgress(ok);
        if (!ok) {
            if (r.status == ErrorCheckResult::Skipped) host.showFileError("no transport packets found", path, 0);
            ++failures;
            continue;
        }
        std::printf("%s\tpackets=%" PRId64 "\tDI=%" PRId64 "\tCC=%" PRId64 "\tCC(*)=%" PRId64 "\n",
                    printableName(path).c_str(), r.packets, r.counts[kErrorDiscontinuity], r.counts[kErrorCounter],
                    r.counts[kErrorCounterProgram]);
        std::fflush(stdout);
    }
    return failures == 0 ? kExitOk : kExitFailure;
}

int runErrors(const std::string& file) {
    TerminalHost host;
    const std::string path = errorFilePath(file);
    // The tree goes out as the file is read: an error file of any size is
    // printed with the memory of a bounded number of records.
    int err = 0;
    const ErrorFileStatus status = walkErrorFileTree(
        path, [](const ErrorTreeItem& item) { std::printf("%*s%s\n", item.level * 2, "", item.text.c_str()); }, &err);
    std::fflush(stdout);
    switch (status) {
    case ErrorFileStatus::Ok: return kExitOk;
    case ErrorFileStatus::Missing: host.showFileError("エラー情報ファイルがありません！", path, 0); break;
    case ErrorFileStatus::Unreadable: host.showFileError(kMsgRead, path, err); break;
    case ErrorFileStatus::Malformed:
        host.showFileError("not an error file (a 16-byte \"TS Error Check\" header and 16-byte records)", path, 0);
        break;
    }
    return kExitFailure;
}

}  // namespace

Command addCheckCommand(CLI::App& app) {
    auto o = std::make_shared<CheckOptions>();
    CLI::App* sub = app.add_subcommand("check", "check recordings for transport errors and write their error files");
    setCommandHelp(*sub, "usage: tavrelcut-cli check [--discon] [--] FILE...",
                   "Reads each FILE whole and writes its error file FILE_err.bin: every\n"
                   "continuity counter error (CC; CC(*) when the PID was last seen before the\n"
                   "program changed) and, with --discon, every discontinuity indicator (DI).\n"
                   "Prints one line per file: path, packet count and the number of records of\n"
                   "each kind. Errors found are no failure; the exit status is 1 only when a\n"
                   "file could not be checked.");
    sub->add_flag("--discon", o->discon, "also record packets whose discontinuity_indicator is set");
    sub->add_option("FILE", o->files, "recordings to check")->required();
    return {sub, [o] { return runCheck(*o); }};
}

Command addErrorsCommand(CLI::App& app) {
    auto file = std::make_shared<std::string>();
    CLI::App* sub = app.add_subcommand("errors", "print the error tree of a recording's error file");
    setCommandHelp(*sub, "usage: tavrelcut-cli errors [--] FILE",
                   "Prints the tree of FILE_err.bin as the error view shows it: \"Root\", then\n"
                   "one item per program, PID under the program and event under the PID,\n"
                   "each on its own line, indented by two spaces per level.");
    sub->add_option("FILE", *file, "the recording")->required();
    return {sub, [file] { return runErrors(*file); }};
}

}  // namespace tavrel::cli
