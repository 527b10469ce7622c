// The main window's controls, built area by area (picture, step rows, time
// code box, clip box, file rows, tool row) and laid out. Building makes no
// connections: the window makes them all in one place.
#pragma once

#include <QHash>
#include <vector>

#include "navigation.h"

class QCheckBox;
class QDialog;
class QHBoxLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSlider;
class QWidget;

namespace tavrel {
struct Settings;
}

namespace tavrelcut {

class PictureArea;

struct MainControls {
    // Every control by its id.
    QHash<int, QWidget*> byId;
    // The GOP step buttons and the step each makes.
    std::vector<std::pair<int, tavrel::Step>> steps;

    PictureArea* picture = nullptr;
    QSlider* slider = nullptr;
    QLineEdit* inputEdit = nullptr;
    QLineEdit* outputEdit = nullptr;
    QLineEdit* seekEdit = nullptr;
    QListWidget* clipList = nullptr;
    QProgressBar* progress = nullptr;
    QCheckBox* reNo = nullptr;
    QCheckBox* outWindow = nullptr;
    QCheckBox* out188 = nullptr;
    QLabel* timeLabel = nullptr;
    QLabel* inLabel = nullptr;
    QLabel* outLabel = nullptr;
    QLabel* packetLabel = nullptr;
    QLabel* pidLabel = nullptr;
    QLabel* marginLabel = nullptr;
    QLabel* marginBackLabel = nullptr;

    // Builds the controls into window and lays them out.
    void build(QDialog* window, const tavrel::Settings& settings);
    QPushButton* button(int id) const;
    // REPEAT for "←" and "→", from their next press on.
    void setRepeat(bool on);

private:
    QPushButton* addButton(QWidget* parent, int id, const QString& label);
    QLabel* addValue(QWidget* parent, int id);
    void addStep(QWidget* parent, QHBoxLayout* row, int id, const QString& label, tavrel::Step s, bool repeat);
    QLayout* buildPicture(QWidget* window, bool repeat);
    QLayout* buildTimeCodeBox(QWidget* window);
    QWidget* buildSwitches(QWidget* window, bool debug);
    QWidget* buildClipBox(QWidget* window);
    QLayout* buildFileRows(QWidget* window);
    QLayout* buildToolRow(QWidget* window);
};

}  // namespace tavrelcut
