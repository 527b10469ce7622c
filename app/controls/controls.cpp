#include "controls.h"

#include "bitmap_button.h"
#include "bitmap_check_box.h"
#include "drop_edit.h"
#include "skin_progress_bar.h"
#include "skin.h"
#include "skin_slider.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QWindow>

namespace tavrelcut {

void tagControl(QWidget* w, int id, const QString& label) {
    w->setObjectName(QString::number(id));
    w->setAccessibleDescription(QString::number(id));
    w->setAccessibleName(label);
}

namespace {
// The small artwork (130) carries the GOP steps ("| <<", ">> |", "| <",
// "←", "→", "> |", "←30" ... "30→", "← C", "C →"), "→" and the clip list's
// "×", "▲", "▼"; every other push button is drawn from the large one (133).
bool smallArtwork(int id) {
    for (int i : {1004, 1005, 1006, 1007, 1008, 1009, 1012, 1016, 1017, 1018, 1038, 1041, 1042, 1083, 1090, 1091})
        if (i == id) return true;
    return false;
}
}  // namespace

QPushButton* makeButton(QWidget* parent, int id, const QString& label) {
    QPushButton* b =
        new BitmapButton(label, smallArtwork(id) ? BitmapButton::Kind::Small : BitmapButton::Kind::Large, parent);
    tagControl(b, id, label);
    // Enter never presses a button of the window.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QPushButton* makeStepButton(QWidget* parent, int id, const QString& label, bool repeat) {
    if (id != 1006 && id != 1007) return makeButton(parent, id, label);
    auto* b = new StepButton(id, label, parent);
    tagControl(b, id, label);
    b->setAutoDefault(false);
    b->setDefault(false);
    b->setAutoStep(repeat);
    return b;
}

QCheckBox* makeCheckBox(QWidget* parent, int id, const QString& label) {
    auto* c = new BitmapCheckBox(label, parent);
    tagControl(c, id, label);
    return c;
}

QLineEdit* makeNumberEdit(QWidget* parent, int id) {
    auto* e = new QLineEdit(parent);
    tagControl(e, id);
    e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
    return e;
}

QLineEdit* makeEdit(QWidget* parent, int id, bool readOnly) {
    auto* e = new DropEdit(parent);
    tagControl(e, id);
    e->setReadOnly(readOnly);
    return e;
}

QSlider* makeSlider(QWidget* parent, int id) {
    auto* s = new SkinSlider(Qt::Horizontal, parent);
    tagControl(s, id);
    s->setRange(0, 0);
    s->setTickPosition(QSlider::NoTicks);
    return s;
}

QProgressBar* makeProgressBar(QWidget* parent, int id) {
    auto* p = new SkinProgressBar(parent);
    tagControl(p, id);
    p->setRange(0, 100);
    p->setValue(0);
    p->setTextVisible(false);
    QPalette pal = p->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Window, Qt::white);
    p->setPalette(pal);
    p->setAutoFillBackground(true);
    return p;
}

QListWidget* makeListBox(QWidget* parent, int id) {
    auto* l = new QListWidget(parent);
    tagControl(l, id);
    applyListSkin(l);
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    l->setSortingEnabled(false);
    return l;
}

QLabel* makeValueLabel(QWidget* parent, int id) {
    auto* l = new QLabel(parent);
    tagControl(l, id);
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    l->setTextInteractionFlags(Qt::NoTextInteraction);
    return l;
}

void WindowMover::press(QWidget* window, QMouseEvent* e) {
    m_grab.reset();
    if (e->button() != Qt::LeftButton) return;
    // The window manager moves the window itself where it can (X11, Wayland).
    if (QWindow* handle = window->windowHandle(); handle && handle->startSystemMove()) return;
    m_grab = e->globalPosition().toPoint() - window->pos();
}

bool WindowMover::move(QWidget* window, QMouseEvent* e) {
    if (!m_grab) return false;
    if (!(e->buttons() & Qt::LeftButton)) {
        m_grab.reset();
        return false;
    }
    window->move(e->globalPosition().toPoint() - *m_grab);
    return true;
}

}  // namespace tavrelcut
