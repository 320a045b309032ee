// Settings file loader: any bytes must decode without reading past the
// buffer, and whatever decodes must survive a save and load unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "mainwindow/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qmx::AppSettings settings;
  if (!qmx::DecodeSettings(std::span(data, size), settings)) {
    // Nothing may have been applied.
    if (!(settings == qmx::AppSettings{})) std::abort();
    return 0;
  }
  const auto bytes = qmx::EncodeSettings(settings);
  qmx::AppSettings again;
  again.intervalText = "different";
  if (!qmx::DecodeSettings(bytes, again) || !(again == settings)) std::abort();
  if (qmx::EncodeSettings(again) != bytes) std::abort();
  return 0;
}
