#include "ui/port_chooser.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <unistd.h>

namespace qm {

PortChooser::PortChooser(const QByteArray& programDir, std::function<QString()> comPortText,
                         QWidget* parent)
    : QObject(parent)
    , programDir_(programDir)
    , comPortText_(std::move(comPortText))
{
    button_ = new QPushButton(QStringLiteral("…"), parent);
    button_->setAccessibleDescription(QStringLiteral("Choose port"));
    button_->setAccessibleName(QStringLiteral("Choose port"));
    button_->setAutoDefault(false);
    connect(button_, &QPushButton::clicked, this, &PortChooser::choose);
    pending_ = new QLabel(parent);
    pending_->setTextFormat(Qt::PlainText);
    pending_->setAccessibleDescription(QStringLiteral("Chosen port"));
}

void PortChooser::setChosen(const QString& chosen)
{
    chosen_ = chosen;
    const QString tip =
        chosen.isEmpty() ? QString() : tr("On SAVE-CLOSE: ports/com<COM port> -> %1").arg(chosen);
    button_->setToolTip(tip);
    pending_->setText(chosen.isEmpty() ? QString()
                                       : pending_->fontMetrics().elidedText(
                                             tr("\u2192 %1, linked at SAVE-CLOSE").arg(chosen),
                                             Qt::ElideMiddle, pending_->width()));
    pending_->setToolTip(tip);
    pending_->setAccessibleName(tip);
}

void PortChooser::choose()
{
    QDialog dialog(button_->window());
    dialog.setWindowTitle(tr("Choose port"));
    auto* list = new QListWidget(&dialog);
    list->setAccessibleDescription(QStringLiteral("Serial devices"));
    for (const PortLink& l : portLinks(programDir_)) {
        auto* item =
            new QListWidgetItem(tr("COM%1 now: %2%3")
                                    .arg(l.number)
                                    .arg(l.target, l.dangling ? tr(" (missing)") : QString()));
        item->setFlags(Qt::ItemIsEnabled); // shown, not chosen
        list->addItem(item);
    }
    for (const SerialDevice& d : devices()) {
        auto* item = new QListWidgetItem(deviceText(d));
        const QString target = d.stableName.isEmpty() ? d.path : d.stableName;
        item->setData(Qt::UserRole, target);
        list->addItem(item);
        if (target == chosen_) // the choice not yet saved
            list->setCurrentItem(item);
    }
    auto* pending = new QLabel(&dialog);
    pending->setTextFormat(Qt::PlainText);
    pending->setAccessibleDescription(QStringLiteral("Pending choice"));
    pending->setText(chosen_.isEmpty()
                         ? tr("Nothing chosen yet.")
                         : tr("Chosen, made the COM port's link at SAVE-CLOSE: %1").arg(chosen_));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QPushButton* keep = buttons->addButton(tr("Keep the link"), QDialogButtonBox::ResetRole);
    keep->setEnabled(!chosen_.isEmpty());
    connect(keep, &QPushButton::clicked, &dialog, [this, &dialog] {
        setChosen({});
        dialog.reject();
    });
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(pending);
    layout->addWidget(list);
    layout->addWidget(buttons);
    dialog.resize(640, 300);
    if (dialog.exec() == QDialog::Accepted && list->currentItem() &&
        list->currentItem()->data(Qt::UserRole).isValid())
        setChosen(list->currentItem()->data(Qt::UserRole).toString());
}

bool PortChooser::beforeSave(QString& error)
{
    replaced_.reset();
    if (chosen_.isEmpty())
        return true;
    bool ok = false;
    number_ = comPortText_().trimmed().toInt(&ok);
    if (!ok || number_ < 1)
        return true; // the save refuses the box itself
    std::optional<QString> old;
    for (const PortLink& l : portLinks(programDir_))
        if (l.number == number_)
            old = l.target;
    if (!makePortLink(programDir_, number_, chosen_, error))
        return false;
    replaced_ = old;
    return true;
}

void PortChooser::afterSave(bool saved)
{
    if (!replaced_)
        return;
    if (saved) {
        setChosen({});
        return;
    }
    QString error; // the save failed: the link as it was
    const QByteArray link = programDir_ + "/ports/com" + QByteArray::number(number_);
    if (*replaced_)
        makePortLink(programDir_, number_, **replaced_, error);
    else
        ::unlink(link.constData());
}

} // namespace qm
