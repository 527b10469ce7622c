#include "bitmap_check_box.h"

#include <QFontMetrics>
#include <QPainter>

#include "skin.h"

namespace tavrelcut {

BitmapCheckBox::BitmapCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

void BitmapCheckBox::setBold(bool bold) {
    m_bold = bold;
    updateGeometry();
    update();
}

QFont BitmapCheckBox::textFont() const {
    QFont f = font();
    f.setBold(m_bold);
    return f;
}

QSize BitmapCheckBox::sizeHint() const {
    const QSize glyph = Skin::instance().pixmap(Art::CheckOff).size();
    const QFontMetrics fm(textFont());
    const int textWidth = text().isEmpty() ? 0 : kGap + fm.horizontalAdvance(text()) + 2;
    return QSize(glyph.width() + textWidth, std::max(glyph.height(), fm.height()) + 2);
}

bool BitmapCheckBox::hitButton(const QPoint& pos) const { return rect().contains(pos); }

void BitmapCheckBox::paintEvent(QPaintEvent*) {
    const Skin& skin = Skin::instance();
    const QPixmap& glyph = !isEnabled()  ? skin.pixmap(Art::CheckDisabled)
                           : isChecked() ? skin.pixmap(Art::CheckOn)
                                         : skin.pixmap(Art::CheckOff);
    QPainter p(this);
    // No background: the dialog's pattern shows through.
    p.drawPixmap(0, (height() - glyph.height()) / 2, glyph);

    if (text().isEmpty()) return;
    const QRect textRect = rect().adjusted(glyph.width() + kGap, 0, 0, 0);
    p.setFont(textFont());
    p.setPen(isEnabled() ? QColor(Qt::white) : QColor(150, 150, 150));
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, text());
    if (hasFocus()) {
        const QRect used = p.boundingRect(textRect, Qt::AlignLeft | Qt::AlignVCenter, text());
        p.setPen(QPen(QColor(220, 220, 220), 1, Qt::DotLine));
        p.drawRect(used.adjusted(-1, 0, 0, -1));
    }
}

}  // namespace tavrelcut
