#include "app/main_form.h"

namespace qm {

void MainForm::StTimer_Timer()
{
}

} // namespace qm
