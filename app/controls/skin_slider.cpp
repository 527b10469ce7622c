#include "skin_slider.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTransform>

#include "skin.h"

namespace tavrelcut {

namespace {

constexpr int kChannel = 6;  // channel thickness

QPixmap thumbArt(bool enabled, Qt::Orientation orientation) {
    const QPixmap& art = Skin::instance().pixmap(enabled ? Art::Thumb : Art::ThumbDisabled);
    if (orientation == Qt::Horizontal) return art;
    return art.transformed(QTransform().rotate(90));
}

}  // namespace

SkinSlider::SkinSlider(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {}

void SkinSlider::setSelection(int from, int to) {
    if (from > to) std::swap(from, to);
    m_hasSelection = true;
    m_from = from;
    m_to = to;
    update();
}

void SkinSlider::clearSelection() {
    m_hasSelection = false;
    update();
}

int SkinSlider::handleCentre(int value) const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.sliderPosition = value;
    opt.sliderValue = value;
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    return orientation() == Qt::Horizontal ? handle.center().x() : handle.center().y();
}

QRect SkinSlider::channelRect() const {
    const int lo = handleCentre(minimum());
    const int hi = handleCentre(maximum());
    const int a = std::min(lo, hi), b = std::max(lo, hi);
    const int pad = kChannel / 2;
    if (orientation() == Qt::Horizontal) {
        const int cy = height() / 2;
        return QRect(QPoint(a - pad, cy - kChannel / 2), QPoint(b + pad, cy + kChannel / 2 - 1));
    }
    const int cx = width() / 2;
    return QRect(QPoint(cx - kChannel / 2, a - pad), QPoint(cx + kChannel / 2 - 1, b + pad));
}

QRect SkinSlider::thumbRect() const {
    const QSize size = thumbArt(true, orientation()).size();
    QRect r(QPoint(0, 0), size);
    const int c = handleCentre(sliderPosition());
    if (orientation() == Qt::Horizontal)
        r.moveCenter(QPoint(c, height() / 2));
    else
        r.moveCenter(QPoint(width() / 2, c));
    return r;
}

QRect SkinSlider::selectionRect() const {
    if (!m_hasSelection || m_to < minimum() || m_from > maximum()) return QRect();
    const int a = handleCentre(std::max(m_from, minimum()));
    const int b = handleCentre(std::min(m_to, maximum()));
    const QRect ch = channelRect();
    if (orientation() == Qt::Horizontal)
        return QRect(QPoint(std::min(a, b), ch.top() + 1), QPoint(std::max(a, b), ch.bottom() - 1));
    return QRect(QPoint(ch.left() + 1, std::min(a, b)), QPoint(ch.right() - 1, std::max(a, b)));
}

QSize SkinSlider::sizeHint() const {
    const QSize base = QSlider::sizeHint();
    const QSize thumb = thumbArt(true, orientation()).size();
    return base.expandedTo(thumb + QSize(2, 2));
}

QSize SkinSlider::minimumSizeHint() const {
    const QSize base = QSlider::minimumSizeHint();
    const QSize thumb = thumbArt(true, orientation()).size();
    return base.expandedTo(thumb + QSize(2, 2));
}

void SkinSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPalette& pal = palette();

    // Channel: a sunken rounded bar between the button, shadow and dark
    // shadow colours.
    const QRectF ch = QRectF(channelRect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(ch, kChannel / 2.0, kChannel / 2.0);
    QLinearGradient grad(ch.topLeft(), orientation() == Qt::Horizontal ? ch.bottomLeft() : ch.topRight());
    grad.setColorAt(0.0, pal.color(QPalette::Shadow).lighter(130));
    grad.setColorAt(0.5, pal.color(QPalette::Dark));
    grad.setColorAt(1.0, pal.color(QPalette::Button));
    p.fillPath(path, grad);
    p.setPen(QPen(pal.color(QPalette::Shadow), 1));
    p.drawPath(path);

    const QRect sel = selectionRect();
    if (!sel.isEmpty()) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(sel, QBrush(Skin::instance().pixmap(Art::Background)));
    }

    p.drawPixmap(thumbRect().topLeft(), thumbArt(isEnabled(), orientation()));

    if (hasFocus()) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(pal.color(QPalette::WindowText), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

}  // namespace tavrelcut
