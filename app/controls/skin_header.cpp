#include "skin_header.h"

#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>

#include "skin.h"

namespace tavrelcut {

SkinHeader::SkinHeader(Qt::Orientation orientation, QWidget* parent) : QHeaderView(orientation, parent) {
    setFont(itemFont());
    setMinimumSectionSize(8);
}

QFont SkinHeader::itemFont() {
    QFont f =
        QFontDatabase::families().contains(QStringLiteral("DotumChe")) ? QFont(QStringLiteral("DotumChe")) : QFont();
    f.setPixelSize(14);
    return f;
}

QSize SkinHeader::sectionSizeFromContents(int logicalIndex) const {
    QSize s = QHeaderView::sectionSizeFromContents(logicalIndex);
    const QSize art = Skin::instance().pixmap(Art::HeaderItem).size();
    if (orientation() == Qt::Horizontal) s.setHeight(std::max(s.height(), art.height()));
    return s;
}

void SkinHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) return;
    const Skin& skin = Skin::instance();
    const QPixmap& item = skin.pixmap(Art::HeaderItem);
    const QPixmap& left = skin.pixmap(Art::HeaderLeft);
    const QPixmap& right = skin.pixmap(Art::HeaderRight);

    painter->save();
    painter->drawPixmap(rect, item);
    painter->drawPixmap(QRect(rect.left(), rect.top(), left.width(), rect.height()), left);
    painter->drawPixmap(QRect(rect.right() - right.width() + 1, rect.top(), right.width(), rect.height()), right);

    const QString text =
        model() ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString() : QString();
    if (!text.isEmpty()) {
        QVariant align = model()->headerData(logicalIndex, orientation(), Qt::TextAlignmentRole);
        const Qt::Alignment a =
            align.isValid() ? Qt::Alignment(align.toInt()) : (defaultAlignment() | Qt::AlignVCenter);
        painter->setFont(itemFont());
        painter->setPen(isEnabled() ? QColor(Qt::black) : QColor(128, 128, 128));
        painter->setBackgroundMode(Qt::TransparentMode);
        const QRect textRect = rect.adjusted(left.width() + 3, 0, -right.width() - 3, 0);
        painter->drawText(textRect, int(a) | Qt::TextSingleLine,
                          painter->fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
    }
    painter->restore();
}

void SkinHeader::paintEvent(QPaintEvent* event) {
    QHeaderView::paintEvent(event);
    // The area past the last item gets the item background too.
    if (orientation() != Qt::Horizontal) return;
    const int end = count() > 0 ? length() - offset() : 0;
    if (end >= viewport()->width()) return;
    QPainter p(viewport());
    p.drawPixmap(QRect(end, 0, viewport()->width() - end, viewport()->height()),
                 Skin::instance().pixmap(Art::HeaderItem));
}

}  // namespace tavrelcut
