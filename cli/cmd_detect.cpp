// "detect": finds the commercial breaks of a recording and prints the
// programme parts as clips for "cut", or the breaks with their spots.
#include <cstdio>
#include <memory>
#include <string>

#include "audio_levels.h"
#include "commands.h"
#include "detect_job.h"
#include "edit_state.h"
#include "file.h"
#include "gop_scan.h"
#include "inputs.h"
#include "printable_name.h"
#include "terminal_host.h"

namespace tavrel::cli {

namespace {

struct DetectOptions {
    std::string file;
    bool breaks = false;
};

std::string outText(int64_t gop, int64_t count) { return gop >= count ? "end" : std::to_string(gop); }

int runDetect(const DetectOptions& o) {
    TerminalHost host(false);
    host.setSubject(o.file);
    if (!checkRecording(o.file, host)) return kExitFailure;

    // Without audio there is nothing to find: say so before a scan writes
    // the GOP index.
    {
        File f;
        PacketGeometry g;
        detect::AudioStream stream;
        if (f.openRead(o.file) && detectPacketGeometryLimited(f, g) &&
            !detect::findFirstAudioStream(o.file, g, stream)) {
            host.showFileError(stream.pid >= 0 ? detect::noDecoderText(stream) : std::string(detect::kMsgNoAudio),
                               o.file, 0);
            return kExitFailure;
        }
    }

    // A recording the detector refuses leaves nothing behind, not even the
    // GOP index its scan wrote.
    EditState state;
    state.inputPath = o.file;
    ScanReport report;
    const auto dropNewIndex = [&] {
        if (report.indexSaved && !report.indexPath.empty()) std::remove(report.indexPath.c_str());
    };
    if (!obtainToolGopList(state, host, &report)) {
        dropNewIndex();
        return kExitFailure;
    }

    detect::DetectResult result;
    host.beginProgress("detect " + printableName(o.file));
    const detect::DetectStatus status = detect::runDetectJob(state, host, result);
    host.endProgress(status == detect::DetectStatus::Ok);
    if (status != detect::DetectStatus::Ok) {
        dropNewIndex();
        return kExitFailure;
    }

    const std::string name = o.file;
    if (o.breaks) {
        for (const detect::Break& b : result.breaks) {
            std::string line = name + ":" + std::to_string(b.firstGop) + ":" + outText(b.endGop, result.gopCount);
            char buf[32];
            for (double s : b.spots) {
                std::snprintf(buf, sizeof buf, " %.1f", s);
                line += buf;
            }
            std::printf("%s\n", line.c_str());
        }
    } else {
        for (const detect::Part& p : result.parts)
            std::printf("%s:%lld:%s\n", name.c_str(), static_cast<long long>(p.inGop),
                        outText(p.outGop, result.gopCount).c_str());
    }
    if (!result.logoFound) host.showNote("no station logo found; breaks need two spots in a row");
    return host.errorCount() == 0 ? kExitOk : kExitFailure;
}

}  // namespace

Command addDetectCommand(CLI::App& app) {
    auto o = std::make_shared<DetectOptions>();
    CLI::App* sub = app.add_subcommand("detect", "find the commercial breaks and print the programme parts");
    setCommandHelp(*sub, "usage: tavrelcut-cli detect [--breaks] FILE",
                   "Finds the commercial breaks of a recording and prints the programme parts\n"
                   "between them, one FILE:IN:OUT clip per line (GOP indexes, OUT exclusive, 'end'\n"
                   "for the end), so that\n"
                   "    tavrelcut-cli cut -o OUT.ts $(tavrelcut-cli detect FILE)\n"
                   "keeps the programme. A break is a run of 15, 30 or 60 second spots, each\n"
                   "edge a short silence of the first audio stream on a cut of the picture, and\n"
                   "the spots free of the station logo where one is found (it is found by\n"
                   "itself). With --breaks the breaks are printed instead, FILE:FIRST:END and\n"
                   "the spot lengths in seconds. The GOP list is loaded or scanned as for\n"
                   "'gops'. Fails without audio, without video, with audio that cannot be\n"
                   "decoded, and for a recording shorter than one spot.");
    sub->add_flag("--breaks", o->breaks, "print the breaks and their spots instead of the parts");
    sub->add_option("FILE", o->file, "the recording")->required();
    return {sub, [o] { return runDetect(*o); }};
}

}  // namespace tavrel::cli
