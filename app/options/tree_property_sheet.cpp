#include "tree_property_sheet.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTreeWidget>

#include "controls.h"
#include "skin.h"

namespace tavrelcut {

namespace {

constexpr int kMargin = 8;
constexpr int kPageWidth = 296;  // the page area beside a tree of the default width
constexpr int kClientHeight = 460;
constexpr int kCaptionHeight = 26;
constexpr int kPageRole = Qt::UserRole;  // page index of a tree item; -1 for a node

// Position of the first "::" at or after from that follows an even number
// of backslashes; -1 when there is none.
qsizetype splittingSeparator(const QString& s, qsizetype from) {
    for (qsizetype at = s.indexOf(QStringLiteral("::"), from); at >= 0; at = s.indexOf(QStringLiteral("::"), at + 1)) {
        qsizetype backslashes = 0;
        while (at - backslashes > 0 && s[at - backslashes - 1] == QLatin1Char('\\')) ++backslashes;
        if (backslashes % 2 == 0) return at;
    }
    return -1;
}

}  // namespace

PagePlace placeOfCaption(const QString& caption) {
    PagePlace place;
    qsizetype from = 0;
    for (qsizetype at = splittingSeparator(caption, from); at >= 0; at = splittingSeparator(caption, from)) {
        QString node = caption.mid(from, at - from);
        node.replace(QStringLiteral("\\::"), QStringLiteral("::"));
        node.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
        place.nodes << node;
        from = at + 2;
    }
    place.page = caption.mid(from);
    return place;
}

PropertyPage::PropertyPage(const QString& caption, QWidget* parent) : QWidget(parent) { setWindowTitle(caption); }

TreePropertySheet::TreePropertySheet(const QString& title, const Options& options, MessageBox messages, QWidget* parent)
    : QDialog(parent), m_options(options), m_messages(std::move(messages)) {
    setWindowTitle(title);
    setModal(true);
    // A window does not take its owner's font by itself.
    if (parent) setFont(parent->font());
    applySkin(this);

    const int left = m_options.treeMode ? kMargin + m_options.treeWidth + kMargin : kMargin;
    int top = kMargin;
    if (m_options.treeMode) {
        m_tree = new QTreeWidget(this);
        m_tree->setObjectName(QStringLiteral("PageTree"));
        m_tree->setAccessibleName(QStringLiteral("PageTree"));
        m_tree->setHeaderHidden(true);
        m_tree->setColumnCount(1);
        m_tree->setRootIsDecorated(true);
        m_tree->setGeometry(kMargin, kMargin, m_options.treeWidth, kOkPlace.y() - 2 * kMargin);
        connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { showItem(item); });
    } else {
        m_tabs = new QTabBar(this);
        m_tabs->setObjectName(QStringLiteral("PageTabs"));
        m_tabs->setGeometry(kMargin, kMargin, kPageWidth + m_options.treeWidth + kMargin, 24);
        connect(m_tabs, &QTabBar::currentChanged, this, [this](int i) {
            if (i >= 0 && i < pageCount()) setActivePage(page(i));
        });
        top += 24 + 4;
    }
    const int width = m_options.treeMode ? kPageWidth : kPageWidth + m_options.treeWidth + kMargin;

    m_caption = new QLabel(this);
    m_caption->setObjectName(QStringLiteral("Page Frame"));
    m_caption->setAccessibleName(QStringLiteral("Page Frame"));
    m_caption->setGeometry(left, top, width, kCaptionHeight);
    m_caption->setIndent(8);
    QFont bold = m_caption->font();
    bold.setBold(true);
    m_caption->setFont(bold);
    m_caption->setFrameStyle(QFrame::Box | QFrame::Plain);
    QLinearGradient band(0, 0, 0, 1);
    band.setCoordinateMode(QGradient::ObjectBoundingMode);
    band.setColorAt(0, QColor(92, 128, 184));
    band.setColorAt(1, QColor(38, 62, 108));
    QPalette pal = m_caption->palette();
    pal.setBrush(QPalette::Window, band);
    pal.setColor(QPalette::WindowText, Qt::white);
    m_caption->setPalette(pal);
    m_caption->setAutoFillBackground(true);
    m_caption->setVisible(m_options.showCaption);
    if (m_options.showCaption) top += kCaptionHeight + 6;

    m_stack = new QStackedWidget(this);
    m_stack->setGeometry(left, top, width, kOkPlace.y() - kMargin - top);

    m_ok = makeButton(this, 1, QStringLiteral("OK"));
    m_ok->move(kOkPlace);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &TreePropertySheet::accept);
    m_cancel = makeButton(this, 2, QStringLiteral("Cancel"));
    m_cancel->move(kCancelPlace);
    connect(m_cancel, &QPushButton::clicked, this, &TreePropertySheet::reject);

    setFixedSize(left + width + kMargin, kClientHeight);
}

QTreeWidgetItem* TreePropertySheet::nodeUnder(QTreeWidgetItem* parent, const QString& text) {
    const int n = parent ? parent->childCount() : m_tree->topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        QTreeWidgetItem* item = parent ? parent->child(i) : m_tree->topLevelItem(i);
        if (item->text(0) == text) return item;
    }
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setData(0, kPageRole, -1);
    if (parent)
        parent->addChild(item);
    else
        m_tree->addTopLevelItem(item);
    return item;
}

void TreePropertySheet::addPage(PropertyPage* page) {
    const int index = pageCount();
    m_pages.push_back(page);
    m_stack->addWidget(page);
    QTreeWidgetItem* item = nullptr;
    if (m_tree) {
        const PagePlace place = placeOfCaption(page->windowTitle());
        QTreeWidgetItem* parent = nullptr;
        for (const QString& node : place.nodes) parent = nodeUnder(parent, node);
        item = new QTreeWidgetItem(QStringList{place.page});
        item->setData(0, kPageRole, index);
        if (m_options.treeImages) item->setIcon(0, page->windowIcon());
        if (parent) {
            parent->addChild(item);
            parent->setExpanded(true);
        } else {
            m_tree->addTopLevelItem(item);
        }
    } else {
        m_tabs->addTab(page->windowTitle());
    }
    m_items.push_back(item);
    if (index == 0) setActivePage(page);
}

PropertyPage* TreePropertySheet::activePage() const { return qobject_cast<PropertyPage*>(m_stack->currentWidget()); }

QTreeWidgetItem* TreePropertySheet::itemOf(PropertyPage* page) const {
    for (size_t i = 0; i < m_pages.size(); ++i)
        if (m_pages[i] == page) return m_items[i];
    return nullptr;
}

void TreePropertySheet::setActivePage(PropertyPage* page) {
    m_stack->setCurrentWidget(page);
    m_caption->setText(placeOfCaption(page->windowTitle()).page);
    if (m_tree) {
        QTreeWidgetItem* item = itemOf(page);
        if (item && m_tree->currentItem() != item) m_tree->setCurrentItem(item);
    } else {
        for (int i = 0; i < pageCount(); ++i)
            if (m_pages[size_t(i)] == page && m_tabs->currentIndex() != i) m_tabs->setCurrentIndex(i);
    }
}

// A node that is no page shows the first page under it.
void TreePropertySheet::showItem(QTreeWidgetItem* item) {
    while (item && item->data(0, kPageRole).toInt() < 0 && item->childCount() > 0) item = item->child(0);
    if (!item) return;
    const int index = item->data(0, kPageRole).toInt();
    if (index >= 0 && index < pageCount()) setActivePage(page(index));
}

void TreePropertySheet::accept() {
    for (PropertyPage* p : m_pages) {
        const PropertyPage::Refusal refusal = p->check();
        if (!refusal.field) continue;
        setActivePage(p);
        m_messages(QStringLiteral("error"), refusal.message, 0);
        refusal.field->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(refusal.field)) edit->selectAll();
        return;
    }
    for (PropertyPage* p : m_pages) p->apply();
    QDialog::accept();
}

}  // namespace tavrelcut
