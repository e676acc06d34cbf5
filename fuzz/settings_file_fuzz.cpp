// Whatever the settings reader accepts is written back to the same values.
#include "settings/settings_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto settings = qm::parseSettingsFile(bytes);
    if (!settings)
        return 0;
    // The saver refuses texts with a quote or a line break.
    auto writable = [](const std::string& s) {
        return s.find_first_of("\"\r\n") == std::string::npos;
    };
    bool ok =
        writable(settings->baud) && writable(settings->deviceId) && writable(settings->password);
    for (int i = 1; i <= 8; ++i)
        ok = ok && writable(settings->labels[i]) && writable(settings->colours[i]) &&
             writable(settings->outputNames[i]);
    if (!ok)
        return 0;
    const auto back = qm::parseSettingsFile(qm::writeSettingsFile(*settings));
    if (!back || !(*back == *settings))
        std::abort();
    return 0;
}
