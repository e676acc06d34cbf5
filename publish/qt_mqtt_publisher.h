#pragma once

#include "publish/mqtt_config.h"

#include <QObject>

#include <array>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <pthread.h>
#include <unordered_map>

struct mosquitto;

namespace qm {

// Publishes every reading, the values, the alarms and the link state to an
// MQTT broker through libmosquitto, on a network thread of its own:
// nothing here waits for the network but a normal close. While the broker
// is away, readings wait in a bounded queue and go out in order once it is
// back; the library is handed only a bounded window of unconfirmed messages,
// so the bound holds for the whole process. Every failure (refused, lost,
// a broken TLS handshake, no answer) leads to a retry, backed off up to 30 s.
class MqttPublisher final : public QObject, public ReadingObserver {
public:
    static constexpr std::size_t kMaxQueued = 100'000;
    static constexpr std::size_t kMaxQueuedBytes = 32u << 20;
    // Unconfirmed messages handed to the library; with QoS 2 the broker takes
    // no more than its receive maximum (20 by default) and drops the rest.
    static constexpr std::size_t kWindow = 100, kWindowQos2 = 20;
    static constexpr int kCloseMs = 3000; // to publish what is queued at a close

    MqttPublisher(MqttConfig config, DiscoveryDevice device);
    ~MqttPublisher() override;

    void readingTaken(const Reading& r) override;
    void linkChanged(const QString& state) override;
    // Publishes what is queued (for at most kCloseMs), then "offline", then
    // disconnects cleanly; what could not go out is counted on standard error.
    void closing() override;

    // "connecting", "connected" or "not connected: <why>"; the reason stays
    // until a connection succeeds. Told on every change.
    QString state() const { return state_; }
    std::function<void(const QString&)> onStateChanged;

private:
    struct Message {
        QByteArray topic, payload;
        int qos;
        bool retain;
    };
    struct Unconfirmed {
        int qos;
        bool retain;
    };
    static constexpr int kKeepAliveS = 30;
    static constexpr int kConnackTimeoutMs = 10'000;
    static void* network(void* self);
    void run();
    bool connectAndServe(QString& reason); // false when it ends without a reason
    void stopNetwork(int waitMs);
    void send(Message m);    // with mutex_ held
    void pump();             // with mutex_ held
    void online();           // network thread, with mutex_ held
    void offline();          // network thread, with mutex_ held
    void published(int mid); // network thread
    void setState(const QString& state);
    void postState(const QString& state); // from the network thread
    void announce(const Reading& r);
    QByteArray topic(const QString& sub) const
    {
        return (config_.prefix + QLatin1Char('/') + sub).toUtf8();
    }

    const MqttConfig config_;
    const DiscoveryDevice device_;
    const std::size_t window_ = config_.qos == 2 ? kWindowQos2 : kWindow;
    mosquitto* mosq_ = nullptr;
    QByteArray host_;
    pthread_t network_{};
    bool networkRunning_ = false;
    QString state_; // event-loop thread

    // Shared with the network thread.
    std::mutex mutex_;
    std::condition_variable changed_;
    bool online_ = false, stopping_ = false;
    std::deque<Message> queue_; // waiting for the broker or for room in the window
    std::size_t queuedBytes_ = 0;
    quint64 dropped_ = 0;
    std::unordered_map<int, Unconfirmed> unconfirmed_; // by message id
    std::map<QByteArray, QByteArray> retained_;        // the last payload of each retained topic

    // Network thread only.
    int connack_ = -1; // the broker's answer to this connection, -1 while none
    std::mutex errorMutex_;
    QString lastError_; // from the library's log

    // Event-loop thread only.
    std::array<QByteArray, 9> valueTopics_, alarmTopics_; // V0n, V0n/alarm
    QByteArray readingTopic_ = topic(QStringLiteral("reading"));
    std::array<std::optional<QString>, 9> announced_; // labels told to Home Assistant
    bool announcedAll_ = false;
};

} // namespace qm
