// "File Info": the text of a File Info run, read-only, in a fixed-width
// Japanese font on white, and a Close button.
#pragma once

#include <QDialog>
#include <QString>

namespace tavrelcut {

class FileInfoDialog : public QDialog {
    Q_OBJECT
public:
    // text as the run built it, with "\r\n" line ends.
    FileInfoDialog(QWidget* parent, const QString& text);
};

}  // namespace tavrelcut
