#include "window_places.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <limits>

namespace tavrelcut {

namespace {

// The screen whose free area holds p, else the nearest one.
QScreen* screenNear(const QPoint& p) {
    QScreen* best = QGuiApplication::primaryScreen();
    int bestDistance = std::numeric_limits<int>::max();
    for (QScreen* s : QGuiApplication::screens()) {
        const QRect r = s->availableGeometry();
        if (r.contains(p)) return s;
        const int dx = std::max({r.left() - p.x(), 0, p.x() - r.right()});
        const int dy = std::max({r.top() - p.y(), 0, p.y() - r.bottom()});
        if (dx + dy < bestDistance) {
            bestDistance = dx + dy;
            best = s;
        }
    }
    return best;
}

}  // namespace

QPoint placeOnScreen(const QPoint& saved, const QSize& size) {
    const QScreen* screen = screenNear(saved);
    if (!screen) return saved;
    const QRect area = screen->availableGeometry();
    if (area.contains(QRect(saved, size))) return saved;
    // Right and bottom edges first, so a window too large for the screen
    // keeps its top left corner on it.
    const int x = std::max(area.left(), std::min(saved.x(), area.right() + 1 - size.width()));
    const int y = std::max(area.top(), std::min(saved.y(), area.bottom() + 1 - size.height()));
    return {x, y};
}

void keepOnScreen(QWidget* window) {
    const QPoint p = placeOnScreen(window->pos(), window->frameGeometry().size());
    if (p != window->pos()) window->move(p);
}

void WindowPlaces::track(QWidget* window, std::function<void(tavrel::WindowSettings&, const QWidget&)> store) {
    m_tracked.push_back({window, std::move(store)});
}

const tavrel::WindowSettings& WindowPlaces::handBack() {
    for (const Tracked& t : m_tracked)
        if (t.window) t.store(m_record, *t.window);
    return m_record;
}

}  // namespace tavrelcut
