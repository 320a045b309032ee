// Any byte stream a host may send: the simulated module must answer what it
// understands and never misbehave on the rest. The input's first byte picks
// the module's mode (transparent or protocol) for variety.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "sim/sim_module.h"

namespace {

class NullSink : public qmx::sim::SimSink {
 public:
  void OnOutput(std::span<const std::uint8_t>, const qmx::sim::SimLine&) override {}
  void OnUnplug() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static NullSink sink;
  qmx::sim::SimOptions options;
  options.bootTime = std::chrono::milliseconds(0);
  options.panFormTime = std::chrono::milliseconds(0);
  options.remoteLatency = std::chrono::milliseconds(0);
  qmx::sim::SimModule module(options);
  module.Attach(&sink);
  const qmx::LineSettings line = module.Line().settings;
  if (size > 0 && (data[0] & 1)) {
    static const std::uint8_t enter[] = {0xFB, 0x09, 0x01, 0x00, 'Q', 'M', 'X', '2', '4', '0', '0'};
    module.FromHost(enter, line);
  }
  // Fed in pieces, as a serial line delivers it.
  std::size_t at = size > 0 ? 1 : 0;
  while (at < size) {
    const std::size_t n = std::min<std::size_t>(size - at, 1 + data[at] % 23);
    module.FromHost(std::span(data + at, n), module.Line().settings);
    at += n;
  }
  module.Detach(&sink);
  return 0;
}
