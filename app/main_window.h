// The main window: owns the editing run (paths, GOP list, marks, clip list,
// options), hosts the controls that start every tool, shows the preview and
// switches its controls off while a job runs.
#pragma once

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "app_settings.h"
#include "controls.h"
#include "cut_job.h"
#include "edit_state.h"
#include "gui_host.h"
#include "kivra.h"
#include "navigation.h"
#include "picture_requests.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QSlider;
class QThread;

namespace tavrelcut {

class ErrorInfoWindow;
class KivraBridge;
class MessageSink;
class PictureArea;
class PictureMenu;
class SoundPlayer;
class ViewWindow;

class MainWindow : public QDialog {
    Q_OBJECT
public:
    // iniPath: the settings file read now and written at close.
    explicit MainWindow(const QString& iniPath, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Messages go to the dialog unless a sink is set (null restores it).
    void setMessageSink(MessageSink* sink);

    // The ids of the controls a running job switches off.
    static const QList<int>& busyIds();
    // The slider and the GOP step buttons.
    static const QList<int>& navigationIds();

    QWidget* control(int id) const { return m_controls.value(id); }
    // The output picture window ("View").
    ViewWindow* viewWindow() const { return m_view; }
    // Kivra's read record as last filled (what a redraw draws with).
    const TavrelDecRead& pictureRecord() const { return m_decRead; }
    const tavrel::EditState& state() const { return m_state; }
    QString iniPath() const { return m_iniPath; }

    // Puts a recording into Input and indexes it as "Get GOP" does.
    void openRecording(const QString& path);

    // --- the job host's side, on the GUI thread ---
    int showMessage(const QString& caption, const QString& text, int kind);
    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }
    void setProgressRange(int max);
    void setProgressValue(int pos);
    void setInputPathText(const QString& path);
    void setPreviewPacketSize(int size);
    void showGopTime(const QString& text);
    void setSliderRange(int max, int page, int pos);
    void setNavigationEnabled(bool on);
    void showScanLabels(const tavrel::ScanFinishInfo& info);
    // Requests the picture of the GOP under the slider.
    void showGop();
    void focusSlider();
    // Moves the slider to the GOP holding packet and shows it; false when
    // no GOP holds it.
    bool showGopOfPacket(int64_t packet);
    // Starts the completion sound; done runs when it has ended. false when
    // nothing plays.
    bool startSound(const QString& path, std::function<void()> done);
    // "Error Info": shows the error file of the input in the error view.
    void showErrorInfo();
    // After a scan: the error view, when shown, follows the file opened.
    void refreshErrorInfo();
    // The error view once it has been opened, else null.
    ErrorInfoWindow* errorInfoWindow() const { return m_errorInfo; }

signals:
    // A picture setting message (kMsgAspect, kMsgSizeMode, kMsgQuality),
    // delivered to the window's handler through the event queue.
    void pictureMessage(int message, int param);

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void buildControls();
    void loadSettings();
    void placeWindow();
    void transferFromControls();
    void closeSequence();

    void onGetGop();
    void onInput();
    void onOutput();
    void onClipping();
    void onOutWindow(bool checked);
    void onSeek();
    void onHelp();
    void onFileInfo();
    void onSliderMoved();
    void step(tavrel::Step s);
    void setInMark();
    void setOutMark();
    // The slider shows the marked range when both marks are set.
    void showMarkedRange();
    void onAddClip();
    void onDeleteClip();
    void onMoveClip(bool up);
    void refreshClipList();
    void moveSliderTo(int64_t index);
    QString gopTimeAt(int64_t index) const;
    tavrel::PictureOptions pictureOptions() const;

    // Runs job on the worker thread; done gets its result on the GUI thread
    // once the thread has ended.
    bool startWorker(std::function<bool()> job, std::function<void(bool)> done, int priority);
    void waitForWorker();

    void openPreview();
    void closePreview();
    void clearPicture();
    void onPictureDrawn(quintptr window, const QImage& image);
    void onResizeRequested(quintptr window, int width, int height);
    void onPictureMessage(int message, int param);
    void openPictureMenu(const QPoint& globalPos);
    void showAbout();
    // A point of the window's own surface: no control under it.
    bool onOwnSurface(const QPoint& pos) const;

    QString m_iniPath;
    AppSettings m_settings;
    tavrel::EditState m_state;
    GuiHost m_host;
    tavrel::CutJob m_cutJob;
    // The one worker of the window (the scan or the cut); jobs run one at a
    // time while the window is busy.
    QThread* m_worker = nullptr;
    std::unique_ptr<MessageSink> m_dialogSink;
    MessageSink* m_sink = nullptr;
    bool m_busy = false;
    bool m_closed = false;
    bool m_sliderSilent = false;

    // Kivra's records, kept for the whole run.
    TavrelDecInit m_decInit{};
    TavrelDecRead m_decRead{};
    PictureRequests m_requests;
    std::string m_decPath;
    bool m_previewOpen = false;
    KivraBridge* m_bridge = nullptr;
    SoundPlayer* m_sound = nullptr;

    QHash<int, QWidget*> m_controls;
    PictureArea* m_picture = nullptr;
    ViewWindow* m_view = nullptr;  // the output picture window
    ErrorInfoWindow* m_errorInfo = nullptr;  // made on the first "Error Info", then kept
    PictureMenu* m_pictureMenu = nullptr;
    WindowMover m_mover;
    QSlider* m_slider = nullptr;
    QLineEdit* m_inputEdit = nullptr;
    QLineEdit* m_outputEdit = nullptr;
    QLineEdit* m_seekEdit = nullptr;
    QListWidget* m_clipList = nullptr;
    QProgressBar* m_progress = nullptr;
    QCheckBox* m_reNo = nullptr;
    QCheckBox* m_outWindow = nullptr;
    QCheckBox* m_out188 = nullptr;
    QLabel* m_timeLabel = nullptr;
    QLabel* m_inLabel = nullptr;
    QLabel* m_outLabel = nullptr;
    QLabel* m_packetLabel = nullptr;
    QLabel* m_pidLabel = nullptr;
    QLabel* m_marginLabel = nullptr;
    QLabel* m_marginBackLabel = nullptr;
};

}  // namespace tavrelcut
