// The program's one message box: caption as title, the text read-only, and
// the buttons of its kind (0 OK; 1 OK/CANCEL; 2 YES/NO; 3 YES/NO/CANCEL;
// anything else OK). Results: OK 0, CANCEL 1, YES 2, NO 3.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

namespace tavrelcut {

// Where the main window's messages go. The program shows the dialog; tests
// put in a sink that answers from a script.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual int ask(QWidget* parent, const QString& caption, const QString& text, int kind) = 0;
};

class MessageDialog : public QDialog {
    Q_OBJECT
public:
    MessageDialog(QWidget* parent, const QString& caption, const QString& text, int kind);
    int result() const { return m_result; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void layoutButtons();
    QPushButton* addButton(int id, const QString& label, int result);

    int m_kind;
    int m_result = -1;
    QPlainTextEdit* m_text;
    QPushButton* m_yes = nullptr;
    QPushButton* m_no = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

class DialogMessageSink : public MessageSink {
public:
    int ask(QWidget* parent, const QString& caption, const QString& text, int kind) override;
};

}  // namespace tavrelcut
