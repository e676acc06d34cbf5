#include "publish/qt_mqtt_publisher.h"

#include "base/log_categories.h"
#include "publish/qt_mqtt_properties.h"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mosquitto.h>
#include <mqtt_protocol.h>

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

// The library's client with its callbacks, last will, login and TLS, and
// the network thread that serves it.
void MqttPublisher::startClient(int initialised)
{
    if (initialised != MOSQ_ERR_SUCCESS) {
        setState(PublishingState::notConnected(QStringLiteral("the MQTT library did not start: ") +
                                               QString::fromUtf8(mosquitto_strerror(initialised))));
        return;
    }
    // Readings promised at least once keep their session (and the broker its
    // QoS 2 state) across a lost connection.
    mosq_ = mosquitto_new(config_.clientId.toUtf8().constData(), config_.qos == 0, this);
    if (!mosq_) {
        setState(PublishingState::notConnected(QStringLiteral("no MQTT client")));
        return;
    }
    setCallbacks();
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
    if (!logIn())
        return;
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

// The library's calls on the network thread, to this publisher.
void MqttPublisher::setCallbacks()
{
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
}

// The user's name and password, and TLS; false (the state says why) when
// the TLS files cannot be used.
bool MqttPublisher::logIn()
{
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
            return false;
        }
    }
    return true;
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
    Properties props;
    prepareConnect(props);
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
    explainEnd(out, rc, error, servedAt);
    return out;
}

// Before each connect: the library's errors heard again, the protocol
// version to ask for and the session's expiry.
void MqttPublisher::prepareConnect(Properties& props)
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
    if (v5_ && config_.qos > 0)
        props.add(MQTT_PROP_SESSION_EXPIRY_INTERVAL, kExpiryS);
}

// Why the connection ended or was refused, and whether it lasted; a broker
// that speaks only MQTT 3.1.1 is to be asked again at once.
void MqttPublisher::explainEnd(Outcome& out, int rc, int error,
                               std::chrono::steady_clock::time_point servedAt)
{
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
        return;
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

} // namespace qm
