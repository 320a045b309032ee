// Turns every complete received frame into either a queued reply for the
// waiting command or view events: event lines with colours, received data,
// I/O events, newly announced network addresses. Knows no widget; the views
// implement ViewSink.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/packet.h"

namespace qmx {

class PacketQueue;

enum class TextColour : std::uint8_t { Unchanged, Green, Red };
// RGB of the two colours of the Events view.
inline constexpr std::uint32_t kGreenRgb = 0x008000;
inline constexpr std::uint32_t kRedRgb = 0xFF0000;

// A group of lines for the Events view. The colour, when not Unchanged, is
// set before line `colourAt` (the lines before it keep the colour in force)
// and stays in force for later blocks.
struct EventBlock {
  TextColour colour = TextColour::Unchanged;
  std::vector<std::string> lines;
  std::size_t colourAt = 0;
};

// An announcement as values: its code, the first line of its text and
// what it names, for a view that keeps them (a script's JSON) rather than
// the lines.
struct Announcement {
  std::uint8_t code = 0;
  std::string text;
  bool error = false;  // an error report (or a code not known)
  std::optional<std::uint16_t> address;  // a node's network address
  std::optional<std::string> mac;        // a joined remote's MAC address
  std::optional<std::uint16_t> panId;
  std::optional<std::uint8_t> channel;
};
Announcement DecodeAnnouncement(std::span<const std::uint8_t> payload);

class ViewSink {
 public:
  virtual ~ViewSink() = default;
  // An announcement, before its event text.
  virtual void Announced(const Announcement&) {}
  // Every complete frame, before it is decoded.
  virtual void FrameReceived() {}
  virtual void EventText(const EventBlock& block) = 0;
  // RX Data: sender, link quality, data.
  virtual void ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) = 0;
  // RX Event: sender and event data (the sender's I/O values).
  virtual void IoEvent(std::uint16_t address, std::span<const std::uint8_t> data) = 0;
  // A remote joined the base's PAN (announce 0xA2).
  virtual void RemoteJoined(std::uint16_t address) = 0;
};

// Drops every view event: for a link whose views nobody watches.
class DiscardingSink : public ViewSink {
 public:
  void EventText(const EventBlock&) override {}
  void ReceivedData(std::uint16_t, std::uint8_t, std::span<const std::uint8_t>) override {}
  void IoEvent(std::uint16_t, std::span<const std::uint8_t>) override {}
  void RemoteJoined(std::uint16_t) override {}
};

// Hands view events on to a sink set later (the windows exist only after
// the link that feeds them); drops them while none is set.
class ForwardingSink : public ViewSink {
 public:
  void SetTarget(ViewSink* target) { target_.store(target); }
  void FrameReceived() override {
    if (auto* t = target_.load()) t->FrameReceived();
  }
  void Announced(const Announcement& a) override {
    if (auto* t = target_.load()) t->Announced(a);
  }
  void EventText(const EventBlock& block) override {
    if (auto* t = target_.load()) t->EventText(block);
  }
  void ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) override {
    if (auto* t = target_.load()) t->ReceivedData(address, lqi, data);
  }
  void IoEvent(std::uint16_t address, std::span<const std::uint8_t> data) override {
    if (auto* t = target_.load()) t->IoEvent(address, data);
  }
  void RemoteJoined(std::uint16_t address) override {
    if (auto* t = target_.load()) t->RemoteJoined(address);
  }

 private:
  std::atomic<ViewSink*> target_{nullptr};
};

// "0x" and four upper-case hex digits.
std::string NetworkAddressText(std::uint16_t address);

// Date in the short format, "  |  ", time in the long format, of now.
std::string TimestampText();

class PacketDecoder {
 public:
  PacketDecoder(PacketQueue& queue, ViewSink& sink);
  // Replaces the time-stamp source (tests).
  void SetClock(std::function<std::string()> timestamp) { timestamp_ = std::move(timestamp); }
  // One complete frame (0xFB, length, sequence, type, payload).
  void DecodePacket(const Frame& frame);

  // The lines of one announce payload, time stamp excluded (exposed for
  // tests and the packet builder).
  static EventBlock AnnounceText(std::span<const std::uint8_t> payload);

 private:
  PacketQueue& queue_;
  ViewSink& sink_;
  std::function<std::string()> timestamp_;
};

}  // namespace qmx
