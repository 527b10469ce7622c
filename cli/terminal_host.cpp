#include "terminal_host.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

#include "file.h"
#include "printable_name.h"

namespace tavrel::cli {

std::string terminalText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t from = 0;
    while (from <= text.size()) {
        size_t end = text.find("\r\n", from);
        if (end == std::string::npos) end = text.size();
        out += printableText(text.substr(from, end - from));
        if (end < text.size()) out.push_back('\n');
        from = end + 2;
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TerminalHost::TerminalHost(std::optional<bool> preset) : m_preset(preset), m_tty(isatty(STDERR_FILENO) != 0) {}

void TerminalHost::closeLine() {
    if (!m_lineOpen) return;
    std::fputc('\n', stderr);
    m_lineOpen = false;
}

MsgResult TerminalHost::showMessage(const std::string& caption, const std::string& text, MsgKind kind) {
    std::lock_guard<std::mutex> lock(m_mu);
    closeLine();
    const std::string shown = terminalText(text);
    if (kind == MsgKind::YesNo || kind == MsgKind::YesNoCancel) {
        bool yes = false;
        if (m_preset) {
            yes = *m_preset;
            std::fprintf(stderr, "%s: %s [%s]\n", caption.c_str(), shown.c_str(), yes ? "yes" : "no");
        } else if (isatty(STDIN_FILENO)) {
            std::fprintf(stderr, "%s: %s [y/N] ", caption.c_str(), shown.c_str());
            std::fflush(stderr);
            std::string answer;
            std::getline(std::cin, answer);
            yes = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
        } else {
            std::fprintf(stderr, "%s: %s [no]\n", caption.c_str(), shown.c_str());
        }
        return yes ? kResultYes : kResultNo;
    }
    if (caption == "error") {
        ++m_errors;
        if (m_subject.empty())
            std::fprintf(stderr, "error: %s\n", shown.c_str());
        else
            std::fprintf(stderr, "error: %s: %s\n", shown.c_str(), printableName(m_subject).c_str());
    } else {
        std::fprintf(stderr, "%s: %s\n", caption == "Info" ? "info" : caption.c_str(), shown.c_str());
    }
    return kResultOk;
}

void TerminalHost::showFileError(const std::string& text, const std::string& path, int err) {
    std::lock_guard<std::mutex> lock(m_mu);
    closeLine();
    ++m_errors;
    std::string line = "error: " + terminalText(text) + ": " + printableName(path);
    if (err != 0) line += ": " + errorText(err);
    std::fprintf(stderr, "%s\n", line.c_str());
}

void TerminalHost::showNote(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mu);
    closeLine();
    std::fprintf(stderr, "note: %s\n", terminalText(text).c_str());
}

void TerminalHost::showIndexHeaderError(const std::string& indexPath) {
    std::lock_guard<std::mutex> lock(m_mu);
    m_badIndex = indexPath;
}

std::string TerminalHost::takeBadIndex() {
    std::lock_guard<std::mutex> lock(m_mu);
    std::string path;
    path.swap(m_badIndex);
    return path;
}

void TerminalHost::beginProgress(const std::string& label) {
    std::lock_guard<std::mutex> lock(m_mu);
    m_label = label;
    m_max = 0;
    m_lastPercent = -1;
}

void TerminalHost::endProgress(bool completed) {
    std::lock_guard<std::mutex> lock(m_mu);
    if (m_tty && completed && !m_label.empty() && m_lastPercent >= 0) {
        std::fprintf(stderr, "\r%s 100%%\n", m_label.c_str());
        m_lineOpen = false;
    }
    closeLine();
    std::fflush(stderr);
    m_label.clear();
}

void TerminalHost::setProgressRange(int32_t max) {
    std::lock_guard<std::mutex> lock(m_mu);
    m_max = max;
}

void TerminalHost::setProgress(int32_t pos) {
    std::lock_guard<std::mutex> lock(m_mu);
    if (!m_tty || m_label.empty() || m_max <= 0 || pos < 0) return;
    int percent = static_cast<int>(static_cast<int64_t>(pos) * 100 / m_max);
    if (percent > 100) percent = 100;
    // Jobs reset the bar to 0 when they end; the line only moves forward.
    if (percent <= m_lastPercent) return;
    m_lastPercent = percent;
    std::fprintf(stderr, "\r%s %3d%%", m_label.c_str(), percent);
    std::fflush(stderr);
    m_lineOpen = true;
}

}  // namespace tavrel::cli
