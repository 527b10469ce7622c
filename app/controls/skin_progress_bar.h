// A progress bar on white that fills in proportion to value() within
// [minimum(), maximum()]. Text is off unless the owner turns it on.
#pragma once

#include <QProgressBar>

namespace tavrelcut {

class SkinProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit SkinProgressBar(QWidget* parent = nullptr);

    // The filled part, in widget coordinates (empty before the start, when
    // reset, or when the range is empty).
    QRect filledRect() const;

    // Pixels of `length` filled for `value` in [minimum, maximum]; safe for
    // the whole int range.
    static int filledLength(int value, int minimum, int maximum, int length);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect innerRect() const { return rect().adjusted(1, 1, -1, -1); }
};

}  // namespace tavrelcut
