#include "gui_host.h"

#include <QSemaphore>
#include <memory>

#include "main_window.h"

namespace tavrelcut {

GuiHost::GuiHost(MainWindow* window)
    : WindowHost(window, [window](const QString& caption, const QString& text,
                                  int kind) { return window->showMessage(caption, text, kind); }),
      m_main(window) {}

void GuiHost::showProgressRange(int max) { m_main->setProgressRange(max); }

void GuiHost::showProgress(int pos) { m_main->setProgressValue(pos); }

void GuiHost::setBusy(bool busy) {
    post([w = m_main, busy] { w->setBusy(busy); });
}

void GuiHost::setInputPathText(const std::string& path) {
    post([w = m_main, p = QString::fromStdString(path)] { w->setInputPathText(p); });
}

void GuiHost::setPreviewPacketSize(int32_t size) {
    post([w = m_main, size] { w->setPreviewPacketSize(size); });
}

void GuiHost::showGopTime(const std::string& text) {
    post([w = m_main, t = QString::fromStdString(text)] { w->showGopTime(t); });
}

void GuiHost::setSliderRange(int32_t max, int32_t page, int32_t pos) {
    post([w = m_main, max, page, pos] { w->setSliderRange(max, page, pos); });
}

void GuiHost::refreshErrorInfo() {
    post([w = m_main] { w->refreshErrorInfo(); });
}

void GuiHost::disableNavigation() {
    post([w = m_main] { w->dropGopList(); });
}

void GuiHost::showScanLabels(const tavrel::ScanFinishInfo& info) {
    post([w = m_main, info] { w->showScanLabels(info); });
}

void GuiHost::showCurrentPreview() {
    post([w = m_main] { w->showGop(); });
}

void GuiHost::focusSlider() {
    post([w = m_main] { w->focusSlider(); });
}

// The worker waits until the sound has ended, as the elapsed time it
// reports next includes it. A sound that never reports its end is given up
// after a minute.
void GuiHost::playSound(const std::string& path) {
    const QString p = QString::fromStdString(path);
    if (onGuiThread()) {
        m_main->startSound(p, [] {});
        return;
    }
    auto done = std::make_shared<QSemaphore>(0);
    bool started = false;
    send([&] { started = m_main->startSound(p, [done] { done->release(); }); });
    if (started) done->tryAcquire(1, 60000);
}

}  // namespace tavrelcut
