#include "preview.h"

#include <QPainter>
#include <cstdlib>

#include "kivra.h"

namespace tavrelcut {

PictureArea::PictureArea(QWidget* parent, const QColor& background) : QWidget(parent), m_background(background) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureArea::setImage(const QImage& image) {
    m_image = image;
    update();
}

void PictureArea::clear() {
    m_image = QImage();
    update();
}

void PictureArea::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), m_background);
    if (!m_image.isNull()) p.drawImage(0, 0, m_image);
}

namespace {

int32_t read32(const uint8_t* h, int o) {
    return int32_t(uint32_t(h[o]) | uint32_t(h[o + 1]) << 8 | uint32_t(h[o + 2]) << 16 | uint32_t(h[o + 3]) << 24);
}

void onDraw(void* user, KivraWindow window, const uint8_t* header40, const uint8_t* pixels, int32_t destWidth,
            int32_t destHeight, int32_t stretchMode) {
    auto* bridge = static_cast<KivraBridge*>(user);
    const QImage image = KivraBridge::toImage(header40, pixels, destWidth, destHeight, stretchMode);
    if (image.isNull()) return;
    // Queued when Kivra draws from its decode thread, direct from UpdateVideo
    // on the GUI thread.
    emit bridge->pictureDrawn(reinterpret_cast<quintptr>(window), image);
}

void onResize(void* user, KivraWindow, KivraWindow window, uint32_t packed) {
    auto* bridge = static_cast<KivraBridge*>(user);
    emit bridge->resizeRequested(reinterpret_cast<quintptr>(window), int(packed >> 16), int(packed & 0xFFFF));
}

}  // namespace

QImage KivraBridge::toImage(const uint8_t* header40, const uint8_t* pixels, int destWidth, int destHeight,
                            int stretchMode) {
    if (header40 == nullptr || pixels == nullptr) return {};
    const int w = read32(header40, 4);
    const int h = std::abs(read32(header40, 8));
    if (w <= 0 || h <= 0 || w > 16384 || h > 16384) return {};
    // Rows of 3-byte BGR pixels, bottom row first.
    const QImage wrapped(pixels, w, h, w * 3, QImage::Format_BGR888);
    QImage upright = wrapped.mirrored(false, true).convertToFormat(QImage::Format_RGB32);
    if (stretchMode == KIVRA_STRETCH_NONE || destWidth <= 0 || destHeight <= 0) return upright;
    const Qt::TransformationMode how =
        stretchMode == KIVRA_STRETCH_HALFTONE ? Qt::SmoothTransformation : Qt::FastTransformation;
    return upright.scaled(destWidth, destHeight, Qt::IgnoreAspectRatio, how);
}

KivraBridge::KivraBridge(QObject* parent) : QObject(parent) {}

KivraBridge::~KivraBridge() { uninstall(); }

void KivraBridge::install() {
    TavrelDecHost host{};
    host.user = this;
    host.draw = onDraw;
    host.postResize = onResize;
    host.dialogFrameWidth = 0;
    SetHostCallbacks(&host);
    m_installed = true;
}

void KivraBridge::uninstall() {
    if (!m_installed) return;
    SetHostCallbacks(nullptr);
    m_installed = false;
}

}  // namespace tavrelcut
