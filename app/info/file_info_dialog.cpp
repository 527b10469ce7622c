#include "file_info_dialog.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "control_ids.h"
#include "controls.h"
#include "skin.h"

namespace tavrelcut {

FileInfoDialog::FileInfoDialog(QWidget* parent, const QString& runText) : QDialog(parent) {
    setWindowTitle(QStringLiteral("File Info"));
    setModal(true);
    applySkin(this);

    auto* text = new QPlainTextEdit(this);
    tagControl(text, ids::kFileInfoText, QStringLiteral("File Info"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    // The columns of the text line up only in a fixed-width face.
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setFamilies({QString::fromUtf8("ＭＳ ゴシック"), QStringLiteral("IPAGothic"), QStringLiteral("DejaVu Sans Mono"),
                   QStringLiteral("monospace")});
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f.setPixelSize(14);
    text->setFont(f);
    QPalette pal = text->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, Qt::white);
        pal.setColor(group, QPalette::Text, Qt::black);
    }
    text->setPalette(pal);
    QString shown = runText;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text->setPlainText(shown);

    QPushButton* close = makeButton(this, ids::kClose, QStringLiteral("Close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text, 1);
    layout->addLayout(buttons);

    // Wide and tall enough for the whole text without scrolling.
    const QFontMetrics fm(f);
    const int lines = static_cast<int>(shown.count(QLatin1Char('\n'))) + 2;
    resize(fm.horizontalAdvance(QStringLiteral("    Frame Length  = 0000 (00.00 ms)")) + 80,
           fm.lineSpacing() * lines + 80);
}

}  // namespace tavrelcut
