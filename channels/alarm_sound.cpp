#include "app/main_form.h"
#include "channels/sound_player.h"

namespace qm {

void MainForm::TimerWav_Timer()
{
    PlaySound(paths_.file("a1.wav"));
}

void MainForm::PlaySound(const QByteArray& strFileName)
{
    sound_.play(strFileName);
}

} // namespace qm
