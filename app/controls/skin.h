// The program's look: the artwork of the skinned controls, painted in code
// the first time it is asked for, and the helpers that give a window the
// tiled background with white static texts.
#pragma once

#include <QColor>
#include <QPixmap>

class QAbstractItemView;
class QWidget;

namespace tavrelcut {

// Artwork ids. The numbers are the ones the rest of the program uses for
// them (button sizes, the slider selection, the header), so they stay fixed.
enum class Art {
    Background = 129,   // tile of dialogs, pages, check boxes, slider selection
    SmallNormal = 130,  // small push button ("←", "→", "×", ...)
    SmallPressed = 131,
    LargePressed = 132,  // large push button
    LargeNormal = 133,
    CheckOff = 152,  // check box glyph
    CheckOn = 153,
    CheckDisabled = 155,
    Thumb = 156,  // slider thumb
    ThumbDisabled = 157,
    HeaderItem = 188,   // list header: item background
    HeaderLeft = 190,   //   separator at an item's left edge
    HeaderRight = 191,  //   separator at an item's right edge
};

class Skin {
public:
    // Needs a QGuiApplication; the artwork is painted on the first call.
    static const Skin& instance();

    const QPixmap& pixmap(Art art) const;

    // Push button artwork is drawn on this colour; every pixel of it lies
    // outside the button's shape.
    static QColor keyColour() { return QColor(255, 255, 0); }
    // Caption of a disabled bitmap button.
    static QColor disabledCaption() { return QColor(180, 180, 180); }

    QSize smallButtonSize() const { return pixmap(Art::SmallNormal).size(); }
    QSize largeButtonSize() const { return pixmap(Art::LargeNormal).size(); }

private:
    Skin();
    QPixmap m_art[13];
};

// Gives a dialog or page the tiled background and white static texts
// (labels, group box titles). Children that paint their own base (edits,
// lists) keep it.
void applySkin(QWidget* window);

// The look of a skinned list: white with black text while enabled;
// light blue with grey text while disabled (Qt already ignores clicks on a
// disabled view). Gives a QTreeView/QTableView a SkinHeader.
void applyListSkin(QAbstractItemView* view);

}  // namespace tavrelcut
