#include "error_info_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "control_ids.h"
#include "controls.h"
#include "skin.h"

namespace tavrelcut {

namespace {

// The text colour of an item of the given kind (not selected).
QColor errorItemColour(int kind) {
    switch (kind) {
    case tavrel::ErrorTreeItem::Pid: return QColor(0x80, 0x00, 0xE4);
    case tavrel::ErrorTreeItem::Event: return QColor(0x00, 0x00, 0xFF);
    default: return QColor(Qt::black);
    }
}

// Items in the colour of their kind; the selected item white while the tree
// has the focus, in its own colour otherwise.
class ErrorItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QColor colour = errorItemColour(index.data(ErrorInfoWindow::kKindRole).toInt());
        option->palette.setColor(QPalette::Text, colour);
        const bool focused = option->widget && option->widget->hasFocus();
        option->palette.setColor(QPalette::HighlightedText, focused ? QColor(Qt::white) : colour);
    }
};

}  // namespace

ErrorInfoWindow::ErrorInfoWindow(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Error Info"));
    tagControl(this, ids::kErrorInfoWindow, QStringLiteral("Error Info"));
    setModal(false);
    applySkin(this);

    m_tree = new QTreeWidget(this);
    tagControl(m_tree, ids::kErrorTree, QStringLiteral("Error Info"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setUniformRowHeights(true);
    m_tree->setItemDelegate(new ErrorItemDelegate(m_tree));
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    QFont f = m_tree->font();
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setPixelSize(14);
    m_tree->setFont(f);
    QPalette pal = m_tree->palette();
    pal.setColor(QPalette::Base, Qt::white);
    m_tree->setPalette(pal);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { emit packetChosen(item->data(0, kPacketRole).toLongLong()); });

    QPushButton* close = makeButton(this, ids::kClose, QStringLiteral("Close"));
    connect(close, &QPushButton::clicked, this, &QDialog::hide);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tree, 1);
    layout->addLayout(buttons);
    resize(360, 420);
}

bool ErrorInfoWindow::load(const QString& path) {
    std::vector<tavrel::ErrorRecord> records;
    int64_t total = 0;
    if (tavrel::loadErrorFile(path.toStdString(), kMaxRecords, records, &total) != tavrel::ErrorFileStatus::Ok)
        return false;
    m_records = std::move(records);
    m_total = total;
    rebuild();
    return true;
}

void ErrorInfoWindow::clear() {
    m_records.clear();
    m_total = 0;
    m_tree->clear();
}

void ErrorInfoWindow::rebuild() {
    m_tree->setUpdatesEnabled(false);
    m_tree->clear();
    // The items come depth first, the root first: each is attached to the
    // last item one level up. The root goes into the tree once it is
    // complete, which is far quicker than inserting into a live tree.
    QTreeWidgetItem* parents[4] = {};
    for (const tavrel::ErrorTreeItem& t : tavrel::buildErrorTree(m_records)) {
        auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(t.text)});
        item->setData(0, kPacketRole, static_cast<qlonglong>(t.packet));
        item->setData(0, kKindRole, static_cast<int>(t.kind));
        item->setData(0, kRecordRole, static_cast<qlonglong>(t.record));
        if (t.level > 0) parents[t.level - 1]->addChild(item);
        parents[t.level] = item;
    }
    if (QTreeWidgetItem* root = parents[0]) {
        const int64_t notShown = m_total - static_cast<int64_t>(m_records.size());
        if (notShown > 0) {
            auto* more = new QTreeWidgetItem(QStringList{
                QStringLiteral("... %1 more records not shown (tavrelcut-cli errors lists them all)").arg(notShown)});
            more->setData(0, kPacketRole, qlonglong{0});
            more->setData(0, kKindRole, static_cast<int>(tavrel::ErrorTreeItem::Root));
            more->setData(0, kRecordRole, -1);
            root->addChild(more);
        }
        m_tree->addTopLevelItem(root);
        // The root and the program items open, PID items closed.
        root->setExpanded(true);
        for (int i = 0; i < root->childCount(); ++i) root->child(i)->setExpanded(true);
    }
    m_tree->setUpdatesEnabled(true);
}

}  // namespace tavrelcut
