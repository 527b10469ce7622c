// A list header painted from the header artwork (188 behind each item,
// 190/191 at its edges) with the item text in "DotumChe" 14 px (the
// default family where that font is missing), on no background of its own.
#pragma once

#include <QHeaderView>

namespace tavrelcut {

class SkinHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit SkinHeader(Qt::Orientation orientation, QWidget* parent = nullptr);

    // The font the item texts are written in.
    static QFont itemFont();

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void paintEvent(QPaintEvent* event) override;
    QSize sectionSizeFromContents(int logicalIndex) const override;
};

}  // namespace tavrelcut
