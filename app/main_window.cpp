#include "main_window.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
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
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include "about_box.h"
#include "bitmap_button.h"
#include "clip_list.h"
#include "controls.h"
#include "error_info_window.h"
#include "file_info.h"
#include "file_info_dialog.h"
#include "gop_scan.h"
#include "message_box.h"
#include "preview.h"
#include "skin.h"
#include "skin_slider.h"
#include "sound.h"

namespace tavrelcut {

namespace {

constexpr int kPictureWidth = 270;
constexpr int kPictureHeight = 202;
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

const QList<int>& MainWindow::busyIds() {
    static const QList<int> ids = {1000, 1001, 1014, 1015, 1002, 1013, 1006, 1007, 1004, 1005,
                                   1009, 1016, 1017, 1018, 1003, 1010, 2,    1086, 1087, 1095,
                                   1041, 1083, 1090, 1091, 1038, 1042, 1008, 1012, 1081, 1045};
    return ids;
}

const QList<int>& MainWindow::navigationIds() {
    static const QList<int> ids = {1003, 1004, 1005, 1006, 1007, 1008, 1012, 1038, 1041, 1042, 1083, 1090, 1091};
    return ids;
}

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
    buildControls();
    // The picture settings reach the window as messages, after the menu
    // that sent them has closed.
    connect(this, &MainWindow::pictureMessage, this, &MainWindow::onPictureMessage, Qt::QueuedConnection);

    m_bridge = new KivraBridge(this);
    connect(m_bridge, &KivraBridge::pictureDrawn, this, &MainWindow::onPictureDrawn);
    connect(m_bridge, &KivraBridge::resizeRequested, this, &MainWindow::onResizeRequested, Qt::QueuedConnection);
    m_bridge->install();
    m_sound = new SoundPlayer(this);

    // Start-up state: nothing indexed, navigation and the clip list off.
    m_state.inMark = -1;
    m_state.outMark = -1;
    m_state.streamVideoPid = 0xFFFF;
    setNavigationEnabled(false);
    m_clipList->setEnabled(false);
    m_reNo->setChecked(m_state.settings.reNo != 0);
    m_outWindow->setChecked(m_state.settings.outWnd == 1);
    m_outputEdit->setText(QString::fromStdString(m_state.outputPath));
    setWindowTitle(kTitle);
    placeWindow();
    if (m_state.settings.outWnd == 1) m_view->show();
}

MainWindow::~MainWindow() {
    closeSequence();
    m_bridge->uninstall();
    delete m_view;
}

void MainWindow::setMessageSink(MessageSink* sink) { m_sink = sink ? sink : m_dialogSink.get(); }

// --- settings ---

void MainWindow::loadSettings() {
    m_settings = loadAppSettings(m_iniPath);
    m_state.settings = m_settings.options;
    m_state.outputPath = m_settings.outputPath;
    m_state.inputPath.clear();
    m_state.geometry = m_settings.geometry;
}

void MainWindow::placeWindow() {
    adjustSize();
    const QRect screen = this->screen() ? this->screen()->geometry() : QRect(0, 0, 1024, 768);
    const int left = m_settings.windows.left, top = m_settings.windows.top;
    if (left == -1 || top == -1 || left > screen.width() || top > screen.height())
        move(screen.center() - QPoint(sizeHint().width() / 2, sizeHint().height() / 2));
    else
        move(left, top);
    int vl = m_settings.windows.viewLeft, vt = m_settings.windows.viewTop;
    if (vl < 0 || vt < 0) vl = vt = 0;
    m_view->move(vl, vt);
}

void MainWindow::transferFromControls() {
    m_state.inputPath = m_inputEdit->text().toStdString();
    m_state.outputPath = m_outputEdit->text().toStdString();
    m_state.settings.reNo = m_reNo->isChecked() ? 1 : 0;
    m_state.settings.outWnd = m_outWindow->isChecked() ? 1 : 0;
}

// --- controls ---

void MainWindow::buildControls() {
    auto button = [this](int id, const QString& label) {
        QPushButton* b = makeButton(this, id, label);
        m_controls.insert(id, b);
        return b;
    };
    auto value = [this](int id) {
        QLabel* l = makeValueLabel(this, id);
        m_controls.insert(id, l);
        return l;
    };
    const bool repeat = m_state.settings.repeat != 0;

    // Picture area: a fixed 270 x 202 place; the picture inside takes the
    // size Kivra asks for.
    auto* pictureHolder = new QWidget(this);
    pictureHolder->setFixedSize(kPictureWidth, kPictureHeight);
    pictureHolder->setAutoFillBackground(true);
    QPalette pal = pictureHolder->palette();
    pal.setColor(QPalette::Window, emptyPictureColour());
    pictureHolder->setPalette(pal);
    m_picture = new PictureArea(pictureHolder, emptyPictureColour());
    tagControl(m_picture, 1021);
    m_picture->setGeometry(0, 0, kPictureWidth, kPictureHeight);
    m_controls.insert(1021, m_picture);

    // The output picture window ("View") and its picture menu.
    m_view = new ViewWindow(this);
    m_pictureMenu = new PictureMenu(m_view);
    connect(m_view, &ViewWindow::menuRequested, this, &MainWindow::openPictureMenu);
    connect(m_view, &ViewWindow::wheelTurned, this, &MainWindow::focusSlider);

    m_slider = makeSlider(this, 1003);
    m_controls.insert(1003, m_slider);
    connect(m_slider, &QSlider::valueChanged, this, [this] {
        if (!m_sliderSilent) onSliderMoved();
    });

    // Step row: marks, single steps, add clip; then the long steps.
    auto* stepRow = new QHBoxLayout;
    stepRow->setSpacing(2);
    struct StepDef {
        int id;
        const char* label;
        tavrel::Step step;
    };
    auto addStep = [&](QHBoxLayout* row, int id, const QString& label, tavrel::Step s, bool rep) {
        QPushButton* b = makeStepButton(this, id, label, rep);
        m_controls.insert(id, b);
        connect(b, &QPushButton::clicked, this, [this, s] { step(s); });
        if (auto* sb = qobject_cast<StepButton*>(b)) connect(sb, &StepButton::step, this, [this, s] { step(s); });
        row->addWidget(b);
    };
    addStep(stepRow, 1008, QStringLiteral("| <<"), tavrel::Step::JumpIn, false);
    QPushButton* in = button(1004, QStringLiteral("| <"));
    connect(in, &QPushButton::clicked, this, &MainWindow::setInMark);
    stepRow->addWidget(in);
    addStep(stepRow, 1006, u8("←"), tavrel::Step::Back1, repeat);
    addStep(stepRow, 1007, u8("→"), tavrel::Step::Forward1, repeat);
    QPushButton* out = button(1005, QStringLiteral("> |"));
    connect(out, &QPushButton::clicked, this, &MainWindow::setOutMark);
    stepRow->addWidget(out);
    addStep(stepRow, 1012, QStringLiteral(">> |"), tavrel::Step::JumpOut, false);
    stepRow->addSpacing(8);
    QPushButton* add = button(1009, u8("→"));
    connect(add, &QPushButton::clicked, this, &MainWindow::onAddClip);
    stepRow->addWidget(add);

    auto* longRow = new QHBoxLayout;
    longRow->setSpacing(2);
    addStep(longRow, 1041, u8("←30"), tavrel::Step::Back60, false);
    addStep(longRow, 1083, u8("←15"), tavrel::Step::Back30, false);
    addStep(longRow, 1090, u8("← C"), tavrel::Step::BackCustom, false);
    addStep(longRow, 1091, u8("C →"), tavrel::Step::ForwardCustom, false);
    addStep(longRow, 1038, u8("15→"), tavrel::Step::Forward30, false);
    addStep(longRow, 1042, u8("30→"), tavrel::Step::Forward60, false);

    auto* left = new QVBoxLayout;
    left->addWidget(pictureHolder);
    left->addWidget(m_slider);
    left->addLayout(stepRow);
    left->addLayout(longRow);
    left->addStretch(1);

    // Get GOP and the renumbering box.
    auto* getRow = new QHBoxLayout;
    QPushButton* getGop = button(1002, QStringLiteral("Get GOP"));
    connect(getGop, &QPushButton::clicked, this, &MainWindow::onGetGop);
    m_reNo = makeCheckBox(this, 1019, QStringLiteral("ReNo. TimeCode"));
    m_controls.insert(1019, m_reNo);
    getRow->addWidget(getGop);
    getRow->addWidget(m_reNo);
    getRow->addStretch(1);

    // "Time Code": the GOP under the slider, the marks, margins and labels.
    auto* timeBox = new QGroupBox(QStringLiteral("Time Code"), this);
    auto* tg = new QGridLayout(timeBox);
    m_timeLabel = value(1098);
    m_inLabel = value(1027);
    m_outLabel = value(1028);
    m_marginLabel = value(1029);
    m_marginBackLabel = value(1080);
    m_packetLabel = value(1025);
    m_pidLabel = value(1026);
    tg->addWidget(new QLabel(QStringLiteral("Now Edit"), timeBox), 0, 0);
    tg->addWidget(m_timeLabel, 0, 1, 1, 3);
    tg->addWidget(m_inLabel, 1, 0, 1, 2);
    tg->addWidget(m_outLabel, 1, 2, 1, 2);
    tg->addWidget(m_marginLabel, 2, 0);
    tg->addWidget(m_marginBackLabel, 2, 2);
    tg->addWidget(new QLabel(QStringLiteral("Packet"), timeBox), 3, 0);
    tg->addWidget(m_packetLabel, 3, 1);
    tg->addWidget(new QLabel(QStringLiteral("V-PID"), timeBox), 3, 2);
    tg->addWidget(m_pidLabel, 3, 3);

    // The frame of the picture and output switches (and the debug SEEK).
    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* fg = new QGridLayout(frame);
    m_outWindow = makeCheckBox(this, 1081, QStringLiteral("Out Window"));
    m_controls.insert(1081, m_outWindow);
    connect(m_outWindow, &QCheckBox::clicked, this, &MainWindow::onOutWindow);
    QPushButton* view = button(1024, QStringLiteral("View"));
    view->setEnabled(false);
    m_out188 = makeCheckBox(this, 1045, QStringLiteral("188 out"));
    m_controls.insert(1045, m_out188);
    m_seekEdit = makeEdit(this, 1072, false);
    m_controls.insert(1072, m_seekEdit);
    QPushButton* seek = button(1073, QStringLiteral("SEEK"));
    connect(seek, &QPushButton::clicked, this, &MainWindow::onSeek);
    fg->addWidget(m_outWindow, 0, 0);
    fg->addWidget(view, 0, 1);
    fg->addWidget(m_out188, 1, 0);
    fg->addWidget(m_seekEdit, 2, 0);
    fg->addWidget(seek, 2, 1);
    const bool debug = m_state.settings.debugChk != 0;
    m_seekEdit->setVisible(debug);
    seek->setVisible(debug);

    // "Clip List" with its three buttons.
    auto* clipBox = new QGroupBox(QStringLiteral("Clip List"), this);
    auto* cl = new QHBoxLayout(clipBox);
    m_clipList = makeListBox(clipBox, 1010);
    m_controls.insert(1010, m_clipList);
    cl->addWidget(m_clipList, 1);
    auto* clipButtons = new QVBoxLayout;
    QPushButton* del = button(1016, u8("×"));
    QPushButton* up = button(1017, u8("▲"));
    QPushButton* down = button(1018, u8("▼"));
    for (QPushButton* b : {del, up, down}) clipButtons->addWidget(b);
    clipButtons->addStretch(1);
    cl->addLayout(clipButtons);
    connect(del, &QPushButton::clicked, this, &MainWindow::onDeleteClip);
    connect(up, &QPushButton::clicked, this, [this] { onMoveClip(true); });
    connect(down, &QPushButton::clicked, this, [this] { onMoveClip(false); });
    connect(m_clipList, &QListWidget::currentRowChanged, this,
            [this](int row) { m_state.clipList.selected = row; });

    auto* right = new QVBoxLayout;
    right->addLayout(getRow);
    right->addWidget(timeBox);
    right->addWidget(frame);
    right->addWidget(clipBox, 1);

    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addLayout(right, 1);

    // Input and output rows, the progress bar and the tool buttons.
    auto* files = new QGridLayout;
    m_inputEdit = makeEdit(this, 1000, true);
    m_controls.insert(1000, m_inputEdit);
    QPushButton* inputButton = button(1001, QStringLiteral("Input"));
    connect(inputButton, &QPushButton::clicked, this, &MainWindow::onInput);
    m_outputEdit = makeEdit(this, 1014, false);
    m_controls.insert(1014, m_outputEdit);
    QPushButton* outputButton = button(1015, QStringLiteral("Output"));
    connect(outputButton, &QPushButton::clicked, this, &MainWindow::onOutput);
    files->addWidget(m_inputEdit, 0, 0);
    files->addWidget(inputButton, 0, 1);
    files->addWidget(m_outputEdit, 1, 0);
    files->addWidget(outputButton, 1, 1);

    m_progress = makeProgressBar(this, 1011);
    m_controls.insert(1011, m_progress);

    auto* tools = new QHBoxLayout;
    // The option pages come later; until then the button says so.
    QPushButton* option = button(1086, QStringLiteral("Option"));
    connect(option, &QPushButton::clicked, this,
            [this] { showMessage(QStringLiteral("Info"), u8("この機能はまだ使えません。"), 0); });
    tools->addWidget(option);
    QPushButton* fileInfo = button(1087, QStringLiteral("File Info"));
    connect(fileInfo, &QPushButton::clicked, this, &MainWindow::onFileInfo);
    tools->addWidget(fileInfo);
    QPushButton* errorInfo = button(1095, QStringLiteral("Error Info"));
    connect(errorInfo, &QPushButton::clicked, this, &MainWindow::showErrorInfo);
    tools->addWidget(errorInfo);
    tools->addStretch(1);
    QPushButton* clipping = button(1013, QStringLiteral("Clipping"));
    connect(clipping, &QPushButton::clicked, this, &MainWindow::onClipping);
    tools->addWidget(clipping);
    QPushButton* close = button(2, QStringLiteral("Close"));
    connect(close, &QPushButton::clicked, this, &MainWindow::reject);
    tools->addWidget(close);

    auto* main = new QVBoxLayout(this);
    main->addLayout(top, 1);
    main->addLayout(files);
    main->addWidget(m_progress);
    main->addLayout(tools);

    // 415 x 256 dialog units of the window's font.
    const QFontMetrics fm(font());
    const int baseX = qMax(1, fm.averageCharWidth());
    const int baseY = qMax(1, fm.height());
    setMinimumSize(415 * baseX / 4, 256 * baseY / 8);

    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, &MainWindow::onHelp);
}

// --- host side ---

int MainWindow::showMessage(const QString& caption, const QString& text, int kind) {
    return m_sink->ask(this, caption, text, kind);
}

void MainWindow::setBusy(bool busy) {
    m_busy = busy;
    for (int id : busyIds())
        if (QWidget* w = m_controls.value(id)) w->setEnabled(!busy);
}

void MainWindow::setProgressRange(int max) { m_progress->setRange(0, qMax(0, max)); }

void MainWindow::setProgressValue(int pos) { m_progress->setValue(pos); }

void MainWindow::setInputPathText(const QString& path) { m_inputEdit->setText(path); }

void MainWindow::setPreviewPacketSize(int size) { SetPackSize(size); }

void MainWindow::showGopTime(const QString& text) { m_timeLabel->setText(text); }

void MainWindow::setSliderRange(int max, int page, int pos) {
    m_sliderSilent = true;
    m_slider->setRange(0, max);
    m_slider->setPageStep(page);
    m_slider->setValue(pos);
    m_sliderSilent = false;
}

void MainWindow::setNavigationEnabled(bool on) {
    for (int id : navigationIds())
        if (QWidget* w = m_controls.value(id)) w->setEnabled(on);
    if (QWidget* add = m_controls.value(1009)) add->setEnabled(on);
}

void MainWindow::showScanLabels(const tavrel::ScanFinishInfo& info) {
    m_packetLabel->setText(QString::number(info.packetSize));
    m_pidLabel->setText(QStringLiteral("%1").arg(info.videoPid & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper());
    m_marginLabel->setText(QString::number(info.marginFront));
    m_marginBackLabel->setText(QString::number(info.marginBack));
}

// The keyboard goes to the slider even when the output picture window was
// clicked last: the main window becomes the active one again.
void MainWindow::focusSlider() {
    if (m_state.settings.setFcSlider == 0) return;
    if (isVisible() && !isActiveWindow()) activateWindow();
    m_slider->setFocus(Qt::OtherFocusReason);
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

tavrel::PictureOptions MainWindow::pictureOptions() const {
    tavrel::PictureOptions o;
    o.outWnd = m_state.settings.outWnd;
    o.native = m_state.settings.native;
    o.csize = m_state.settings.cSize;
    o.aspect = m_state.settings.aspect;
    o.grade = m_state.settings.grade;
    return o;
}

void MainWindow::openPreview() {
    m_decPath = m_state.inputPath;
    m_decInit.path = m_decPath.c_str();
    m_decInit.notifyWindow = this;
    m_decInit.previewWindow = m_picture;
    m_decInit.outWindow = m_view;
    m_decInit.windowMode = m_state.settings.outWnd;
    m_decRead.stretchQuality = m_state.settings.grade;
    m_decRead.aspectMode = m_state.settings.aspect;
    m_decRead.displayWidth = m_state.settings.cSize;
    TsOpen(&m_decInit);
    m_previewOpen = true;
}

void MainWindow::closePreview() {
    m_requests.cancel();
    TsClose();
    m_previewOpen = false;
    m_inLabel->clear();
    m_outLabel->clear();
}

void MainWindow::clearPicture() {
    if (m_state.settings.outWnd == 1)
        m_view->clear();
    else
        m_picture->clear();
}

void MainWindow::showGop() {
    if (!m_previewOpen) {
        showMessage(QStringLiteral("error"), u8("ビデオ表示ファイルがオープンされていません"), 0);
        return;
    }
    if (m_state.gopList.empty()) return;
    const int64_t p = m_slider->value();
    const auto request = tavrel::previewRequest(m_state, p, pictureOptions());
    if (!request) {
        clearPicture();
        return;
    }
    m_pidLabel->setText(QStringLiteral("%1").arg(request->videoPid & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper());
    m_decRead.position = request->position;
    m_decRead.videoPid = request->videoPid;
    m_decRead.windowMode = request->windowMode;
    m_decRead.displayWidth = request->displayWidth;
    m_requests.request(m_decRead);
}

void MainWindow::onPictureDrawn(quintptr window, const QImage& image) {
    if (window == reinterpret_cast<quintptr>(m_picture))
        m_picture->setImage(image);
    else if (window == reinterpret_cast<quintptr>(m_view))
        m_view->setImage(image);
}

// Kivra's resize request: the size changes, the place and the stacking
// stay, and nothing is activated.
void MainWindow::onResizeRequested(quintptr window, int width, int height) {
    if (width <= 0 || height <= 0) return;
    if (window == reinterpret_cast<quintptr>(m_picture))
        m_picture->resize(qMin(width, kPictureWidth), qMin(height, kPictureHeight));
    else if (window == reinterpret_cast<quintptr>(m_view))
        m_view->resize(width, height);
    else
        return;
    UpdateVideo(&m_decRead);
    focusSlider();
}

void MainWindow::onPictureMessage(int message, int param) {
    tavrel::Settings& s = m_state.settings;
    switch (message) {
        case kMsgSizeMode:
            s.native = param == 0 ? 1 : 0;
            m_decRead.displayWidth = tavrel::displayWidthFor(pictureOptions());
            break;
        case kMsgAspect:
            s.aspect = param;
            m_decRead.aspectMode = param;
            break;
        case kMsgQuality:
            s.grade = param;
            m_decRead.stretchQuality = param;
            break;
        default: return;
    }
    UpdateVideo(&m_decRead);
    focusSlider();
}

void MainWindow::openPictureMenu(const QPoint& globalPos) {
    m_pictureMenu->prepare(pictureOptions());
    const int command = m_pictureMenu->choose(globalPos);
    if (command == 0) {
        focusSlider();
        return;
    }
    const auto [message, param] = PictureMenu::messageFor(command, m_state.settings.cSize);
    emit pictureMessage(message, param);
}

// --- navigation ---

QString MainWindow::gopTimeAt(int64_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= m_state.gopList.size()) return {};
    return QString::fromLatin1(tavrel::gopTimeText(m_state.gopList[size_t(index)], m_state.settings.timeVopt));
}

void MainWindow::moveSliderTo(int64_t index) {
    m_sliderSilent = true;
    m_slider->setValue(int(index));
    m_sliderSilent = false;
}

void MainWindow::step(tavrel::Step s) {
    const auto target = tavrel::stepTarget(s, m_slider->value(), int64_t(m_state.gopList.size()),
                                           m_state.settings.ctGopMv, m_state.inMark, m_state.outMark);
    if (target) {
        moveSliderTo(*target);
        m_timeLabel->setText(gopTimeAt(*target));
        showGop();
    }
    focusSlider();
}

void MainWindow::onSliderMoved() {
    if (!m_state.gopList.empty()) m_timeLabel->setText(gopTimeAt(m_slider->value()));
    showGop();
}

void MainWindow::showMarkedRange() {
    auto* slider = qobject_cast<SkinSlider*>(m_slider);
    if (!slider) return;
    if (m_state.inMark >= 0 && m_state.outMark >= 0)
        slider->setSelection(int(m_state.inMark), int(m_state.outMark));
    else
        slider->clearSelection();
}

void MainWindow::setInMark() {
    m_state.inMark = m_slider->value();
    showMarkedRange();
    m_inLabel->setText(gopTimeAt(m_state.inMark));
    focusSlider();
}

void MainWindow::setOutMark() {
    m_state.outMark = m_slider->value();
    showMarkedRange();
    m_outLabel->setText(gopTimeAt(m_state.outMark));
    focusSlider();
}

bool MainWindow::showGopOfPacket(int64_t packet) {
    WaitCursor wait;
    if (m_state.gopList.size() < 2) return false;
    const int64_t i = tavrel::gopOfPacket(m_state.gopList, packet);
    if (i < 0) return false;
    moveSliderTo(i);
    m_timeLabel->setText(gopTimeAt(i));
    showGop();
    return true;
}

void MainWindow::onSeek() {
    WaitCursor wait;
    transferFromControls();
    // Leading digits as a packet number (blanks before them are skipped);
    // nothing numeric is packet 0.
    const QString text = m_seekEdit->text().trimmed();
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
    QSignalBlocker block(m_clipList);
    m_clipList->clear();
    for (const std::string& line : list.lines) m_clipList->addItem(QString::fromStdString(line));
    if (selected >= 0 && selected < m_clipList->count()) m_clipList->setCurrentRow(selected);
    else m_clipList->setCurrentRow(-1);
}

void MainWindow::onAddClip() {
    transferFromControls();
    if (tavrel::addClip(m_state, m_host)) {
        m_state.clipList.selected = m_clipList->currentRow();
        refreshClipList();
    }
}

void MainWindow::onDeleteClip() {
    m_state.clipList.selected = m_clipList->currentItem() && m_clipList->currentItem()->isSelected()
                                    ? m_clipList->currentRow()
                                    : -1;
    if (tavrel::deleteClip(m_state, m_host)) refreshClipList();
}

void MainWindow::onMoveClip(bool up) {
    m_state.clipList.selected = m_clipList->currentItem() && m_clipList->currentItem()->isSelected()
                                    ? m_clipList->currentRow()
                                    : -1;
    const bool moved = up ? tavrel::moveClipUp(m_state, m_host) : tavrel::moveClipDown(m_state, m_host);
    if (moved) refreshClipList();
}

// --- jobs ---

void MainWindow::openRecording(const QString& path) {
    m_inputEdit->setText(path);
    onGetGop();
}

bool MainWindow::startWorker(std::function<bool()> job, std::function<void(bool)> done, int priority) {
    waitForWorker();
    auto result = std::make_shared<bool>(false);
    m_worker = QThread::create([job = std::move(job), result] { *result = job(); });
    if (m_worker == nullptr) return false;
    QThread* worker = m_worker;
    connect(worker, &QThread::finished, this, [this, worker, done = std::move(done), result] {
        if (m_worker == worker) m_worker = nullptr;
        worker->deleteLater();
        done(*result);
    });
    m_worker->start(static_cast<QThread::Priority>(priority));
    return true;
}

// Only where the window goes away: its finish is not wanted any more.
void MainWindow::waitForWorker() {
    if (!m_worker) return;
    m_worker->disconnect(this);
    m_worker->wait();
    delete m_worker;
    m_worker = nullptr;
}

void MainWindow::onGetGop() {
    if (m_busy) return;
    closePreview();
    clearPicture();
    transferFromControls();
    if (m_state.inputPath.empty()) return;
    openPreview();
    m_state.inMark = -1;
    m_state.outMark = -1;
    showMarkedRange();
    setBusy(true);
    const bool started = startWorker([this] { return tavrel::runGopScanJob(m_state, m_host); },
                                     [this](bool ok) { tavrel::finishGopScan(m_state, m_host, ok); },
                                     QThread::HighestPriority);
    if (!started) {
        setBusy(false);
        showMessage(QStringLiteral("error"), u8("ＧＯＰ情報取得スレッドの作成に失敗しました"), 0);
    }
}

void MainWindow::onClipping() {
    if (m_busy) return;
    transferFromControls();
    if (!tavrel::startCutJob(m_state, m_host, m_out188->isChecked(), m_cutJob)) return;
    setBusy(true);
    const bool started = startWorker(
        [this] { return tavrel::runCutJob(m_state, m_host, m_cutJob) == tavrel::CutOutcome::Completed; },
        [this](bool) { tavrel::finishCutJob(m_host, m_cutJob); }, QThread::NormalPriority);
    if (!started) tavrel::finishCutJob(m_host, m_cutJob);
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
            // The GOP list is the scan's while it runs.
            if (!m_busy) showGopOfPacket(packet);
        });
        const AppSettings saved = loadAppSettings(m_iniPath);
        const int left = saved.windows.errorInfoLeft, top = saved.windows.errorInfoTop;
        if (left >= 0 || top >= 0) m_errorInfo->move(left, top);
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
    if (m_busy) return;
    int64_t startPacket = 0;
    if (m_previewOpen && m_slider->value() >= 0 && m_slider->value() < static_cast<int>(m_state.gopList.size()))
        startPacket = m_state.gopList[static_cast<size_t>(m_slider->value())].packet;
    transferFromControls();
    if (m_state.inputPath.empty()) return;
    {
        WaitCursor wait;
        if (!tavrel::acquireFileInfoPrograms(m_state, m_host, startPacket)) return;
    }
    setBusy(true);
    auto text = std::make_shared<std::optional<std::string>>();
    const bool started = startWorker(
        [this, text, startPacket] {
            *text = tavrel::runFileInfoPasses(m_state, m_host, startPacket);
            return text->has_value();
        },
        [this, text](bool ok) {
            if (ok) {
                FileInfoDialog dialog(this, QString::fromStdString(**text));
                dialog.exec();
            }
            m_state.fileInfoPidList.clear();
            setBusy(false);
        },
        QThread::NormalPriority);
    if (!started) {
        m_state.fileInfoPidList.clear();
        setBusy(false);
        showMessage(QStringLiteral("error"), u8("TS File 情報取得スレッドの作成に失敗しました"), 0);
    }
}

void MainWindow::onInput() {
    const QString chosen = QFileDialog::getOpenFileName(this, u8("ファイル選択"), m_inputEdit->text(),
                                                        QStringLiteral("Files (*)"));
    if (!chosen.isEmpty()) m_inputEdit->setText(QDir::toNativeSeparators(chosen));
    setNavigationEnabled(false);
    m_clipList->setEnabled(false);
}

void MainWindow::onOutput() {
    const QString chosen = QFileDialog::getSaveFileName(this, u8("ファイル選択"), m_outputEdit->text(),
                                                        QStringLiteral("Files (*)"), nullptr,
                                                        QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty()) m_outputEdit->setText(QDir::toNativeSeparators(chosen));
}

void MainWindow::onOutWindow(bool checked) {
    transferFromControls();
    if (checked) {
        m_view->show();
        m_state.settings.outWnd = 1;
        if (m_previewOpen) showGop();
        m_picture->clear();
    } else {
        m_view->hide();
        m_state.settings.outWnd = 0;
        if (m_previewOpen) showGop();
    }
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
    if (m_busy || !m_controls.value(2)->isEnabled()) return;
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

void MainWindow::closeSequence() {
    if (m_closed) return;
    m_closed = true;
    transferFromControls();
    waitForWorker();
    m_settings.options = m_state.settings;
    m_settings.options.reNo = m_reNo->isChecked() ? 1 : 0;
    m_settings.inputPath = m_state.inputPath;
    m_settings.outputPath = m_state.outputPath;
    m_settings.windows.left = pos().x();
    m_settings.windows.top = pos().y();
    m_settings.windows.viewLeft = m_view->pos().x();
    m_settings.windows.viewTop = m_view->pos().y();
    saveAppSettings(m_iniPath, m_settings);
    if (m_errorInfo) saveErrorInfoPosition(m_iniPath, m_errorInfo->pos());
    closePreview();
    m_view->hide();
}

}  // namespace tavrelcut
