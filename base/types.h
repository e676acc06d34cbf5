#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qm {

// The few types the whole program shares, for files that need no more of the
// window model (the file parsers and writers).
using Integer = std::int16_t; // 16-bit signed
using Single = float;         // 32-bit IEEE
using String = std::string;   // 8-bit text, one byte a character (Latin-1)

// Channel and output arrays: indices 0 to 8, element 0 never used.
template <class T>
using ChannelArray = std::array<T, 9>;
inline constexpr int kChannels = 8; // channels 1 to 8

// A colour: red, green, blue.
struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

namespace colors {
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kCyan{0, 255, 255};
inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kPanelCaption{224, 224, 224};
inline constexpr Rgb kSetHiCaption{255, 192, 192};
inline constexpr Rgb kSetLoCaption{192, 255, 255};
inline constexpr Rgb kSettingsPanel{192, 255, 255};
inline constexpr Rgb kStatusSearching{255, 255, 192}; // 0xC0FFFF
inline constexpr Rgb kStatusFailure{255, 128, 128};   // 0x8080FF
inline constexpr Rgb kStatusOk{0, 192, 0};            // 0x00C000
inline constexpr Rgb kButtonFace{240, 240, 240};      // the system's button face
inline constexpr Rgb kStatusWarning{255, 176, 64};    // working, with a fault
inline constexpr Rgb kWindowBackground{40, 40, 40};
inline constexpr Rgb kLampOutline{140, 140, 140};
} // namespace colors

} // namespace qm
