#pragma once

#include "publish/mqtt_config.h"

#include <QObject>

#include <array>
#include <deque>
#include <functional>
#include <mutex>
#include <pthread.h>

struct mosquitto;

namespace qm {

// Publishes every reading, the values, the alarms and the link state to an
// MQTT broker through libmosquitto, on a network thread of its own:
// nothing here waits for the network. While the broker is away, readings
// wait in a bounded queue and go out in order once it is back.
class MqttPublisher final : public QObject, public ReadingObserver {
public:
    static constexpr std::size_t kMaxQueued = 100'000;
    static constexpr std::size_t kMaxQueuedBytes = 32u << 20;

    MqttPublisher(MqttConfig config, QString hostName, QString programName);
    ~MqttPublisher() override;

    void readingTaken(const Reading& r) override;
    void linkChanged(const QString& state) override;
    void closing() override;

    // "connecting", "connected", "refused: <why>"; told on every change.
    QString state() const { return state_; }
    std::function<void(const QString&)> onStateChanged;

private:
    struct Message {
        QByteArray topic, payload;
        int qos;
        bool retain;
    };
    static constexpr int kKeepAliveS = 30;
    static void* network(void* self);
    void stopNetwork(bool wait);
    void send(const Message& m);
    void connected();
    void setState(const QString& state);
    QByteArray topic(const QString& sub) const
    {
        return (config_.prefix + QLatin1Char('/') + sub).toUtf8();
    }

    MqttConfig config_;
    QString uniqueBase_;
    mosquitto* mosq_ = nullptr;
    QByteArray host_;
    pthread_t network_{};
    bool networkRunning_ = false;
    bool connected_ = false;
    QString state_;
    std::deque<Message> queue_; // readings while the broker is away
    std::size_t queuedBytes_ = 0;
    quint64 dropped_ = 0;
    // Retained topics (values, alarms, link): the last payload of each.
    std::map<QByteArray, QByteArray> retained_;
    std::array<QByteArray, 9> valueTopics_, alarmTopics_; // V0n, V0n/alarm
    QByteArray readingTopic_ = topic(QStringLiteral("reading"));
    std::array<QString, 9> discovered_; // the labels announced to Home Assistant
    std::mutex errorMutex_;
    QString lastError_; // from the network thread's log
};

} // namespace qm
