#include "main_window.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QUrl>
#include <algorithm>

#include "about_box.h"
#include "app_settings.h"
#include "bitmap_button.h"
#include "clip_list.h"
#include "control_ids.h"
#include "error_info_window.h"
#include "file_chooser.h"
#include "file_info.h"
#include "file_info_dialog.h"
#include "gop_scan.h"
#include "input_list_window.h"
#include "job_runner.h"
#include "message_box.h"
#include "option_sheet.h"
#include "preview.h"
#include "preview_pane.h"
#include "skin.h"
#include "skin_slider.h"
#include "sound.h"

namespace tavrelcut {

using namespace ids;

namespace {

const QString kTitle = QStringLiteral("Tavrel Cutter");

QString u8(const char* s) { return QString::fromUtf8(s); }

// Command of the About item in the window's own menu.
constexpr int kCmdAbout = 16;

// The wait cursor for the life of a long handler.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

MainWindow::MainWindow(const QString& iniPath, QWidget* parent)
    : QDialog(parent), m_iniPath(iniPath), m_host(this), m_dialogSink(std::make_unique<DialogMessageSink>()) {
    m_sink = m_dialogSink.get();
    QFont f = font();
    f.setFamilies({u8("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")});
    f.setPointSize(9);
    setFont(f);

    setWindowIcon(programIcon());
    // The tiled background with white texts on it.
    applySkin(this);
    loadSettings();
    m_ui.build(this, m_state.settings);
    m_preview = new PreviewPane(this, m_ui.picture, m_state.settings);
    m_jobs = new JobRunner(this);
    m_host.setCancelFlag(&m_jobs->cancelFlag());
    m_sound = new SoundPlayer(this);
    connectControls();

    // Start-up state: nothing indexed, so navigation and the clip list off.
    m_state.inMark = -1;
    m_state.outMark = -1;
    m_state.streamVideoPid = 0xFFFF;
    m_ui.reNo->setChecked(m_state.settings.reNo != 0);
    m_ui.outWindow->setChecked(m_state.settings.outWnd == 1);
    m_ui.outputEdit->setText(QString::fromStdString(m_state.outputPath));
    applyEnabled();
    setWindowTitle(kTitle);
    placeWindows();
    m_inputList = std::make_unique<InputListWindow>(this);
    if (m_state.settings.outWnd == 1) m_preview->setOutWindow(true);
}

MainWindow::~MainWindow() {
    closeSequence();
    delete m_preview;
}

void MainWindow::setMessageSink(MessageSink* sink) { m_sink = sink ? sink : m_dialogSink.get(); }

ViewWindow* MainWindow::viewWindow() const { return m_preview->view(); }

const TavrelDecRead& MainWindow::pictureRecord() const { return m_preview->record(); }

// --- settings and places ---

// The one settings record: the options become the run's live settings, the
// paths and geometry the run's own, the places go to the window places.
void MainWindow::loadSettings() {
    tavrel::SettingsRecord record = loadAppSettings(m_iniPath);
    m_state.settings = std::move(record.options);
    m_state.outputPath = std::move(record.outputPath);
    m_state.inputPath.clear();
    m_state.geometry = record.geometry;
    m_places.setSaved(record.windows);
}

void MainWindow::placeWindows() {
    adjustSize();
    const tavrel::WindowSettings& saved = m_places.saved();
    const QRect screen = this->screen() ? this->screen()->geometry() : QRect(0, 0, 1024, 768);
    if (saved.left == -1 || saved.top == -1 || saved.left > screen.width() || saved.top > screen.height())
        move(screen.center() - QPoint(sizeHint().width() / 2, sizeHint().height() / 2));
    else
        move(placeOnScreen(QPoint(saved.left, saved.top), frameGeometry().size()));
    ViewWindow* view = m_preview->view();
    const QPoint viewAt =
        saved.viewLeft < 0 || saved.viewTop < 0 ? QPoint(0, 0) : QPoint(saved.viewLeft, saved.viewTop);
    view->move(placeOnScreen(viewAt, view->frameGeometry().size()));

    m_places.track(this, [](tavrel::WindowSettings& w, const QWidget& window) {
        w.left = window.x();
        w.top = window.y();
    });
    m_places.track(view, [](tavrel::WindowSettings& w, const QWidget& window) {
        w.viewLeft = window.x();
        w.viewTop = window.y();
    });
}

void MainWindow::transferFromControls() {
    m_state.inputPath = m_ui.inputEdit->text().toStdString();
    m_state.outputPath = m_ui.outputEdit->text().toStdString();
    m_state.settings.reNo = m_ui.reNo->isChecked() ? 1 : 0;
    m_state.settings.outWnd = m_ui.outWindow->isChecked() ? 1 : 0;
}

// --- controls ---

void MainWindow::connectControls() {
    connect(m_preview, &PreviewPane::focusWanted, this, &MainWindow::focusSlider);
    connect(m_ui.slider, &QSlider::valueChanged, this, [this] {
        if (!m_sliderSilent) onSliderMoved();
    });
    for (const auto& [id, s] : m_ui.steps) {
        auto* b = qobject_cast<QPushButton*>(m_ui.byId.value(id));
        connect(b, &QPushButton::clicked, this, [this, s = s] { step(s); });
        if (auto* sb = qobject_cast<StepButton*>(b)) connect(sb, &StepButton::step, this, [this, s = s] { step(s); });
    }
    connect(m_ui.button(kInMark), &QPushButton::clicked, this, &MainWindow::setInMark);
    connect(m_ui.button(kOutMark), &QPushButton::clicked, this, &MainWindow::setOutMark);
    connect(m_ui.button(kAddClip), &QPushButton::clicked, this, &MainWindow::onAddClip);
    connect(m_ui.button(kGetGop), &QPushButton::clicked, this, &MainWindow::onGetGop);
    connect(m_ui.outWindow, &QCheckBox::clicked, this, &MainWindow::onOutWindow);
    connect(m_ui.button(kSeekButton), &QPushButton::clicked, this, &MainWindow::onSeek);
    connect(m_ui.button(kDeleteClip), &QPushButton::clicked, this, &MainWindow::onDeleteClip);
    connect(m_ui.button(kClipUp), &QPushButton::clicked, this, [this] { onMoveClip(true); });
    connect(m_ui.button(kClipDown), &QPushButton::clicked, this, [this] { onMoveClip(false); });
    connect(m_ui.clipList, &QListWidget::currentRowChanged, this, [this](int row) { m_state.clipList.selected = row; });
    connect(m_ui.button(kInputButton), &QPushButton::clicked, this, &MainWindow::onInput);
    // Whatever puts another path into Input (the chooser, a drop) takes the
    // GOP list of the old one off the controls.
    connect(m_ui.inputEdit, &QLineEdit::textChanged, this, &MainWindow::applyEnabled);
    connect(m_ui.button(kOutputButton), &QPushButton::clicked, this, &MainWindow::onOutput);
    connect(m_ui.button(kOption), &QPushButton::clicked, this, &MainWindow::onOption);
    connect(m_ui.button(kFileInfo), &QPushButton::clicked, this, &MainWindow::onFileInfo);
    connect(m_ui.button(kErrorInfo), &QPushButton::clicked, this, &MainWindow::showErrorInfo);
    connect(m_ui.button(kClipping), &QPushButton::clicked, this, &MainWindow::onClipping);
    connect(m_ui.button(kDetect), &QPushButton::clicked, this, &MainWindow::onDetect);
    connect(m_ui.clipList, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { markClip(m_ui.clipList->row(item)); });
    connect(m_ui.button(kClose), &QPushButton::clicked, this, &MainWindow::reject);

    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, &MainWindow::onHelp);
}

// --- busy state ---

bool MainWindow::gopListIsInput() const {
    return !m_listPath.empty() && m_listPath == m_ui.inputEdit->text().toStdString();
}

void MainWindow::applyEnabled() {
    const bool listIsInput = gopListIsInput();
    for (int id : kBusySet)
        if (QWidget* w = m_ui.byId.value(id)) w->setEnabled(m_busy.enables(id, listIsInput));
}

void MainWindow::holdBusy(BusyReason r) {
    m_busy.hold(r);
    applyEnabled();
}

void MainWindow::releaseBusy(BusyReason r) {
    m_busy.release(r);
    applyEnabled();
}

// --- host side ---

int MainWindow::showMessage(const QString& caption, const QString& text, int kind) {
    return m_sink->ask(this, caption, text, kind);
}

void MainWindow::setBusy(bool busy) {
    if (busy)
        holdBusy(BusyReason::Job);
    else
        releaseBusy(BusyReason::Job);
}

void MainWindow::setProgressRange(int max) { m_ui.progress->setRange(0, qMax(0, max)); }

void MainWindow::setProgressValue(int pos) { m_ui.progress->setValue(pos); }

void MainWindow::setInputPathText(const QString& path) { m_ui.inputEdit->setText(path); }

void MainWindow::setPreviewPacketSize(int size) { SetPackSize(size); }

void MainWindow::showGopTime(const QString& text) { m_ui.timeLabel->setText(text); }

void MainWindow::setSliderRange(int max, int page, int pos) {
    m_sliderSilent = true;
    m_ui.slider->setRange(0, max);
    m_ui.slider->setPageStep(page);
    m_ui.slider->setValue(pos);
    m_sliderSilent = false;
}

void MainWindow::dropGopList() {
    m_listPath.clear();
    showBreaks({});
    applyEnabled();
}

void MainWindow::showScanLabels(const tavrel::ScanFinishInfo& info) {
    m_ui.packetLabel->setText(QString::number(info.packetSize));
    m_ui.pidLabel->setText(QStringLiteral("%1").arg(info.videoPid & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper());
    m_ui.marginLabel->setText(QString::number(info.marginFront));
    m_ui.marginBackLabel->setText(QString::number(info.marginBack));
}

// The keyboard goes to the slider even when the output picture window was
// clicked last: the main window becomes the active one again.
void MainWindow::focusSlider() {
    if (m_state.settings.setFcSlider == 0) return;
    if (isVisible() && !isActiveWindow()) activateWindow();
    m_ui.slider->setFocus(Qt::OtherFocusReason);
}

bool MainWindow::startSound(const QString& path, std::function<void()> done) {
    if (!m_sound->play(path)) return false;
    auto conn = std::make_shared<QMetaObject::Connection>();
    *conn = connect(m_sound, &SoundPlayer::finished, this, [conn, done = std::move(done)] {
        QObject::disconnect(*conn);
        done();
    });
    return true;
}

// --- preview ---

void MainWindow::closePreview() {
    m_preview->close();
    m_ui.inLabel->clear();
    m_ui.outLabel->clear();
}

void MainWindow::showGop() {
    if (!m_preview->isOpen()) {
        showMessage(QStringLiteral("error"), u8("ビデオ表示ファイルがオープンされていません"), 0);
        return;
    }
    if (m_state.gopList.empty()) return;
    const auto request = tavrel::previewRequest(m_state, m_ui.slider->value(), m_preview->pictureOptions());
    if (!request) {
        m_preview->clear();
        return;
    }
    m_ui.pidLabel->setText(QStringLiteral("%1").arg(request->videoPid & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper());
    m_preview->request(*request);
}

// --- navigation ---

QString MainWindow::gopTimeAt(int64_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= m_state.gopList.size()) return {};
    return QString::fromLatin1(tavrel::gopTimeText(m_state.gopList[size_t(index)], m_state.settings.timeVopt));
}

void MainWindow::moveSliderTo(int64_t index) {
    m_sliderSilent = true;
    m_ui.slider->setValue(int(index));
    m_sliderSilent = false;
}

void MainWindow::step(tavrel::Step s) {
    const auto target = tavrel::stepTarget(s, m_ui.slider->value(), int64_t(m_state.gopList.size()),
                                           m_state.settings.ctGopMv, m_state.inMark, m_state.outMark);
    if (target) {
        moveSliderTo(*target);
        m_ui.timeLabel->setText(gopTimeAt(*target));
        showGop();
    }
    focusSlider();
}

void MainWindow::onSliderMoved() {
    if (!m_state.gopList.empty()) m_ui.timeLabel->setText(gopTimeAt(m_ui.slider->value()));
    showGop();
}

void MainWindow::showMarkedRange() {
    auto* slider = qobject_cast<SkinSlider*>(m_ui.slider);
    if (!slider) return;
    if (m_state.inMark >= 0 && m_state.outMark >= 0)
        slider->setSelection(int(m_state.inMark), int(m_state.outMark));
    else
        slider->clearSelection();
}

void MainWindow::setInMark() {
    m_state.inMark = m_ui.slider->value();
    showMarkedRange();
    m_ui.inLabel->setText(gopTimeAt(m_state.inMark));
    focusSlider();
}

void MainWindow::setOutMark() {
    m_state.outMark = m_ui.slider->value();
    showMarkedRange();
    m_ui.outLabel->setText(gopTimeAt(m_state.outMark));
    focusSlider();
}

bool MainWindow::showGopOfPacket(int64_t packet) {
    WaitCursor wait;
    if (m_state.gopList.size() < 2) return false;
    const int64_t i = tavrel::gopOfPacket(m_state.gopList, packet);
    if (i < 0) return false;
    moveSliderTo(i);
    m_ui.timeLabel->setText(gopTimeAt(i));
    showGop();
    return true;
}

void MainWindow::onSeek() {
    WaitCursor wait;
    transferFromControls();
    // Leading digits as a packet number (blanks before them are skipped);
    // nothing numeric is packet 0.
    const QString text = m_ui.seekEdit->text().trimmed();
    int64_t packet = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9') || packet > (INT64_MAX - 9) / 10) break;
        packet = packet * 10 + (c.unicode() - '0');
    }
    showGopOfPacket(packet);
}

// --- clip list ---

void MainWindow::refreshClipList() {
    const tavrel::ClipList& list = m_state.clipList;
    const int selected = list.selected;
    QSignalBlocker block(m_ui.clipList);
    m_ui.clipList->clear();
    for (const std::string& line : list.lines) m_ui.clipList->addItem(QString::fromStdString(line));
    if (selected >= 0 && selected < m_ui.clipList->count())
        m_ui.clipList->setCurrentRow(selected);
    else
        m_ui.clipList->setCurrentRow(-1);
}

void MainWindow::onAddClip() {
    transferFromControls();
    // A clip is made of the GOP list on screen and the path in Input: they
    // must be of one recording.
    if (!gopListIsInput()) return;
    if (tavrel::addClip(m_state, m_host)) {
        m_state.clipList.selected = m_ui.clipList->currentRow();
        refreshClipList();
    }
}

void MainWindow::onDeleteClip() {
    QListWidgetItem* current = m_ui.clipList->currentItem();
    m_state.clipList.selected = current && current->isSelected() ? m_ui.clipList->currentRow() : -1;
    if (tavrel::deleteClip(m_state, m_host)) refreshClipList();
}

void MainWindow::onMoveClip(bool up) {
    QListWidgetItem* current = m_ui.clipList->currentItem();
    m_state.clipList.selected = current && current->isSelected() ? m_ui.clipList->currentRow() : -1;
    const bool moved = up ? tavrel::moveClipUp(m_state, m_host) : tavrel::moveClipDown(m_state, m_host);
    if (moved) refreshClipList();
}

void MainWindow::markClip(int row) {
    if (isBusy() || !gopListIsInput() || row < 0 || static_cast<size_t>(row) >= m_state.clipList.count()) return;
    const tavrel::Clip& clip = m_state.clipList.clips[static_cast<size_t>(row)];
    // A clip of another recording has no place on this slider.
    if (clip.sourcePath != m_listPath) return;
    m_state.inMark = clip.inIndex;
    m_state.outMark = clip.outIndex;
    showMarkedRange();
    m_ui.inLabel->setText(gopTimeAt(m_state.inMark));
    m_ui.outLabel->setText(gopTimeAt(m_state.outMark));
    moveSliderTo(m_state.inMark);
    m_ui.timeLabel->setText(gopTimeAt(m_state.inMark));
    showGop();
    focusSlider();
}

// --- jobs ---

void MainWindow::openRecording(const QString& path) {
    m_ui.inputEdit->setText(path);
    onGetGop();
}

void MainWindow::onGetGop() {
    if (isBusy()) return;
    closePreview();
    m_preview->clear();
    transferFromControls();
    if (m_state.inputPath.empty()) return;
    m_preview->open(m_state.inputPath);
    m_state.inMark = -1;
    m_state.outMark = -1;
    showMarkedRange();
    showBreaks({});
    // The list is rebuilt from here on: it belongs to no recording until the
    // scan has succeeded.
    m_listPath.clear();
    setBusy(true);
    const std::string path = m_state.inputPath;
    const bool started = m_jobs->start([this] { return tavrel::runGopScanJob(m_state, m_host); },
                                       [this, path](bool ok) {
                                           if (ok) m_listPath = path;
                                           tavrel::finishGopScan(m_state, m_host, ok);
                                       },
                                       QThread::HighestPriority);
    if (!started) {
        setBusy(false);
        showMessage(QStringLiteral("error"), u8("ＧＯＰ情報取得スレッドの作成に失敗しました"), 0);
    }
}

void MainWindow::onClipping() {
    if (isBusy()) return;
    transferFromControls();
    if (!tavrel::startCutJob(m_state, m_host, m_ui.out188->isChecked(), m_cutJob)) return;
    setBusy(true);
    const bool started =
        m_jobs->start([this] { return tavrel::runCutJob(m_state, m_host, m_cutJob) == tavrel::CutOutcome::Completed; },
                      [this](bool) { tavrel::finishCutJob(m_host, m_cutJob); });
    if (!started) tavrel::finishCutJob(m_host, m_cutJob);
}

void MainWindow::onDetect() {
    if (isBusy()) return;
    transferFromControls();
    // The detector reads the recording by the GOP list on screen: it must be
    // the recording's in Input (else the button is off).
    if (m_state.inputPath.empty() || !gopListIsInput()) return;
    setBusy(true);
    m_detecting = true;
    auto result = std::make_shared<tavrel::detect::DetectResult>();
    const bool started = m_jobs->start(
        [this, result] {
            return tavrel::detect::runDetectJob(m_state, m_host, *result) == tavrel::detect::DetectStatus::Ok;
        },
        [this, result](bool ok) {
            m_detecting = false;
            // The failures have had their message from the job.
            if (ok) takeDetected(*result);
            setProgressValue(0);
            setBusy(false);
        });
    if (!started) {
        m_detecting = false;
        setBusy(false);
        showMessage(QStringLiteral("error"), u8("CM 検出スレッドの作成に失敗しました"), 0);
    }
}

// Each programme part [in, out) becomes the clip that marks at in and out
// give without margins: what `tavrelcut-cli cut FILE:IN:OUT` of the
// detector's lines cuts. The breaks are drawn whatever the answer.
void MainWindow::takeDetected(const tavrel::detect::DetectResult& result) {
    showBreaks(result.breaks);
    if (!m_state.clipList.empty() &&
        showMessage(QStringLiteral("question"), u8("クリップリストを検出した本編で置き換えますか？"),
                    static_cast<int>(tavrel::MsgKind::YesNo)) != tavrel::kResultYes)
        return;
    tavrel::EditState& s = m_state;
    const int64_t inMark = s.inMark, outMark = s.outMark;
    const int32_t front = s.settings.pacMargin, back = s.settings.pacMarginBack;
    s.settings.pacMargin = 0;
    s.settings.pacMarginBack = 0;
    s.clipList = {};
    // A part to the end closes at the LAST entry; a list without one ends
    // at its last GOP.
    const int64_t highest = static_cast<int64_t>(s.gopList.size()) - 1;
    for (const tavrel::detect::Part& part : result.parts) {
        s.inMark = part.inGop;
        s.outMark = std::min(part.outGop, highest);
        if (!tavrel::addClip(s, m_host)) break;
    }
    s.inMark = inMark;
    s.outMark = outMark;
    s.settings.pacMargin = front;
    s.settings.pacMarginBack = back;
    refreshClipList();
}

void MainWindow::showBreaks(const std::vector<tavrel::detect::Break>& breaks) {
    auto* slider = qobject_cast<SkinSlider*>(m_ui.slider);
    if (!slider) return;
    QList<QPair<int, int>> spans;
    // A break [first, end) shows up to its last GOP.
    for (const tavrel::detect::Break& b : breaks)
        spans.push_back({static_cast<int>(b.firstGop), static_cast<int>(std::max(b.firstGop, b.endGop - 1))});
    slider->setSpans(spans);
}

// --- diagnostics ---

void MainWindow::showErrorInfo() {
    WaitCursor wait;
    transferFromControls();
    const QString path = QString::fromStdString(tavrel::errorFilePath(m_state.inputPath));
    if (m_state.inputPath.empty() || !QFileInfo(path).isFile()) {
        if (m_errorInfo && m_errorInfo->isVisible())
            m_errorInfo->clear();
        else
            showMessage(QStringLiteral("error"), u8("エラー情報ファイルがありません！"), 0);
        return;
    }
    if (!m_errorInfo) {
        m_errorInfo = new ErrorInfoWindow(this);
        connect(m_errorInfo, &ErrorInfoWindow::packetChosen, this, [this](qint64 packet) {
            // The GOP list is the scan's while it runs, and another file's
            // after a new Input.
            if (!isBusy() && gopListIsInput()) showGopOfPacket(packet);
        });
        const tavrel::WindowSettings& saved = m_places.saved();
        if (saved.errorInfoLeft >= 0 || saved.errorInfoTop >= 0)
            m_errorInfo->move(
                placeOnScreen(QPoint(saved.errorInfoLeft, saved.errorInfoTop), m_errorInfo->frameGeometry().size()));
        m_places.track(m_errorInfo, [](tavrel::WindowSettings& w, const QWidget& window) {
            w.errorInfoLeft = window.x();
            w.errorInfoTop = window.y();
            w.errorInfoPlaced = true;
        });
    }
    // A file that cannot be read as an error file leaves the tree as it was.
    m_errorInfo->load(path);
    m_errorInfo->show();
    m_errorInfo->raise();
}

void MainWindow::refreshErrorInfo() {
    if (m_errorInfo && m_errorInfo->isVisible()) showErrorInfo();
}

void MainWindow::onFileInfo() {
    if (isBusy()) return;
    int64_t startPacket = 0;
    const int at = m_ui.slider->value();
    // The GOP under the slider is a packet of Input only while the list is
    // Input's; another file is read from its start.
    if (m_preview->isOpen() && gopListIsInput() && at >= 0 && at < static_cast<int>(m_state.gopList.size()))
        startPacket = m_state.gopList[static_cast<size_t>(at)].packet;
    transferFromControls();
    if (m_state.inputPath.empty()) return;
    {
        WaitCursor wait;
        if (!tavrel::acquireFileInfoPrograms(m_state, m_host, startPacket)) return;
    }
    setBusy(true);
    auto text = std::make_shared<std::optional<std::string>>();
    const bool started = m_jobs->start(
        [this, text, startPacket] {
            *text = tavrel::runFileInfoPasses(m_state, m_host, startPacket);
            return text->has_value();
        },
        [this, text](bool ok) {
            // The dialog holds its own reason: the passes have ended.
            holdBusy(BusyReason::Modal);
            setBusy(false);
            if (ok) {
                FileInfoDialog dialog(this, QString::fromStdString(**text));
                dialog.exec();
            }
            m_state.fileInfoPidList.clear();
            releaseBusy(BusyReason::Modal);
        });
    if (!started) {
        m_state.fileInfoPidList.clear();
        setBusy(false);
        showMessage(QStringLiteral("error"), u8("TS File 情報取得スレッドの作成に失敗しました"), 0);
    }
}

void MainWindow::onInput() {
    const QString chosen =
        chooseFile(this, {u8("ファイル選択"), m_ui.inputEdit->text(), ChooserKind::ExistingFile, {}});
    if (!chosen.isEmpty()) m_ui.inputEdit->setText(chosen);
    // Navigation and the clip list stay off until the next "Get GOP".
    dropGopList();
}

void MainWindow::onOutput() {
    const QString chosen = chooseFile(this, {u8("ファイル選択"), m_ui.outputEdit->text(), ChooserKind::AnyFile, {}});
    if (!chosen.isEmpty()) m_ui.outputEdit->setText(chosen);
}

void MainWindow::onOption() {
    if (isBusy()) return;
    transferFromControls();
    // "Get PID" reads from the GOP under the slider, while the list on
    // screen is Input's; else from the start of the file.
    const int at = m_ui.slider->value();
    const bool onGop = gopListIsInput() && at >= 0 && static_cast<size_t>(at) < m_state.gopList.size();
    m_state.currentPacket = onGop ? m_state.gopList[static_cast<size_t>(at)].packet : 0;
    OptionSheetHost host;
    host.messages = [this](const QString& caption, const QString& text, int kind) {
        return showMessage(caption, text, kind);
    };
    host.getPids = [this] { acquirePidListAside(m_state, m_host); };
    tavrel::Settings chosen;
    holdBusy(BusyReason::Modal);
    const bool ok = runOptionSheet(this, m_state, host, chosen);
    releaseBusy(BusyReason::Modal);
    if (ok) applyOptions(chosen);
}

// The margins on screen, the LR buttons' repeat at once, and the output
// picture window at the custom width.
void MainWindow::applyOptions(const tavrel::Settings& chosen) {
    m_state.settings = chosen;
    m_ui.marginLabel->setText(QString::number(chosen.pacMargin));
    m_ui.marginBackLabel->setText(QString::number(chosen.pacMarginBack));
    m_ui.setRepeat(chosen.repeat != 0);
    m_preview->sendSizeMode(chosen.cSize);
}

void MainWindow::onOutWindow(bool checked) {
    transferFromControls();
    m_preview->setOutWindow(checked);
    if (m_preview->isOpen()) showGop();
    if (checked) m_ui.picture->clear();
}

void MainWindow::onHelp() {
    const QString path = helpFilePath();
    if (path.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        showMessage(QStringLiteral("error"), u8("ヘルプファイルが見つかりません。"), 0);
}

// --- keys, drops and closing ---

void MainWindow::keyPressEvent(QKeyEvent* e) {
    // Enter never closes the window nor presses a button.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

// Escape, "Close" and the close box: refused while a job runs.
void MainWindow::reject() {
    if (m_busy.blocksClose() || !control(kClose)->isEnabled()) return;
    closeSequence();
    QDialog::reject();
}

// --- the window's own surface: moving it and the About item ---

bool MainWindow::onOwnSurface(const QPoint& pos) const {
    for (QWidget* c = childAt(pos); c && c != this; c = c->parentWidget()) {
        if (qobject_cast<QAbstractButton*>(c) || qobject_cast<QAbstractSlider*>(c) || qobject_cast<QLineEdit*>(c) ||
            qobject_cast<QAbstractItemView*>(c) || qobject_cast<QProgressBar*>(c))
            return false;
    }
    return true;
}

void MainWindow::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && onOwnSurface(e->position().toPoint())) {
        m_mover.press(this, e);
        e->accept();
        return;
    }
    QDialog::mousePressEvent(e);
}

void MainWindow::mouseMoveEvent(QMouseEvent* e) {
    if (!m_mover.move(this, e)) QDialog::mouseMoveEvent(e);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) m_mover.release();
    QDialog::mouseReleaseEvent(e);
}

// The About item lives in a menu of the window's own surface: window
// managers do not let a program add items to their window menu.
void MainWindow::contextMenuEvent(QContextMenuEvent* e) {
    if (!onOwnSurface(e->pos())) {
        e->ignore();
        return;
    }
    QMenu menu(this);
    QAction* about = menu.addAction(QStringLiteral("Tavrel Cutter Info(&A)..."));
    about->setObjectName(QString::number(kCmdAbout));
    if (menu.exec(e->globalPos()) == about) showAbout();
}

void MainWindow::showAbout() {
    AboutBox box(this);
    box.exec();
}

// The one path back to the settings file: the live settings, the run's
// paths and geometry, and every window's place.
void MainWindow::closeSequence() {
    if (m_closed) return;
    m_closed = true;
    transferFromControls();
    // The detector stops early when the window goes away while it reads.
    if (m_detecting) m_jobs->requestCancel();
    m_jobs->waitAndDrop();
    tavrel::SettingsRecord record;
    record.options = m_state.settings;
    record.inputPath = m_state.inputPath;
    record.outputPath = m_state.outputPath;
    record.geometry = m_state.geometry;
    record.windows = m_places.handBack();
    saveAppSettings(m_iniPath, record);
    m_inputList->closeDown();
    closePreview();
    m_preview->view()->hide();
}

}  // namespace tavrelcut
