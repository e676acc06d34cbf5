#include "app/main_form.h"

namespace qm {

void MainForm::saveSetPoints(Integer /*index: every Save button does the same*/)
{
    reconnectAfterSave = false;
    saveSettings();
}

} // namespace qm
