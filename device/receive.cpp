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
    lblStatus.setBackColor(colors::kStatusFailure);
    lblStatus.setText(QStringLiteral("COM Port comm-error! ") + QString::number(port_.lastError()));
    Timer1.setEnabled(true);
}

void MainForm::ProcessReply(const String& line)
{
    const std::size_t n = line.size();
    TimerCom.setEnabled(false);
    lblStatus.setText(QStringLiteral("COM:") + QString::number(ComPort) + QStringLiteral(" Baud:") +
                      QString::fromLatin1(Baud) + QStringLiteral(" COM data: ") +
                      QString::fromLatin1(line));
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
    // DevId of two or more characters never matches a value line.
    const std::size_t k = DevId.empty() ? 4 : 5;
    String holder = line.substr(0, k);
    for (Integer i = 1; i <= 8; ++i) {
        const String prefix = DevId + "V0" + char('0' + i) + "=";
        if (holder == prefix) {
            holder = line.substr(k);
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
