// "Option" as a user meets it: the sheet opened from the main window, its
// pages driven by clicks and keys, what OK and Cancel leave behind, the cut
// that follows the pages, and the one look of every window.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <utility>

#include "about_box.h"
#include "bitmap_button.h"
#include "control_ids.h"
#include "error_info_window.h"
#include "file_info_dialog.h"
#include "main_window.h"
#include "message_box.h"
#include "skin.h"
#include "tree_property_sheet.h"

using namespace tavrelcut::ids;
using tavrelcut::MainWindow;
using tavrelcut::TreePropertySheet;

namespace {

QString u8(const char* s) { return QString::fromUtf8(s); }

// Records every message; the window's messages are all "error" with OK.
class Messages : public tavrelcut::MessageSink {
public:
    int ask(QWidget*, const QString& caption, const QString& text, int kind) override {
        seen << (caption == QStringLiteral("error") && kind == 0 ? text : caption + QStringLiteral("? ") + text);
        return 0;
    }
    QStringList take() { return std::exchange(seen, {}); }
    QStringList seen;
};

// Runs act on the modal window of type T once it is up (it runs in an event
// loop of its own); gives up after three seconds.
template <class T>
void whenShown(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act = std::move(act)] {
        auto* shown = qobject_cast<T*>(QApplication::activeModalWidget());
        if ((shown && shown->isVisible()) || ++*tries > 300) {
            timer->stop();
            timer->deleteLater();
            if (shown) act(shown);
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

// Replaces an edit's text from the keyboard.
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

// The edit with the sheet's focus and its whole text selected.
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

// A path put into a chooser's name field and taken with Enter.
void choose(QFileDialog* d, const QString& path) {
    auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (d->fileMode() == QFileDialog::Directory) {
        // Return on a typed folder may open it instead of choosing it,
        // depending on how far the dialog has listed its folder: the
        // folder it shows, with nothing selected in it, is chosen.
        d->setDirectory(path);
        for (auto* view : d->findChildren<QAbstractItemView*>()) view->clearSelection();
        name->clear();
        static_cast<QDialog*>(d)->accept();
    } else {
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
    }
    if (d->isVisible()) d->reject();
}

// The PID list as "PID TYPE [x]" rows joined by commas.
QString pidRows(QWidget* sheet) {
    auto* list = ctl<QTreeWidget>(sheet, kPidListView);
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        rows << item->text(0) + QLatin1Char(' ') + item->text(1) + (item->checkState(0) ? " [x]" : " [ ]");
    }
    return rows.join(QLatin1Char(','));
}

QString ini(const QString& path, const QStringList& keys) {
    QSettings s(path, QSettings::IniFormat);
    QStringList values;
    for (const QString& k : keys) values << s.value(k).toString();
    return values.join(QLatin1Char(' '));
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

// How far apart the grey levels of a disabled button's caption (180) and of
// the commonest colour of its face are.
int disabledCaptionGap(QPushButton* b) {
    const QImage shot = b->grab().toImage();
    QHash<QRgb, int> counts;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) ++counts[shot.pixel(x, y)];
    const QList<int> n = counts.values();
    return std::abs(180 - qGray(counts.key(*std::max_element(n.begin(), n.end()))));
}

}  // namespace

class OptionsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_recording;
    Messages m_messages;

    QString file(const QString& name, const QByteArray& text) {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size()) qFatal("no file");
        return f.fileName();
    }
    std::unique_ptr<MainWindow> window(const QString& iniPath, bool indexed = false) {
        auto w = std::make_unique<MainWindow>(iniPath);
        w->setMessageSink(&m_messages);
        w->show();
        if (indexed) w->openRecording(m_recording);
        if (!QTest::qWaitFor([&] { return !indexed || ctl(w.get(), kSlider)->isEnabled(); }, 30000)) qFatal("no GOPs");
        return w;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_recording = file(QStringLiteral("rec.ts"), readAll(QStringLiteral(TAVREL_TEST_DATA "/hd_1080i_aac.ts")));
        file(QStringLiteral("qxinput.txt"), "");  // no first-start message of the input list
    }
    void cleanup() { QCOMPARE(m_messages.take(), QStringList{}); }

    void captionPlaces_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("nodes");
        QTest::addColumn<QString>("page");
        QTest::newRow("plain") << "Edit" << QStringList{} << "Edit";
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
        QCOMPARE(tavrelcut::placeOfCaption(caption), (tavrelcut::PagePlace{nodes, page}));
    }

    // Pages under one node "A" made once; a click on it shows its first page.
    void sheetTree() {
        TreePropertySheet sheet(QStringLiteral("T"), {}, [](const QString&, const QString&, int) { return 0; });
        auto* b = new tavrelcut::PropertyPage(QStringLiteral("A::B"));
        auto* d = new tavrelcut::PropertyPage(QStringLiteral("D"));
        for (auto* p : {b, new tavrelcut::PropertyPage(QStringLiteral("A::C")), d}) sheet.addPage(p);
        sheet.show();
        QTreeWidgetItem* a = sheet.tree()->topLevelItem(0);
        QCOMPARE(sheet.tree()->topLevelItemCount(), 2);
        QCOMPARE(a->text(0) + a->child(0)->text(0) + a->child(1)->text(0), QStringLiteral("ABC"));
        sheet.setActivePage(d);
        QTest::mouseClick(sheet.tree()->viewport(), Qt::LeftButton, {}, sheet.tree()->visualItemRect(a).center());
        QCOMPARE(sheet.activePage(), b);
        QCOMPARE(sheet.findChild<QLabel*>(QStringLiteral("Page Frame"))->text(), QStringLiteral("B"));
    }

    // "Edit": digits only, both margins out of range in one message with the
    // back one focused, an empty edit, "both"; OK shows the margins, repeats
    // "←" and "→" at once and switches the picture window to the custom width.
    void editPage() {
        const QString path = file(QStringLiteral("edit.ini"), "[WND]\nNATIVE=1\nOUT_WND=1\n");
        auto w = window(path);
        QStringList shown;
        QVERIFY(withSheet(*w, [&](TreePropertySheet* sheet) {
            for (int i = 0; i < 3; ++i) shown << sheet->tree()->topLevelItem(i)->text(0);
            shown << sheet->windowTitle() << sheet->activePage()->objectName()
                  << QString::number(sheet->tree()->width());
            for (int id : {kSheetOk, kSheetCancel})
                shown << QStringLiteral("%1,%2").arg(ctl(sheet, id)->x()).arg(ctl(sheet, id)->y());
            type(sheet, kMarginFrontEdit, QStringLiteral("1a0b1"));
            type(sheet, kMarginBackEdit, QStringLiteral("200"));
            click(sheet, kSheetOk);
            QVERIFY(focusedAndSelected(sheet, kMarginBackEdit));
            shown << ctl<QLineEdit>(sheet, kMarginFrontEdit)->text();
            type(sheet, kMoveCountEdit, QString());
            click(sheet, kSheetOk);
            QCOMPARE(sheet->focusWidget(), ctl(sheet, kMoveCountEdit));
            type(sheet, kMarginFrontEdit, QStringLiteral("7"));
            click(sheet, kBothMargins);
            type(sheet, kMoveCountEdit, QStringLiteral("30"));
            for (int id : {kRepeatBox, kSliderFocusBox, kSheetOk}) click(sheet, id);
        }));
        QCOMPARE(shown,
                 (QStringList{"Edit", "Clipping", "Status", "Option", "193", "150", "300,427", "380,427", "101"}));
        QCOMPARE(m_messages.take(),
                 (QStringList{u8("0～100 の範囲で入力してください"), u8("整数を入力してください。")}));
        QCOMPARE(ctl<QLabel>(w.get(), kMarginLabel)->text() + ctl<QLabel>(w.get(), kMarginBackLabel)->text(), "77");
        QVERIFY(ctl<tavrelcut::StepButton>(w.get(), kBack1)->autoStep());
        QVERIFY(ctl<tavrelcut::StepButton>(w.get(), kForward1)->autoStep());
        QTRY_COMPARE(w->state().settings.native, 0);
        QCOMPARE(w->pictureRecord().displayWidth, 640);
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(ini(path, {"DATA/PACMARGIN", "DATA/PACMARGINBACK", "DATA/CTGOPMV", "DATA/REPEAT", "DATA/SET_FC_SLIDER",
                            "WND/NATIVE"}),
                 QStringLiteral("7 7 30 1 0 0"));
    }

    // "Status": the width's range, then the sound and the folder in that
    // order, the enabling rules, both choosers and the refresh after them.
    void statusPage() {
        const QString folder = m_dir.filePath(QStringLiteral("gops"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = file(QStringLiteral("status.ini"), "[FILE]\nGOPF=" + folder.toUtf8() + "\n");
        auto w = window(path);
        QStringList seen;
        QSize folderSize;
        QVERIFY(withSheet(*w, [&](TreePropertySheet* sheet) {
            showPage(sheet, kStatusPage);
            QVERIFY(!ctl(sheet, kSoundPathEdit)->isEnabled() && !ctl(sheet, kGopFolderButton)->isEnabled());
            for (const char* refused : {"239", "5001"}) {
                type(sheet, kCSizeEdit, QString::fromLatin1(refused));
                click(sheet, kSheetOk);
                QVERIFY(focusedAndSelected(sheet, kCSizeEdit));
            }
            type(sheet, kCSizeEdit, QStringLiteral("5000"));  // passes: the sound is next
            click(sheet, kSoundBox);
            QVERIFY(ctl(sheet, kSoundPathEdit)->isEnabled() && ctl(sheet, kSoundPathButton)->isEnabled());
            click(sheet, kSheetOk);
            QCOMPARE(sheet->focusWidget(), ctl(sheet, kSoundPathEdit));
            type(sheet, kCSizeEdit, QStringLiteral("999"));  // replaced by the stored 640 after a chooser
            whenShown<QFileDialog>([&](QFileDialog* d) {
                seen << d->windowTitle();
                choose(d, m_recording);
            });
            click(sheet, kSoundPathButton);
            seen << ctl<QLineEdit>(sheet, kSoundPathEdit)->text() << ctl<QLineEdit>(sheet, kCSizeEdit)->text();
            click(sheet, kSelGopBox);
            type(sheet, kGopFolderEdit, m_dir.filePath(QStringLiteral("missing")));
            click(sheet, kSheetOk);
            QVERIFY(focusedAndSelected(sheet, kGopFolderEdit));
            whenShown<QFileDialog>([&](QFileDialog* d) {
                folderSize = d->size();
                seen << d->windowTitle() << d->directory().absolutePath() << d->selectedFiles().value(0);
                choose(d, m_dir.path());
            });
            click(sheet, kGopFolderButton);
            type(sheet, kCSizeEdit, QStringLiteral("240"));
            for (int id : {kTimeVoptBox, kOutTimeBox, kSheetOk}) click(sheet, id);
        }));
        QCOMPARE(m_messages.take(),
                 (QStringList{u8("240～5000 の範囲で入力してください"), u8("240～5000 の範囲で入力してください"),
                              u8("指定ファイルが存在しません。"), u8("指定パスが存在しません。")}));
        // The folder chooser starts with the stored folder selected in its parent.
        QCOMPARE(seen, (QStringList{u8("ファイル選択"), m_recording, "640", u8("フォルダを選択して下さい"),
                                    m_dir.path(), folder}));
        // Qt's folder chooser as it comes is 50 x 100 pixels smaller.
        QFileDialog plain;
        plain.setFont(w->font());
        plain.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
        plain.setFileMode(QFileDialog::Directory);
        plain.show();
        QCOMPARE(folderSize, plain.size() + QSize(50, 100));
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(ini(path, {"WND/CSIZE", "FILE/SOUND", "FILE/SELGOP", "FILE/OUTTIME", "DATA/TIME_VOPT"}),
                 QStringLiteral("240 1 1 1 0"));
        QCOMPARE(ini(path, {"FILE/SOUND_PATH", "FILE/GOPF"}), m_recording + QLatin1Char(' ') + m_dir.path());
    }

    // "Clipping": "Get PID" from the GOP under the slider, the list kept by
    // Cancel, the enabling rules with states kept, the flags written on OK,
    // another input starting empty and a failed reading.
    void clippingPage() {
        const QString path = file(QStringLiteral("clip.ini"), "");
        auto w = window(path, true);
        ctl<QSlider>(w.get(), kSlider)->setValue(2);
        const QString all =
            "0000 PAT [x],1000 PMT [x],0100 PCR PID [x],0100 MPEG-2 Video [x],"
            "0101 MPEG-2 AAC [x],1FFF NULL [x]";
        QString minimum = all;
        minimum.replace("NULL [x]", "NULL [ ]");
        QStringList seen;
        auto clipping = [&](std::initializer_list<int> clicks) {
            return withSheet(*w, [&](TreePropertySheet* sheet) {
                showPage(sheet, kClippingPage);
                seen << pidRows(sheet) << ctl<QLabel>(sheet, kPidInputLabel)->text();
                for (int id : clicks) click(sheet, id);
                seen << pidRows(sheet)
                     << QStringLiteral("%1%2")
                            .arg(int(ctl(sheet, kPidListView)->isEnabled()))
                            .arg(int(ctl(sheet, kOptimizeBox)->isEnabled()));
                if (sheet->isVisible()) click(sheet, kSheetOk);
            });
        };
        QVERIFY(clipping({kGetPid, kRewriteTcBox, kSheetCancel}));
        QCOMPARE(seen, (QStringList{"", m_recording, all, "00"}));
        QCOMPARE(w->state().currentPacket, w->state().gopList[2].packet);
        QCOMPARE(int(w->state().pidList.count()), 6);  // kept by Cancel, nothing else
        QCOMPARE(w->state().settings.rewriteTc, 0);

        seen.clear();
        QVERIFY(clipping({kSelectPidBox, kOptimizeBox, kRewriteTcBox, kSelectPidBox}));
        QCOMPARE(seen, (QStringList{all, m_recording, minimum, "00"}));
        const tavrel::Settings& s = w->state().settings;
        QCOMPARE(QStringLiteral("%1%2%3").arg(s.selectPid).arg(s.optimize).arg(s.rewriteTc), QStringLiteral("011"));
        QCOMPARE(w->state().pidList.entries.back().selected, 0);

        const QString noise = file(QStringLiteral("noise.bin"), readAll(TAVREL_TEST_DATA "/random_bytes.bin"));
        ctl<QLineEdit>(w.get(), kInputEdit)->setText(noise);
        seen.clear();
        QVERIFY(clipping({kGetPid}));
        QCOMPARE(seen, (QStringList{"", noise, "", "00"}));
        QCOMPARE(m_messages.take(), (QStringList{"Not MPEG2 Transport Stream", u8("ＰＩＤ情報の取得に失敗しました")}));
        QVERIFY(w->state().pidList.empty());
        QCOMPARE(w->state().currentPacket, 0);
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(ini(path, {"DATA/OPTIMIZE", "DATA/REWRITE_TC", "DATA/SELECT_PID"}), QStringLiteral("1 1 0"));
    }

    // Options set through the pages, two clips, "Clipping": byte for byte
    // what tavrelcut-cli cut writes with the same options.
    void cutFollowsThePages() {
        const QString path = file(QStringLiteral("cut.ini"), "");
        auto w = window(path, true);
        QVERIFY(withSheet(*w, [&](TreePropertySheet* sheet) {
            type(sheet, kMarginFrontEdit, QStringLiteral("1"));
            click(sheet, kBothMargins);
            showPage(sheet, kClippingPage);
            for (int id : {kRewriteTcBox, kAddAcpBox, kSelectPidBox, kGetPid}) click(sheet, id);
            auto* list = ctl<QTreeWidget>(sheet, kPidListView);
            list->setFocus();
            list->setCurrentItem(list->topLevelItem(4));  // the audio off with Space
            QTest::keyClick(list, Qt::Key_Space);
            click(sheet, kSheetOk);
        }));
        auto* slider = ctl<QSlider>(w.get(), kSlider);
        for (auto [in, out] : {std::pair{1, 2}, std::pair{4, 5}}) {
            slider->setValue(in);
            click(w.get(), kInMark);
            slider->setValue(out);
            click(w.get(), kOutMark);
            click(w.get(), kAddClip);
        }
        const QString out = m_dir.filePath(QStringLiteral("pages.ts")), cliOut = m_dir.filePath("cli.ts");
        ctl<QLineEdit>(w.get(), kOutputEdit)->setText(out);
        click(w.get(), kClipping);
        QTRY_VERIFY(QFile::exists(out) && ctl(w.get(), kClipping)->isEnabled());
        QProcess cli;
        cli.start(TAVREL_CLI, {"cut", "-o", cliOut, "--rewrite-tc", "--add-acp", "--margin", "1,1", "--select-pids",
                               "0000,1000,0100,1FFF", m_recording + ":1:2", m_recording + ":4:5"});
        QVERIFY(cli.waitForFinished(60000) && cli.exitCode() == 0);
        const QByteArray written = readAll(out);
        QVERIFY(!written.isEmpty() && written == readAll(cliOut));
        // Video and tables only, though the recording carries audio all along.
        QSet<int> pids;
        for (qsizetype at = 0; at + 188 <= written.size(); at += 188)
            pids.insert((uchar(written[at + 1]) & 0x1F) << 8 | uchar(written[at + 2]));
        QCOMPARE(pids, (QSet<int>{0x0000, 0x1000, 0x0100}));
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(ini(path, {"DATA/SELECT_PID", "DATA/ADD_ACP", "DATA/PACMARGIN", "DATA/PACMARGINBACK"}), "1 1 1 1");
    }

    // One look: the step buttons on the small artwork, all others on the
    // large, disabled captions readable, every dialog on the pattern.
    void oneLook() {
        auto w = window(file(QStringLiteral("look.ini"), ""));
        const tavrelcut::Skin& skin = tavrelcut::Skin::instance();
        const QList<int> small = {kJumpIn,    kJumpOut,    kInMark, kOutMark,    kBack1,         kForward1,
                                  kAddClip,   kBack60,     kBack30, kBackCustom, kForwardCustom, kForward30,
                                  kForward60, kDeleteClip, kClipUp, kClipDown};
        for (QPushButton* b : w->findChildren<QPushButton*>()) {
            QVERIFY2(qobject_cast<tavrelcut::BitmapButton*>(b), qPrintable(b->text()));
            QCOMPARE(b->size(),
                     small.contains(b->objectName().toInt()) ? skin.smallButtonSize() : skin.largeButtonSize());
        }
        QVERIFY(!ctl(w.get(), kBack60)->isEnabled());  // nothing indexed yet
        QVERIFY(disabledCaptionGap(ctl<QPushButton>(w.get(), kBack60)) >= 80);
        QStringList skinned;
        QVERIFY(withSheet(*w, [&](TreePropertySheet* sheet) {
            QVERIFY(disabledCaptionGap(ctl<QPushButton>(w.get(), kOption)) >= 80);
            skinned << QString::number(onPattern(sheet))
                    << sheet->activePage()->findChild<QLabel*>()->palette().color(QPalette::WindowText).name();
        }));
        tavrelcut::ErrorInfoWindow errors(nullptr);
        tavrelcut::FileInfoDialog info(nullptr, QStringLiteral("text"));
        tavrelcut::AboutBox about(nullptr);
        for (QWidget* d : std::initializer_list<QWidget*>{&errors, &info, &about}) {
            d->show();
            QVERIFY(QTest::qWaitForWindowExposed(d));
            skinned << QString::number(onPattern(d));
        }
        // The Input chooser: Qt's own dialog on the pattern, its labels white.
        whenShown<QFileDialog>([&](QFileDialog* d) {
            skinned << QString::number(onPattern(d))
                    << d->findChild<QLabel*>()->palette().color(QPalette::WindowText).name();
            d->reject();
        });
        click(w.get(), kInputButton);
        skinned.removeDuplicates();
        QCOMPARE(skinned, (QStringList{"1", "#ffffff"}));
    }
};

QTEST_MAIN(OptionsTest)
#include "test_options.moc"
