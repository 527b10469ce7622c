#include "window_host.h"

namespace tavrelcut {

WindowHost::WindowHost(QWidget* window, MessageBox messages) : m_window(window), m_messages(std::move(messages)) {}

tavrel::MsgResult WindowHost::showMessage(const std::string& caption, const std::string& text, tavrel::MsgKind kind) {
    int result = 0;
    const QString c = QString::fromStdString(caption);
    const QString t = QString::fromStdString(text);
    send([&] { result = m_messages(c, t, static_cast<int>(kind)); });
    return static_cast<tavrel::MsgResult>(result);
}

void WindowHost::setTitle(const std::string& title) {
    post([w = m_window, t = QString::fromStdString(title)] { w->setWindowTitle(t); });
}

void WindowHost::setProgressRange(int32_t max) {
    post([this, max] { showProgressRange(max); });
}

void WindowHost::setProgress(int32_t pos) {
    m_progress = pos;
    if (onGuiThread()) {
        showProgress(pos);
        return;
    }
    if (m_progressPosted.exchange(true)) return;
    QMetaObject::invokeMethod(
        m_window,
        [this] {
            m_progressPosted = false;
            showProgress(m_progress);
        },
        Qt::QueuedConnection);
}

}  // namespace tavrelcut
