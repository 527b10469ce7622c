// A property sheet whose pages are chosen from a tree ("PageTree") on its
// left instead of tabs, with a frame ("Page Frame") above the page that
// shows the page's caption. The sheet wears the dialogs' skin: the
// background pattern, white static texts, and OK and Cancel as bitmap
// buttons at fixed places; it has no Apply and no Help button.
//
// A page caption "A::B" puts page B under a tree node A ("A::B::C" two
// levels deep). Nodes are made when first needed and found again by their
// text. A "::" after an odd number of backslashes does not split, and in a
// node's name "\::" reads as "::" and "\\" as "\".
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace tavrelcut {

// Where a caption puts its page: the node names from the top, and the
// page's own text (as written, escapes and all).
struct PagePlace {
    QStringList nodes;
    QString page;
    bool operator==(const PagePlace&) const = default;
};
PagePlace placeOfCaption(const QString& caption);

// A page of the sheet. Its caption is its window title.
class PropertyPage : public QWidget {
    Q_OBJECT
public:
    explicit PropertyPage(const QString& caption, QWidget* parent = nullptr);

    // What OK finds wrong with the page: the field to put right (it gets the
    // focus with its text selected) and the message, caption "error".
    struct Refusal {
        QWidget* field = nullptr;
        QString message;
    };
    // On OK, page by page in their order, before any page applies: a
    // refusal keeps the sheet open on this page.
    virtual Refusal check() { return {}; }
    // On OK, once every page has passed its check.
    virtual void apply() {}
};

class TreePropertySheet : public QDialog {
    Q_OBJECT
public:
    // Options fixed before the sheet is built.
    struct Options {
        bool treeMode = true;     // pages chosen from the tree; else from tabs
        bool showCaption = true;  // the caption frame above the page
        bool treeImages = false;  // the pages' window icons in the tree
        int treeWidth = 150;
    };
    // The program's message box (caption, text, kind); the answer.
    using MessageBox = std::function<int(const QString&, const QString&, int)>;

    TreePropertySheet(const QString& title, const Options& options, MessageBox messages, QWidget* parent = nullptr);

    // Pages are shown in the order they are added; the first is shown first.
    void addPage(PropertyPage* page);
    int pageCount() const { return int(m_pages.size()); }
    PropertyPage* page(int index) const { return m_pages[size_t(index)]; }
    PropertyPage* activePage() const;
    void setActivePage(PropertyPage* page);

    QTreeWidget* tree() const { return m_tree; }
    // The tree item that stands for page.
    QTreeWidgetItem* itemOf(PropertyPage* page) const;

    // Client places of OK and Cancel.
    static constexpr QPoint kOkPlace{300, 427};
    static constexpr QPoint kCancelPlace{380, 427};

public slots:
    // OK: every page's check in page order, then every page's apply.
    void accept() override;

private:
    void showItem(QTreeWidgetItem* item);
    QTreeWidgetItem* nodeUnder(QTreeWidgetItem* parent, const QString& text);

    Options m_options;
    MessageBox m_messages;
    std::vector<PropertyPage*> m_pages;
    std::vector<QTreeWidgetItem*> m_items;  // per page
    QTreeWidget* m_tree = nullptr;
    QTabBar* m_tabs = nullptr;
    QLabel* m_caption = nullptr;
    QStackedWidget* m_stack = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

}  // namespace tavrelcut
