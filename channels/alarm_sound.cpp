#include "app/main_form.h"
#include "channels/sound_player.h"

#include <QDir>

namespace qm {

void MainForm::TimerWav_Timer()
{
    PlaySound(QDir(paths_.dir).filePath(QStringLiteral("a1.wav")));
}

void MainForm::PlaySound(const QString& strFileName)
{
    sound_.play(strFileName);
}

} // namespace qm
