// A JobHost that records every call as a line of text, in order, and answers
// questions from a script. Tests assert the exact texts and their order.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "host.h"

namespace tavrel::test {

class RecordingHost : public JobHost {
public:
    std::vector<std::string> events;
    std::deque<MsgResult> answers;  // for YES/NO questions; NO when empty
    int cancelAfterChecks = -1;     // cancelRequested() turns true after this many calls

    MsgResult showMessage(const std::string& caption, const std::string& text, MsgKind kind) override;
    void setBusy(bool busy) override;
    void setProgressRange(int32_t max) override;
    void setProgress(int32_t pos) override;
    void setTitle(const std::string& title) override;
    void setInputPathText(const std::string& path) override;
    void setPreviewPacketSize(int32_t size) override;
    void showGopTime(const std::string& text) override;
    void setSliderRange(int32_t max, int32_t page, int32_t pos) override;
    void refreshErrorInfo() override;
    void disableNavigation() override;
    void showScanLabels(const ScanFinishInfo& info) override;
    void showCurrentPreview() override;
    void focusSlider() override;
    void playSound(const std::string& path) override;
    bool cancelRequested() override;

    // The message lines only ("caption: text").
    std::vector<std::string> messages() const;
    // Events without progress positions, which depend on file sizes.
    std::vector<std::string> withoutProgress() const;

private:
    int m_cancelChecks = 0;
};

}  // namespace tavrel::test
