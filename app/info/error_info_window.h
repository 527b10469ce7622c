// "Error Info": the modeless view of a recording's error file. The records
// are shown as a tree (program, PID, one line per event); a double click on
// a line asks the main window for the GOP that holds its packet.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "error_check.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace tavrelcut {

class ErrorInfoWindow : public QDialog {
    Q_OBJECT
public:
    explicit ErrorInfoWindow(QWidget* owner);

    // The most records the view holds (each line of the tree takes some
    // 700 bytes): 100,000 take about 70 MB and a tenth of a second.
    static constexpr size_t kMaxRecords = 100000;

    // Loads the error file at path and rebuilds the tree: its first
    // kMaxRecords records, and a last line under the root saying how many
    // more the file holds. A file that cannot be read or is not an error
    // file leaves the tree and records as they were and returns false.
    bool load(const QString& path);
    // Empties the tree and the records.
    void clear();

    QTreeWidget* tree() const { return m_tree; }
    const std::vector<tavrel::ErrorRecord>& records() const { return m_records; }
    // The records the file holds, shown or not.
    int64_t totalRecords() const { return m_total; }

    // Item data: the packet (0 for root, program and PID items) and the kind
    // of item (tavrel::ErrorTreeItem::Kind), which picks its colour.
    static constexpr int kPacketRole = Qt::UserRole;
    static constexpr int kKindRole = Qt::UserRole + 1;
    static constexpr int kRecordRole = Qt::UserRole + 2;

signals:
    // A double click on an item: the packet it stands for.
    void packetChosen(qint64 packet);

private:
    void rebuild();

    QTreeWidget* m_tree;
    std::vector<tavrel::ErrorRecord> m_records;
    int64_t m_total = 0;
};

}  // namespace tavrelcut
