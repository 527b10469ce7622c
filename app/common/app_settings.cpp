#include "app_settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "file.h"

namespace tavrelcut {

QString defaultSettingsPath() { return QString::fromStdString(tavrel::defaultSettingsPath(tavrel::programFilePath())); }

QString helpFilePath() {
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString& name : {QStringLiteral("help.html"), QStringLiteral("../share/tavrelcut/help.html")}) {
        const QString path = QDir::cleanPath(dir.filePath(name));
        if (QFileInfo(path).isFile()) return path;
    }
    return {};
}

AppSettings loadAppSettings(const QString& path) { return tavrel::loadSettings(path.toStdString()); }

QStringList settingsNotes(const QString& path) {
    std::vector<std::string> notes;
    tavrel::loadSettings(path.toStdString(), &notes);
    QStringList lines;
    for (const std::string& n : notes) lines << QStringLiteral("note: %1: %2").arg(path, QString::fromStdString(n));
    return lines;
}

bool saveAppSettings(const QString& path, const AppSettings& s) {
    int err = 0;
    if (tavrel::saveSettings(path.toStdString(), s, &err)) return true;
    // The window is closing: the terminal is the only place left to say so.
    std::fprintf(stderr, "tavrelcut: settings not saved: %s: %s\n", path.toLocal8Bit().constData(),
                 tavrel::errorText(err).c_str());
    return false;
}

}  // namespace tavrelcut
