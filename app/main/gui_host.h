// The main window's host: the window updates of the GOP scan and the cut
// (input path, slider, labels, preview) besides what every window's host
// does. Messages and the completion sound block the worker until the GUI
// thread is done with them.
#pragma once

#include "window_host.h"

namespace tavrelcut {

class MainWindow;

class GuiHost : public WindowHost {
public:
    explicit GuiHost(MainWindow* window);

    void setBusy(bool busy) override;
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

protected:
    void showProgressRange(int max) override;
    void showProgress(int pos) override;

private:
    MainWindow* m_main;
};

}  // namespace tavrelcut
