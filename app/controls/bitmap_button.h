// Push buttons drawn from artwork: BitmapButton, and StepButton, the "←"
// and "→" buttons that step once per press or keep stepping while held.
#pragma once

#include <QBitmap>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

namespace tavrelcut {

// A push button that is its artwork: it takes the size of the normal
// pixmap, its window is cut to the pixmap's shape (every pixel of the key
// colour 255,255,0 is left out, for painting and for the mouse), it shows
// the pressed pixmap while down, and its caption is centred in black. When
// disabled, the artwork is dimmed to a dark slate and the caption is grey
// (180,180,180), so it stays readable. The text stays the accessible name.
class BitmapButton : public QPushButton {
    Q_OBJECT
public:
    enum class Kind { Large, Small };  // artwork 133/132 or 130/131

    explicit BitmapButton(const QString& text, Kind kind = Kind::Large, QWidget* parent = nullptr);
    BitmapButton(const QString& text, const QPixmap& normal, const QPixmap& pressed, QWidget* parent = nullptr);

    // Replaces the artwork; the button resizes and reshapes itself.
    void setPixmaps(const QPixmap& normal, const QPixmap& pressed);
    const QPixmap& normalPixmap() const { return m_normal; }
    const QPixmap& pressedPixmap() const { return m_pressed; }

    // The part of `pixmap` that is not the key colour.
    static QBitmap shapeOf(const QPixmap& pixmap);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QPixmap m_normal, m_pressed;            // as given
    QPixmap m_shownNormal, m_shownPressed;  // key colour made transparent
    QPixmap m_shownDisabled;                // the normal artwork dimmed
};

// "←" / "→". A mouse press emits step(id) once. With auto-step on (the
// REPEAT setting) a press instead waits and emits step(id) again and again
// until the button is released: nextInterval(n) ms before the n-th step.
// Leaving the button with the mouse ends the repeat for that press; the
// second click of a double click is a press of its own.
//
// The mouse never makes the button emit clicked(): each step() is exactly
// one step. Keyboard activation (Space, or Enter when the button is a
// default button) and click() from assistive tools emit clicked() and no
// step(). So the owner connects both to the same one-step handler:
//     connect(b, &StepButton::step, this, &Win::stepBy);         // mouse
//     connect(b, &QPushButton::clicked, this, [=]{ stepBy(b->stepId()); });  // keyboard
// and never gets a double step.
class StepButton : public BitmapButton {
    Q_OBJECT
public:
    StepButton(int id, const QString& text, QWidget* parent = nullptr);  // small artwork

    int stepId() const { return m_id; }

    // REPEAT: takes effect from the next press.
    void setAutoStep(bool on) { m_autoStep = on; }
    bool autoStep() const { return m_autoStep; }

    // Milliseconds to wait before the n-th step of a held press (n from 1):
    // 125 for the 1st-10th, 100 for the 11th-20th, 50 for the 21st-30th,
    // 20 afterwards.
    static int nextInterval(int n);

    // While a held press repeats: the wait now running before the next
    // step; 0 when nothing is pending.
    int pendingInterval() const { return m_timer.isActive() ? m_timer.interval() : 0; }
    // Steps emitted by the current (or last) held press.
    int repeatCount() const { return m_count; }

signals:
    void step(int id);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void press();
    void endPress();
    void repeat();

    int m_id;
    bool m_autoStep = false;
    bool m_held = false;  // a mouse press is being tracked
    int m_count = 0;
    QTimer m_timer;
};

}  // namespace tavrelcut
