#include "app/log_categories.h"
#include "app/main_form.h"
#include "device/requests.h"
#include "device/serial_port.h"

#include <QFile>

#include <cstdlib>
#include <grp.h>
#include <sys/stat.h>

namespace qm {

namespace {

// What to do about a device the user may not open: join the group that owns
// it (dialout on Debian).
QString permissionAdvice(const QByteArray& device)
{
    QString groupName = QStringLiteral("dialout");
    struct stat st {};
    if (::stat(device.constData(), &st) == 0 && st.st_gid != 0)
        if (const struct group* g = ::getgrgid(st.st_gid))
            groupName = QString::fromLocal8Bit(g->gr_name);
    return QStringLiteral("No permission to open %1: add your user to the %2 group "
                          "(sudo adduser $USER %2) and log in again.")
        .arg(QFile::decodeName(device), groupName);
}

} // namespace

// "COM3 (/dev/ttyUSB0)", for the journal.
QString MainForm::portDescription() const
{
    const QByteArray device = port_.devicePath();
    return QStringLiteral("COM") + QString::number(ComPort) + QStringLiteral(" (") +
           (device.isEmpty() ? QStringLiteral("no device") : QFile::decodeName(device)) + ')';
}

void MainForm::Timer1_Timer()
{
    cmdInicijalizacija_Click();
}

// Shows why the port failed, on the failure colour.
void MainForm::showPortFailure(int error, bool lost)
{
    const QString state = QStringLiteral("port error ") + QString::number(error);
    const bool news = state != linkState_;
    linkIs(state);
    lblStatus.setBackColor(colors::kStatusFailure);
    switch (error) {
    case comm_error::kInvalidPort:
        lblStatus.setText(QStringLiteral("Invalid Port Number!"));
        break;
    case comm_error::kPortInUse:
        lblStatus.setText(QStringLiteral("Port already open!"));
        break;
    default:
        lblStatus.setText(QStringLiteral("COM Port comm-error! ") + QString::number(error));
        break;
    }
    const QString advice =
        error == comm_error::kPermission ? permissionAdvice(port_.devicePath()) : QString();
    lblStatus.setToolTip(advice);
    if (!news && !lost)
        return; // the retry repeats it every 2.5 s: the journal hears it once
    if (lost)
        qCWarning(lcDevice).noquote() << "Lost" << portDescription() + ':' << lblStatus.text()
                                      << "(the device went away; reconnecting)";
    else if (!advice.isEmpty())
        qCWarning(lcDevice).noquote() << advice;
    else
        qCWarning(lcDevice).noquote() << portDescription() + ':' << lblStatus.text()
                                      << QStringLiteral("(error %1)").arg(error);
}

void MainForm::cmdInicijalizacija_Click()
{
    int error = port_.setSettings(Baud + ",n,8,1");
    if (!error)
        error = port_.setHandshaking(0);
    if (error)
        return showPortFailure(error);

    lblStatus.setBackColor(colors::kStatusSearching);
    lblStatus.setText(QStringLiteral("Searching for uc code..."));
    TimerCom.setEnabled(true);

    // While the watchdog runs a reply is awaited: the port takes it at once.
    port_.setReplyAwaited([this] { return TimerCom.enabled(); });
    if (!port_.portOpen()) {
        error = port_.setPortOpen(true);
        if (!error)
            lblStatus.setToolTip({});
    }
    if (!error)
        error = port_.setDTREnable(false);
    if (!error)
        error = port_.setRTSEnable(false);
    if (!error) {
        port_.setRThreshold(1);
        port_.setInputLen(1);
        if (STime > 0)
            error = port_.output(recognitionRequest(DevId));
    }
    // Nothing is undone; the next retry tick starts over.
    if (error)
        showPortFailure(error);
}

void MainForm::TimerCom_Timer()
{
    TimerCom.setEnabled(false);
    lblStatus.setBackColor(colors::kStatusFailure);
    lblStatus.setText(QStringLiteral("No response!"));
    if (linkState_ != QStringLiteral("no response"))
        qCWarning(lcDevice).noquote() << portDescription() + ": No response! (none within 5 s)";
    linkIs(QStringLiteral("no response"));
}

void MainForm::CommError(int errorNumber)
{
    lblStatus.setText(QStringLiteral("COM Port communication error! Close App! ") +
                      QString::number(errorNumber));
    waitFor(loop_, 3000);
    loop_.terminate(1);
    std::abort(); // not reached: terminate() ends the program
}

} // namespace qm
