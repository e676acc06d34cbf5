#include "publish/qt_mqtt_publisher.h"

#include "app/files.h"
#include "app/log_categories.h"
#include "channels/channel_name.h"

#include <QMetaObject>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>
#include <utility>

namespace qm {

namespace {

MqttPublisher* self(void* obj)
{
    return static_cast<MqttPublisher*>(obj);
}

// Why a connection could not be made or was lost, in words.
QString describe(int rc, int error)
{
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return QString::fromUtf8(::strerrordesc_np(error)); // not translated, as the rest
    case MOSQ_ERR_EAI:
        return QStringLiteral("the broker's name cannot be looked up");
    case MOSQ_ERR_CONN_LOST:
        return QStringLiteral("the connection was lost");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("the broker stopped answering");
    case MOSQ_ERR_TIMEOUT:
        return QStringLiteral("the broker does not answer");
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

// MQTT 5 properties, freed with the object.
class Properties {
public:
    Properties() = default;
    Properties(const Properties&) = delete;
    Properties& operator=(const Properties&) = delete;
    ~Properties() { mosquitto_property_free_all(&list_); }
    void add(int identifier, int value)
    {
        mosquitto_property_add_int32(&list_, identifier, std::uint32_t(value));
    }
    void add(const char* name, const QByteArray& value)
    {
        mosquitto_property_add_string_pair(&list_, MQTT_PROP_USER_PROPERTY, name,
                                           value.constData());
    }
    const mosquitto_property* list() const { return list_; }

private:
    mosquitto_property* list_ = nullptr;
};

// The value of the user property `wanted`; empty without it.
QByteArray userProperty(const mosquitto_property* props, const char* wanted)
{
    QByteArray out;
    char *name = nullptr, *value = nullptr;
    for (bool skip = false; (props = mosquitto_property_read_string_pair(
                                 props, MQTT_PROP_USER_PROPERTY, &name, &value, skip));
         skip = true) {
        if (std::strcmp(name, wanted) == 0)
            out = value;
        std::free(name);
        std::free(value);
    }
    return out;
}

} // namespace

MqttPublisher::MqttPublisher(MqttConfig config, DiscoveryDevice device, QByteArray announcedFile)
    : config_(std::move(config))
    , device_(std::move(device))
    , announcedFile_(std::move(announcedFile))
{
    static const int initialised = mosquitto_lib_init();
    for (const QString& key : config_.unknownKeys)
        qCWarning(lcPublish, "mqtt.conf: unknown key %s, not used", qPrintable(key));
    for (int i = 1; i <= kChannels; ++i) {
        valueTopics_[i] = topic(QStringLiteral("V0%1").arg(i));
        alarmTopics_[i] = valueTopics_[i] + "/alarm";
    }
    // Sensors this instance announced and does not announce now (discovery
    // off, another node id) are removed; nothing else under the discovery
    // prefix is touched.
    for (const QByteArray& t :
         QByteArray::fromStdString(readRegularFile(announcedFile_, 1 << 20).value_or(""))
             .split('\n'))
        if (!t.isEmpty())
            announced_.insert(t);
    std::set<QByteArray> current;
    for (int i = 1; config_.homeAssistant && i <= kChannels; ++i)
        for (const bool alarm : {false, true})
            current.insert(discovery(config_, device_, i, std::nullopt, alarm).topic);
    for (const QByteArray& t : announced_)
        if (!current.count(t))
            setRetained(t, {}, true);
    setRetained(droppedTopic_, "0"); // a total of this run
    droppedTimer_.setSingleShot(true);
    droppedTimer_.setInterval(1000);
    connect(&droppedTimer_, &QTimer::timeout, this, [this] {
        const std::lock_guard lock(mutex_);
        setRetained(droppedTopic_, QByteArray::number(dropped_));
    });
    setState(link_);
    told_ = link_;
    // Readings promised at least once keep their session (and the broker its
    // QoS 2 state) across a lost connection.
    if (initialised != MOSQ_ERR_SUCCESS) {
        setState(PublishingState::notConnected(QStringLiteral("the MQTT library did not start: ") +
                                               QString::fromUtf8(mosquitto_strerror(initialised))));
        return;
    }
    mosq_ = mosquitto_new(config_.clientId.toUtf8().constData(), config_.qos == 0, this);
    if (!mosq_) {
        setState(PublishingState::notConnected(QStringLiteral("no MQTT client")));
        return;
    }
    mosquitto_connect_v5_callback_set(
        mosq_, [](mosquitto*, void* obj, int rc, int, const mosquitto_property* props) {
            self(obj)->connected(rc, props);
        });
    mosquitto_disconnect_v5_callback_set(
        mosq_, [](mosquitto*, void* obj, int rc, const mosquitto_property*) {
            const std::lock_guard lock(self(obj)->mutex_);
            self(obj)->disconnectReason_ = rc;
            self(obj)->offline();
        });
    mosquitto_publish_v5_callback_set(
        mosq_, [](mosquitto*, void* obj, int mid, int reason, const mosquitto_property*) {
            self(obj)->published(mid, reason);
        });
    mosquitto_message_v5_callback_set(
        mosq_, [](mosquitto*, void* obj, const mosquitto_message* m,
                  const mosquitto_property* props) { self(obj)->received(m, props); });
    const QByteArray offline = "offline";
    // Without its last will the instance could vanish with "online" retained:
    // it does not go out without one.
    if (const int rc = mosquitto_will_set(mosq_, statusTopic_.constData(), int(offline.size()),
                                          offline.constData(), 1, true);
        rc != MOSQ_ERR_SUCCESS) {
        setState(PublishingState::notConnected(QStringLiteral("the last will cannot be set: ") +
                                               QString::fromUtf8(mosquitto_strerror(rc))));
        return;
    }
    if (!config_.username.isEmpty())
        mosquitto_username_pw_set(
            mosq_, config_.username.toUtf8().constData(),
            config_.password.isEmpty() ? nullptr : config_.password.toUtf8().constData());
    if (config_.tls) {
        // The broker's certificate is verified against the CA, the system's
        // when none is named: nothing goes out in clear. A key that wants a
        // passphrase gets none: OpenSSL never asks the terminal.
        const auto file = [](const QByteArray& f) { return f.isEmpty() ? nullptr : f.constData(); };
        if (mosquitto_tls_set(mosq_, file(config_.caFile),
                              config_.caFile.isEmpty() ? "/etc/ssl/certs" : nullptr,
                              file(config_.certFile), file(config_.keyFile),
                              [](char*, int, int, void*) { return 0; }) != MOSQ_ERR_SUCCESS) {
            setState(PublishingState::notConnected(QStringLiteral("the TLS files cannot be used")));
            return;
        }
    }
    // The library sends at once all it is handed: the window is ours, with
    // room for the last "offline".
    mosquitto_max_inflight_messages_set(mosq_, unsigned(kWindow + 1));
    mosquitto_threaded_set(mosq_, true);
    host_ = config_.host.toUtf8();
    networkRunning_ = ::pthread_create(&network_, nullptr, &MqttPublisher::network, this) == 0;
    if (networkRunning_)
        ::pthread_setname_np(network_, "mqtt");
    else
        setState(PublishingState::notConnected(QStringLiteral("no network thread")));
}

MqttPublisher::~MqttPublisher()
{
    if (!mosq_)
        return;
    if (networkRunning_) {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        mosquitto_disconnect(mosq_);
        stopNetwork(1000);
    }
    if (!networkRunning_) // not left stuck in the library
        mosquitto_destroy(mosq_);
}

void* MqttPublisher::network(void* self)
{
    static_cast<MqttPublisher*>(self)->run();
    return nullptr;
}

// The network thread: connects (looking up the broker's name can take
// seconds), serves the connection, and after any failure tells why and tries
// again, backed off from 1 s up to 30 s. Only a connection that lasted
// starts the backoff over: a broker that closes the connection at once (as
// some do on a refused topic) is not hammered. The loop wakes for traffic,
// for a publish and for the keep-alive only.
void MqttPublisher::run()
{
    int delayS = 1;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        const Outcome outcome = connectAndServe();
        lock.lock();
        offline();
        if (stopping_)
            break;
        if (outcome.again)
            continue;
        if (outcome.stable)
            delayS = 1;
        link_ = PublishingState::notConnected(outcome.reason);
        tell();
        changed_.wait_for(lock, std::chrono::seconds(delayS), [this] { return stopping_; });
        delayS = std::min(delayS * 2, 30);
    }
}

// One connection, from the connect to its end.
MqttPublisher::Outcome MqttPublisher::connectAndServe()
{
    {
        const std::lock_guard lock(errorMutex_);
        lastError_.clear();
    }
    // The library's errors tell why a connect failed (a certificate refused,
    // a TLS handshake broken off). Its log formats a line for every packet,
    // so it is heard only until the broker has taken the connection.
    mosquitto_log_callback_set(mosq_, [](mosquitto*, void* obj, int level, const char* text) {
        if (!(level & MOSQ_LOG_ERR))
            return;
        const std::lock_guard lock(self(obj)->errorMutex_);
        self(obj)->lastError_ = QString::fromUtf8(text);
    });
    connack_ = -1;
    disconnectReason_ = 0;
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION,
                         v5_ ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    Properties props;
    if (v5_ && config_.qos > 0)
        props.add(MQTT_PROP_SESSION_EXPIRY_INTERVAL, kExpiryS);
    errno = 0;
    int rc = mosquitto_connect_bind_v5(mosq_, host_.constData(), config_.port, kKeepAliveS, nullptr,
                                       props.list());
    const auto start = std::chrono::steady_clock::now();
    auto servedAt = start;
    Outcome out;
    while (rc == MOSQ_ERR_SUCCESS) {
        rc = mosquitto_loop(mosq_, out.served ? 24 * 3600 * 1000 : 1000, 1);
        if (rc != MOSQ_ERR_SUCCESS)
            break;
        const std::lock_guard lock(mutex_);
        if (stopping_ && !online_)
            return out; // closed before the broker took the connection
        if (!out.served && connack_ == 0) {
            out.served = true;
            servedAt = std::chrono::steady_clock::now();
            mosquitto_log_callback_set(mosq_, nullptr);
            // Whether another instance holds the prefix: its retained
            // "online" comes before ours replaces it.
            if (v5_)
                mosquitto_subscribe_v5(mosq_, nullptr, statusTopic_.constData(), 0,
                                       MQTT_SUB_OPT_NO_LOCAL, nullptr);
            online();
        } else if (connack_ > 0) {
            break;
        } else if (!out.served && std::chrono::steady_clock::now() - start >
                                      std::chrono::milliseconds(kConnackTimeoutMs)) {
            rc = MOSQ_ERR_TIMEOUT;
            break;
        }
        pump();
    }
    const int error = errno;
    {
        const std::lock_guard lock(errorMutex_);
        out.reason =
            lastError_.isEmpty() || rc == MOSQ_ERR_TIMEOUT ? describe(rc, error) : lastError_;
    }
    if (connack_ > 0) {
        // Refused; a broker that does not speak MQTT 5 is asked again at once
        // in 3.1.1 (a 3.1.1 answer reads as its "unacceptable protocol").
        const std::lock_guard lock(mutex_);
        out.reason = QString::fromUtf8(v5_ ? mosquitto_reason_string(connack_)
                                           : mosquitto_connack_string(connack_));
        if (v5_ && (connack_ == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION || connack_ == 1)) {
            v5_ = false;
            out.again = true;
            qCInfo(lcPublish, "MQTT %s:%d: the broker speaks MQTT 3.1.1", qPrintable(config_.host),
                   config_.port);
        }
        return out;
    }
    if (out.served) {
        out.stable = std::chrono::steady_clock::now() - servedAt >= kStable;
        if (disconnectReason_ >= 0x80)
            out.reason = QStringLiteral("the broker closed the connection: ") +
                         QString::fromUtf8(mosquitto_reason_string(disconnectReason_));
        // A broker that cannot tell a refusal (MQTT 3.1.1) may close the
        // connection at the refused message instead.
        const std::lock_guard lock(mutex_);
        if (const QString at = oldestUnconfirmed(); !out.stable && !at.isEmpty())
            out.reason += QStringLiteral(" after publishing %1 (is it allowed?)").arg(at);
    }
    return out;
}

void MqttPublisher::connected(int rc, const mosquitto_property* props)
{
    connack_ = rc;
    std::uint16_t most = 0;
    const bool told = mosquitto_property_read_int16(props, MQTT_PROP_RECEIVE_MAXIMUM, &most, false);
    const std::lock_guard lock(mutex_);
    // The broker's receive maximum, with room for the last "offline".
    window_ = !v5_ ? (config_.qos == 2 ? kWindowQos2 : kWindow)
                   : std::clamp<std::size_t>(told ? most - 1 : kWindow, 1, kWindow);
}

// Another instance's "online" on our status topic (its client id comes with
// it): both publish to the same topics.
void MqttPublisher::received(const mosquitto_message* m, const mosquitto_property* props)
{
    const QByteArray other = userProperty(props, "client_id");
    if (statusTopic_ != m->topic ||
        QByteArrayView(static_cast<const char*>(m->payload), m->payloadlen) != "online" ||
        other.isEmpty() || other == config_.clientId.toUtf8())
        return;
    const std::lock_guard lock(mutex_);
    clash_ = QStringLiteral("%1 is also used by the instance %2: give each its own prefix")
                 .arg(config_.prefix, QString::fromUtf8(other));
    tell();
}

// Waits for the thread to end; one stuck in a connect is cancelled.
void MqttPublisher::stopNetwork(int waitMs)
{
    timespec deadline{};
    ::clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += waitMs / 1000;
    deadline.tv_nsec += long(waitMs % 1000) * 1'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
        ++deadline.tv_sec;
        deadline.tv_nsec -= 1'000'000'000;
    }
    if (::pthread_timedjoin_np(network_, nullptr, &deadline) == 0) {
        networkRunning_ = false;
        return;
    }
    qCWarning(lcPublish, "MQTT: the network thread did not end in time and was cancelled");
    ::pthread_cancel(network_);
    ::pthread_join(network_, nullptr); // the library's state is unknown now: left as it is
}

void MqttPublisher::setState(const PublishingState& state)
{
    if (state == state_)
        return;
    state_ = state;
    if (state.troubled())
        qCWarning(lcPublish, "MQTT %s:%d: %s", qPrintable(config_.host), config_.port,
                  qPrintable(state.text()));
    else
        qCInfo(lcPublish, "MQTT %s:%d: %s", qPrintable(config_.host), config_.port,
               qPrintable(state.text()));
    if (onStateChanged)
        onStateChanged(state);
}

// The state as the link, the refusals and a shared prefix make it, told on
// the event-loop thread when it changed.
void MqttPublisher::tell()
{
    PublishingState state = link_;
    if (online_) {
        QStringList problems;
        if (!refused_.empty())
            problems << QStringLiteral("refused: ") + refused_.begin()->second +
                            (refused_.size() > 1
                                 ? QStringLiteral(" (and %1 more)").arg(refused_.size() - 1)
                                 : QString());
        if (!clash_.isEmpty())
            problems << clash_;
        state.problems = problems.join(QStringLiteral("; "));
    }
    if (state == told_)
        return;
    told_ = state;
    QMetaObject::invokeMethod(this, [this, state] { setState(state); });
}

QString MqttPublisher::oldestUnconfirmed() const
{
    const auto oldest = std::min_element(
        unconfirmed_.begin(), unconfirmed_.end(),
        [](const auto& a, const auto& b) { return a.second.number < b.second.number; });
    return oldest == unconfirmed_.end() ? QString() : QString::fromUtf8(oldest->second.topic);
}

// The broker took the connection: "online", the retained topics as they
// are now, then the readings that waited, in order (the library first sends
// again what it had not had confirmed).
void MqttPublisher::online()
{
    online_ = true;
    refused_.clear();
    clash_.clear();
    link_ = PublishingState::connected();
    retained_[statusTopic_].payload = "online";
    dirty_ = {statusTopic_};
    for (auto& [t, r] : retained_) {
        r.dirty = true;
        if (t != statusTopic_)
            dirty_.push_back(t);
    }
    pump();
    tell();
}

void MqttPublisher::offline()
{
    online_ = false;
    // Without a session (QoS 0) the library forgets what it had not sent,
    // and the readings among it are lost; with one it sends it all again.
    quint64 lost = 0;
    std::erase_if(unconfirmed_, [&](const auto& u) {
        lost += config_.qos == 0 && u.second.reading;
        return config_.qos == 0;
    });
    if (lost)
        lose(lost, "lost with the connection");
    changed_.notify_all();
}

// Counted on "dropped", told within a second.
void MqttPublisher::lose(quint64 readings, const char* why)
{
    dropped_ += readings;
    QMetaObject::invokeMethod(this, [this, why] { lossSeen(QString::fromLatin1(why)); });
}

void MqttPublisher::lossSeen(const QString& why)
{
    if (!droppedTimer_.isActive())
        droppedTimer_.start();
    // Once for a spell of losses: the count is on the broker.
    const auto now = std::chrono::steady_clock::now();
    if (lastLoss_ == decltype(lastLoss_){} || now - lastLoss_ > std::chrono::minutes(1))
        qCWarning(lcPublish, "MQTT: readings are being given up (%s); their count: %s",
                  qPrintable(why), droppedTopic_.constData());
    lastLoss_ = now;
}

void MqttPublisher::published(int mid, int reason)
{
    const std::lock_guard lock(mutex_);
    if (const auto it = unconfirmed_.find(mid); it != unconfirmed_.end()) {
        const Unconfirmed u = it->second;
        unconfirmed_.erase(it);
        bool changed = false;
        if (reason >= 0x80) {
            if (u.reading)
                lose(1, "refused by the broker");
            if (reason != 0x92) { // a session the broker lost, not a refusal
                const QString why = refusal(reason, u.topic);
                changed = std::exchange(refused_[u.topic], why) != why;
            }
        } else {
            changed = refused_.erase(u.topic) > 0;
            // A removed sensor is forgotten once the broker has its removal.
            const auto r = retained_.find(u.topic);
            if (announced_.count(u.topic) && r != retained_.end() && r->second.payload.isEmpty() &&
                !r->second.dirty) {
                announced_.erase(u.topic);
                retained_.erase(r);
                QMetaObject::invokeMethod(this, [this] {
                    std::set<QByteArray> topics;
                    {
                        const std::lock_guard lock(mutex_);
                        topics = announced_;
                    }
                    saveAnnounced(topics);
                });
            }
        }
        if (changed)
            tell();
    }
    if (unconfirmed_.empty() || stopping_)
        changed_.notify_all();
}

int MqttPublisher::publish(int* mid, const QByteArray& t, const QByteArray& payload, int qos,
                           bool retain)
{
    // With MQTT 5 the "online" names its client, and a reading waits for a
    // subscriber for a day at most.
    Properties props;
    if (v5_ && t == statusTopic_ && payload == "online")
        props.add("client_id", config_.clientId.toUtf8());
    if (v5_ && !retain)
        props.add(MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, kExpiryS);
    return mosquitto_publish_v5(mosq_, mid, t.constData(), int(payload.size()), payload.constData(),
                                qos, retain, props.list());
}

// Hands the library what waits, as far as the window has room: the
// retained topics that changed first, then the readings.
void MqttPublisher::pump()
{
    while (online_ && !stopping_ && unconfirmed_.size() < window_) {
        int mid = 0;
        if (!dirty_.empty()) {
            const QByteArray t = dirty_.front();
            Retained& r = retained_[t];
            const int rc = publish(&mid, t, r.payload, 1, true);
            if (rc == MOSQ_ERR_NO_CONN)
                return; // all of them go out again at the connect
            dirty_.pop_front();
            r.dirty = false;
            if (rc == MOSQ_ERR_SUCCESS)
                unconfirmed_[mid] = {t, false, ++handed_};
            continue;
        }
        if (queue_.empty())
            return;
        const int rc = publish(&mid, readingTopic_, queue_.front(), config_.qos, false);
        // Not connected: a message with QoS 1 or 2 is the library's all the
        // same (it goes out at the reconnect); one with QoS 0 waits here.
        if (rc == MOSQ_ERR_NO_CONN && config_.qos == 0)
            return;
        if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN)
            unconfirmed_[mid] = {readingTopic_, true, ++handed_};
        else
            lose(1, "refused by the MQTT library");
        queuedBytes_ -= std::size_t(queue_.front().size());
        queue_.pop_front();
    }
}

// Waiting: the oldest given up beyond the bound.
void MqttPublisher::queueReading(QByteArray payload)
{
    queuedBytes_ += std::size_t(payload.size());
    queue_.push_back(std::move(payload));
    quint64 over = 0;
    for (; queue_.size() > std::size_t(config_.maxQueued) || queuedBytes_ > kMaxQueuedBytes;
         ++over) {
        queuedBytes_ -= std::size_t(queue_.front().size());
        queue_.pop_front();
    }
    if (over)
        lose(over, "the queue was full");
    pump();
}

// A retained topic keeps only its last payload; it goes out when it changed
// (or `always`), and all of them again at every connect.
void MqttPublisher::setRetained(const QByteArray& t, const QByteArray& payload, bool always)
{
    const auto [it, fresh] = retained_.try_emplace(t);
    if (!fresh && !always && it->second.payload == payload)
        return;
    it->second.payload = payload;
    if (!it->second.dirty) {
        it->second.dirty = true;
        dirty_.push_back(t);
    }
    pump();
}

void MqttPublisher::saveAnnounced(const std::set<QByteArray>& topics)
{
    if (announcedFile_.isEmpty())
        return;
    QByteArray text;
    for (const QByteArray& t : topics)
        text += t + '\n';
    if (topics.empty() ? ::unlink(announcedFile_.constData()) != 0 && errno != ENOENT
                       : !replaceFile(announcedFile_, text.toStdString()))
        qCWarning(lcPublish, "MQTT: %s cannot be written", announcedFile_.constData());
}

// Home Assistant: a sensor and an alarm sensor per channel read, told again
// when a label changes; the configs of channels not read are removed.
void MqttPublisher::announce(const Reading& r)
{
    bool added = false;
    for (int i = 1; i <= kChannels; ++i) {
        const std::optional<QString> name =
            i <= r.channels ? std::optional(channelName(i, r.labels[i])) : std::nullopt;
        if (announcedAll_ && names_[std::size_t(i)] == name)
            continue;
        names_[std::size_t(i)] = name;
        for (const bool alarm : {false, true}) {
            const Discovery d = discovery(config_, device_, i, name, alarm);
            if (name)
                added |= announced_.insert(d.topic).second;
            setRetained(d.topic, d.payload);
        }
    }
    announcedAll_ = true;
    if (added)
        saveAnnounced(announced_);
}

void MqttPublisher::readingTaken(const Reading& r)
{
    const std::lock_guard lock(mutex_);
    if (config_.homeAssistant)
        announce(r);
    // A sensor that expires wants every reading, the same value too.
    const bool always = config_.homeAssistant && config_.expireAfter > 0;
    for (int i = 1; i <= kChannels; ++i) {
        setRetained(valueTopics_[i], valuePayload(r.values[i]), always && i <= r.channels);
        setRetained(alarmTopics_[i], r.alarms[i] ? "1" : "0", always && i <= r.channels);
    }
    queueReading(readingJson(r));
}

void MqttPublisher::linkChanged(const LinkState& state)
{
    const std::lock_guard lock(mutex_);
    setRetained(topic(QStringLiteral("device")), state.text().toUtf8());
}

void MqttPublisher::closing()
{
    if (!mosq_ || !networkRunning_)
        return;
    std::unique_lock lock(mutex_);
    setRetained(droppedTopic_, QByteArray::number(dropped_)); // the last total
    changed_.wait_for(lock, std::chrono::milliseconds(kCloseMs), [this] {
        return !online_ || (queue_.empty() && dirty_.empty() && unconfirmed_.empty());
    });
    quint64 left = queue_.size();
    for (const auto& [mid, u] : unconfirmed_)
        left += u.reading;
    stopping_ = true;
    if (online_) {
        // After what went out: "offline", then a clean DISCONNECT (the broker
        // forgets the last will then, and the session). The DISCONNECT waits
        // for the broker's PUBACK: a socket closed with an answer still
        // coming is reset, and a reset can cost the broker the DISCONNECT it
        // had not read yet.
        int mid = 0;
        if (publish(&mid, statusTopic_, "offline", 1, true) == MOSQ_ERR_SUCCESS) {
            unconfirmed_[mid] = {statusTopic_, false, ++handed_};
            changed_.wait_for(lock, std::chrono::seconds(1),
                              [this, mid] { return !online_ || !unconfirmed_.count(mid); });
        }
        Properties props;
        if (v5_ && config_.qos > 0)
            props.add(MQTT_PROP_SESSION_EXPIRY_INTERVAL, 0);
        if (online_)
            mosquitto_disconnect_v5(mosq_, 0, props.list());
    }
    const quint64 dropped = dropped_ + left;
    lock.unlock();
    changed_.notify_all();
    if (dropped)
        qCWarning(lcPublish, "MQTT: %llu readings given up in this run, %llu of them at the close",
                  static_cast<unsigned long long>(dropped), static_cast<unsigned long long>(left));
    stopNetwork(2000);
    if (!networkRunning_)
        mosquitto_destroy(mosq_);
    mosq_ = nullptr;
}

} // namespace qm
