#include "widgets/contrast.h"

#include <algorithm>
#include <cmath>

namespace qmx {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;

int Channel(std::uint32_t rgb, int shift) { return static_cast<int>((rgb >> shift) & 0xFF); }

double Linear(int channel) {
  const double c = channel / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// `colour` moved the share `t` (0 … 1) of the way to `target`, each channel
// rounded away from `colour` so that the ratio reached is never rounded off.
std::uint32_t Toward(std::uint32_t colour, std::uint32_t target, double t) {
  std::uint32_t out = 0;
  for (int shift : {16, 8, 0}) {
    const int from = Channel(colour, shift);
    const double to = from + t * (Channel(target, shift) - from);
    const int c = Channel(target, shift) > from ? static_cast<int>(std::ceil(to)) : static_cast<int>(std::floor(to));
    out |= static_cast<std::uint32_t>(std::clamp(c, 0, 255)) << shift;
  }
  return out;
}

// The least mix of `colour` toward `target` that reaches `ratio` against
// `background`, or nothing when not even `target` itself does. The ratio
// grows with the share mixed in as long as `target` stands out more.
bool Lift(std::uint32_t colour, std::uint32_t target, std::uint32_t background, double ratio, std::uint32_t& out) {
  if (ContrastRatio(target, background) < ratio) return false;
  double low = 0.0, high = 1.0;
  for (int i = 0; i < 24; ++i) {
    const double mid = (low + high) / 2;
    (ContrastRatio(Toward(colour, target, mid), background) >= ratio ? high : low) = mid;
  }
  out = Toward(colour, target, high);
  return true;
}

}  // namespace

double Luminance(std::uint32_t rgb) {
  return 0.2126 * Linear(Channel(rgb, 16)) + 0.7152 * Linear(Channel(rgb, 8)) + 0.0722 * Linear(Channel(rgb, 0));
}

double ContrastRatio(std::uint32_t a, std::uint32_t b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool IsDark(std::uint32_t background) { return ContrastRatio(kWhite, background) > ContrastRatio(kBlack, background); }

std::uint32_t LiftContrast(std::uint32_t colour, std::uint32_t background, double ratio) {
  colour &= kWhite;
  if (ContrastRatio(colour, background) >= ratio) return colour;
  const std::uint32_t away = IsDark(background) ? kWhite : kBlack;
  const std::uint32_t other = away == kWhite ? kBlack : kWhite;
  std::uint32_t out = 0;
  if (Lift(colour, away, background, ratio, out) || Lift(colour, other, background, ratio, out)) return out;
  return ContrastRatio(away, background) >= ContrastRatio(other, background) ? away : other;
}

std::uint32_t ShownOn(std::uint32_t colour, std::uint32_t background) {
  return IsDark(background) ? LiftContrast(colour, background, kReadableContrast) : colour & kWhite;
}

}  // namespace qmx
