#include "publish/qt_publishing.h"

#include "app/log_categories.h"
#include "app/platform.h"
#include "publish/qt_mqtt_publisher.h"

#include <QLabel>
#include <QPointer>
#include <QSysInfo>

namespace qm {

void showMqttState(QLabel& indicator, const PublishingState& state)
{
    using Kind = PublishingState::Kind;
    QPalette pal = indicator.palette();
    const Rgb colour = state.kind == Kind::Connected
                           ? (state.problems.isEmpty() ? colors::kStatusOk : colors::kStatusWarning)
                       : state.kind == Kind::Connecting ? colors::kStatusSearching
                                                        : colors::kStatusFailure;
    pal.setColor(QPalette::Window, QColor(colour.r, colour.g, colour.b));
    indicator.setPalette(pal);
    indicator.setToolTip(state.text());
    indicator.setAccessibleName(state.text());
}

Publishing::Publishing(const ProgramPaths& paths, const QString& version)
{
    const MqttInstance instance{QSysInfo::machineUniqueId(), QSysInfo::machineHostName(), paths.dir,
                                paths.name};
    const MqttSetup setup = readMqttConfig(paths.file("mqtt.conf"), instance);
    if (!setup.config && setup.error.isEmpty())
        return;
    configured_ = true;
    if (!setup.config) {
        qCWarning(lcPublish, "not publishing: %s", qPrintable(setup.error));
        state_ = PublishingState::notPublishing(setup.error);
        return;
    }
    const DiscoveryDevice device{
        paths.displayName() + QStringLiteral(" on ") + QSysInfo::machineHostName(), version};
    publisher_ = std::make_unique<MqttPublisher>(*setup.config, device,
                                                 paths.file(paths.name + ".mqtt-sensors"));
    state_ = publisher_->state();
    publisher_->onStateChanged = [this](const PublishingState& s) {
        state_ = s;
        if (indicator_)
            showMqttState(*indicator_, s);
    };
}

Publishing::~Publishing()
{
    if (publisher_)
        publisher_->onStateChanged = nullptr;
}

ReadingObserver* Publishing::observer() const
{
    return publisher_.get();
}

quint64 Publishing::dropped() const
{
    return publisher_ ? publisher_->dropped() : 0;
}

QWidget* Publishing::takeIndicator()
{
    if (!configured_ || indicator_)
        return nullptr;
    auto* label = new QLabel(QStringLiteral("MQTT"));
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(true);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAccessibleDescription(QStringLiteral("MQTT state"));
    showMqttState(*label, state_);
    indicator_ = label;
    return label;
}

} // namespace qm
