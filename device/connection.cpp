#include "app/log_categories.h"
#include "app/main_form.h"
#include "device/requests.h"
#include "device/serial_port.h"

#include <QFile>

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

// "COM3 (/dev/ttyUSB0)", or "COM3" where it leads to no device, for the
// journal.
QString MainForm::portDescription() const
{
    const QByteArray device = port_.devicePath();
    const QString port = QStringLiteral("COM") + QString::number(settings.comPort);
    return device.isEmpty() ? port : port + QStringLiteral(" (") + QFile::decodeName(device) + ')';
}

// Shows why the port failed, on the failure colour.
void MainForm::showPortFailure(int error, bool lost)
{
    attemptFailed_ = true;
    statusLine.setBackColor(colors::kStatusFailure);
    switch (error) {
    case comm_error::kInvalidPort:
        statusLine.setText(QStringLiteral("Invalid Port Number!"));
        break;
    case comm_error::kPortInUse:
        statusLine.setText(QStringLiteral("Port already open!"));
        break;
    default:
        statusLine.setText(QStringLiteral("COM Port comm-error! ") + QString::number(error));
        break;
    }
    // A request that finds the port closed by a failure already told (the
    // rest of a sample cycle after a loss) has nothing new to tell.
    if (error == comm_error::kPortNotOpen && link_.state().kind == LinkState::Kind::PortError)
        return;
    const QString advice = error == comm_error::kPermission ? permissionAdvice(port_.devicePath())
                           : error == comm_error::kInvalidPort || error == comm_error::kPortInUse
                               ? port_.failureDetail()
                               : QString();
    showStatusToolTip(advice);
    QString text = portDescription() + QStringLiteral(": ") + statusLine.text();
    if (lost)
        text = QStringLiteral("Lost ") + text + QStringLiteral(" (the device went away)");
    else if (error == comm_error::kInvalidPort || error == comm_error::kPortInUse)
        text += QStringLiteral(" (error %1)").arg(error);
    if (!advice.isEmpty())
        text += QStringLiteral(": ") + advice;
    link_.tell(LinkState::portError(error), text);
}

void MainForm::showStatusToolTip(const QString& portNote)
{
    QStringList notes = settingsNotes_;
    if (!portNote.isEmpty())
        notes.append(portNote);
    statusLine.setToolTip(notes.join(QLatin1Char('\n')));
}

void MainForm::tryConnect()
{
    attemptFailed_ = false;
    int error = port_.setSettings(settings.baud + ",n,8,1");
    if (!error)
        error = port_.setHandshaking(0);
    if (error)
        return showPortFailure(error);

    statusLine.setBackColor(colors::kStatusSearching);
    statusLine.setText(QStringLiteral("Searching for uc code..."));
    watchdog.setEnabled(true);

    // While the watchdog runs a reply is awaited: the port takes it at once.
    port_.setReplyAwaited([this] { return watchdog.enabled(); });
    if (!port_.portOpen()) {
        error = port_.setPortOpen(true);
        if (!error)
            showStatusToolTip({});
    }
    if (!error)
        error = port_.setDTREnable(false);
    if (!error)
        error = port_.setRTSEnable(false);
    if (!error) {
        port_.setRThreshold(1);
        port_.setInputLen(1);
        if (settings.sampleTime > 0)
            error = port_.output(recognitionRequest(settings.deviceId));
    }
    // Nothing is undone; the next retry tick starts over.
    if (error)
        showPortFailure(error);
}

void MainForm::watchdogExpired()
{
    watchdog.setEnabled(false);
    statusLine.setBackColor(colors::kStatusFailure);
    statusLine.setText(QStringLiteral("No response!"));
    // Only an open port that took the attempt can have gone unanswered; after
    // a port error the device was never asked.
    if (port_.portOpen() && !attemptFailed_)
        link_.tell(LinkState::noResponse(),
                   portDescription() + QStringLiteral(": No response! (none within 5 s)"));
    replyWaitMayBeOver();
}

} // namespace qm
