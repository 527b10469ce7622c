// "Option": the tree property sheet with the "Edit", "Clipping" and
// "Status" pages, run over the main window's editing state.
#pragma once

#include <functional>

#include "tree_property_sheet.h"

namespace tavrel {
class JobHost;
struct EditState;
struct Settings;
}  // namespace tavrel

namespace tavrelcut {

struct OptionSheetHost {
    TreePropertySheet::MessageBox messages;
    // "Get PID": reads state.pidList anew from state.currentPacket.
    std::function<void()> getPids;
};

// Runs the sheet modally over parent. The pages edit a copy of
// state.settings; on OK it is handed back in chosen and true is returned.
// The PID list is state's own: it is emptied first when it was read from
// another file than state.inputPath, "Get PID" replaces it whatever the
// sheet ends with, and OK writes the pages' selection flags into it.
bool runOptionSheet(QWidget* parent, tavrel::EditState& state, const OptionSheetHost& host, tavrel::Settings& chosen);

// The engine's PID acquisition for "Get PID" (state.pidList from
// state.currentPacket), run on a thread of its own while the windows go on
// being drawn; user input waits until it has ended.
void acquirePidListAside(tavrel::EditState& state, tavrel::JobHost& host);

}  // namespace tavrelcut
