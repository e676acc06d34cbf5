#include "sampling/log_file.h"

#include "base/numbers.h"

#include <cstdio>

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

} // namespace qm
