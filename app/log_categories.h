#pragma once

#include <QLoggingCategory>

// The program's diagnostics, one line per event on standard error (and so in
// a service's journal). QT_LOGGING_RULES switches them, e.g.
// QT_LOGGING_RULES="quellmark.publish.info=false".
namespace qm {
Q_DECLARE_LOGGING_CATEGORY(lcDevice)   // the link: found, lost, no response
Q_DECLARE_LOGGING_CATEGORY(lcAlarm)    // channels entering and leaving alarm
Q_DECLARE_LOGGING_CATEGORY(lcLog)      // the daily log file
Q_DECLARE_LOGGING_CATEGORY(lcSettings) // the settings file
Q_DECLARE_LOGGING_CATEGORY(lcPublish)  // MQTT publishing
Q_DECLARE_LOGGING_CATEGORY(lcTrend)    // the trend's history
Q_DECLARE_LOGGING_CATEGORY(lcWeb)      // the web page
Q_DECLARE_LOGGING_CATEGORY(lcService)  // start, stop, the service manager
} // namespace qm
