#include "skin.h"

#include <algorithm>
#include <iterator>

#include <QAbstractItemView>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QTableView>
#include <QTreeView>
#include <QWidget>

#include "skin_header.h"

namespace tavrelcut {

namespace {

constexpr int kArtIds[] = {129, 130, 131, 132, 133, 152, 153, 155, 156, 157, 188, 190, 191};

int slotOf(Art art) {
    for (int i = 0; i < int(std::size(kArtIds)); ++i)
        if (kArtIds[i] == int(art)) return i;
    return 0;
}

QImage transparentImage(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

// Dark slate with fine horizontal pinstripes and a faint dot, so white text
// reads well on it and the tiling does not show.
QImage drawBackground() {
    QImage img(8, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) img.setPixel(x, y, (y % 2) ? qRgb(44, 51, 64) : qRgb(37, 43, 55));
    img.setPixel(2, 2, qRgb(52, 60, 75));
    img.setPixel(6, 6, qRgb(52, 60, 75));
    return img;
}

struct Gel {
    QColor border, top, middle, bottom;
    int gloss;  // alpha of the highlight at its top
};

Gel blueGel(bool pressed) {
    if (pressed) return {QColor(36, 66, 124), QColor(150, 188, 234), QColor(66, 124, 204), QColor(108, 166, 238), 110};
    return {QColor(58, 96, 156), QColor(216, 234, 252), QColor(136, 186, 240), QColor(182, 222, 255), 190};
}

Gel greyGel() {
    return {QColor(96, 100, 108), QColor(214, 216, 220), QColor(168, 172, 178), QColor(196, 198, 204), 120};
}

// A rounded gel shape filling `r`; `radius` is the corner radius.
void paintGel(QPainter& p, const QRectF& r, qreal radius, const Gel& g) {
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath outer;
    outer.addRoundedRect(r, radius, radius);
    p.fillPath(outer, g.border);

    const QRectF inner = r.adjusted(1, 1, -1, -1);
    QPainterPath body;
    body.addRoundedRect(inner, radius - 1, radius - 1);
    QLinearGradient grad(inner.topLeft(), inner.bottomLeft());
    grad.setColorAt(0.0, g.top);
    grad.setColorAt(0.55, g.middle);
    grad.setColorAt(1.0, g.bottom);
    p.fillPath(body, grad);

    // Highlight across the upper half.
    const QRectF shine(inner.left() + 2, inner.top() + 1, inner.width() - 4, inner.height() * 0.45);
    QPainterPath gloss;
    const qreal gr = std::min(radius - 2, shine.height() / 2);
    gloss.addRoundedRect(shine, gr, gr);
    QLinearGradient glossGrad(shine.topLeft(), shine.bottomLeft());
    glossGrad.setColorAt(0.0, QColor(255, 255, 255, g.gloss));
    glossGrad.setColorAt(1.0, QColor(255, 255, 255, g.gloss / 5));
    p.fillPath(gloss, glossGrad);
}

// Push button artwork on the key colour: a pill-shaped gel. Pixels outside
// the shape are exactly the key colour; inside, none is.
QImage drawButton(QSize size, bool pressed) {
    QImage body = transparentImage(size.width(), size.height());
    {
        QPainter p(&body);
        paintGel(p, QRectF(QPointF(0, 0), QSizeF(size)), size.height() / 2.0, blueGel(pressed));
    }
    // The outline decides the shape alone, without anti-aliasing, so every
    // pixel is clearly in or out.
    QImage shape = transparentImage(size.width(), size.height());
    {
        QPainter p(&shape);
        QPainterPath outline;
        const qreal radius = size.height() / 2.0;
        outline.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
        p.fillPath(outline, Qt::black);
    }
    QImage out(size, QImage::Format_RGB32);
    const QRgb key = Skin::keyColour().rgb();
    const QColor edge = blueGel(pressed).border;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            if (qAlpha(shape.pixel(x, y)) == 0) {
                out.setPixel(x, y, key);
                continue;
            }
            // Inside: the gel over its border colour, always opaque.
            const QRgb c = body.pixel(x, y);  // premultiplied
            const int a = qAlpha(c);
            const int r = qRed(c) + edge.red() * (255 - a) / 255;
            const int g = qGreen(c) + edge.green() * (255 - a) / 255;
            const int b = qBlue(c) + edge.blue() * (255 - a) / 255;
            QRgb px = qRgb(std::min(r, 255), std::min(g, 255), std::min(b, 255));
            if (px == key) px = qRgb(255, 255, 1);  // never the key colour inside
            out.setPixel(x, y, px);
        }
    }
    return out;
}

QImage drawCheck(bool checked, bool disabled) {
    QImage img = transparentImage(14, 14);
    QPainter p(&img);
    const QRectF r(0.5, 0.5, 13, 13);
    if (disabled) {
        paintGel(p, r, 3, greyGel());
    } else if (checked) {
        paintGel(p, r, 3, blueGel(false));
    } else {
        p.setRenderHint(QPainter::Antialiasing, true);
        QPainterPath box;
        box.addRoundedRect(r, 3, 3);
        QLinearGradient grad(r.topLeft(), r.bottomLeft());
        grad.setColorAt(0, QColor(255, 255, 255));
        grad.setColorAt(1, QColor(214, 220, 230));
        p.fillPath(box, grad);
        p.setPen(QPen(QColor(58, 96, 156), 1));
        p.drawPath(box);
    }
    if (checked) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(QColor(20, 30, 60), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF tick[] = {{3.5, 7.0}, {6.0, 10.0}, {10.5, 3.5}};
        p.drawPolyline(tick, 3);
    }
    return img;
}

QImage drawThumb(bool disabled) {
    QImage img = transparentImage(11, 19);
    QPainter p(&img);
    paintGel(p, QRectF(0, 0, 11, 19), 5, disabled ? greyGel() : blueGel(false));
    return img;
}

QImage drawHeaderItem() {
    QImage img(16, 20, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient grad(0, 0, 0, 20);
    grad.setColorAt(0, QColor(252, 252, 253));
    grad.setColorAt(0.5, QColor(236, 239, 244));
    grad.setColorAt(1, QColor(214, 219, 228));
    p.fillRect(img.rect(), grad);
    p.setPen(QColor(160, 166, 178));
    p.drawLine(0, 19, 15, 19);
    return img;
}

QImage drawHeaderEdge(bool left) {
    QImage img(2, 20, QImage::Format_RGB32);
    for (int y = 0; y < 20; ++y) {
        img.setPixel(0, y, left ? qRgb(255, 255, 255) : qRgb(188, 194, 206));
        img.setPixel(1, y, left ? qRgb(246, 248, 251) : qRgb(150, 156, 170));
    }
    return img;
}

}  // namespace

const Skin& Skin::instance() {
    // Painted once and kept for the life of the process.
    static const Skin* skin = new Skin;
    return *skin;
}

Skin::Skin() {
    auto put = [this](Art art, const QImage& img) { m_art[slotOf(art)] = QPixmap::fromImage(img); };
    put(Art::Background, drawBackground());
    put(Art::SmallNormal, drawButton(QSize(36, 24), false));
    put(Art::SmallPressed, drawButton(QSize(36, 24), true));
    put(Art::LargeNormal, drawButton(QSize(76, 26), false));
    put(Art::LargePressed, drawButton(QSize(76, 26), true));
    put(Art::CheckOff, drawCheck(false, false));
    put(Art::CheckOn, drawCheck(true, false));
    put(Art::CheckDisabled, drawCheck(false, true));
    put(Art::Thumb, drawThumb(false));
    put(Art::ThumbDisabled, drawThumb(true));
    put(Art::HeaderItem, drawHeaderItem());
    put(Art::HeaderLeft, drawHeaderEdge(true));
    put(Art::HeaderRight, drawHeaderEdge(false));
}

const QPixmap& Skin::pixmap(Art art) const { return m_art[slotOf(art)]; }

void applySkin(QWidget* window) {
    QPalette pal = window->palette();
    const QBrush tile(Skin::instance().pixmap(Art::Background));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setBrush(group, QPalette::Window, tile);
    pal.setColor(QPalette::Active, QPalette::WindowText, Qt::white);
    pal.setColor(QPalette::Inactive, QPalette::WindowText, Qt::white);
    pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(150, 150, 150));
    window->setPalette(pal);
    window->setAutoFillBackground(true);
}

void applyListSkin(QAbstractItemView* view) {
    QPalette pal = view->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Base, Qt::white);
        pal.setColor(group, QPalette::Text, Qt::black);
    }
    pal.setColor(QPalette::Disabled, QPalette::Base, QColor(235, 235, 255));
    pal.setColor(QPalette::Disabled, QPalette::Text, QColor(128, 128, 128));
    view->setPalette(pal);
    if (auto* tree = qobject_cast<QTreeView*>(view)) {
        auto* header = new SkinHeader(Qt::Horizontal, tree);
        header->setStretchLastSection(true);
        tree->setHeader(header);
    } else if (auto* table = qobject_cast<QTableView*>(view)) {
        table->setHorizontalHeader(new SkinHeader(Qt::Horizontal, table));
    }
}

}  // namespace tavrelcut
