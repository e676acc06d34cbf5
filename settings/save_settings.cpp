#include "app/main_form.h"

namespace qm {

void MainForm::SaveSettings()
{
}

} // namespace qm
