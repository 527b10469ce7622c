#include "preview.h"

#include <QActionGroup>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

#include "control_ids.h"
#include "edit_state.h"
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

ViewWindow::ViewWindow(QWidget* owner) : PictureArea(owner, Qt::black) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("View"));
    setObjectName(QStringLiteral("View"));
    setAccessibleName(QStringLiteral("View"));
    setAccessibleDescription(QStringLiteral("View"));
    setCursor(Qt::ArrowCursor);
    resize(640, 480);
}

void ViewWindow::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) m_mover.press(this, e);
    e->accept();
}

void ViewWindow::mouseMoveEvent(QMouseEvent* e) {
    m_mover.move(this, e);
    e->accept();
}

void ViewWindow::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) m_mover.release();
    if (e->button() == Qt::RightButton) emit menuRequested(e->globalPosition().toPoint());
    e->accept();
}

void ViewWindow::wheelEvent(QWheelEvent* e) {
    emit wheelTurned();
    e->accept();
}

PictureMenu::PictureMenu(QWidget* parent) : QMenu(parent) {
    setObjectName(QString::number(ids::kPictureMenu));
    auto add = [this](QActionGroup* group, int command, const char* label) {
        QAction* a = addAction(QString::fromLatin1(label));
        a->setObjectName(QString::number(command));
        a->setData(command);
        a->setCheckable(true);
        group->addAction(a);
    };
    auto* size = new QActionGroup(this);
    add(size, kCmdCustom, "Custom");
    add(size, kCmdNative, "Native");
    addSeparator();
    auto* aspect = new QActionGroup(this);
    add(aspect, kCmdAuto, "Auto");
    add(aspect, kCmdAspect4x3, "4:3");
    add(aspect, kCmdAspect16x9, "16:9");
    addSeparator();
    auto* grade = new QActionGroup(this);
    add(grade, kCmdNomal, "Nomal");
    add(grade, kCmdLow, "Low");
    add(grade, kCmdHigh, "High");
}

QAction* PictureMenu::item(int command) const {
    return findChild<QAction*>(QString::number(command), Qt::FindDirectChildrenOnly);
}

void PictureMenu::prepare(const tavrel::PictureOptions& o) {
    item(o.native == 1 ? kCmdNative : kCmdCustom)->setChecked(true);
    item(o.aspect == 0 ? kCmdAspect4x3 : o.aspect == 3 ? kCmdAspect16x9 : kCmdAuto)->setChecked(true);
    item(o.grade == 1 ? kCmdLow : o.grade == 2 ? kCmdHigh : kCmdNomal)->setChecked(true);
    // At the picture's own size there is nothing to stretch.
    for (int c = kCmdAuto; c <= kCmdHigh; ++c) item(c)->setEnabled(o.native != 1);
}

int PictureMenu::choose(const QPoint& globalPos) {
    QAction* chosen = exec(globalPos);
    return chosen ? chosen->data().toInt() : 0;
}

std::pair<int, int> PictureMenu::messageFor(int command, int csize) {
    switch (command) {
    case kCmdCustom: return {kMsgSizeMode, csize};
    case kCmdNative: return {kMsgSizeMode, 0};
    case kCmdAuto: return {kMsgAspect, 9};
    case kCmdAspect4x3: return {kMsgAspect, 0};
    case kCmdAspect16x9: return {kMsgAspect, 3};
    case kCmdNomal: return {kMsgQuality, 0};
    case kCmdLow: return {kMsgQuality, 1};
    case kCmdHigh: return {kMsgQuality, 2};
    default: return {0, 0};
    }
}

namespace {

// The largest window size a resize request may ask for: a picture at its
// coded size, or at the widest custom width, fits well within it.
constexpr int kMaxWindowSide = 8192;

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
    const int width = std::min(int(packed >> 16), kMaxWindowSide);
    const int height = std::min(int(packed & 0xFFFF), kMaxWindowSide);
    emit bridge->resizeRequested(reinterpret_cast<quintptr>(window), width, height);
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
    // No width the settings accept gives a side above kCSizeMax (a square
    // picture is as high as it is wide); anything larger came some other way
    // and is shown at the picture's own size rather than allocated.
    if (destWidth > tavrel::kCSizeMax || destHeight > tavrel::kCSizeMax) return upright;
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
