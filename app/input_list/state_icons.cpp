#include "state_icons.h"

#include <QPainter>
#include <array>

#include "input_entries.h"

namespace tavrelcut {

namespace {

// Pixel art: no anti-aliasing, so every pixel is the key or a colour of the
// icon, and the key never blends into an edge.
QImage keyedCanvas() {
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(kIconKey);
    return img;
}

// A sheet of paper with a folded corner.
void paintPage(QPainter& p) {
    const QPoint outline[] = {{3, 1}, {10, 1}, {13, 4}, {13, 14}, {3, 14}};
    p.setPen(QColor(96, 104, 120));
    p.setBrush(QColor(250, 250, 252));
    p.drawPolygon(outline, 5);
    p.setBrush(QColor(214, 220, 230));
    const QPoint fold[] = {{10, 1}, {10, 4}, {13, 4}};
    p.drawPolygon(fold, 3);
}

void paintLines(QPainter& p, QColor colour) {
    p.setPen(colour);
    for (int y : {6, 8, 10}) p.drawLine(5, y, 11, y);
}

void paintDisc(QPainter& p, QColor fill, QColor edge) {
    p.setPen(edge);
    p.setBrush(fill);
    p.drawEllipse(1, 1, 13, 13);
}

// A ring of eight dots, the bright ones turning between the two phases.
void paintSpinner(QPainter& p, int phase) {
    static constexpr QPoint dots[8] = {{7, 1}, {11, 3}, {13, 7}, {11, 11}, {7, 13}, {3, 11}, {1, 7}, {3, 3}};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 8; ++i) {
        const bool bright = (i / 2) % 2 == phase;
        p.setBrush(bright ? QColor(242, 140, 24) : QColor(252, 214, 160));
        p.drawRect(dots[i].x(), dots[i].y(), 2, 2);
    }
    p.setBrush(QColor(120, 72, 20));
    p.drawRect(7, 7, 2, 2);
}

QImage paintState(int state) {
    QImage img = keyedCanvas();
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (state) {
    case kStateNoIndex:
        paintPage(p);
        paintLines(p, QColor(180, 186, 196));
        break;
    case kStateIndexed:
        paintPage(p);
        paintLines(p, QColor(70, 110, 190));
        // A green tick over the page's lower right.
        p.setPen(QPen(QColor(24, 140, 48), 2));
        p.drawLine(8, 11, 10, 13);
        p.drawLine(10, 13, 14, 8);
        break;
    case kStateWorking:
    case kStateWorkingAlt: paintSpinner(p, state == kStateWorking ? 0 : 1); break;
    case kStateError:
        paintDisc(p, QColor(212, 36, 36), QColor(128, 16, 16));
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(5, 5, 10, 10);
        p.drawLine(10, 5, 5, 10);
        break;
    case kStateQueued:
    default:
        // A clock: waiting for its turn.
        paintDisc(p, QColor(226, 236, 252), QColor(40, 84, 168));
        p.setPen(QColor(40, 84, 168));
        p.drawLine(7, 3, 7, 8);
        p.drawLine(7, 8, 11, 8);
        break;
    }
    return img;
}

// Every pixel of the key colour fully transparent, the others opaque.
QPixmap keyedPixmap(const QImage& img) {
    QImage out = img.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            if (out.pixel(x, y) == kIconKey) out.setPixel(x, y, 0);
    return QPixmap::fromImage(out);
}

}  // namespace

QImage stateBitmap(int state) { return paintState(state); }

const QPixmap& stateIcon(int state) {
    static const std::array<QPixmap, kStateCount> icons = [] {
        std::array<QPixmap, kStateCount> all;
        for (int s = 0; s < kStateCount; ++s) all[static_cast<size_t>(s)] = keyedPixmap(paintState(s));
        return all;
    }();
    return icons[static_cast<size_t>(state >= 0 && state < kStateCount ? state : kStateError)];
}

QCursor dragCursor() {
    QImage img = keyedCanvas();
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing, false);
        // An arrow carrying a row.
        const QPoint arrow[] = {{0, 0}, {0, 10}, {3, 7}, {5, 11}, {7, 10}, {5, 6}, {9, 6}};
        p.setPen(Qt::black);
        p.setBrush(Qt::white);
        p.drawPolygon(arrow, 7);
        p.setBrush(QColor(70, 110, 190));
        p.drawRect(6, 12, 9, 3);
    }
    return QCursor(keyedPixmap(img), 0, 0);
}

}  // namespace tavrelcut
