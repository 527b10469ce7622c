// "cut": adds each FILE:IN:OUT range to a clip list as "→" does and runs
// the cut as "Clipping" does.
#include <cinttypes>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "commands.h"
#include "cut_job.h"
#include "edit_state.h"
#include "gop_scan.h"
#include "inputs.h"
#include "printable_name.h"
#include "program_tables.h"
#include "terminal_host.h"

namespace tavrel::cli {

namespace {

struct ClipArg {
    std::string text;
    std::string file;
    int64_t in = 0;
    int64_t out = 0;
    bool toEnd = false;
};

struct CutOptions {
    std::string output;
    bool yes = false, no = false;
    bool out188 = false, rewriteTc = false, addAcp = false, adjustPcr = false, showTime = false;
    bool minimumPids = false;
    bool cleanJoins = false;
    std::string selectText;
    std::optional<std::set<int32_t>> selectPids;
    int64_t marginFront = 0, marginBack = 0;
    std::vector<std::string> clips;
};

bool isDecimal(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

// FILE:IN:OUT, split at the last two colons (FILE may hold colons).
std::optional<ClipArg> parseClip(const std::string& s) {
    const auto second = s.rfind(':');
    if (second == std::string::npos || second == 0) return std::nullopt;
    const auto first = s.rfind(':', second - 1);
    if (first == std::string::npos || first == 0) return std::nullopt;
    ClipArg c;
    c.text = s;
    c.file = s.substr(0, first);
    const std::string in = s.substr(first + 1, second - first - 1);
    const std::string out = s.substr(second + 1);
    const auto inValue = isDecimal(in) ? parseNumber(in) : std::nullopt;
    if (!inValue) return std::nullopt;
    c.in = *inValue;
    if (out == "end") {
        c.toEnd = true;
        return c;
    }
    const auto outValue = isDecimal(out) ? parseNumber(out) : std::nullopt;
    if (!outValue) return std::nullopt;
    c.out = *outValue;
    return c;
}

std::string pidText(int32_t pid) {
    char s[8];
    std::snprintf(s, sizeof s, "%04X", static_cast<unsigned>(pid));
    return s;
}

// True for the entries of the PMT's stream loop: video, audio and the other
// streams (kind 0 with a PID of their own; the PAT is PID 0).
bool isElementaryStream(const ProgramEntry& e) {
    return e.kind == kKindVideo || e.kind == kKindAudio || (e.kind == kKindPat && e.pid != 0);
}

// Applies --select-pids or --minimum-pids to the program list of the first
// clip's recording. False (reported) when nothing could be kept, or no
// elementary stream (tables and NULL packets alone play nothing).
bool choosePids(const CutOptions& o, EditState& cut, TerminalHost& host) {
    host.setSubject(cut.inputPath);
    acquirePids(cut, host, 0, ProgramListChoice::Clipping);
    cut.pidListSource = cut.inputPath;
    if (cut.pidList.count() < 1) {
        host.showMessage("error", "ＰＩＤ情報の取得に失敗しました", MsgKind::Ok);
        return false;
    }
    host.setSubject("");
    const std::string recording = printableName(cut.inputPath);
    std::string listed;
    int kept = 0;
    int keptStreams = 0;
    for (ProgramEntry& e : cut.pidList.entries) {
        e.selected = o.minimumPids ? e.minimum : (o.selectPids->count(e.pid) ? 1 : 0);
        kept += e.selected;
        if (e.selected && isElementaryStream(e)) ++keptStreams;
        if (listed.find(pidText(e.pid)) == std::string::npos) listed += (listed.empty() ? "" : ",") + pidText(e.pid);
    }
    if (o.selectPids) {
        if (kept == 0) {
            host.showMessage("error",
                             "--select-pids " + o.selectText + ": none of these PIDs is in the program list of " +
                                 recording + " (" + listed + "); the output would hold no packet",
                             MsgKind::Ok);
            return false;
        }
        for (int32_t pid : *o.selectPids) {
            bool found = false;
            for (const ProgramEntry& e : cut.pidList.entries) found = found || e.pid == pid;
            if (!found)
                std::fprintf(stderr, "warning: PID %s is not in the program list of %s\n", pidText(pid).c_str(),
                             recording.c_str());
        }
    }
    if (keptStreams == 0) {
        const std::string option = o.minimumPids ? "--minimum-pids" : "--select-pids " + o.selectText;
        host.showMessage("error",
                         option + ": keeps no video, audio or other stream of the program list of " + recording + " (" +
                             listed + "); the output would hold no stream",
                         MsgKind::Ok);
        return false;
    }
    cut.settings.selectPid = 1;
    cut.settings.optimize = o.minimumPids ? 1 : 0;
    return true;
}

int runCut(const CutOptions& o) {
    TerminalHost host(o.yes ? std::optional<bool>(true) : o.no ? std::optional<bool>(false) : std::nullopt);
    if (o.marginFront > 100 || o.marginBack > 100) {
        host.showMessage("error", "0～100 の範囲で入力してください", MsgKind::Ok);
        return kExitFailure;
    }
    std::vector<ClipArg> clips;
    for (const std::string& s : o.clips) clips.push_back(*parseClip(s));  // checked when parsed

    EditState cut;
    cut.outputPath = o.output;
    Settings& st = cut.settings;
    st.pacMargin = static_cast<int32_t>(o.marginFront);
    st.pacMarginBack = static_cast<int32_t>(o.marginBack);
    st.rewriteTc = o.rewriteTc ? 1 : 0;
    st.addAcp = o.addAcp ? 1 : 0;
    st.adjustPcr = o.adjustPcr ? 1 : 0;
    st.cleanJoin = o.cleanJoins ? 1 : 0;
    st.outTime = o.showTime ? 1 : 0;

    // Each recording's GOP list, as "Get GOP" would give it; a recording in
    // a read-only folder is cut from a list kept in memory.
    std::map<std::string, EditState> opened;
    for (const ClipArg& c : clips) {
        auto it = opened.find(c.file);
        if (it == opened.end()) {
            host.setSubject(c.file);
            if (!checkRecording(c.file, host)) return kExitFailure;
            EditState fileState;
            fileState.inputPath = c.file;
            fileState.settings = st;
            if (!obtainToolGopList(fileState, host)) return kExitFailure;
            host.setSubject("");
            it = opened.emplace(c.file, std::move(fileState)).first;
        }
        const EditState& src = it->second;
        // IN and OUT are indexes of the list, whose LAST entry ends the file.
        const int64_t last = static_cast<int64_t>(src.gopList.size()) - 1;
        const bool hasEnd = src.gopList.back().isLast();
        const std::string range = "0.." + std::to_string(last) + (hasEnd ? " or 'end'" : "");
        if (c.toEnd && !hasEnd) {
            host.showFileError("the GOP list has no end entry", c.file, 0);
            return kExitFailure;
        }
        const int64_t outMark = c.toEnd ? last : c.out;
        if (c.in > last || outMark > last) {
            host.showMessage("error",
                             "clip " + printableName(c.text) + ": " + (c.in > last ? "IN" : "OUT") + " " +
                                 std::to_string(c.in > last ? c.in : outMark) + " is past the GOP list of " +
                                 printableName(c.file) + " (valid GOP indexes: " + range + ")",
                             MsgKind::Ok);
            return kExitFailure;
        }
        if (c.in >= outMark) {
            host.showMessage("error", "範囲選択が正しくありません", MsgKind::Ok);
            std::fprintf(stderr, "  clip %s: IN must be below OUT\n", printableName(c.text).c_str());
            return kExitFailure;
        }
        cut.inputPath = c.file;
        cut.gopList = src.gopList;
        cut.geometry = src.geometry;
        cut.inMark = c.in;
        cut.outMark = outMark;
        if (!addClip(cut, host)) return kExitFailure;
    }

    // The first clip's recording stays the open file of the cut: the PID
    // choice is made on its program list.
    if (!clips.empty()) {
        const EditState& first = opened.at(clips.front().file);
        cut.inputPath = first.inputPath;
        cut.gopList = first.gopList;
        cut.geometry = first.geometry;
        cut.streamVideoPid = first.streamVideoPid;
        if ((o.selectPids || o.minimumPids) && !choosePids(o, cut, host)) return kExitFailure;
    }

    // The job's own refusals that concern no file come without a subject.
    if (cut.clipList.empty()) {
        host.showMessage("error", "Clip List に登録して下さい", MsgKind::Ok);
        return kExitFailure;
    }
    if (cut.outputPath.empty()) {
        host.showMessage("error", "出力ファイル名を設定して下さい", MsgKind::Ok);
        return kExitFailure;
    }
    host.setSubject(o.output);
    CutJob job;
    const int errorsBefore = host.errorCount();
    if (!startCutJob(cut, host, o.out188, job)) {
        // The one refusal without a message of its own: the question about
        // an existing output, answered no.
        if (host.errorCount() == errorsBefore) {
            host.setSubject("");
            host.showMessage("error", printableName(o.output) + ": exists; give --yes to replace it", MsgKind::Ok);
        }
        return kExitFailure;
    }
    host.beginProgress("cut " + printableName(o.output));
    host.setBusy(true);
    const bool completed = runCutJob(cut, host, job) == CutOutcome::Completed;
    finishCutJob(host, job);
    host.endProgress(completed);
    return completed && host.errorCount() == 0 ? kExitOk : kExitFailure;
}

}  // namespace

Command addCutCommand(CLI::App& app) {
    auto o = std::make_shared<CutOptions>();
    CLI::App* sub = app.add_subcommand("cut", "write GOP ranges of recordings into one new stream");
    setCommandHelp(*sub,
                   "usage: tavrelcut-cli cut -o OUT [--yes|--no] [--188out] [--rewrite-tc] [--add-acp]\n"
                   "                         [--adjust-pcr] [--clean-joins]\n"
                   "                         [--select-pids PID,...|--minimum-pids]\n"
                   "                         [--margin FRONT[,BACK]] [--time] [--] CLIP...",
                   "CLIP is FILE:IN:OUT with IN and OUT GOP indexes of FILE's GOP list as 'gops'\n"
                   "prints it (its index file is loaded when fresh, else FILE is scanned and the\n"
                   "index written); OUT may be 'end' for the end of the file. IN must be below\n"
                   "OUT and both at most the index of the list's LAST entry. A clip covers GOPs\n"
                   "IN-FRONT to OUT+BACK-1; the out GOP is not copied. Each clip is read with its\n"
                   "own recording's packet size; recordings of different packet sizes can only be\n"
                   "joined with --188out when they are 188 or 192. The output is written under a\n"
                   "temporary name and takes its place only when complete.\n"
                   "\n"
                   "Without --clean-joins the packets of each clip are copied as they are. With it\n"
                   "the continuity counters run on across joins; at each clip's start and end the\n"
                   "packets of audio and other non-video streams that belong to a PES begun before\n"
                   "the start or cut off at the end are left out (a PCR they carry stays, in a\n"
                   "packet of its adaptation field only); the first PCR after a join where the\n"
                   "clock jumps gets the discontinuity indicator. Video packets are never left out:\n"
                   "one that continues a picture begun before the clip (a start moved by\n"
                   "--adjust-pcr) and the PCR-PID packets of --add-acp keep their adaptation\n"
                   "field only.");
    sub->add_option("-o", o->output, "output file")->type_name("OUT");
    auto* yes = sub->add_flag("--yes", o->yes, "overwrite an existing output without asking");
    auto* no = sub->add_flag("--no", o->no, "never overwrite (default: ask on a terminal, else no)");
    yes->excludes(no);
    sub->add_flag("--188out", o->out188, "write 192-byte packets as 188-byte packets");
    sub->add_flag("--rewrite-tc", o->rewriteTc, "renumber the GOP time codes of the output");
    sub->add_flag("--add-acp", o->addAcp, "put the PAT and two PCR-PID packets before each later clip");
    sub->add_flag("--adjust-pcr", o->adjustPcr, "move each later clip's start back over two PCR changes");
    sub->add_flag("--clean-joins", o->cleanJoins,
                  "make the joins and clip edges decode cleanly: counters carried on, cut-off\n"
                  "audio PES left out, the PCR jump marked");
    auto* select = sub->add_option_function<std::string>(
        "--select-pids",
        [o](const std::string& s) {
            o->selectPids = parsePidList(s);
            if (!o->selectPids) throw CLI::ValidationError("--select-pids", "'" + s + "' is not a list of PIDs");
            o->selectText = s;
        },
        "keep only these PIDs: hexadecimal as 'pids' prints them (0100 or 0x100), comma\n"
        "separated; PAT (0000) and PMT are kept only when listed");
    select->type_name("LIST");
    auto* minimum = sub->add_flag("--minimum-pids", o->minimumPids, "keep only the minimum set of the program list");
    select->excludes(minimum);
    sub->add_option_function<std::string>(
           "--margin",
           [o](const std::string& s) {
               const auto comma = s.find(',');
               const auto front = parseNumber(s.substr(0, comma));
               const auto back =
                   comma == std::string::npos ? std::optional<int64_t>(0) : parseNumber(s.substr(comma + 1));
               if (!front || !back || *front < 0 || *back < 0)
                   throw CLI::ValidationError("--margin", "'" + s + "' is not FRONT[,BACK] in GOPs");
               o->marginFront = *front;
               o->marginBack = *back;
           },
           "clip margins in GOPs before and after (0..100, default 0)")
        ->type_name("F[,B]");
    sub->add_flag("--time", o->showTime, "report the elapsed time");
    sub->add_option("CLIP", o->clips, "FILE:IN:OUT ranges, in output order")
        ->check(CLI::Validator(
            [](std::string& s) -> std::string {
                return parseClip(s) ? "" : "'" + s + "' is not FILE:IN:OUT (GOP indexes, OUT may be 'end')";
            },
            ""))
        ->type_name("");
    sub->callback([o] {
        if (o->clips.empty() && o->output.empty()) throw CLI::RequiredError("-o OUT and CLIP");
    });
    return {sub, [o] { return runCut(*o); }};
}

}  // namespace tavrel::cli
