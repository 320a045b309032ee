// The desktop program's windows wired as its composition root wires them,
// on the built-in simulated module, with a recording prompter, the real
// nested-loop waiter and a working directory of the test's choosing. Made
// with FakeTime, the waiter and the module run on `clock`, so a test whose
// radio stays silent moves past each time-out at once.
#pragma once

#include <QApplication>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "config/register_map.h"
#include "config/ui/device_config_form.h"
#include "config/ui/mac_form.h"
#include "link/radio_link.h"
#include "link/ui/comm_port_form.h"
#include "link/ui/qt_waiter.h"
#include "link/workdir.h"
#include "mainwindow/ui/main_window.h"
#include "sim/sim_module.h"
#include "sim/sim_serial_port.h"
#include "tests/fixtures/fake_clock.h"
#include "tests/fixtures/fake_prompter.h"
#include "tests/fixtures/test_ports.h"
#include "tests/fixtures/ui/qt_app.h"
#include "tools/ui/about_form.h"
#include "tools/ui/packet_form.h"
#include "tools/ui/diag_form.h"
#include "tools/ui/note_form.h"
#include "tools/ui/firmware_form.h"
#include "tools/ui/firmware_info_form.h"

namespace qmx::test {

// Also notes, for each message shown on the user-interface thread, whether
// the busy cursor was up.
class CursorNotingPrompter : public FakePrompter {
 public:
  void Message(const std::string& text, const std::string& caption) override {
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
      busyAt.push_back(QApplication::overrideCursor() != nullptr);
    FakePrompter::Message(text, caption);
  }
  std::vector<bool> busyAt;
};

class DemoSet {
 public:
  // `ports`: what the port dialog lists besides SIM-OK (none by default, so
  // that the dialog's first entry is the simulated module).
  explicit DemoSet(const std::filesystem::path& workdir, std::vector<PortInfo> ports = {})
      : DemoSet(workdir, std::move(ports), SteadyTime()) {}
  DemoSet(const std::filesystem::path& workdir, FakeTime) : DemoSet(workdir, {}, clock) {}
  ~DemoSet() {
    sink.SetTarget(nullptr);
    link.parser.Stop();
    link.transport.StopComm();
  }
  DemoSet(const DemoSet&) = delete;
  DemoSet& operator=(const DemoSet&) = delete;

 private:
  // `time` is bound here but first used once its owner is made.
  DemoSet(const std::filesystem::path& workdir, std::vector<PortInfo> ports, TimeSource& time)
      : dir(workdir),
        waiter(time),
        module(std::make_shared<sim::SimModule>(sim::SimOptions{.time = &time})),
        link(
            [this](const std::string& name) -> std::unique_ptr<SerialPort> {
              if (name != sim::kSimPortName && name != simPath) return realPorts ? MakePosixSerialPort() : nullptr;
              auto port = std::make_unique<PassPort>(
                  sim::MakeSimSerialPort(module), sim::kSimPortName,
                  [this](std::span<const std::uint8_t> bytes) { return loseWrite && loseWrite(bytes); });
              port->OnApply([this](const LineSettings& line) {
                if (lineApplied) lineApplied(line);
              });
              return port;
            },
            dir, prompter, waiter, sink),
        form1(link, image, prompter, dir),
        about(&form1),
        port(link, prompter, &form1),
        config(&form1),
        mac(&form1),
        packetBuilder(link, prompter, &form1),
        diagLog(dir, prompter),
        diagnostics(link, prompter, diagLog, &form1),
        note(diagLog, &diagnostics),
        information(&form1),
        upgrade(&form1) {
    sink.SetTarget(&form1.Sink());
    link.log.SetHeaderTitle((about.TitleText() + " " + about.VersionText()).toStdString());
    link.transport.SetSettleTime(std::chrono::milliseconds(0));
    form1.SetForms({&port, &about, &config, &mac, &packetBuilder, &diagnostics, &upgrade});
    diagnostics.SetNoteForm(&note);
    form1.SetDisconnectDelayMs(0);
    port.SetPortSource([ports] { return ports; }, [](const std::string&) { return false; });
    port.SetPermissionHintSource({});
    port.SetAttemptTimeoutMs(100);
    port.SetBootCodeProbe(BootCodeProbe(link, std::chrono::milliseconds(5)));
    link.session.SetBootProbeInterval(std::chrono::milliseconds(5));
  }

 public:

  // Runs `action` on the port dialog once its modal loop runs; a dialog that
  // is still open afterwards is cancelled, so that a failed attempt cannot
  // leave the test waiting.
  void WhenPortDialogShows(std::function<void(TCommPortForm&)> action) {
    QTimer::singleShot(0, &port, [this, action] {
      portDialogShown = port.isVisible();
      action(port);
      if (port.isVisible()) port.CancelButtonClick();
    });
  }
  // Connect with the dialog's selections as it shows them; true when the
  // window is connected afterwards.
  bool Connect() {
    WhenPortDialogShows([](TCommPortForm& d) { d.OKButtonClick(); });
    form1.ConnectButtonClick();
    return form1.Connected();
  }

  struct AppFirst {
    AppFirst() { QtApp(); }
  } app_;
  // A device path that opens the simulated module too.
  std::string simPath;
  // Other paths open real devices (pseudo-terminals of qmxsim) instead of
  // failing.
  bool realPorts = false;
  // Set when the dialog was visible as a scheduled action ran.
  bool portDialogShown = false;
  // Writes to the module for which this returns true are lost on the line.
  std::function<bool(std::span<const std::uint8_t>)> loseWrite;
  // Sees each line setting applied to the module's port.
  std::function<void(const LineSettings&)> lineApplied;
  FakeClock clock;  // used only when made with FakeTime
  WorkDir dir;
  CursorNotingPrompter prompter;
  QtWaiter waiter;
  std::shared_ptr<sim::SimModule> module;
  ForwardingSink sink;
  RadioLink link;
  RadioImage image;
  // Every window, in start-up order.
  TForm1 form1;
  TAboutForm about;
  TCommPortForm port;
  TDeviceConfigForm config;
  TMACForm mac;
  TPacketForm packetBuilder;
  DiagLog diagLog;
  TDiagForm diagnostics;
  TInsertNoteForm note;
  TForm2 information;
  TForm3 upgrade;
};

}  // namespace qmx::test

// Readable QStrings in test failure output.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
