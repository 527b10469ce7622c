#include "file_chooser.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

#include "skin.h"

namespace tavrelcut {

namespace {

// Adds to a window's size once Qt has given it its default size, as it is
// first shown.
class EnlargeOnShow : public QObject {
public:
    explicit EnlargeOnShow(QSize by) : m_by(by) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && !m_done) {
            m_done = true;
            auto* w = static_cast<QWidget*>(watched);
            w->resize(w->size() + m_by);
        }
        return false;
    }

private:
    QSize m_by;
    bool m_done = false;
};

}  // namespace

QString chooseFile(QWidget* parent, const ChooserRequest& request) {
    QFileDialog dialog(parent, request.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    // The letters of the window it is opened from.
    if (parent) dialog.setFont(parent->window()->font());
    switch (request.kind) {
    case ChooserKind::ExistingFile: dialog.setFileMode(QFileDialog::ExistingFile); break;
    case ChooserKind::AnyFile:
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        break;
    case ChooserKind::Folder:
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        break;
    }
    if (request.kind != ChooserKind::Folder) dialog.setNameFilter(QStringLiteral("Files (*)"));

    if (!request.start.isEmpty()) {
        const QFileInfo at(QDir::fromNativeSeparators(request.start));
        dialog.setDirectory(at.absolutePath());
        dialog.selectFile(at.fileName());
    } else if (request.kind == ChooserKind::Folder) {
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        dialog.setDirectory(QFileInfo(desktop).isDir() ? desktop : QDir::homePath());
    }
    applySkin(&dialog);
    EnlargeOnShow enlarge(request.enlarge);
    if (!request.enlarge.isEmpty()) dialog.installEventFilter(&enlarge);

    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen.first());
}

}  // namespace tavrelcut
