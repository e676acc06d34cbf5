#include "app/main_form.h"
#include "device/serial_port.h"

namespace qm {

namespace {
// The longest reply line kept; a longer one is dropped whole.
constexpr std::size_t kMaxLineLength = 32767;
} // namespace

void MainForm::portEvent()
{
    switch (port_.commEvent()) {
    case comm_event::kReceive:
        // Taken as a block: nothing below waits, so this is the same as
        // taking one character per read.
        receiveBytes(port_.inputAll());
        break;
    case comm_event::kDeviceLost:
        portLost();
        break;
    default:
        break;
    }
    replyWaitMayBeOver();
}

void MainForm::receiveBytes(const std::string& bytes)
{
    for (const char c : bytes) {
        if (c == '\n')
            continue;
        if (c == '\r') {
            if (rxDiscarding_) {
                rxDiscarding_ = false;
            } else if (!lineBuffer.empty()) {
                interpretReply(lineBuffer);
                lineBuffer.clear();
            }
            continue;
        }
        if (rxDiscarding_)
            continue;
        if (lineBuffer.size() >= kMaxLineLength) {
            malformed_.seen(lineBuffer, "longer than 32767 characters: dropped", portDescription());
            lineBuffer.clear();
            lineBuffer.shrink_to_fit();
            rxDiscarding_ = true;
            statusLine.setText(QStringLiteral("???"));
            continue;
        }
        lineBuffer += c;
    }
}

// The adapter went away: the serial layer has closed the port. Reading stops
// until the retry finds the device again.
void MainForm::portLost()
{
    lineBuffer.clear();
    rxDiscarding_ = false;
    sampleClock.setEnabled(false);
    showPortFailure(port_.lastError(), true);
    retryTimer.setEnabled(true);
}

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
    watchdog.setEnabled(false);
    // A line came: the device is there.
    if (link_.lineIsNews())
        link_.tell(LinkState::connected(), QStringLiteral("Device found on ") + portDescription());
    if (const std::string problem = replyLineProblem(line, settings.deviceId); !problem.empty())
        malformed_.seen(line, problem, portDescription());
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
        retryTimer.setEnabled(false);
        deviceCode.setText(devCode);
    } else if (settings.sampleTime > 0 && line == settings.deviceId + "OK") {
        deviceCode.setText(devCode);
        retryTimer.setEnabled(false);
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
