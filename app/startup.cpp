#include "app/main_form.h"

namespace qm {

void MainForm::load()
{
    startOver();
}

void MainForm::startOver(const std::optional<SettingsValues>& saved)
{
    Caption.setText(QStringLiteral("Quellmark: ") + paths_.displayName());
    statusLine.setText(QStringLiteral("Status:"));
    if (saved)
        takeSavedSettings(*saved);
    else
        loadSettings();
    statusLine.setBackColor(colors::kStatusSearching);
    statusLine.setText(QStringLiteral("Status:"));
    monitor_.link().startRetrying();
}

} // namespace qm
