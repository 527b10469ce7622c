#include "inputs.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include "file.h"
#include "output_file.h"
#include "printable_name.h"

namespace tavrel::cli {

namespace {

// The first bytes of every GOP index file.
constexpr char kIndexHeader[] = "KIVRA2\r\n";

bool endsWithTxt(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return ext == ".txt";
}

void onInterrupt(int sig) {
    removePendingOutputs();
    // SA_RESETHAND has restored the default action: this ends the process.
    raise(sig);
}

}  // namespace

bool checkRecording(const std::string& path, TerminalHost& host) {
    File f;
    if (!f.openRead(path)) {
        host.showFileError(kMsgInputOpen, path, f.error());
        return false;
    }
    char head[sizeof kIndexHeader - 1] = {};
    const int64_t got = f.read(head, sizeof head);
    const bool indexHeader =
        got == static_cast<int64_t>(sizeof head) && std::memcmp(head, kIndexHeader, sizeof head) == 0;
    if (indexHeader || endsWithTxt(path)) {
        host.showFileError("GOP index files are not recordings; give the recording itself", path, 0);
        return false;
    }
    return true;
}

void noteUnsavedIndex(const ScanReport& report, const std::string& recording, TerminalHost& host) {
    if (report.loaded || report.indexSaved || report.indexError == 0) return;
    const std::string index = report.indexPath.empty() ? recording + ".txt" : report.indexPath;
    host.showNote("no GOP index saved: " + printableName(index) + ": " + errorText(report.indexError));
}

void noteBadIndex(const ScanReport& report, TerminalHost& host) {
    const std::string index = host.takeBadIndex();
    if (index.empty()) return;
    host.showNote(std::string(kMsgIndexHeader) + ": " + printableName(index) +
                  (report.indexSaved ? ": index rebuilt" : ""));
}

bool obtainToolGopList(EditState& state, TerminalHost& host, ScanReport* reportOut) {
    const std::string& file = state.inputPath;
    const int errorsBefore = host.errorCount();
    ScanReport local;
    ScanReport& report = reportOut ? *reportOut : local;
    host.beginProgress("scan " + printableName(file));
    const bool ok = obtainGopList(state, host, true, &report) && !state.gopList.empty();
    host.endProgress(ok);
    noteBadIndex(report, host);
    if (ok) noteUnsavedIndex(report, file, host);
    // A list of its LAST entry alone (a recording without video) has no GOP
    // to cut or show.
    bool anyGop = false;
    for (const GopEntry& e : state.gopList) anyGop = anyGop || !e.isLast();
    if (!ok || !anyGop) {
        if (host.errorCount() == errorsBefore) host.showFileError(kMsgNoGop, file, 0);
        return false;
    }
    return true;
}

bool gopInList(const EditState& state, int64_t gop, TerminalHost& host) {
    const int64_t count = int64_t(state.gopList.size()) - (state.gopList.back().isLast() ? 1 : 0);
    if (gop >= 0 && gop < count) return true;
    host.showMessage("error",
                     "GOP " + std::to_string(gop) + " is out of range (0 to " + std::to_string(count - 1) + ")",
                     MsgKind::Ok);
    return false;
}

void installInterruptCleanup() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    // The handler runs once; the re-raised signal takes the default action.
    sa.sa_flags = SA_RESETHAND;
    // Past a file-size limit (ulimit -f) a write fails with EFBIG and is
    // reported like any write error, instead of the signal ending the
    // process with the temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller ignores (a background job of a shell) stays ignored.
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &sa, nullptr);
    }
}

}  // namespace tavrel::cli
