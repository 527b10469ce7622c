#include "drop_edit.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace tavrelcut {

namespace {

// The local path of the first dropped URL; empty when there is none or it
// is not a local file.
QString firstLocalFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls()) return QString();
    const QList<QUrl> urls = mime->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) return QString();
    return urls.front().toLocalFile();
}

}  // namespace

DropEdit::DropEdit(QWidget* parent) : QLineEdit(parent) { setAcceptDrops(true); }

void DropEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (!firstLocalFile(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    if (event->mimeData() && event->mimeData()->hasUrls()) {
        event->ignore();  // not a local file
        return;
    }
    QLineEdit::dragEnterEvent(event);
}

void DropEdit::dragMoveEvent(QDragMoveEvent* event) {
    if (!firstLocalFile(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    if (event->mimeData() && event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    QLineEdit::dragMoveEvent(event);
}

void DropEdit::dropEvent(QDropEvent* event) {
    const QString path = firstLocalFile(event->mimeData());
    if (path.isEmpty()) {
        if (event->mimeData() && event->mimeData()->hasUrls())
            event->ignore();
        else
            QLineEdit::dropEvent(event);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    setText(path);
    emit fileDropped(path);
}

}  // namespace tavrelcut
