#include "trend/qt_trend_window.h"

#include "trend/csv_export.h"
#include "trend/qt_trend_parts.h"

#include <QPainter>
#include <QSaveFile>

namespace qm {

void TrendWindow::exportCsv(const QString& path, qint64 sliceMs)
{
    exporter_.reset();
    auto job = std::make_unique<Export>();
    Export* e = job.get();
    HistoryRequest rq;
    rq.logDir = logDir_;
    rq.from = end_ - span_;
    rq.to = end_;
    rq.channels = store_.channels;
    // Readings never logged (logging off) as the plot has them.
    const std::string shown = csvOf(series_, store_.labels, store_.channels);
    const ChannelArray<String> labels = store_.labels;
    e->thread = std::thread([this, e, rq, shown, labels, sliceMs, path] {
        QSaveFile file(path);
        bool ok = file.open(QIODevice::WriteOnly);
        const auto write = [&](const std::string& text) {
            ok = ok && file.write(text.data(), qint64(text.size())) == qint64(text.size());
        };
        const bool logged =
            !rq.logDir.isEmpty() && exportLog(rq, labels, sliceMs, write, &e->cancel, &e->permille);
        if (!logged && ok) {
            file.cancelWriting();
            file.open(QIODevice::WriteOnly);
            ok = file.isOpen();
            write(shown);
        }
        ok = ok && !e->cancel && file.commit();
        const QString error = file.errorString();
        QMetaObject::invokeMethod(
            this,
            [this, e, ok, error, path] {
                if (exporter_.get() != e)
                    return;
                exporter_->thread.join();
                exporter_.reset();
                exportDone_ = ok;
                exportNote_ = ok ? tr("Exported to %1").arg(path)
                                 : tr("Cannot write %1: %2").arg(path, error);
                refresh(true);
            },
            Qt::QueuedConnection);
    });
    exporter_ = std::move(job);
    exportNote_ = tr("Exporting…");
    refresh(true);
}

bool TrendWindow::exportPng(const QString& path)
{
    // The plot under a title: the instance, the range and its dates; the
    // crosshair is the user's, not the picture's.
    for (const auto& s : strips_)
        s->cross->setVisible(false);
    const QPixmap chart = plot_->toPixmap(plot_->width(), plot_->height());
    QImage image(chart.width(), chart.height() + 28, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.drawPixmap(0, 28, chart);
    p.setPen(kText);
    QFont font = p.font();
    font.setPointSize(11);
    p.setFont(font);
    p.drawText(QRect(8, 0, image.width() - 16, 28), Qt::AlignVCenter | Qt::AlignLeft,
               programName_ + QStringLiteral(": ") + rangeText(series_.from, end_));
    p.end();
    return image.save(path, "PNG");
}

} // namespace qm
