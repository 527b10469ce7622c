// The input list's entries and the rules that need no window: which paths
// are taken, where an entry's GOP index file is, the list file's lines, the
// row a dragged entry lands on, what F5 re-derives and the column texts.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tavrelcut {

// An entry's state, also the index of its icon.
enum EntryState : int {
    kStateNoIndex = 0,  // no GOP index file
    kStateIndexed = 1,  // its GOP index file exists
    kStateWorking = 2,  // being worked on; 2 and 3 alternate so the icon blinks
    kStateWorkingAlt = 3,
    kStateError = 4,
    kStateQueued = 5,  // waiting for a batch run
};
inline constexpr int kStateCount = 6;

struct InputEntry {
    std::string path;    // as added, letter for letter
    std::string folder;  // before the last '/'
    std::string name;    // after it
    int64_t size = 0;    // bytes, when the entry was made
    // The last-write time in local time, when the entry was made.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // Written by a walk's thread and the window's (the blink, F5, a double
    // click); every change is one store or one compare-and-swap.
    std::atomic<int> state{kStateNoIndex};
    // Held by a walk while it works on the entry; deleting and moving wait
    // for it at most 500 ms.
    std::timed_mutex lock;
};

// The entries in row order. A walk holds a copy of the list, so the window
// may add rows while it runs; deletions and moves wait until it has ended.
using InputEntries = std::vector<std::shared_ptr<InputEntry>>;

// FILE/SELGOP and FILE/GOPF, as the walks and the entries read them.
struct IndexRule {
    bool useGopFolder = false;
    std::string gopFolder;
};

// The GOP index file a scan of path writes: in the GOP folder when it is
// used and exists as a folder, else path + ".txt".
std::string entryIndexPath(const std::string& path, const IndexRule& rule);
// True when that file exists or, with the GOP folder in use, path + ".txt".
bool entryIndexExists(const std::string& path, const IndexRule& rule);
// True when path names something other than a folder.
bool isExistingFile(const std::string& path);

// Adds path at the end unless an entry has exactly the same path, the path
// has no '/', or it cannot be opened for reading (nothing is said then). The
// state is 1 when the GOP index file exists, else 0. The added entry, or null.
std::shared_ptr<InputEntry> addInputEntry(InputEntries& list, const std::string& path, const IndexRule& rule);

// The paths of a list file: a line ends at a line feed and a carriage return
// just before it is dropped; a last line without a line feed is no line.
std::vector<std::string> parseInputListFile(std::string_view bytes);
// Every path followed by CR LF, in row order.
std::string inputListFileText(const InputEntries& list);

// Where the entry of row from ends up when it is dropped on row drop (the
// row count: below the last row): just before that row. -1 when it stays,
// which it does on its own row and on the row right after it.
int moveLanding(int from, int drop, int count);
// Moves the entry of row from to row to (a result of moveLanding).
void moveInputEntry(InputEntries& list, int from, int to);

// F5: an entry whose path no longer exists gets state 4; the others states 1
// or 0 from their GOP index file, except that while a walk runs (busy) the
// entries it is working on or has queued keep their state.
void refreshInputStates(const InputEntries& list, const IndexRule& rule, bool busy);
// After a walk was cancelled: from row `from` on, queued and working
// entries go back to 0.
void resetPendingEntries(const InputEntries& list, size_t from);

// "Size": whole MB (1,048,576 bytes), truncated. "Date": "Y/MM/DD hh:mm:ss".
std::string sizeText(int64_t bytes);
std::string dateText(const InputEntry& e);

}  // namespace tavrelcut
