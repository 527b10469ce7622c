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

    // Loads the error file at path and rebuilds the tree. A file that cannot
    // be read or is not an error file leaves the tree and records as they
    // were and returns false.
    bool load(const QString& path);
    // Empties the tree and the records.
    void clear();

    QTreeWidget* tree() const { return m_tree; }
    const std::vector<tavrel::ErrorRecord>& records() const { return m_records; }

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
};

}  // namespace tavrelcut
