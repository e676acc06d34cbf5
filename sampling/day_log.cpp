#include "sampling/day_log.h"

#include "base/log_categories.h"
#include "sampling/log_file.h"

#include <QFile>

#include <cstring>

namespace qm {

DayLog::DayLog(EventLoop& loop, QByteArray logDir)
    : file_(loop)
    , dir_(std::move(logDir))
{
}

bool DayLog::write(const QDateTime& now, const ChannelArray<Single>& values)
{
    const QDate day = now.date();
    if (day != day_) {
        day_ = day;
        path_ = dir_ + '/' + logFileName(day);
    }
    const bool written = file_.append(dir_, path_, logLine(now.time(), values));
    if (written == failing_) {
        failing_ = !written;
        if (written)
            qCInfo(lcLog).noquote() << "Log lines are written again to" << QFile::decodeName(path_);
        else
            qCCritical(lcLog).noquote()
                << "Cannot write the log file" << QFile::decodeName(path_) + ':'
                << QString::fromLocal8Bit(std::strerror(file_.error()))
                << "(lines are lost until it can be written again)";
    }
    return written;
}

} // namespace qm
