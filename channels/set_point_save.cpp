#include "app/main_form.h"

namespace qm {

void MainForm::cmdSave_Click(Integer /*index: every Save button does the same*/)
{
    ReInit = kFalse;
    SaveSettings();
}

} // namespace qm
