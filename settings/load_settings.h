#pragma once

#include "settings/settings_file.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace qm {

// A finding about the settings file: told to the journal, and noted in
// `notes` (for the status line's tooltip) as "Settings file <text>".
void tellSettingsNote(const QString& text, QStringList& notes);

// The settings file at `path`, read as readSettings() reads it; nothing when
// there is none or it cannot be used (the defaults apply). Only a regular
// file is read: anything else (a FIFO, a device) is as good as a missing
// file, and never blocks the start. A file that is there but cannot be used,
// or holds what looks wrong, is told with tellSettingsNote(), each finding
// naming its line; a missing one is the first start.
std::optional<SettingsValues> readSettingsFile(const QByteArray& path, QStringList& notes);

} // namespace qm
