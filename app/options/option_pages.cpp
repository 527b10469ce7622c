#include "option_pages.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <optional>

#include "control_ids.h"
#include "controls.h"
#include "edit_state.h"
#include "file_chooser.h"
#include "program_tables.h"
#include "skin.h"

namespace tavrelcut {

using namespace ids;

namespace {

QString u8(const char* s) { return QString::fromUtf8(s); }

const char kNotInteger[] = "整数を入力してください。";
constexpr int kNumberWidth = 56;
constexpr int kRecordRole = Qt::UserRole;  // index of an item's record in the PID list

// The number in a numeric edit; none when it is empty or too long for one.
std::optional<int32_t> numberIn(const QLineEdit* edit) {
    bool ok = false;
    const int value = edit->text().toInt(&ok);
    if (!ok || value < 0) return std::nullopt;
    return value;
}

QLineEdit* numberEdit(QWidget* page, int id, int value) {
    QLineEdit* e = makeNumberEdit(page, id);
    e->setFixedWidth(kNumberWidth);
    e->setText(QString::number(value));
    return e;
}

QCheckBox* checkBox(QWidget* page, int id, const char* label, int value) {
    QCheckBox* c = makeCheckBox(page, id, QString::fromUtf8(label));
    c->setChecked(value != 0);
    return c;
}

// An edit with its "select" button on one row, indented under its box.
QHBoxLayout* chooserRow(QLineEdit* edit, QPushButton* button) {
    auto* row = new QHBoxLayout;
    row->addSpacing(18);
    row->addWidget(edit, 1);
    row->addWidget(button);
    return row;
}

bool inRange(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

}  // namespace

// --- "Edit" ---

EditPage::EditPage(tavrel::Settings& settings, MessageBox messages)
    : PropertyPage(QStringLiteral("Edit")), m_settings(settings), m_messages(std::move(messages)) {
    tagControl(this, kEditPage, QStringLiteral("Edit"));
    m_front = numberEdit(this, kMarginFrontEdit, settings.pacMargin);
    m_back = numberEdit(this, kMarginBackEdit, settings.pacMarginBack);
    QPushButton* both = makeButton(this, kBothMargins, QStringLiteral("both"));
    m_moveCount = numberEdit(this, kMoveCountEdit, settings.ctGopMv);
    m_repeat = checkBox(this, kRepeatBox, "repeat LR boutton", settings.repeat);
    m_sliderFocus = checkBox(this, kSliderFocusBox, "slider is always chosen", settings.setFcSlider);
    connect(both, &QPushButton::clicked, this, &EditPage::onBoth);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("clip margin"), this), 0, 0, 1, 5);
    auto* margins = new QHBoxLayout;
    margins->addSpacing(12);
    margins->addWidget(m_front);
    margins->addWidget(new QLabel(u8("＜＞"), this));
    margins->addWidget(m_back);
    margins->addSpacing(8);
    margins->addWidget(both);
    margins->addStretch(1);
    grid->addLayout(margins, 1, 0, 1, 5);
    grid->addWidget(new QLabel(QStringLiteral("custom move button count"), this), 2, 0, 1, 5);
    auto* count = new QHBoxLayout;
    count->addSpacing(12);
    count->addWidget(m_moveCount);
    count->addStretch(1);
    grid->addLayout(count, 3, 0, 1, 5);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(10);
    layout->addWidget(m_repeat);
    layout->addWidget(m_sliderFocus);
    layout->addStretch(1);
}

// The back margin takes the front one.
void EditPage::onBoth() {
    const auto front = numberIn(m_front);
    if (!front) {
        m_messages(QStringLiteral("error"), u8(kNotInteger), 0);
        m_front->setFocus(Qt::OtherFocusReason);
        m_front->selectAll();
        return;
    }
    m_back->setText(QString::number(*front));
}

PropertyPage::Refusal EditPage::check() {
    for (QLineEdit* e : {m_front, m_back, m_moveCount})
        if (!numberIn(e)) return {e, u8(kNotInteger)};
    // Both out of range: the back margin, checked last, keeps the focus.
    QWidget* outside = nullptr;
    for (QLineEdit* e : {m_front, m_back})
        if (!inRange(*numberIn(e), 0, 100)) outside = e;
    if (outside) return {outside, u8("0～100 の範囲で入力してください")};
    return {};
}

void EditPage::apply() {
    m_settings.pacMargin = *numberIn(m_front);
    m_settings.pacMarginBack = *numberIn(m_back);
    m_settings.ctGopMv = *numberIn(m_moveCount);
    m_settings.repeat = m_repeat->isChecked() ? 1 : 0;
    m_settings.setFcSlider = m_sliderFocus->isChecked() ? 1 : 0;
}

// --- "Clipping" ---

ClippingPage::ClippingPage(tavrel::Settings& settings, tavrel::ProgramList& pidList, const QString& inputPath,
                           std::function<void()> getPids, MessageBox messages)
    : PropertyPage(QStringLiteral("Clipping")),
      m_settings(settings),
      m_pidList(pidList),
      m_getPids(std::move(getPids)),
      m_messages(std::move(messages)) {
    tagControl(this, kClippingPage, QStringLiteral("Clipping"));
    m_rewriteTc = checkBox(this, kRewriteTcBox, "rewrite timecode", settings.rewriteTc);
    m_addAcp = checkBox(this, kAddAcpBox, "adjust clipping point ", settings.addAcp);
    m_addTopPsi = checkBox(this, kAddTopPsiBox, "PSI is added to a head", settings.addTopPsi);
    m_addTopPsi->hide();  // never shown; its value is carried through
    m_selectPid = checkBox(this, kSelectPidBox, "only selected PID clipping", settings.selectPid);
    m_optimize = checkBox(this, kOptimizeBox, "only minimum PID is chosen", settings.optimize);

    auto* input = makeValueLabel(this, kPidInputLabel);
    input->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    QPushButton* getPid = makeButton(this, kGetPid, QStringLiteral("Get PID"));
    if (!inputPath.isEmpty()) {
        input->setText(inputPath);
        input->setToolTip(inputPath);
    }
    getPid->setEnabled(!inputPath.isEmpty());

    m_list = new QTreeWidget(this);
    tagControl(m_list, kPidListView);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({QStringLiteral("PID"), QStringLiteral("TYPE")});
    applyListSkin(m_list);
    m_list->header()->setStretchLastSection(false);
    // "PID" is 50 pixels for its text, besides the check box in front of it.
    const int checkBox = m_list->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, m_list) + 10;
    m_list->setColumnWidth(0, 50 + checkBox);
    m_list->setColumnWidth(1, 350);
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setAllColumnsShowFocus(true);

    connect(m_selectPid, &QCheckBox::clicked, this, &ClippingPage::followSelectPid);
    // Checked, it checks the minimum set; unchecked, it changes no item.
    connect(m_optimize, &QCheckBox::clicked, this, [this](bool checked) {
        if (checked) fillList();
    });
    connect(getPid, &QPushButton::clicked, this, &ClippingPage::onGetPid);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_rewriteTc);
    layout->addWidget(m_addAcp);
    layout->addWidget(m_addTopPsi);
    layout->addWidget(m_selectPid);
    auto* minimum = new QHBoxLayout;
    minimum->addSpacing(18);
    minimum->addWidget(m_optimize);
    layout->addLayout(minimum);
    layout->addWidget(input);
    auto* getRow = new QHBoxLayout;
    getRow->addStretch(1);
    getRow->addWidget(getPid);
    layout->addLayout(getRow);
    layout->addWidget(m_list, 1);

    fillList();
    followSelectPid();
}

void ClippingPage::followSelectPid() {
    const bool on = m_selectPid->isChecked();
    m_optimize->setEnabled(on);
    m_list->setEnabled(on);
}

void ClippingPage::fillList() {
    m_list->clear();
    const bool minimum = m_optimize->isChecked();
    for (size_t i = 0; i < m_pidList.entries.size(); ++i) {
        const tavrel::ProgramEntry& e = m_pidList.entries[i];
        auto* item = new QTreeWidgetItem(
            {QStringLiteral("%1").arg(e.pid, 4, 16, QLatin1Char('0')).toUpper(), QString::fromStdString(e.name)});
        item->setData(0, kRecordRole, qulonglong(i));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, (minimum ? e.minimum : e.selected) != 0 ? Qt::Checked : Qt::Unchecked);
        m_list->addTopLevelItem(item);
    }
}

// The view lets go of the old records before the list is read again.
void ClippingPage::onGetPid() {
    m_list->clear();
    m_getPids();
    if (m_pidList.count() < 1) {
        m_messages(QStringLiteral("error"), u8("ＰＩＤ情報の取得に失敗しました"), 0);
        return;
    }
    fillList();
}

void ClippingPage::apply() {
    m_settings.rewriteTc = m_rewriteTc->isChecked() ? 1 : 0;
    m_settings.selectPid = m_selectPid->isChecked() ? 1 : 0;
    m_settings.optimize = m_optimize->isChecked() ? 1 : 0;
    m_settings.addAcp = m_addAcp->isChecked() ? 1 : 0;
    m_settings.addTopPsi = m_addTopPsi->isChecked() ? 1 : 0;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i);
        const size_t record = item->data(0, kRecordRole).toULongLong();
        if (record < m_pidList.entries.size())
            m_pidList.entries[record].selected = item->checkState(0) == Qt::Checked ? 1 : 0;
    }
}

// --- "Status" ---

StatusPage::StatusPage(tavrel::Settings& settings)
    : PropertyPage(QStringLiteral("Status")),
      m_settings(settings),
      m_timeVopt(settings.timeVopt),
      m_outTime(settings.outTime),
      m_sound(settings.sound),
      m_selGop(settings.selGop),
      m_cSize(settings.cSize),
      m_soundPath(QString::fromStdString(settings.soundPath)),
      m_gopFolder(QString::fromStdString(settings.gopFolder)) {
    tagControl(this, kStatusPage, QStringLiteral("Status"));
    m_timeVoptBox = checkBox(this, kTimeVoptBox, "timecode from PTS", 0);
    m_outTimeBox = checkBox(this, kOutTimeBox, "output elapsed time display", 0);
    m_cSizeEdit = numberEdit(this, kCSizeEdit, 0);
    m_soundBox = checkBox(this, kSoundBox, "play sound after the output is completed", 0);
    m_soundEdit = makeEdit(this, kSoundPathEdit, false);
    m_soundButton = makeButton(this, kSoundPathButton, QStringLiteral("select"));
    m_selGopBox = checkBox(this, kSelGopBox, "select GOP file path", 0);
    m_folderEdit = makeEdit(this, kGopFolderEdit, false);
    m_folderButton = makeButton(this, kGopFolderButton, QStringLiteral("select"));

    // A click is stored at once: the boxes keep their state over a chooser.
    connect(m_timeVoptBox, &QCheckBox::clicked, this, [this](bool on) { m_timeVopt = on; });
    connect(m_outTimeBox, &QCheckBox::clicked, this, [this](bool on) { m_outTime = on; });
    connect(m_soundBox, &QCheckBox::clicked, this, [this](bool on) {
        m_sound = on;
        followBoxes();
    });
    connect(m_selGopBox, &QCheckBox::clicked, this, [this](bool on) {
        m_selGop = on;
        followBoxes();
    });
    connect(m_soundButton, &QPushButton::clicked, this, &StatusPage::chooseSound);
    connect(m_folderButton, &QPushButton::clicked, this, &StatusPage::chooseFolder);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_timeVoptBox);
    layout->addWidget(m_outTimeBox);
    auto* width = new QHBoxLayout;
    width->addWidget(new QLabel(QStringLiteral("custom window width size"), this));
    width->addWidget(m_cSizeEdit);
    width->addStretch(1);
    layout->addLayout(width);
    layout->addSpacing(6);
    layout->addWidget(m_soundBox);
    layout->addLayout(chooserRow(m_soundEdit, m_soundButton));
    layout->addSpacing(6);
    layout->addWidget(m_selGopBox);
    layout->addLayout(chooserRow(m_folderEdit, m_folderButton));
    layout->addStretch(1);
    refresh();
}

void StatusPage::refresh() {
    m_timeVoptBox->setChecked(m_timeVopt != 0);
    m_outTimeBox->setChecked(m_outTime != 0);
    m_soundBox->setChecked(m_sound != 0);
    m_selGopBox->setChecked(m_selGop != 0);
    m_cSizeEdit->setText(QString::number(m_cSize));
    m_soundEdit->setText(m_soundPath);
    m_folderEdit->setText(m_gopFolder);
    followBoxes();
}

void StatusPage::followBoxes() {
    m_soundEdit->setEnabled(m_soundBox->isChecked());
    m_soundButton->setEnabled(m_soundBox->isChecked());
    m_folderEdit->setEnabled(m_selGopBox->isChecked());
    m_folderButton->setEnabled(m_selGopBox->isChecked());
}

void StatusPage::chooseSound() {
    const QString chosen = chooseFile(this, {u8("ファイル選択"), m_soundPath, ChooserKind::ExistingFile, {}});
    if (!chosen.isEmpty()) m_soundPath = chosen;
    refresh();
}

// The chooser is made 50 pixels wider and 100 taller than Qt makes it.
void StatusPage::chooseFolder() {
    const QString chosen =
        chooseFile(this, {u8("フォルダを選択して下さい"), m_gopFolder, ChooserKind::Folder, QSize(50, 100)});
    if (!chosen.isEmpty()) m_gopFolder = chosen;
    refresh();
}

PropertyPage::Refusal StatusPage::check() {
    const auto width = numberIn(m_cSizeEdit);
    if (!width) return {m_cSizeEdit, u8(kNotInteger)};
    if (!inRange(*width, tavrel::kCSizeMin, tavrel::kCSizeMax))
        return {m_cSizeEdit, u8("240～5000 の範囲で入力してください")};
    if (m_soundBox->isChecked() && !QFileInfo(m_soundEdit->text()).isFile())
        return {m_soundEdit, u8("指定ファイルが存在しません。")};
    if (m_selGopBox->isChecked() && !QFileInfo(m_folderEdit->text()).isDir())
        return {m_folderEdit, u8("指定パスが存在しません。")};
    return {};
}

void StatusPage::apply() {
    m_settings.timeVopt = m_timeVoptBox->isChecked() ? 1 : 0;
    m_settings.outTime = m_outTimeBox->isChecked() ? 1 : 0;
    m_settings.cSize = *numberIn(m_cSizeEdit);
    m_settings.sound = m_soundBox->isChecked() ? 1 : 0;
    m_settings.soundPath = m_soundEdit->text().toStdString();
    m_settings.selGop = m_selGopBox->isChecked() ? 1 : 0;
    m_settings.gopFolder = m_folderEdit->text().toStdString();
}

}  // namespace tavrelcut
