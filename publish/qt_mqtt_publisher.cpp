#include "publish/qt_mqtt_publisher.h"

#include "base/files.h"
#include "base/log_categories.h"
#include "channels/channel_name.h"
#include "publish/qt_mqtt_properties.h"

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
    startClient(initialised);
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
