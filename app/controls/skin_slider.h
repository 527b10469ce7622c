// A slider that paints itself: a rounded channel, an optional selection
// range filled with the background pattern, and the thumb artwork (156, or
// 157 when disabled). Geometry, keyboard and mouse are QSlider's own: the
// thumb is drawn where the style puts the handle, so dragging, clicking the
// channel, arrows, PageUp/PageDown and Home/End work as in any QSlider.
#pragma once

#include <QList>
#include <QPair>
#include <QSlider>

namespace tavrelcut {

class SkinSlider : public QSlider {
    Q_OBJECT
public:
    explicit SkinSlider(Qt::Orientation orientation = Qt::Horizontal, QWidget* parent = nullptr);

    // The marked range [from, to] in slider values (either order). It stays
    // across value and range changes until cleared or replaced; parts
    // outside the range are not drawn.
    void setSelection(int from, int to);
    void clearSelection();
    bool hasSelection() const { return m_hasSelection; }
    int selectionStart() const { return m_from; }
    int selectionEnd() const { return m_to; }

    // Spans drawn in a colour of their own over the channel (the commercial
    // breaks found in the recording), each [from, to] in slider values; they
    // stay across value and range changes until replaced. An empty list
    // clears them.
    void setSpans(const QList<QPair<int, int>>& spans);
    const QList<QPair<int, int>>& spans() const { return m_spans; }
    // Where span i is drawn, at least two pixels wide; empty when outside
    // the range.
    QRect spanRect(int i) const;

    // Where things are drawn, in widget coordinates.
    QRect channelRect() const;
    QRect thumbRect() const;      // the thumb at the current value
    QRect selectionRect() const;  // empty without a selection in range

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int handleCentre(int value) const;  // along the slider, in pixels
    // The channel between two slider values, inside its border.
    QRect channelSpan(int from, int to) const;

    bool m_hasSelection = false;
    int m_from = 0;
    int m_to = 0;
    QList<QPair<int, int>> m_spans;
};

}  // namespace tavrelcut
