#include "busy_state.h"

#include "control_ids.h"

namespace tavrelcut {

bool BusyState::enables(int id, bool listIsInput) const {
    if (id == ids::kClose) return !blocksClose();
    if (ids::contains(ids::kBusySet, id) && blocksWork()) return false;
    if (ids::contains(ids::kGopListSet, id) && !listIsInput) return false;
    return true;
}

}  // namespace tavrelcut
