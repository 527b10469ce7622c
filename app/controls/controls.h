// Factories for the program's controls. Each control gets its resource
// id as object name and accessible description, and its label as accessible
// name, so tests and assistive tools find it by id. The skinned controls of
// tavrel_controls where there is one, plain Qt widgets elsewhere.
#pragma once

#include <QPoint>
#include <QString>
#include <optional>

class QCheckBox;
class QMouseEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSlider;
class QWidget;

namespace tavrelcut {

void tagControl(QWidget* w, int id, const QString& label = QString());

// A bitmap button: the small artwork for the step buttons, "→" and the clip
// list's buttons, the large artwork for every other.
QPushButton* makeButton(QWidget* parent, int id, const QString& label);
// "←" and "→" (StepButton: a mouse press emits step(), held presses repeat
// when REPEAT is on; the keyboard emits clicked()); other ids a plain button.
QPushButton* makeStepButton(QWidget* parent, int id, const QString& label, bool repeat);
QCheckBox* makeCheckBox(QWidget* parent, int id, const QString& label);
QLineEdit* makeEdit(QWidget* parent, int id, bool readOnly);
// An edit that takes digits only (an empty text is left to its owner).
QLineEdit* makeNumberEdit(QWidget* parent, int id);
QSlider* makeSlider(QWidget* parent, int id);
QProgressBar* makeProgressBar(QWidget* parent, int id);
QListWidget* makeListBox(QWidget* parent, int id);
QLabel* makeValueLabel(QWidget* parent, int id);

// Moves a top-level window by a left-button drag on its own surface, as if
// the caption were dragged: the window manager takes over the move where
// the platform offers that, else the window follows the mouse by hand.
class WindowMover {
public:
    // A left press on the window's surface starts the move.
    void press(QWidget* window, QMouseEvent* e);
    // Follows the mouse while the button is held; true while moving by hand.
    bool move(QWidget* window, QMouseEvent* e);
    void release() { m_grab.reset(); }

private:
    std::optional<QPoint> m_grab;  // press point relative to the window's position
};

}  // namespace tavrelcut
