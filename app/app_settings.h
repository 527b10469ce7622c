// The program's settings file: where it lives, and every key read at start
// and written at close. Kept in this one place so the window never touches
// the file format itself.
#pragma once

#include <QString>
#include <string>

#include "edit_state.h"
#include "ts_packet.h"

namespace tavrelcut {

struct WindowPlaces {
    int left = -1;      // WND/left, top: main window
    int top = -1;
    int viewLeft = -1;  // WND/Vleft, Vtop: output picture window
    int viewTop = -1;
};

struct AppSettings {
    tavrel::Settings options;
    WindowPlaces windows;
    std::string inputPath;   // FILE/INPUT: written at close, never read back
    std::string outputPath;  // FILE/OUTPUT
    tavrel::PacketGeometry geometry{0, 4, 4};  // DATA/PACKET...: read only
};

// Next to the program, named after it, when the program's folder is
// writable; else $XDG_CONFIG_HOME/tavrelcut/tavrelcut.ini (~/.config when
// unset).
QString defaultSettingsPath();

// Defaults for a missing file and for missing keys.
AppSettings loadAppSettings(const QString& path);
// Writes the keys kept at close; other keys of the file stay. Creates the
// folder when needed. Failures are not reported.
bool saveAppSettings(const QString& path, const AppSettings& s);

}  // namespace tavrelcut
