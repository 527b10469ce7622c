// The input list's two batch runs, "Get GOP" and "Check", as walks over the
// entries in row order. Each works on the entries queued (state 5) when it
// started, on the thread it is called on, and reaches the user only through
// the host: its messages, the title "Input [ NN％]" and the cancel flag,
// which the scan and the check test before every block of 100 packets.
#pragma once

#include <functional>
#include <string>

#include "host.h"
#include "input_entries.h"

namespace tavrelcut {

struct WalkSettings {
    IndexRule index;
    bool renumber = false;       // "ReNo. TimeCode"
    bool discontinuity = false;  // DATA/DISCON is 1
    // DEBUG/CHK is non-zero: the GOP walk keeps the operation log in
    // logFolder, named after logBase.
    bool log = false;
    std::string logFolder;
    std::string logBase;
};

struct WalkCallbacks {
    // Some entry's state changed (called on the walk's thread).
    std::function<void()> statesChanged;
    // The error file of this recording was written anew or removed.
    std::function<void(const std::string& path)> checked;
};

enum class WalkEnd {
    Finished,   // every queued entry was worked on
    Cancelled,  // the cancel flag stopped it; the entries not done are back to 0
    Failed,     // an entry stopped the walk (state 4): no "Complete!"
};

// "Get GOP": an entry whose GOP index file exists gets state 1 without a
// scan; the others are scanned into it. A recording that cannot be opened,
// or a path without '/', ends the walk with the entry in state 4; one
// without a packet size gets state 4 and the walk goes on. A scan that fails
// otherwise leaves no index (the message has been shown): the entry's state
// is derived again from the disk (1, 0, or 4 when the file is gone). An entry
// whose file is gone before its turn keeps its working state until F5.
WalkEnd runGopWalk(const InputEntries& entries, const WalkSettings& settings, tavrel::JobHost& host,
                   const WalkCallbacks& callbacks);

// "Check": the transport error check of every queued entry, each ending in
// state 1 or 0 from its GOP index file (4 when its file is gone by then). A
// path without '/' ends the walk with the entry in state 4; an entry whose
// file is gone before its turn keeps its working state until F5.
WalkEnd runCheckWalk(const InputEntries& entries, const WalkSettings& settings, tavrel::JobHost& host,
                     const WalkCallbacks& callbacks);

}  // namespace tavrelcut
