#include "mainwindow/ui/view_queue.h"

#include <iterator>

#include "mainwindow/ui/events_tab.h"
#include "mainwindow/ui/network_tab.h"
#include "mainwindow/ui/poll_io_tab.h"

namespace qmx {

ViewQueue::ViewQueue(QObject* context, SerialTab& serial, EventsTab& events, PollIoTab& poll, NetworkTab& network)
    : context_(context),
      serial_(serial),
      events_(events),
      poll_(poll),
      network_(network),
      self_(std::make_shared<ViewQueue*>(this)) {
  pace_.setSingleShot(true);
  QObject::connect(&pace_, &QTimer::timeout, context, [this] { Drain(); });
}

ViewQueue::~ViewQueue() { *self_ = nullptr; }

void ViewQueue::WakeUp() {
  if (pace_.isActive()) return;
  const auto since = std::chrono::steady_clock::now() - lastDrain_;
  if (since < kDrainGap && recentItems_ >= kFloodItems)
    pace_.start(std::chrono::duration_cast<std::chrono::milliseconds>(kDrainGap - since));
  else
    Drain();
}

void ViewQueue::Drain() {
  const auto now = std::chrono::steady_clock::now();
  if (now - windowStart_ >= kDrainGap) {
    windowStart_ = now;
    recentItems_ = 0;
  }
  lastDrain_ = now;
  const auto deadline = now + kPassBudget;
  std::vector<Item> items;
  // Cleared first: a frame from now on marks the next pass.
  frameMarked_.store(false);
  {
    std::lock_guard lock(mutex_);
    items.swap(queue_);
  }
  std::vector<SerialTab::ReceivedPacket> received;
  std::vector<EventBlock> events;
  auto flush = [&] {
    if (!received.empty()) serial_.ShowReceivedBatch(received);
    if (!events.empty()) events_.AppendEvents(events);
    received.clear();
    events.clear();
  };
  bool frames = false;
  auto item = items.begin();
  for (; item != items.end(); ++item) {
    if (auto* p = std::get_if<SerialTab::ReceivedPacket>(&*item)) {
      network_.ReceivedData(p->address, p->lqi);
      if (!events.empty()) flush();
      received.push_back(std::move(*p));
      if (received.size() >= kBudgetStep) {
        flush();
        if (std::chrono::steady_clock::now() >= deadline) {
          ++item;
          ++recentItems_;
          break;
        }
      }
    } else if (auto* e = std::get_if<EventBlock>(&*item)) {
      if (!received.empty()) flush();
      events.push_back(std::move(*e));
    } else if (std::holds_alternative<FrameMark>(*item)) {
      frames = true;
      continue;
    } else if (auto* a = std::get_if<Announcement>(&*item)) {
      network_.Announced(*a);
      continue;
    } else {
      flush();
      if (auto* io = std::get_if<IoUpdate>(&*item)) {
        network_.IoEvent(io->address);
        poll_.ApplyIoEvent(io->address, io->data);
      } else if (auto* j = std::get_if<Joined>(&*item)) {
        network_.RemoteJoined(j->address);
        serial_.AddNetworkAddress(j->address);
      }
    }
    ++recentItems_;
  }
  flush();
  network_.EventsApplied();
  if (frames) serial_.FrameArrived();

  if (item != items.end()) {
    // Out of time: the rest goes back to the front of the queue, and the
    // pass goes on once the thread has seen to what came meanwhile.
    {
      std::lock_guard lock(mutex_);
      queue_.insert(queue_.begin(), std::make_move_iterator(item), std::make_move_iterator(items.end()));
      passDue_ = true;
    }
    pace_.start(0);
    return;
  }
  const bool flood = recentItems_ >= kFloodItems;
  bool held = false;  // events that a pass due held back
  {
    std::lock_guard lock(mutex_);
    held = passDue_ && !queue_.empty();
    passDue_ = flood;
  }
  if (flood)
    pace_.start(kDrainGap);
  else if (held)
    pace_.start(0);
}

void ViewQueue::Push(Item item) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    wake = queue_.empty() && !passDue_;
    queue_.push_back(std::move(item));
  }
  if (!wake) return;
  QPointer<QObject> target = context_;
  if (!target) return;
  QMetaObject::invokeMethod(
      target, [target, self = self_] { if (target && *self) (*self)->WakeUp(); }, Qt::QueuedConnection);
}

}  // namespace qmx
