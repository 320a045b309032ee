// How well a colour stands out from a background, and the least change that
// makes it stand out enough: the contrast ratio of two sRGB colours (1 for
// the same luminance, 21 for black on white) and a lift that moves a colour
// toward white on a dark background, toward black on a light one, until it
// reaches a given ratio. Colours are 0xRRGGBB. Plain C++, so that any
// window's decisions can use it.
#pragma once

#include <cstdint>

namespace qmx {

// The least contrast of text with its background that reads well (4.5:1).
inline constexpr double kReadableContrast = 4.5;

// Relative luminance, 0 (black) … 1 (white).
double Luminance(std::uint32_t rgb);
// (lighter + 0.05) / (darker + 0.05), 1 … 21.
double ContrastRatio(std::uint32_t a, std::uint32_t b);
// True when white stands out from `background` more than black does.
bool IsDark(std::uint32_t background);

// `colour` when it stands out from `background` by `ratio` already;
// otherwise the least mix of it with white (dark background) or black
// (light background) that does, so its hue stays. When not even white or
// black get there, whichever of them stands out more.
std::uint32_t LiftContrast(std::uint32_t colour, std::uint32_t background, double ratio);

// A colour chosen for light backgrounds, as drawn on `background`: itself
// on a light one, lifted to kReadableContrast on a dark one.
std::uint32_t ShownOn(std::uint32_t colour, std::uint32_t background);

}  // namespace qmx
