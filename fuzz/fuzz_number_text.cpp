// Number text typed by the user: the lenient conversion must accept or
// refuse any text without reading past it, and agree with itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/number_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::int32_t value = 0;
  const bool ok = qmx::TryTextToInt(text, value);
  // The fallback comes back exactly when the text is not a number.
  if (!ok && qmx::TextToInt(text, 7) != 7) std::abort();
  if (ok && qmx::TextToInt(text, 7) != value) std::abort();
  // Shown as hex and read back, a value is itself.
  const std::string shown = qmx::HexText(static_cast<std::uint32_t>(value), 8);
  std::int32_t back = 0;
  if (!qmx::TryTextToInt(shown, back) || back != value) std::abort();
  return 0;
}
