#include "publish/qt_mqtt_publisher.h"

#include "app/log_categories.h"

#include <QMetaObject>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mosquitto.h>

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

} // namespace

MqttPublisher::MqttPublisher(MqttConfig config, DiscoveryDevice device)
    : config_(std::move(config))
    , device_(std::move(device))
{
    static const int initialised = mosquitto_lib_init();
    (void)initialised;
    for (const QString& key : config_.unknownKeys)
        qCWarning(lcPublish, "mqtt.conf: unknown key %s, not used", qPrintable(key));
    for (int i = 1; i <= 8; ++i) {
        valueTopics_[i] = topic(QStringLiteral("V0%1").arg(i));
        alarmTopics_[i] = valueTopics_[i] + "/alarm";
    }
    // Without discovery, sensors announced before are removed.
    if (!config_.homeAssistant)
        for (int i = 1; i <= 8; ++i)
            for (const bool alarm : {false, true})
                retained_[discovery(config_, device_, i, std::nullopt, alarm).topic] = {};
    setState(QStringLiteral("connecting"));
    // Readings promised at least once keep their session (and the broker its
    // QoS 2 state) across a lost connection.
    mosq_ = mosquitto_new(config_.clientId.toUtf8().constData(), config_.qos == 0, this);
    if (!mosq_) {
        setState(QStringLiteral("not connected: no MQTT client"));
        return;
    }
    mosquitto_connect_callback_set(mosq_,
                                   [](mosquitto*, void* obj, int rc) { self(obj)->connack_ = rc; });
    mosquitto_disconnect_callback_set(mosq_, [](mosquitto*, void* obj, int) {
        const std::lock_guard lock(self(obj)->mutex_);
        self(obj)->offline();
    });
    mosquitto_publish_callback_set(
        mosq_, [](mosquitto*, void* obj, int mid) { self(obj)->published(mid); });
    const QByteArray offline = "offline", status = topic(QStringLiteral("status"));
    mosquitto_will_set(mosq_, status.constData(), int(offline.size()), offline.constData(), 1,
                       true);
    if (!config_.username.isEmpty())
        mosquitto_username_pw_set(
            mosq_, config_.username.toUtf8().constData(),
            config_.password.isEmpty() ? nullptr : config_.password.toUtf8().constData());
    if (config_.tls) {
        // The broker's certificate is verified against the CA, the system's
        // when none is named: nothing goes out in clear.
        const auto file = [](const QByteArray& f) { return f.isEmpty() ? nullptr : f.constData(); };
        if (mosquitto_tls_set(
                mosq_, file(config_.caFile), config_.caFile.isEmpty() ? "/etc/ssl/certs" : nullptr,
                file(config_.certFile), file(config_.keyFile), nullptr) != MOSQ_ERR_SUCCESS) {
            setState(QStringLiteral("not connected: the TLS files cannot be used"));
            return;
        }
    }
    // The library sends at once all it is handed: the window is ours, with
    // room for the last "offline".
    mosquitto_max_inflight_messages_set(mosq_, unsigned(window_ + 1));
    mosquitto_threaded_set(mosq_, true);
    host_ = config_.host.toUtf8();
    networkRunning_ = ::pthread_create(&network_, nullptr, &MqttPublisher::network, this) == 0;
    if (networkRunning_)
        ::pthread_setname_np(network_, "mqtt");
    else
        setState(QStringLiteral("not connected: no network thread"));
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
// again, backed off from 1 s up to 30 s. The loop wakes for traffic, for a
// publish and for the keep-alive only.
void MqttPublisher::run()
{
    int delayS = 1;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        QString reason;
        const bool served = connectAndServe(reason);
        lock.lock();
        offline();
        if (stopping_)
            break;
        if (served)
            delayS = 1;
        postState(QStringLiteral("not connected: ") + reason);
        changed_.wait_for(lock, std::chrono::seconds(delayS), [this] { return stopping_; });
        delayS = std::min(delayS * 2, 30);
    }
}

// One connection, from the connect to its end. True when the broker took it.
bool MqttPublisher::connectAndServe(QString& reason)
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
    errno = 0;
    int rc = mosquitto_connect(mosq_, host_.constData(), config_.port, kKeepAliveS);
    const auto start = std::chrono::steady_clock::now();
    bool served = false;
    while (rc == MOSQ_ERR_SUCCESS) {
        rc = mosquitto_loop(mosq_, served ? 24 * 3600 * 1000 : 1000, 1);
        if (rc != MOSQ_ERR_SUCCESS)
            break;
        const std::lock_guard lock(mutex_);
        if (stopping_ && !online_)
            return served; // closed before the broker took the connection
        if (!served && connack_ == 0) {
            served = true;
            mosquitto_log_callback_set(mosq_, nullptr);
            online();
        } else if (connack_ > 0) {
            reason = QString::fromUtf8(mosquitto_connack_string(connack_));
            return served;
        } else if (!served && std::chrono::steady_clock::now() - start >
                                  std::chrono::milliseconds(kConnackTimeoutMs)) {
            rc = MOSQ_ERR_TIMEOUT;
            break;
        }
        pump();
    }
    const int error = errno;
    const std::lock_guard lock(errorMutex_);
    reason = lastError_.isEmpty() || rc == MOSQ_ERR_TIMEOUT ? describe(rc, error) : lastError_;
    if (connack_ > 0)
        reason = QString::fromUtf8(mosquitto_connack_string(connack_));
    return served;
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

void MqttPublisher::setState(const QString& state)
{
    if (state == state_)
        return;
    state_ = state;
    if (state.startsWith(QLatin1String("not ")))
        qCWarning(lcPublish, "MQTT %s:%d: %s", qPrintable(config_.host), config_.port,
                  qPrintable(state));
    else
        qCInfo(lcPublish, "MQTT %s:%d: %s", qPrintable(config_.host), config_.port,
               qPrintable(state));
    if (onStateChanged)
        onStateChanged(state);
}

void MqttPublisher::postState(const QString& state)
{
    QMetaObject::invokeMethod(this, [this, state] { setState(state); });
}

// The broker took the connection: "online", the retained topics as they
// are now, the count of readings given up, then what waited, in order (the
// library first sends again what it had not had confirmed).
void MqttPublisher::online()
{
    online_ = true;
    std::deque<Message> first{{topic(QStringLiteral("status")), "online", 1, true}};
    for (const auto& [t, payload] : retained_)
        first.push_back({t, payload, 1, true});
    if (dropped_)
        first.push_back({topic(QStringLiteral("dropped")), QByteArray::number(dropped_), 1, false});
    dropped_ = 0;
    for (const Message& m : first)
        queuedBytes_ += std::size_t(m.topic.size() + m.payload.size());
    queue_.insert(queue_.begin(), first.begin(), first.end());
    pump();
    postState(QStringLiteral("connected"));
}

void MqttPublisher::offline()
{
    online_ = false;
    // Unconfirmed messages of QoS 0 are lost with the connection; the
    // library keeps the others and sends them again.
    std::erase_if(unconfirmed_, [](const auto& u) { return u.second.qos == 0; });
    // Retained topics go out as they are then at the connect: an older
    // payload waiting here would overwrite a newer one.
    std::erase_if(queue_, [this](const Message& m) {
        if (m.retain)
            queuedBytes_ -= std::size_t(m.topic.size() + m.payload.size());
        return m.retain;
    });
    changed_.notify_all();
}

void MqttPublisher::published(int mid)
{
    const std::lock_guard lock(mutex_);
    unconfirmed_.erase(mid);
    if (unconfirmed_.empty() || stopping_)
        changed_.notify_all();
}

// Hands the library what waits, as far as the window has room.
void MqttPublisher::pump()
{
    while (online_ && !stopping_ && !queue_.empty() && unconfirmed_.size() < window_) {
        const Message& m = queue_.front();
        int mid = 0;
        const int rc = mosquitto_publish(mosq_, &mid, m.topic.constData(), int(m.payload.size()),
                                         m.payload.constData(), m.qos, m.retain);
        // Not connected: a message with QoS 1 or 2 is the library's all the
        // same (it goes out at the reconnect); one with QoS 0 waits here.
        if (rc == MOSQ_ERR_NO_CONN && m.qos == 0)
            return;
        if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN)
            unconfirmed_[mid] = {m.qos, m.retain};
        else
            ++dropped_; // refused by the library (too large): told on "dropped"
        queuedBytes_ -= std::size_t(m.topic.size() + m.payload.size());
        queue_.pop_front();
    }
}

void MqttPublisher::send(Message m)
{
    if (m.retain) {
        retained_[m.topic] = m.payload;
        if (!online_)
            return; // the last of it goes out at the connect
    }
    // Waiting: the oldest given up beyond the bound.
    queuedBytes_ += std::size_t(m.topic.size() + m.payload.size());
    queue_.push_back(std::move(m));
    while (queue_.size() > kMaxQueued || queuedBytes_ > kMaxQueuedBytes) {
        queuedBytes_ -= std::size_t(queue_.front().topic.size() + queue_.front().payload.size());
        if (!queue_.front().retain)
            ++dropped_;
        queue_.pop_front();
    }
    pump();
}

// Home Assistant: a sensor and an alarm sensor per channel read, told again
// when a label changes; the configs of channels not read are removed.
void MqttPublisher::announce(const Reading& r)
{
    for (int i = 1; i <= 8; ++i) {
        const std::optional<QString> label =
            i <= r.channels ? std::optional(QString::fromLatin1(r.labels[i])) : std::nullopt;
        if (announcedAll_ && announced_[std::size_t(i)] == label)
            continue;
        announced_[std::size_t(i)] = label;
        for (const bool alarm : {false, true}) {
            const Discovery d = discovery(config_, device_, i, label, alarm);
            send({d.topic, d.payload, 1, true});
        }
    }
    announcedAll_ = true;
}

void MqttPublisher::readingTaken(const Reading& r)
{
    const std::lock_guard lock(mutex_);
    if (config_.homeAssistant)
        announce(r);
    for (int i = 1; i <= 8; ++i)
        for (const auto& [t, payload] :
             {std::pair(&valueTopics_[i], valuePayload(r.values[i])),
              std::pair(&alarmTopics_[i], QByteArray(r.alarms[i] ? "1" : "0"))})
            if (const auto it = retained_.find(*t); it == retained_.end() || it->second != payload)
                send({*t, payload, 1, true});
    send({readingTopic_, readingJson(r), config_.qos, false});
}

void MqttPublisher::linkChanged(const QString& state)
{
    const std::lock_guard lock(mutex_);
    send({topic(QStringLiteral("device")), state.toUtf8(), 1, true});
}

void MqttPublisher::closing()
{
    if (!mosq_ || !networkRunning_)
        return;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(kCloseMs),
                      [this] { return !online_ || (queue_.empty() && unconfirmed_.empty()); });
    quint64 left = dropped_;
    for (const Message& m : queue_)
        left += m.retain ? 0 : 1;
    for (const auto& [mid, u] : unconfirmed_)
        left += u.retain ? 0 : 1;
    stopping_ = true;
    if (online_) {
        // After what went out: "offline", then a clean DISCONNECT (the broker
        // forgets the last will then). The DISCONNECT waits for the broker's
        // PUBACK: a socket closed with an answer still coming is reset, and
        // a reset can cost the broker the DISCONNECT it had not read yet.
        const QByteArray offline = "offline", status = topic(QStringLiteral("status"));
        int mid = 0;
        if (mosquitto_publish(mosq_, &mid, status.constData(), int(offline.size()),
                              offline.constData(), 1, true) == MOSQ_ERR_SUCCESS) {
            unconfirmed_[mid] = {1, true};
            changed_.wait_for(lock, std::chrono::seconds(1),
                              [this, mid] { return !online_ || !unconfirmed_.count(mid); });
        }
        if (online_)
            mosquitto_disconnect(mosq_);
    }
    lock.unlock();
    changed_.notify_all();
    if (left)
        qCWarning(lcPublish, "MQTT: dropped %llu messages not published at the close",
                  static_cast<unsigned long long>(left));
    stopNetwork(2000);
    if (!networkRunning_)
        mosquitto_destroy(mosq_);
    mosq_ = nullptr;
}

} // namespace qm
