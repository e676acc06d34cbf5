#include "publish/qt_mqtt_publisher.h"

#include "base/log_categories.h"
#include "publish/qt_mqtt_properties.h"

#include <QMetaObject>

#include <algorithm>
#include <mosquitto.h>

namespace qm {

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

} // namespace qm
