#include "terminal_host.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace tavrel::cli {

std::string terminalText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out.push_back(text[i]);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TerminalHost::TerminalHost(std::optional<bool> preset) : m_preset(preset) {}

MsgResult TerminalHost::showMessage(const std::string& caption, const std::string& text, MsgKind kind) {
    const std::string shown = terminalText(text);
    if (m_showProgress && m_lastPercent >= 0) std::fputc('\n', stderr);
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
        std::fprintf(stderr, "error: %s\n", shown.c_str());
    } else {
        std::fprintf(stderr, "%s: %s\n", caption == "Info" ? "info" : caption.c_str(), shown.c_str());
    }
    return kResultOk;
}

void TerminalHost::setProgressRange(int32_t max) {
    m_max = max;
    m_lastPercent = -1;
}

void TerminalHost::setProgress(int32_t pos) {
    if (!m_showProgress || m_max <= 0 || !isatty(STDERR_FILENO)) return;
    const int percent = static_cast<int>(static_cast<int64_t>(pos) * 100 / m_max);
    if (percent == m_lastPercent) return;
    m_lastPercent = percent;
    std::fprintf(stderr, "\r%3d%%", percent);
    std::fflush(stderr);
}

void TerminalHost::setTitle(const std::string& title) {
    if (!m_showProgress || !isatty(STDERR_FILENO)) return;
    std::fprintf(stderr, "\r%s", title.c_str());
    std::fflush(stderr);
}

}  // namespace tavrel::cli
