#include "main_controls.h"

#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "bitmap_button.h"
#include "control_ids.h"
#include "controls.h"
#include "edit_state.h"
#include "preview.h"

namespace tavrelcut {

using namespace ids;

namespace {

constexpr int kPictureWidth = 270;
constexpr int kPictureHeight = 202;

QString u8(const char* s) { return QString::fromUtf8(s); }

}  // namespace

QPushButton* MainControls::addButton(QWidget* parent, int id, const QString& label) {
    QPushButton* b = makeButton(parent, id, label);
    byId.insert(id, b);
    return b;
}

QLabel* MainControls::addValue(QWidget* parent, int id) {
    QLabel* l = makeValueLabel(parent, id);
    byId.insert(id, l);
    return l;
}

QPushButton* MainControls::button(int id) const { return qobject_cast<QPushButton*>(byId.value(id)); }

void MainControls::setRepeat(bool on) {
    for (int id : {kBack1, kForward1})
        if (auto* b = qobject_cast<StepButton*>(byId.value(id))) b->setAutoStep(on);
}

void MainControls::addStep(QWidget* parent, QHBoxLayout* row, int id, const QString& label, tavrel::Step s,
                           bool repeat) {
    QPushButton* b = makeStepButton(parent, id, label, repeat);
    byId.insert(id, b);
    steps.emplace_back(id, s);
    row->addWidget(b);
}

// A fixed 270 x 202 place for the picture (the picture inside takes the
// size Kivra asks for), the slider, the step row with the marks and "→",
// and the long steps.
QLayout* MainControls::buildPicture(QWidget* window, bool repeat) {
    auto* holder = new QWidget(window);
    holder->setFixedSize(kPictureWidth, kPictureHeight);
    holder->setAutoFillBackground(true);
    QPalette pal = holder->palette();
    pal.setColor(QPalette::Window, emptyPictureColour());
    holder->setPalette(pal);
    picture = new PictureArea(holder, emptyPictureColour());
    tagControl(picture, kPicture);
    picture->setGeometry(0, 0, kPictureWidth, kPictureHeight);
    byId.insert(kPicture, picture);

    slider = makeSlider(window, kSlider);
    byId.insert(kSlider, slider);

    auto* stepRow = new QHBoxLayout;
    stepRow->setSpacing(2);
    addStep(window, stepRow, kJumpIn, QStringLiteral("| <<"), tavrel::Step::JumpIn, false);
    stepRow->addWidget(addButton(window, kInMark, QStringLiteral("| <")));
    addStep(window, stepRow, kBack1, u8("←"), tavrel::Step::Back1, repeat);
    addStep(window, stepRow, kForward1, u8("→"), tavrel::Step::Forward1, repeat);
    stepRow->addWidget(addButton(window, kOutMark, QStringLiteral("> |")));
    addStep(window, stepRow, kJumpOut, QStringLiteral(">> |"), tavrel::Step::JumpOut, false);
    stepRow->addSpacing(8);
    stepRow->addWidget(addButton(window, kAddClip, u8("→")));

    auto* longRow = new QHBoxLayout;
    longRow->setSpacing(2);
    addStep(window, longRow, kBack60, u8("←30"), tavrel::Step::Back60, false);
    addStep(window, longRow, kBack30, u8("←15"), tavrel::Step::Back30, false);
    addStep(window, longRow, kBackCustom, u8("← C"), tavrel::Step::BackCustom, false);
    addStep(window, longRow, kForwardCustom, u8("C →"), tavrel::Step::ForwardCustom, false);
    addStep(window, longRow, kForward30, u8("15→"), tavrel::Step::Forward30, false);
    addStep(window, longRow, kForward60, u8("30→"), tavrel::Step::Forward60, false);

    auto* column = new QVBoxLayout;
    column->addWidget(holder);
    column->addWidget(slider);
    column->addLayout(stepRow);
    column->addLayout(longRow);
    column->addStretch(1);
    return column;
}

// "Time Code": the GOP under the slider, the marks, margins and labels.
QLayout* MainControls::buildTimeCodeBox(QWidget* window) {
    auto* column = new QVBoxLayout;
    auto* getRow = new QHBoxLayout;
    getRow->addWidget(addButton(window, kGetGop, QStringLiteral("Get GOP")));
    reNo = makeCheckBox(window, kReNo, QStringLiteral("ReNo. TimeCode"));
    byId.insert(kReNo, reNo);
    getRow->addWidget(reNo);
    getRow->addStretch(1);
    column->addLayout(getRow);

    auto* box = new QGroupBox(QStringLiteral("Time Code"), window);
    auto* grid = new QGridLayout(box);
    timeLabel = addValue(window, kTimeLabel);
    inLabel = addValue(window, kInLabel);
    outLabel = addValue(window, kOutLabel);
    marginLabel = addValue(window, kMarginLabel);
    marginBackLabel = addValue(window, kMarginBackLabel);
    packetLabel = addValue(window, kPacketLabel);
    pidLabel = addValue(window, kPidLabel);
    grid->addWidget(new QLabel(QStringLiteral("Now Edit"), box), 0, 0);
    grid->addWidget(timeLabel, 0, 1, 1, 3);
    grid->addWidget(inLabel, 1, 0, 1, 2);
    grid->addWidget(outLabel, 1, 2, 1, 2);
    grid->addWidget(marginLabel, 2, 0);
    grid->addWidget(marginBackLabel, 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("Packet"), box), 3, 0);
    grid->addWidget(packetLabel, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("V-PID"), box), 3, 2);
    grid->addWidget(pidLabel, 3, 3);
    column->addWidget(box);
    return column;
}

// The frame of the picture and output switches (and the debug SEEK).
QWidget* MainControls::buildSwitches(QWidget* window, bool debug) {
    auto* frame = new QFrame(window);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* grid = new QGridLayout(frame);
    outWindow = makeCheckBox(window, kOutWindow, QStringLiteral("Out Window"));
    byId.insert(kOutWindow, outWindow);
    QPushButton* view = addButton(window, kView, QStringLiteral("View"));
    view->setEnabled(false);
    out188 = makeCheckBox(window, kOut188, QStringLiteral("188 out"));
    byId.insert(kOut188, out188);
    seekEdit = makeEdit(window, kSeekEdit, false);
    byId.insert(kSeekEdit, seekEdit);
    QPushButton* seek = addButton(window, kSeekButton, QStringLiteral("SEEK"));
    grid->addWidget(outWindow, 0, 0);
    grid->addWidget(view, 0, 1);
    grid->addWidget(out188, 1, 0);
    grid->addWidget(seekEdit, 2, 0);
    grid->addWidget(seek, 2, 1);
    seekEdit->setVisible(debug);
    seek->setVisible(debug);
    return frame;
}

// "Clip List" with its three buttons.
QWidget* MainControls::buildClipBox(QWidget* window) {
    auto* box = new QGroupBox(QStringLiteral("Clip List"), window);
    auto* row = new QHBoxLayout(box);
    clipList = makeListBox(box, kClipList);
    byId.insert(kClipList, clipList);
    row->addWidget(clipList, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(addButton(window, kDeleteClip, u8("×")));
    buttons->addWidget(addButton(window, kClipUp, u8("▲")));
    buttons->addWidget(addButton(window, kClipDown, u8("▼")));
    buttons->addStretch(1);
    row->addLayout(buttons);
    return box;
}

// Input and output rows.
QLayout* MainControls::buildFileRows(QWidget* window) {
    auto* grid = new QGridLayout;
    inputEdit = makeEdit(window, kInputEdit, true);
    byId.insert(kInputEdit, inputEdit);
    grid->addWidget(inputEdit, 0, 0);
    grid->addWidget(addButton(window, kInputButton, QStringLiteral("Input")), 0, 1);
    outputEdit = makeEdit(window, kOutputEdit, false);
    byId.insert(kOutputEdit, outputEdit);
    grid->addWidget(outputEdit, 1, 0);
    grid->addWidget(addButton(window, kOutputButton, QStringLiteral("Output")), 1, 1);
    return grid;
}

QLayout* MainControls::buildToolRow(QWidget* window) {
    auto* row = new QHBoxLayout;
    row->addWidget(addButton(window, kOption, QStringLiteral("Option")));
    row->addWidget(addButton(window, kFileInfo, QStringLiteral("File Info")));
    row->addWidget(addButton(window, kErrorInfo, QStringLiteral("Error Info")));
    row->addWidget(addButton(window, kDetect, QStringLiteral("CM")));
    row->addStretch(1);
    row->addWidget(addButton(window, kClipping, QStringLiteral("Clipping")));
    row->addWidget(addButton(window, kClose, QStringLiteral("Close")));
    return row;
}

void MainControls::build(QDialog* window, const tavrel::Settings& settings) {
    // Built in the order the keyboard focus moves through them.
    QLayout* left = buildPicture(window, settings.repeat != 0);
    auto* right = new QVBoxLayout;
    right->addLayout(buildTimeCodeBox(window));
    right->addWidget(buildSwitches(window, settings.debugChk != 0));
    right->addWidget(buildClipBox(window), 1);

    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addLayout(right, 1);

    QLayout* files = buildFileRows(window);
    progress = makeProgressBar(window, kProgress);
    byId.insert(kProgress, progress);

    auto* main = new QVBoxLayout(window);
    main->addLayout(top, 1);
    main->addLayout(files);
    main->addWidget(progress);
    main->addLayout(buildToolRow(window));

    // 415 x 256 dialog units of the window's font.
    const QFontMetrics fm(window->font());
    const int baseX = qMax(1, fm.averageCharWidth());
    const int baseY = qMax(1, fm.height());
    window->setMinimumSize(415 * baseX / 4, 256 * baseY / 8);
}

}  // namespace tavrelcut
