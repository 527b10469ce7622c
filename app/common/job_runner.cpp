#include "job_runner.h"

#include <memory>

namespace tavrelcut {

JobRunner::JobRunner(QObject* owner) : QObject(owner) {}

JobRunner::~JobRunner() { waitAndDrop(); }

bool JobRunner::start(std::function<bool()> job, std::function<void(bool)> done, QThread::Priority priority) {
    waitAndDrop();
    m_cancel = false;
    auto result = std::make_shared<bool>(false);
    QThread* thread = QThread::create([job = std::move(job), result] { *result = job(); });
    if (thread == nullptr) return false;
    m_thread = thread;
    connect(thread, &QThread::finished, this, [this, thread, done = std::move(done), result] {
        if (m_thread == thread) m_thread = nullptr;
        thread->deleteLater();
        done(*result);
    });
    thread->start(priority);
    return true;
}

void JobRunner::waitAndDrop() {
    if (!m_thread) return;
    m_thread->disconnect(this);
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

}  // namespace tavrelcut
