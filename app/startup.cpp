#include "app/main_form.h"

namespace qm {

void MainForm::Form_Load()
{
    InitApp();
}

void MainForm::InitApp()
{
    Caption.setText(QStringLiteral("Quellmark: ") + paths_.displayName());
    lblStatus.setText(QStringLiteral("Status:"));
    LoadSettings();
    lblStatus.setBackColor(colors::kStatusSearching);
    lblStatus.setText(QStringLiteral("Status:"));
    Timer1.setEnabled(true);
}

} // namespace qm
