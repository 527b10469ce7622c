// The second core for the decoders: a thread that runs the jobs its owner
// posts, one at a time.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <vector>
#include <thread>
#include <cstdint>

namespace kivra {

// A second thread for one picture's work: runs one job at a time, which its
// owner posts and then waits for. Started with the first job, ended by
// stop() (or the destructor).
class HelperThread {
public:
    ~HelperThread() { stop(); }
    bool post(std::function<void()> job) {
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { loop(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        std::lock_guard<std::mutex> lock(m_mu);
        m_job = std::move(job);
        m_busy = true;
        m_cv.notify_all();
        return true;
    }
    void wait() {
        std::unique_lock<std::mutex> lock(m_mu);
        m_cv.wait(lock, [this] { return !m_busy; });
    }
    void stop() {
        if (!m_thread.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(m_mu);
            m_quit = true;
            m_cv.notify_all();
        }
        m_thread.join();
        m_quit = false;
    }

private:
    void loop() {
        std::unique_lock<std::mutex> lock(m_mu);
        for (;;) {
            m_cv.wait(lock, [this] { return m_busy || m_quit; });
            if (m_quit) return;
            std::function<void()> job = std::move(m_job);
            lock.unlock();
            job();
            lock.lock();
            m_busy = false;
            m_cv.notify_all();
        }
    }
    std::thread m_thread;
    std::mutex m_mu;
    std::condition_variable m_cv;
    std::function<void()> m_job;
    bool m_busy = false;
    bool m_quit = false;
};

// Where an I picture's slice data (from the first slice start code) may be
// split between two threads: the first slice past the middle of the data
// that starts a new macroblock row (splitRow, at byte splitAt; splitRow -1:
// nowhere). False when the slices do not come row by row, so that no split
// would decode what one thread decodes.
inline bool findSliceSplit(const std::vector<uint8_t>& buf, int& splitRow, size_t& splitAt) {
    const uint8_t* p = buf.data();
    const size_t n = buf.size();
    splitRow = -1;
    splitAt = 0;
    bool ordered = true;
    int lastRow = -1;
    for (size_t i = 0; i + 3 < n; ++i) {
        if (p[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
        const int row = p[i + 3] - 1;
        if (row < lastRow) ordered = false;
        if (splitRow < 0 && i >= n / 2 && row > lastRow && lastRow >= 0) {
            splitRow = row;
            splitAt = i;
        }
        lastRow = row;
        i += 3;
    }
    return ordered;
}

}  // namespace kivra
