#include "publish/qt_mqtt_indicator.h"

#include "app/log_categories.h"
#include "app/main_form.h"
#include "publish/qt_mqtt_publisher.h"

#include <QLabel>
#include <QPointer>
#include <QSysInfo>

namespace qm {

void showMqttState(QLabel& indicator, const QString& state)
{
    QPalette pal = indicator.palette();
    pal.setColor(QPalette::Window, state == QLatin1String("connected")    ? QColor(0, 192, 0)
                                   : state == QLatin1String("connecting") ? QColor(255, 255, 192)
                                                                          : QColor(255, 128, 128));
    indicator.setPalette(pal);
    indicator.setToolTip(state);
    indicator.setAccessibleName(state);
}

Publishing::Publishing(const ProgramPaths& paths, const QString& version)
{
    const MqttInstance instance{QSysInfo::machineUniqueId(), QSysInfo::machineHostName(), paths.dir,
                                paths.name};
    const MqttSetup setup = readMqttConfig(paths.file("mqtt.conf"), instance);
    if (!setup.config && setup.error.isEmpty())
        return;
    indicator_ = std::make_unique<QLabel>(QStringLiteral("MQTT"));
    indicator_->setAlignment(Qt::AlignCenter);
    indicator_->setAutoFillBackground(true);
    indicator_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    indicator_->setAccessibleDescription(QStringLiteral("MQTT state"));
    if (!setup.config) {
        qCWarning(lcPublish, "not publishing: %s", qPrintable(setup.error));
        showMqttState(*indicator_, QStringLiteral("not publishing: ") + setup.error);
        return;
    }
    const DiscoveryDevice device{
        paths.displayName() + QStringLiteral(" on ") + QSysInfo::machineHostName(), version};
    publisher_ = std::make_unique<MqttPublisher>(*setup.config, device);
    publisher_->onStateChanged = [label = QPointer<QLabel>(indicator_.get())](const QString& s) {
        if (label)
            showMqttState(*label, s);
    };
    showMqttState(*indicator_, publisher_->state());
}

Publishing::~Publishing() = default;

ReadingObserver* Publishing::observer() const
{
    return publisher_.get();
}

QWidget* Publishing::takeIndicator()
{
    return indicator_.release();
}

} // namespace qm
