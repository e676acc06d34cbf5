#include "ui/port_chooser.h"

#include "app/main_form.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <unistd.h>

namespace qm {

PortChooser::PortChooser(MainForm& form, QWidget* parent)
    : QObject(parent)
    , form_(form)
{
    button_ = new QPushButton(QStringLiteral("…"), parent);
    button_->setAccessibleDescription(QStringLiteral("Choose port"));
    button_->setAccessibleName(QStringLiteral("Choose port"));
    button_->setAutoDefault(false);
    connect(button_, &QPushButton::clicked, this, &PortChooser::choose);
}

void PortChooser::choose()
{
    QDialog dialog(button_->window());
    dialog.setWindowTitle(tr("Choose port"));
    auto* list = new QListWidget(&dialog);
    list->setAccessibleDescription(QStringLiteral("Serial devices"));
    for (const PortLink& l : portLinks(form_.paths().dir)) {
        auto* item =
            new QListWidgetItem(tr("COM%1 now: %2%3")
                                    .arg(l.number)
                                    .arg(l.target, l.dangling ? tr(" (missing)") : QString()));
        item->setFlags(Qt::ItemIsEnabled); // shown, not chosen
        list->addItem(item);
    }
    for (const SerialDevice& d : devices()) {
        auto* item = new QListWidgetItem(deviceText(d));
        item->setData(Qt::UserRole, d.stableName.isEmpty() ? d.path : d.stableName);
        list->addItem(item);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(list);
    layout->addWidget(buttons);
    dialog.resize(640, 300);
    if (dialog.exec() == QDialog::Accepted && list->currentItem() &&
        list->currentItem()->data(Qt::UserRole).isValid()) {
        chosen_ = list->currentItem()->data(Qt::UserRole).toString();
        button_->setToolTip(tr("On SAVE-CLOSE: COM port -> %1").arg(chosen_));
    }
}

bool PortChooser::beforeSave()
{
    replaced_.reset();
    if (chosen_.isEmpty())
        return true;
    bool ok = false;
    number_ = form_.txtSet1[1].text().trimmed().toInt(&ok);
    if (!ok || number_ < 1)
        return true; // the save refuses the box itself
    std::optional<QString> old;
    for (const PortLink& l : portLinks(form_.paths().dir))
        if (l.number == number_)
            old = l.target;
    QString error;
    if (!makePortLink(form_.paths().dir, number_, chosen_, error)) {
        // Reported as a settings file that cannot be written.
        form_.lblStatus.setBackColor(colors::kStatusFailure);
        form_.lblStatus.setText(error);
        form_.cmdExit.setError(error);
        return false;
    }
    replaced_ = old;
    return true;
}

void PortChooser::afterSave(bool saved)
{
    if (!replaced_)
        return;
    if (saved) {
        chosen_.clear();
        button_->setToolTip({});
        return;
    }
    QString error; // the save failed: the link as it was
    const QByteArray link = form_.paths().dir + "/ports/com" + QByteArray::number(number_);
    if (*replaced_)
        makePortLink(form_.paths().dir, number_, **replaced_, error);
    else
        ::unlink(link.constData());
}

} // namespace qm
