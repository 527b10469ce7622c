#include "app_settings.h"

namespace tavrelcut {

QString defaultSettingsPath() {
    return QString::fromStdString(tavrel::defaultSettingsPath(tavrel::programFilePath()));
}

AppSettings loadAppSettings(const QString& path) { return tavrel::loadSettings(path.toStdString()); }

bool saveAppSettings(const QString& path, const AppSettings& s) {
    return tavrel::saveSettings(path.toStdString(), s);
}

}  // namespace tavrelcut
