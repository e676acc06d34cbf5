#pragma once

#include "base/event_loop.h"
#include "base/types.h"
#include "sampling/append_file.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>

namespace qm {

// The daily log files of an instance: one line an evaluation, appended to the
// file of its day in `logDir` (made when missing). A line that cannot be
// written is lost, and the next one tries again; the journal hears of a
// failing spell once, as an error, and of its end.
class DayLog {
public:
    DayLog(EventLoop& loop, QByteArray logDir);

    // Appends the line of `values` at `now`; false when it was lost.
    bool write(const QDateTime& now, const ChannelArray<Single>& values);

private:
    AppendFile file_;
    QByteArray dir_;
    bool failing_ = false; // the last line could not be written
    QDate day_;            // the day path_ was made for
    QByteArray path_;
};

} // namespace qm
