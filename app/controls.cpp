#include "controls.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

namespace tavrelcut {

void tagControl(QWidget* w, int id, const QString& label) {
    w->setObjectName(QString::number(id));
    w->setAccessibleDescription(QString::number(id));
    w->setAccessibleName(label);
}

QPushButton* makeButton(QWidget* parent, int id, const QString& label) {
    auto* b = new QPushButton(label, parent);
    tagControl(b, id, label);
    // Enter never presses a button of the window.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QPushButton* makeStepButton(QWidget* parent, int id, const QString& label, bool repeat) {
    QPushButton* b = makeButton(parent, id, label);
    b->setAutoRepeat(repeat);
    b->setAutoRepeatDelay(400);
    b->setAutoRepeatInterval(80);
    return b;
}

QCheckBox* makeCheckBox(QWidget* parent, int id, const QString& label) {
    auto* c = new QCheckBox(label, parent);
    tagControl(c, id, label);
    return c;
}

QLineEdit* makeEdit(QWidget* parent, int id, bool readOnly) {
    auto* e = new QLineEdit(parent);
    tagControl(e, id);
    e->setReadOnly(readOnly);
    return e;
}

QSlider* makeSlider(QWidget* parent, int id) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    tagControl(s, id);
    s->setRange(0, 0);
    s->setTickPosition(QSlider::NoTicks);
    return s;
}

QProgressBar* makeProgressBar(QWidget* parent, int id) {
    auto* p = new QProgressBar(parent);
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

}  // namespace tavrelcut
