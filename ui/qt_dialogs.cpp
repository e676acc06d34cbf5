#include "ui/qt_dialogs.h"

#include <QMessageBox>
#include <QPushButton>

namespace qm {

Dialogs::Answer QtDialogs::askYesNoCancel(const QString& prompt, const QString& title)
{
    QMessageBox box(QMessageBox::Question, title, prompt,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent_.data());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    const auto* clicked = box.clickedButton();
    if (clicked == box.button(QMessageBox::Yes))
        return Answer::Yes;
    if (clicked == box.button(QMessageBox::No))
        return Answer::No;
    return Answer::Cancel;
}

} // namespace qm
