#pragma once

#include "base/event_loop.h"
#include "base/timer.h"
#include "base/types.h"
#include "device/line_framer.h"
#include "device/link_report.h"
#include "device/malformed_lines.h"
#include "settings/settings_file.h"

#include <QString>

#include <functional>
#include <string>

namespace qm {

class SerialPort;

// The link to the device: opens the port and asks for the device every
// kRetryMs until it answers, waits at most kReplyMs for each reply, cuts the
// bytes into lines, and reports its state (to the journal and the observers
// through LinkReport). It uses the port settings, the device id and the
// sample time of `settings` as they stand at each step.
class SerialLink {
public:
    static constexpr int kRetryMs = 2500;
    static constexpr int kReplyMs = 5000;

    struct Handlers {
        std::function<void(const String&)> line; // a reply line from the device
        // Every port event and every watchdog run out: the awaited reply may
        // have come, or will not.
        std::function<void()> replyWaitMayBeOver;
        std::function<void()> lost; // the device went away
        std::function<void(const LinkState&)> changed;
        // The status line: its text and colour, and why the port failed
        // (empty: it did not, or not any more) for its tooltip.
        std::function<void(const QString&)> statusText;
        std::function<void(Rgb)> statusColour;
        std::function<void(const QString&)> portNote;
    };

    SerialLink(EventLoop& loop, SerialPort& port, const SettingsValues& settings,
               Handlers handlers);
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // The retries start (again), the first after kRetryMs.
    void startRetrying() { retryTimer_.setEnabled(true); }
    // The device is recognised: no more retries.
    void stopRetrying() { retryTimer_.setEnabled(false); }
    bool retrying() const { return retryTimer_.enabled(); }
    // Sends `request` and waits for its reply; false when the port took
    // nothing (the failure shown).
    bool request(const std::string& request);
    bool awaitingReply() const { return watchdog_.enabled(); }
    // Closes the port; a line begun must not run into the next one.
    void close();
    // "COM3 (/dev/ttyUSB0)", or "COM3" where it leads to no device, for the
    // journal.
    QString portDescription() const;
    const LinkState& state() const { return report_.state(); }
    const String& pendingLine() const { return framer_.pending(); }
    // Forgets the line begun, without closing.
    void clearPendingLine() { framer_.clear(); }

private:
    void tryConnect();
    void watchdogExpired();
    void portEvent();
    void lineCame(const String& line);
    void portLost();
    // `lost`: an open port went away (always reported, not once a spell).
    void showPortFailure(int error, bool lost = false);

    SerialPort& port_;
    const SettingsValues& settings_;
    Handlers on_;
    Timer retryTimer_;
    Timer watchdog_;
    LinkReport report_;
    MalformedLines malformed_;
    LineFramer framer_;
    // The port failed in this connection attempt: a watchdog that runs out
    // now had nothing to wait for.
    bool attemptFailed_ = false;
};

} // namespace qm
