// The second core for the decoders: a thread that runs the jobs its owner
// posts, one at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <system_error>
#include <vector>
#include <thread>
#include <cstdint>

namespace kivra {

// Spins for up to a given time while ready() is false; true when it became
// true meanwhile. Every few microseconds the spinner yields its core: the
// thread it waits for may be queued on that same core (the system places a
// new thread beside its creator at times, and moves it away only some
// milliseconds later), and a spin that does not yield keeps it from running
// for the whole spin.
template <class Ready>
inline bool spinFor(std::chrono::microseconds limit, Ready ready) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (int k = 1;; ++k) {
        if (ready()) return true;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        if ((k & 63) == 0) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::yield();
        }
    }
}

// A second thread for one picture's work: runs one job at a time, which its
// owner posts and then waits for. Started with the first job, ended by
// stop() (or the destructor). With linger, the thread spins that long after
// a job before it sleeps: for an owner that posts its next job within that
// time (reduced pictures read one after another), as waking a sleeping
// thread costs the poster a system call and the job tens of microseconds.
// An owner with other work between its jobs (the preview converts and draws
// each picture) is faster without: the spinning slows the core it shares.
class HelperThread {
public:
    explicit HelperThread(std::chrono::microseconds linger = std::chrono::microseconds(0)) : m_linger(linger) {}
    ~HelperThread() { stop(); }
    bool post(std::function<void()> job) {
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { loop(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        // The thread is between jobs (the owner waited for the last one):
        // the job is its own to hand over.
        m_job = std::move(job);
        m_posted.fetch_add(1, std::memory_order_seq_cst);
        if (m_sleeping.load(std::memory_order_seq_cst)) m_posted.notify_one();
        return true;
    }
    void wait() {
        const uint32_t target = m_posted.load(std::memory_order_relaxed);
        auto done = [&] { return m_done.load(std::memory_order_acquire) == target; };
        if (spinFor(kWaitSpin, done)) return;
        for (uint32_t d = m_done.load(std::memory_order_acquire); d != target;
             d = m_done.load(std::memory_order_acquire))
            m_done.wait(d, std::memory_order_acquire);
    }
    void stop() {
        if (!m_thread.joinable()) return;
        m_quit.store(true, std::memory_order_relaxed);
        m_posted.fetch_add(1, std::memory_order_release);
        m_posted.notify_one();
        m_thread.join();
        m_quit.store(false, std::memory_order_relaxed);
        m_done.store(m_posted.load(std::memory_order_relaxed), std::memory_order_relaxed);
    }

private:
    // The owner waits for a job it shares the work of: it ends about when
    // the owner's part does.
    static constexpr std::chrono::microseconds kWaitSpin{300};

    void loop() {
        uint32_t seen = m_done.load(std::memory_order_relaxed);
        for (;;) {
            auto posted = [&] { return m_posted.load(std::memory_order_acquire) != seen; };
            if (!spinFor(m_linger, posted)) {
                // Sleep; post() wakes a sleeper only. The flag is set before
                // the last look, so a post after it sees the flag.
                m_sleeping.store(true, std::memory_order_seq_cst);
                while (m_posted.load(std::memory_order_seq_cst) == seen) m_posted.wait(seen, std::memory_order_acquire);
                m_sleeping.store(false, std::memory_order_relaxed);
            }
            seen = m_posted.load(std::memory_order_acquire);
            if (m_quit.load(std::memory_order_relaxed)) return;
            std::function<void()> job = std::move(m_job);
            job();
            m_done.store(seen, std::memory_order_release);
            m_done.notify_one();
        }
    }
    const std::chrono::microseconds m_linger;
    std::thread m_thread;
    std::function<void()> m_job;
    std::atomic<uint32_t> m_posted{0};
    std::atomic<uint32_t> m_done{0};
    std::atomic<bool> m_sleeping{false};
    std::atomic<bool> m_quit{false};
};

// The go-ahead for a job posted before its work is known: the helper
// spins for a short while (the work is usually a fraction of a millisecond
// away), then sleeps until release(). The owner writes the job's data
// before release(true); release(false) sends the job away empty. Work
// released but not yet begun can be taken back (takeBack()): the helper
// begins it and the owner takes it back by one exchange each, so exactly
// one of them does it.
class HelperStart {
public:
    // True when the helper is to do the work (and now has it).
    bool await() {
        if (!spinFor(std::chrono::microseconds(300), [this] { return m_state.load(std::memory_order_acquire) != 0; }))
            m_state.wait(0, std::memory_order_acquire);
        int go = 1;
        return m_state.compare_exchange_strong(go, 3, std::memory_order_acq_rel);
    }
    // True when the helper had not begun the released work: the owner does
    // it instead.
    bool takeBack() {
        int go = 1;
        return m_state.compare_exchange_strong(go, 2, std::memory_order_acq_rel);
    }
    void release(bool go) {
        m_state.store(go ? 1 : 2, std::memory_order_release);
        m_state.notify_one();
    }
    // Sends the job away empty unless it was released already (for a way
    // out before the owner got that far).
    void releaseIfPending() {
        int pending = 0;
        if (m_state.compare_exchange_strong(pending, 2, std::memory_order_release)) m_state.notify_one();
    }

private:
    // 0 not yet released, 1 released to the helper, 2 nothing for the helper
    // (sent away empty or taken back), 3 begun by the helper.
    std::atomic<int> m_state{0};
};

// The macroblock row of the slice whose start code is at byte at (the rows
// of pictures up to 2800 lines).
inline int sliceRow(const std::vector<uint8_t>& buf, uint32_t at) { return buf[at + 3] - 1; }

// The slices of an I picture (buf from the first slice start code; starts
// the offsets of its slice start codes, as collectSlices gives them) come
// row by row.
inline bool slicesInRowOrder(const std::vector<uint8_t>& buf, const std::vector<uint32_t>& starts) {
    for (size_t k = 1; k < starts.size(); ++k)
        if (sliceRow(buf, starts[k]) < sliceRow(buf, starts[k - 1])) return false;
    return true;
}

// Where the stretch of slices [first, last) of starts (row by row), up to
// byte end, may be cut in two: the first slice that starts a new macroblock
// row once half the work is behind it; last when there is none. The work of
// a stretch is its bytes plus rowWeight for each macroblock row begun in it:
// rows of flat picture cost far more than their few bytes.
inline size_t halfWorkSlice(const std::vector<uint8_t>& buf, const std::vector<uint32_t>& starts, size_t first,
                            size_t last, size_t end, size_t rowWeight) {
    if (last <= first + 1) return last;
    const int firstRow = sliceRow(buf, starts[first]);
    const int lastRow = sliceRow(buf, starts[last - 1]);
    const size_t total = end - starts[first] + size_t(lastRow - firstRow + 1) * rowWeight;
    int prevRow = firstRow;
    for (size_t k = first + 1; k < last; ++k) {
        const int row = sliceRow(buf, starts[k]);
        if (row == prevRow) continue;
        prevRow = row;
        if (2 * (starts[k] - starts[first] + size_t(row - firstRow) * rowWeight) >= total) return k;
    }
    return last;
}

// Where an I picture's slices may be split between two threads: at the
// slice halfWorkSlice gives (splitRow, at byte splitAt; splitRow -1:
// nowhere). False when the slices do not come row by row, so that no split
// would decode what one thread decodes.
inline bool findSliceSplit(const std::vector<uint8_t>& buf, const std::vector<uint32_t>& starts, int& splitRow,
                           size_t& splitAt, size_t rowWeight = 0) {
    splitRow = -1;
    splitAt = 0;
    if (!slicesInRowOrder(buf, starts)) return false;
    const size_t k = halfWorkSlice(buf, starts, 0, starts.size(), buf.size(), rowWeight);
    if (k < starts.size()) {
        splitRow = sliceRow(buf, starts[k]);
        splitAt = starts[k];
    }
    return true;
}

}  // namespace kivra
