// The program's settings file: where it lives, and every key read at start
// and written at close, through the engine's settings module.
#pragma once

#include <QString>
#include <QStringList>

#include "settings.h"

namespace tavrelcut {

using AppSettings = tavrel::SettingsRecord;

// Next to the program, named after it, when the program's folder is
// writable; else $XDG_CONFIG_HOME/tavrelcut/tavrelcut.ini.
QString defaultSettingsPath();

// The help page: beside the program (a build tree), else in
// ../share/tavrelcut (an installed tree). Empty when neither exists.
QString helpFilePath();

// Defaults for a missing file, for missing keys and for sizes and places
// outside the range of their key.
AppSettings loadAppSettings(const QString& path);
// What a load of path falls back on, one "note: PATH: KEY=VALUE is outside
// MIN..MAX; DEFAULT is used" line each, for the terminal at start.
QStringList settingsNotes(const QString& path);
// Writes the keys kept at close; other lines of the file stay. A failure
// leaves the old file whole and is reported on stderr only.
bool saveAppSettings(const QString& path, const AppSettings& s);

}  // namespace tavrelcut
