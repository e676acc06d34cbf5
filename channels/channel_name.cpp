#include "channels/channel_name.h"

namespace qm {

QString channelName(int channel, const String& label)
{
    const QString name = QStringLiteral("V0%1").arg(channel);
    const QString text = QString::fromLatin1(label).trimmed();
    if (text.isEmpty() || text == name + QStringLiteral(" label:"))
        return name;
    return name + QLatin1Char(' ') + text;
}

} // namespace qm
