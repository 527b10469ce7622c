// "CM" as a user meets it, on the broadcast-like recording: its parts in the
// clip list and its breaks on the slider as tavrelcut-cli detect gives them,
// and a cut equal to tavrelcut-cli cut of those parts.
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include "control_ids.h"
#include "main_window.h"
#include "message_box.h"
#include "skin_slider.h"
#include "window_controls.h"

using namespace app_test;
using namespace tavrelcut::ids;
using tavrelcut::MainWindow;

namespace {

// Answers the expected messages in order (caption, start of the text,
// answer); anything else is recorded.
struct ScriptSink : tavrelcut::MessageSink {
    QList<std::tuple<QString, QString, int>> script;
    QStringList unexpected;
    int ask(QWidget*, const QString& caption, const QString& text, int) override {
        if (script.isEmpty() || std::get<0>(script[0]) != caption || !text.startsWith(std::get<1>(script[0]))) {
            unexpected << caption + QStringLiteral(": ") + text;
            return 0;
        }
        return std::get<2>(script.takeFirst());
    }
};

// Standard output of the command-line tool, or what went wrong.
QString runCli(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(TAVREL_CLI), args);
    const bool ok = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return ok ? QString::fromUtf8(p.readAllStandardOutput())
              : QStringLiteral("failed: ") + QString::fromUtf8(p.readAllStandardError());
}

// "FILE:IN:OUT[ spots]" lines as "IN:OUT".
QStringList ranges(const QString& lines, const QString& file) {
    QStringList r;
    for (const QString& line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        r << (line.startsWith(file + QLatin1Char(':')) ? line.mid(file.size() + 1).section(QLatin1Char(' '), 0, 0)
                                                       : QStringLiteral("other: ") + line);
    return r;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class DetectButtonTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_ini, m_broadcast;

    // Indexes the recording as "Get GOP" does and marks a clip of GOPs 3..9.
    void openAndAddClip(MainWindow& w, const QString& path) {
        w.openRecording(path);
        QTRY_VERIFY_WITH_TIMEOUT(ctl(w, kGetGop)->isEnabled() && ctl(w, kSlider)->isEnabled(), 60000);
        for (auto [at, mark] : {std::pair{3, kInMark}, std::pair{9, kOutMark}}) {
            ctl<QSlider>(w, kSlider)->setValue(at);
            click(w, mark);
        }
        click(w, kAddClip);
    }
    // The clip list as "IN:OUT", the LAST entry as "end".
    QStringList clipRanges(const MainWindow& w) {
        QStringList r;
        const auto last = int32_t(w.state().gopList.size()) - 1;
        for (const tavrel::Clip& c : w.state().clipList.clips)
            r << QStringLiteral("%1:%2").arg(c.inIndex).arg(c.outIndex == last ? QStringLiteral("end")
                                                                               : QString::number(c.outIndex));
        return r;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_ini = m_dir.filePath(QStringLiteral("tavrelcut.ini"));
        QFile ini(m_ini);
        // Margins "CM" must not apply: its parts are cut as `cut` cuts them.
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[DATA]\nPACMARGIN=2\nPACMARGINBACK=2\n") > 0);
        ini.close();
        QFile list(m_dir.filePath(QStringLiteral("qxinput.txt")));
        QVERIFY(list.open(QIODevice::WriteOnly));

        // Made once per build tree and kept (77: no ffmpeg; fails under CI=true).
        QProcess make;
        make.start(QStringLiteral(TAVREL_MAKE_BROADCAST), {QStringLiteral(TAVREL_BROADCAST_DIR)});
        QVERIFY(make.waitForFinished(900000) && make.exitStatus() == QProcess::NormalExit);
        if (make.exitCode() == 77) QSKIP("ffmpeg not found");
        QVERIFY2(make.exitCode() == 0, make.readAllStandardError().constData());
        // A link in the test's folder, so the GOP index is written here.
        m_broadcast = m_dir.filePath(QStringLiteral("broadcast.ts"));
        QVERIFY(QFile::link(QStringLiteral(TAVREL_BROADCAST_DIR "/broadcast.ts"), m_broadcast));
    }

    // Over a hand-made clip: No keeps the list, Yes puts in the parts; the
    // breaks show either way; a double click on a part gives "| <<" and
    // ">> |" its edges; the cut is the command-line tool's.
    void cmFillsTheClipListAndCutsLikeTheCli() {
        ScriptSink sink;
        MainWindow w(m_ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!ctl(w, kDetect)->isEnabled());  // no GOP list yet
        openAndAddClip(w, m_broadcast);
        const QStringList handMade = clipRanges(w);
        QCOMPARE(handMade, QStringList{QStringLiteral("1:11")});

        const QString partLines = runCli({QStringLiteral("detect"), m_broadcast});
        const QStringList parts = ranges(partLines, m_broadcast);
        const QStringList breaks = ranges(runCli({"detect", "--breaks", m_broadcast}), m_broadcast);
        QVERIFY2(parts.size() >= 2 && !breaks.isEmpty(), qPrintable(partLines));

        const QString question = QString::fromUtf8("クリップリストを検出した本編で置き換えますか？");
        sink.script = {{QStringLiteral("question"), question, tavrel::kResultNo}};
        click(w, kDetect);
        QSet<int> off;
        for (int id : kBusySet)
            if (!ctl(w, id)->isEnabled()) off.insert(id);
        QCOMPARE(off, QSet<int>(kBusySet.begin(), kBusySet.end()));
        QTRY_VERIFY_WITH_TIMEOUT(sink.script.isEmpty() && ctl(w, kDetect)->isEnabled(), 120000);
        QCOMPARE(clipRanges(w), handMade);
        auto* slider = ctl<tavrelcut::SkinSlider>(w, kSlider);
        QStringList spans;  // each drawn up to the break's last GOP
        for (auto [from, to] : slider->spans()) spans << QStringLiteral("%1:%2").arg(from).arg(to + 1);
        QCOMPARE(spans, breaks);

        sink.script = {{QStringLiteral("question"), question, tavrel::kResultYes}};
        click(w, kDetect);
        QTRY_VERIFY_WITH_TIMEOUT(sink.script.isEmpty() && ctl(w, kDetect)->isEnabled(), 120000);
        QCOMPARE(clipRanges(w), parts);
        QCOMPARE(ctl<QListWidget>(w, kClipList)->count(), parts.size());

        // The second part's edges: the end of the first break, the start of the next.
        auto* clips = ctl<QListWidget>(w, kClipList);
        const QPoint second = clips->visualItemRect(clips->item(1)).center();
        QTest::mouseClick(clips->viewport(), Qt::LeftButton, {}, second);
        QTest::mouseDClick(clips->viewport(), Qt::LeftButton, {}, second);
        const QString outEdge = parts[1].section(QLatin1Char(':'), 1);
        click(w, kJumpOut);
        QCOMPARE(slider->value(), outEdge == QStringLiteral("end") ? slider->maximum() : outEdge.toInt());
        click(w, kJumpIn);
        QCOMPARE(slider->value(), parts[1].section(QLatin1Char(':'), 0, 0).toInt());

        const QString out = m_dir.filePath(QStringLiteral("cm.ts")), cliOut = m_dir.filePath(QStringLiteral("cli.ts"));
        ctl<QLineEdit>(w, kOutputEdit)->setText(out);
        click(w, kClipping);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out) && ctl(w, kClipping)->isEnabled(), 120000);
        QCOMPARE(runCli(QStringList{"cut", "-o", cliOut} + partLines.split('\n', Qt::SkipEmptyParts)), QString());
        const QByteArray written = readAll(out);
        QVERIFY(written.size() > 188 * 1000 && written == readAll(cliOut));
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }

    // A recording without audio: the job's message, the list and the slider
    // as they were, the window ready again.
    void refusalKeepsTheList() {
        ScriptSink sink;
        MainWindow w(m_ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString silent = m_dir.filePath(QStringLiteral("two_video_pids.ts"));
        QVERIFY(QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/two_video_pids.ts"), silent));
        openAndAddClip(w, silent);
        const QStringList before = clipRanges(w);
        sink.script = {{QStringLiteral("error"), QStringLiteral("no audio stream"), tavrel::kResultOk}};
        click(w, kDetect);
        QTRY_VERIFY_WITH_TIMEOUT(sink.script.isEmpty() && ctl(w, kClose)->isEnabled(), 60000);
        QCOMPARE(clipRanges(w), before);
        QVERIFY(ctl<tavrelcut::SkinSlider>(w, kSlider)->spans().isEmpty());
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(DetectButtonTest)
#include "test_detect_button.moc"
