// qmxctl: the radio link on the command line. Opens a serial port (or the
// built-in simulated module), puts the radio into protocol mode and runs one
// subcommand. Exit status: 0 success, 1 the radio did not answer or refused,
// 2 bad arguments. Messages go to standard error.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "qmxctl_args.h"
#include "qmxctl_complete.h"
#include "qmxctl_config.h"
#include "config/local_status.h"
#include "config/profile.h"
#include "config/register_map.h"
#include "config/settings_model.h"
#include "link/device_watch.h"
#include "link/number_text.h"
#include "link/failure_text.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/workdir.h"
#include "qmxctl_firmware.h"
#include "qmxctl_diag.h"
#include "qmxctl_nodes.h"
#include "qmxctl_output.h"
#include "tools/firmware_upgrade.h"
#include "sim/sim_serial_port.h"

namespace qmx {
namespace {

using ctl::kExitOk;
using ctl::kExitRadio;
using ctl::kExitUsage;
using ctl::Options;
using ctl::UsageError;

std::string HexDump(std::span<const std::uint8_t> bytes, std::size_t firstOffset = 0) {
  std::string out;
  char buf[16];
  for (std::size_t i = 0; i < bytes.size(); i += 16) {
    std::snprintf(buf, sizeof buf, "  %02zX:", firstOffset + i);
    out += buf;
    for (std::size_t j = i; j < bytes.size() && j < i + 16; ++j) out += " " + Hex2(bytes[j]);
    out += "\n";
  }
  return out;
}

class Session {
 public:
  explicit Session(const Options& o) : options_(o), dir_(std::filesystem::current_path()) {
    // The built-in module's network is live only for 'monitor' and a
    // 'nodes' that listens: other commands print just their answers (and
    // a scan at once finds the quiet network's remotes linked).
    const bool listens = o.command == "monitor" || (o.command == "nodes" && o.nodes.listenSeconds > 0);
    const auto network = sim::LiveNetwork(std::chrono::seconds(listens ? 5 : 0));
    PortFactory factory = sim::MakeSimPortFactory(std::make_shared<sim::SimModule>(network),
                                                  [](const std::string&) { return MakePosixSerialPort(); });
    // monitor's result is the traffic; for the others it is a side show.
    const bool monitor = o.command == "monitor";
    sink_.Configure(monitor ? stdout : (o.quiet ? nullptr : stderr), monitor && o.json, monitor && o.timestamps);
    // nodes keeps the events for its table too.
    ViewSink& sink = o.command == "nodes" ? static_cast<ViewSink&>(feed_) : sink_;
    link_ = std::make_unique<RadioLink>(factory, dir_, prompter_, waiter_, sink);
    link_->options.logData = o.log;
    if (o.timeoutGiven) link_->commands.SetReplyTimeoutMs(o.timeoutMs);
    link_->SetPortLostListener([this] {
      std::lock_guard lock(mutex_);
      lost_ = true;
      cv_.notify_all();
    });
  }

  int Run() {
    if (options_.log && !TakeLogFolder()) return kExitUsage;
    if (options_.log) link_->log.LogHeader();
    if (!ctl::PortReady(link_->session.Open({options_.port, options_.line, options_.port}))) return NoRadio();
    link_->parser.Start();
    const std::string& c = options_.command;
    if (c == "enter") return Reported(Enter(), {{"protocol_mode", true}});
    if (c == "exit") return Exit();
    if (c == "firmware" && options_.firmware.recover) return RunFirmware(*link_, options_.firmware, options_.json);
    if (Enter() == kExitOk) {
      if (c == "reset") return Reported(Check(link_->commands.SoftwareReset(), "Software Reset"), {{"reset", true}});
      if (c == "get") return Get();
      if (c == "set") return Set();
      if (c == "read-all") return ReadAll();
      if (c == "status") return Status();
      const ctl::ConfigRequest config{options_.remote, options_.reset, options_.json};
      if (c == "config" && options_.args[0] == "save")
        return ctl::RunConfigSave(link_->commands, dir_, options_.args[1], config);
      if (c == "config" && options_.args[0] == "diff")
        return ctl::RunConfigDiff(link_->commands, options_.assignments, config);
      if (c == "config" && (options_.args[0] == "set" || options_.args[0] == "load"))
        return ctl::RunConfigSet(link_->commands, link_->transport, options_.assignments, config);
      if (c == "config") return ConfigShow();
      if (c == "defaults") return ctl::RunDefaults(link_->commands, link_->transport, config);
      if (c == "mac") return ctl::RunMac(link_->commands, options_.args[0], config);
      if (c == "fcc") return ctl::RunFcc(link_->commands, options_.fccMode, config);
      if (c == "send") return Send();
      if (c == "monitor") return Monitor();
      if (c == "firmware") return RunFirmware(*link_, options_.firmware, options_.json);
      if (c == "diag") return RunDiag(link_->commands, waiter_.Time(), options_.diag, options_.json);
      if (c == "nodes") return RunNodes(link_->commands, feed_, waiter_.Time(), dir_, options_.nodes, options_.json);
    }
    if (bootCode_ && c == "status") {
      if (options_.json) ctl::PrintJson({{"state", "boot code"}});
      else std::printf("boot code\n");
      return kExitOk;
    }
    return NoRadio();
  }

 private:
  // The log goes to logfile.dat in the current folder: never while another
  // program (a qmxdemo, another qmxctl --log) writes its own log there.
  bool TakeLogFolder() {
    folderLock_.emplace(dir_.Dir());
    if (!folderLock_->Busy()) return true;
    const pid_t holder = folderLock_->Holder();
    std::fprintf(stderr,
                 "qmxctl: --log: the folder %s is in use by another program%s that writes its log there; run qmxctl "
                 "in a folder of its own to keep the two logs apart\n",
                 dir_.Dir().c_str(), holder > 0 ? (" (process " + std::to_string(holder) + ")").c_str() : "");
    return false;
  }

  // No radio to talk to: 1, but 2 for config diff, which answers as diff(1)
  // does (its 1 means "differs").
  int NoRadio() const {
    return options_.command == "config" && options_.args[0] == "diff" ? kExitUsage : kExitRadio;
  }

  // A command that succeeded reports `json` under --json.
  int Reported(int status, const ctl::Json& json) const {
    if (status == kExitOk && options_.json) ctl::PrintJson(json);
    return status;
  }

  int Check(const Done& result, const char* what) { return result ? kExitOk : NoAnswer(what); }
  // The local radio was silent: where to look.
  int NoAnswer(const char* what) {
    std::fprintf(stderr,
                 "qmxctl: %s: the radio did not answer on %s at %u baud; check --port and --baud, or wait longer "
                 "with --timeout (now %g ms)\n",
                 what, options_.port.c_str(), options_.line.baudRate, options_.timeoutMs);
    return kExitRadio;
  }

  // Leaving protocol mode. A radio that is out of it already answers only
  // the request to enter: asked once, it tells which it was, and is let out
  // again, so that the radio ends out of protocol mode either way.
  int Exit() {
    const ReplyWait once{options_.timeoutMs, 0};
    if (link_->commands.ExitProtocolMode(once)) return Reported(kExitOk, {{"protocol_mode", false}});
    if (!link_->commands.EnterProtocolMode(once)) return NoAnswer("Exit Protocol Mode");
    if (!link_->commands.ExitProtocolMode()) return NoAnswer("Exit Protocol Mode");
    std::fprintf(stderr, "qmxctl: the radio was out of protocol mode already\n");
    return Reported(kExitOk, {{"protocol_mode", false}, {"was_out", true}});
  }
  // Protocol mode; a radio that does not answer may be in its boot code.
  int Enter() {
    if (link_->session.EnterProtocolMode()) return kExitOk;
    bootCode_ = link_->session.State() == LinkState::BootCode;
    if (!bootCode_) return NoAnswer("Enter Protocol Mode");
    std::fprintf(stderr, "qmxctl: %s Program a firmware image with 'qmxctl --port %s firmware program FILE --recover'.\n",
                 BootCodeNotice(options_.port).c_str(), options_.port.c_str());
    return kExitRadio;
  }

  int Get() {
    PacketRecord rec = options_.rec;
    const Result<int> n =
        link_->commands.GetRegister(rec, kUsualReplyWait, RadioAddress::Of(options_.remote));
    if (!n) return Refused("Get Register", rec);
    std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(*n), rec.Data.size());
    if (options_.json) {
      ctl::Json j{{"bank", rec.Bank}, {"register", rec.Register}, {"data_hex", ctl::HexString({rec.Data.data(), count})}};
      if (options_.remote) j["lqi"] = rec.Lqi;
      ctl::PrintJson(j);
      return kExitOk;
    }
    std::printf("%s", HexDump({rec.Data.data(), count}, rec.Register).c_str());
    if (options_.remote) std::printf("LQI %s\n", HexText(rec.Lqi, 2).c_str());
    return kExitOk;
  }

  int Set() {
    PacketRecord rec = options_.rec;
    if (!link_->commands.SetRegister(rec, kUsualReplyWait, RadioAddress::Of(options_.remote)))
      return Refused("Set Register", rec);
    ctl::Json j{{"bank", options_.rec.Bank}, {"register", options_.rec.Register}, {"length", options_.rec.Span}};
    if (options_.remote) j["lqi"] = rec.Lqi;
    return Reported(kExitOk, j);
  }

  // The local radio answered that the remote did not, or did not answer.
  int Refused(const char* what, const PacketRecord& reply) {
    if (options_.remote && reply.PacketType != 0 && reply.TxStatus != txstatus::Acknowledged) {
      const std::string_view meaning = txstatus::Meaning(reply.TxStatus);
      std::fprintf(stderr, "qmxctl: %s: the remote radio at %s did not answer: TX Status %s (%s)\n", what,
                   HexText(*options_.remote, 4).c_str(), HexText(reply.TxStatus, 2).c_str(),
                   meaning.empty() ? "no acknowledgement" : std::string(meaning).c_str());
      return kExitRadio;
    }
    return NoAnswer(what);
  }

  int ReadAll() {
    RadioIndex slot = options_.remote ? 1 : 0;
    std::uint16_t address = options_.remote.value_or(0);
    BankMask got = ReadBanks(link_->commands, image_, kAllBanks, address, slot);
    if (options_.json) {
      ctl::Json banks = ctl::Json::array();
      for (const BankInfo& b : kBanks) {
        ctl::Json j{{"bank", b.bank}, {"length", b.length}};
        j["data_hex"] = (got & b.maskBit) ? ctl::Json(ctl::HexString(image_.Bank(slot, b))) : ctl::Json(nullptr);
        banks.push_back(j);
      }
      ctl::PrintJson({{"banks", banks}});
    }
    for (const BankInfo& b : kBanks) {
      if (options_.json) break;
      std::printf("Bank %u (%u bytes)%s\n", b.bank, b.length, (got & b.maskBit) ? "" : " - read failed");
      if (got & b.maskBit) std::printf("%s", HexDump(image_.Bank(slot, b)).c_str());
    }
    if (got != kAllBanks) {
      std::fprintf(stderr, "qmxctl: %s\n", FailureOf(Operation::ReadRadio)->message.c_str());
      return kExitRadio;
    }
    return kExitOk;
  }

  int Status() {
    if (ReadBanks(link_->commands, image_, kAllBanks, 0, 0) != kAllBanks) {
      std::fprintf(stderr, "qmxctl: %s\n", FailureOf(Operation::ReadBanks)->message.c_str());
      return kExitRadio;
    }
    const LocalStatusTexts status = FormatLocalStatus(image_, 0);
    if (options_.json) {
      ctl::PrintJson({{"state", "protocol mode"},
                      {"device_mode", status.deviceMode},
                      {"pan_id", status.panIdValue},
                      {"pan_id_hex", status.panId},
                      {"channel", status.channelValue},
                      {"channel_hex", HexText(status.channelValue, 2)},
                      {"frequency_mhz", ChannelMhz(status.channelValue)},
                      {"network_address", status.networkValue},
                      {"network_address_hex", status.network},
                      {"mac_address", status.mac},
                      {"firmware_version", status.firmware},
                      {"link_status", status.linkStatus},
                      {"encryption", status.encryption}});
      return kExitOk;
    }
    const auto rows = StatusRows(status);
    for (std::size_t i = 0; i < rows.size(); ++i) std::printf("%-14s%s\n", kLocalStatusLabels[i], rows[i].c_str());
    return kExitOk;
  }

  int ConfigShow() {
    const RadioIndex slot = options_.remote ? 1 : 0;
    const std::uint16_t address = options_.remote.value_or(0);
    if (ReadBanks(link_->commands, image_, kAllBanks, address, slot) != kAllBanks) {
      std::fprintf(stderr, "qmxctl: %s\n", FailureOf(Operation::ReadRadio)->message.c_str());
      return kExitRadio;
    }
    ctl::Json settings = ctl::Json::object();
    for (const Setting& s : Settings()) {
      if (s.shownOnly) continue;  // shown only: neither settable nor saved
      if (options_.json)
        settings[s.key] = ctl::JsonText(FormatSetting(s, image_.Slot(slot)));  // the text itself, not its quoted form
      else
        std::printf("%s = %s\n", s.key, ShowText(s, image_.Slot(slot)).c_str());
    }
    if (options_.json) ctl::PrintJson({{"settings", settings}});
    return kExitOk;
  }

  int Send() {
    PacketRecord rec = options_.rec;
    if (!link_->commands.TxData(rec)) return NoAnswer("TX Data");
    const std::string meaning(txstatus::Meaning(rec.TxStatus));
    const bool acknowledged = rec.TxStatus == txstatus::Acknowledged;
    if (options_.json) {
      ctl::PrintJson({{"address", options_.rec.NetworkAddress},
                      {"address_hex", HexText(options_.rec.NetworkAddress, 4)},
                      {"length", options_.rec.Length},
                      {"tx_status", rec.TxStatus},
                      {"tx_status_text", meaning.empty() ? "unknown" : meaning},
                      {"acknowledged", acknowledged},
                      {"lqi", rec.Lqi}});
    } else {
      std::printf("TX Status %s (%s)  LQI %s\n", HexText(rec.TxStatus, 2).c_str(),
                  meaning.empty() ? "unknown" : meaning.c_str(), HexText(rec.Lqi, 2).c_str());
    }
    if (!acknowledged)
      std::fprintf(stderr, "qmxctl: TX Data: the radio at %s did not acknowledge\n",
                   HexText(options_.rec.NetworkAddress, 4).c_str());
    return acknowledged ? kExitOk : kExitRadio;
  }

  // Until the time is up. A device that goes away ends it, or with
  // --reconnect is waited for (watching its directory, or its by-id name)
  // and reopened at the same line, in protocol mode again. Time that runs
  // out while the device is away is a failure: what was watched was not
  // all there.
  int Monitor() {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(options_.seconds));
    std::unique_lock lock(mutex_);
    bool away = false;
    for (;;) {
      if (!cv_.wait_until(lock, end, [this] { return lost_ || returned_; })) {
        if (!away) return kExitOk;
        std::fprintf(stderr, "qmxctl: the device %s did not come back before the time was up\n",
                     watchName_.c_str());
        return kExitRadio;
      }
      if (returned_) {
        returned_ = false;
        lock.unlock();
        const bool back = Reopen();
        lock.lock();
        if (back) {
          away = false;
          sink_.PortEvent("reconnect", watchName_);
        } else {
          WaitForReturn();
        }
        continue;
      }
      lost_ = false;
      sink_.PortEvent("disconnect", options_.port);
      if (!options_.reconnect) {
        std::fprintf(stderr, "qmxctl: the device %s has gone away\n", options_.port.c_str());
        return kExitRadio;
      }
      away = true;
      WaitForReturn();
    }
  }

  // Called with mutex_ held.
  void WaitForReturn() {
    const std::string name = IdentifyDevice(link_->session.Port().path).WatchName();
    std::fprintf(stderr, "qmxctl: the device %s has gone away; waiting for %s to return\n", options_.port.c_str(),
                 name.c_str());
    DeviceWatcher::Callbacks callbacks;
    callbacks.returned = [this] {
      std::lock_guard guard(mutex_);
      returned_ = true;
      cv_.notify_all();
    };
    callbacks.noAccess = [name] {
      std::fprintf(stderr, "qmxctl: %s is back, but this user may not read and write it; still waiting\n",
                   name.c_str());
    };
    (void)link_->session.WaitForDevice(std::move(callbacks));
    watchName_ = name;
  }

  bool Reopen() {
    const Done back = link_->session.Reconnect();
    if (back) {
      std::fprintf(stderr, "qmxctl: reconnected to %s\n", watchName_.c_str());
      return true;
    }
    if (link_->session.State() == LinkState::BootCode) {
      std::fprintf(stderr, "qmxctl: %s\n", BootCodeNotice(watchName_).c_str());
      link_->session.Close();
    } else if (back.status() == qmx::Status::NoReply) {
      (void)NoAnswer("Enter Protocol Mode");
    } else {
      (void)ctl::PortReady(back);
    }
    return false;
  }

  const Options& options_;
  WorkDir dir_;
  std::optional<WorkDirLock> folderLock_;  // while the log is written
  StderrPrompter prompter_{"qmxctl: "};
  CondVarWaiter waiter_;
  ctl::TrafficPrinter sink_;
  ctl::NodeFeed feed_{sink_};
  RadioImage image_;
  // Before the link: its threads, which report a lost device here, end
  // with the link, before these go.
  std::mutex mutex_;
  std::condition_variable cv_;
  bool lost_ = false;
  bool returned_ = false;
  std::unique_ptr<RadioLink> link_;
  std::string watchName_;
  bool bootCode_ = false;  // the radio answered in its boot code
};

}  // namespace
}  // namespace qmx

namespace {

// Standard output carries the result: one that did not all reach its file
// (a full disk, a closed pipe) is a failure, whatever the command made of
// it. A standard output closed from the start and never written to is not.
// config diff answers trouble with 2, as diff(1) does.
int FinishOutput(int status, bool diff) {
  errno = 0;
  bool failed = std::fflush(stdout) != 0;
  int reason = errno;
  failed = std::ferror(stdout) != 0 || failed;
  errno = 0;
  if (std::fclose(stdout) != 0 && errno != EBADF) {
    failed = true;
    if (reason == 0) reason = errno;
  }
  if (!failed) return status;
  if (reason != 0)
    std::fprintf(stderr, "qmxctl: write error on standard output: %s\n", std::strerror(reason));
  else
    std::fprintf(stderr, "qmxctl: write error on standard output\n");
  return diff ? qmx::ctl::kExitUsage : qmx::ctl::kExitRadio;
}

int Main(int argc, char** argv, bool& diff) {
  using namespace qmx;
  using namespace qmx::ctl;
  if (argc == 3 && std::strcmp(argv[1], "--complete") == 0) return ctl::PrintCompletion(argv[2]);
  try {
    Options o = ParseArgs(argc, argv);
    if (o.version) {
      std::fputs(ctl::VersionText().c_str(), stdout);
      return kExitOk;
    }
    if (o.help) {
      std::fputs(ctl::HelpText(o.command), stdout);
      return kExitOk;
    }
    if (o.command.empty()) throw UsageError{"no command given"};
    diff = o.command == "config" && !o.args.empty() && o.args[0] == "diff";
    ValidateArgs(o);
    if (o.simByDefault)
      std::fprintf(stderr, "qmxctl: no port named (--port or QMX_PORT) and no USB serial adapter attached: "
                           "reading the built-in simulated module\n");
    Session session(o);
    return session.Run();
  } catch (const UsageError& e) {
    std::fprintf(stderr, e.content ? "qmxctl: %s\n" : "qmxctl: %s\nTry 'qmxctl --help'.\n", e.text.c_str());
    return kExitUsage;
  } catch (const std::exception& e) {
    // The last guard: whatever went wrong is told, never an abort.
    std::fprintf(stderr, "qmxctl: %s\n", e.what());
    return kExitRadio;
  } catch (...) {
    std::fprintf(stderr, "qmxctl: stopped by an unexpected failure\n");
    return kExitRadio;
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool diff = false;
  const int status = Main(argc, argv, diff);
  return FinishOutput(status, diff);
}
