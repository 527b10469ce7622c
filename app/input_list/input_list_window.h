// "Input": the input list, a window of its own that the main window makes
// at start and keeps for the run. It keeps recordings from one run to the
// next (the list file beside the settings file), shows whether each has its
// GOP index file, and runs two batch walks over the rows the user selects on
// a runner of its own: "Get GOP" writes the GOP index files, "Check" the
// error files. Its messages go through the main window's message box; while
// a walk runs the main window cannot be closed.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <memory>

#include "input_entries.h"
#include "input_walks.h"
#include "window_host.h"

class QPushButton;
class QTreeWidget;

namespace tavrelcut {

class JobRunner;
class MainWindow;

class InputListWindow : public QDialog {
    Q_OBJECT
public:
    // Builds the window (a top-level window of its own, owned by main),
    // takes its place and column widths from the main
    // window's saved places and reads the list file. It is shown with the
    // main window; a list file that could not be read is reported then.
    explicit InputListWindow(MainWindow* main);
    ~InputListWindow() override;

    // Each path through the entry rules, in order (Add, drops, the list file).
    void addPaths(const QStringList& paths);
    const InputEntries& entries() const { return m_entries; }
    QTreeWidget* list() const { return m_list; }
    // A walk runs.
    bool isBusy() const { return m_busy; }
    // The path the list file is read from and written to.
    QString listFilePath() const { return m_listPath; }

    // The commands, as the buttons, the menu and the keys give them.
    void getGop();
    void check();
    void cancel();
    void deleteSelected();
    void refreshStates();
    void openSelected();
    void openFolder();

    // The main window's close: a walk still running is cancelled and waited
    // for, the window goes, and the list file is written anew.
    void closeDown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

public slots:
    // The window stays for the whole run: Escape does not hide it.
    void reject() override {}

private:
    enum class Walk { Gop, Check };

    void buildControls();
    void place();
    void loadListFile();
    bool saveListFile();
    void addRow(const InputEntry& e);
    void applyButtons();
    // The icons from the states; the blink runs while an entry is working.
    void refreshIcons();
    void blink();
    // From a walk's thread: the icons are refreshed once on the window's.
    void statesChangedElsewhere();
    IndexRule indexRule() const;
    WalkSettings walkSettings() const;
    std::vector<int> selectedRows() const;
    bool queueSelected(bool indexedToo);
    void startWalk(Walk walk);
    void finishWalk(Walk walk, WalkEnd end);
    void showContextMenu(const QPoint& pos);

    // Dragging a row to a new place.
    int rowAtY(int y) const;
    bool dragAllowed() const;
    void dragTo(const QPoint& pos);
    void dropAt(const QPoint& pos);
    void endDrag();
    void setDropRow(int row);
    void scrollStep(int direction);
    bool handleViewportEvent(QEvent* event);

    MainWindow* m_main;
    WindowHost m_host;
    JobRunner* m_jobs;
    InputEntries m_entries;
    QString m_listPath;
    bool m_busy = false;
    bool m_loadFailed = false;
    bool m_shownOnce = false;
    bool m_closed = false;
    std::atomic<bool> m_refreshPosted{false};

    QTreeWidget* m_list = nullptr;
    QPushButton* m_getGop = nullptr;
    QPushButton* m_check = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_cancel = nullptr;
    QTimer m_blink;

    int m_pressRow = -1;
    QPoint m_pressPos;
    bool m_dragging = false;
    int m_dragRow = -1;
    int m_dropRow = -1;
    QPoint m_dragPos;
    QTimer m_scrollUp;
    QTimer m_scrollDown;
};

}  // namespace tavrelcut
