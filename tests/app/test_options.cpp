// "Option" as a user meets it: the sheet opened from the main window, its
// pages driven by clicks and keys, what OK and Cancel leave behind, the cut
// that follows the pages, and the one look of every window.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QSlider>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <deque>
#include <functional>

#include "about_box.h"
#include "bitmap_button.h"
#include "control_ids.h"
#include "error_info_window.h"
#include "file_info_dialog.h"
#include "main_window.h"
#include "message_box.h"
#include "option_sheet.h"
#include "skin.h"
#include "tree_property_sheet.h"

using namespace tavrelcut::ids;
using tavrelcut::MainWindow;
using tavrelcut::TreePropertySheet;

namespace {

QString u8(const char* s) { return QString::fromUtf8(s); }

// Answers messages in order from a script; anything else is recorded as
// unexpected. whileShown runs while the message is up.
class ScriptSink : public tavrelcut::MessageSink {
public:
    struct Expect {
        QString text;
        std::function<void()> whileShown = {};
    };
    void expect(const QString& text, std::function<void()> whileShown = {}) {
        m_script.push_back({text, std::move(whileShown)});
    }
    int ask(QWidget*, const QString& caption, const QString& text, int kind) override {
        if (m_script.empty() || caption != QStringLiteral("error") || kind != 0 || text != m_script.front().text) {
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

// Runs act on the active modal window once find accepts it (the dialogs run
// in event loops of their own); gives up after three seconds.
template <class T>
void whenShown(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act = std::move(act)] {
        auto* shown = qobject_cast<T*>(QApplication::activeModalWidget());
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

template <class T = QWidget>
T* ctl(QWidget* in, int id) {
    T* c = in->findChild<T*>(QString::number(id));
    if (!c) qFatal("no control %d", id);
    return c;
}

void click(QWidget* in, int id) { QTest::mouseClick(ctl(in, id), Qt::LeftButton); }

// Replaces an edit's text as a user does: focus, select all, type.
void type(QWidget* in, int id, const QString& text) {
    auto* e = ctl<QLineEdit>(in, id);
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    QTest::keyClicks(e, text);
}

void showPage(TreePropertySheet* sheet, int pageId) {
    QTreeWidget* tree = sheet->tree();
    QTreeWidgetItem* item = sheet->itemOf(ctl<tavrelcut::PropertyPage>(sheet, pageId));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

// The edit holding the sheet's focus with its whole text selected.
bool focusedAndSelected(QWidget* in, int id) {
    auto* e = ctl<QLineEdit>(in, id);
    return e->window()->focusWidget() == e && e->selectedText() == e->text() && !e->text().isEmpty();
}

// "Option" from the window; act drives the sheet. A sheet act leaves open
// (a failed check returns early) is cancelled, so the test goes on.
bool withSheet(MainWindow& w, std::function<void(TreePropertySheet*)> act) {
    bool ran = false;
    whenShown<TreePropertySheet>([&](TreePropertySheet* sheet) {
        ran = true;
        act(sheet);
        if (sheet->isVisible()) sheet->reject();
    });
    QTest::mouseClick(ctl(&w, kOption), Qt::LeftButton);
    return ran;
}

// Types a path into a chooser's name field and takes it with Enter; a
// chooser that did not take it is cancelled.
void choose(QFileDialog* d, const QString& path) {
    auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name) {
        name->setFocus();
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
    }
    if (d->isVisible()) d->reject();
}

QStringList pidRows(QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        rows << item->text(0) + QLatin1Char(' ') + item->text(1) +
                    (item->checkState(0) == Qt::Checked ? QStringLiteral(" [x]") : QStringLiteral(" [ ]"));
    }
    return rows;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Painted with the dialogs' pattern where no control covers it.
bool onPattern(QWidget* w) {
    const QImage tile = tavrelcut::Skin::instance().pixmap(tavrelcut::Art::Background).toImage();
    const QImage shot = w->grab().toImage();
    for (int y = 1; y < 4; ++y)
        for (int x = 1; x < 4; ++x)
            if (shot.pixel(x, y) != tile.pixel(x % tile.width(), y % tile.height())) return false;
    return true;
}

double luminance(QRgb c) {
    auto lin = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
}

// Contrast between a disabled button's grey caption and the artwork behind
// it: the commonest colour of the button's face.
double disabledCaptionContrast(QPushButton* b) {
    const QImage shot = b->grab().toImage();
    QHash<QRgb, int> counts;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) ++counts[shot.pixel(x, y)];
    QRgb face = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > counts.value(face)) face = it.key();
    const double grey = luminance(qRgb(180, 180, 180)), back = luminance(face);
    return (std::max(grey, back) + 0.05) / (std::min(grey, back) + 0.05);
}

}  // namespace

class OptionsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_recording;

    // A file of the test folder with the given text.
    QString newIni(const QString& name, const QByteArray& text) {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_recording = m_dir.filePath(QStringLiteral("rec.ts"));
        QVERIFY(QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/hd_1080i_aac.ts"), m_recording));
        // An empty input list beside the settings files: no first-start
        // message about a missing one.
        newIni(QStringLiteral("qxinput.txt"), "");
    }

    void captionPlaces_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("nodes");
        QTest::addColumn<QString>("page");
        QTest::newRow("plain") << "Edit" << QStringList{} << "Edit";
        QTest::newRow("node") << "A::B" << QStringList{"A"} << "B";
        QTest::newRow("two levels") << "A::B::C" << QStringList{"A", "B"} << "C";
        QTest::newRow("odd backslashes") << "A\\::B" << QStringList{} << "A\\::B";
        QTest::newRow("even backslashes") << "A\\\\::B" << QStringList{"A\\"} << "B";
        QTest::newRow("escaped in a node") << "x\\::y::z" << QStringList{"x::y"} << "z";
        QTest::newRow("three backslashes") << "A\\\\\\::B::C" << QStringList{"A\\::B"} << "C";
        QTest::newRow("empty node") << "::B" << QStringList{""} << "B";
    }

    void captionPlaces() {
        QFETCH(QString, caption);
        QFETCH(QStringList, nodes);
        QFETCH(QString, page);
        const tavrelcut::PagePlace place = tavrelcut::placeOfCaption(caption);
        QCOMPARE(place.nodes, nodes);
        QCOMPARE(place.page, page);
    }

    // Pages under nodes made once and found again by text; a node shows the
    // first page under it.
    void sheetTree() {
        TreePropertySheet sheet(QStringLiteral("T"), {}, [](const QString&, const QString&, int) { return 0; });
        auto* b = new tavrelcut::PropertyPage(QStringLiteral("A::B"));
        auto* c = new tavrelcut::PropertyPage(QStringLiteral("A::C"));
        auto* d = new tavrelcut::PropertyPage(QStringLiteral("D"));
        for (auto* p : {b, c, d}) sheet.addPage(p);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QTreeWidget* tree = sheet.tree();
        QCOMPARE(tree->objectName(), QStringLiteral("PageTree"));
        QCOMPARE(tree->width(), 150);
        QCOMPARE(tree->topLevelItemCount(), 2);
        QTreeWidgetItem* a = tree->topLevelItem(0);
        QCOMPARE(a->text(0), QStringLiteral("A"));
        QCOMPARE(a->childCount(), 2);
        QCOMPARE(a->child(1)->text(0), QStringLiteral("C"));
        QVERIFY(a->icon(0).isNull() && a->child(0)->icon(0).isNull());
        QCOMPARE(sheet.activePage(), b);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->topLevelItem(1)).center());
        QCOMPARE(sheet.activePage(), d);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(a).center());
        QCOMPARE(sheet.activePage(), b);
        QCOMPARE(sheet.findChild<QLabel*>(QStringLiteral("Page Frame"))->text(), QStringLiteral("B"));
    }

    // "Edit": digits only, both margins out of range in one message, an
    // empty edit, "both"; OK shows the margins, repeats the LR buttons at
    // once and switches the picture window to the custom width; the keys
    // reach the settings file.
    void editPage() {
        const QString ini = newIni(QStringLiteral("edit.ini"), "[WND]\nNATIVE=1\nOUT_WND=1\n");
        ScriptSink sink;
        MainWindow w(ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* back1 = ctl<tavrelcut::StepButton>(&w, kBack1);
        QVERIFY(!back1->autoStep());

        QStringList pages, visibleButtons;
        QString title, firstPage;
        QPoint okAt, cancelAt;
        bool closedEarly = false;
        QVERIFY(withSheet(w, [&](TreePropertySheet* sheet) {
            title = sheet->windowTitle();
            firstPage = sheet->activePage()->objectName();
            for (int i = 0; i < sheet->tree()->topLevelItemCount(); ++i)
                pages << sheet->tree()->topLevelItem(i)->text(0);
            for (QPushButton* b : sheet->findChildren<QPushButton*>())
                if (b->isVisible()) visibleButtons << b->text();
            okAt = ctl(sheet, kSheetOk)->pos();
            cancelAt = ctl(sheet, kSheetCancel)->pos();

            type(sheet, kMarginFrontEdit, QStringLiteral("1a0b1"));
            QCOMPARE(ctl<QLineEdit>(sheet, kMarginFrontEdit)->text(), QStringLiteral("101"));
            type(sheet, kMarginBackEdit, QStringLiteral("200"));
            sink.expect(u8("0～100 の範囲で入力してください"));
            click(sheet, kSheetOk);
            QVERIFY(sink.done() && sheet->isVisible());
            QVERIFY(focusedAndSelected(sheet, kMarginBackEdit));

            type(sheet, kMoveCountEdit, QString());
            sink.expect(u8("整数を入力してください。"));
            click(sheet, kSheetOk);
            QVERIFY(sink.done() && sheet->isVisible());
            QCOMPARE(sheet->focusWidget(), ctl(sheet, kMoveCountEdit));

            type(sheet, kMarginFrontEdit, QStringLiteral("7"));
            click(sheet, kBothMargins);
            QCOMPARE(ctl<QLineEdit>(sheet, kMarginBackEdit)->text(), QStringLiteral("7"));
            type(sheet, kMoveCountEdit, QStringLiteral("30"));
            click(sheet, kRepeatBox);
            click(sheet, kSliderFocusBox);
            click(sheet, kSheetOk);
            closedEarly = !sheet->isVisible();
        }));
        QCOMPARE(title, QStringLiteral("Option"));
        QCOMPARE(firstPage, QString::number(kEditPage));
        QCOMPARE(pages, (QStringList{"Edit", "Clipping", "Status"}));
        visibleButtons.sort();
        QCOMPARE(visibleButtons, (QStringList{"Cancel", "OK", "both"}));
        QCOMPARE(okAt, QPoint(300, 427));
        QCOMPARE(cancelAt, QPoint(380, 427));
        QVERIFY(closedEarly);

        QCOMPARE(ctl<QLabel>(&w, kMarginLabel)->text(), QStringLiteral("7"));
        QCOMPARE(ctl<QLabel>(&w, kMarginBackLabel)->text(), QStringLiteral("7"));
        QVERIFY(back1->autoStep());
        QVERIFY(ctl<tavrelcut::StepButton>(&w, kForward1)->autoStep());
        QTRY_COMPARE(w.state().settings.native, 0);
        QCOMPARE(w.pictureRecord().displayWidth, 640);
        QVERIFY(ctl(&w, kOption)->isEnabled());

        // Cancel changes nothing.
        QVERIFY(withSheet(w, [&](TreePropertySheet* sheet) {
            QCOMPARE(ctl<QLineEdit>(sheet, kMarginFrontEdit)->text(), QStringLiteral("7"));
            type(sheet, kMarginFrontEdit, QStringLiteral("3"));
            click(sheet, kRepeatBox);
            click(sheet, kSheetCancel);
        }));
        QCOMPARE(w.state().settings.pacMargin, 7);
        QVERIFY(back1->autoStep());

        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
        QSettings saved(ini, QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("DATA/PACMARGIN")).toString(), QStringLiteral("7"));
        QCOMPARE(saved.value(QStringLiteral("DATA/PACMARGINBACK")).toString(), QStringLiteral("7"));
        QCOMPARE(saved.value(QStringLiteral("DATA/CTGOPMV")).toString(), QStringLiteral("30"));
        QCOMPARE(saved.value(QStringLiteral("DATA/REPEAT")).toString(), QStringLiteral("1"));
        QCOMPARE(saved.value(QStringLiteral("DATA/SET_FC_SLIDER")).toString(), QStringLiteral("0"));
        QCOMPARE(saved.value(QStringLiteral("WND/NATIVE")).toString(), QStringLiteral("0"));
    }

    // "Status": the width's range, the sound and folder checks in order, the
    // enabling rules, the two choosers and the refresh after them.
    void statusPage() {
        const QString folder = m_dir.filePath(QStringLiteral("gops"));
        QVERIFY(QDir().mkpath(folder));
        const QString ini = newIni(QStringLiteral("status.ini"), "");
        ScriptSink sink;
        MainWindow w(ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QString folderTitle, soundTitle, startFolder;
        QSize folderSize;
        QVERIFY(withSheet(w, [&](TreePropertySheet* sheet) {
            showPage(sheet, kStatusPage);
            QCOMPARE(sheet->activePage()->objectName(), QString::number(kStatusPage));
            QVERIFY(!ctl(sheet, kSoundPathEdit)->isEnabled() && !ctl(sheet, kSoundPathButton)->isEnabled());
            QVERIFY(!ctl(sheet, kGopFolderEdit)->isEnabled() && !ctl(sheet, kGopFolderButton)->isEnabled());
            for (const char* refused : {"239", "5001"}) {
                type(sheet, kCSizeEdit, QString::fromLatin1(refused));
                sink.expect(u8("240～5000 の範囲で入力してください"));
                click(sheet, kSheetOk);
                QVERIFY(focusedAndSelected(sheet, kCSizeEdit));
            }
            // 5000 passes: the sound, checked with no file, is next.
            type(sheet, kCSizeEdit, QStringLiteral("5000"));
            click(sheet, kSoundBox);
            QVERIFY(ctl(sheet, kSoundPathEdit)->isEnabled() && ctl(sheet, kSoundPathButton)->isEnabled());
            sink.expect(u8("指定ファイルが存在しません。"));
            click(sheet, kSheetOk);
            QCOMPARE(sheet->focusWidget(), ctl(sheet, kSoundPathEdit));

            // The sound chooser; the width typed before it goes back to
            // the stored 640.
            type(sheet, kCSizeEdit, QStringLiteral("999"));
            whenShown<QFileDialog>([&](QFileDialog* d) {
                soundTitle = d->windowTitle();
                choose(d, m_recording);
            });
            click(sheet, kSoundPathButton);
            QCOMPARE(ctl<QLineEdit>(sheet, kSoundPathEdit)->text(), m_recording);
            QCOMPARE(ctl<QLineEdit>(sheet, kCSizeEdit)->text(), QStringLiteral("640"));
            QVERIFY(ctl<QCheckBox>(sheet, kSoundBox)->isChecked());

            click(sheet, kSelGopBox);
            type(sheet, kGopFolderEdit, m_dir.filePath(QStringLiteral("missing")));
            sink.expect(u8("指定パスが存在しません。"));
            click(sheet, kSheetOk);
            QVERIFY(focusedAndSelected(sheet, kGopFolderEdit));

            whenShown<QFileDialog>([&](QFileDialog* d) {
                folderTitle = d->windowTitle();
                folderSize = d->size();
                startFolder = d->directory().absolutePath();
                choose(d, folder);
            });
            click(sheet, kGopFolderButton);
            QCOMPARE(ctl<QLineEdit>(sheet, kGopFolderEdit)->text(), folder);
            type(sheet, kCSizeEdit, QStringLiteral("240"));
            click(sheet, kTimeVoptBox);
            click(sheet, kOutTimeBox);
            click(sheet, kSheetOk);
            QVERIFY(!sheet->isVisible());
        }));
        QVERIFY(sink.done());
        QCOMPARE(soundTitle, u8("ファイル選択"));
        QCOMPARE(folderTitle, u8("フォルダを選択して下さい"));
        // Qt's folder chooser, as it comes, is 50 x 100 pixels smaller.
        QFileDialog plain;
        plain.setFont(w.font());
        plain.setOption(QFileDialog::DontUseNativeDialog);
        plain.setFileMode(QFileDialog::Directory);
        plain.setOption(QFileDialog::ShowDirsOnly);
        plain.show();
        QCOMPARE(folderSize, plain.size() + QSize(50, 100));
        plain.hide();
        // No folder stored: the chooser starts on the desktop (the home
        // folder where there is none).
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        QCOMPARE(startFolder, QFileInfo(desktop).isDir() ? desktop : QDir::homePath());
        const tavrel::Settings& s = w.state().settings;
        QCOMPARE(s.cSize, 240);
        QCOMPARE(s.sound, 1);
        QCOMPARE(QString::fromStdString(s.soundPath), m_recording);
        QCOMPARE(s.selGop, 1);
        QCOMPARE(QString::fromStdString(s.gopFolder), folder);
        QCOMPARE(s.timeVopt, 0);
        QCOMPARE(s.outTime, 1);

        // Opened again, the folder chooser starts with the stored folder
        // selected in its parent.
        QStringList selected;
        QVERIFY(withSheet(w, [&](TreePropertySheet* sheet) {
            showPage(sheet, kStatusPage);
            whenShown<QFileDialog>([&](QFileDialog* d) {
                startFolder = d->directory().absolutePath();
                selected = d->selectedFiles();
                d->reject();
            });
            click(sheet, kGopFolderButton);
            click(sheet, kSheetOk);
        }));
        QCOMPARE(startFolder, m_dir.path());
        QCOMPARE(selected, QStringList{folder});

        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
        QSettings saved(ini, QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("WND/CSIZE")).toString(), QStringLiteral("240"));
        QCOMPARE(saved.value(QStringLiteral("FILE/SOUND")).toString(), QStringLiteral("1"));
        QCOMPARE(saved.value(QStringLiteral("FILE/SOUND_PATH")).toString(), m_recording);
        QCOMPARE(saved.value(QStringLiteral("FILE/SELGOP")).toString(), QStringLiteral("1"));
        QCOMPARE(saved.value(QStringLiteral("FILE/GOPF")).toString(), folder);
        QCOMPARE(saved.value(QStringLiteral("FILE/OUTTIME")).toString(), QStringLiteral("1"));
        QCOMPARE(saved.value(QStringLiteral("DATA/TIME_VOPT")).toString(), QStringLiteral("0"));
    }

    // "Clipping": "Get PID" from the GOP under the slider, the list kept by
    // Cancel, the enabling rules with states kept, the flags written on OK,
    // another input starting empty and a failed reading.
    void clippingPage() {
        const QString ini = newIni(QStringLiteral("clip.ini"), "");
        ScriptSink sink;
        MainWindow w(ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.openRecording(m_recording);
        QTRY_VERIFY(ctl(&w, kSlider)->isEnabled());
        auto* slider = ctl<QSlider>(&w, kSlider);
        slider->setValue(2);

        const QStringList all = {"0000 PAT [x]",          "1000 PMT [x]",        "0100 PCR PID [x]",
                                 "0100 MPEG-2 Video [x]", "0101 MPEG-2 AAC [x]", "1FFF NULL [x]"};
        QStringList before, after, header;
        QString input;
        QList<int> widths;
        bool listOn = true, minimumOn = true;
        QVERIFY(withSheet(w, [&](TreePropertySheet* sheet) {
            showPage(sheet, kClippingPage);
            input = ctl<QLabel>(sheet, kPidInputLabel)->text();
            auto* list = ctl<QTreeWidget>(sheet, kPidListView);
            before = pidRows(list);
            listOn = list->isEnabled();
            minimumOn = ctl(sheet, kOptimizeBox)->isEnabled();
            QVERIFY(ctl(sheet, kAddTopPsiBox)->isHidden());
            click(sheet, kGetPid);
            after = pidRows(list);
            header = {list->headerItem()->text(0), list->headerItem()->text(1)};
            // "PID" holds the check box and the widest PID unclipped.
            widths = {list->header()->sectionSize(0) -
                          list->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, list) -
                          list->fontMetrics().horizontalAdvance(QStringLiteral("1FFF")),
                      list->header()->sectionSize(1)};
            click(sheet, kSheetCancel);
        }));
        QCOMPARE(input, m_recording);
        QVERIFY(before.isEmpty());
        QVERIFY(!listOn && !minimumOn);
        QCOMPARE(after, all);
        QCOMPARE(header, (QStringList{"PID", "TYPE"}));
        QVERIFY(widths[0] >= 8);
        QCOMPARE(widths[1], 350);
        QCOMPARE(w.state().currentPacket, w.state().gopList[2].packet);
        // Cancel kept the fresh list, and nothing else.
        QCOMPARE(int(w.state().pidList.count()), 6);
        QCOMPARE(w.state().settings.selectPid, 0);

        // "only minimum" checks the minimum set; unchecking "only selected"
        // greys the list and the box with their states kept.
        QVERIFY(withSheet(w, [&](TreePropertySheet* sheet) {
            showPage(sheet, kClippingPage);
            auto* list = ctl<QTreeWidget>(sheet, kPidListView);
            before = pidRows(list);
            click(sheet, kSelectPidBox);
            click(sheet, kOptimizeBox);
            click(sheet, kRewriteTcBox);
            click(sheet, kSelectPidBox);
            listOn = list->isEnabled();
            minimumOn = ctl(sheet, kOptimizeBox)->isEnabled();
            after = pidRows(list);
            click(sheet, kSheetOk);
        }));
        QCOMPARE(before, all);
        QVERIFY(!listOn && !minimumOn);
        QStringList minimum = all;
        minimum.last() = QStringLiteral("1FFF NULL [ ]");
        QCOMPARE(after, minimum);
        const tavrel::Settings& s = w.state().settings;
        QCOMPARE(s.selectPid, 0);
        QCOMPARE(s.optimize, 1);
        QCOMPARE(s.rewriteTc, 1);
        QCOMPARE(w.state().pidList.entries.back().selected, 0);
        QCOMPARE(w.state().pidList.entries.front().selected, 1);

        // Another input: the list starts empty. A file that is no transport
        // stream: the engine's message, then the page's, and an empty view.
        const QString noise = m_dir.filePath(QStringLiteral("noise.bin"));
        QVERIFY(QFile::copy(QStringLiteral(TAVREL_TEST_DATA "/random_bytes.bin"), noise));
        ctl<QLineEdit>(&w, kInputEdit)->setText(noise);
        QVERIFY(withSheet(w, [&](TreePropertySheet* sheet) {
            showPage(sheet, kClippingPage);
            auto* list = ctl<QTreeWidget>(sheet, kPidListView);
            before = pidRows(list);
            sink.expect(QStringLiteral("Not MPEG2 Transport Stream"));
            sink.expect(u8("ＰＩＤ情報の取得に失敗しました"));
            click(sheet, kGetPid);
            after = pidRows(list);
            click(sheet, kSheetOk);
        }));
        QVERIFY(sink.done());
        QVERIFY(before.isEmpty() && after.isEmpty());
        QVERIFY(w.state().pidList.empty());
        QCOMPARE(QString::fromStdString(w.state().pidListSource), noise);
        QCOMPARE(w.state().currentPacket, 0);
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
        QSettings saved(ini, QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("DATA/OPTIMIZE")).toString(), QStringLiteral("1"));
        QCOMPARE(saved.value(QStringLiteral("DATA/REWRITE_TC")).toString(), QStringLiteral("1"));
    }

    // Options set through the pages, two clips marked and cut: the output is
    // the command-line tool's for the same options, byte for byte.
    void cutFollowsThePages() {
        const QString ini = newIni(QStringLiteral("cut.ini"), "");
        ScriptSink sink;
        MainWindow w(ini);
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.openRecording(m_recording);
        QTRY_VERIFY(ctl(&w, kSlider)->isEnabled());

        QVERIFY(withSheet(w, [&](TreePropertySheet* sheet) {
            type(sheet, kMarginFrontEdit, QStringLiteral("1"));
            click(sheet, kBothMargins);
            showPage(sheet, kClippingPage);
            click(sheet, kRewriteTcBox);
            click(sheet, kAddAcpBox);
            click(sheet, kSelectPidBox);
            click(sheet, kGetPid);
            // The audio off with the keyboard.
            auto* list = ctl<QTreeWidget>(sheet, kPidListView);
            list->setFocus();
            list->setCurrentItem(list->topLevelItem(4));
            QTest::keyClick(list, Qt::Key_Space);
            QCOMPARE(list->topLevelItem(4)->checkState(0), Qt::Unchecked);
            click(sheet, kSheetOk);
        }));
        QCOMPARE(ctl<QLabel>(&w, kMarginLabel)->text(), QStringLiteral("1"));

        auto* slider = ctl<QSlider>(&w, kSlider);
        for (auto [in, out] : {std::pair{1, 2}, std::pair{4, 5}}) {
            slider->setValue(in);
            click(&w, kInMark);
            slider->setValue(out);
            click(&w, kOutMark);
            click(&w, kAddClip);
        }
        const QString out = m_dir.filePath(QStringLiteral("pages.ts"));
        ctl<QLineEdit>(&w, kOutputEdit)->setText(out);
        click(&w, kClipping);
        QTRY_VERIFY(QFile::exists(out) && ctl(&w, kClipping)->isEnabled());

        const QString cliOut = m_dir.filePath(QStringLiteral("cli.ts"));
        QProcess cli;
        cli.start(QStringLiteral(TAVREL_CLI),
                  {"cut", "-o", cliOut, "--rewrite-tc", "--add-acp", "--margin", "1,1", "--select-pids",
                   "0000,1000,0100,1FFF", m_recording + ":1:2", m_recording + ":4:5"});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        const QByteArray written = readAll(out);
        QVERIFY(written.size() > 0);
        QVERIFY(written == readAll(cliOut));
        // The selection is in force: video and tables only, though the
        // recording carries audio all along.
        QSet<int> pids;
        for (qsizetype at = 0; at + 188 <= written.size(); at += 188)
            pids.insert((uchar(written[at + 1]) & 0x1F) << 8 | uchar(written[at + 2]));
        QCOMPARE(pids, (QSet<int>{0x0000, 0x1000, 0x0100}));
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
        QSettings saved(ini, QSettings::IniFormat);
        for (const char* key :
             {"DATA/SELECT_PID", "DATA/ADD_ACP", "DATA/REWRITE_TC", "DATA/PACMARGIN", "DATA/PACMARGINBACK"})
            QCOMPARE(saved.value(QString::fromLatin1(key)).toString(), QStringLiteral("1"));
    }

    // One look: every dialog on the pattern with white texts, the step
    // buttons on the small artwork and all others on the large, disabled
    // captions readable.
    void oneLook() {
        ScriptSink sink;
        MainWindow w(newIni(QStringLiteral("look.ini"), ""));
        w.setMessageSink(&sink);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const tavrelcut::Skin& skin = tavrelcut::Skin::instance();
        const QList<int> small = {kJumpIn,    kJumpOut,    kInMark, kOutMark,    kBack1,         kForward1,
                                  kAddClip,   kBack60,     kBack30, kBackCustom, kForwardCustom, kForward30,
                                  kForward60, kDeleteClip, kClipUp, kClipDown};
        for (QPushButton* b : w.findChildren<QPushButton*>()) {
            auto* art = qobject_cast<tavrelcut::BitmapButton*>(b);
            QVERIFY2(art, qPrintable(b->text()));
            const bool isSmall = small.contains(b->objectName().toInt());
            QCOMPARE(art->size(), isSmall ? skin.smallButtonSize() : skin.largeButtonSize());
        }
        // The navigation is off before a recording is indexed.
        for (int id : {kBack60, kOption}) {
            auto* b = ctl<QPushButton>(&w, id);
            b->setEnabled(false);
            QVERIFY2(disabledCaptionContrast(b) >= 3.0, qPrintable(b->text()));
            b->setEnabled(true);
        }
        QVERIFY(onPattern(&w));

        bool sheetOnPattern = false, pageWhite = false, captionWhite = false;
        QVERIFY(withSheet(w, [&](TreePropertySheet* sheet) {
            sheetOnPattern = onPattern(sheet);
            showPage(sheet, kStatusPage);
            pageWhite = sheet->activePage()->findChild<QLabel*>()->palette().color(QPalette::WindowText) == Qt::white;
            captionWhite =
                sheet->findChild<QLabel*>(QStringLiteral("Page Frame"))->palette().color(QPalette::WindowText) ==
                Qt::white;
        }));
        QVERIFY(sheetOnPattern && pageWhite && captionWhite);

        tavrelcut::ErrorInfoWindow errors(nullptr);
        tavrelcut::FileInfoDialog info(nullptr, QStringLiteral("text"));
        tavrelcut::AboutBox about(nullptr);
        for (QWidget* d : std::initializer_list<QWidget*>{&errors, &info, &about}) {
            d->show();
            QVERIFY(QTest::qWaitForWindowExposed(d));
            QVERIFY2(onPattern(d), qPrintable(d->windowTitle()));
            for (QPushButton* b : d->findChildren<QPushButton*>())
                QCOMPARE(qobject_cast<tavrelcut::BitmapButton*>(b)->size(), skin.largeButtonSize());
            d->hide();
        }
        QCOMPARE(about.findChild<QLabel*>()->palette().color(QPalette::WindowText), QColor(Qt::white));

        // The Input chooser: Qt's own dialog on the pattern, white labels.
        bool chooserOnPattern = false;
        QStringList labelColours;
        whenShown<QFileDialog>([&](QFileDialog* d) {
            chooserOnPattern = onPattern(d);
            for (QLabel* l : d->findChildren<QLabel*>())
                if (l->isVisible() && !l->text().isEmpty())
                    labelColours << l->palette().color(QPalette::WindowText).name();
            d->reject();
        });
        click(&w, kInputButton);
        QVERIFY(chooserOnPattern);
        QVERIFY(!labelColours.isEmpty());
        QCOMPARE(labelColours.count(QStringLiteral("#ffffff")), labelColours.size());
        QVERIFY2(sink.unexpected.isEmpty(), qPrintable(sink.unexpected.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(OptionsTest)
#include "test_options.moc"
