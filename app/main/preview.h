// The picture side of the preview: the widgets Kivra draws into and the
// host callbacks that carry its bitmaps to them. Kivra calls the callbacks
// on its decode thread while holding its own locks, so they only copy and
// queue; the widgets are touched on the GUI thread alone.
#pragma once

#include <QColor>
#include <QImage>
#include <QMenu>
#include <QObject>
#include <QWidget>
#include <utility>

#include "controls.h"
#include "navigation.h"

namespace tavrelcut {

// A window Kivra draws into: keeps the last picture and paints it at the
// top-left corner over its background colour. Painting never asks Kivra
// for a picture.
class PictureArea : public QWidget {
    Q_OBJECT
public:
    PictureArea(QWidget* parent, const QColor& background);
    void setImage(const QImage& image);
    // Drops the picture: the area shows its background colour.
    void clear();
    const QImage& image() const { return m_image; }
    QColor background() const { return m_background; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QImage m_image;
    QColor m_background;
};

// The output picture window ("View"): a frameless tool window owned by the
// main window that Kivra draws into when OUT_WND is 1. A left drag moves it,
// the right button asks for the picture menu, the wheel hands the keyboard
// back to the slider. Shown without taking the activation.
class ViewWindow : public PictureArea {
    Q_OBJECT
public:
    explicit ViewWindow(QWidget* owner);

signals:
    // Right button released at globalPos.
    void menuRequested(const QPoint& globalPos);
    void wheelTurned();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    WindowMover m_mover;
};

// Window messages of the picture settings, and Kivra's resize request.
constexpr int kMsgResize = 0x1403;    // resize a picture window (Kivra)
constexpr int kMsgAspect = 0x1405;    // ASPECT: 9 Auto, 0 4:3, 3 16:9
constexpr int kMsgSizeMode = 0x1406;  // 0 = native size (NATIVE 1), else custom width
constexpr int kMsgQuality = 0x1407;   // GRADE: 0 Nomal, 1 Low, 2 High

// Commands of the picture menu (menu 196); each item's object name.
enum PictureCommand : int {
    kCmdCustom = 32775,
    kCmdNative = 32776,
    kCmdAuto = 32777,
    kCmdAspect4x3 = 32778,
    kCmdAspect16x9 = 32779,
    kCmdNomal = 32780,
    kCmdLow = 32781,
    kCmdHigh = 32782,
};

// The picture menu of the output picture window.
class PictureMenu : public QMenu {
    Q_OBJECT
public:
    explicit PictureMenu(QWidget* parent);
    // Checks the items of the current settings; greys the aspect and
    // quality items while the window shows pictures at their own size.
    void prepare(const tavrel::PictureOptions& o);
    // Opens the menu at globalPos and waits: the chosen command, or 0 when
    // the menu was closed without a choice.
    int choose(const QPoint& globalPos);
    QAction* item(int command) const;
    // The message and parameter a command posts to the main window ("Custom"
    // posts the custom width csize).
    static std::pair<int, int> messageFor(int command, int csize);
};

// The colour of an empty picture area in the main window.
inline QColor emptyPictureColour() { return QColor(240, 245, 255); }

// Receives Kivra's callbacks. One per process: Kivra holds one set of
// callbacks and one open recording.
class KivraBridge : public QObject {
    Q_OBJECT
public:
    explicit KivraBridge(QObject* parent = nullptr);
    ~KivraBridge() override;
    // Registers the callbacks with Kivra.
    void install();
    // Unregisters them; call after TsClose.
    void uninstall();

    // The bitmap Kivra hands over, as the window should show it: stretched
    // to destWidth x destHeight, or at its own size when either side is
    // beyond the widest custom width (tavrel::kCSizeMax).
    static QImage toImage(const uint8_t* header40, const uint8_t* pixels, int destWidth, int destHeight,
                          int stretchMode);

signals:
    // window is the KivraWindow handle (a PictureArea* or the view window).
    void pictureDrawn(quintptr window, const QImage& image);
    void resizeRequested(quintptr window, int width, int height);

private:
    bool m_installed = false;
};

}  // namespace tavrelcut
