// One worker thread at a time for a window: the job runs on a QThread at
// the priority asked for, its finish runs on the window's thread once the
// thread has ended, and a cancel flag serves jobs that can stop early. A
// window that runs jobs of its own (the input list) has a runner of its
// own, so its jobs and the main window's never wait for each other.
#pragma once

#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>

namespace tavrelcut {

class JobRunner : public QObject {
    Q_OBJECT
public:
    explicit JobRunner(QObject* owner);
    ~JobRunner() override;

    // Runs job on a new thread; done(result) runs on the owner's thread
    // after the thread has ended. false when no thread could be started
    // (done is then not called).
    bool start(std::function<bool()> job, std::function<void(bool)> done,
               QThread::Priority priority = QThread::NormalPriority);
    bool running() const { return m_thread != nullptr; }
    // Where the window goes away: waits for the job and drops its finish.
    void waitAndDrop();

    void requestCancel() { m_cancel = true; }
    bool cancelRequested() const { return m_cancel; }
    // For the window's host (WindowHost::setCancelFlag): cleared at start().
    const std::atomic<bool>& cancelFlag() const { return m_cancel; }

private:
    QThread* m_thread = nullptr;
    std::atomic<bool> m_cancel{false};
};

}  // namespace tavrelcut
