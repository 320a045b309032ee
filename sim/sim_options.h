// How a simulated module is made, and the faults a test can set on it. What
// each option and fault does is described in sim/README.md.
#pragma once

#include <chrono>
#include <cstdint>

#include "link/clock.h"
#include "sim/sim_line.h"

namespace qmx::sim {

enum class Fault {
  DropReply,       // the next `count` replies are lost (the command still acts)
  NeverReply,      // commands are ignored entirely, nothing is answered
  LateReply,       // replies go out `param` ms late
  DuplicateReply,  // each reply is sent twice
  WrongSequence,   // replies carry the sequence number + `param` (mod 128, default 1)
  Noise,           // `param` noise bytes (never 0xFB, default 8) precede each reply
  OverlongLength,  // a stray 0xFB and length byte `param` (default 101) precede each reply
  Unplug,          // the module is unplugged when a command arrives after `param` more replies
  // Not a fault of the replies: the firmware is gone (as after an upgrade
  // cut short). The module starts again and stays in its boot code until a
  // complete image is programmed and "E" CR follows; count and param unused.
  NoFirmware,
};

// What the radios of a live network do by themselves.
struct NetworkTraffic {
  bool live = false;
  // Mean time between two reports of one remote.
  std::chrono::milliseconds interval{5000};
  // Time between two remotes' joins after the PAN has formed; a network of
  // many remotes joins closer together, all within kJoinWindow.
  std::chrono::milliseconds joinSpacing{1000};
  // Mean time between two remotes leaving the network; each comes back a
  // while later, now and then under a new address. Zero: remotes stay.
  std::chrono::milliseconds churn{0};
};

// The most remotes a network has (each has its own MAC address).
inline constexpr int kMaxRemotes = 250;
// The joins after the PAN has formed take at most this long.
inline constexpr std::chrono::milliseconds kJoinWindow{30000};

struct SimOptions {
  MatchMode match = MatchMode::Uart;
  std::chrono::milliseconds bootTime{300};
  // After "E" CR the boot code is gone at once; the application listens
  // only this much later (bytes meanwhile are lost).
  std::chrono::milliseconds appStartTime{0};
  std::chrono::milliseconds panFormTime{50};
  std::chrono::milliseconds remoteLatency{20};
  // A partial frame followed by this much silence is dropped with Announce 0xE3.
  std::chrono::milliseconds parserTimeout{250};
  bool remoteDataEcho = false;
  bool transparentEcho = true;
  // Seeds the faults' noise, the link quality jitter, the loss model and,
  // through a generator of its own, the live network.
  std::uint32_t seed = 1;
  // The remotes of the network: addresses 1 … remotes (at most kMaxRemotes).
  int remotes = 3;
  NetworkTraffic network{};
  // Where the module's timers take their time from; the steady clock when
  // null. It must outlive the module.
  TimeSource* time = nullptr;
};

// Options of a module whose network is live, each remote reporting about
// every `interval`; a zero interval gives the quiet default.
SimOptions LiveNetwork(std::chrono::milliseconds interval, std::uint32_t seed = 1);

// The local radio in calls that take a radio; remotes are named by address.
inline constexpr int kLocal = -1;

}  // namespace qmx::sim
