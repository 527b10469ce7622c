// The skinned controls driven as a user drives them: clicks, held presses,
// keys and drops, on the offscreen platform.
#include <QAccessible>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include "bitmap_button.h"
#include "bitmap_check_box.h"
#include "drop_edit.h"
#include "skin.h"
#include "skin_header.h"
#include "skin_progress_bar.h"
#include "skin_slider.h"

using namespace tavrelcut;

namespace {

int countPixels(const QImage& img, QRgb colour) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xffffff) == (colour & 0xffffff)) ++n;
    return n;
}

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT
private slots:
    void buttonShapeLeavesOutKeyColour_data();
    void buttonShapeLeavesOutKeyColour();
    void disabledCaptionIsGrey();
    void stepOncePerPressWithoutRepeat();
    void repeatSchedule_data();
    void repeatSchedule();
    void heldPressRepeatsUntilRelease();
    void leavingOrDisablingEndsRepeat();
    void dropTakesFirstFile();
    void checkBoxTogglesOnReleaseInside();
    void sliderSelectionAndThumb();
    void progressFillsInProportion();
    void headerItemEdges();
};

void ControlsTest::buttonShapeLeavesOutKeyColour_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("large") << int(BitmapButton::Kind::Large);
    QTest::newRow("small") << int(BitmapButton::Kind::Small);
}

void ControlsTest::buttonShapeLeavesOutKeyColour() {
    QFETCH(int, kind);
    BitmapButton b("Input", BitmapButton::Kind(kind));
    const QImage art = b.normalPixmap().toImage();
    QCOMPARE(b.size(), art.size());
    // Screen readers get the caption.
    QAccessibleInterface* acc = QAccessible::queryAccessibleInterface(&b);
    QVERIFY(acc);
    QCOMPARE(acc->text(QAccessible::Name), QStringLiteral("Input"));
    QCOMPARE(acc->role(), QAccessible::Button);

    // The artwork really has key-coloured corners and an opaque middle.
    const QRgb key = Skin::keyColour().rgb();
    QCOMPARE(art.pixel(0, 0), key);
    QVERIFY(art.pixel(art.width() / 2, art.height() / 2) != key);

    const QRegion shape = b.mask();
    int outside = 0;
    for (int y = 0; y < art.height(); ++y) {
        for (int x = 0; x < art.width(); ++x) {
            const bool isKey = art.pixel(x, y) == key;
            outside += isKey;
            if (shape.contains(QPoint(x, y)) == isKey)
                QFAIL(qPrintable(QString("pixel %1,%2 key=%3").arg(x).arg(y).arg(isKey)));
        }
    }
    QVERIFY(outside > 4);

    // The mouse goes by the shape too: the key-coloured corner is not the
    // button. (QTest takes (0,0) for "the centre", hence (1,0).)
    QCOMPARE(art.pixel(1, 0), key);
    QSignalSpy clicked(&b, &QPushButton::clicked);
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(1, 0));
    QCOMPARE(clicked.count(), 0);
    QTest::mouseClick(&b, Qt::LeftButton, {}, b.rect().center());
    QCOMPARE(clicked.count(), 1);
}

void ControlsTest::disabledCaptionIsGrey() {
    BitmapButton b("WWW");
    const QRgb grey = qRgb(180, 180, 180);
    const QRgb black = qRgb(0, 0, 0);
    const QImage enabled = b.grab().toImage();
    QVERIFY(countPixels(enabled, black) > 0);
    QCOMPARE(countPixels(enabled, grey), 0);

    b.setEnabled(false);
    const QImage disabled = b.grab().toImage();
    QVERIFY(countPixels(disabled, grey) > 0);
    QCOMPARE(countPixels(disabled, black), 0);
    // Nothing of the key colour shows, whatever the window system does with the mask.
    QCOMPARE(countPixels(disabled, Skin::keyColour().rgb()), 0);
}

void ControlsTest::stepOncePerPressWithoutRepeat() {
    StepButton b(1007, QStringLiteral("→"));
    QSignalSpy steps(&b, &StepButton::step);
    QSignalSpy clicked(&b, &QPushButton::clicked);

    QTest::mousePress(&b, Qt::LeftButton);
    QCOMPARE(steps.count(), 1);  // on the press, not the release
    QCOMPARE(steps.at(0).at(0).toInt(), 1007);
    QVERIFY(b.isDown());
    QTest::qWait(300);  // held, but no repeat
    QTest::mouseRelease(&b, Qt::LeftButton);
    QCOMPARE(steps.count(), 1);
    QVERIFY(!b.isDown());
    QCOMPARE(clicked.count(), 0);

    // A double click is two presses, however the platform orders the events.
    QTest::mouseClick(&b, Qt::LeftButton);
    QTest::mouseDClick(&b, Qt::LeftButton);
    QTest::mouseRelease(&b, Qt::LeftButton);
    QCOMPARE(steps.count(), 3);
    QTest::mouseClick(&b, Qt::LeftButton);
    QTest::mousePress(&b, Qt::LeftButton);
    QTest::mouseDClick(&b, Qt::LeftButton);
    QTest::mouseRelease(&b, Qt::LeftButton);
    QCOMPARE(steps.count(), 5);

    QTest::mouseClick(&b, Qt::RightButton);
    QCOMPARE(steps.count(), 5);
    QCOMPARE(clicked.count(), 0);

    // The keyboard goes through clicked() only.
    b.setFocus();
    QTest::keyClick(&b, Qt::Key_Space);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(steps.count(), 5);
}

void ControlsTest::repeatSchedule_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("wait");
    QTest::newRow("1st") << 1 << 125;
    QTest::newRow("10th") << 10 << 125;
    QTest::newRow("11th") << 11 << 100;
    QTest::newRow("20th") << 20 << 100;
    QTest::newRow("21st") << 21 << 50;
    QTest::newRow("30th") << 30 << 50;
    QTest::newRow("31st") << 31 << 20;
    QTest::newRow("1000th") << 1000 << 20;
}

void ControlsTest::repeatSchedule() {
    QFETCH(int, n);
    QFETCH(int, wait);
    QCOMPARE(StepButton::nextInterval(n), wait);
}

void ControlsTest::heldPressRepeatsUntilRelease() {
    StepButton b(1006, QStringLiteral("←"));
    b.setAutoStep(true);
    QSignalSpy clicked(&b, &QPushButton::clicked);
    QElapsedTimer clock;
    QList<qint64> at;       // ms from the press to each step
    QList<int> waitsAfter;  // the wait armed when each step was handed out
    connect(&b, &StepButton::step, &b, [&](int id) {
        QCOMPARE(id, 1006);
        at << clock.elapsed();
        waitsAfter << b.pendingInterval();
    });

    clock.start();
    QTest::mousePress(&b, Qt::LeftButton);
    QCOMPARE(at.size(), 0);  // nothing on the press itself
    QCOMPARE(b.pendingInterval(), 125);
    QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 32, 15000);
    QTest::mouseRelease(&b, Qt::LeftButton);
    const int released = at.size();
    QCOMPARE(b.pendingInterval(), 0);

    // Each step arms the wait of the next one: 125 ms up to the 10th, then
    // faster after the 10th, 20th and 30th.
    for (int k = 1; k <= 31; ++k) QCOMPARE(waitsAfter[k - 1], StepButton::nextInterval(k + 1));
    // Lower bounds only: timers may be late on a busy machine, never early.
    const int slack = 3;
    QVERIFY2(at[0] >= 125 - slack, qPrintable(QString::number(at[0])));
    QVERIFY(at[9] >= 10 * 125 - slack);
    QVERIFY(at[19] >= 10 * 125 + 10 * 100 - slack);
    QVERIFY(at[29] >= 10 * 125 + 10 * 100 + 10 * 50 - slack);

    QTest::qWait(250);
    QCOMPARE(at.size(), released);
    QVERIFY(!b.isDown());
    QCOMPARE(clicked.count(), 0);
}

void ControlsTest::leavingOrDisablingEndsRepeat() {
    QWidget window;
    StepButton b(1007, QStringLiteral("→"), &window);
    b.move(20, 20);
    b.setAutoStep(true);
    QSignalSpy steps(&b, &StepButton::step);
    QSignalSpy clicked(&b, &QPushButton::clicked);

    QTest::mousePress(&b, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(steps.count() >= 1, 5000);
    QTest::mouseMove(&b, QPoint(b.width() + 10, b.height() / 2));
    const int stepped = steps.count();
    QVERIFY(!b.isDown());
    QCOMPARE(b.pendingInterval(), 0);
    QTest::mouseMove(&b, b.rect().center());  // coming back does not resume
    QTest::qWait(400);
    QTest::mouseRelease(&b, Qt::LeftButton);
    QCOMPARE(steps.count(), stepped);
    QCOMPARE(clicked.count(), 0);

    // The window system's leave notice ends it the same way.
    QTest::mousePress(&b, Qt::LeftButton);
    QCOMPARE(b.pendingInterval(), 125);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&b, &leave);
    QCOMPARE(b.pendingInterval(), 0);
    QTest::mouseRelease(&b, Qt::LeftButton);

    // So does the owner disabling it (a worker starting) while it is held.
    QTest::mousePress(&b, Qt::LeftButton);
    QCOMPARE(b.pendingInterval(), 125);
    b.setEnabled(false);
    QCOMPARE(b.pendingInterval(), 0);
    QVERIFY(!b.isDown());
    QTest::qWait(300);
    QCOMPARE(steps.count(), stepped);
}

void ControlsTest::dropTakesFirstFile() {
    DropEdit edit;
    edit.setReadOnly(true);  // as the input edit
    edit.setText("/old.ts");
    QSignalSpy dropped(&edit, &DropEdit::fileDropped);

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/rec/first file.ts"), QUrl::fromLocalFile("/rec/second.ts")});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&edit, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&edit, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(edit.text(), QStringLiteral("/rec/first file.ts"));
    QCOMPARE(dropped.count(), 1);

    // A first item that is no local file is refused, even with a file after it.
    QMimeData remote;
    remote.setUrls({QUrl("https://example.org/a.ts"), QUrl::fromLocalFile("/rec/b.ts")});
    QDragEnterEvent enter2(QPoint(5, 5), Qt::CopyAction, &remote, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&edit, &enter2);
    QVERIFY(!enter2.isAccepted());
    QDropEvent drop2(QPointF(5, 5), Qt::CopyAction, &remote, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&edit, &drop2);
    QCOMPARE(edit.text(), QStringLiteral("/rec/first file.ts"));

    // Plain text does not get into a read-only edit.
    QMimeData text;
    text.setText("typed");
    QDropEvent drop3(QPointF(5, 5), Qt::CopyAction, &text, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&edit, &drop3);
    QCOMPARE(edit.text(), QStringLiteral("/rec/first file.ts"));
    QCOMPARE(dropped.count(), 1);
}

void ControlsTest::checkBoxTogglesOnReleaseInside() {
    BitmapCheckBox box("repeat LR boutton");
    box.setBold(true);
    box.resize(box.sizeHint());
    QCOMPARE(QAccessible::queryAccessibleInterface(&box)->text(QAccessible::Name), QStringLiteral("repeat LR boutton"));
    QSignalSpy toggled(&box, &QCheckBox::toggled);
    QSignalSpy clicked(&box, &QCheckBox::clicked);

    const QPoint onText(box.width() - 4, box.height() / 2);
    QTest::mouseClick(&box, Qt::LeftButton, {}, onText);
    QVERIFY(box.isChecked());
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(clicked.count(), 1);

    // Released outside: no change.
    QTest::mousePress(&box, Qt::LeftButton, {}, QPoint(3, box.height() / 2));
    QTest::mouseRelease(&box, Qt::LeftButton, {}, QPoint(box.width() + 20, box.height() / 2));
    QVERIFY(box.isChecked());
    QCOMPARE(toggled.count(), 1);

    box.setFocus();
    QTest::keyClick(&box, Qt::Key_Space);
    QVERIFY(!box.isChecked());
    QCOMPARE(clicked.count(), 2);

    // The glyph follows the state: the checked glyph is drawn while checked.
    const QImage on = Skin::instance().pixmap(Art::CheckOn).toImage();
    box.setChecked(true);
    const QImage shot = box.grab().toImage();
    const int gy = (box.height() - on.height()) / 2;
    const QPoint mid(on.width() / 2, on.height() / 2);
    QCOMPARE(shot.pixel(mid + QPoint(0, gy)), on.pixel(mid));
}

void ControlsTest::sliderSelectionAndThumb() {
    SkinSlider s;
    s.resize(300, s.sizeHint().height());
    s.setRange(0, 100);
    s.setPageStep(10);
    s.setSelection(60, 20);  // either order
    QCOMPARE(s.selectionStart(), 20);
    QCOMPARE(s.selectionEnd(), 60);

    s.setValue(80);
    s.setFocus();
    QTest::keyClick(&s, Qt::Key_Right);
    QCOMPARE(s.value(), 81);
    QTest::keyClick(&s, Qt::Key_PageDown);
    QCOMPARE(s.value(), 71);
    QTest::keyClick(&s, Qt::Key_End);
    QCOMPARE(s.value(), 100);
    QVERIFY(s.hasSelection());
    QCOMPARE(s.selectionStart(), 20);
    QCOMPARE(s.selectionEnd(), 60);

    // The selection ends sit under the thumb at those values.
    const QRect sel = s.selectionRect();
    s.setValue(20);
    QVERIFY(qAbs(s.thumbRect().center().x() - sel.left()) <= 1);
    s.setValue(60);
    QVERIFY(qAbs(s.thumbRect().center().x() - sel.right()) <= 1);
    // ... and are painted with the background pattern.
    const QImage shot = s.grab().toImage();
    const QImage tile = Skin::instance().pixmap(Art::Background).toImage();
    const QPoint inSel((sel.left() + s.thumbRect().left()) / 2, sel.center().y());
    bool isPattern = false;
    for (int y = 0; y < tile.height(); ++y)
        for (int x = 0; x < tile.width(); ++x) isPattern |= shot.pixel(inSel) == tile.pixel(x, y);
    QVERIFY(isPattern);

    // Dragging the drawn thumb moves the value as in any slider.
    s.setValue(0);
    const QPoint grip = s.thumbRect().center();
    QTest::mousePress(&s, Qt::LeftButton, {}, grip);
    QTest::mouseMove(&s, QPoint(s.width() / 2, grip.y()));
    QVERIFY(s.value() > 30 && s.value() < 70);
    QTest::mouseMove(&s, QPoint(s.width() + 50, grip.y()));
    QTest::mouseRelease(&s, Qt::LeftButton, {}, QPoint(s.width() + 50, grip.y()));
    QCOMPARE(s.value(), 100);

    s.setRange(0, 40);  // the selection is kept, drawn up to the end
    QVERIFY(s.hasSelection());
    QVERIFY(qAbs(s.selectionRect().right() - s.thumbRect().center().x()) <= 1);
    s.clearSelection();
    QVERIFY(!s.hasSelection());
    QVERIFY(s.selectionRect().isEmpty());
}

void ControlsTest::progressFillsInProportion() {
    QCOMPARE(SkinProgressBar::filledLength(50, 0, 200, 400), 100);
    QCOMPARE(SkinProgressBar::filledLength(-1, 0, 200, 400), 0);
    QCOMPARE(SkinProgressBar::filledLength(300, 0, 200, 400), 400);
    QCOMPARE(SkinProgressBar::filledLength(5, 5, 5, 400), 0);
    // Byte counts of big recordings: no overflow.
    QCOMPARE(SkinProgressBar::filledLength(INT_MAX / 2, INT_MIN, INT_MAX, 1000), 749);

    SkinProgressBar bar;
    bar.resize(102, 12);
    bar.setRange(0, 4);
    bar.setValue(1);
    QCOMPARE(bar.filledRect(), QRect(1, 1, 25, 10));
    const QImage shot = bar.grab().toImage();
    QVERIFY(shot.pixel(10, 6) != qRgb(255, 255, 255));
    QCOMPARE(shot.pixel(60, 6), qRgb(255, 255, 255));
}

void ControlsTest::headerItemEdges() {
    QTreeWidget tree;
    tree.setColumnCount(2);
    tree.setHeaderLabels({"PID", "Type"});
    applyListSkin(&tree);
    auto* header = qobject_cast<SkinHeader*>(tree.header());
    QVERIFY(header);
    QCOMPARE(header->font().pixelSize(), 14);
    tree.resize(300, 200);
    tree.header()->resizeSection(0, 100);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));

    const QImage shot = header->viewport()->grab().toImage();
    const QImage left = Skin::instance().pixmap(Art::HeaderLeft).toImage();
    const QImage right = Skin::instance().pixmap(Art::HeaderRight).toImage();
    const int y = shot.height() / 2;
    QCOMPARE(shot.pixel(0, y), left.pixel(0, y % left.height()));
    QCOMPARE(shot.pixel(99, y), right.pixel(right.width() - 1, y % right.height()));
    QCOMPARE(shot.pixel(100, y), left.pixel(0, y % left.height()));

    tree.setEnabled(false);
    QCOMPARE(tree.viewport()->palette().color(QPalette::Disabled, QPalette::Base), QColor(235, 235, 255));
}

QTEST_MAIN(ControlsTest)
#include "test_controls.moc"
