// "CM" as a user meets it: the broadcast-like recording indexed, the
// detector run from the tool row, its parts in the clip list and its breaks
// on the slider, then cut; all against what tavrelcut-cli detect and cut
// give for the same recording.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <deque>

#include "control_ids.h"
#include "main_window.h"
#include "message_box.h"
#include "skin_slider.h"

using namespace tavrelcut::ids;
using tavrelcut::MainWindow;

namespace {

// Answers messages from a script; anything else is recorded as unexpected.
class ScriptSink : public tavrelcut::MessageSink {
public:
    struct Expect {
        QString caption, textStart;
        int kind, answer;
    };
    void expect(Expect e) { m_script.push_back(std::move(e)); }
    int ask(QWidget*, const QString& caption, const QString& text, int kind) override {
        if (m_script.empty() || m_script.front().caption != caption || !text.startsWith(m_script.front().textStart) ||
            m_script.front().kind != kind) {
            unexpected << caption + QStringLiteral(": ") + text;
            return 0;
        }
        const int answer = m_script.front().answer;
        m_script.pop_front();
        return answer;
    }
    bool done() const { return m_script.empty(); }
    QStringList unexpected;

private:
    std::deque<Expect> m_script;
};

struct Range {
    int in = 0, out = 0;  // out: "end" is the GOP count
    bool operator==(const Range&) const = default;
};

char* toString(const Range& r) { return qstrdup(qPrintable(QStringLiteral("%1-%2").arg(r.in).arg(r.out))); }

struct Cli {
    int status = -1;
    QString out, err;
};

Cli runCli(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(TAVREL_CLI), args);
    Cli r;
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit) return r;
    r.status = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// FILE:IN:OUT lines (anything after OUT ignored); false on a line of
// another file or form.
bool parseRanges(const QString& text, const QString& file, int gopCount, QList<Range>& out) {
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.startsWith(file + QLatin1Char(':'))) return false;
        const QStringList f = line.mid(file.size() + 1).section(QLatin1Char(' '), 0, 0).split(QLatin1Char(':'));
        bool okIn = false, okOut = f.size() == 2 && f[1] == QStringLiteral("end");
        const int in = f.value(0).toInt(&okIn);
        const int end = okOut ? gopCount : f.value(1).toInt(&okOut);
        if (f.size() != 2 || !okIn || !okOut) return false;
        out.push_back({in, end});
    }
    return true;
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

    template <class T = QWidget>
    T* ctl(MainWindow& w, int id) {
        T* c = w.findChild<T*>(QString::number(id));
        if (!c) qFatal("no control %d", id);
        return c;
    }
    void click(MainWindow& w, int id) {
        auto* b = ctl<QPushButton>(w, id);
        QVERIFY2(b->isEnabled(), qPrintable(QStringLiteral("control %1 is disabled").arg(id)));
        QTest::mouseClick(b, Qt::LeftButton);
    }
    // Opens a recording as "Get GOP" does and waits for its list.
    void open(MainWindow& w, const QString& path) {
        w.openRecording(path);
        QTRY_VERIFY_WITH_TIMEOUT(ctl(w, kGetGop)->isEnabled() && ctl(w, kSlider)->isEnabled(), 60000);
    }
    QList<Range> clipRanges(const MainWindow& w) {
        QList<Range> r;
        for (const tavrel::Clip& c : w.state().clipList.clips) r.push_back({c.inIndex, c.outIndex});
        return r;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_ini = m_dir.filePath(QStringLiteral("tavrelcut.ini"));
        QFile ini(m_ini);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        // Margins that "CM" must not apply: the detected parts are cut as
        // `cut` cuts them.
        ini.write("[FILE]\nOUTTIME=0\n[DATA]\nSET_FC_SLIDER=1\nPACMARGIN=2\nPACMARGINBACK=2\n");
        ini.close();
        QFile list(m_dir.filePath(QStringLiteral("qxinput.txt")));
        QVERIFY(list.open(QIODevice::WriteOnly));

        // The broadcast-like recording (made once per build tree and kept).
        QProcess make;
        make.start(QStringLiteral(TAVREL_MAKE_BROADCAST), {QStringLiteral(TAVREL_BROADCAST_DIR)});
        QVERIFY(make.waitForFinished(900000) && make.exitStatus() == QProcess::NormalExit);
        if (make.exitCode() == 77) QSKIP("ffmpeg not found");
        QVERIFY2(make.exitCode() == 0, make.readAllStandardError().constData());
        // Linked into the test's folder, so its GOP index is written there.
        m_broadcast = m_dir.filePath(QStringLiteral("broadcast.ts"));
        QVERIFY(QFile::link(QStringLiteral(TAVREL_BROADCAST_DIR "/broadcast.ts"), m_broadcast));
    }

    // A hand-made clip first: "CM" asks before replacing it, No keeps it;
    // Yes gives the detector's parts, the breaks show on the slider, a
    // double click on a part lets "| <<" and ">> |" reach its edges, and
    // the cut equals the command-line tool's cut of `detect`'s lines.
    void cmFillsTheClipListAndCutsLikeTheCli() {
        ScriptSink sink;
        MainWindow w(m_ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!ctl(w, kDetect)->isEnabled());  // no GOP list yet
        open(w, m_broadcast);
        const int gopCount = int(w.state().gopList.size()) - 1;  // without LAST

        const Cli parts = runCli({QStringLiteral("detect"), m_broadcast});
        const Cli breaks = runCli({QStringLiteral("detect"), QStringLiteral("--breaks"), m_broadcast});
        QCOMPARE(parts.status, 0);
        QCOMPARE(breaks.status, 0);
        QList<Range> cliParts, cliBreaks;
        QVERIFY2(parseRanges(parts.out, m_broadcast, gopCount, cliParts), qPrintable(parts.out));
        QVERIFY2(parseRanges(breaks.out, m_broadcast, gopCount, cliBreaks), qPrintable(breaks.out));
        QVERIFY2(cliParts.size() >= 2 && !cliBreaks.isEmpty(), qPrintable(parts.out + breaks.out));

        auto* slider = ctl<tavrelcut::SkinSlider>(w, kSlider);
        slider->setValue(3);
        click(w, kInMark);
        slider->setValue(9);
        click(w, kOutMark);
        click(w, kAddClip);
        auto* clips = ctl<QListWidget>(w, kClipList);
        QCOMPARE(clips->count(), 1);
        const QString handMade = clips->item(0)->text();

        const QString question = QString::fromUtf8("クリップリストを検出した本編で置き換えますか？");
        sink.expect({QStringLiteral("question"), question, 2, 3});
        click(w, kDetect);
        // The job holds the window's busy set like the cut and the scan.
        QSet<int> disabled;
        for (int id : kBusySet)
            if (!ctl(w, id)->isEnabled()) disabled.insert(id);
        QCOMPARE(disabled, QSet<int>(kBusySet.begin(), kBusySet.end()));
        QTRY_VERIFY_WITH_TIMEOUT(sink.done() && ctl(w, kDetect)->isEnabled(), 120000);
        QCOMPARE(clips->count(), 1);
        QCOMPARE(clips->item(0)->text(), handMade);
        // The breaks are shown whatever the answer: each up to its last GOP.
        QList<Range> spans;
        for (auto [from, to] : slider->spans()) spans.push_back({from, to + 1});
        QCOMPARE(spans, cliBreaks);
        for (int i = 0; i < spans.size(); ++i) QVERIFY(!slider->spanRect(i).isEmpty());

        sink.expect({QStringLiteral("question"), question, 2, 2});
        click(w, kDetect);
        QTRY_VERIFY_WITH_TIMEOUT(sink.done() && ctl(w, kDetect)->isEnabled(), 120000);
        QCOMPARE(clipRanges(w), cliParts);
        QCOMPARE(clips->count(), cliParts.size());
        for (const tavrel::Clip& c : w.state().clipList.clips)
            QCOMPARE(QString::fromStdString(c.sourcePath), m_broadcast);
        // The marks are left as they were.
        QCOMPARE(slider->selectionStart(), 3);
        QCOMPARE(slider->selectionEnd(), 9);

        // Reviewing the second part: its edges are the breaks' edges.
        clips->scrollToItem(clips->item(1));
        // A user's double click: a click, then the second press.
        const QPoint second = clips->visualItemRect(clips->item(1)).center();
        QTest::mouseClick(clips->viewport(), Qt::LeftButton, {}, second);
        QTest::mouseDClick(clips->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(slider->value(), cliParts[1].in);
        slider->setValue(0);
        click(w, kJumpOut);
        QCOMPARE(slider->value(), cliParts[1].out);
        click(w, kJumpIn);
        QCOMPARE(slider->value(), cliParts[1].in);
        QCOMPARE(cliParts[1].in, cliBreaks[0].out);

        const QString out = m_dir.filePath(QStringLiteral("cm.ts")), cliOut = m_dir.filePath(QStringLiteral("cli.ts"));
        ctl<QLineEdit>(w, kOutputEdit)->setText(out);
        click(w, kClipping);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out) && ctl(w, kClipping)->isEnabled(), 120000);
        const Cli cut = runCli(QStringList{QStringLiteral("cut"), QStringLiteral("-o"), cliOut} +
                               parts.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
        QCOMPARE(cut.status, 0);
        const QByteArray written = readAll(out);
        QVERIFY(written.size() > 188 * 1000);
        QVERIFY(written == readAll(cliOut));
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }

    // A recording the detector refuses: its message once, the clip list
    // kept, no breaks, and the window ready again.
    void refusalKeepsTheList() {
        ScriptSink sink;
        MainWindow w(m_ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString silent = m_dir.filePath(QStringLiteral("two_video_pids.ts"));
        QVERIFY(QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/two_video_pids.ts"), silent));
        open(w, silent);
        click(w, kInMark);
        ctl<QSlider>(w, kSlider)->setValue(2);
        click(w, kOutMark);
        click(w, kAddClip);
        const QList<Range> before = clipRanges(w);
        QCOMPARE(before.size(), 1);
        sink.expect({QStringLiteral("error"), QStringLiteral("no audio stream"), 0, 0});
        click(w, kDetect);
        QTRY_VERIFY_WITH_TIMEOUT(sink.done() && ctl(w, kDetect)->isEnabled(), 60000);
        QCOMPARE(clipRanges(w), before);
        QVERIFY(ctl<tavrelcut::SkinSlider>(w, kSlider)->spans().isEmpty());
        QVERIFY(ctl(w, kClose)->isEnabled());
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(DetectButtonTest)
#include "test_detect_button.moc"
