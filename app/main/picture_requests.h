// Picture requests off the GUI thread. TsRead first waits for the decode
// the previous request started; on the GUI thread that wait would stall
// the window while the slider is dragged. Requests go to a thread of their
// own instead, and one that arrives while an earlier one still waits takes
// its place: only the latest position matters.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "kivra.h"

namespace tavrelcut {

class PictureRequests {
public:
    PictureRequests();
    ~PictureRequests();
    PictureRequests(const PictureRequests&) = delete;
    PictureRequests& operator=(const PictureRequests&) = delete;

    // Asks for the picture of r (copied), replacing a request not yet made.
    void request(const TavrelDecRead& r);
    // Drops a request not yet made and waits until none is being made, so
    // the stream can be closed or another one opened.
    void cancel();

private:
    void run();

    std::mutex m_mu;
    std::condition_variable m_cv;
    std::optional<TavrelDecRead> m_pending;
    bool m_making = false;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace tavrelcut
