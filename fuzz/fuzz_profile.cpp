// Configuration profiles: any text must be read or refused (with the line of
// its first fault) without reading past it. What is read loads onto a radio,
// and the profile saved from that radio reads back to the same values:
// against the radio itself it differs in nothing and writes nothing, and
// loaded onto the radio it came from it gives the same settings again. The
// same bytes taken as a radio's image (zero-padded) save a profile that
// reads back with nothing to write.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/profile.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr char kDate[] = "2026-12-08 06:00:00";

// A radio's image that varies with the input, so that its bits beyond a
// setting's own and its codes without an item meet every profile.
std::vector<std::uint8_t> RadioFor(std::span<const std::uint8_t> data) {
  std::uint32_t h = 2166136261u;
  for (std::uint8_t b : data) h = (h ^ b) * 16777619u;
  std::vector<std::uint8_t> slot(qmx::kImageSize);
  for (std::uint8_t& b : slot) {
    h ^= h << 13;
    h ^= h >> 17;
    h ^= h << 5;
    b = static_cast<std::uint8_t>(h);
  }
  return slot;
}

// The profile saved from `slot` reads back and writes nothing to it (so it
// differs in nothing: a difference is a setting a write changes); its values.
std::vector<qmx::SettingText> SavedReadsBack(std::span<const std::uint8_t> slot) {
  qmx::ProfileError error;
  auto values = qmx::ParseProfile(qmx::FormatProfile(slot, kDate), error);
  Check(values.has_value());
  std::string why;
  const auto writes = qmx::WritesFor(slot, qmx::ProfileValues(*values), why);
  Check(writes.has_value() && writes->empty());
  return std::move(*values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::vector<std::uint8_t> image(qmx::kImageSize, 0);
  std::copy_n(bytes.begin(), std::min(size, image.size()), image.begin());
  (void)SavedReadsBack(image);

  qmx::ProfileError error;
  const auto values = qmx::ParseProfile(text, error);
  if (!values) {
    Check(error.line >= 1 && !error.text.empty());
    Check(static_cast<std::size_t>(error.line) <= static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    return 0;
  }
  // Whatever reads, loads.
  const auto radio = RadioFor(bytes);
  std::string why;
  Check(qmx::WritesFor(radio, qmx::ProfileValues(*values), why).has_value());
  const auto loaded = qmx::ProfileImage(radio, *values);
  // Loaded, it differs in nothing but a key it names (never read back).
  for (const qmx::ProfileDifference& d : qmx::DiffProfile(loaded, *values))
    Check(d.setting->encoding == qmx::Encoding::Key);

  // Saved from the loaded radio and loaded onto the radio it came from: every
  // setting as the first load left it (the key is never saved).
  const auto again = SavedReadsBack(loaded);
  const auto reloaded = qmx::ProfileImage(radio, again);
  for (const qmx::Setting& s : qmx::Settings())
    if (!s.shownOnly && s.encoding != qmx::Encoding::Key)
      Check(!qmx::SettingDiffers(s, reloaded, loaded));
  return 0;
}
