// trend_shot: a picture of the trend window over a range of a log folder, as
// the program shows it (offscreen or on any display).
//
//   trend_shot LOGDIR OUT.png RANGE [CHANNELS [LABEL...]] [--overlay] [--csv FILE]
//
// RANGE: "24h" or "30d" (the last 24 hours, the last 30 days, now), or
// "YYYY-MM-DD" or "YYYY-MM-DD..YYYY-MM-DD" (whole days). Limits: V01 above 25.
// Prints the note and the plot's text alternative; --csv exports the range.
#include "trend/qt_trend_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>

#include <cstdio>
#include <qcustomplot.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: trend_shot LOGDIR OUT.png RANGE [CHANNELS [LABEL...]]\n");
        return 1;
    }
    qm::TrendStore store;
    qm::ChannelArray<qm::String> labels, colours;
    qm::ChannelArray<qm::Single> hi, lo;
    hi.fill(1e9f);
    lo.fill(-1e9f);
    hi[1] = 25;
    int channels = 8;
    int n = 0;
    bool overlay = false;
    QString csv;
    for (int i = 4; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--csv") && i + 1 < args.size())
            csv = args[++i];
        else if (args[i] == QLatin1String("--overlay"))
            overlay = true;
        else if (n++ == 0)
            channels = args[i].toInt();
        else
            labels[std::size_t(n - 1)] = args[i].toLatin1().toStdString();
    }
    colours.fill("W");
    store.setChannels(labels, colours, hi, lo, channels);
    qm::TrendWindow w(store, QFile::encodeName(args[1]), QStringLiteral("qm"));
    w.show();
    w.setOverlay(overlay);
    const QString range = args[3];
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (range == QLatin1String("24h")) {
        w.showRange(now - 86'400'000, now);
    } else if (range == QLatin1String("30d")) {
        w.showRange(now - 30 * 86'400'000ll, now);
    } else {
        const QStringList days = range.split(QStringLiteral(".."));
        const QDate a = QDate::fromString(days.front(), Qt::ISODate);
        const QDate b = QDate::fromString(days.back(), Qt::ISODate);
        w.showRange(QDateTime(a, QTime(0, 0)).toMSecsSinceEpoch(),
                    QDateTime(b.addDays(1), QTime(0, 0)).toMSecsSinceEpoch(), true);
    }
    QElapsedTimer took;
    took.start();
    while (w.loading() && took.elapsed() < 120'000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    for (int k = 0; k < 5; ++k)
        QApplication::processEvents();
    w.plot()->replot();
    if (!w.grab().save(args[2]))
        return 1;
    if (!csv.isEmpty()) {
        w.exportCsv(csv);
        while (w.exporting())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    std::printf("read in %lld ms\nnote: %s\n%s\n", took.elapsed(), qPrintable(w.note()),
                qPrintable(w.plot()->accessibleDescription()));
    return 0;
}
