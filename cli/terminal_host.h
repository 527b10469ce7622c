// JobHost for the terminal: messages go to stderr as "error: <text>",
// questions are answered by a preset answer or asked on the terminal, and
// progress is one "\r<label> NN%" line while stderr is a terminal. File
// names are printed through printableName, so none can break a line.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "host.h"

namespace tavrel::cli {

class TerminalHost : public JobHost {
public:
    // preset: the answer to every YES/NO question (--yes/--no); without one,
    // the question is asked when stdin is a terminal, else answered NO.
    explicit TerminalHost(std::optional<bool> preset = std::nullopt);

    MsgResult showMessage(const std::string& caption, const std::string& text, MsgKind kind) override;
    // "error: <text>: <path>: <reason>" (no reason when err is 0).
    void showFileError(const std::string& text, const std::string& path, int err) override;
    void showNote(const std::string& text) override;
    // Kept for the command, which notes it once it knows whether the index
    // was rebuilt (takeBadIndex): a rebuilt index is no failure.
    void showIndexHeaderError(const std::string& indexPath) override;
    void setProgressRange(int32_t max) override;
    void setProgress(int32_t pos) override;
    // The window title (percentages in the job's own words): the terminal
    // shows its own progress line instead.
    void setTitle(const std::string&) override {}

    // The file that messages without a path of their own concern; they are
    // shown as "error: <text>: <subject>". Empty: none.
    void setSubject(const std::string& path) { m_subject = path; }

    // Progress of one step ("index a.ts", "cut out.ts"): drawn only when
    // stderr is a terminal; endProgress(true) shows 100 % and ends the line,
    // endProgress(false) only ends a line that is open.
    void beginProgress(const std::string& label);
    void endProgress(bool completed);

    int errorCount() const { return m_errors; }

    // The index file reported by showIndexHeaderError since the last call,
    // or empty.
    std::string takeBadIndex();

private:
    void closeLine();  // under m_mu

    std::optional<bool> m_preset;
    std::string m_subject;
    bool m_tty = false;
    std::mutex m_mu;
    std::string m_label;  // empty: no progress step running
    int32_t m_max = 0;
    int m_lastPercent = -1;
    bool m_lineOpen = false;
    int m_errors = 0;
    std::string m_badIndex;
};

// Message texts use CR LF between lines; the terminal shows them with LF.
// Every other control byte is shown as its escape (printableText), so a
// name inside a text cannot start a line of its own.
std::string terminalText(const std::string& text);

}  // namespace tavrel::cli
