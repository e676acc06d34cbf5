#include "app/log_categories.h"

namespace qm {
Q_LOGGING_CATEGORY(lcDevice, "quellmark.device", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAlarm, "quellmark.alarm", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLog, "quellmark.log", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSettings, "quellmark.settings", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPublish, "quellmark.publish", QtInfoMsg)
Q_LOGGING_CATEGORY(lcWeb, "quellmark.web", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTrend, "quellmark.trend", QtInfoMsg)
Q_LOGGING_CATEGORY(lcService, "quellmark.service", QtInfoMsg)
} // namespace qm
