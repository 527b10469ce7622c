// A line edit that takes a file dropped on it: the local path of the first
// dropped file becomes its text (further files are ignored). Works when the
// edit is read-only too. Other drops (plain text) behave as in QLineEdit.
#pragma once

#include <QLineEdit>

namespace tavrelcut {

class DropEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit DropEdit(QWidget* parent = nullptr);

signals:
    // After the text has been set from a drop.
    void fileDropped(const QString& path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

}  // namespace tavrelcut
