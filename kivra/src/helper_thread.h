// The second core for the decoders: a thread that runs the jobs its owner
// posts, one at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <utility>
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

// The go-ahead for a job posted before its work is known: the helper
// spins for a short while (the work is usually a fraction of a millisecond
// away), then sleeps until release(). The owner writes the job's data
// before release(true); release(false) sends the job away empty.
class HelperStart {
public:
    bool await() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(300);
        for (int k = 1;; ++k) {
            const int v = m_state.load(std::memory_order_acquire);
            if (v != 0) return v == 1;
            relax();
            if ((k & 63) == 0 && std::chrono::steady_clock::now() > until) break;
        }
        m_state.wait(0, std::memory_order_acquire);
        return m_state.load(std::memory_order_acquire) == 1;
    }
    void release(bool go) {
        m_state.store(go ? 1 : 2, std::memory_order_release);
        m_state.notify_one();
    }

private:
    static void relax() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    std::atomic<int> m_state{0};
};

// Where an I picture's slice data (from the first slice start code) may be
// split between two threads: the first slice that starts a new macroblock
// row once half the work is behind it (splitRow, at byte splitAt; splitRow
// -1: nowhere). The work of a stretch is its bytes plus rowWeight for each
// macroblock row begun in it: rows of flat picture cost far more than their
// few bytes. False when the slices do not come row by row, so that no split
// would decode what one thread decodes.
inline bool findSliceSplit(const std::vector<uint8_t>& buf, int& splitRow, size_t& splitAt, size_t rowWeight = 0) {
    const uint8_t* p = buf.data();
    const size_t n = buf.size();
    splitRow = -1;
    splitAt = 0;
    bool ordered = true;
    int lastRow = -1;
    // The slice starts of new rows, found first; the split second, once the
    // row count (and so the whole work) is known.
    std::vector<std::pair<size_t, int>> starts;
    for (size_t i = 0; i + 3 < n; ++i) {
        if (p[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
        const int row = p[i + 3] - 1;
        if (row < lastRow) ordered = false;
        if (row > lastRow) starts.emplace_back(i, row);
        lastRow = row;
        i += 3;
    }
    if (starts.empty()) return ordered;
    const int firstRow = starts.front().second;
    const size_t total = n + size_t(lastRow - firstRow + 1) * rowWeight;
    for (size_t k = 1; k < starts.size(); ++k) {
        const auto [at, row] = starts[k];
        if (2 * (at + size_t(row - firstRow) * rowWeight) >= total) {
            splitRow = row;
            splitAt = at;
            break;
        }
    }
    return ordered;
}

}  // namespace kivra
