#include "skin_progress_bar.h"

#include <QLinearGradient>
#include <QPainter>

namespace tavrelcut {

SkinProgressBar::SkinProgressBar(QWidget* parent) : QProgressBar(parent) { setTextVisible(false); }

int SkinProgressBar::filledLength(int value, int minimum, int maximum, int length) {
    if (length <= 0 || maximum <= minimum || value <= minimum) return 0;
    if (value >= maximum) return length;
    const qint64 done = qint64(value) - minimum;
    const qint64 span = qint64(maximum) - minimum;
    return int(done * length / span);
}

QRect SkinProgressBar::filledRect() const {
    const QRect in = innerRect();
    if (orientation() == Qt::Horizontal) {
        const int n = filledLength(value(), minimum(), maximum(), in.width());
        if (n == 0) return QRect();
        if (invertedAppearance() != (layoutDirection() == Qt::RightToLeft))
            return QRect(in.right() - n + 1, in.top(), n, in.height());
        return QRect(in.left(), in.top(), n, in.height());
    }
    const int n = filledLength(value(), minimum(), maximum(), in.height());
    if (n == 0) return QRect();
    if (invertedAppearance()) return QRect(in.left(), in.top(), in.width(), n);
    return QRect(in.left(), in.bottom() - n + 1, in.width(), n);
}

void SkinProgressBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(QColor(120, 128, 140));
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    const QRect fill = filledRect();
    if (!fill.isEmpty()) {
        const bool horizontal = orientation() == Qt::Horizontal;
        QLinearGradient grad(fill.topLeft(), horizontal ? fill.bottomLeft() : fill.topRight());
        grad.setColorAt(0.0, QColor(150, 196, 246));
        grad.setColorAt(0.5, QColor(56, 118, 210));
        grad.setColorAt(1.0, QColor(92, 156, 236));
        p.fillRect(fill, grad);
    }
    if (isTextVisible()) {
        p.setPen(Qt::black);
        p.drawText(rect(), Qt::AlignCenter, text());
    }
}

}  // namespace tavrelcut
