#include "web/qt_web_page.h"

#include "base/log_categories.h"
#include "publish/qt_publishing.h"
#include "settings/settings_entries.h"
#include "trend/trend_store.h"
#include "web/json.h"
#include "web/qt_http_server.h"
#include "web/web_routes.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>

#include <future>

namespace qm {

namespace {

// The page's files, as the program carries them under :/web/.
PageFiles pageFiles()
{
    PageFiles files;
    QDirIterator it(QStringLiteral(":/web"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            files[f.fileName().mid(6).toUtf8()] = f.readAll();
    }
    return files;
}

QByteArray randomToken()
{
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

const char* kindOf(SettingsEntry::Field f)
{
    using F = SettingsEntry::Field;
    switch (f) {
    case F::ComPort:
    case F::SampleTime:
    case F::ValueCount:
        return "integer";
    case F::Offset:
    case F::Factor:
    case F::SetHi:
    case F::SetLo:
        return "number";
    case F::LogOn:
    case F::SoundOn:
        return "bool";
    default:
        return "text";
    }
}

QString linkWord(const LinkState& s)
{
    switch (s.kind) {
    case LinkState::Kind::Connected:
        return QStringLiteral("connected");
    case LinkState::Kind::NoResponse:
        return QStringLiteral("no response");
    case LinkState::Kind::PortError:
        return QStringLiteral("port error");
    case LinkState::Kind::Unknown:
        break;
    }
    return QStringLiteral("not connected");
}

HttpResponse settingsRefused(const QByteArray& key, const QString& caption, const QString& reason)
{
    return HttpResponse::json(400, "{\"ok\":false,\"key\":" + json::string(QString::fromUtf8(key)) +
                                       ",\"caption\":" + json::string(caption) +
                                       ",\"reason\":" + json::string(reason) + '}');
}

} // namespace

WebPage::WebPage(WebHost& host, const QString& version, const Publishing* publishing)
    : host_(host)
    , publishing_(publishing)
    , version_(version)
{
    values_.fill(NAN);
    const WebSetup setup = readWebConfig(host_.paths().file("web.conf"));
    if (!setup.config) {
        refused(setup.error);
        return;
    }
    for (const QString& key : setup.config->unknownKeys)
        qCWarning(lcWeb).noquote() << "web.conf:" << key << "is not a key of web.conf (ignored)";
    last_.instance = host_.paths().displayName();
    last_.version = version_;
    last_.linkText = last_.link;
    routes_ = std::make_unique<WebRoutes>(
        hub_, host_.paths().logDir(), pageFiles(), randomToken(),
        [this](const auto& pairs) { return changeOnLoop(pairs); },
        [this](qint64 from, qint64 to, qint64 width) { return liveOnLoop(from, to, width); });
    hub_.publish(snapshot());
    server_ = std::make_unique<HttpServer>(*setup.config, last_.instance, hub_, *routes_);
    QString error;
    if (!server_->start(error)) {
        server_.reset();
        refused(error);
        return;
    }
    qCInfo(lcWeb).noquote() << QStringLiteral("serving the page on %1://%2:%3")
                                   .arg(setup.config->tls() ? "https" : "http",
                                        QString::fromUtf8(setup.config->bind))
                                   .arg(setup.config->port);
    gatherTimer_.setSingleShot(true);
    QObject::connect(&gatherTimer_, &QTimer::timeout, this, [this] { publish(); });
    // The status line changes without an evaluation too (searching, a note).
    QObject::connect(&statusTimer_, &QTimer::timeout, this, [this] {
        if (host_.statusText() != statusText_ || !(host_.statusColour() == statusColour_))
            gather();
    });
    statusTimer_.start(1000);
    sinceLast_.start();
}

WebPage::~WebPage()
{
    if (server_)
        server_->stop();
}

void WebPage::refused(const QString& error)
{
    const QString message = QStringLiteral("no web page: ") + error;
    qCWarning(lcWeb).noquote() << message;
    host_.addNote(message);
}

void WebPage::readingTaken(const Reading& r)
{
    last_.hasTime = r.time.isValid();
    last_.timeMs = r.time.toMSecsSinceEpoch();
    last_.timeText = r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    last_.utcOffsetS = r.time.offsetFromUtc();
    ++last_.readings;
    if (host_.settings().logOn == 1)
        ++last_.readingsLogged;
    for (int i = 1; i <= kChannels; ++i) {
        values_[i] = i <= r.channels ? json::widened(r.values[i]) : NAN;
        texts_[i] = r.texts[i];
        alarms_[i] = r.alarms[i];
    }
    gather();
}

void WebPage::linkChanged(const LinkState& state)
{
    last_.link = linkWord(state);
    last_.linkText = state.text().isEmpty() ? last_.link : state.text();
    gather();
}

void WebPage::closing()
{
    last_.link = last_.linkText = QStringLiteral("closed");
    publish();
}

// At most one snapshot each kGatherMs: at once after a quiet spell, else at
// the end of the spell, with every evaluation that came in it.
void WebPage::gather()
{
    if (!server_ || gatherTimer_.isActive())
        return;
    const qint64 since = sinceLast_.elapsed();
    if (since >= kGatherMs)
        publish();
    else
        gatherTimer_.start(int(kGatherMs - since));
}

void WebPage::publish()
{
    sinceLast_.restart();
    std::shared_ptr<Snapshot> next = snapshot();
    statusText_ = next->state.statusText;
    statusColour_ = next->state.statusColour;
    hub_.publish(std::move(next));
}

std::shared_ptr<Snapshot> WebPage::snapshot() const
{
    auto snap = std::make_shared<Snapshot>();
    WebState& s = snap->state;
    s = last_;
    const SettingsValues& settings = host_.settings();
    s.statusText = host_.statusText();
    s.statusColour = host_.statusColour();
    s.sampleTimeS = settings.sampleTime;
    for (int i = 1; i <= std::clamp<int>(settings.valueCount, 1, kChannels); ++i) {
        WebState::Channel c;
        c.index = i;
        c.label = QString::fromLatin1(settings.labels[i]);
        c.value = values_[i];
        c.text = texts_[i];
        c.colour = colorForLetter(settings.colours[i]);
        c.alarm = alarms_[i];
        c.setHi = json::widened(settings.setHi[i]);
        c.setLo = json::widened(settings.setLo[i]);
        s.channels.push_back(c);
    }
    if (publishing_ && publishing_->configured()) {
        s.publishing = true;
        s.publishingConnected = publishing_->state().kind == PublishingState::Kind::Connected;
        s.publishingText = publishing_->state().text();
        s.publishingDropped = publishing_->dropped();
    }
    snap->colourLetters = settings.colours;
    snap->stateJson = stateJson(s);
    snap->settingsJson = settingsFields();
    return snap;
}

// Every field of the Set panel that has a key, in its order.
QByteArray WebPage::settingsFields() const
{
    if (fieldsOf_ == host_.settings())
        return fieldsJson_;
    QByteArray out = "[";
    for (const SettingsEntry& e : settingsEntries()) {
        if (e.key().isEmpty())
            continue;
        out += (out.size() > 1 ? ",{\"key\":" : "{\"key\":") + json::string(e.key()) +
               ",\"caption\":" + json::string(e.caption()) +
               ",\"value\":" + json::string(e.valueIn(host_.settings())) + ",\"kind\":\"" +
               kindOf(e.field) + "\",\"channel\":" + json::number(qint64(e.channel)) + '}';
    }
    return out + ']';
}

// On a server thread: the change is made on the event loop's, waited for
// here (never longer than the event loop takes to come to it, or the
// server's stop).
// Runs `work` on the event-loop thread and waits for its result, at most
// `waitMs` and not beyond the server's stop; nothing then.
template <typename T>
std::optional<T> WebPage::onLoop(std::function<T()> work, int waitMs)
{
    auto done = std::make_shared<std::promise<T>>();
    std::future<T> result = done->get_future();
    QMetaObject::invokeMethod(
        this, [work = std::move(work), done] { done->set_value(work()); }, Qt::QueuedConnection);
    for (int waited = 0; waited < waitMs; waited += 100) {
        if (result.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready)
            return result.get();
        if (hub_.stopped())
            break;
    }
    return std::nullopt;
}

HttpResponse WebPage::changeOnLoop(const std::vector<std::pair<QByteArray, QByteArray>>& pairs)
{
    const std::optional<HttpResponse> r =
        onLoop<HttpResponse>([this, pairs] { return changeSettings(pairs); }, 10000);
    return r ? *r
             : HttpResponse::json(503,
                                  R"({"ok":false,"reason":"the instance is busy or closing"})");
}

// The live store's part of a trend: what the window's trend shows of this
// run. A busy event loop leaves the trend to the log files.
LivePart WebPage::liveOnLoop(qint64 from, qint64 to, qint64 width)
{
    const std::optional<LivePart> part = onLoop<LivePart>(
        [this, from, to, width] {
            LivePart p;
            const TrendStore* store = host_.liveTrend();
            if (!store)
                return p;
            p.from = std::min(store->coverageFrom(), to);
            p.series = store->series(std::max(from, p.from), to, width);
            return p;
        },
        2000);
    return part.value_or(LivePart{});
}

// Every key taken as --set takes it (numbers with "."), all before anything
// is saved; then the file is replaced in one step and the settings applied
// as SAVE-CLOSE applies them: the link closed and started over with them.
HttpResponse WebPage::changeSettings(const std::vector<std::pair<QByteArray, QByteArray>>& pairs)
{
    const SettingsValues before = host_.settings();
    SettingsValues after = before;
    for (const auto& [key, value] : pairs) {
        const std::optional<SettingsEntry> entry = entryForKey(QString::fromUtf8(key));
        if (!entry)
            return settingsRefused(key, {}, QStringLiteral("not a setting"));
        const QString why = takeEntry(after, *entry, QString::fromUtf8(value), QLocale::c());
        if (!why.isEmpty())
            return settingsRefused(key, entry->caption(), why);
    }
    finishEntries(after);
    const QString unsaved = host_.saveAndApply(after);
    if (!unsaved.isEmpty())
        return HttpResponse::json(500, "{\"ok\":false,\"reason\":" + json::string(unsaved) + '}');
    const QStringList changes = settingsChanges(before, after);
    qCInfo(lcSettings).noquote() << "settings changed from the web page:" << changes.join("; ");
    publish();
    QByteArray list = "[";
    for (const QString& c : changes)
        list += (list.size() > 1 ? "," : "") + json::string(c);
    return HttpResponse::json(200, "{\"ok\":true,\"changes\":" + list + "]}");
}

} // namespace qm
