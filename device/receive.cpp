#include "app/main_form.h"
#include "device/serial_port.h"

namespace qm {

// Whether `holder` is the value prefix of `channel`: deviceId, "V0", the digit, "=".
static bool isValuePrefix(std::string_view holder, const String& devId, int channel)
{
    const std::size_t d = devId.size();
    return holder.size() == d + 4 && holder.substr(0, d) == devId && holder[d] == 'V' &&
           holder[d + 1] == '0' && holder[d + 2] == char('0' + channel) && holder[d + 3] == '=';
}

void MainForm::interpretReply(const String& line)
{
    const std::size_t n = line.size();
    // The part before the line changes only with the settings.
    if (!statusPrefixSet_ || statusPrefixPort_ != settings.comPort ||
        statusPrefixBaud_ != settings.baud) {
        statusPrefixSet_ = true;
        statusPrefixPort_ = settings.comPort;
        statusPrefixBaud_ = settings.baud;
        statusPrefix_ = QStringLiteral("COM:") + QString::number(settings.comPort) +
                        QStringLiteral(" Baud:") + QString::fromLatin1(settings.baud) +
                        QStringLiteral(" COM data: ");
    }
    QString status;
    status.reserve(statusPrefix_.size() + static_cast<qsizetype>(n));
    status += statusPrefix_;
    status += QLatin1StringView(line.data(), static_cast<qsizetype>(n));
    statusLine.setText(status);
    if (n > 1)
        statusLine.setBackColor(colors::kStatusOk);

    const QString devCode = QStringLiteral("QuellmarK: MainForm");
    if (settings.sampleTime == 0) {
        link_.stopRetrying();
        deviceCode.setText(devCode);
    } else if (settings.sampleTime > 0 && line == settings.deviceId + "OK") {
        deviceCode.setText(devCode);
        link_.stopRetrying();
        statusLine.setBackColor(colors::kStatusOk);
        statusLine.setText(QStringLiteral(" QmkApp recognition is OK! "));
        sampleCount = static_cast<Integer>(settings.sampleTime - 1);
        sampleClock.setEnabled(true);
    }

    // The first k characters are compared, whatever the length of deviceId: a
    // deviceId of two or more characters never matches a value line. After a
    // match the later channels are compared with the value text.
    const std::size_t k = settings.deviceId.empty() ? 4 : 5;
    std::string_view holder = std::string_view(line).substr(0, k);
    for (Integer i = 1; i <= kChannels; ++i) {
        if (isValuePrefix(holder, settings.deviceId, i)) {
            holder = std::string_view(line).substr(k);
            if (!updateChannelValue(i, holder)) {
                statusLine.setText(QStringLiteral("???"));
                return;
            }
        }
    }

    if (settings.sampleTime == 0)
        evaluateChannels();
}

} // namespace qm
