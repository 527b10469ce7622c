// Where the program's windows stand: read from the one settings record at
// start, kept on a screen, and handed back into the record at close. Every
// window that keeps a place registers here, so closing writes them all
// through one path.
#pragma once

#include <QPoint>
#include <QWidget>
#include <QPointer>
#include <functional>
#include <vector>

#include "settings.h"

namespace tavrelcut {

// The place for a window of this size near saved: unchanged while the
// window lies wholly on a screen's free area, else moved onto the screen
// holding (or nearest to) saved, as far as it fits. A window larger than
// the screen keeps its top left corner on it.
QPoint placeOnScreen(const QPoint& saved, const QSize& size);
// The same for a shown or placed window.
void keepOnScreen(QWidget* window);

class WindowPlaces {
public:
    // The places as the settings file holds them.
    void setSaved(const tavrel::WindowSettings& saved) { m_record = saved; }
    const tavrel::WindowSettings& saved() const { return m_record; }
    // store puts window's place (and size, where the record keeps one) into
    // the record; it runs at handBack() for as long as the window lives.
    void track(QWidget* window, std::function<void(tavrel::WindowSettings&, const QWidget&)> store);
    // Every tracked window's place into the record, which is returned.
    const tavrel::WindowSettings& handBack();

private:
    struct Tracked {
        QPointer<QWidget> window;
        std::function<void(tavrel::WindowSettings&, const QWidget&)> store;
    };
    tavrel::WindowSettings m_record;
    std::vector<Tracked> m_tracked;
};

}  // namespace tavrelcut
