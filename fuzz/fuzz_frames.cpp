// Feeds arbitrary bytes, as they might arrive on the serial line, through
// the frame assembler and the packet decoder.
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/decoder.h"
#include "link/frame.h"
#include "link/packet_queue.h"

namespace {

class NullSink : public qmx::ViewSink {
 public:
  void EventText(const qmx::EventBlock& block) override { lines_ += block.lines.size(); }
  void ReceivedData(std::uint16_t, std::uint8_t, std::span<const std::uint8_t> data) override {
    if (data.size() > qmx::kMaxPayload) __builtin_trap();
  }
  void IoEvent(std::uint16_t, std::span<const std::uint8_t> data) override {
    if (data.size() > qmx::kMaxPayload) __builtin_trap();
  }
  void RemoteJoined(std::uint16_t) override {}

 private:
  std::size_t lines_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Fresh state for every input, so that a finding replays on its own and
  // no input pays for replies that earlier ones left in the queue.
  qmx::PacketQueue queue;
  NullSink sink;
  qmx::PacketDecoder decoder(queue, sink);
  // A fixed time stamp keeps runs reproducible and fast.
  decoder.SetClock([] { return std::string("01/01/24  |  00:00:00"); });

  qmx::FrameAssembler assembler;
  assembler.Feed(std::span<const std::uint8_t>(data, size), [&](const qmx::Frame& frame) {
    if (frame.size < 4 || frame.size > qmx::kMaxFrame || frame.size != std::size_t{frame.bytes[1]} + 2u)
      __builtin_trap();
    decoder.DecodePacket(frame);
    // A rebuilt frame must carry the same bytes.
    auto again = qmx::BuildFrame(frame.sequence(), frame.type(), {frame.payload(), frame.payloadSize()});
    if (!again || again->size != frame.size) __builtin_trap();
  });
  return 0;
}
