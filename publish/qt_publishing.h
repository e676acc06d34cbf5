#pragma once

#include <QByteArray>
#include <QLabel>
#include <QPointer>
#include <QString>

#include "publish/publishing_state.h"

#include <memory>

class QWidget;

namespace qm {

struct ProgramPaths;
class ReadingObserver;
class MqttPublisher;

// Shows a publishing state in the bottom bar's "MQTT" field: green when
// connected, orange when connected but something is refused or shared,
// yellow while connecting, red otherwise; the words (and the last reason)
// in its tooltip and accessible name.
void showMqttState(QLabel& indicator, const PublishingState& state);

// The publishing of an instance, from the mqtt.conf of its folder; nothing
// without that file. A file that cannot be used is reported on standard
// error and in the field, and nothing is published.
class Publishing {
public:
    Publishing(const ProgramPaths& paths, const QString& version);
    ~Publishing();
    Publishing(const Publishing&) = delete;
    Publishing& operator=(const Publishing&) = delete;

    // To add to the form's observers; null when nothing is published.
    ReadingObserver* observer() const;
    // The field for the bottom bar, made on the first call (its new parent
    // owns it); null without mqtt.conf. Without a window (no call) no widget
    // is made.
    QWidget* takeIndicator();
    // Whether mqtt.conf asks for publishing, what it is doing, and the
    // readings it gave up.
    bool configured() const { return configured_; }
    const PublishingState& state() const { return state_; }
    quint64 dropped() const;

private:
    bool configured_ = false;
    PublishingState state_;
    QPointer<QLabel> indicator_;
    std::unique_ptr<MqttPublisher> publisher_;
};

} // namespace qm
