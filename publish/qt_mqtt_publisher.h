#pragma once

#include "publish/mqtt_config.h"
#include "publish/mqtt_messages.h"
#include "publish/publishing_state.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <pthread.h>
#include <set>
#include <unordered_map>

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

namespace qm {

class Properties;

// Publishes every reading, the values, the alarms and the link state to an
// MQTT broker through libmosquitto, on a network thread of its own:
// nothing here waits for the network but a normal close. MQTT 5 where the
// broker speaks it (its reason codes tell a refused publish), 3.1.1
// otherwise. While the broker is away or slower than the readings, readings
// wait in a bounded queue and go out in order; the retained state topics
// hold only their last value and go out first. The library is handed only a
// bounded window of unconfirmed messages, so the bound holds for the whole
// process. Every reading given up is counted on the retained "dropped".
// Every failure (refused, lost, a broken TLS handshake, no answer) leads to
// a retry, backed off up to 30 s; a connection that ends soon after it was
// taken does not start the backoff over.
class MqttPublisher final : public QObject, public ReadingObserver {
public:
    static constexpr std::size_t kMaxQueuedBytes = 32u << 20;
    // Unconfirmed messages handed to the library; a 3.1.1 broker takes no
    // more QoS 2 messages than its receive maximum (20 by default) and drops
    // the rest; an MQTT 5 broker tells its receive maximum.
    static constexpr std::size_t kWindow = 100, kWindowQos2 = 20;
    static constexpr int kCloseMs = 3000; // to publish what is queued at a close
    // How long the broker keeps the session (QoS 1 and 2) after the
    // connection is lost, and a reading waits there for a subscriber.
    static constexpr int kExpiryS = 24 * 3600;

    // `announcedFile` remembers the Home Assistant sensors this instance
    // announced: only those are removed once discovery is switched off.
    MqttPublisher(MqttConfig config, DiscoveryDevice device, QByteArray announcedFile);
    ~MqttPublisher() override;

    void readingTaken(const Reading& r) override;
    void linkChanged(const LinkState& state) override;
    // Publishes what is queued (for at most kCloseMs), then "offline", then
    // disconnects cleanly; what could not go out is counted on standard error.
    void closing() override;

    // Connecting, connected (perhaps with problems: a refused topic, another
    // instance on the prefix) or not connected; the reason stays until a
    // connection succeeds. Told on every change.
    PublishingState state() const { return state_; }
    // Readings given up since the start (the retained "dropped").
    quint64 dropped() const { return dropped_; }
    std::function<void(const PublishingState&)> onStateChanged;

private:
    struct Unconfirmed {
        QByteArray topic;
        bool reading;   // else a retained state topic
        quint64 number; // in the order handed over
    };
    struct Retained {
        QByteArray payload;
        bool dirty = false; // not handed to the library since it changed
    };
    struct Outcome {
        QString reason;      // why the connection failed or ended
        bool served = false; // the broker took it
        bool stable = false; // it lasted
        bool again = false;  // to be tried again at once (with MQTT 3.1.1)
    };
    static constexpr int kKeepAliveS = 30;
    static constexpr int kConnackTimeoutMs = 10'000;
    static constexpr auto kStable = std::chrono::seconds(30);
    void startClient(int initialised);
    void setCallbacks();
    bool logIn();
    static void* network(void* self);
    void run();
    Outcome connectAndServe();
    void prepareConnect(Properties& props);
    void explainEnd(Outcome& out, int rc, int error,
                    std::chrono::steady_clock::time_point servedAt);
    void connected(int rc, const mosquitto_property* props); // network thread
    void received(const mosquitto_message* m, const mosquitto_property* props);
    void stopNetwork(int waitMs);
    // With mutex_ held:
    void queueReading(QByteArray payload);
    void setRetained(const QByteArray& topic, const QByteArray& payload, bool always = false);
    void pump();
    int publish(int* mid, const QByteArray& topic, const QByteArray& payload, int qos, bool retain);
    void online();
    void offline();
    void lose(quint64 readings, const char* why);
    void tell();
    QString oldestUnconfirmed() const;
    void published(int mid, int reason); // network thread
    void setState(const PublishingState& state);
    void lossSeen(const QString& why);                      // event-loop thread
    void saveAnnounced(const std::set<QByteArray>& topics); // event-loop thread
    void announce(const Reading& r);
    QByteArray topic(const QString& sub) const
    {
        return (config_.prefix + QLatin1Char('/') + sub).toUtf8();
    }

    const MqttConfig config_;
    const DiscoveryDevice device_;
    const QByteArray announcedFile_;
    const QByteArray statusTopic_ = topic(QStringLiteral("status"));
    const QByteArray droppedTopic_ = topic(QStringLiteral("dropped"));
    const QByteArray readingTopic_ = topic(QStringLiteral("reading"));
    mosquitto* mosq_ = nullptr;
    QByteArray host_;
    pthread_t network_{};
    bool networkRunning_ = false;
    PublishingState state_; // event-loop thread

    // Shared with the network thread.
    std::mutex mutex_;
    std::condition_variable changed_;
    bool online_ = false, stopping_ = false;
    bool v5_ = true;               // MQTT 5 until a broker wants 3.1.1
    std::size_t window_ = kWindow; // for this connection
    std::deque<QByteArray> queue_; // readings waiting for the broker or for room
    std::size_t queuedBytes_ = 0;
    quint64 dropped_ = 0, handed_ = 0;                 // readings given up; messages handed over
    std::unordered_map<int, Unconfirmed> unconfirmed_; // by message id
    std::map<QByteArray, Retained> retained_;          // the last payload of each topic
    std::deque<QByteArray> dirty_;                     // in the order they changed
    std::set<QByteArray> announced_;                   // discovery topics with a config
    std::map<QByteArray, QString> refused_;            // by the broker, with the reason
    PublishingState link_, told_;
    QString clash_;

    // Network thread only.
    int connack_ = -1; // the broker's answer to this connection, -1 while none
    int disconnectReason_ = 0;
    std::mutex errorMutex_;
    QString lastError_; // from the library's log

    // Event-loop thread only.
    std::array<QByteArray, 9> valueTopics_, alarmTopics_; // V0n, V0n/alarm
    std::array<std::optional<QString>, 9> names_;         // the sensors told to Home Assistant
    bool announcedAll_ = false;
    QTimer droppedTimer_; // "dropped" within a second of a loss
    std::chrono::steady_clock::time_point lastLoss_{};
};

} // namespace qm
