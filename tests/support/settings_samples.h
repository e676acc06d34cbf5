#pragma once

#include <QByteArray>

#include <string>

namespace qm::test {

// The settings file as the first save writes it when nothing was changed.
const QByteArray& defaultSettingsFile();

// The default file with another first line (port, baud, id, sample time,
// values read, spare text, log and sound options).
QByteArray settingsFileWithFirstLine(const std::string& firstLine);

} // namespace qm::test
