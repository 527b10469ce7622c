// "pids": the program list of a recording, as "Get PID" reads it.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "edit_state.h"
#include "inputs.h"
#include "program_tables.h"
#include "terminal_host.h"

namespace tavrel::cli {

namespace {

struct PidsOptions {
    std::optional<int64_t> packet;
    std::string file;
};

int runPids(const PidsOptions& o) {
    TerminalHost host(false);
    host.setSubject(o.file);
    if (!checkRecording(o.file, host)) return kExitFailure;
    EditState state;
    state.inputPath = o.file;
    acquirePids(state, host, o.packet.value_or(0), ProgramListChoice::Clipping);
    if (state.pidList.count() < 1) {
        host.showMessage("error", "ＰＩＤ情報の取得に失敗しました", MsgKind::Ok);
        return kExitFailure;
    }
    std::printf("PID   KIND  NAME                    SELECTED  MINIMUM\n");
    for (const ProgramEntry& e : state.pidList.entries)
        std::printf("%04X  %-4d  %-22s  %-8d  %d\n", static_cast<unsigned>(e.pid), e.kind, e.name.c_str(), e.selected,
                    e.minimum);
    return host.errorCount() == 0 ? kExitOk : kExitFailure;
}

}  // namespace

Command addPidsCommand(CLI::App& app) {
    auto o = std::make_shared<PidsOptions>();
    CLI::App* sub = app.add_subcommand("pids", "print the program list of a recording");
    setCommandHelp(*sub, "usage: tavrelcut-cli pids [--packet N] [--] FILE",
                   "Reads the PAT and PMT of FILE's first program from packet N (default 0)\n"
                   "and prints the program list, one line per PID: PID (hexadecimal, as\n"
                   "'cut --select-pids' reads it), kind, name, selected and minimum-set flags.");
    addNumberOption(*sub, "--packet", o->packet, 0, INT64_MAX / 1000, "packet to start reading at");
    sub->add_option("FILE", o->file, "the recording")->required();
    return {sub, [o] { return runPids(*o); }};
}

}  // namespace tavrel::cli
