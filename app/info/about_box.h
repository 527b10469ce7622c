// The program icon, painted at run time, and the About box (dialog 100).
#pragma once

#include <QDialog>
#include <QIcon>

namespace tavrelcut {

// A film strip cut by a pair of scissors, at 16, 24, 32, 48 and 64 pixels.
QIcon programIcon();

// "Tavrel Cutter Info": the program icon, the program's name and "OK".
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent);
};

}  // namespace tavrelcut
