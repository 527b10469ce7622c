// A check box drawn from artwork (glyphs 152/153/155) with white text for
// the dark dialogs. Toggling, signals and keyboard are QCheckBox's own: a
// mouse release anywhere on the box or its text, or Space, toggles it and
// emits clicked()/toggled()/stateChanged().
#pragma once

#include <QCheckBox>

namespace tavrelcut {

class BitmapCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit BitmapCheckBox(const QString& text, QWidget* parent = nullptr);

    void setBold(bool bold);
    bool isBold() const { return m_bold; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QFont textFont() const;
    static constexpr int kGap = 5;  // between glyph and text
    bool m_bold = false;
};

}  // namespace tavrelcut
