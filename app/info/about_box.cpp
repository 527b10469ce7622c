#include "about_box.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "control_ids.h"
#include "controls.h"
#include "skin.h"

namespace tavrelcut {

namespace {

// Drawn on a 64-unit grid and scaled to the pixmap.
QPixmap paintIcon(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    // The film strip, slanted, with its sprocket holes and two frames.
    p.save();
    p.translate(32, 30);
    p.rotate(-18);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 44, 52));
    p.drawRoundedRect(QRectF(-30, -13, 60, 26), 3, 3);
    p.setBrush(QColor(235, 238, 245));
    for (int i = 0; i < 7; ++i) {
        p.drawRect(QRectF(-27 + i * 8.5, -11, 4, 3.5));
        p.drawRect(QRectF(-27 + i * 8.5, 7.5, 4, 3.5));
    }
    p.setBrush(QColor(120, 170, 230));
    p.drawRect(QRectF(-26, -6, 22, 12));
    p.setBrush(QColor(250, 200, 90));
    p.drawRect(QRectF(4, -6, 22, 12));
    // The cut between the two frames.
    p.setPen(QPen(QColor(255, 255, 255), 1.6, Qt::DashLine));
    p.drawLine(QPointF(0, -14), QPointF(0, 14));
    p.restore();

    // The scissors: two blades crossing at the pivot, two red handles.
    const QPointF pivot(30, 44);
    p.setPen(QPen(QColor(90, 96, 110), 1.2));
    p.setBrush(QColor(205, 210, 220));
    QPainterPath blade1;
    blade1.moveTo(pivot + QPointF(-2, 2));
    blade1.lineTo(QPointF(50, 22));
    blade1.lineTo(pivot + QPointF(3, -2));
    blade1.closeSubpath();
    QPainterPath blade2;
    blade2.moveTo(pivot + QPointF(-2, -2));
    blade2.lineTo(QPointF(56, 34));
    blade2.lineTo(pivot + QPointF(2, 3));
    blade2.closeSubpath();
    p.drawPath(blade1);
    p.drawPath(blade2);
    p.setPen(QPen(QColor(200, 30, 40), 4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(16, 56), 6, 5);
    p.drawEllipse(QPointF(24, 58), 5, 4.5);
    p.drawLine(pivot, QPointF(20, 51));
    p.drawLine(pivot, QPointF(25, 54));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 64, 72));
    p.drawEllipse(pivot, 2.2, 2.2);
    return pm;
}

}  // namespace

QIcon programIcon() {
    static const QIcon icon = [] {
        QIcon i;
        for (int s : {16, 24, 32, 48, 64}) i.addPixmap(paintIcon(s));
        return i;
    }();
    return icon;
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QString::number(ids::kAboutBox));
    setWindowTitle(QStringLiteral("Tavrel Cutter Info"));
    setWindowIcon(programIcon());
    applySkin(this);

    auto* icon = new QLabel(this);
    icon->setPixmap(programIcon().pixmap(32, 32));
    icon->setAccessibleName(QStringLiteral("Tavrel Cutter"));
    auto* name = new QLabel(QStringLiteral("Tavrel Cutter"), this);
    name->setAccessibleName(name->text());
    QPushButton* ok = makeButton(this, 1, QStringLiteral("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(name, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace tavrelcut
