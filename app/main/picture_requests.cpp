#include "picture_requests.h"

namespace tavrelcut {

PictureRequests::PictureRequests() : m_thread([this] { run(); }) {}

PictureRequests::~PictureRequests() {
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_stop = true;
        m_pending.reset();
    }
    m_cv.notify_all();
    m_thread.join();
}

void PictureRequests::request(const TavrelDecRead& r) {
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_pending = r;
    }
    m_cv.notify_all();
}

void PictureRequests::cancel() {
    std::unique_lock<std::mutex> lock(m_mu);
    m_pending.reset();
    m_cv.wait(lock, [this] { return !m_making; });
}

void PictureRequests::run() {
    std::unique_lock<std::mutex> lock(m_mu);
    for (;;) {
        m_cv.wait(lock, [this] { return m_stop || m_pending.has_value(); });
        if (m_stop) return;
        const TavrelDecRead r = *m_pending;
        m_pending.reset();
        m_making = true;
        lock.unlock();
        TsRead(&r);
        lock.lock();
        m_making = false;
        m_cv.notify_all();
    }
}

}  // namespace tavrelcut
