// The main window's preview: Kivra's records for the one open recording,
// the picture request thread, the picture area in the window, the output
// picture window ("View") with its picture menu, and the picture settings
// that menu changes. The window asks for pictures; the pane gets them drawn
// where the settings say.
#pragma once

#include <QObject>
#include <QPoint>
#include <string>

#include "edit_state.h"
#include "kivra.h"
#include "navigation.h"
#include "picture_requests.h"

namespace tavrelcut {

class KivraBridge;
class PictureArea;
class PictureMenu;
class ViewWindow;

class PreviewPane : public QObject {
    Q_OBJECT
public:
    // window: the main window, which Kivra's resize requests name; picture:
    // the area in it; settings: the live picture settings.
    PreviewPane(QWidget* window, PictureArea* picture, tavrel::Settings& settings);
    ~PreviewPane() override;

    // TsOpen of path with the current settings.
    void open(const std::string& path);
    // Waits for a request being made, then TsClose.
    void close();
    bool isOpen() const { return m_open; }
    // Empties the area pictures go to now.
    void clear();
    // Asks for the picture of a GOP (made on the request thread).
    void request(const tavrel::PreviewRequest& r);
    // Posts the size mode request (kMsgSizeMode) as the picture menu does:
    // 0 for the native size, else the custom width.
    void sendSizeMode(int param);
    // The output picture window follows OUT_WND; shown or hidden here.
    void setOutWindow(bool on);

    tavrel::PictureOptions pictureOptions() const;
    ViewWindow* view() const { return m_view; }
    PictureArea* picture() const { return m_picture; }
    // Kivra's read record as last filled (what a redraw draws with).
    const TavrelDecRead& record() const { return m_read; }

signals:
    // A picture setting message (kMsgAspect, kMsgSizeMode, kMsgQuality),
    // delivered to the handler through the event queue.
    void pictureMessage(int message, int param);
    // The keyboard belongs to the slider again (after a redraw, a menu, the
    // wheel over the output window).
    void focusWanted();

private:
    void onPictureDrawn(quintptr window, const QImage& image);
    void onResizeRequested(quintptr window, int width, int height);
    void onPictureMessage(int message, int param);
    void openPictureMenu(const QPoint& globalPos);

    QWidget* m_window;
    PictureArea* m_picture;
    tavrel::Settings& m_settings;
    ViewWindow* m_view = nullptr;
    PictureMenu* m_menu = nullptr;
    KivraBridge* m_bridge = nullptr;
    // Kivra's records, kept for the whole run.
    TavrelDecInit m_init{};
    TavrelDecRead m_read{};
    std::string m_path;
    bool m_open = false;
    PictureRequests m_requests;
};

}  // namespace tavrelcut
