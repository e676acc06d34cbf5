#include "publish/qt_mqtt_publisher.h"

#include <QFile>
#include <QMetaObject>

#include <cstdio>
#include <ctime>
#include <mosquitto.h>

namespace qm {

namespace {

MqttPublisher* self(void* obj)
{
    return static_cast<MqttPublisher*>(obj);
}

} // namespace

MqttPublisher::MqttPublisher(MqttConfig config, QString hostName, QString programName)
    : config_(std::move(config))
    , uniqueBase_(QStringLiteral("quellmark_") + hostName + QLatin1Char('_') + programName)
{
    static const int initialised = mosquitto_lib_init();
    (void)initialised;
    mosq_ = mosquitto_new(config_.clientId.toUtf8().constData(), true, this);
    for (const QString& key : config_.unknownKeys)
        std::fprintf(stderr, "quellmark: mqtt.conf: unknown key %s, not used\n", qPrintable(key));
    setState(QStringLiteral("connecting"));
    if (!mosq_) {
        setState(QStringLiteral("refused: no MQTT client"));
        return;
    }
    // The callbacks come on the library's network thread; the state is kept
    // on the event loop's.
    mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* obj, int rc) {
        QMetaObject::invokeMethod(self(obj), [p = self(obj), rc] {
            if (rc == 0)
                return p->connected();
            p->setState(QStringLiteral("refused: ") +
                        QString::fromUtf8(mosquitto_connack_string(rc)));
        });
    });
    mosquitto_disconnect_callback_set(mosq_, [](mosquitto*, void* obj, int) {
        QMetaObject::invokeMethod(self(obj), [p = self(obj)] {
            p->connected_ = false;
            p->setState(QStringLiteral("connecting"));
        });
    });
    mosquitto_log_callback_set(mosq_, [](mosquitto*, void* obj, int level, const char* text) {
        if (!(level & MOSQ_LOG_ERR))
            return;
        const QString message = QString::fromUtf8(text);
        QMetaObject::invokeMethod(self(obj), [p = self(obj), message] {
            if (!p->connected_) // a certificate refused, a broker not there
                p->setState(QStringLiteral("refused: ") + message);
        });
    });
    for (int i = 1; i <= 8; ++i) {
        valueTopics_[i] = topic(QStringLiteral("V0%1").arg(i));
        alarmTopics_[i] = valueTopics_[i] + "/alarm";
    }
    const QByteArray offline = "offline", status = topic(QStringLiteral("status"));
    mosquitto_will_set(mosq_, status.constData(), int(offline.size()), offline.constData(), 1,
                       true);
    if (!config_.username.isEmpty())
        mosquitto_username_pw_set(
            mosq_, config_.username.toUtf8().constData(),
            config_.password.isEmpty() ? nullptr : config_.password.toUtf8().constData());
    if (config_.tls) {
        // The broker's certificate is verified against the CA (the system's
        // when none is given): nothing goes out in clear.
        if (config_.caFile.isEmpty())
            mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        const auto file = [](const QString& f) {
            return f.isEmpty() ? QByteArray() : QFile::encodeName(f);
        };
        const QByteArray ca = file(config_.caFile), cert = file(config_.certFile),
                         key = file(config_.keyFile);
        if (mosquitto_tls_set(mosq_, ca.isEmpty() ? nullptr : ca.constData(), nullptr,
                              cert.isEmpty() ? nullptr : cert.constData(),
                              key.isEmpty() ? nullptr : key.constData(),
                              nullptr) != MOSQ_ERR_SUCCESS) {
            setState(QStringLiteral("refused: the TLS files cannot be used"));
            return;
        }
    }
    mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
    mosquitto_threaded_set(mosq_, true);
    host_ = config_.host.toUtf8();
    networkRunning_ = ::pthread_create(&network_, nullptr, &MqttPublisher::network, this) == 0;
    if (networkRunning_)
        ::pthread_setname_np(network_, "mqtt");
    else
        setState(QStringLiteral("refused: no network thread"));
}

MqttPublisher::~MqttPublisher()
{
    if (!mosq_)
        return;
    mosquitto_disconnect(mosq_);
    stopNetwork(false);
    mosquitto_destroy(mosq_);
}

// The network thread. The connection is made here, not on the event loop's
// thread: looking up the broker's name can take seconds. The loop wakes for
// traffic, for a publish and for the keep-alive only (the library's own
// thread would wake every second as well).
void* MqttPublisher::network(void* self)
{
    auto* p = static_cast<MqttPublisher*>(self);
    mosquitto_connect_async(p->mosq_, p->host_.constData(), p->config_.port, kKeepAliveS);
    mosquitto_loop_forever(p->mosq_, 24 * 3600 * 1000, 1);
    return nullptr;
}

// Waits a moment for the thread to end after a disconnect (it sends what is
// queued first), or not at all; then stops it where it waits.
void MqttPublisher::stopNetwork(bool wait)
{
    if (!networkRunning_)
        return;
    networkRunning_ = false;
    timespec deadline{};
    ::clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += wait ? 2 : 0;
    if (::pthread_timedjoin_np(network_, nullptr, &deadline) != 0) {
        ::pthread_cancel(network_);
        ::pthread_join(network_, nullptr);
    }
}

void MqttPublisher::setState(const QString& state)
{
    if (state == state_)
        return;
    state_ = state;
    std::fprintf(stderr, "quellmark: MQTT %s:%d: %s\n", qPrintable(config_.host), config_.port,
                 qPrintable(state));
    if (onStateChanged)
        onStateChanged(state);
}

void MqttPublisher::send(const Message& m)
{
    if (connected_ && mosquitto_publish(mosq_, nullptr, m.topic.constData(), int(m.payload.size()),
                                        m.payload.constData(), m.qos, m.retain) == MOSQ_ERR_SUCCESS)
        return;
    if (m.retain)
        return; // the last of it goes out again at the reconnect
    // While the broker is away: queued, the oldest given up beyond the bound.
    queue_.push_back(m);
    queuedBytes_ += std::size_t(m.topic.size() + m.payload.size());
    while (queue_.size() > kMaxQueued || queuedBytes_ > kMaxQueuedBytes) {
        queuedBytes_ -= std::size_t(queue_.front().topic.size() + queue_.front().payload.size());
        queue_.pop_front();
        ++dropped_;
    }
}

void MqttPublisher::connected()
{
    connected_ = true;
    setState(QStringLiteral("connected"));
    send({topic(QStringLiteral("status")), "online", 1, true});
    for (const auto& [t, payload] : retained_)
        send({t, payload, 1, true});
    discovered_ = {};
    // What waited goes out in order, each confirmed by the broker.
    std::deque<Message> waiting;
    waiting.swap(queue_);
    queuedBytes_ = 0;
    if (dropped_)
        send({topic(QStringLiteral("dropped")), QByteArray::number(dropped_), 1, false});
    dropped_ = 0;
    for (Message& m : waiting)
        send({m.topic, m.payload, std::max(m.qos, 1), false});
}

void MqttPublisher::readingTaken(const Reading& r)
{
    for (int i = 1; i <= 8; ++i) {
        for (const auto& [t, payload] :
             {std::pair(&valueTopics_[i], valuePayload(r.values[i])),
              std::pair(&alarmTopics_[i], QByteArray(r.alarms[i] ? "1" : "0"))}) {
            QByteArray& last = retained_[*t];
            if (last != payload) {
                last = payload;
                send({*t, payload, 1, true});
            }
        }
        // Home Assistant: a sensor and an alarm sensor per channel in use.
        const QString label = QString::fromLatin1(r.labels[i]);
        if (config_.homeAssistant && connected_ && i <= r.channels &&
            discovered_[std::size_t(i)] != label) {
            discovered_[std::size_t(i)] = label;
            for (const bool alarm : {false, true}) {
                const auto [t, payload] = discovery(config_, uniqueBase_, i, label, alarm);
                send({t, payload, 1, true});
            }
        }
    }
    send({readingTopic_, readingJson(r), config_.qos, false});
}

void MqttPublisher::linkChanged(const QString& state)
{
    const QByteArray t = topic(QStringLiteral("device")), payload = state.toUtf8();
    retained_[t] = payload;
    send({t, payload, 1, true});
}

void MqttPublisher::closing()
{
    if (!mosq_)
        return;
    send({topic(QStringLiteral("status")), "offline", 1, true});
    // Connected: the disconnect follows what is queued for the broker, and
    // the network thread ends with it. Not connected: nothing to wait for.
    mosquitto_disconnect(mosq_);
    stopNetwork(connected_);
}

} // namespace qm
