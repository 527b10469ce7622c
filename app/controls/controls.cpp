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
#include <QSlider>
#include <QWindow>

namespace tavrelcut {

void tagControl(QWidget* w, int id, const QString& label) {
    w->setObjectName(QString::number(id));
    w->setAccessibleDescription(QString::number(id));
    w->setAccessibleName(label);
}

namespace {
// Buttons drawn from the small (130) and large (133) artwork (the message
// dialog's four among them); the others stay plain push buttons.
bool smallArtwork(int id) {
    for (int i : {1004, 1006, 1007, 1005, 1009, 1016, 1017, 1018})
        if (i == id) return true;
    return false;
}
bool largeArtwork(int id) {
    for (int i : {1001, 1015, 1002, 1013, 2, 1086, 1093, 1094, 1096, 1097})
        if (i == id) return true;
    return false;
}
}  // namespace

QPushButton* makeButton(QWidget* parent, int id, const QString& label) {
    QPushButton* b = nullptr;
    if (smallArtwork(id))
        b = new BitmapButton(label, BitmapButton::Kind::Small, parent);
    else if (largeArtwork(id))
        b = new BitmapButton(label, BitmapButton::Kind::Large, parent);
    else
        b = new QPushButton(label, parent);
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
