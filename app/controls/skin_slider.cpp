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

// The spans' colour: apart from the channel's greys and the selection's
// pattern.
const QColor kSpanColour(232, 72, 40);

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

void SkinSlider::setSpans(const QList<QPair<int, int>>& spans) {
    m_spans.clear();
    for (auto [from, to] : spans) m_spans.push_back(from <= to ? qMakePair(from, to) : qMakePair(to, from));
    update();
}

QRect SkinSlider::spanRect(int i) const {
    if (i < 0 || i >= m_spans.size()) return QRect();
    const auto [from, to] = m_spans[i];
    QRect r = channelSpan(from, to);
    if (r.isEmpty()) return r;
    if (orientation() == Qt::Horizontal && r.width() < 2) r.setRight(r.left() + 1);
    if (orientation() == Qt::Vertical && r.height() < 2) r.setBottom(r.top() + 1);
    return r;
}

QRect SkinSlider::selectionRect() const { return m_hasSelection ? channelSpan(m_from, m_to) : QRect(); }

QRect SkinSlider::channelSpan(int from, int to) const {
    if (to < minimum() || from > maximum()) return QRect();
    const int a = handleCentre(std::max(from, minimum()));
    const int b = handleCentre(std::min(to, maximum()));
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
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < m_spans.size(); ++i) {
        const QRect r = spanRect(i);
        if (!r.isEmpty()) p.fillRect(r, kSpanColour);
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
