#include "app/main_form.h"
#include "device/serial_port.h"

namespace qm {

namespace {
// The longest reply line kept; a longer one is dropped whole.
constexpr std::size_t kMaxLineLength = 32767;
} // namespace

void MainForm::MSComm1_OnComm()
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
            } else if (!RxBuf.empty()) {
                ProcessReply(RxBuf);
                RxBuf.clear();
            }
            continue;
        }
        if (rxDiscarding_)
            continue;
        if (RxBuf.size() >= kMaxLineLength) {
            malformed_.seen(RxBuf, "longer than 32767 characters: dropped", portDescription());
            RxBuf.clear();
            RxBuf.shrink_to_fit();
            rxDiscarding_ = true;
            lblStatus.setText(QStringLiteral("???"));
            continue;
        }
        RxBuf += c;
    }
}

// The adapter went away: the serial layer has closed the port. Reading stops
// until the retry finds the device again.
void MainForm::portLost()
{
    RxBuf.clear();
    rxDiscarding_ = false;
    StTimer.setEnabled(false);
    showPortFailure(port_.lastError(), true);
    Timer1.setEnabled(true);
}

// Whether `holder` is the value prefix of `channel`: DevId, "V0", the digit, "=".
static bool isValuePrefix(std::string_view holder, const String& devId, int channel)
{
    const std::size_t d = devId.size();
    return holder.size() == d + 4 && holder.substr(0, d) == devId && holder[d] == 'V' &&
           holder[d + 1] == '0' && holder[d + 2] == char('0' + channel) && holder[d + 3] == '=';
}

void MainForm::ProcessReply(const String& line)
{
    const std::size_t n = line.size();
    TimerCom.setEnabled(false);
    // A line came: the device is there.
    if (linkState_.kind != LinkState::Kind::Connected || !reasonsTold_.empty())
        tellLink(LinkState::connected(), QStringLiteral("Device found on ") + portDescription());
    if (const std::string problem = replyLineProblem(line, DevId); !problem.empty())
        malformed_.seen(line, problem, portDescription());
    // The part before the line changes only with the settings.
    if (!statusPrefixSet_ || statusPrefixPort_ != ComPort || statusPrefixBaud_ != Baud) {
        statusPrefixSet_ = true;
        statusPrefixPort_ = ComPort;
        statusPrefixBaud_ = Baud;
        statusPrefix_ = QStringLiteral("COM:") + QString::number(ComPort) +
                        QStringLiteral(" Baud:") + QString::fromLatin1(Baud) +
                        QStringLiteral(" COM data: ");
    }
    QString status;
    status.reserve(statusPrefix_.size() + static_cast<qsizetype>(n));
    status += statusPrefix_;
    status += QLatin1StringView(line.data(), static_cast<qsizetype>(n));
    lblStatus.setText(status);
    if (n > 1)
        lblStatus.setBackColor(colors::kStatusOk);

    const QString devCode = QStringLiteral("QuellmarK: MainForm");
    if (STime == 0) {
        Timer1.setEnabled(false);
        lblDevCode.setText(devCode);
    } else if (STime > 0 && line == DevId + "OK") {
        lblDevCode.setText(devCode);
        Timer1.setEnabled(false);
        lblStatus.setBackColor(colors::kStatusOk);
        lblStatus.setText(QStringLiteral(" QmkApp recognition is OK! "));
        STimerCnt = static_cast<Integer>(STime - 1);
        StTimer.setEnabled(true);
    }

    // The first k characters are compared, whatever the length of DevId: a
    // DevId of two or more characters never matches a value line. After a
    // match the later channels are compared with the value text.
    const std::size_t k = DevId.empty() ? 4 : 5;
    std::string_view holder = std::string_view(line).substr(0, k);
    for (Integer i = 1; i <= 8; ++i) {
        if (isValuePrefix(holder, DevId, i)) {
            holder = std::string_view(line).substr(k);
            if (!UpdateChannelValue(i, holder)) {
                lblStatus.setText(QStringLiteral("???"));
                return;
            }
        }
    }

    if (STime == 0)
        cmdRadni1_Click();
}

} // namespace qm
