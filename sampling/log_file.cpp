#include "sampling/log_file.h"

#include "app/log_categories.h"
#include "app/main_form.h"
#include "app/numbers.h"

#include <QFile>

#include <cstdio>
#include <cstring>

namespace qm {

QByteArray logFileName(const QDate& date)
{
    char name[16];
    std::snprintf(name, sizeof name, "%02d%02d%02d.txt", date.year() % 100, date.month(),
                  date.day());
    return name;
}

std::string logLine(const QTime& time, const ChannelArray<Single>& values)
{
    std::string line;
    line.reserve(96);
    const auto twoDigits = [&line](int n) {
        line += static_cast<char>('0' + n / 10);
        line += static_cast<char>('0' + n % 10);
    };
    line += '"';
    twoDigits(time.hour());
    line += ':';
    twoDigits(time.minute());
    line += ':';
    twoDigits(time.second());
    line += '"';
    for (int i = 1; i <= kChannels; ++i) {
        line += ',';
        line += invariantForm(values[i]);
    }
    line += "\r\n";
    return line;
}

QDateTime MainForm::writeLogLine()
{
    const QDateTime now = wallClock_.localNow();
    const QDate day = now.date();
    if (day != logDay_) {
        logDay_ = day;
        logDir_ = paths_.logDir();
        logPath_ = logDir_ + '/' + logFileName(day);
    }
    // A failure loses the line, and the next evaluation tries again. The
    // journal hears of a failing spell once, as an error (lines are lost),
    // and of its end.
    const bool written = logFile_.append(logDir_, logPath_, logLine(now.time(), values));
    if (written == logFailing_) {
        logFailing_ = !written;
        if (written)
            qCInfo(lcLog).noquote()
                << "Log lines are written again to" << QFile::decodeName(logPath_);
        else
            qCCritical(lcLog).noquote()
                << "Cannot write the log file" << QFile::decodeName(logPath_) + ':'
                << QString::fromLocal8Bit(std::strerror(logFile_.error()))
                << "(lines are lost until it can be written again)";
    }
    return now;
}

} // namespace qm
