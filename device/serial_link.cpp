#include "device/serial_link.h"

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

QString failureText(int error)
{
    switch (error) {
    case comm_error::kInvalidPort:
        return QStringLiteral("Invalid Port Number!");
    case comm_error::kPortInUse:
        return QStringLiteral("Port already open!");
    default:
        return QStringLiteral("COM Port comm-error! ") + QString::number(error);
    }
}

} // namespace

SerialLink::SerialLink(EventLoop& loop, SerialPort& port, const SettingsValues& settings,
                       Handlers handlers)
    : port_(port)
    , settings_(settings)
    , on_(std::move(handlers))
    , retryTimer_(loop, kRetryMs, [this] { tryConnect(); })
    , watchdog_(loop, kReplyMs, [this] { watchdogExpired(); })
    , report_(loop, [this](const LinkState& state) { on_.changed(state); })
    , malformed_(loop)
    , framer_([this](const String& line) { lineCame(line); },
              [this](const String& start) {
                  malformed_.seen(start, "longer than 32767 characters: dropped",
                                  portDescription());
                  on_.statusText(QStringLiteral("???"));
              })
{
    port_.setOnComm([this] { portEvent(); });
}

QString SerialLink::portDescription() const
{
    const QByteArray device = port_.devicePath();
    const QString port = QStringLiteral("COM") + QString::number(settings_.comPort);
    return device.isEmpty() ? port : port + QStringLiteral(" (") + QFile::decodeName(device) + ')';
}

// Shows why the port failed, on the failure colour.
void SerialLink::showPortFailure(int error, bool lost)
{
    attemptFailed_ = true;
    on_.statusColour(colors::kStatusFailure);
    const QString shown = failureText(error);
    on_.statusText(shown);
    // A request that finds the port closed by a failure already told (the
    // rest of a sample cycle after a loss) has nothing new to tell.
    if (error == comm_error::kPortNotOpen && report_.state().kind == LinkState::Kind::PortError)
        return;
    const QString advice = error == comm_error::kPermission ? permissionAdvice(port_.devicePath())
                           : error == comm_error::kInvalidPort || error == comm_error::kPortInUse
                               ? port_.failureDetail()
                               : QString();
    on_.portNote(advice);
    QString text = portDescription() + QStringLiteral(": ") + shown;
    if (lost)
        text = QStringLiteral("Lost ") + text + QStringLiteral(" (the device went away)");
    else if (error == comm_error::kInvalidPort || error == comm_error::kPortInUse)
        text += QStringLiteral(" (error %1)").arg(error);
    if (!advice.isEmpty())
        text += QStringLiteral(": ") + advice;
    report_.tell(LinkState::portError(error), text);
}

void SerialLink::tryConnect()
{
    attemptFailed_ = false;
    int error = port_.setSettings(settings_.baud + ",n,8,1");
    if (!error)
        error = port_.setHandshaking(0);
    if (error)
        return showPortFailure(error);

    on_.statusColour(colors::kStatusSearching);
    on_.statusText(QStringLiteral("Searching for uc code..."));
    watchdog_.setEnabled(true);

    // While the watchdog runs a reply is awaited: the port takes it at once.
    port_.setReplyAwaited([this] { return watchdog_.enabled(); });
    if (!port_.portOpen()) {
        error = port_.setPortOpen(true);
        if (!error)
            on_.portNote({});
    }
    if (!error)
        error = port_.setDTREnable(false);
    if (!error)
        error = port_.setRTSEnable(false);
    if (!error) {
        port_.setRThreshold(1);
        port_.setInputLen(1);
        if (settings_.sampleTime > 0)
            error = port_.output(recognitionRequest(settings_.deviceId));
    }
    // Nothing is undone; the next retry tick starts over.
    if (error)
        showPortFailure(error);
}

void SerialLink::watchdogExpired()
{
    watchdog_.setEnabled(false);
    on_.statusColour(colors::kStatusFailure);
    on_.statusText(QStringLiteral("No response!"));
    // Only an open port that took the attempt can have gone unanswered; after
    // a port error the device was never asked.
    if (port_.portOpen() && !attemptFailed_)
        report_.tell(LinkState::noResponse(),
                     portDescription() + QStringLiteral(": No response! (none within 5 s)"));
    on_.replyWaitMayBeOver();
}

bool SerialLink::request(const std::string& request)
{
    if (const int error = port_.output(request)) {
        showPortFailure(error);
        return false;
    }
    watchdog_.setEnabled(true);
    return true;
}

void SerialLink::close()
{
    if (port_.portOpen())
        (void)port_.setPortOpen(false);
    framer_.clear();
}

void SerialLink::portEvent()
{
    switch (port_.commEvent()) {
    case comm_event::kReceive:
        // Taken as a block: nothing below waits, so this is the same as
        // taking one character per read.
        framer_.feed(port_.inputAll());
        break;
    case comm_event::kDeviceLost:
        portLost();
        break;
    default:
        break;
    }
    on_.replyWaitMayBeOver();
}

void SerialLink::lineCame(const String& line)
{
    watchdog_.setEnabled(false);
    // A line came: the device is there.
    if (report_.lineIsNews())
        report_.tell(LinkState::connected(),
                     QStringLiteral("Device found on ") + portDescription());
    if (const std::string problem = replyLineProblem(line, settings_.deviceId); !problem.empty())
        malformed_.seen(line, problem, portDescription());
    on_.line(line);
}

// The adapter went away: the serial layer has closed the port. Reading stops
// until the retry finds the device again.
void SerialLink::portLost()
{
    framer_.clear();
    on_.lost();
    showPortFailure(port_.lastError(), true);
    retryTimer_.setEnabled(true);
}

} // namespace qm
