#pragma once

#include "sampling/reading_observer.h"
#include "settings/settings_file.h"
#include "web/http_types.h"
#include "web/snapshot_hub.h"
#include "web/trend_json.h"
#include "web/web_config.h"
#include "web/web_host.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace qm {

class HttpServer;
class Publishing;
class WebRoutes;

// The instance's web page, when its folder has a web.conf: hears of every
// evaluation and link change on the event-loop thread, makes a snapshot of
// what the window shows and hands it to the server's threads: at once after
// a quiet spell, else gathered, at most one each kGatherMs (so never more
// than one each 250 ms, nor later than half a second after an evaluation). A settings
// change from the page comes back to this thread and is saved and applied
// as SAVE-CLOSE does it.
class WebPage final : public QObject, public ReadingObserver {
public:
    static constexpr int kGatherMs = 450;

    // Reads web.conf and starts serving; a file that cannot be used or a
    // port in use is told in the journal and the status line's tooltip,
    // and the instance runs on without its page.
    WebPage(WebHost& host, const QString& version, const Publishing* publishing);
    ~WebPage() override;

    bool serving() const { return server_ != nullptr; }

    void readingTaken(const Reading& reading) override;
    void linkChanged(const LinkState& state) override;
    void closing() override;

private:
    void refused(const QString& error);
    void gather();
    void publish();
    std::shared_ptr<Snapshot> snapshot() const;
    QByteArray settingsFields() const;
    HttpResponse changeSettings(const std::vector<std::pair<QByteArray, QByteArray>>& pairs);
    HttpResponse changeOnLoop(const std::vector<std::pair<QByteArray, QByteArray>>& pairs);
    LivePart liveOnLoop(qint64 from, qint64 to, qint64 width);
    template <typename T>
    std::optional<T> onLoop(std::function<T()> work, int waitMs);

    WebHost& host_;
    const Publishing* publishing_;
    QString version_;
    SnapshotHub hub_;
    std::unique_ptr<WebRoutes> routes_;
    std::unique_ptr<HttpServer> server_;
    QTimer gatherTimer_, statusTimer_;
    QElapsedTimer sinceLast_;
    // The last evaluation.
    WebState last_;
    ChannelArray<double> values_{};
    ChannelArray<QString> texts_{};
    ChannelArray<bool> alarms_{};
    QString statusText_;
    Rgb statusColour_;
    // The settings' fields, made again only when the settings change.
    mutable std::optional<SettingsValues> fieldsOf_;
    mutable QByteArray fieldsJson_;
};

} // namespace qm
