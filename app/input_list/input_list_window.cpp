#include "input_list_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <chrono>

#include "control_ids.h"
#include "controls.h"
#include "file.h"
#include "job_runner.h"
#include "main_window.h"
#include "output_file.h"
#include "settings.h"
#include "skin.h"
#include "state_icons.h"
#include "window_places.h"

namespace tavrelcut {

using namespace ids;

namespace {

QString u8(const char* s) { return QString::fromUtf8(s); }

constexpr int kMinWidth = 320;
constexpr int kMinHeight = 260;
constexpr int kMargin = 12;
constexpr int kTop = 8;
constexpr int kGap = 4;
constexpr int kBlinkMs = 700;
constexpr int kScrollMs = 100;
constexpr auto kEntryWait = std::chrono::milliseconds(500);

enum Column { kNameColumn, kSizeColumn, kDateColumn, kPathColumn, kColumnCount };

const QBrush kDropHighlight(QColor(51, 153, 255));

struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// The running program's file name without its extension: the log's name.
std::string programBaseName() {
    std::string name = tavrel::fileNameOf(tavrel::programFilePath());
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

}  // namespace

InputListWindow::InputListWindow(MainWindow* main)
    : QDialog(nullptr),
      m_main(main),
      m_host(this, [main](const QString& caption, const QString& text,
                          int kind) { return main->showMessage(caption, text, kind); }),
      m_jobs(new JobRunner(this)) {
    m_host.setCancelFlag(&m_jobs->cancelFlag());
    setWindowTitle(QStringLiteral("Input"));
    tagControl(this, kInputListWindow, QStringLiteral("Input"));
    setModal(false);
    // No close box: the window lives as long as the main window.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    // Shown beside the main window without taking the keyboard from it.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFont(main->font());
    setMinimumSize(kMinWidth, kMinHeight);
    applySkin(this);
    buildControls();

    m_blink.setInterval(kBlinkMs);
    connect(&m_blink, &QTimer::timeout, this, &InputListWindow::blink);
    m_scrollUp.setInterval(kScrollMs);
    m_scrollDown.setInterval(kScrollMs);
    connect(&m_scrollUp, &QTimer::timeout, this, [this] { scrollStep(-1); });
    connect(&m_scrollDown, &QTimer::timeout, this, [this] { scrollStep(1); });

    place();
    m_listPath = QString::fromStdString(tavrel::inputListPath(main->iniPath().toStdString()));
    loadListFile();
    applyButtons();
    main->installEventFilter(this);
}

InputListWindow::~InputListWindow() { m_jobs->waitAndDrop(); }

void InputListWindow::buildControls() {
    auto button = [this](int id, const char* label, void (InputListWindow::*command)()) {
        QPushButton* b = makeButton(this, id, QString::fromUtf8(label));
        connect(b, &QPushButton::clicked, this, command);
        return b;
    };
    m_getGop = button(kInputGetGop, "Get GOP", &InputListWindow::getGop);
    m_check = button(kInputCheck, "Check", &InputListWindow::check);
    m_add = makeButton(this, kInputAdd, QStringLiteral("Add"));
    // The program's skinned chooser is for one file; "Add" takes several,
    // so it asks Qt's own multi-file dialog.
    connect(m_add, &QPushButton::clicked, this, [this] {
        addPaths(QFileDialog::getOpenFileNames(this, u8("ファイル選択"), QString(), QStringLiteral("Files (*)")));
    });
    m_delete = button(kInputDelete, "Del", &InputListWindow::deleteSelected);
    m_cancel = button(kInputCancel, "Cancel", &InputListWindow::cancel);

    m_list = new QTreeWidget(this);
    tagControl(m_list, kInputList, QStringLiteral("Input"));
    applyListSkin(m_list);
    m_list->setColumnCount(kColumnCount);
    m_list->setHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Date"), QStringLiteral("Path")});
    // The widths are the saved ones; the last column does not stretch.
    m_list->header()->setStretchLastSection(false);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setIconSize(QSize(16, 16));
    // A saved width of 0 or less is shown as 1.
    m_list->header()->setMinimumSectionSize(1);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setAcceptDrops(true);
    m_list->viewport()->setAcceptDrops(true);
    m_list->viewport()->installEventFilter(this);
    connect(m_list, &QTreeWidget::customContextMenuRequested, this, &InputListWindow::showContextMenu);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { openSelected(); });
}

// --- place, size and the list file ---

void InputListWindow::place() {
    const tavrel::WindowSettings& saved = m_main->places().saved();
    for (int c = 0; c < kColumnCount; ++c) m_list->setColumnWidth(c, std::max(1, saved.inputColumns[c]));
    QPoint at;
    QSize size(std::max(kMinWidth, saved.inputWidth), std::max(kMinHeight, saved.inputHeight));
    if (saved.inputLeft >= 0 && saved.inputTop >= 0) {
        at = QPoint(saved.inputLeft, saved.inputTop);
    } else {
        // Beside the main window's right edge, as tall as it. A main window
        // that was only centred (no place of its own saved) moves left, as
        // far as the pair needs to fit the screen, so the list does not
        // cover its "Clipping" and "Close".
        QRect mainFrame = m_main->frameGeometry();
        const QRect area = m_main->screen() ? m_main->screen()->availableGeometry() : QRect();
        const int pairWidth = mainFrame.width() + 3 + size.width();
        if (saved.left == -1 && area.isValid() && mainFrame.right() + 3 + size.width() > area.right()) {
            const int left = std::max(area.left(), area.left() + (area.width() - pairWidth) / 2);
            m_main->move(m_main->pos() + QPoint(left - mainFrame.left(), 0));
            mainFrame = m_main->frameGeometry();
        }
        at = QPoint(mainFrame.right() + 3, mainFrame.top());
        size.setHeight(std::max(kMinHeight, m_main->height()));
    }
    resize(size);
    move(placeOnScreen(at, frameGeometry().size()));
    m_main->places().track(this, [](tavrel::WindowSettings& w, const QWidget& window) {
        const auto& self = static_cast<const InputListWindow&>(window);
        w.inputLeft = self.x();
        w.inputTop = self.y();
        w.inputWidth = self.width();
        w.inputHeight = self.height();
        for (int c = 0; c < kColumnCount; ++c) w.inputColumns[c] = self.m_list->columnWidth(c);
    });
}

void InputListWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // The buttons at their artwork's size, left to right, on as many rows
    // as the width asks for; the list below them follows the window.
    const int w = width() - 2 * kMargin;
    int x = kMargin;
    int y = kTop;
    int rowHeight = 0;
    for (QPushButton* b : {m_getGop, m_check, m_add, m_delete, m_cancel}) {
        const QSize size = b->sizeHint();
        if (x > kMargin && x + size.width() > kMargin + w) {
            x = kMargin;
            y += rowHeight + kGap;
            rowHeight = 0;
        }
        b->setGeometry(x, y, size.width(), size.height());
        x += size.width() + kGap;
        rowHeight = std::max(rowHeight, size.height());
    }
    const int listTop = y + rowHeight + kGap * 2;
    m_list->setGeometry(kMargin, listTop, w, height() - listTop - kMargin);
}

// The list file is read byte by byte as it always was: every line ended by
// a line feed is a path.
void InputListWindow::loadListFile() {
    tavrel::File f;
    std::string bytes;
    bool ok = f.openRead(m_listPath.toStdString());
    while (ok) {
        char buf[65536];
        const int64_t n = f.read(buf, sizeof buf);
        if (n < 0) ok = false;
        if (n <= 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    m_loadFailed = !ok;
    QStringList paths;
    for (const std::string& line : parseInputListFile(bytes)) paths << QString::fromStdString(line);
    addPaths(paths);
}

bool InputListWindow::saveListFile() {
    const std::string text = inputListFileText(m_entries);
    tavrel::OutputFile out;
    return out.create(m_listPath.toStdString()) && out.file().writeAll(text.data(), text.size()) && out.commit();
}

void InputListWindow::closeDown() {
    if (m_closed) return;
    m_closed = true;
    m_jobs->requestCancel();
    m_jobs->waitAndDrop();
    if (m_busy) m_main->releaseBusy(BusyReason::Batch);
    m_busy = false;
    hide();
    if (!saveListFile()) m_main->showMessage(QStringLiteral("error"), u8("入力ファイルリスト保存エラー。"), 0);
}

// --- entries and rows ---

IndexRule InputListWindow::indexRule() const {
    const tavrel::Settings& s = m_main->state().settings;
    return {s.selGop == 1, s.gopFolder};
}

void InputListWindow::addPaths(const QStringList& paths) {
    const IndexRule rule = indexRule();
    for (const QString& path : paths)
        if (auto e = addInputEntry(m_entries, path.toStdString(), rule)) addRow(*e);
    refreshIcons();
}

void InputListWindow::addRow(const InputEntry& e) {
    auto* item =
        new QTreeWidgetItem(QStringList{QString::fromStdString(e.name), QString::fromStdString(sizeText(e.size)),
                                        QString::fromStdString(dateText(e)), QString::fromStdString(e.folder)});
    item->setIcon(kNameColumn, stateIcon(e.state));
    m_list->addTopLevelItem(item);
}

void InputListWindow::refreshIcons() {
    bool working = false;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const int s = m_entries[i]->state;
        working = working || s == kStateWorking || s == kStateWorkingAlt;
        if (QTreeWidgetItem* item = m_list->topLevelItem(static_cast<int>(i))) item->setIcon(kNameColumn, stateIcon(s));
    }
    // Started once and left running, so the rhythm holds while entries
    // come and go.
    if (working && !m_blink.isActive())
        m_blink.start();
    else if (!working)
        m_blink.stop();
}

void InputListWindow::blink() {
    for (const auto& e : m_entries) {
        int s = kStateWorking;
        if (!e->state.compare_exchange_strong(s, kStateWorkingAlt) && s == kStateWorkingAlt)
            e->state.compare_exchange_strong(s, kStateWorking);
    }
    refreshIcons();
}

void InputListWindow::statesChangedElsewhere() {
    if (m_refreshPosted.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_refreshPosted = false;
            refreshIcons();
        },
        Qt::QueuedConnection);
}

std::vector<int> InputListWindow::selectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void InputListWindow::applyButtons() {
    for (QPushButton* b : {m_getGop, m_add, m_delete, m_check}) b->setEnabled(!m_busy);
    m_cancel->setEnabled(m_busy);
}

// --- commands ---

WalkSettings InputListWindow::walkSettings() const {
    const tavrel::Settings& s = m_main->state().settings;
    WalkSettings w;
    w.index = indexRule();
    const auto* reNo = qobject_cast<const QCheckBox*>(m_main->control(kReNo));
    w.renumber = reNo ? reNo->isChecked() : s.reNo != 0;
    w.discontinuity = s.discon == 1;
    w.log = s.debugChk != 0;
    const std::string base = programBaseName();
    // Without the program's name there is no log name, and no log.
    if (!base.empty()) w.logFolder = QFileInfo(m_main->iniPath()).absolutePath().toStdString();
    w.logBase = base;
    return w;
}

// The selected entries in state 0 (and 1 for "Check") are queued; false
// when no row is selected.
bool InputListWindow::queueSelected(bool indexedToo) {
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) return false;
    for (int r : rows) {
        InputEntry& e = *m_entries[static_cast<size_t>(r)];
        int s = kStateNoIndex;
        if (!e.state.compare_exchange_strong(s, kStateQueued) && indexedToo && s == kStateIndexed)
            e.state.compare_exchange_strong(s, kStateQueued);
    }
    m_list->clearSelection();
    refreshIcons();
    return true;
}

void InputListWindow::getGop() {
    if (m_busy) return;
    WaitCursor wait;
    if (queueSelected(false)) startWalk(Walk::Gop);
}

void InputListWindow::check() {
    if (m_busy) return;
    if (queueSelected(true)) startWalk(Walk::Check);
}

void InputListWindow::startWalk(Walk walk) {
    m_busy = true;
    applyButtons();
    m_main->holdBusy(BusyReason::Batch);
    const InputEntries entries = m_entries;
    const WalkSettings settings = walkSettings();
    WalkCallbacks callbacks;
    callbacks.statesChanged = [this] { statesChangedElsewhere(); };
    callbacks.checked = [this](const std::string& path) {
        QMetaObject::invokeMethod(
            this,
            [this, path] {
                // The error view follows the recording open in the main window.
                const auto* input = qobject_cast<const QLineEdit*>(m_main->control(kInputEdit));
                if (input && input->text().toStdString() == path) m_main->refreshErrorInfo();
            },
            Qt::QueuedConnection);
    };
    auto end = std::make_shared<WalkEnd>(WalkEnd::Finished);
    const bool started = m_jobs->start(
        [this, walk, entries, settings, callbacks, end] {
            *end = walk == Walk::Gop ? runGopWalk(entries, settings, m_host, callbacks)
                                     : runCheckWalk(entries, settings, m_host, callbacks);
            return true;
        },
        [this, walk, end](bool) { finishWalk(walk, *end); });
    if (started) return;
    for (const auto& e : entries) {
        int s = kStateQueued;
        e->state.compare_exchange_strong(s, entryIndexExists(e->path, settings.index) ? kStateIndexed : kStateNoIndex);
    }
    m_busy = false;
    applyButtons();
    m_main->releaseBusy(BusyReason::Batch);
    refreshIcons();
    m_main->showMessage(QStringLiteral("error"),
                        walk == Walk::Gop ? u8("ＧＯＰ情報取得スレッドの作成に失敗しました")
                                          : QStringLiteral("Create ErrorCheck Thread Error"),
                        0);
}

void InputListWindow::finishWalk(Walk walk, WalkEnd end) {
    setWindowTitle(QStringLiteral("Input"));
    refreshIcons();
    // A cancelled scan walk is complete too; one an entry stopped is not.
    if (walk == Walk::Gop && end != WalkEnd::Failed)
        m_main->showMessage(QStringLiteral("Info"), QStringLiteral("Complete!"), 0);
    m_busy = false;
    applyButtons();
    m_main->releaseBusy(BusyReason::Batch);
}

void InputListWindow::cancel() {
    if (m_busy) m_jobs->requestCancel();
}

void InputListWindow::deleteSelected() {
    if (m_busy) return;
    const std::vector<int> rows = selectedRows();
    bool failed = false;
    for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
        const std::shared_ptr<InputEntry> e = m_entries[static_cast<size_t>(*r)];
        std::unique_lock<std::timed_mutex> hold(e->lock, std::defer_lock);
        if (!hold.try_lock_for(kEntryWait)) {
            failed = true;
            continue;
        }
        m_entries.erase(m_entries.begin() + *r);
        delete m_list->takeTopLevelItem(*r);
    }
    refreshIcons();
    if (failed) m_main->showMessage(QStringLiteral("error"), QStringLiteral("Many Item Delete Error"), 0);
}

void InputListWindow::refreshStates() {
    refreshInputStates(m_entries, indexRule(), m_busy);
    refreshIcons();
}

void InputListWindow::openSelected() {
    // Not while a cut runs, nor while an open started here still scans.
    if (m_main->isBusy()) return;
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) return;
    InputEntry& e = *m_entries[static_cast<size_t>(rows.front())];
    const bool isIndex = e.path.size() >= 4 && e.path.compare(e.path.size() - 4, 4, ".txt") == 0;
    if (e.state == kStateIndexed && !isIndex && entryIndexExists(e.path, indexRule())) {
        m_main->openRecording(QString::fromStdString(e.path));
        return;
    }
    e.state = kStateNoIndex;
    refreshIcons();
}

void InputListWindow::openFolder() {
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) return;
    const QString folder = QString::fromStdString(m_entries[static_cast<size_t>(rows.front())]->folder);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        m_main->showMessage(QStringLiteral("error"), u8("Explorer オープンエラー"), 0);
}

void InputListWindow::showContextMenu(const QPoint& pos) {
    if (!m_list->itemAt(pos)) return;
    QMenu menu(this);
    menu.setObjectName(QString::number(kInputListMenu));
    auto add = [&menu](int id, const QString& label, bool enabled) {
        QAction* a = menu.addAction(label);
        a->setObjectName(QString::number(id));
        a->setEnabled(enabled);
        return a;
    };
    QAction* getGopItem = add(kInputMenuGetGop, QStringLiteral("Get GOP"), !m_busy);
    QAction* deleteItem = add(kInputMenuDelete, QStringLiteral("Delete"), !m_busy);
    QAction* explorerItem = add(kInputMenuExplorer, QStringLiteral("Explorer"), true);
    QAction* chosen = menu.exec(m_list->viewport()->mapToGlobal(pos));
    if (chosen == getGopItem)
        getGop();
    else if (chosen == deleteItem)
        deleteSelected();
    else if (chosen == explorerItem)
        openFolder();
}

// --- keys, the main window's first show, drops and drags ---

void InputListWindow::keyPressEvent(QKeyEvent* event) {
    // F5 re-derives the states; Enter presses no button here.
    if (event->key() == Qt::Key_F5) {
        refreshStates();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool InputListWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_main) {
        // Shown with the main window (just before it, so the main window
        // keeps the keyboard); a list file that could not be read is said
        // once both are up.
        if (event->type() == QEvent::Show && !m_shownOnce && !m_closed) {
            m_shownOnce = true;
            // Owned by the main window, which runs modally: a window it
            // owns takes input all the same.
            winId();
            if (QWindow* own = windowHandle()) own->setTransientParent(m_main->windowHandle());
            show();
            if (m_loadFailed)
                QMetaObject::invokeMethod(
                    this, [this] { m_main->showMessage(QStringLiteral("error"), u8("入力ファイル読込エラー。"), 0); },
                    Qt::QueuedConnection);
        }
        return false;
    }
    if (watched == m_list->viewport()) return handleViewportEvent(event);
    return QDialog::eventFilter(watched, event);
}

bool InputListWindow::handleViewportEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* e = static_cast<QDropEvent*>(event);
        if (e->mimeData()->hasUrls()) e->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        QStringList paths;
        for (const QUrl& url : e->mimeData()->urls()) {
            // Existing files only: folders are passed over.
            const QString path = url.toLocalFile();
            if (!path.isEmpty() && QFileInfo(path).isFile()) paths << path;
        }
        addPaths(paths);
        e->acceptProposedAction();
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton) {
            m_pressPos = e->position().toPoint();
            m_pressRow = rowAtY(m_pressPos.y());
        }
        return false;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        const QPoint pos = e->position().toPoint();
        if (m_dragging) {
            dragTo(pos);
            return true;
        }
        if (!(e->buttons() & Qt::LeftButton) || m_pressRow < 0) return false;
        if ((pos - m_pressPos).manhattanLength() < QApplication::startDragDistance()) return false;
        if (!dragAllowed()) return false;
        m_dragging = true;
        m_dragRow = m_pressRow;
        m_list->viewport()->grabMouse();
        dragTo(pos);
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        m_pressRow = -1;
        if (!m_dragging || e->button() != Qt::LeftButton) return false;
        const QPoint pos = e->position().toPoint();
        endDrag();
        dropAt(pos);
        return true;
    }
    default: return false;
    }
}

int InputListWindow::rowAtY(int y) const {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QRect r = m_list->visualItemRect(m_list->topLevelItem(i));
        if (r.isValid() && y >= r.top() && y <= r.bottom()) return i;
    }
    return -1;
}

// One row, selected alone, that no walk is working on, while none runs.
bool InputListWindow::dragAllowed() const {
    if (m_busy) return false;
    const std::vector<int> rows = selectedRows();
    if (rows.size() != 1 || rows.front() != m_pressRow) return false;
    const int s = m_entries[static_cast<size_t>(rows.front())]->state;
    return s != kStateWorking && s != kStateWorkingAlt;
}

void InputListWindow::dragTo(const QPoint& pos) {
    m_dragPos = pos;
    QWidget* viewport = m_list->viewport();
    const bool inside = viewport->rect().contains(pos);
    viewport->setCursor(inside ? dragCursor() : QCursor(Qt::ForbiddenCursor));
    const int row = inside ? rowAtY(pos.y()) : -1;
    setDropRow(row);
    // On the top visible row the list scrolls up, on the bottom one down,
    // while there are rows that way.
    const int count = m_list->topLevelItemCount();
    const int top = rowAtY(0);
    const int bottom = rowAtY(viewport->height() - 1);
    if (row >= 0 && row == top && row > 0) {
        if (!m_scrollUp.isActive()) m_scrollUp.start();
    } else {
        m_scrollUp.stop();
    }
    if (row >= 0 && row == bottom && bottom < count - 1) {
        if (!m_scrollDown.isActive()) m_scrollDown.start();
    } else {
        m_scrollDown.stop();
    }
}

void InputListWindow::scrollStep(int direction) {
    const int top = rowAtY(0);
    const int bottom = rowAtY(m_list->viewport()->height() - 1);
    if (direction < 0 && top > 0)
        m_list->scrollToItem(m_list->topLevelItem(top - 1), QAbstractItemView::PositionAtTop);
    else if (direction > 0 && bottom >= 0 && bottom + 1 < m_list->topLevelItemCount())
        m_list->scrollToItem(m_list->topLevelItem(bottom + 1), QAbstractItemView::PositionAtBottom);
    dragTo(m_dragPos);
}

void InputListWindow::setDropRow(int row) {
    if (row == m_dropRow) return;
    auto paint = [this](int r, const QBrush& brush) {
        if (QTreeWidgetItem* item = m_list->topLevelItem(r))
            for (int c = 0; c < kColumnCount; ++c) item->setBackground(c, brush);
    };
    if (m_dropRow >= 0) paint(m_dropRow, QBrush());
    m_dropRow = row;
    if (row >= 0) paint(row, kDropHighlight);
}

void InputListWindow::endDrag() {
    m_dragging = false;
    m_scrollUp.stop();
    m_scrollDown.stop();
    setDropRow(-1);
    m_list->viewport()->releaseMouse();
    m_list->viewport()->unsetCursor();
}

// On a row: just before it; below the last row: at the end; elsewhere
// nothing moves.
void InputListWindow::dropAt(const QPoint& pos) {
    const int from = m_dragRow;
    m_dragRow = -1;
    const int count = static_cast<int>(m_entries.size());
    if (from < 0 || from >= count || !m_list->viewport()->rect().contains(pos)) return;
    const int row = rowAtY(pos.y());
    const int to = moveLanding(from, row >= 0 ? row : count, count);
    QTreeWidgetItem* item = m_list->topLevelItem(from);
    if (to >= 0) {
        const std::shared_ptr<InputEntry> e = m_entries[static_cast<size_t>(from)];
        std::unique_lock<std::timed_mutex> hold(e->lock, std::defer_lock);
        if (!hold.try_lock_for(kEntryWait)) return;
        moveInputEntry(m_entries, from, to);
        m_list->takeTopLevelItem(from);
        m_list->insertTopLevelItem(to, item);
    }
    m_list->clearSelection();
    m_list->setCurrentItem(item);
    item->setSelected(true);
}

}  // namespace tavrelcut
