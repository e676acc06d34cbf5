#pragma once

#include <string_view>

namespace qm {

// The number at the start of a value text, as the nearest Single. Blanks, tabs
// and line feeds are skipped wherever they stand; then an optional sign,
// digits with at most one ".", and an optional exponent (E or D, optional
// sign, digits). Reading stops at the first other character; no number gives
// 0. A number beyond the Single range gives an infinity.
float valueOfText(std::string_view text);

// The value update's scaling: (value - nr1) * nr2, rounded to a tenth with
// ties to even. Each step stores its Single result in `value`; returns false
// (overflow) when a step leaves the Single range or the tenfold leaves the
// signed 32-bit range, with `value` holding what the last step stored.
bool scaleAndRound(float& value, float nr1, float nr2);

} // namespace qm
