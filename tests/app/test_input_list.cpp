// The input list as a user meets it beside the main window: the list file,
// the entry rules, both walks with their cancel and faults, reordering, and
// opening an entry in the main window. Every message must be one the test
// expects.
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <deque>
#include <functional>
#include <sys/stat.h>
#include <thread>

#include "control_ids.h"
#include "error_info_window.h"
#include "input_list_window.h"
#include "main_window.h"
#include "message_box.h"
#include "state_icons.h"
#include "test_util.h"

using namespace tavrelcut;
using namespace tavrelcut::ids;

namespace {

// Answers messages from a script; one that is not the next expected is
// recorded as unexpected.
class ScriptSink : public MessageSink {
public:
    struct Expect {
        QString caption, text;
        std::function<void()> whileShown;
    };
    void expect(Expect e) { m_script.push_back(std::move(e)); }
    int ask(QWidget*, const QString& caption, const QString& text, int) override {
        if (m_script.empty() || m_script.front().caption != caption || m_script.front().text != text) {
            unexpected << caption + QStringLiteral(": ") + text;
            return 0;
        }
        Expect e = std::move(m_script.front());
        m_script.pop_front();
        if (e.whileShown) e.whileShown();
        return 0;
    }
    bool done() const { return m_script.empty(); }
    QStringList unexpected;

private:
    std::deque<Expect> m_script;
};

QString u8(const char* s) { return QString::fromUtf8(s); }

QString copyIn(const QDir& dir, const char* data, const QString& name) {
    const QString path = dir.filePath(name);
    QFile::remove(path);
    if (!QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/") + QLatin1String(data), path)) qFatal("copy %s", data);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("write %s", qPrintable(path));
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<int> states(const InputListWindow& l) {
    QList<int> s;
    for (const auto& e : l.entries()) s << e->state;
    return s;
}

QStringList paths(const InputListWindow& l) {
    QStringList p;
    for (const auto& e : l.entries()) p << QString::fromStdString(e->path);
    return p;
}

void click(const InputListWindow& l, int id) {
    auto* b = l.findChild<QPushButton*>(QString::number(id));
    QVERIFY2(b && b->isEnabled(), qPrintable(QString::number(id)));
    QTest::mouseClick(b, Qt::LeftButton);
}

void selectRows(const InputListWindow& l, std::initializer_list<int> rows) {
    l.list()->clearSelection();
    for (int r : rows) l.list()->topLevelItem(r)->setSelected(true);
}

QPoint rowCentre(const InputListWindow& l, int row) {
    return l.list()->visualItemRect(l.list()->topLevelItem(row)).center();
}

// A double click as the system gives it: a click, then the second press.
void doubleClick(const InputListWindow& l, int row) {
    QTest::mouseClick(l.list()->viewport(), Qt::LeftButton, {}, rowCentre(l, row));
    QTest::mouseDClick(l.list()->viewport(), Qt::LeftButton, {}, rowCentre(l, row));
}

// Presses on row from, carries it past the drag distance and lets go at to
// (viewport coordinates).
void dragRow(const InputListWindow& l, int from, QPoint to) {
    QWidget* vp = l.list()->viewport();
    const QPoint start = rowCentre(l, from);
    QTest::mousePress(vp, Qt::LeftButton, {}, start);
    for (const QPoint p : {start + QPoint(0, 12), to}) {
        QMouseEvent move(QEvent::MouseMove, p, vp->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &move);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, to, vp->mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(vp, &release);
}

// Receives the URLs the desktop would open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

}  // namespace

class InputListTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    QDir m_dir;
    ScriptSink m_sink;
    std::unique_ptr<MainWindow> m_main;

    // A main window on the settings file in the test's folder; ini is its
    // text, list the list file's (none when null).
    InputListWindow& start(const QByteArray& ini, const char* list = "") {
        writeFile(m_dir.filePath(QStringLiteral("tavrelcut.ini")), ini);
        if (list) writeFile(m_dir.filePath(QStringLiteral("qxinput.txt")), list);
        return restart();
    }
    InputListWindow& restart() {
        m_main.reset();
        m_main = std::make_unique<MainWindow>(m_dir.filePath(QStringLiteral("tavrelcut.ini")));
        m_main->setMessageSink(&m_sink);
        // As the program runs it: the main window is modal.
        m_main->setWindowModality(Qt::ApplicationModal);
        m_main->show();
        if (!QTest::qWaitForWindowExposed(m_main.get())) qFatal("main window not shown");
        return *m_main->inputList();
    }
    // Runs a walk to its end.
    void walk(InputListWindow& l, int button) {
        click(l, button);
        QTRY_VERIFY_WITH_TIMEOUT(!l.isBusy(), 20000);
        QTRY_VERIFY(m_sink.done());
    }

private slots:
    void init() {
        m_tmp = std::make_unique<QTemporaryDir>();
        m_dir = QDir(m_tmp->path());
        m_sink = ScriptSink();
    }
    void cleanup() {
        m_main.reset();
        QVERIFY2(m_sink.unexpected.isEmpty(), qPrintable(m_sink.unexpected.join(QLatin1Char('\n'))));
        QVERIFY(m_sink.done());
    }

    // The first start says the list file is missing, once; the list, the
    // window's place and its column widths come back at the next start.
    void listFileAndPlaceLastBetweenRuns() {
        const QString a = copyIn(m_dir, "hd_1080i_aac.ts", QStringLiteral("a.ts"));
        const QString b = copyIn(m_dir, "sd_480p_mp2.ts", QStringLiteral("b.ts"));
        m_sink.expect({QStringLiteral("error"), u8("入力ファイル読込エラー。"), {}});
        InputListWindow& l =
            start("[INPUT]\nleft=40\ntop=30\nwide=400\nheight=300\n[INPUTLIST]\nIN_ITEM2=0\n", nullptr);
        QTRY_VERIFY(m_sink.done());
        QVERIFY(l.isVisible());
        QCOMPARE(l.windowTitle(), QStringLiteral("Input"));
        QCOMPARE(QApplication::activeWindow(), m_main.get());
        QCOMPARE(l.pos(), QPoint(40, 30));
        QCOMPARE(l.size(), QSize(400, 300));
        QCOMPARE(l.list()->columnWidth(1), 1);
        QCOMPARE(l.minimumSize(), QSize(320, 260));
        l.addPaths({a, b});
        l.move(60, 50);
        l.resize(420, 310);
        QCOMPARE(l.list()->width(), 420 - 24);
        l.list()->setColumnWidth(0, 150);
        QTest::mouseClick(m_main->control(kClose), Qt::LeftButton);
        QVERIFY(!l.isVisible());
        QCOMPARE(readFile(m_dir.filePath(QStringLiteral("qxinput.txt"))), (a + "\r\n" + b + "\r\n").toUtf8());
        QSettings ini(m_dir.filePath(QStringLiteral("tavrelcut.ini")), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("INPUT/left")).toInt(), 60);
        QCOMPARE(ini.value(QStringLiteral("INPUT/wide")).toInt(), 420);
        QCOMPARE(ini.value(QStringLiteral("INPUT/height")).toInt(), 310);
        QCOMPARE(ini.value(QStringLiteral("INPUTLIST/IN_ITEM1")).toInt(), 150);

        InputListWindow& again = restart();
        QCOMPARE(paths(again), QStringList({a, b}));
        QCOMPARE(again.pos(), QPoint(60, 50));
        QCOMPARE(again.size(), QSize(420, 310));
        QCOMPARE(again.list()->columnWidth(0), 150);
    }

    // AddInputEntry's rules through the list file and a drop, and the
    // columns of a row.
    void entryRules() {
        const QString rec = copyIn(m_dir, "sd_480p_mp2.ts", QStringLiteral("rec.ts"));
        const QString otherCase = m_dir.filePath(QStringLiteral("REC.ts"));
        QVERIFY(QFile::link(rec, otherCase));
        const QString mb = m_dir.filePath(QStringLiteral("mb.bin"));
        writeFile(mb, QByteArray(1572864, '\0'));
        const QString last = copyIn(m_dir, "no_video.ts", QStringLiteral("last.ts"));
        const QByteArray list = (rec + "\r\n" + rec + "\n" + "relative.ts\r\n" + m_dir.filePath("gone.ts") + "\r\n" +
                                 otherCase + "\r\n" + mb + "\r\n" + last)
                                    .toUtf8();
        InputListWindow& l = start("", list.constData());
        // The same path once, the other letter case again, no relative or
        // missing path, and no last line without its line feed.
        QCOMPARE(paths(l), QStringList({rec, otherCase, mb}));
        QTreeWidgetItem* row = l.list()->topLevelItem(2);
        QCOMPARE(row->text(0), QStringLiteral("mb.bin"));
        QCOMPARE(row->text(1), QStringLiteral("1 MB"));
        QCOMPARE(row->text(2), QFileInfo(mb).lastModified().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
        QCOMPARE(row->text(3), m_dir.path());

        QVERIFY(m_dir.mkdir(QStringLiteral("folder")));
        QMimeData mime;
        mime.setUrls(
            {QUrl::fromLocalFile(m_dir.filePath("folder")), QUrl::fromLocalFile(last), QUrl::fromLocalFile(rec)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(l.list()->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(l.list()->viewport(), &drop);
        QCOMPARE(paths(l), QStringList({rec, otherCase, mb, last}));
    }

    // "Get GOP" scans the queued entries in state 0 only, keeps an index
    // that appeared meanwhile, marks a file without a packet size and goes
    // on; "Close" is off meanwhile; the title counts; CHK keeps the log.
    void getGopWalk() {
        QStringList recs;
        recs << copyIn(m_dir, "hd_1080i_aac.ts", QStringLiteral("a.ts"))
             << copyIn(m_dir, "sd_480p_mp2.ts", QStringLiteral("b.ts"))
             << copyIn(m_dir, "hd_1080i_aac_192.ts", QStringLiteral("c.ts"))
             << copyIn(m_dir, "random_bytes.bin", QStringLiteral("d.ts"))
             << copyIn(m_dir, "two_video_pids.ts", QStringLiteral("e.ts"));
        writeFile(recs[1] + ".txt", "kept");
        InputListWindow& l = start("[DEBUG]\nCHK=1\n");
        l.addPaths(recs);
        QCOMPARE(states(l), QList<int>({0, 1, 0, 0, 0}));
        writeFile(recs[2] + ".txt", "appeared");
        QStringList titles;
        connect(&l, &QWidget::windowTitleChanged, this, [&](const QString& t) { titles << t; });
        bool closeDuring = true, getGopDuring = true, cancelDuring = false;
        m_sink.expect({QStringLiteral("Info"), QStringLiteral("Complete!"), [&] {
                           closeDuring = m_main->control(kClose)->isEnabled();
                           getGopDuring = l.findChild<QWidget*>(QString::number(kInputGetGop))->isEnabled();
                           cancelDuring = l.findChild<QWidget*>(QString::number(kInputCancel))->isEnabled();
                       }});
        l.list()->selectAll();
        walk(l, kInputGetGop);
        QCOMPARE(states(l), QList<int>({1, 1, 1, 4, 1}));
        QVERIFY(!closeDuring && !getGopDuring && cancelDuring);
        QVERIFY(m_main->control(kClose)->isEnabled());
        QCOMPARE(readFile(recs[1] + ".txt"), QByteArray("kept"));
        QCOMPARE(readFile(recs[2] + ".txt"), QByteArray("appeared"));
        QVERIFY(!QFile::exists(recs[3] + ".txt"));
        for (int i : {0, 4}) QVERIFY(readFile(recs[i] + ".txt").endsWith("\r\nTSPAC_TYPE,188\r\nEND\r\n"));
        QVERIFY(titles.contains(u8("Input [  0％]")));
        QCOMPARE(titles.last(), QStringLiteral("Input"));
        const QString base = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
        const QStringList logs = m_dir.entryList({base + QStringLiteral("_????????????.txt")});
        QCOMPARE(logs.size(), 1);
        const QString log = QString::fromUtf8(readFile(m_dir.filePath(logs.front())));
        const QString t = QStringLiteral("\\d\\d:\\d\\d:\\d\\d:\\d{3} > ");
        QVERIFY2(
            QRegularExpression("^" + t + "Start\r\n" + t + "\r\nEND : \\d+\r\n" + t + "End\r\n$").match(log).hasMatch(),
            qPrintable(log));
    }

    // "Check" queues states 0 and 1, writes the same error files as
    // tavrelcut-cli check, and the error view follows the recording open in
    // the main window.
    void checkWalkMatchesCli() {
        QByteArray damaged = readFile(QStringLiteral(TAVREL_TEST_DATA "/hd_1080i_aac.ts"));
        damaged.remove(188 * 500, 188);  // one packet gone: a counter error
        const QString x = m_dir.filePath(QStringLiteral("x.ts"));
        writeFile(x, damaged);
        const QString y = copyIn(m_dir, "sd_480p_204.ts", QStringLiteral("y.ts"));
        const QString z = copyIn(m_dir, "hd_1080i_aac_192.ts", QStringLiteral("z.ts"));
        InputListWindow& l = start("");
        m_main->openRecording(x);
        QTRY_COMPARE(qobject_cast<QLabel*>(m_main->control(kPacketLabel))->text(), QStringLiteral("188"));
        writeFile(x + "_err.bin", "TS Error Check\r\n");
        m_main->showErrorInfo();
        QVERIFY(m_main->errorInfoWindow()->records().empty());
        l.addPaths({x, y, z});
        QCOMPARE(states(l), QList<int>({1, 0, 0}));
        l.list()->selectAll();
        walk(l, kInputCheck);
        QCOMPARE(states(l), QList<int>({1, 0, 0}));
        QVERIFY(!m_main->errorInfoWindow()->records().empty());

        QVERIFY(m_dir.mkdir(QStringLiteral("cli")));
        QStringList copies;
        for (const QString& p : {x, y, z}) {
            copies << m_dir.filePath(QStringLiteral("cli/") + QFileInfo(p).fileName());
            QVERIFY(QFile::copy(p, copies.back()));
        }
        QCOMPARE(QProcess::execute(QStringLiteral(TAVREL_CLI), QStringList{QStringLiteral("check")} + copies), 0);
        for (int i = 0; i < 3; ++i) {
            const QByteArray ours = readFile(QStringList({x, y, z})[i] + "_err.bin");
            QVERIFY(ours.size() >= 16);
            QCOMPARE(ours, readFile(copies[i] + "_err.bin"));
        }
    }

    // A full disk and a cancel, an unreadable file, a file gone before its
    // turn: each walk ends as it should and leaves nothing half-written.
    void cancelAndFaults() {
        QStringList recs;
        for (const char* n : {"a.ts", "b.ts", "c.ts"}) recs << copyIn(m_dir, "hd_1080i_aac.ts", QString::fromLatin1(n));
        InputListWindow& l = start("");
        l.addPaths(recs);
        const QStringList before =
            m_dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        {
            // The index of a.ts finds the disk full; while that is said the
            // user cancels: b.ts stops at its first block.
            tavrel::test::FileSizeLimit full(100);
            m_sink.expect({QStringLiteral("error"), u8("パケット情報書き込みエラー"), [&] { click(l, kInputCancel); }});
            m_sink.expect({QStringLiteral("Info"), QStringLiteral("Complete!"), {}});
            l.list()->selectAll();
            walk(l, kInputGetGop);
        }
        QCOMPARE(states(l), QList<int>({0, 0, 0}));
        QCOMPARE(m_dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot), before);

        // A recording that can no longer be read stops "Get GOP" (no
        // "Complete!", the rest stays queued until F5); "Check" reports it
        // and goes on, here into a cancel that removes b.ts's error file.
        QVERIFY(QFile::remove(recs[0]));
        QCOMPARE(mkfifo(recs[0].toLocal8Bit().constData(), 0600), 0);
        m_sink.expect({QStringLiteral("error"), u8("Input ファイルオープンエラー"), {}});
        selectRows(l, {0, 1});
        walk(l, kInputGetGop);
        QCOMPARE(states(l), QList<int>({4, 5, 0}));
        QTest::keyClick(&l, Qt::Key_F5);
        QCOMPARE(states(l), QList<int>({0, 0, 0}));
        writeFile(recs[1] + "_err.bin", "TS Error Check\r\n");
        m_sink.expect({QStringLiteral("error"), u8("Input ファイルオープンエラー"), [&] { click(l, kInputCancel); }});
        l.list()->selectAll();
        walk(l, kInputCheck);
        QCOMPARE(states(l), QList<int>({0, 0, 0}));
        const QStringList left = m_dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        QCOMPARE(left, QStringList({"a.ts", "b.ts", "c.ts", "qxinput.txt", "tavrelcut.ini"}));

        // b.ts goes before its turn: it keeps blinking until F5 marks it;
        // a double click then only resets it.
        QVERIFY(QFile::remove(recs[1]));
        m_sink.expect({QStringLiteral("Info"), QStringLiteral("Complete!"), {}});
        selectRows(l, {1, 2});
        walk(l, kInputGetGop);
        const int working = states(l)[1];
        QVERIFY(working == kStateWorking || working == kStateWorkingAlt);
        QCOMPARE(states(l)[2], 1);
        QTRY_COMPARE_WITH_TIMEOUT(states(l)[1], 5 - working, 1500);
        QTest::keyClick(&l, Qt::Key_F5);
        QCOMPARE(states(l)[1], 4);
        doubleClick(l, 1);
        QCOMPARE(states(l)[1], 0);
        QVERIFY(qobject_cast<QLineEdit*>(m_main->control(kInputEdit))->text().isEmpty());
    }

    // Rows are dragged to new places; a double click opens an indexed entry
    // in the main window unless it is busy; "Explorer" and "Del".
    void reorderOpenAndDelete() {
        QStringList recs;
        for (const char* n : {"a.ts", "b.ts", "c.ts", "d.ts"})
            recs << copyIn(m_dir, "sd_480p_mp2.ts", QString::fromLatin1(n));
        QCOMPARE(QProcess::execute(QStringLiteral(TAVREL_CLI), {QStringLiteral("index"), recs[2]}), 0);
        InputListWindow& l = start("");
        l.addPaths(recs);
        const QString a = recs[0], b = recs[1], c = recs[2], d = recs[3];
        dragRow(l, 0, rowCentre(l, 1));  // onto the next row: stays
        QCOMPARE(paths(l), QStringList({a, b, c, d}));
        dragRow(l, 0, rowCentre(l, 3));  // lands before d
        QCOMPARE(paths(l), QStringList({b, c, a, d}));
        QCOMPARE(l.list()->selectedItems().size(), 1);
        QCOMPARE(l.list()->topLevelItem(2)->isSelected(), true);
        dragRow(l, 0, QPoint(5, rowCentre(l, 3).y() + 60));  // below the last row: the end
        QCOMPARE(paths(l), QStringList({c, a, d, b}));
        dragRow(l, 0, QPoint(-40, -40));  // off the list: nothing moves
        QCOMPARE(paths(l), QStringList({c, a, d, b}));
        QCOMPARE(l.list()->topLevelItem(0)->text(0), QStringLiteral("c.ts"));

        auto* input = qobject_cast<QLineEdit*>(m_main->control(kInputEdit));
        m_main->holdBusy(BusyReason::Job);  // as while a cut runs
        doubleClick(l, 0);
        QVERIFY(input->text().isEmpty());
        QCOMPARE(states(l)[0], 1);
        m_main->releaseBusy(BusyReason::Job);
        doubleClick(l, 0);
        QCOMPARE(input->text(), c);
        QTRY_COMPARE(qobject_cast<QLabel*>(m_main->control(kPacketLabel))->text(), QStringLiteral("188"));

        // A click through the window system reaches the list while the
        // modal main window is up.
        l.list()->clearSelection();
        QTest::mouseClick(l.windowHandle(), Qt::LeftButton, {}, l.list()->viewport()->mapTo(&l, rowCentre(l, 1)));
        QVERIFY(l.list()->topLevelItem(1)->isSelected());
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        l.openFolder();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl::fromLocalFile(m_dir.path())});

        // An entry held elsewhere cannot be deleted within 500 ms.
        std::shared_ptr<InputEntry> held = l.entries()[1];
        std::timed_mutex go;
        go.lock();
        std::thread holder([&] {
            std::lock_guard<std::timed_mutex> hold(held->lock);
            go.lock();
            go.unlock();
        });
        QTest::qWait(50);
        m_sink.expect({QStringLiteral("error"), QStringLiteral("Many Item Delete Error"), {}});
        selectRows(l, {1, 2});
        click(l, kInputDelete);
        go.unlock();
        holder.join();
        QCOMPARE(paths(l), QStringList({c, a, b}));
        selectRows(l, {1});
        click(l, kInputDelete);
        QCOMPARE(paths(l), QStringList({c, b}));
    }

    // Our own 16 x 16 icons: six different ones, the magenta key around
    // them transparent.
    void stateArtwork() {
        QList<QImage> seen;
        for (int s = 0; s < kStateCount; ++s) {
            const QImage keyed = stateBitmap(s);
            QCOMPARE(keyed.size(), QSize(16, 16));
            QCOMPARE(keyed.pixel(0, 0), kIconKey);
            QVERIFY(!seen.contains(keyed));
            seen << keyed;
            const QImage icon = stateIcon(s).toImage().convertToFormat(QImage::Format_ARGB32);
            int opaque = 0;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x) {
                    const bool key = keyed.pixel(x, y) == kIconKey;
                    QCOMPARE(qAlpha(icon.pixel(x, y)), key ? 0 : 255);
                    opaque += !key;
                }
            QVERIFY(opaque > 30);
        }
    }
};

QTEST_MAIN(InputListTest)
#include "test_input_list.moc"
