#include "app/main_form.h"

namespace qm {

void MainForm::load()
{
    startOver();
}

void MainForm::startOver()
{
    Caption.setText(QStringLiteral("Quellmark: ") + paths_.displayName());
    statusLine.setText(QStringLiteral("Status:"));
    loadSettings();
    statusLine.setBackColor(colors::kStatusSearching);
    statusLine.setText(QStringLiteral("Status:"));
    retryTimer.setEnabled(true);
}

} // namespace qm
