// The main window as a user meets it: controls found by their ids, clicks
// and keys, and what the window then shows. Every message must be one the
// test expects.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWheelEvent>
#include <deque>
#include <functional>

#include "about_box.h"
#include "busy_state.h"
#include "app_settings.h"
#include "control_ids.h"
#include "error_info_window.h"
#include "file_info_dialog.h"
#include "main_window.h"
#include "message_box.h"
#include "preview.h"
#include "skin_slider.h"
#include "window_controls.h"

using namespace app_test;
using namespace tavrelcut::ids;
using tavrelcut::MainWindow;
using tavrelcut::MessageDialog;

namespace {

struct Seen {
    QString caption, text;
    int kind;
};

// Answers messages from a script and records every one; a message that is
// not the next one expected is recorded as unexpected.
class ScriptSink : public tavrelcut::MessageSink {
public:
    struct Expect {
        QString caption, textStart;
        int kind;
        int answer;
        std::function<void()> whileShown;
    };
    void expect(Expect e) { m_script.push_back(std::move(e)); }
    int ask(QWidget*, const QString& caption, const QString& text, int kind) override {
        seen.push_back({caption, text, kind});
        if (m_script.empty() || m_script.front().caption != caption || !text.startsWith(m_script.front().textStart) ||
            m_script.front().kind != kind) {
            unexpected.push_back(caption + QStringLiteral(": ") + text);
            return 0;
        }
        Expect e = std::move(m_script.front());
        m_script.pop_front();
        if (e.whileShown) e.whileShown();
        return e.answer;
    }
    bool done() const { return m_script.empty(); }
    QList<Seen> seen;
    QStringList unexpected;

private:
    std::deque<Expect> m_script;
};

// One GOP line of an index file: time code and PTS time text.
struct GopLine {
    QString timeCode, ptsText;
    qint64 packet;
};

QList<GopLine> readIndex(const QString& path) {
    QList<GopLine> gops;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return gops;
    const QRegularExpression gopLine(QStringLiteral("^[0-9A-F]{4},"));
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const QStringList fields = line.split(QLatin1Char(','));
        if (gopLine.match(line).hasMatch() && fields.size() == 5)
            gops.push_back({fields[1], fields[2], fields[4].toLongLong()});
        else if (line.startsWith(QStringLiteral("LAST")) && fields.size() == 2)
            gops.push_back({QStringLiteral("LAST       "), QStringLiteral("LAST       "), fields[1].toLongLong()});
    }
    return gops;
}

const QSet<int> kBusyIds(kBusySet.begin(), kBusySet.end());

QSet<int> disabledIds(const QWidget& w) {
    QSet<int> ids;
    for (QWidget* c : w.findChildren<QWidget*>()) {
        bool ok = false;
        const int id = c->objectName().toInt(&ok);
        if (ok && !c->isEnabled()) ids.insert(id);
    }
    ids.remove(kView);  // "View" is never enabled
    return ids;
}

QRgb pixelAt(QWidget* w, int x, int y) { return w->grab().toImage().pixel(x, y); }

// Runs act on the first widget find returns once it is shown (a menu or a
// modal box open in their own event loops); gives up after three seconds.
void whenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, find = std::move(find), act = std::move(act)] {
        QWidget* shown = find();
        if (shown && shown->isVisible()) {
            timer->stop();
            timer->deleteLater();
            act(shown);
        } else if (++*tries > 300) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

QWidget* openPopup() { return QApplication::activePopupWidget(); }

// What the picture menu showed when it opened.
struct MenuSeen {
    bool opened = false;
    QStringList checked, greyed;
};

// Right click on the output picture window; act gets the open menu and must
// close it (a click on an item or Escape).
MenuSeen pictureMenu(QWidget* view, std::function<void(QMenu*)> act) {
    MenuSeen seen;
    whenShown(openPopup, [&seen, act](QWidget* popup) {
        auto* menu = qobject_cast<QMenu*>(popup);
        if (!menu) return;
        seen.opened = true;
        for (QAction* a : menu->actions()) {
            if (a->isSeparator()) continue;
            if (a->isChecked()) seen.checked << a->text();
            if (!a->isEnabled()) seen.greyed << a->text();
        }
        act(menu);
    });
    QTest::mouseClick(view, Qt::RightButton, {}, QPoint(20, 20));
    return seen;
}

void clickItem(QMenu* menu, int id) {
    QAction* a = menu->findChild<QAction*>(QString::number(id));
    if (a) QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
}

MenuSeen choosePicture(QWidget* view, int id) {
    return pictureMenu(view, [id](QMenu* m) { clickItem(m, id); });
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(data);
}

// Runs the command-line tool; its standard output, or a failed check.
QString runCli(const QStringList& args) {
    QProcess cli;
    cli.start(QStringLiteral(TAVREL_CLI), args);
    if (!cli.waitForFinished(60000) || cli.exitStatus() != QProcess::NormalExit) return QStringLiteral("<crashed>");
    return QString::fromUtf8(cli.readAllStandardOutput());
}

// A lost packet: the first packet from packet number `from` on that carries
// a payload of pid is cut out of the 188-byte recording. Returns its
// continuity counter and the number the next packet of pid has afterwards.
struct Dropped {
    int counter = -1;
    qint64 nextOfPid = -1;
};
Dropped dropPacket(QByteArray& ts, int pid, qint64 from) {
    auto pidAt = [&](qint64 n) {
        const auto* p = reinterpret_cast<const uchar*>(ts.constData()) + n * 188;
        return ((p[1] & 0x1F) << 8) | p[2];
    };
    Dropped d;
    const qint64 count = ts.size() / 188;
    for (qint64 n = from; n < count; ++n) {
        const auto* p = reinterpret_cast<const uchar*>(ts.constData()) + n * 188;
        if (pidAt(n) != pid || !(p[3] & 0x10)) continue;
        d.counter = p[3] & 0x0F;
        ts.remove(n * 188, 188);
        for (qint64 m = n; m < count - 1; ++m)
            if (pidAt(m) == pid) {
                d.nextOfPid = m;
                break;
            }
        break;
    }
    return d;
}

// The tree as lines, two spaces per level.
QStringList treeLines(QTreeWidget* tree) {
    QStringList lines;
    std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int level) {
        lines << QString(level * 2, QLatin1Char(' ')) + item->text(0);
        for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), level + 1);
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i), 0);
    return lines;
}

int countPixels(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_ini, m_recording;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_recording = m_dir.filePath(QStringLiteral("hd_1080i_aac.ts"));
        QVERIFY(QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/hd_1080i_aac.ts"), m_recording));
        m_ini = m_dir.filePath(QStringLiteral("tavrelcut.ini"));
        QFile ini(m_ini);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[FILE]\nOUTTIME=1\n[DATA]\nSET_FC_SLIDER=1\n");
        // An input list file, empty: the message of a first start without
        // one belongs to the input list's tests.
        QFile list(m_dir.filePath(QStringLiteral("qxinput.txt")));
        QVERIFY(list.open(QIODevice::WriteOnly));
    }

    // Index, step, mark, collect two clips, cut, and close: the whole
    // editing run through the window's controls.
    void editingRun() {
        ScriptSink sink;
        MainWindow w(m_ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QStringLiteral("Tavrel Cutter"));
        QVERIFY(!ctl(w, kSlider)->isEnabled());
        QVERIFY(!ctl(w, kClipList)->isEnabled());
        QVERIFY(ctl(w, kSeekEdit)->isHidden());

        // The recording dropped onto the input edit.
        auto* input = ctl<QLineEdit>(w, kInputEdit);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(m_recording)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(input, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(input, &drop);
        QCOMPARE(input->text(), m_recording);

        click(w, kGetGop);
        auto* packet = ctl<QLabel>(w, kPacketLabel);
        QTRY_COMPARE(packet->text(), QStringLiteral("188"));
        QCOMPARE(ctl<QLabel>(w, kPidLabel)->text(), QStringLiteral("0100"));
        QCOMPARE(ctl<QLabel>(w, kMarginLabel)->text(), QStringLiteral("0"));
        QVERIFY(ctl(w, kClipping)->isEnabled());

        const QList<GopLine> gops = readIndex(m_recording + QStringLiteral(".txt"));
        QVERIFY(gops.size() > 6);
        QCOMPARE(gops.back().ptsText, QStringLiteral("LAST       "));
        auto* slider = ctl<QSlider>(w, kSlider);
        QCOMPARE(slider->maximum() + 1, gops.size());
        QCOMPARE(slider->value(), 0);
        auto* time = ctl<QLabel>(w, kTimeLabel);
        QCOMPARE(time->text(), gops[0].ptsText);
        QVERIFY(slider->hasFocus());

        // The first picture arrives from the decoder thread.
        auto* picture = ctl<tavrelcut::PictureArea>(w, kPicture);
        const QRgb empty = tavrelcut::emptyPictureColour().rgb();
        QTRY_VERIFY(!picture->image().isNull());
        QCOMPARE(picture->image().width(), 270);
        QVERIFY(pixelAt(picture, 20, 20) != empty);

        // Steps: the button, the keyboard on the slider, and back.
        click(w, kForward1);
        QCOMPARE(slider->value(), 1);
        QCOMPARE(time->text(), gops[1].ptsText);
        QVERIFY(slider->hasFocus());
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(slider->value(), 2);
        QCOMPARE(time->text(), gops[2].ptsText);
        click(w, kBack1);
        QCOMPARE(slider->value(), 1);
        QCOMPARE(time->text(), gops[1].ptsText);
        // 60 GOPs back from 1 is outside the list: nothing moves.
        click(w, kBack60);
        QCOMPARE(slider->value(), 1);

        // First clip: GOPs 1 up to 3.
        click(w, kInMark);
        QCOMPARE(ctl<QLabel>(w, kInLabel)->text(), gops[1].ptsText);
        click(w, kForward1);
        click(w, kForward1);
        click(w, kOutMark);
        QCOMPARE(ctl<QLabel>(w, kOutLabel)->text(), gops[3].ptsText);
        auto* skinSlider = qobject_cast<tavrelcut::SkinSlider*>(slider);
        QVERIFY(skinSlider && skinSlider->hasSelection());
        QCOMPARE(skinSlider->selectionStart(), 1);
        QCOMPARE(skinSlider->selectionEnd(), 3);
        click(w, kAddClip);
        auto* clips = ctl<QListWidget>(w, kClipList);
        QCOMPARE(clips->count(), 1);
        QCOMPARE(clips->item(0)->text(),
                 gops[1].ptsText + QStringLiteral(" ～ ") + gops[3].ptsText + QStringLiteral(" ( hd_1080i_aac.ts )"));
        // The mark jump goes back to the in mark.
        click(w, kJumpIn);
        QCOMPARE(slider->value(), 1);
        click(w, kJumpOut);
        QCOMPARE(slider->value(), 3);

        // Second clip: GOP 4 to the end; the LAST entry clears the picture.
        click(w, kForward1);
        click(w, kInMark);
        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(slider->value(), slider->maximum());
        QTRY_COMPARE(pixelAt(picture, 20, 20), empty);
        click(w, kOutMark);
        click(w, kAddClip);
        QCOMPARE(clips->count(), 2);
        QVERIFY(clips->item(1)->text().contains(QStringLiteral("LAST       ")));

        // Reorder: the end clip up, then back down.
        clips->setCurrentRow(1);
        click(w, kClipUp);
        QCOMPARE(clips->currentRow(), 0);
        QVERIFY(clips->item(0)->text().contains(QStringLiteral("LAST")));
        click(w, kClipDown);
        QCOMPARE(clips->currentRow(), 1);
        QVERIFY(clips->item(1)->text().contains(QStringLiteral("LAST")));

        // Clipping: the elapsed-time report arrives while the job still
        // runs, so the busy set is off and Escape is refused.
        const QString out = m_dir.filePath(QStringLiteral("out.ts"));
        auto* outputEdit = ctl<QLineEdit>(w, kOutputEdit);
        outputEdit->setFocus();
        QTest::keyClicks(outputEdit, out);
        QSet<int> disabledDuringCut;
        bool visibleAfterEscape = false;
        sink.expect({QStringLiteral("Info"), QStringLiteral("経過時間："), 0, 0, [&] {
                         disabledDuringCut = disabledIds(w);
                         QTest::keyClick(&w, Qt::Key_Escape);
                         visibleAfterEscape = w.isVisible();
                     }});
        click(w, kClipping);
        QTRY_VERIFY(sink.done());
        QTRY_VERIFY(ctl(w, kClipping)->isEnabled());
        QTRY_COMPARE(w.windowTitle(), QStringLiteral("Tavrel Cutter"));
        QCOMPARE(disabledDuringCut, kBusyIds);
        QVERIFY(visibleAfterEscape);

        // The output holds GOPs 1..2 and 4..end of the recording, byte for byte.
        QFile src(m_recording), dst(out);
        QVERIFY(src.open(QIODevice::ReadOnly));
        QVERIFY(dst.open(QIODevice::ReadOnly));
        const QByteArray all = src.readAll();
        const QByteArray expected =
            all.mid(gops[1].packet * 188, (gops[3].packet - gops[1].packet) * 188) + all.mid(gops[4].packet * 188);
        const QByteArray written = dst.readAll();
        QCOMPARE(written.size(), expected.size());
        QVERIFY(written == expected);
        dst.close();
        // And exactly what the command-line tool writes for the same clips.
        const QString cliOut = m_dir.filePath(QStringLiteral("cli.ts"));
        QProcess cli;
        cli.start(QStringLiteral(TAVREL_CLI),
                  {QStringLiteral("cut"), QStringLiteral("-o"), cliOut, m_recording + QStringLiteral(":1:3"),
                   m_recording + QStringLiteral(":4:end")});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        QFile cliFile(cliOut);
        QVERIFY(cliFile.open(QIODevice::ReadOnly));
        QVERIFY(cliFile.readAll() == written);

        // Again: the existing output is kept on NO.
        sink.expect({QStringLiteral("question"), QStringLiteral("既にファイルが存在しています。"), 2, 3, {}});
        click(w, kClipping);
        QVERIFY(sink.done());
        QVERIFY(ctl(w, kClipping)->isEnabled());

        // A recording newer than its index: the scan asks while the busy
        // set is off; NO loads the old index.
        QFile touch(m_recording);
        QVERIFY(touch.open(QIODevice::ReadWrite));
        QVERIFY(touch.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        touch.close();
        QSet<int> disabledDuringScan;
        sink.expect({QStringLiteral("question"),
                     QStringLiteral("GOPファイルよりTSファイルの更新日時が新しくなっています。"), 2, 3,
                     [&] { disabledDuringScan = disabledIds(w); }});
        slider->setValue(2);
        click(w, kGetGop);
        QTRY_VERIFY(sink.done());
        QTRY_VERIFY(ctl(w, kGetGop)->isEnabled());
        QCOMPARE(disabledDuringScan, kBusyIds);
        QTRY_COMPARE(slider->value(), 0);
        QCOMPARE(slider->maximum() + 1, gops.size());
        QTRY_VERIFY(pixelAt(picture, 20, 20) != empty);

        // F1: no help page beside the test program.
        sink.expect({QStringLiteral("error"), QStringLiteral("ヘルプファイルが見つかりません。"), 0, 0, {}});
        QTest::keyClick(&w, Qt::Key_F1);
        QVERIFY(sink.done());

        // Enter does not close; Escape does and writes the settings.
        ctl<QCheckBox>(w, kReNo)->click();
        QTest::keyClick(&w, Qt::Key_Return);
        QVERIFY(w.isVisible());
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.isVisible());
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));

        QSettings ini(m_ini, QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("FILE/OUTPUT")).toString(), out);
        QCOMPARE(ini.value(QStringLiteral("FILE/INPUT")).toString(), m_recording);
        QCOMPARE(ini.value(QStringLiteral("FILE/OUTTIME")).toString(), QStringLiteral("1"));
        QCOMPARE(ini.value(QStringLiteral("DATA/ReNo")).toString(), QStringLiteral("1"));
        QCOMPARE(ini.value(QStringLiteral("DATA/CTGOPMV")).toString(), QStringLiteral("120"));
        QVERIFY(ini.contains(QStringLiteral("WND/left")));
    }

    // A new window starts with an empty input though the last one was saved,
    // and with the saved output and check boxes.
    void startRestoresSettings() {
        ScriptSink sink;
        MainWindow w(m_ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(ctl<QLineEdit>(w, kInputEdit)->text().isEmpty());
        QCOMPARE(ctl<QLineEdit>(w, kOutputEdit)->text(), m_dir.filePath(QStringLiteral("out.ts")));
        QVERIFY(ctl<QCheckBox>(w, kReNo)->isChecked());
        QVERIFY(!ctl<QCheckBox>(w, kOut188)->isChecked());
        // Clipping with an empty list is refused with its message.
        sink.expect({QStringLiteral("error"), QStringLiteral("Clip List に登録して下さい"), 0, 0, {}});
        click(w, kClipping);
        QVERIFY(sink.done());
        // A recording that is not there: the scan's message, and the window
        // stays usable with navigation off.
        auto* input = ctl<QLineEdit>(w, kInputEdit);
        input->setText(m_dir.filePath(QStringLiteral("vanished.ts")));
        sink.expect({QStringLiteral("error"), QStringLiteral("Input ファイルオープンエラー"), 0, 0, {}});
        click(w, kGetGop);
        QTRY_VERIFY(sink.done());
        QTRY_VERIFY(ctl(w, kGetGop)->isEnabled());
        QVERIFY(!ctl(w, kSlider)->isEnabled());
        QVERIFY(ctl(w, kClose)->isEnabled());
        // "Close" closes.
        click(w, kClose);
        QVERIFY(!w.isVisible());
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }

    // The error view of a recording that lost three packets: no error file
    // yet, then the tree of the file the command-line check writes, a double
    // click moving the preview, the view following the next recording
    // opened, and its place kept in the settings file.
    void errorInfoView() {
        QByteArray ts;
        {
            QFile f(QStringLiteral(TAVREL_TEST_DATA "/hd_1080i_aac.ts"));
            QVERIFY(f.open(QIODevice::ReadOnly));
            ts = f.readAll();
        }
        const Dropped v1 = dropPacket(ts, 0x100, 3000);
        const Dropped a = dropPacket(ts, 0x101, 5000);
        const Dropped v2 = dropPacket(ts, 0x100, 8000);
        QVERIFY(v1.nextOfPid > 0 && a.nextOfPid > 0 && v2.nextOfPid > 0);
        const QString damaged = m_dir.filePath(QStringLiteral("damaged.ts"));
        writeFile(damaged, ts);
        const QString errorFile = damaged + QStringLiteral("_err.bin");
        QFile::remove(errorFile);

        ScriptSink sink;
        auto w = std::make_unique<MainWindow>(m_ini);
        w->setMessageSink(&sink);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->openRecording(damaged);
        QTRY_COMPARE(ctl<QLabel>(*w, kPacketLabel)->text(), QStringLiteral("188"));
        QTRY_VERIFY(ctl(*w, kErrorInfo)->isEnabled());

        sink.expect({QStringLiteral("error"), QStringLiteral("エラー情報ファイルがありません！"), 0, 0, {}});
        click(*w, kErrorInfo);
        QVERIFY(sink.done());
        QVERIFY(!w->errorInfoWindow());

        QCOMPARE(runCli({QStringLiteral("check"), damaged}).isEmpty(), false);
        QVERIFY(QFileInfo(errorFile).isFile());
        click(*w, kErrorInfo);
        tavrelcut::ErrorInfoWindow* view = w->errorInfoWindow();
        QVERIFY(view && view->isVisible());
        QCOMPARE(view->windowTitle(), QStringLiteral("Error Info"));
        auto* tree = view->findChild<QTreeWidget*>(QStringLiteral("1076"));
        QVERIFY(tree);
        QCOMPARE(tree->font().pixelSize(), 14);
        QCOMPARE(tree->font().family(), QStringLiteral("Arial"));
        auto line = [](const Dropped& d) {
            const int expected = d.counter, found = (d.counter + 1) % 16;
            return QStringLiteral("      CC [%1 → %2] [%3]").arg(expected, 2).arg(found, 2).arg(d.nextOfPid);
        };
        // The second video loss joins the first under its PID.
        const QStringList want = {QStringLiteral("Root"),
                                  QStringLiteral("  SID [   1] / PMT [0x1000]"),
                                  QStringLiteral("    0x0100"),
                                  line(v1),
                                  line(v2),
                                  QStringLiteral("    0x0101"),
                                  line(a)};
        QCOMPARE(treeLines(tree), want);
        QCOMPARE(runCli({QStringLiteral("errors"), damaged}), want.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QTreeWidgetItem* program = root->child(0);
        QVERIFY(root->isExpanded() && program->isExpanded());
        QVERIFY(!program->child(0)->isExpanded() && !program->child(1)->isExpanded());

        // PID items purple, event lines blue, the rest black.
        tree->expandAll();
        tree->clearSelection();
        tree->setCurrentItem(nullptr);
        QTest::qWait(20);
        const QImage drawn = tree->viewport()->grab().toImage();
        QVERIFY(countPixels(drawn, qRgb(0x80, 0x00, 0xE4)) > 10);
        QVERIFY(countPixels(drawn, qRgb(0x00, 0x00, 0xFF)) > 10);

        // A double click on the second video loss shows the GOP holding it.
        const QList<GopLine> gops = readIndex(damaged + QStringLiteral(".txt"));
        int holding = -1;
        for (int i = 0; i + 1 < gops.size(); ++i)
            if (gops[i].packet <= v2.nextOfPid) holding = i;
        QVERIFY(holding > 0);
        auto* slider = ctl<QSlider>(*w, kSlider);
        QCOMPARE(slider->value(), 0);
        QTreeWidgetItem* event = program->child(0)->child(1);
        const QRect r = tree->visualItemRect(event);
        // A double click as a mouse makes it: press, release, double click.
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(slider->value(), holding);
        QCOMPARE(ctl<QLabel>(*w, kTimeLabel)->text(), gops[holding].ptsText);

        // Close hides; a rewritten file is read again on the next opening.
        QTest::mouseClick(view->findChild<QPushButton*>(QStringLiteral("2")), Qt::LeftButton);
        QVERIFY(!view->isVisible());
        writeFile(errorFile, QByteArray("TS Error Check\r\n"));
        click(*w, kErrorInfo);
        QVERIFY(view->isVisible());
        QCOMPARE(treeLines(tree), QStringList{QStringLiteral("Root")});
        // A file that is not an error file leaves the tree as it was.
        writeFile(errorFile, QByteArray("TS Error Check\r\n0123456789"));
        click(*w, kErrorInfo);
        QCOMPARE(treeLines(tree), QStringList{QStringLiteral("Root")});

        // The view follows the recording a scan opens: none for a clean one.
        const QString clean = m_dir.filePath(QStringLiteral("clean.ts"));
        QFile::remove(clean);
        QVERIFY(QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/hd_1080i_aac.ts"), clean));
        w->openRecording(clean);
        QTRY_VERIFY(ctl(*w, kErrorInfo)->isEnabled());
        QTRY_COMPARE(tree->topLevelItemCount(), 0);
        QVERIFY(view->isVisible());

        // Its place goes to the settings file with the window.
        view->move(140, 90);
        QTRY_COMPARE(view->pos(), QPoint(140, 90));
        click(*w, kClose);
        w.reset();
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
        QSettings ini(m_ini, QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("ERRINFO/left")).toInt(), 140);
        QCOMPARE(ini.value(QStringLiteral("ERRINFO/top")).toInt(), 90);
        MainWindow again(m_ini);
        again.setMessageSink(&sink);
        ctl<QLineEdit>(again, kInputEdit)->setText(damaged);
        click(again, kErrorInfo);
        QVERIFY(again.errorInfoWindow());
        QCOMPARE(again.errorInfoWindow()->pos(), QPoint(140, 90));
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }

    // An error file larger than the view holds: its first records, and a
    // last line telling how many more there are.
    void errorViewOfAHugeFile() {
        const qint64 total = qint64(tavrelcut::ErrorInfoWindow::kMaxRecords) + 5;
        QByteArray bytes("TS Error Check\r\n");
        bytes.resize(16 + total * 16, '\0');
        for (qint64 i = 0; i < total; ++i) {
            uint8_t* r = reinterpret_cast<uint8_t*>(bytes.data()) + 16 + i * 16;
            r[0] = 0, r[1] = 1, r[2] = 0x10, r[3] = 0, r[4] = 0x01, r[5] = i % 2 ? 0x00 : 0x01, r[6] = 2;
            for (int b = 0; b < 8; ++b) r[8 + b] = uint8_t(i >> (8 * b));
        }
        const QString path = m_dir.filePath(QStringLiteral("huge.ts_err.bin"));
        writeFile(path, bytes);
        tavrelcut::ErrorInfoWindow view(nullptr);
        QVERIFY(view.load(path));
        QCOMPARE(view.totalRecords(), total);
        QCOMPARE(view.records().size(), tavrelcut::ErrorInfoWindow::kMaxRecords);
        QTreeWidgetItem* root = view.tree()->topLevelItem(0);
        QCOMPARE(root->childCount(), 2);
        QTreeWidgetItem* program = root->child(0);
        QCOMPARE(program->text(0), QStringLiteral("SID [   1] / PMT [0x1000]"));
        QCOMPARE(program->child(0)->text(0), QStringLiteral("0x0101"));
        QCOMPARE(program->child(0)->childCount() + program->child(1)->childCount(),
                 int(tavrelcut::ErrorInfoWindow::kMaxRecords));
        QCOMPARE(program->child(1)->child(0)->text(0), QStringLiteral("CC [ 0 →  0] [1]"));
        QCOMPARE(root->child(1)->text(0),
                 QStringLiteral("... 5 more records not shown (tavrelcut-cli errors lists them all)"));
    }

    // File Info from the GOP under the slider: the passes with the window
    // busy, the dialog's text as the command-line tool prints it, the list
    // emptied and the window usable again; a file without programs refused.
    void fileInfo() {
        ScriptSink sink;
        MainWindow w(m_ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString recording = m_dir.filePath(QStringLiteral("info.ts"));
        QFile::remove(recording);
        QVERIFY(QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/hd_1080i_aac.ts"), recording));
        w.openRecording(recording);
        QTRY_COMPARE(ctl<QLabel>(w, kPacketLabel)->text(), QStringLiteral("188"));
        QTRY_VERIFY(ctl(w, kFileInfo)->isEnabled());
        auto* slider = ctl<QSlider>(w, kSlider);
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Right);
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(slider->value(), 2);

        QString shown;
        QSet<int> disabledMeanwhile;
        int listed = 0;
        bool readOnly = false;
        QColor base;
        QFont font;
        whenShown([] { return QApplication::activeModalWidget(); },
                  [&](QWidget* shownDialog) {
                      auto* dialog = qobject_cast<tavrelcut::FileInfoDialog*>(shownDialog);
                      if (!dialog) return;
                      auto* text = dialog->findChild<QPlainTextEdit*>(QStringLiteral("1050"));
                      shown = text->toPlainText();
                      readOnly = text->isReadOnly();
                      base = text->palette().color(QPalette::Base);
                      font = text->font();
                      disabledMeanwhile = disabledIds(w);
                      listed = w.state().fileInfoPidList.count();
                      QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("2")), Qt::LeftButton);
                  });
        click(w, kFileInfo);
        QTRY_VERIFY(!shown.isEmpty());
        QTRY_VERIFY(ctl(w, kFileInfo)->isEnabled());
        QCOMPARE(shown, runCli({QStringLiteral("info"), QStringLiteral("--gop"), QStringLiteral("2"), recording}));
        QVERIFY(shown.contains(QStringLiteral("    Resolution    = 1440 x 1080\n")));
        QVERIFY(shown.contains(QStringLiteral("    Format        = MPEG4 AAC LC\n")));
        QVERIFY(readOnly);
        QCOMPARE(base, QColor(Qt::white));
        const QFontMetrics fm(font);
        QCOMPARE(fm.horizontalAdvance(QLatin1Char('i')), fm.horizontalAdvance(QLatin1Char('W')));
        QCOMPARE(font.pixelSize(), 14);
        QCOMPARE(disabledMeanwhile, kBusyIds);
        QVERIFY(listed >= 2);
        QCOMPARE(w.state().fileInfoPidList.count(), 0);
        for (int id : {kGetGop, kFileInfo, kErrorInfo, kClipping, kClose}) QVERIFY(ctl(w, id)->isEnabled());

        // Bytes that hold no program: the list stays empty.
        ctl<QLineEdit>(w, kInputEdit)->setText(QStringLiteral(TAVREL_TEST_DATA "/random_bytes.bin"));
        sink.expect({QStringLiteral("error"), QStringLiteral("Not MPEG2 Transport Stream"), 0, 0, {}});
        sink.expect({QStringLiteral("error"), QStringLiteral("ＰＩＤ情報の取得に失敗しました"), 0, 0, {}});
        click(w, kFileInfo);
        QTRY_VERIFY(sink.done());
        QVERIFY(ctl(w, kFileInfo)->isEnabled());
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }

    // The picture menu opened from the output picture window shows the
    // saved settings as checks and greys the stretch items at native size;
    // closing it without a choice changes nothing.
    void pictureMenuChecks_data() {
        QTest::addColumn<int>("native");
        QTest::addColumn<int>("aspect");
        QTest::addColumn<int>("grade");
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<bool>("greyed");
        QTest::newRow("native") << 1 << 0 << 1 << QStringList{"Native", "4:3", "Low"} << true;
        QTest::newRow("custom auto high") << 0 << 9 << 2 << QStringList{"Custom", "Auto", "High"} << false;
        QTest::newRow("custom 4:3 low") << 0 << 0 << 1 << QStringList{"Custom", "4:3", "Low"} << false;
        QTest::newRow("custom 16:9 nomal") << 0 << 3 << 0 << QStringList{"Custom", "16:9", "Nomal"} << false;
        QTest::newRow("other values") << 0 << 5 << 7 << QStringList{"Custom", "Auto", "Nomal"} << false;
    }

    void pictureMenuChecks() {
        QFETCH(int, native);
        QFETCH(int, aspect);
        QFETCH(int, grade);
        QFETCH(QStringList, checked);
        QFETCH(bool, greyed);
        const QString ini = m_dir.filePath(QStringLiteral("menu.ini"));
        writeFile(ini, QStringLiteral("[WND]\nOUT_WND=1\nNATIVE=%1\nASPECT=%2\nGRADE=%3\n")
                           .arg(native)
                           .arg(aspect)
                           .arg(grade)
                           .toLatin1());
        ScriptSink sink;
        MainWindow w(ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QWidget* view = w.findChild<QWidget*>(QStringLiteral("View"));
        QVERIFY(view && view->isVisible() && view->isWindow());
        QCOMPARE(view->windowTitle(), QStringLiteral("View"));
        QCOMPARE(view->pos(), QPoint(0, 0));
        QCOMPARE(view->size(), QSize(640, 480));
        QCOMPARE(pixelAt(view, 5, 5), QColor(Qt::black).rgb());

        const MenuSeen seen = pictureMenu(view, [](QMenu* m) { QTest::keyClick(m, Qt::Key_Escape); });
        QVERIFY(seen.opened);
        QCOMPARE(seen.checked, checked);
        const QStringList stretch = {"Auto", "4:3", "16:9", "Nomal", "Low", "High"};
        QCOMPARE(seen.greyed, greyed ? stretch : QStringList{});
        QCoreApplication::processEvents();
        QCOMPARE(w.state().settings.native, native);
        QCOMPARE(w.state().settings.aspect, aspect);
        QCOMPARE(w.state().settings.grade, grade);
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }

    // "Out Window" moves the pictures to the output picture window at the
    // size the decoder asks for; the picture menu changes size, aspect and
    // quality and redraws; the window is dragged and its place kept; SEEK
    // jumps to the GOP of a packet.
    void outputWindow() {
        const QString recording = m_dir.filePath(QStringLiteral("view.ts"));
        QVERIFY(QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/hd_1080i_aac.ts"), recording));
        const QString ini = m_dir.filePath(QStringLiteral("view.ini"));
        writeFile(ini, "[WND]\nVleft=-5\nVtop=40\nOUT_WND=0\n[DATA]\nSET_FC_SLIDER=1\n[DEBUG]\nCHK=1\n");
        ScriptSink sink;
        MainWindow w(ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QWidget* view = w.findChild<QWidget*>(QStringLiteral("View"));
        QVERIFY(view);
        QVERIFY(!view->isVisible());
        QCOMPARE(view->pos(), QPoint(0, 0));  // a negative saved place is 0, 0

        ctl<QLineEdit>(w, kInputEdit)->setText(recording);
        click(w, kGetGop);
        QTRY_COMPARE(ctl<QLabel>(w, kPacketLabel)->text(), QStringLiteral("188"));
        auto* picture = ctl<tavrelcut::PictureArea>(w, kPicture);
        QTRY_VERIFY(!picture->image().isNull());
        QTRY_COMPARE(picture->image().width(), 270);
        const QRgb empty = tavrelcut::emptyPictureColour().rgb();
        QVERIFY(pixelAt(picture, 20, 20) != empty);

        // On: View shows without taking the activation, the picture area
        // turns light, and the picture arrives in View at the custom width.
        auto* viewArea = qobject_cast<tavrelcut::PictureArea*>(view);
        QVERIFY(viewArea);
        auto* outWindow = ctl<QCheckBox>(w, kOutWindow);
        QTest::mouseClick(outWindow, Qt::LeftButton);
        QVERIFY(outWindow->isChecked());
        QVERIFY(view->isVisible());
        QCOMPARE(QApplication::activeWindow(), &w);
        QCOMPARE(pixelAt(picture, 20, 20), empty);
        QTRY_COMPARE(viewArea->image().width(), 640);
        QTRY_COMPARE(view->size(), viewArea->image().size());
        // The recording is 16:9: Auto gives 640 x 360.
        QCOMPARE(viewArea->image().height(), 360);
        QCOMPARE(view->pos(), QPoint(0, 0));
        QVERIFY(pixelAt(view, 320, 180) != QColor(Qt::black).rgb());

        auto* slider = ctl<QSlider>(w, kSlider);
        auto* outputEdit = ctl<QLineEdit>(w, kOutputEdit);
        MenuSeen seen;
        // The choice reaches the window as a queued message; its handler
        // gives the slider the keyboard at the end.
        auto choose = [&](int id) {
            outputEdit->setFocus();
            seen = choosePicture(view, id);
        };

        // 4:3 redraws the picture at 640 x 480 and View follows.
        choose(tavrelcut::kCmdAspect4x3);
        QVERIFY(seen.opened);
        QCOMPARE(seen.checked, (QStringList{"Custom", "Auto", "High"}));
        QTRY_COMPARE(w.state().settings.aspect, 0);
        QVERIFY(slider->hasFocus());
        QCOMPARE(w.pictureRecord().aspectMode, 0);
        QTRY_COMPARE(viewArea->image().size(), QSize(640, 480));
        QTRY_COMPARE(view->size(), QSize(640, 480));
        QCOMPARE(view->pos(), QPoint(0, 0));
        const QImage high = viewArea->image();

        // Low: the same picture stretched the fast way.
        choose(tavrelcut::kCmdLow);
        QCOMPARE(seen.checked, (QStringList{"Custom", "4:3", "High"}));
        QTRY_COMPARE(w.state().settings.grade, 1);
        QVERIFY(slider->hasFocus());
        QCOMPARE(w.pictureRecord().stretchQuality, 1);
        QTRY_VERIFY(viewArea->image() != high);
        QCOMPARE(viewArea->image().size(), QSize(640, 480));

        // Native: the picture at its coded size, the stretch items greyed.
        choose(tavrelcut::kCmdNative);
        QCOMPARE(seen.checked, (QStringList{"Custom", "4:3", "Low"}));
        QTRY_COMPARE(w.state().settings.native, 1);
        QVERIFY(slider->hasFocus());
        QCOMPARE(w.pictureRecord().displayWidth, 0);
        QTRY_VERIFY(viewArea->image().width() > 640);
        QTRY_COMPARE(view->size(), viewArea->image().size());
        QVERIFY(viewArea->image().height() >= 1080);

        // Back to Custom: the items come back, so does the custom width.
        choose(tavrelcut::kCmdCustom);
        QCOMPARE(seen.checked, (QStringList{"Native", "4:3", "Low"}));
        QCOMPARE(seen.greyed, (QStringList{"Auto", "4:3", "16:9", "Nomal", "Low", "High"}));
        QTRY_COMPARE(w.state().settings.native, 0);
        QVERIFY(slider->hasFocus());
        QCOMPARE(w.pictureRecord().displayWidth, 640);
        QTRY_COMPARE(viewArea->image().size(), QSize(640, 480));

        choose(tavrelcut::kCmdAspect16x9);
        QVERIFY(seen.greyed.isEmpty());
        QTRY_COMPARE(w.state().settings.aspect, 3);
        QVERIFY(slider->hasFocus());
        QTRY_COMPARE(viewArea->image().size(), QSize(640, 360));
        QTRY_COMPARE(view->size(), QSize(640, 360));

        // Closing the menu without a choice, and the wheel over View, give
        // the slider the keyboard.
        outputEdit->setFocus();
        seen = pictureMenu(view, [](QMenu* m) { QTest::keyClick(m, Qt::Key_Escape); });
        QVERIFY(seen.opened);
        QCOMPARE(seen.checked, (QStringList{"Custom", "16:9", "Low"}));
        QVERIFY(slider->hasFocus());
        outputEdit->setFocus();
        QWheelEvent wheel(QPointF(30, 30), view->mapToGlobal(QPointF(30, 30)), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
        QVERIFY(slider->hasFocus());

        // A left drag moves View.
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(view, QPoint(110, 70));
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(110, 70));
        QCOMPARE(view->pos(), QPoint(100, 60));

        // SEEK: a packet inside GOP 3, typed with trailing text.
        const QList<GopLine> gops = readIndex(recording + QStringLiteral(".txt"));
        QVERIFY(gops.size() > 5);
        QVERIFY(gops[4].packet > gops[3].packet + 1);
        auto* seekEdit = ctl<QLineEdit>(w, kSeekEdit);
        QVERIFY(seekEdit->isVisible());
        seekEdit->setFocus();
        QTest::keyClicks(seekEdit, QString::number(gops[3].packet + 1) + QStringLiteral(" pk"));
        const QImage before = viewArea->image();
        click(w, kSeekButton);
        QCOMPARE(slider->value(), 3);
        QCOMPARE(ctl<QLabel>(w, kTimeLabel)->text(), gops[3].ptsText);
        QTRY_VERIFY(viewArea->image() != before);
        // A packet at the LAST entry is never found: nothing moves.
        seekEdit->setText(QString::number(gops.back().packet));
        click(w, kSeekButton);
        QCOMPARE(slider->value(), 3);
        // Blanks before the digits are skipped: GOP 1 from its first packet.
        seekEdit->setText(QStringLiteral("  ") + QString::number(gops[1].packet) + QStringLiteral("x9"));
        click(w, kSeekButton);
        QCOMPARE(slider->value(), 1);
        QCOMPARE(ctl<QLabel>(w, kTimeLabel)->text(), gops[1].ptsText);
        // Nothing numeric is packet 0, before the first GOP here: not found.
        QVERIFY(gops[0].packet > 0);
        seekEdit->setText(QStringLiteral("abc"));
        click(w, kSeekButton);
        QCOMPARE(slider->value(), 1);

        // Off: View goes away and the picture comes back to the main window.
        QTest::mouseClick(outWindow, Qt::LeftButton);
        QVERIFY(!view->isVisible());
        QTRY_VERIFY(pixelAt(picture, 20, 20) != empty);

        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.isVisible());
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
        QSettings saved(ini, QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("WND/Vleft")).toString(), QStringLiteral("100"));
        QCOMPARE(saved.value(QStringLiteral("WND/Vtop")).toString(), QStringLiteral("60"));
        QCOMPARE(saved.value(QStringLiteral("WND/OUT_WND")).toString(), QStringLiteral("0"));
        QCOMPARE(saved.value(QStringLiteral("WND/NATIVE")).toString(), QStringLiteral("0"));
        QCOMPARE(saved.value(QStringLiteral("WND/ASPECT")).toString(), QStringLiteral("3"));
        QCOMPARE(saved.value(QStringLiteral("WND/GRADE")).toString(), QStringLiteral("1"));
    }

    // A custom width no option page accepts, with the output window on, once
    // aborted every start on its first picture. It falls back to 640 with a
    // note, in the window and in the program as started from a terminal.
    void customWidthOutOfRangeAtStart() {
        const QString recording = m_dir.filePath(QStringLiteral("wide.ts"));
        QVERIFY(QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/hd_1080i_aac.ts"), recording));
        const QString ini = m_dir.filePath(QStringLiteral("wide.ini"));
        writeFile(ini, "[WND]\nOUT_WND=1\nCSIZE=2147483647\nVleft=99999\n");
        const QString note =
            QStringLiteral("note: %1: WND/CSIZE=2147483647 is outside 240..5000; 640 is used").arg(ini);
        const QString placeNote =
            QStringLiteral("note: %1: WND/Vleft=99999 is outside -32768..32767; -1 is used").arg(ini);
        QCOMPARE(tavrelcut::settingsNotes(ini), (QStringList{note, placeNote}));
        {
            ScriptSink sink;
            MainWindow w(ini);
            w.setMessageSink(&sink);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.state().settings.cSize, 640);
            auto* view = w.findChild<tavrelcut::PictureArea*>(QStringLiteral("View"));
            QVERIFY(view && view->isVisible());
            QCOMPARE(view->pos(), QPoint(0, 0));
            ctl<QLineEdit>(w, kInputEdit)->setText(recording);
            click(w, kGetGop);
            QTRY_COMPARE(w.pictureRecord().displayWidth, 640);
            QTRY_COMPARE(view->image().size(), QSize(640, 360));
            QTRY_COMPARE(view->size(), QSize(640, 360));
            QTest::keyClick(&w, Qt::Key_Escape);
            QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
        }
        // The close wrote the width in use.
        QCOMPARE(QSettings(ini, QSettings::IniFormat).value(QStringLiteral("WND/CSIZE")).toString(),
                 QStringLiteral("640"));

        // The program itself: the note on stderr, and still running once the
        // recording is indexed and its first picture drawn.
        writeFile(ini, "[WND]\nOUT_WND=1\nCSIZE=2147483647\n");
        QFile::remove(recording + QStringLiteral(".txt"));
        QProcess app;
        app.start(QStringLiteral(TAVREL_APP), {QStringLiteral("--ini"), ini, recording});
        QVERIFY(app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recording + QStringLiteral(".txt")) || app.state() != QProcess::Running,
                                 30000);
        QTest::qWait(2000);
        QCOMPARE(app.state(), QProcess::Running);
        app.terminate();
        if (!app.waitForFinished(10000)) app.kill();
        app.waitForFinished();
        QVERIFY(QString::fromLocal8Bit(app.readAllStandardError()).split(QLatin1Char('\n')).contains(note));
    }

    // A GOP list is never used under another recording's name. With a new
    // recording dropped on Input and no "Get GOP", navigation and the clip
    // list stay off, also after File Info ends, so "→" cannot make a clip of
    // the old file's GOP ranges labelled with the new file.
    void gopListStaysWithItsRecording() {
        ScriptSink sink;
        MainWindow w(m_ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QFile sd(QStringLiteral(TAVREL_TEST_DATA "/sd_480p_mp2.ts"));
        QVERIFY(sd.open(QIODevice::ReadOnly));
        const QByteArray bytes = sd.readAll();
        const QString longRec = m_dir.filePath(QStringLiteral("long.ts"));
        const QString shortRec = m_dir.filePath(QStringLiteral("short.ts"));
        writeFile(longRec, bytes + bytes + bytes);
        writeFile(shortRec, bytes);

        w.openRecording(longRec);
        QTRY_COMPARE(ctl<QLabel>(w, kPacketLabel)->text(), QStringLiteral("188"));
        QTRY_VERIFY(ctl(w, kGetGop)->isEnabled());
        auto* slider = ctl<QSlider>(w, kSlider);
        QVERIFY(slider->maximum() > 15);
        slider->setValue(15);
        click(w, kInMark);

        auto* input = ctl<QLineEdit>(w, kInputEdit);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(shortRec)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(input, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(input, &drop);
        QCOMPARE(input->text(), shortRec);
        QVERIFY(!ctl(w, kAddClip)->isEnabled());

        whenShown([] { return QApplication::activeModalWidget(); },
                  [](QWidget* dialog) {
                      if (qobject_cast<tavrelcut::FileInfoDialog*>(dialog))
                          QTest::mouseClick(dialog->findChild<QPushButton*>(QString::number(kClose)), Qt::LeftButton);
                  });
        click(w, kFileInfo);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QTRY_VERIFY(ctl(w, kFileInfo)->isEnabled());
        for (int id : kGopListSet) QVERIFY2(!ctl(w, id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(ctl(w, kGetGop)->isEnabled());
        QTest::mouseClick(ctl(w, kAddClip), Qt::LeftButton);
        QCOMPARE(w.state().clipList.count(), size_t(0));

        // "Get GOP" makes the list the new recording's: the controls return.
        click(w, kGetGop);
        QTRY_VERIFY(slider->isEnabled());
        QCOMPARE(slider->maximum(), 7);
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }

    // Busy reasons outlast each other: a job that ends while a batch run of
    // another window still holds its reason leaves "Close" off and the rest
    // on; a modal window switches the busy set off until it goes.
    void busyReasonsOutlastAJob() {
        ScriptSink sink;
        MainWindow w(m_ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString recording = m_dir.filePath(QStringLiteral("busy.ts"));
        QVERIFY(QFile::copy(m_recording, recording));
        w.holdBusy(tavrelcut::BusyReason::Batch);
        w.openRecording(recording);
        QTRY_COMPARE(ctl<QLabel>(w, kPacketLabel)->text(), QStringLiteral("188"));
        QTRY_VERIFY(ctl(w, kGetGop)->isEnabled());
        QCOMPARE(disabledIds(w), QSet<int>{kClose});
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(w.isVisible());

        w.holdBusy(tavrelcut::BusyReason::Modal);
        QCOMPARE(disabledIds(w), kBusyIds);
        w.releaseBusy(tavrelcut::BusyReason::Modal);
        QCOMPARE(disabledIds(w), QSet<int>{kClose});
        w.releaseBusy(tavrelcut::BusyReason::Batch);
        QVERIFY(disabledIds(w).isEmpty());
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }

    // A saved place that would put a window partly off the screen is moved
    // onto it: the output window at Vtop=440 once covered the screen's
    // bottom edge, and the main window's buttons below it.
    void savedPlacesStayOnScreen() {
        const QString ini = m_dir.filePath(QStringLiteral("places.ini"));
        writeFile(ini, "[WND]\nOUT_WND=1\nVleft=100\nVtop=440\nleft=700\ntop=500\n");
        ScriptSink sink;
        MainWindow w(ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect screen = w.screen()->availableGeometry();
        auto* view = w.findChild<tavrelcut::PictureArea*>(QStringLiteral("View"));
        QVERIFY(view && view->isVisible());
        QVERIFY2(screen.contains(view->frameGeometry()),
                 qPrintable(QStringLiteral("view at %1,%2").arg(view->x()).arg(view->y())));
        QVERIFY(screen.contains(w.frameGeometry().topLeft()));
        QCOMPARE(view->x(), 100);
        const QString recording = m_dir.filePath(QStringLiteral("places.ts"));
        QVERIFY(QFile::copy(m_recording, recording));
        w.openRecording(recording);
        QTRY_COMPARE(view->size(), QSize(640, 360));
        QVERIFY(screen.contains(view->frameGeometry()));
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }

    // The About item on the window's surface menu, the program icon, and a
    // drag on the surface moving the window.
    void aboutAndSurface() {
        ScriptSink sink;
        MainWindow w(m_ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.windowIcon().isNull());

        QString item, title, name, ok;
        QImage icon;
        whenShown(openPopup, [&](QWidget* popup) {
            auto* menu = qobject_cast<QMenu*>(popup);
            if (!menu) return;
            QAction* about = menu->findChild<QAction*>(QStringLiteral("16"));
            if (!about) {
                QTest::keyClick(menu, Qt::Key_Escape);
                return;
            }
            item = about->text();
            whenShown([] { return QApplication::activeModalWidget(); },
                      [&](QWidget* box) {
                          title = box->windowTitle();
                          for (QLabel* l : box->findChildren<QLabel*>()) {
                              if (!l->text().isEmpty()) name = l->text();
                              if (!l->pixmap().isNull()) icon = l->pixmap().toImage();
                          }
                          auto* button = box->findChild<QPushButton*>(QStringLiteral("1"));
                          if (!button) return;
                          ok = button->text();
                          QTest::mouseClick(button, Qt::LeftButton);
                      });
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(about).center());
        });
        // Through the window, as the platform delivers it: the right click
        // becomes a context menu request.
        QTest::mouseClick(w.windowHandle(), Qt::RightButton, {}, QPoint(3, 3));
        QCOMPARE(item, QStringLiteral("Tavrel Cutter Info(&A)..."));
        QCOMPARE(title, QStringLiteral("Tavrel Cutter Info"));
        QCOMPARE(name, QStringLiteral("Tavrel Cutter"));
        QCOMPARE(ok, QStringLiteral("OK"));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        // The icon is drawn: opaque in the middle, several colours.
        QCOMPARE(icon.size(), QSize(32, 32));
        QSet<QRgb> colours;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                if (qAlpha(icon.pixel(x, y)) == 255) colours.insert(icon.pixel(x, y));
        QVERIFY(colours.size() >= 4);

        // A right click on a button opens no menu.
        bool popped = false;
        whenShown(openPopup, [&](QWidget* popup) {
            popped = true;
            popup->close();
        });
        QWidget* option = ctl(w, kOption);
        QTest::mouseClick(w.windowHandle(), Qt::RightButton, {}, option->mapTo(&w, option->rect().center()));
        QTest::qWait(100);
        QVERIFY(!popped);

        // A left drag on the surface moves the window; on a button it does not.
        const QPoint start = w.pos();
        QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseMove(&w, QPoint(53, 33));
        QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(53, 33));
        QCOMPARE(w.pos(), start + QPoint(50, 30));
        const QPoint centre = option->rect().center();
        QTest::mousePress(option, Qt::LeftButton, {}, centre);
        QTest::mouseMove(option, centre + QPoint(30, 30));
        QTest::mouseRelease(option, Qt::LeftButton, {}, centre + QPoint(30, 30));
        QCOMPARE(w.pos(), start + QPoint(50, 30));

        click(w, kClose);
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }

    void messageBoxLayout_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QList<int>>("xs");  // as functions of the client width below
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("result");
        QTest::newRow("ok") << 0 << QStringList{"1096"} << QList<int>{2} << "1096" << 0;
        QTest::newRow("ok-cancel") << 1 << QStringList{"1096", "1097"} << QList<int>{0, 1} << "1097" << 1;
        QTest::newRow("yes-no") << 2 << QStringList{"1093", "1094"} << QList<int>{0, 1} << "1094" << 3;
        QTest::newRow("yes-no-cancel") << 3 << QStringList{"1093", "1094", "1097"} << QList<int>{3, 2, 4} << "1093"
                                       << 2;
        QTest::newRow("other kind") << 5 << QStringList{"1096"} << QList<int>{2} << "1096" << 0;
    }

    void messageBoxLayout() {
        QFETCH(int, kind);
        QFETCH(QStringList, buttons);
        QFETCH(QList<int>, xs);
        QFETCH(QString, press);
        QFETCH(int, result);
        MessageDialog d(nullptr, QStringLiteral("question"), QStringLiteral("一行目\r\n二行目"), kind);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.windowTitle(), QStringLiteral("question"));
        auto* text = d.findChild<QPlainTextEdit*>(QStringLiteral("1040"));
        QVERIFY(text && text->isReadOnly());
        QCOMPARE(text->toPlainText(), QStringLiteral("一行目\n二行目"));
        const int w = d.width(), h = d.height();
        // 0: W/4 - 21, 1: (W/4)*2 + 21, 2: W/2 - 32, 3: W/4 - 42, 4: (W/4)*3 - 21
        const int places[] = {w / 4 - 21, (w / 4) * 2 + 21, w / 2 - 32, w / 4 - 42, (w / 4) * 3 - 21};
        QStringList shown;
        for (QPushButton* b : d.findChildren<QPushButton*>())
            if (b->isVisible()) shown << b->objectName();
        shown.sort();
        QStringList want = buttons;
        want.sort();
        QCOMPARE(shown, want);
        for (int i = 0; i < buttons.size(); ++i) {
            auto* b = d.findChild<QPushButton*>(buttons[i]);
            QCOMPARE(b->pos(), QPoint(places[xs[i]], h - 30));
        }
        // Escape and Enter give no answer of their own.
        QTest::keyClick(&d, Qt::Key_Escape);
        QTest::keyClick(&d, Qt::Key_Return);
        QVERIFY(d.isVisible());
        QTest::mouseClick(d.findChild<QPushButton*>(press), Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), result);
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
