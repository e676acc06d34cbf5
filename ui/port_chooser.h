#pragma once

#include "device/port_list.h"
#include "device/qt_serial_devices.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QWidget;

namespace qm {

// The "…" button beside the COM port box: a list of the serial devices and
// of the ports/ links; the device chosen becomes ports/com<n> (n from the COM
// port box) when SAVE-CLOSE saves, and not before.
class PortChooser final : public QObject {
public:
    // `programDir` holds ports/; `comPortText` gives the COM port box's text.
    PortChooser(const QByteArray& programDir, std::function<QString()> comPortText,
                QWidget* parent);
    QPushButton* button() const { return button_; }
    // The choice waiting for SAVE-CLOSE, shown beside the COM port box;
    // empty while there is none.
    QLabel* pendingLabel() const { return pending_; }
    // Where the devices come from (the system's by default).
    std::function<std::vector<SerialDevice>()> devices = systemSerialDevices;

    // Around SAVE-CLOSE: the link is made first (false: it could not be, the
    // save does not happen, and `error` says why), and taken back when the
    // save then fails.
    bool beforeSave(QString& error);
    void afterSave(bool saved);

private:
    void choose();
    void setChosen(const QString& chosen);

    QByteArray programDir_;
    std::function<QString()> comPortText_;
    QPushButton* button_;
    QLabel* pending_;
    QString chosen_;                                 // the device's stable name or path
    std::optional<std::optional<QString>> replaced_; // the link before (none: there was none)
    int number_ = 0;
};

} // namespace qm
