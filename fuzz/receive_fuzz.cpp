// Any bytes from the device, in any pieces: the receive path, the interpreter,
// the value update and the evaluation never crash, the line buffer stays
// bounded, and every shown value is a finite number.
#include "tests/support/app_fixture.h"

#include <QCoreApplication>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace qm;
using namespace qm::test;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    static AppFixture* fx = [] {
        auto* f = new AppFixture();
        f->start();
        f->loop.runUntil(2500); // INIT opens the port
        return f;
    }();
    MainForm& f = *fx->form;

    // The first byte picks the mode and the device identifier, the second
    // the channel count and the scaling.
    const std::uint8_t mode = data[0];
    const std::uint8_t scale = data[1];
    const char* ids[] = {"", "A", "AB", "V"};
    f.DevId = ids[mode & 3];
    f.STime = (mode & 4) ? 0 : 30;
    f.RVnr = static_cast<Integer>((scale & 15) - 3);
    f.Nr1[1 + (scale >> 5)] = (scale & 16) ? 1e30f : -4.0f;
    f.Nr2[1 + (scale >> 5)] = (scale & 16) ? 1e10f : 2.5f;
    f.RxBuf.clear();

    // The rest arrives in pieces cut at every 0xFF byte.
    std::size_t start = 2;
    for (std::size_t i = 2; i <= size; ++i) {
        if (i == size || data[i] == 0xFF) {
            fx->port.receive(std::string(reinterpret_cast<const char*>(data) + start, i - start));
            fx->loop.runFor(0);
            start = i + 1;
        }
    }
    if (f.RxBuf.size() > 32767)
        std::abort();
    for (int i = 1; i <= 8; ++i) {
        bool ok = false;
        const QString shown = f.lblDIS[i].text();
        if (shown != QStringLiteral("-")) {
            const double v = shown.toDouble(&ok);
            if (!ok || !std::isfinite(v))
                std::abort();
        }
    }
    return 0;
}
