#include "message_box.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include "control_ids.h"
#include "controls.h"
#include "skin.h"

namespace tavrelcut {

namespace {
constexpr int kButtonWidth = 64;
constexpr int kButtonHeight = 22;
constexpr int kTextMax = 999;
constexpr int kCaptionMax = 199;
}  // namespace

MessageDialog::MessageDialog(QWidget* parent, const QString& caption, const QString& text, int kind)
    : QDialog(parent), m_kind(kind) {
    setWindowTitle(caption.left(kCaptionMax));
    setModal(true);
    applySkin(this);
    m_text = new QPlainTextEdit(this);
    tagControl(m_text, ids::kMessageText);
    m_text->setReadOnly(true);
    // Line breaks arrive as CR LF.
    QString body = text.left(kTextMax);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_text->setPlainText(body);
    switch (kind) {
    case 1:
        m_ok = addButton(ids::kMessageOk, QStringLiteral("OK"), 0);
        m_cancel = addButton(ids::kMessageCancel, QStringLiteral("CANCEL"), 1);
        break;
    case 2:
        m_yes = addButton(ids::kMessageYes, QStringLiteral("YES"), 2);
        m_no = addButton(ids::kMessageNo, QStringLiteral("NO"), 3);
        break;
    case 3:
        m_yes = addButton(ids::kMessageYes, QStringLiteral("YES"), 2);
        m_no = addButton(ids::kMessageNo, QStringLiteral("NO"), 3);
        m_cancel = addButton(ids::kMessageCancel, QStringLiteral("CANCEL"), 1);
        break;
    default:
        m_kind = 0;
        m_ok = addButton(ids::kMessageOk, QStringLiteral("OK"), 0);
        break;
    }
    setFixedSize(320, 150);
    layoutButtons();
}

QPushButton* MessageDialog::addButton(int id, const QString& label, int result) {
    QPushButton* b = makeButton(this, id, label);
    b->resize(kButtonWidth, kButtonHeight);
    connect(b, &QPushButton::clicked, this, [this, result] {
        m_result = result;
        done(result);
    });
    return b;
}

// Buttons on the line 30 pixels above the bottom, at the places the kinds
// have always had.
void MessageDialog::layoutButtons() {
    const int w = width();
    const int y = height() - 30;
    m_text->setGeometry(8, 8, w - 16, y - 14);
    auto place = [y](QPushButton* b, int x) {
        if (b) b->move(x, y);
    };
    switch (m_kind) {
    case 1:
        place(m_ok, w / 4 - 21);
        place(m_cancel, (w / 4) * 2 + 21);
        break;
    case 2:
        place(m_yes, w / 4 - 21);
        place(m_no, (w / 4) * 2 + 21);
        break;
    case 3:
        place(m_yes, w / 4 - 42);
        place(m_no, w / 2 - 32);
        place(m_cancel, (w / 4) * 3 - 21);
        break;
    default: place(m_ok, w / 2 - 32); break;
    }
}

void MessageDialog::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    layoutButtons();
}

// Only the buttons answer: Escape and Enter do nothing here.
void MessageDialog::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: e->accept(); return;
    default: QDialog::keyPressEvent(e);
    }
}

void MessageDialog::closeEvent(QCloseEvent* e) {
    if (m_result < 0) {
        e->ignore();
        return;
    }
    QDialog::closeEvent(e);
}

int DialogMessageSink::ask(QWidget* parent, const QString& caption, const QString& text, int kind) {
    MessageDialog dlg(parent, caption, text, kind);
    dlg.exec();
    return dlg.result() < 0 ? 0 : dlg.result();
}

}  // namespace tavrelcut
