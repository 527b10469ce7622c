// The main window as a user meets it: controls found by their ids, clicks
// and keys, and what the window then shows. Every message must be one the
// test expects.
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <functional>

#include "main_window.h"
#include "message_box.h"
#include "preview.h"
#include "skin_slider.h"

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

const QSet<int> kBusySet = {1000, 1001, 1014, 1015, 1002, 1013, 1006, 1007, 1004, 1005, 1009, 1016, 1017, 1018, 1003,
                            1010, 2,    1086, 1087, 1095, 1041, 1083, 1090, 1091, 1038, 1042, 1008, 1012, 1081, 1045};

QSet<int> disabledIds(const QWidget& w) {
    QSet<int> ids;
    for (QWidget* c : w.findChildren<QWidget*>()) {
        bool ok = false;
        const int id = c->objectName().toInt(&ok);
        if (ok && !c->isEnabled()) ids.insert(id);
    }
    ids.remove(1024);  // "View" is never enabled
    return ids;
}

QRgb pixelAt(QWidget* w, int x, int y) { return w->grab().toImage().pixel(x, y); }

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_ini, m_recording;

    template <class T = QWidget> T* ctl(MainWindow& w, int id) {
        T* c = w.findChild<T*>(QString::number(id));
        if (!c) qFatal("no control %d", id);
        return c;
    }
    void click(MainWindow& w, int id) {
        auto* b = ctl<QPushButton>(w, id);
        QVERIFY2(b->isEnabled(), qPrintable(QStringLiteral("control %1 is disabled").arg(id)));
        QTest::mouseClick(b, Qt::LeftButton);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_recording = m_dir.filePath(QStringLiteral("hd_1080i_aac.ts"));
        QVERIFY(QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/hd_1080i_aac.ts"), m_recording));
        m_ini = m_dir.filePath(QStringLiteral("tavrelcut.ini"));
        QFile ini(m_ini);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[FILE]\nOUTTIME=1\n[DATA]\nSET_FC_SLIDER=1\n");
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
        QVERIFY(!ctl(w, 1003)->isEnabled());
        QVERIFY(!ctl(w, 1010)->isEnabled());
        QVERIFY(ctl(w, 1072)->isHidden());

        // The recording dropped onto the input edit.
        auto* input = ctl<QLineEdit>(w, 1000);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(m_recording)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(input, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(input, &drop);
        QCOMPARE(input->text(), m_recording);

        click(w, 1002);
        auto* packet = ctl<QLabel>(w, 1025);
        QTRY_COMPARE(packet->text(), QStringLiteral("188"));
        QCOMPARE(ctl<QLabel>(w, 1026)->text(), QStringLiteral("0100"));
        QCOMPARE(ctl<QLabel>(w, 1029)->text(), QStringLiteral("0"));
        QVERIFY(ctl(w, 1013)->isEnabled());

        const QList<GopLine> gops = readIndex(m_recording + QStringLiteral(".txt"));
        QVERIFY(gops.size() > 6);
        QCOMPARE(gops.back().ptsText, QStringLiteral("LAST       "));
        auto* slider = ctl<QSlider>(w, 1003);
        QCOMPARE(slider->maximum() + 1, gops.size());
        QCOMPARE(slider->value(), 0);
        auto* time = ctl<QLabel>(w, 1098);
        QCOMPARE(time->text(), gops[0].ptsText);
        QVERIFY(slider->hasFocus());

        // The first picture arrives from the decoder thread.
        auto* picture = ctl<tavrelcut::PictureArea>(w, 1021);
        const QRgb empty = tavrelcut::emptyPictureColour().rgb();
        QTRY_VERIFY(!picture->image().isNull());
        QCOMPARE(picture->image().width(), 270);
        QVERIFY(pixelAt(picture, 20, 20) != empty);

        // Steps: the button, the keyboard on the slider, and back.
        click(w, 1007);
        QCOMPARE(slider->value(), 1);
        QCOMPARE(time->text(), gops[1].ptsText);
        QVERIFY(slider->hasFocus());
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(slider->value(), 2);
        QCOMPARE(time->text(), gops[2].ptsText);
        click(w, 1006);
        QCOMPARE(slider->value(), 1);
        QCOMPARE(time->text(), gops[1].ptsText);
        // 60 GOPs back from 1 is outside the list: nothing moves.
        click(w, 1041);
        QCOMPARE(slider->value(), 1);

        // First clip: GOPs 1 up to 3.
        click(w, 1004);
        QCOMPARE(ctl<QLabel>(w, 1027)->text(), gops[1].ptsText);
        click(w, 1007);
        click(w, 1007);
        click(w, 1005);
        QCOMPARE(ctl<QLabel>(w, 1028)->text(), gops[3].ptsText);
        auto* skinSlider = qobject_cast<tavrelcut::SkinSlider*>(slider);
        QVERIFY(skinSlider && skinSlider->hasSelection());
        QCOMPARE(skinSlider->selectionStart(), 1);
        QCOMPARE(skinSlider->selectionEnd(), 3);
        click(w, 1009);
        auto* clips = ctl<QListWidget>(w, 1010);
        QCOMPARE(clips->count(), 1);
        QCOMPARE(clips->item(0)->text(),
                 gops[1].ptsText + QStringLiteral(" ～ ") + gops[3].ptsText + QStringLiteral(" ( hd_1080i_aac.ts )"));
        // The mark jump goes back to the in mark.
        click(w, 1008);
        QCOMPARE(slider->value(), 1);
        click(w, 1012);
        QCOMPARE(slider->value(), 3);

        // Second clip: GOP 4 to the end; the LAST entry clears the picture.
        click(w, 1007);
        click(w, 1004);
        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(slider->value(), slider->maximum());
        QTRY_COMPARE(pixelAt(picture, 20, 20), empty);
        click(w, 1005);
        click(w, 1009);
        QCOMPARE(clips->count(), 2);
        QVERIFY(clips->item(1)->text().contains(QStringLiteral("LAST       ")));

        // Reorder: the end clip up, then back down.
        clips->setCurrentRow(1);
        click(w, 1017);
        QCOMPARE(clips->currentRow(), 0);
        QVERIFY(clips->item(0)->text().contains(QStringLiteral("LAST")));
        click(w, 1018);
        QCOMPARE(clips->currentRow(), 1);
        QVERIFY(clips->item(1)->text().contains(QStringLiteral("LAST")));

        // Clipping: the elapsed-time report arrives while the job still
        // runs, so the busy set is off and Escape is refused.
        const QString out = m_dir.filePath(QStringLiteral("out.ts"));
        auto* outputEdit = ctl<QLineEdit>(w, 1014);
        outputEdit->setFocus();
        QTest::keyClicks(outputEdit, out);
        QSet<int> disabledDuringCut;
        bool visibleAfterEscape = false;
        sink.expect({QStringLiteral("Info"), QStringLiteral("経過時間："), 0, 0, [&] {
                         disabledDuringCut = disabledIds(w);
                         QTest::keyClick(&w, Qt::Key_Escape);
                         visibleAfterEscape = w.isVisible();
                     }});
        click(w, 1013);
        QTRY_VERIFY(sink.done());
        QTRY_VERIFY(ctl(w, 1013)->isEnabled());
        QTRY_COMPARE(w.windowTitle(), QStringLiteral("Tavrel Cutter"));
        QCOMPARE(disabledDuringCut, kBusySet);
        QVERIFY(visibleAfterEscape);

        // The output holds GOPs 1..2 and 4..end of the recording, byte for byte.
        QFile src(m_recording), dst(out);
        QVERIFY(src.open(QIODevice::ReadOnly));
        QVERIFY(dst.open(QIODevice::ReadOnly));
        const QByteArray all = src.readAll();
        const QByteArray expected = all.mid(gops[1].packet * 188, (gops[3].packet - gops[1].packet) * 188) +
                                    all.mid(gops[4].packet * 188);
        const QByteArray written = dst.readAll();
        QCOMPARE(written.size(), expected.size());
        QVERIFY(written == expected);
        dst.close();

        // Again: the existing output is kept on NO.
        sink.expect({QStringLiteral("question"), QStringLiteral("既にファイルが存在しています。"), 2, 3, {}});
        click(w, 1013);
        QVERIFY(sink.done());
        QVERIFY(ctl(w, 1013)->isEnabled());

        // A recording newer than its index: the scan asks while the busy
        // set is off; NO loads the old index.
        QFile touch(m_recording);
        QVERIFY(touch.open(QIODevice::ReadWrite));
        QVERIFY(touch.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        touch.close();
        QSet<int> disabledDuringScan;
        sink.expect({QStringLiteral("question"), QStringLiteral("GOPファイルよりTSファイルの更新日時が新しくなっています。"),
                     2, 3, [&] { disabledDuringScan = disabledIds(w); }});
        slider->setValue(2);
        click(w, 1002);
        QTRY_VERIFY(sink.done());
        QTRY_VERIFY(ctl(w, 1002)->isEnabled());
        QCOMPARE(disabledDuringScan, kBusySet);
        QTRY_COMPARE(slider->value(), 0);
        QCOMPARE(slider->maximum() + 1, gops.size());
        QTRY_VERIFY(pixelAt(picture, 20, 20) != empty);

        // F1: no help page beside the test program.
        sink.expect({QStringLiteral("error"), QStringLiteral("ヘルプファイルが見つかりません。"), 0, 0, {}});
        QTest::keyClick(&w, Qt::Key_F1);
        QVERIFY(sink.done());

        // Enter does not close; Escape does and writes the settings.
        ctl<QCheckBox>(w, 1019)->click();
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
        QVERIFY(ctl<QLineEdit>(w, 1000)->text().isEmpty());
        QCOMPARE(ctl<QLineEdit>(w, 1014)->text(), m_dir.filePath(QStringLiteral("out.ts")));
        QVERIFY(ctl<QCheckBox>(w, 1019)->isChecked());
        QVERIFY(!ctl<QCheckBox>(w, 1045)->isChecked());
        // Clipping with an empty list is refused with its message.
        sink.expect({QStringLiteral("error"), QStringLiteral("Clip List に登録して下さい"), 0, 0, {}});
        click(w, 1013);
        QVERIFY(sink.done());
        // "Close" closes.
        click(w, 2);
        QVERIFY(!w.isVisible());
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
