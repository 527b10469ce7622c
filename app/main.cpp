// tavrelcut [--ini FILE] [RECORDING]
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "about_box.h"
#include "app_settings.h"
#include "main_window.h"

int main(int argc, char** argv) {
    // Past a file-size limit (ulimit -f) a write fails with EFBIG and the job
    // shows its write error, instead of the signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavrelcut"));
    QApplication::setApplicationVersion(QStringLiteral("0.1.0"));
    QApplication::setWindowIcon(tavrelcut::programIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tavrel Cutter: cuts MPEG-2 transport streams at GOP boundaries."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption ini(QStringLiteral("ini"), QStringLiteral("Settings file (default: beside the program)."),
                           QStringLiteral("FILE"));
    parser.addOption(ini);
    parser.addPositionalArgument(QStringLiteral("RECORDING"), QStringLiteral("Recording to open and index."),
                                 QStringLiteral("[RECORDING]"));
    parser.process(app);
    if (parser.positionalArguments().size() > 1) {
        parser.showHelp(2);
    }

    const QString iniPath = parser.isSet(ini) ? parser.value(ini) : tavrelcut::defaultSettingsPath();
    // Sizes the program would refuse are replaced by their defaults; say so.
    for (const QString& note : tavrelcut::settingsNotes(iniPath)) std::fprintf(stderr, "%s\n", qPrintable(note));
    tavrelcut::MainWindow window(iniPath);
    if (!parser.positionalArguments().isEmpty()) {
        const QString recording = parser.positionalArguments().first();
        QTimer::singleShot(0, &window, [&window, recording] { window.openRecording(recording); });
    }
    window.exec();
    return 0;
}
