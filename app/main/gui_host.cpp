#include "gui_host.h"

#include <QMetaObject>
#include <QSemaphore>
#include <QThread>
#include <memory>

#include "main_window.h"

namespace tavrelcut {

GuiHost::GuiHost(MainWindow* window) : m_window(window) {}

bool GuiHost::onGuiThread() const { return QThread::currentThread() == m_window->thread(); }

template <class F> void GuiHost::post(F&& f) {
    if (onGuiThread())
        f();
    else
        QMetaObject::invokeMethod(m_window, std::forward<F>(f), Qt::QueuedConnection);
}

template <class F> void GuiHost::send(F&& f) {
    if (onGuiThread())
        f();
    else
        QMetaObject::invokeMethod(m_window, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

tavrel::MsgResult GuiHost::showMessage(const std::string& caption, const std::string& text, tavrel::MsgKind kind) {
    int result = 0;
    const QString c = QString::fromStdString(caption);
    const QString t = QString::fromStdString(text);
    send([&] { result = m_window->showMessage(c, t, static_cast<int>(kind)); });
    return static_cast<tavrel::MsgResult>(result);
}

void GuiHost::setBusy(bool busy) {
    post([w = m_window, busy] { w->setBusy(busy); });
}

void GuiHost::setProgressRange(int32_t max) {
    post([w = m_window, max] { w->setProgressRange(max); });
}

void GuiHost::setProgress(int32_t pos) {
    m_progress = pos;
    if (onGuiThread()) {
        m_window->setProgressValue(pos);
        return;
    }
    if (m_progressPosted.exchange(true)) return;
    QMetaObject::invokeMethod(
        m_window,
        [this] {
            m_progressPosted = false;
            m_window->setProgressValue(m_progress);
        },
        Qt::QueuedConnection);
}

void GuiHost::setTitle(const std::string& title) {
    post([w = m_window, t = QString::fromStdString(title)] { w->setWindowTitle(t); });
}

void GuiHost::setInputPathText(const std::string& path) {
    post([w = m_window, p = QString::fromStdString(path)] { w->setInputPathText(p); });
}

void GuiHost::setPreviewPacketSize(int32_t size) {
    post([w = m_window, size] { w->setPreviewPacketSize(size); });
}

void GuiHost::showGopTime(const std::string& text) {
    post([w = m_window, t = QString::fromStdString(text)] { w->showGopTime(t); });
}

void GuiHost::setSliderRange(int32_t max, int32_t page, int32_t pos) {
    post([w = m_window, max, page, pos] { w->setSliderRange(max, page, pos); });
}

void GuiHost::refreshErrorInfo() {
    post([w = m_window] { w->refreshErrorInfo(); });
}

void GuiHost::disableNavigation() {
    post([w = m_window] { w->dropGopList(); });
}

void GuiHost::showScanLabels(const tavrel::ScanFinishInfo& info) {
    post([w = m_window, info] { w->showScanLabels(info); });
}

void GuiHost::showCurrentPreview() {
    post([w = m_window] { w->showGop(); });
}

void GuiHost::focusSlider() {
    post([w = m_window] { w->focusSlider(); });
}

// The worker waits until the sound has ended, as the elapsed time it
// reports next includes it. A sound that never reports its end is given up
// after a minute.
void GuiHost::playSound(const std::string& path) {
    const QString p = QString::fromStdString(path);
    if (onGuiThread()) {
        m_window->startSound(p, [] {});
        return;
    }
    auto done = std::make_shared<QSemaphore>(0);
    bool started = false;
    send([&] { started = m_window->startSound(p, [done] { done->release(); }); });
    if (started) done->tryAcquire(1, 60000);
}

}  // namespace tavrelcut
