// A window's side of JobHost. Jobs call it from their worker threads or,
// for the checks before a job starts, from the GUI thread. Window updates
// are queued to the GUI thread in the order they are made; messages block
// the worker until they are answered. Each window that runs jobs has a host
// of its own: its title, progress and cancel flag are its own, while every
// message goes through the program's one message box.
#pragma once

#include <QMetaObject>
#include <QString>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <functional>

#include "host.h"

namespace tavrelcut {

class WindowHost : public tavrel::JobHost {
public:
    // The program's message box: caption, text, kind; the answer.
    using MessageBox = std::function<int(const QString&, const QString&, int)>;

    WindowHost(QWidget* window, MessageBox messages);

    tavrel::MsgResult showMessage(const std::string& caption, const std::string& text, tavrel::MsgKind kind) override;
    // The window's own title.
    void setTitle(const std::string& title) override;
    void setProgressRange(int32_t max) override;
    void setProgress(int32_t pos) override;
    // The flag a job of this window's runner is asked to stop by.
    void setCancelFlag(const std::atomic<bool>* flag) { m_cancel = flag; }
    bool cancelRequested() override { return m_cancel && m_cancel->load(); }

protected:
    // The window's progress display, on the GUI thread.
    virtual void showProgressRange(int /*max*/) {}
    virtual void showProgress(int /*pos*/) {}

    bool onGuiThread() const { return QThread::currentThread() == m_window->thread(); }
    // f on the GUI thread: at once there, else queued behind earlier calls.
    template <class F>
    void post(F&& f) {
        if (onGuiThread())
            f();
        else
            QMetaObject::invokeMethod(m_window, std::forward<F>(f), Qt::QueuedConnection);
    }
    // f on the GUI thread, the caller waiting until it has run.
    template <class F>
    void send(F&& f) {
        if (onGuiThread())
            f();
        else
            QMetaObject::invokeMethod(m_window, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }

    QWidget* m_window;

private:
    MessageBox m_messages;
    const std::atomic<bool>* m_cancel = nullptr;
    // Progress is coalesced: a worker reports far more often than a bar
    // can show, and only the latest value matters.
    std::atomic<int32_t> m_progress{0};
    std::atomic<bool> m_progressPosted{false};
};

}  // namespace tavrelcut
