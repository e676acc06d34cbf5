// Any bytes from the device, in any pieces: no crash, a bounded line buffer,
// finite shown values; the number reader's value is finite exactly when the
// number lies within the Single range.
#include "channels/value_text.h"
#include "tests/support/core_fixture.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>

using namespace qm;

namespace {

// An independent reading: blanks out, D as E, the C library's long double.
void checkNumberReader(const std::string& text)
{
    std::string clean;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            clean += (c == 'D' || c == 'd') ? 'e' : c;
    const std::size_t at = clean.find_first_not_of("+-");
    if (at > 1 || at >= clean.size() ||
        !(std::isdigit(static_cast<unsigned char>(clean[at])) || clean[at] == '.') ||
        clean.find_first_of("xXnNiI") != std::string::npos)
        return;
    const long double exact = std::strtold(clean.c_str(), nullptr);
    const float v = valueOfText(text);
    if ((std::fabs(exact) > FLT_MAX * 1.0001L && std::isfinite(v)) ||
        (std::fabs(exact) < FLT_MAX * 0.9999L && !std::isfinite(v)))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    checkNumberReader(std::string(reinterpret_cast<const char*>(data) + 2, size - 2));
    static test::CoreFixture* fx = [] {
        auto* f = new test::CoreFixture();
        f->start();
        f->loop.runUntil(2500); // INIT opens the port
        return f;
    }();
    Monitor& m = *fx->monitor;
    // The first two bytes pick the mode, the id, the channel count and scaling.
    const char* ids[] = {"", "A", "AB", "V"};
    SettingsValues s = m.settings();
    s.deviceId = ids[data[0] & 3];
    s.sampleTime = (data[0] & 4) ? 0 : 30;
    s.valueCount = static_cast<Integer>((data[1] & 15) - 3);
    s.offsets[1 + (data[1] >> 5)] = (data[1] & 16) ? 1e30f : -4.0f;
    s.factors[1 + (data[1] >> 5)] = (data[1] & 16) ? 1e10f : 2.5f;
    m.useSettings(s);
    m.link().clearPendingLine();
    // The rest arrives in pieces cut at every 0xFF byte.
    for (std::size_t start = 2, i = 2; i <= size; ++i) {
        if (i == size || data[i] == 0xFF) {
            fx->send(std::string(reinterpret_cast<const char*>(data) + start, i - start));
            start = i + 1;
        }
    }
    if (m.link().pendingLine().size() > 32767)
        std::abort();
    for (int i = 1; i <= 8; ++i) {
        bool ok = true;
        const QString shown = fx->valueTexts[i];
        if (shown != "-" && !std::isfinite(shown.toDouble(&ok)))
            std::abort();
        if (!ok)
            std::abort();
    }
    return 0;
}
