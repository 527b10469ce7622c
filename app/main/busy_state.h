// Why the main window is busy. Each job, modal dialog and batch run holds a
// reason while it lasts; what is enabled follows from the reasons active
// now and from whether the GOP list on screen belongs to the recording in
// Input, so a reason that ends never switches on what another one, or a
// GOP list of another file, keeps off.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tavrelcut {

enum class BusyReason : uint8_t {
    Job,    // a worker of the main window (scan, cut, File Info): the busy set is off
    Modal,  // a modal window of the main window is open: the busy set is off
    Batch,  // a batch run of another window: only "Close" is off
};

class BusyState {
public:
    // Reasons are counted: two holds of one reason need two releases.
    void hold(BusyReason r) { ++m_count[index(r)]; }
    void release(BusyReason r) {
        if (m_count[index(r)] > 0) --m_count[index(r)];
    }
    bool holds(BusyReason r) const { return m_count[index(r)] > 0; }

    // A job or a modal window keeps the busy set off.
    bool blocksWork() const { return holds(BusyReason::Job) || holds(BusyReason::Modal); }
    // Any reason keeps the window from being closed.
    bool blocksClose() const { return blocksWork() || holds(BusyReason::Batch); }

    // Whether the control with this id is to be enabled. listIsInput: the
    // GOP list on screen was made from the recording in Input.
    bool enables(int id, bool listIsInput) const;

private:
    static std::size_t index(BusyReason r) { return static_cast<size_t>(r); }
    std::array<int, 3> m_count{};
};

}  // namespace tavrelcut
