// Carries the decoder's view events from the parser thread to the main
// window's tabs, in order, through one queue: the first event into an empty
// queue posts one wake-up, and the user-interface thread then takes
// everything queued in one go, so that a flood of frames costs one pass per
// wake-up instead of one per frame. Under a flood (kFloodItems view events
// or more within kDrainGap), a wake-up that comes less than kDrainGap after
// the last pass waits for the rest of that gap: the views then change about
// 10 times a second, each time by many rows, which costs far less than a
// row or two a thousand times a second (painting the rows in view is most
// of a pass). Sparse events still show at once.
// While a flood lasts, each pass arms the next one kDrainGap later and the
// events queued meanwhile post no wake-up of their own: one wake-up of the
// user-interface thread per pass. A pass works for kPassBudget at most, then
// lets the thread handle what else waits (typing, painting) and goes on
// from a zero-time timer: a key's echo never waits behind a backlog.
#pragma once

#include <QPointer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <variant>
#include <vector>

#include "link/decoder.h"
#include "mainwindow/ui/serial_tab.h"

namespace qmx {

class EventsTab;
class NetworkTab;
class PollIoTab;

class ViewQueue : public ViewSink {
 public:
  static constexpr std::chrono::milliseconds kDrainGap{100};
  static constexpr std::size_t kFloodItems = 16;
  static constexpr std::chrono::milliseconds kPassBudget{4};
  // Received packets shown between looks at the clock.
  static constexpr std::size_t kBudgetStep = 64;

  // Wake-ups are handled in `context`'s thread while it lives.
  ViewQueue(QObject* context, SerialTab& serial, EventsTab& events, PollIoTab& poll, NetworkTab& network);
  ~ViewQueue() override;
  ViewQueue(const ViewQueue&) = delete;
  ViewQueue& operator=(const ViewQueue&) = delete;

  // One mark per pass is enough, however many frames came.
  void FrameReceived() override {
    if (!frameMarked_.exchange(true)) Push(FrameMark{});
  }
  void Announced(const Announcement& announcement) override { Push(announcement); }
  void EventText(const EventBlock& block) override { Push(block); }
  void ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) override {
    Push(SerialTab::ReceivedPacket{address, lqi, std::vector<std::uint8_t>(data.begin(), data.end())});
  }
  void IoEvent(std::uint16_t address, std::span<const std::uint8_t> data) override {
    Push(IoUpdate{address, std::vector<std::uint8_t>(data.begin(), data.end())});
  }
  void RemoteJoined(std::uint16_t address) override { Push(Joined{address}); }

  // User-interface thread: applies every queued event, in order (at once,
  // or at the end of the flood's gap); runs of received data and of event
  // texts go to their view as one batch. The Network tab's table takes every
// event as it comes and tells its view once a pass.
  void WakeUp();
  void Drain();

 private:
  struct FrameMark {};
  struct IoUpdate {
    std::uint16_t address;
    std::vector<std::uint8_t> data;
  };
  struct Joined {
    std::uint16_t address;
  };
  using Item = std::variant<FrameMark, EventBlock, SerialTab::ReceivedPacket, IoUpdate, Joined, Announcement>;

  void Push(Item item);

  QPointer<QObject> context_;
  SerialTab& serial_;
  EventsTab& events_;
  PollIoTab& poll_;
  NetworkTab& network_;
  QTimer pace_;
  std::chrono::steady_clock::time_point lastDrain_{};
  std::chrono::steady_clock::time_point windowStart_{};
  std::size_t recentItems_ = 0;  // view events drained since windowStart_
  std::mutex mutex_;
  std::vector<Item> queue_;
  std::atomic<bool> frameMarked_{false};  // a FrameMark waits in queue_
  // A pass is due (armed by the one before, or a continuation): Push posts
  // no wake-up. Guarded by mutex_.
  bool passDue_ = false;
  // Tells posted wake-ups that this queue is gone.
  std::shared_ptr<ViewQueue*> self_;
};

}  // namespace qmx
