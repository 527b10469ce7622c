#include "preview_pane.h"

#include <QWidget>

#include "preview.h"
#include "window_places.h"

namespace tavrelcut {

namespace {
// The fixed place of the picture in the main window.
constexpr int kPictureWidth = 270;
constexpr int kPictureHeight = 202;
}  // namespace

PreviewPane::PreviewPane(QWidget* window, PictureArea* picture, tavrel::Settings& settings)
    : QObject(window), m_window(window), m_picture(picture), m_settings(settings) {
    m_view = new ViewWindow(window);
    m_menu = new PictureMenu(m_view);
    connect(m_view, &ViewWindow::menuRequested, this, &PreviewPane::openPictureMenu);
    connect(m_view, &ViewWindow::wheelTurned, this, &PreviewPane::focusWanted);
    // The picture settings reach the handler as messages, after the menu
    // that sent them has closed.
    connect(this, &PreviewPane::pictureMessage, this, &PreviewPane::onPictureMessage, Qt::QueuedConnection);

    m_bridge = new KivraBridge(this);
    connect(m_bridge, &KivraBridge::pictureDrawn, this, &PreviewPane::onPictureDrawn);
    connect(m_bridge, &KivraBridge::resizeRequested, this, &PreviewPane::onResizeRequested, Qt::QueuedConnection);
    m_bridge->install();
}

PreviewPane::~PreviewPane() {
    close();
    m_bridge->uninstall();
    delete m_view;
}

tavrel::PictureOptions PreviewPane::pictureOptions() const {
    tavrel::PictureOptions o;
    o.outWnd = m_settings.outWnd;
    o.native = m_settings.native;
    o.csize = m_settings.cSize;
    o.aspect = m_settings.aspect;
    o.grade = m_settings.grade;
    return o;
}

void PreviewPane::open(const std::string& path) {
    m_path = path;
    m_init.path = m_path.c_str();
    m_init.notifyWindow = m_window;
    m_init.previewWindow = m_picture;
    m_init.outWindow = m_view;
    m_init.windowMode = m_settings.outWnd;
    m_read.stretchQuality = m_settings.grade;
    m_read.aspectMode = m_settings.aspect;
    m_read.displayWidth = m_settings.cSize;
    TsOpen(&m_init);
    m_open = true;
}

void PreviewPane::close() {
    m_requests.cancel();
    if (m_open) TsClose();
    m_open = false;
}

void PreviewPane::clear() {
    if (m_settings.outWnd == 1)
        m_view->clear();
    else
        m_picture->clear();
}

void PreviewPane::request(const tavrel::PreviewRequest& r) {
    m_read.position = r.position;
    m_read.videoPid = r.videoPid;
    m_read.windowMode = r.windowMode;
    m_read.displayWidth = r.displayWidth;
    m_requests.request(m_read);
}

void PreviewPane::sendSizeMode(int param) { emit pictureMessage(kMsgSizeMode, param); }

void PreviewPane::setOutWindow(bool on) {
    m_settings.outWnd = on ? 1 : 0;
    if (on) {
        keepOnScreen(m_view);
        m_view->show();
    } else {
        m_view->hide();
    }
}

void PreviewPane::onPictureDrawn(quintptr window, const QImage& image) {
    if (window == reinterpret_cast<quintptr>(m_picture))
        m_picture->setImage(image);
    else if (window == reinterpret_cast<quintptr>(m_view))
        m_view->setImage(image);
}

// Kivra's resize request: the size changes, the place and the stacking
// stay, and nothing is activated. The output window is kept on its screen.
void PreviewPane::onResizeRequested(quintptr window, int width, int height) {
    if (width <= 0 || height <= 0) return;
    if (window == reinterpret_cast<quintptr>(m_picture)) {
        m_picture->resize(qMin(width, kPictureWidth), qMin(height, kPictureHeight));
    } else if (window == reinterpret_cast<quintptr>(m_view)) {
        m_view->resize(width, height);
        if (m_view->isVisible()) keepOnScreen(m_view);
    } else {
        return;
    }
    UpdateVideo(&m_read);
    emit focusWanted();
}

void PreviewPane::onPictureMessage(int message, int param) {
    switch (message) {
    case kMsgSizeMode:
        m_settings.native = param == 0 ? 1 : 0;
        m_read.displayWidth = tavrel::displayWidthFor(pictureOptions());
        break;
    case kMsgAspect:
        m_settings.aspect = param;
        m_read.aspectMode = param;
        break;
    case kMsgQuality:
        m_settings.grade = param;
        m_read.stretchQuality = param;
        break;
    default: return;
    }
    UpdateVideo(&m_read);
    emit focusWanted();
}

void PreviewPane::openPictureMenu(const QPoint& globalPos) {
    m_menu->prepare(pictureOptions());
    const int command = m_menu->choose(globalPos);
    if (command == 0) {
        emit focusWanted();
        return;
    }
    const auto [message, param] = PictureMenu::messageFor(command, m_settings.cSize);
    emit pictureMessage(message, param);
}

}  // namespace tavrelcut
