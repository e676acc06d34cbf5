// Any value text: the number reader gives a finite Single exactly when the
// number it reads lies within the Single range, an infinity when beyond it
// (however many digits or exponent), and the value update then either shows
// a finite number or fails.
#include "channels/value_text.h"
#include "tests/support/app_fixture.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const float v = valueOfText(text);

    // An independent reading: blanks out, D as E, the C library's long double
    // (this process never leaves the C locale).
    std::string clean;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            clean += (c == 'D' || c == 'd') ? 'e' : c;
    const std::size_t digitsAt = clean.find_first_not_of("+-");
    const bool plain = clean.size() > digitsAt && digitsAt <= 1 &&
                       (std::isdigit(static_cast<unsigned char>(clean[digitsAt])) || clean[digitsAt] == '.') &&
                       clean.find_first_of("xXnNiI") == std::string::npos;
    if (plain) {
        const long double exact = std::strtold(clean.c_str(), nullptr);
        if (std::fabs(exact) > FLT_MAX * 1.0001L && std::isfinite(v))
            std::abort(); // a number beyond the range read as a finite value
        if (std::fabs(exact) < FLT_MAX * 0.9999L && !std::isfinite(v))
            std::abort();
    }

    static test::AppFixture* fx = [] {
        auto* f = new test::AppFixture();
        f->start();
        return f;
    }();
    MainForm& f = *fx->form;
    if (f.UpdateChannelValue(1, text) && !std::isfinite(f.VValue[1]))
        std::abort();
    return 0;
}
