#include "bitmap_button.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "skin.h"

namespace tavrelcut {

namespace {

// The pixmap as shown: key-coloured pixels made transparent, so it also
// looks right where the window mask is not applied (grabs, compositors).
QPixmap shown(const QPixmap& pixmap) {
    if (pixmap.isNull()) return pixmap;
    QPixmap copy = pixmap;
    copy.setMask(BitmapButton::shapeOf(pixmap));
    return copy;
}

// The artwork of a disabled button: the shape dimmed to a dark slate, so
// the grey caption stands out from it as the black one does from the
// normal artwork.
QPixmap dimmed(const QPixmap& shownPixmap) {
    if (shownPixmap.isNull()) return shownPixmap;
    QImage img = shownPixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const int a = qAlpha(line[x]);
            if (a == 0) continue;
            const int v = 52 + qGray(line[x]) * 40 / 255;
            line[x] = qRgba(v, v + 4, v + 12, a);
        }
    }
    return QPixmap::fromImage(img);
}

}  // namespace

BitmapButton::BitmapButton(const QString& text, Kind kind, QWidget* parent) : QPushButton(text, parent) {
    const Skin& skin = Skin::instance();
    if (kind == Kind::Large)
        setPixmaps(skin.pixmap(Art::LargeNormal), skin.pixmap(Art::LargePressed));
    else
        setPixmaps(skin.pixmap(Art::SmallNormal), skin.pixmap(Art::SmallPressed));
}

BitmapButton::BitmapButton(const QString& text, const QPixmap& normal, const QPixmap& pressed, QWidget* parent)
    : QPushButton(text, parent) {
    setPixmaps(normal, pressed);
}

QBitmap BitmapButton::shapeOf(const QPixmap& pixmap) {
    // For a pixmap, MaskInColor makes the pixels of the colour transparent.
    return pixmap.createMaskFromColor(Skin::keyColour(), Qt::MaskInColor);
}

void BitmapButton::setPixmaps(const QPixmap& normal, const QPixmap& pressed) {
    m_normal = normal;
    m_pressed = pressed.isNull() ? normal : pressed;
    m_shownNormal = shown(m_normal);
    m_shownPressed = shown(m_pressed);
    m_shownDisabled = dimmed(m_shownNormal);
    if (m_normal.isNull()) {
        clearMask();
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        setFixedSize(m_normal.size());
        setMask(shapeOf(m_normal));
    }
    updateGeometry();
    update();
}

QSize BitmapButton::sizeHint() const { return m_normal.isNull() ? QPushButton::sizeHint() : m_normal.size(); }

bool BitmapButton::hitButton(const QPoint& pos) const {
    if (!rect().contains(pos)) return false;
    return mask().isEmpty() || mask().contains(pos);
}

void BitmapButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPixmap& art = !isEnabled() ? m_shownDisabled : isDown() ? m_shownPressed : m_shownNormal;
    if (!art.isNull()) p.drawPixmap(0, 0, art);

    p.setPen(isEnabled() ? QColor(Qt::black) : Skin::disabledCaption());
    p.setFont(font());
    const int flags = Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine;
    p.drawText(rect(), flags, text());

    if (hasFocus()) {
        // A dotted frame inside the shape so keyboard users see the focus.
        const int inset = height() / 4;
        QPen pen(QColor(20, 40, 80), 1, Qt::DotLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(inset, 3, -inset - 1, -4));
    }
}

// ---------------------------------------------------------------------------

StepButton::StepButton(int id, const QString& text, QWidget* parent)
    : BitmapButton(text, Kind::Small, parent), m_id(id) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &StepButton::repeat);
}

int StepButton::nextInterval(int n) {
    if (n <= 10) return 125;
    if (n <= 20) return 100;
    if (n <= 30) return 50;
    return 20;
}

void StepButton::press() {
    m_held = true;
    m_count = 0;
    setDown(true);
    emit pressed();
    if (m_autoStep) {
        m_timer.start(nextInterval(1));
    } else {
        emit step(m_id);
    }
}

void StepButton::endPress() {
    m_timer.stop();
    if (!m_held) return;
    m_held = false;
    setDown(false);
    emit released();
}

void StepButton::repeat() {
    if (!m_held) return;
    ++m_count;
    // Armed before the step is handed out, so a slow handler does not
    // stretch the schedule.
    m_timer.start(nextInterval(m_count + 1));
    emit step(m_id);
}

void StepButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !hitButton(event->position().toPoint())) {
        event->ignore();
        return;
    }
    event->accept();
    // A double click arrives as a press followed by a double-click event
    // for the same click; that press has already been counted.
    if (!m_held) press();
}

void StepButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second click of a double click is a press of its own. When the
    // platform already sent a press for it, m_held is set and this is a no-op.
    mousePressEvent(event);
}

void StepButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    endPress();  // no clicked(): the press has stepped already
}

void StepButton::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (m_held && !hitButton(event->position().toPoint())) endPress();
}

void StepButton::leaveEvent(QEvent* event) {
    endPress();
    BitmapButton::leaveEvent(event);
}

void StepButton::hideEvent(QHideEvent* event) {
    endPress();
    BitmapButton::hideEvent(event);
}

void StepButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) endPress();
    BitmapButton::changeEvent(event);
}

}  // namespace tavrelcut
