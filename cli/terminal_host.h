// JobHost for the terminal: messages go to stderr as "error: <text>",
// questions are answered by a preset answer or asked on the terminal.
#pragma once

#include <optional>
#include <string>

#include "host.h"

namespace tavrel::cli {

class TerminalHost : public JobHost {
public:
    // preset: the answer to every YES/NO question (--yes/--no); without one,
    // the question is asked when stdin is a terminal, else answered NO.
    explicit TerminalHost(std::optional<bool> preset = std::nullopt);

    MsgResult showMessage(const std::string& caption, const std::string& text,
                          MsgKind kind) override;
    void setProgressRange(int32_t max) override;
    void setProgress(int32_t pos) override;
    void setTitle(const std::string& title) override;

    // Progress percentages on stderr (only when stderr is a terminal).
    void setShowProgress(bool on) { m_showProgress = on; }
    int errorCount() const { return m_errors; }

private:
    std::optional<bool> m_preset;
    bool m_showProgress = false;
    int32_t m_max = 0;
    int m_lastPercent = -1;
    int m_errors = 0;
};

// Message texts use CR LF between lines; the terminal shows them with LF.
std::string terminalText(const std::string& text);

}  // namespace tavrel::cli
