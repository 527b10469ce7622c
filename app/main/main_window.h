// The main window: where the editing run (paths, GOP list, marks, clip list,
// options), the controls, the preview, the jobs and the busy state meet.
// Each of those lives in a file of its own; this class wires them together
// and handles the commands.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "busy_state.h"
#include "controls.h"
#include "cut_job.h"
#include "detect_job.h"
#include "edit_state.h"
#include "gui_host.h"
#include "kivra.h"
#include "main_controls.h"
#include "navigation.h"
#include "window_places.h"

namespace tavrelcut {

class ErrorInfoWindow;
class InputListWindow;
class JobRunner;
class MessageSink;
class PreviewPane;
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

    QWidget* control(int id) const { return m_ui.byId.value(id); }
    // The output picture window ("View").
    ViewWindow* viewWindow() const;
    // Kivra's read record as last filled (what a redraw draws with).
    const TavrelDecRead& pictureRecord() const;
    const tavrel::EditState& state() const { return m_state; }
    QString iniPath() const { return m_iniPath; }
    // The places of every window, as read at start and handed back at close.
    WindowPlaces& places() { return m_places; }

    // Puts a recording into Input and indexes it as "Get GOP" does.
    void openRecording(const QString& path);

    // --- busy state ---
    // A job, modal window or batch run holds its reason while it lasts.
    void holdBusy(BusyReason r);
    void releaseBusy(BusyReason r);
    bool isBusy() const { return m_busy.blocksWork(); }
    // True while the GOP list on screen was made from the recording in Input.
    bool gopListIsInput() const;

    // --- the job host's side, on the GUI thread ---
    int showMessage(const QString& caption, const QString& text, int kind);
    // A job of this window starts (true) or ends (false).
    void setBusy(bool busy);
    void setProgressRange(int max);
    void setProgressValue(int pos);
    void setInputPathText(const QString& path);
    void setPreviewPacketSize(int size);
    void showGopTime(const QString& text);
    void setSliderRange(int max, int page, int pos);
    // After a failed scan: the GOP list belongs to no recording.
    void dropGopList();
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
    // The input list, made at start and kept for the run.
    InputListWindow* inputList() const { return m_inputList.get(); }

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void loadSettings();
    void connectControls();
    void placeWindows();
    // Every control on or off as the busy reasons and the GOP list want.
    void applyEnabled();
    void transferFromControls();
    void closeSequence();

    void onGetGop();
    void onInput();
    void onOutput();
    void onClipping();
    // "CM": the break detector on the recording in Input; its programme
    // parts become the clip list (after a question when the list holds
    // clips) and its breaks are drawn on the slider.
    void onDetect();
    void takeDetected(const tavrel::detect::DetectResult& result);
    // The breaks on the slider; none clears them.
    void showBreaks(const std::vector<tavrel::detect::Break>& breaks);
    void onOutWindow(bool checked);
    void onSeek();
    void onHelp();
    void onFileInfo();
    // "Option": the sheet on a copy of the settings, taken back on OK.
    void onOption();
    void applyOptions(const tavrel::Settings& chosen);
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
    // A double click on a clip line: its range becomes the marks, so
    // "| <<" and ">> |" step to its edges.
    void markClip(int row);
    void moveSliderTo(int64_t index);
    QString gopTimeAt(int64_t index) const;
    void closePreview();
    void showAbout();
    // A point of the window's own surface: no control under it.
    bool onOwnSurface(const QPoint& pos) const;

    QString m_iniPath;
    tavrel::EditState m_state;
    WindowPlaces m_places;
    GuiHost m_host;
    tavrel::CutJob m_cutJob;
    JobRunner* m_jobs = nullptr;
    BusyState m_busy;
    // The recording the GOP list on screen was made from; empty when the
    // list belongs to none (nothing indexed, a failed scan, a new Input).
    std::string m_listPath;
    std::unique_ptr<MessageSink> m_dialogSink;
    MessageSink* m_sink = nullptr;
    bool m_closed = false;
    bool m_sliderSilent = false;
    bool m_detecting = false;  // the runner holds the detector's job

    MainControls m_ui;
    PreviewPane* m_preview = nullptr;
    SoundPlayer* m_sound = nullptr;
    ErrorInfoWindow* m_errorInfo = nullptr;  // made on the first "Error Info", then kept
    // A window of its own, not a child: its controls are not the main window's.
    std::unique_ptr<InputListWindow> m_inputList;
    WindowMover m_mover;
};

}  // namespace tavrelcut
