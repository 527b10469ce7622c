// The picture side of the preview: the widgets Kivra draws into and the
// host callbacks that carry its bitmaps to them. Kivra calls the callbacks
// on its decode thread while holding its own locks, so they only copy and
// queue; the widgets are touched on the GUI thread alone.
#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QWidget>

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

    // The bitmap Kivra hands over, as the window should show it.
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
