// "cut": adds each FILE:IN:OUT range to a clip list as "→" does and runs
// the cut as "Clipping" does.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "commands.h"
#include "cut_job.h"
#include "edit_state.h"
#include "gop_scan.h"
#include "program_tables.h"
#include "terminal_host.h"

namespace tavrel::cli {

namespace {

const char* const kCutHelp =
    "usage: tavrelcut-cli cut -o OUT [--yes|--no] [--188out] [--rewrite-tc] [--add-acp]\n"
    "                         [--adjust-pcr] [--select-pids PID,...|--minimum-pids]\n"
    "                         [--margin FRONT[,BACK]] [--time] CLIP...\n\n"
    "CLIP is FILE:IN:OUT with IN and OUT GOP indexes of FILE's GOP list (its\n"
    "index file is loaded when fresh, else FILE is scanned and the index\n"
    "written); OUT may be 'end' for the end of the file. A clip covers GOPs\n"
    "IN-FRONT to OUT+BACK-1; the out GOP is not copied. The packet geometry of\n"
    "the first CLIP's file is used for every clip.\n\n"
    "  -o OUT              output file\n"
    "  --yes/--no          answer the overwrite question (default: ask on a terminal, else no)\n"
    "  --188out            write 192-byte packets as 188-byte packets\n"
    "  --rewrite-tc        renumber the GOP time codes of the output\n"
    "  --add-acp           put the PAT and two PCR-PID packets before each later clip\n"
    "  --adjust-pcr        move each later clip's start back over two PCR changes\n"
    "  --select-pids LIST  keep only these PIDs (decimal or 0x hex, comma separated)\n"
    "  --minimum-pids      keep only the minimum set of the program list\n"
    "  --margin F[,B]      clip margins in GOPs before and after (0..100, default 0)\n"
    "  --time              report the elapsed time\n";

struct ClipArg {
    std::string file;
    int64_t in = 0;
    int64_t out = 0;
    bool toEnd = false;
};

bool parseInt(const std::string& s, int64_t& v) {
    if (s.empty()) return false;
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const char* p = s.c_str() + (hex ? 2 : 0);
    if (*p == '\0' || *p == '-' || *p == '+') return false;
    char* end = nullptr;
    errno = 0;
    long long x = std::strtoll(p, &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0') return false;
    v = x;
    return true;
}

bool parseClip(const std::string& s, ClipArg& c) {
    const auto second = s.rfind(':');
    if (second == std::string::npos || second == 0) return false;
    const auto first = s.rfind(':', second - 1);
    if (first == std::string::npos || first == 0) return false;
    c.file = s.substr(0, first);
    const std::string in = s.substr(first + 1, second - first - 1);
    const std::string out = s.substr(second + 1);
    if (in.find_first_not_of("0123456789") != std::string::npos || !parseInt(in, c.in)) return false;
    if (out == "end") {
        c.toEnd = true;
        return true;
    }
    return out.find_first_not_of("0123456789") == std::string::npos && parseInt(out, c.out);
}

bool parsePidList(const std::string& s, std::set<int32_t>& pids) {
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t comma = s.find(',', pos);
        if (comma == std::string::npos) comma = s.size();
        int64_t v = 0;
        if (!parseInt(s.substr(pos, comma - pos), v) || v < 0 || v > 0x1FFF) return false;
        pids.insert(static_cast<int32_t>(v));
        pos = comma + 1;
    }
    return !pids.empty();
}

bool parseMargins(const std::string& s, int64_t& front, int64_t& back) {
    const auto comma = s.find(',');
    if (comma == std::string::npos) {
        back = 0;
        return parseInt(s, front);
    }
    return parseInt(s.substr(0, comma), front) && parseInt(s.substr(comma + 1), back);
}

}  // namespace

int cmdCut(int argc, char** argv) {
    std::string output;
    std::optional<bool> answer;
    bool out188 = false, rewriteTc = false, addAcp = false, adjustPcr = false, showTime = false;
    bool minimumPids = false;
    std::optional<std::set<int32_t>> selectPids;
    int64_t marginFront = 0, marginBack = 0;
    std::vector<ClipArg> clips;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (++i >= argc) {
                std::fprintf(stderr, "cut: %s needs %s\n", a.c_str(), what);
                return nullptr;
            }
            return argv[i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kCutHelp, stdout);
            return 0;
        } else if (a == "-o") {
            const char* v = value("a file name");
            if (!v) return 2;
            output = v;
        } else if (a == "--yes") {
            answer = true;
        } else if (a == "--no") {
            answer = false;
        } else if (a == "--188out") {
            out188 = true;
        } else if (a == "--rewrite-tc") {
            rewriteTc = true;
        } else if (a == "--add-acp") {
            addAcp = true;
        } else if (a == "--adjust-pcr") {
            adjustPcr = true;
        } else if (a == "--time") {
            showTime = true;
        } else if (a == "--minimum-pids") {
            minimumPids = true;
        } else if (a == "--select-pids") {
            const char* v = value("a PID list");
            if (!v) return 2;
            std::set<int32_t> pids;
            if (!parsePidList(v, pids)) {
                std::fprintf(stderr, "cut: bad PID list '%s'\n", v);
                return 2;
            }
            selectPids = pids;
        } else if (a == "--margin") {
            const char* v = value("FRONT[,BACK]");
            if (!v) return 2;
            if (!parseMargins(v, marginFront, marginBack)) {
                std::fprintf(stderr, "cut: bad margin '%s'\n", v);
                return 2;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "cut: unknown option '%s'\n%s", a.c_str(), kCutHelp);
            return 2;
        } else {
            ClipArg c;
            if (!parseClip(a, c)) {
                std::fprintf(stderr, "cut: bad clip '%s' (FILE:IN:OUT)\n", a.c_str());
                return 2;
            }
            clips.push_back(c);
        }
    }
    if (selectPids && minimumPids) {
        std::fprintf(stderr, "cut: --select-pids and --minimum-pids exclude each other\n");
        return 2;
    }
    if (clips.empty() && output.empty()) {
        std::fputs(kCutHelp, stderr);
        return 2;
    }

    TerminalHost host(answer);
    host.setShowProgress(isatty(STDERR_FILENO) != 0);
    if (marginFront < 0 || marginFront > 100 || marginBack < 0 || marginBack > 100) {
        host.showMessage("error", "0～100 の範囲で入力してください", MsgKind::Ok);
        return 1;
    }

    EditState cut;
    cut.outputPath = output;
    Settings& st = cut.settings;
    st.pacMargin = static_cast<int32_t>(marginFront);
    st.pacMarginBack = static_cast<int32_t>(marginBack);
    st.rewriteTc = rewriteTc ? 1 : 0;
    st.addAcp = addAcp ? 1 : 0;
    st.adjustPcr = adjustPcr ? 1 : 0;
    st.outTime = showTime ? 1 : 0;

    // Each recording's GOP list, as "Get GOP" would give it.
    std::map<std::string, EditState> opened;
    for (const ClipArg& c : clips) {
        auto it = opened.find(c.file);
        if (it == opened.end()) {
            EditState fileState;
            fileState.inputPath = c.file;
            fileState.settings = st;
            const int errorsBefore = host.errorCount();
            if (!obtainGopList(fileState, host) || fileState.gopList.empty()) {
                if (host.errorCount() == errorsBefore)
                    std::fprintf(stderr, "error: %s: no GOP list\n", c.file.c_str());
                return 1;
            }
            it = opened.emplace(c.file, std::move(fileState)).first;
        }
        const EditState& src = it->second;
        if (c.toEnd && !src.gopList.back().isLast()) {
            std::fprintf(stderr, "error: %s: the GOP list has no end entry\n", c.file.c_str());
            return 1;
        }
        cut.inputPath = c.file;
        cut.gopList = src.gopList;
        cut.inMark = c.in;
        cut.outMark = c.toEnd ? static_cast<int64_t>(src.gopList.size()) - 1 : c.out;
        if (!addClip(cut, host)) return 1;
    }

    // The cut plays the first clip's recording: its geometry serves all clips.
    if (!clips.empty()) {
        const EditState& first = opened.at(clips.front().file);
        cut.inputPath = first.inputPath;
        cut.gopList = first.gopList;
        if (selectPids || minimumPids) {
            acquirePids(cut, host, 0, ProgramListChoice::Clipping);
            cut.pidListSource = cut.inputPath;
            if (cut.pidList.count() < 1) {
                host.showMessage("error", "ＰＩＤ情報の取得に失敗しました", MsgKind::Ok);
                return 1;
            }
            for (ProgramEntry& e : cut.pidList.entries)
                e.selected = minimumPids ? e.minimum : (selectPids->count(e.pid) ? 1 : 0);
            if (selectPids) {
                for (int32_t pid : *selectPids) {
                    bool listed = false;
                    for (const ProgramEntry& e : cut.pidList.entries) listed = listed || e.pid == pid;
                    if (!listed)
                        std::fprintf(stderr, "warning: PID 0x%04X is not in the program list\n",
                                     static_cast<unsigned>(pid));
                }
            }
            st.selectPid = 1;
            st.optimize = minimumPids ? 1 : 0;
        }
        cut.geometry = first.geometry;
        cut.streamVideoPid = first.streamVideoPid;
    }

    CutJob job;
    if (!startCutJob(cut, host, out188, job)) return 1;
    job.wait();
    if (isatty(STDERR_FILENO)) std::fputc('\n', stderr);
    return job.outcome == CutOutcome::Completed ? 0 : 1;
}

}  // namespace tavrel::cli
