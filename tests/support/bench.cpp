#include "tests/support/bench.h"

#include <stdexcept>

namespace qm::test {

void Bench::write(const QString& name, const QByteArray& bytes) const
{
    QFile f(path(name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + name.toStdString());
}

void Bench::send(const std::string& bytes)
{
    port.receiveAt(loop.now(), bytes);
    loop.runFor(0);
}

QByteArray Bench::file(const QString& name) const
{
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Millis Bench::shownAt(const QString& text) const
{
    for (const auto& [at, shown] : status)
        if (shown == text)
            return at;
    return -1;
}

int Bench::timesShown(const QString& text) const
{
    int n = 0;
    for (std::size_t i = 0; i < status.size(); ++i)
        n += status[i].second == text && (i == 0 || status[i - 1].second != text);
    return n;
}

} // namespace qm::test
