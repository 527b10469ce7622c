#include "app_settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace tavrelcut {

namespace {

struct IntKey {
    const char* section;
    const char* key;
    int32_t tavrel::Settings::*field;
    bool writtenAtClose;
};

// In the order they are written at close.
const IntKey kIntKeys[] = {
    {"DATA", "ReNo", &tavrel::Settings::reNo, true},
    {"DATA", "SELECT_PID", &tavrel::Settings::selectPid, true},
    {"DATA", "OPTIMIZE", &tavrel::Settings::optimize, true},
    {"DATA", "REWRITE_TC", &tavrel::Settings::rewriteTc, true},
    {"DATA", "PACMARGIN", &tavrel::Settings::pacMargin, true},
    {"DATA", "PACMARGINBACK", &tavrel::Settings::pacMarginBack, true},
    {"DATA", "SET_FC_SLIDER", &tavrel::Settings::setFcSlider, true},
    {"DATA", "ADD_ACP", &tavrel::Settings::addAcp, true},
    {"DATA", "ADD_TOPPSI", &tavrel::Settings::addTopPsi, true},
    {"FILE", "SELGOP", &tavrel::Settings::selGop, true},
    {"DATA", "REPEAT", &tavrel::Settings::repeat, true},
    {"DATA", "TIME_VOPT", &tavrel::Settings::timeVopt, true},
    {"WND", "OUT_WND", &tavrel::Settings::outWnd, true},
    {"DATA", "CTGOPMV", &tavrel::Settings::ctGopMv, true},
    {"DATA", "ADJUST_PCR", &tavrel::Settings::adjustPcr, true},
    {"FILE", "SOUND", &tavrel::Settings::sound, true},
    {"FILE", "OUTTIME", &tavrel::Settings::outTime, true},
    {"WND", "NATIVE", &tavrel::Settings::native, true},
    {"WND", "CSIZE", &tavrel::Settings::cSize, true},
    {"WND", "ASPECT", &tavrel::Settings::aspect, true},
    {"WND", "GRADE", &tavrel::Settings::grade, true},
    {"DATA", "DISCON", &tavrel::Settings::discon, false},
    {"DATA", "188OUT", &tavrel::Settings::out188, false},
    {"DEBUG", "CHK", &tavrel::Settings::debugChk, false},
};

QString keyOf(const char* section, const char* key) {
    return QString::fromLatin1(section) + QLatin1Char('/') + QString::fromLatin1(key);
}

int readInt(const QSettings& ini, const char* section, const char* key, int def) {
    bool ok = false;
    const int v = ini.value(keyOf(section, key)).toString().trimmed().toInt(&ok);
    return ok ? v : def;
}

std::string readText(const QSettings& ini, const char* section, const char* key) {
    return ini.value(keyOf(section, key)).toString().toStdString();
}

}  // namespace

QString defaultSettingsPath() {
    const QString dir = QCoreApplication::applicationDirPath();
    const QString base = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (!dir.isEmpty() && QFileInfo(dir).isWritable())
        return QDir(dir).filePath(base + QStringLiteral(".ini"));
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/tavrelcut/tavrelcut.ini");
}

AppSettings loadAppSettings(const QString& path) {
    AppSettings s;
    QSettings ini(path, QSettings::IniFormat);
    for (const IntKey& k : kIntKeys) s.options.*k.field = readInt(ini, k.section, k.key, s.options.*k.field);
    s.options.gopFolder = readText(ini, "FILE", "GOPF");
    s.options.soundPath = readText(ini, "FILE", "SOUND_PATH");
    s.outputPath = readText(ini, "FILE", "OUTPUT");
    s.geometry.size = readInt(ini, "DATA", "PACKET", 0);
    s.geometry.headerSize = readInt(ini, "DATA", "PACKET_HEAD", 4);
    s.geometry.syncOffset = readInt(ini, "DATA", "START_HEAD", 4);
    s.windows.left = readInt(ini, "WND", "left", -1);
    s.windows.top = readInt(ini, "WND", "top", -1);
    s.windows.viewLeft = readInt(ini, "WND", "Vleft", -1);
    s.windows.viewTop = readInt(ini, "WND", "Vtop", -1);
    return s;
}

bool saveAppSettings(const QString& path, const AppSettings& s) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings ini(path, QSettings::IniFormat);
    ini.setValue(keyOf("FILE", "INPUT"), QString::fromStdString(s.inputPath));
    ini.setValue(keyOf("FILE", "OUTPUT"), QString::fromStdString(s.outputPath));
    ini.setValue(keyOf("FILE", "GOPF"), QString::fromStdString(s.options.gopFolder));
    ini.setValue(keyOf("FILE", "SOUND_PATH"), QString::fromStdString(s.options.soundPath));
    for (const IntKey& k : kIntKeys)
        if (k.writtenAtClose) ini.setValue(keyOf(k.section, k.key), QString::number(s.options.*k.field));
    ini.setValue(keyOf("WND", "left"), QString::number(s.windows.left));
    ini.setValue(keyOf("WND", "top"), QString::number(s.windows.top));
    ini.setValue(keyOf("WND", "Vleft"), QString::number(s.windows.viewLeft));
    ini.setValue(keyOf("WND", "Vtop"), QString::number(s.windows.viewTop));
    ini.sync();
    return ini.status() == QSettings::NoError;
}

}  // namespace tavrelcut
