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

// The zone's offset is looked up once a second (offsets change only at whole
// seconds): a lookup stats /etc/localtime each time, which at hundreds of
// readings a second costs more than the reading.
QDateTime SystemWallClock::localNow() const
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != second_) {
        second_ = second;
        offset_ = QDateTime::fromSecsSinceEpoch(second).offsetFromUtc();
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset_);
}

} // namespace qm
