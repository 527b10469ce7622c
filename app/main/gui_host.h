// The window's side of JobHost. Jobs call it from their worker threads (the
// GOP scan on a QThread, the cut on its own std::thread) or, for the checks
// before a job starts, from the GUI thread. Window updates are queued to the
// GUI thread in the order they are made; messages and the completion sound
// block the worker until the GUI thread is done with them.
#pragma once

#include <QPointer>
#include <atomic>

#include "host.h"

namespace tavrelcut {

class MainWindow;

class GuiHost : public tavrel::JobHost {
public:
    explicit GuiHost(MainWindow* window);

    tavrel::MsgResult showMessage(const std::string& caption, const std::string& text,
                                  tavrel::MsgKind kind) override;
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
    void showScanLabels(const tavrel::ScanFinishInfo& info) override;
    void showCurrentPreview() override;
    void focusSlider() override;
    void playSound(const std::string& path) override;

private:
    bool onGuiThread() const;
    template <class F> void post(F&& f);
    template <class F> void send(F&& f);

    MainWindow* m_window;
    // Progress is coalesced: a worker reports far more often than a bar
    // can show, and only the latest value matters.
    std::atomic<int32_t> m_progress{0};
    std::atomic<bool> m_progressPosted{false};
};

}  // namespace tavrelcut
