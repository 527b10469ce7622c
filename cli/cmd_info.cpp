// "info": the File Info text of a recording, as the dialog shows it.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "edit_state.h"
#include "file_info.h"
#include "gop_scan.h"
#include "inputs.h"
#include "terminal_host.h"

namespace tavrel::cli {

namespace {

struct InfoOptions {
    std::optional<int64_t> gop;
    std::optional<int64_t> packet;
    std::string file;
};

int runInfo(const InfoOptions& o) {
    TerminalHost host(false);
    host.setSubject(o.file);
    if (!checkRecording(o.file, host)) return kExitFailure;
    EditState state;
    state.inputPath = o.file;
    int64_t start = o.packet.value_or(0);
    if (o.gop) {
        // The packet of the GOP the window would have under its slider.
        if (!obtainToolGopList(state, host) || !gopInList(state, *o.gop, host)) return kExitFailure;
        start = state.gopList[static_cast<size_t>(*o.gop)].packet;
    }
    const std::optional<std::string> text = runFileInfo(state, host, start);
    if (!text) {
        if (host.errorCount() == 0) host.showFileError("no file information", o.file, 0);
        return kExitFailure;
    }
    // The dialog's text with LF line ends, its last line end included.
    std::string out;
    for (size_t i = 0; i < text->size(); ++i)
        if (!((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n')) out.push_back((*text)[i]);
    std::fputs(out.c_str(), stdout);
    return host.errorCount() == 0 ? kExitOk : kExitFailure;
}

}  // namespace

Command addInfoCommand(CLI::App& app) {
    auto o = std::make_shared<InfoOptions>();
    CLI::App* sub = app.add_subcommand("info", "print the File Info text of a recording");
    setCommandHelp(*sub, "usage: tavrelcut-cli info [--gop N | --packet N] [--] FILE",
                   "Reads FILE's first program, then its first video sequence header, audio\n"
                   "frame header and PTS of each stream from the start packet on, and prints\n"
                   "the File Info text as the dialog shows it. The start packet is 0, the\n"
                   "packet of GOP N (as 'gops' numbers them) or packet N.");
    auto* gop = addNumberOption(*sub, "--gop", o->gop, 0, INT32_MAX, "start at the packet of GOP N");
    auto* packet = addNumberOption(*sub, "--packet", o->packet, 0, INT64_MAX / 1000, "start at packet N");
    gop->excludes(packet);
    sub->add_option("FILE", o->file, "the recording")->required();
    return {sub, [o] { return runInfo(*o); }};
}

}  // namespace tavrel::cli
