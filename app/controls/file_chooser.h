// The program's file and folder chooser: Qt's own file dialog (never the
// desktop's), with the dialogs' background pattern and white static texts,
// used by "Input", "Output", the sound file and the GOP folder.
#pragma once

#include <QSize>
#include <QString>

class QWidget;

namespace tavrelcut {

enum class ChooserKind {
    ExistingFile,  // a file that exists
    AnyFile,       // a name that may not exist yet; no question about replacing it
    Folder,        // an existing folder
};

struct ChooserRequest {
    QString title;
    // The current path: its folder is shown with it selected. An empty path
    // starts a folder chooser on the desktop, a file chooser where Qt would.
    QString start;
    ChooserKind kind = ChooserKind::ExistingFile;
    // Added to the dialog's default size.
    QSize enlarge;
};

// Runs the chooser modally over parent: the chosen path in the platform's
// notation, or empty when the user cancelled.
QString chooseFile(QWidget* parent, const ChooserRequest& request);

}  // namespace tavrelcut
