// The POSIX serial port through a real pty, and the port list from a made-up
// sysfs tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numeric>
#include <thread>

#include "link/event.h"
#include "link/port_detect.h"
#include "link/serial_port.h"
#include "tests/fixtures/pty_pair.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/watchdog.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;
using test::PtyPair;
namespace fs = std::filesystem;

std::unique_ptr<SerialPort> OpenOn(const PtyPair& pty) {
  auto port = MakePosixSerialPort();
  const Done opened = port->Open(pty.SlavePath());
  EXPECT_TRUE(opened) << opened.reason();
  return port;
}

// Reads from the port until `count` bytes came, the device went or 2 s
// passed.
std::vector<std::uint8_t> ReadPort(SerialPort& port, std::size_t count) {
  Event stop;
  test::Watchdog dog(2000ms, [&stop] { stop.set(); });
  std::vector<std::uint8_t> out;
  std::uint8_t buf[512];
  while (out.size() < count && port.WaitReadable(stop) == WaitResult::Readable) {
    const Result<std::size_t> n = port.Read(buf);
    if (!n) break;
    out.insert(out.end(), buf, buf + *n);
  }
  return out;
}

TEST(PosixSerialPort, OpenIsExclusiveUntilClosed) {
  PtyPair pty;
  auto first = OpenOn(pty);
  ASSERT_TRUE(first->IsOpen());
  EXPECT_FALSE(ProbePort(pty.SlavePath()));

  // Even for root, who gets past TIOCEXCL.
  auto second = MakePosixSerialPort();
  const Done busy = second->Open(pty.SlavePath());
  EXPECT_EQ(busy.status(), Status::CannotOpen);
  EXPECT_EQ(busy.operation(), Operation::OpenPort);
  EXPECT_FALSE(busy.reason().empty());
  EXPECT_FALSE(second->IsOpen());

  first->Close();
  EXPECT_FALSE(first->IsOpen());
  EXPECT_TRUE(ProbePort(pty.SlavePath()));
  EXPECT_TRUE(second->Open(pty.SlavePath()));
}

TEST(PosixSerialPort, APortAnotherProgramHoldsIsRefusedAndLeftAlone) {
  PtyPair pty;
  // One program locks the device, another sets it exclusive.
  for (const bool byLock : {true, false}) {
    const int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(byLock ? ::flock(other, LOCK_EX | LOCK_NB) : ::ioctl(other, TIOCEXCL), 0);
    auto port = MakePosixSerialPort();
    EXPECT_FALSE(port->Open(pty.SlavePath())) << byLock;
    EXPECT_FALSE(ProbePort(pty.SlavePath())) << byLock;
    int exclusive = -1;
    ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, byLock ? 0 : 1) << "the other program's tty was changed";
    ::ioctl(other, TIOCNXCL);
    ::close(other);
  }
  auto port = MakePosixSerialPort();
  const Done opened = port->Open(pty.SlavePath());
  EXPECT_TRUE(opened) << opened.reason();
}

TEST(PosixSerialPort, OnlyExistingTerminalsOpen) {
  for (const std::string path : {"/dev/qmx-no-such-port", "/dev/null"}) {
    auto port = MakePosixSerialPort();
    const std::string why = port->Open(path).reason();
    EXPECT_NE(why.find(path), std::string::npos) << why;
    EXPECT_FALSE(port->IsOpen());
    EXPECT_FALSE(ProbePort(path)) << path;
  }
}

TEST(PosixSerialPort, LineSettingsReadBackAsApplied) {
  PtyPair pty;
  auto port = OpenOn(pty);
  const LineSettings cases[] = {
      {1200, 8, parity::None, stopbits::One, false},   {9600, 7, parity::Even, stopbits::Two, false},
      {14400, 8, parity::Odd, stopbits::One, false},   {28800, 6, parity::None, stopbits::Two, true},
      {115200, 5, parity::Even, stopbits::One, true},  {57600, 8, parity::None, stopbits::One, false},
  };
  for (const auto& want : cases) {
    ASSERT_TRUE(port->ApplySettings(want)) << want.baudRate;
    const Result<LineSettings> got = port->GetSettings();
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, want) << want.baudRate << " baud, " << int(want.byteSize) << " bits";
  }
}

TEST(PosixSerialPort, SettingsTheLineCannotHaveAreRefusedAndLeaveItAsItWas) {
  PtyPair pty;
  auto port = OpenOn(pty);
  const LineSettings good{19200, 8, parity::Even, stopbits::One, false};
  ASSERT_TRUE(port->ApplySettings(good));
  const LineSettings bad[] = {
      {0, 8, parity::None, stopbits::One, false},      {9600, 4, parity::None, stopbits::One, false},
      {9600, 9, parity::None, stopbits::One, false},   {9600, 8, 3, stopbits::One, false},
      {9600, 8, parity::None, 1, false},
  };
  for (const auto& s : bad) {
    const Done refused = port->ApplySettings(s);
    EXPECT_EQ(refused.status(), Status::LineNotApplied);
    EXPECT_EQ(refused.operation(), Operation::LineSettings);
    EXPECT_FALSE(refused.reason().empty());
    const Result<LineSettings> got = port->GetSettings();
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, good);
  }
  port->Close();
  EXPECT_EQ(port->GetSettings().status(), Status::LineNotRead);
  EXPECT_EQ(port->ApplySettings(good).status(), Status::LineNotApplied);
}

TEST(PosixSerialPort, EveryByteValuePassesUnchangedBothWays) {
  PtyPair pty;
  auto port = OpenOn(pty);
  ASSERT_TRUE(port->ApplySettings({9600, 8, parity::None, stopbits::One, false}));
  // Control characters a cooked tty would act on first, then every value.
  std::vector<std::uint8_t> bytes = {0x00, 0xFF, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0x7F, 0x0D, 0x0D, 0x0A, 0x04, 0x1A};
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(i));

  ASSERT_TRUE(port->Write(bytes, 1000ms));
  EXPECT_EQ(pty.ReadMaster(bytes.size()), bytes);

  ASSERT_EQ(pty.WriteMaster(bytes), bytes.size());
  EXPECT_EQ(ReadPort(*port, bytes.size()), bytes);
  // Nothing was echoed back to the device.
  EXPECT_TRUE(pty.DrainMaster().empty());
}

TEST(PosixSerialPort, WaitEndsOnStopAndOnHangup) {
  PtyPair pty;
  auto port = OpenOn(pty);
  EXPECT_EQ(port->TakeLineErrors().value(), 0u);  // a pty counts no errors
  std::uint8_t buf[16];
  const Result<std::size_t> none = port->Read(buf);
  ASSERT_TRUE(none);  // nothing there yet is not a failure
  EXPECT_EQ(*none, 0u);

  Event stop;
  stop.set();
  EXPECT_EQ(port->WaitReadable(stop), WaitResult::Stopped);
  stop.reset();

  pty.CloseMaster();
  {
    test::Watchdog dog(2000ms, [&stop] { stop.set(); });
    EXPECT_EQ(port->WaitReadable(stop), WaitResult::Hangup);
  }
  EXPECT_EQ(port->Read(buf).status(), Status::PortClosed);
  const std::uint8_t one = 0x55;
  const Done write = port->Write({&one, 1}, 100ms);
  EXPECT_EQ(write.status(), Status::PortClosed);
  EXPECT_EQ(write.operation(), Operation::Write);
}

TEST(PosixSerialPort, WriteGivesUpAtTheDeadlineAndDropsWhatIsQueued) {
  PtyPair pty;
  auto port = OpenOn(pty);
  // The device reads nothing, so the pty fills up long before this is out.
  std::vector<std::uint8_t> big(1 << 20);
  std::iota(big.begin(), big.end(), std::uint8_t{0});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->Write(big, 150ms).status(), Status::TimedOut);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 150ms);
  EXPECT_LT(took, 1500ms);

  // What was queued is gone; the next block arrives on its own.
  const std::vector<std::uint8_t> marker = {0xFB, 0x02, 0x01, 0x10};
  ASSERT_TRUE(port->Write(marker, 1000ms));
  std::vector<std::uint8_t> seen;
  for (auto more = pty.ReadMaster(1, 1000ms); !more.empty(); more = pty.ReadMaster(SIZE_MAX, 50ms))
    seen.insert(seen.end(), more.begin(), more.end());
  ASSERT_GE(seen.size(), marker.size());
  EXPECT_LT(seen.size(), big.size() / 2);
  EXPECT_TRUE(std::equal(marker.begin(), marker.end(), seen.end() - marker.size()));
}

// A sysfs tty class directory and /dev as the port list sees them.
class PortListTree {
 public:
  PortListTree() {
    fs::create_directories(cls());
    fs::create_directories(dev());
  }
  fs::path cls() const { return dir_.path() / "class" / "tty"; }
  fs::path dev() const { return dir_.path() / "dev"; }
  fs::path devices() const { return dir_.path() / "devices"; }

  // A tty entry; `device` relative to devices(), empty for none.
  void Tty(const std::string& name, const std::string& device, const std::string& driver = "",
           const std::string& type = "", bool node = true) {
    fs::create_directories(cls() / name);
    if (!device.empty()) {
      fs::create_directories(devices() / device);
      fs::create_directory_symlink(devices() / device, cls() / name / "device");
      if (!driver.empty()) {
        fs::create_directories(dir_.path() / "drivers" / driver);
        fs::create_directory_symlink(dir_.path() / "drivers" / driver, devices() / device / "driver");
      }
    }
    if (!type.empty()) Write(cls() / name / "type", type);
    if (node) Write(dev() / name, "");
  }
  // A directory link at devices()/`at` to `target` (relative to the tree).
  void Link(const std::string& target, const std::string& at) {
    fs::create_directories(dir_.path() / target);
    fs::create_directory_symlink(dir_.path() / target, devices() / at);
  }
  void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  }

 private:
  test::TempDir dir_;
};

TEST(PortList, ListsRealSerialDevicesWithTheirUsbIdentity) {
  PortListTree t;
  // Between a UART and its tty sit the serial core's ctrl and port devices.
  t.Tty("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "port", "4\n");
  t.Link("bus/serial-base", "pnp0/00:00/00:00:0/00:00:0.0/subsystem");
  t.Link("bus/serial-base", "pnp0/00:00/00:00:0/subsystem");
  t.Link("drivers/serial", "pnp0/00:00/driver");
  t.Tty("ttyS1", "platform/serial8250/tty/ttyS1", "serial8250", "0\n");  // no UART there
  t.Tty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
  t.Write(t.devices() / "usb1/1-1/idVendor", "0403\n");
  t.Write(t.devices() / "usb1/1-1/idProduct", "6001\n");
  t.Write(t.devices() / "usb1/1-1/product", "FT232R USB UART\n");
  t.Tty("ttyACM12", "usb1/1-2/1-2:1.0", "cdc_acm");
  t.Write(t.devices() / "usb1/1-2/idVendor", "2A03\n");
  t.Write(t.devices() / "usb1/1-2/idProduct", "0043\n");
  t.Tty("tty0", "");                                      // virtual console
  t.Tty("ttyUSB1", "usb1/1-3/1-3:1.0/ttyUSB1", "ftdi_sio", "", false);  // no /dev node
  t.Tty("rfcomm0", "");

  const auto ports = ListSerialPorts(t.cls().string(), t.dev().string());
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(ports[0].name, "rfcomm0");
  EXPECT_EQ(ports[0].vidPid, "");

  EXPECT_EQ(ports[1].name, "ttyACM12");
  EXPECT_EQ(ports[1].number, 12);
  EXPECT_EQ(ports[1].vidPid, "2a03:0043");
  EXPECT_EQ(ports[1].description, "cdc_acm");  // no product string: the driver

  EXPECT_EQ(ports[2].name, "ttyS0");
  EXPECT_EQ(ports[2].path, (t.dev() / "ttyS0").string());
  EXPECT_EQ(ports[2].description, "serial");
  EXPECT_EQ(ports[2].vidPid, "");

  EXPECT_EQ(ports[3].name, "ttyUSB0");
  EXPECT_EQ(ports[3].number, 0);
  EXPECT_EQ(ports[3].description, "FT232R USB UART");
  EXPECT_EQ(ports[3].vidPid, "0403:6001");
}

// Opening a tty raises DTR and RTS, which resets many boards: marking the
// ports must not open any. inotify reports every open of the device node.
TEST(PortList, MarkingPortsOpensNone) {
  PtyPair pty;
  const std::vector<PortInfo> ports{{pty.SlavePath(), "pts", 0, "", ""}};
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  auto opens = [&] {
    char buf[4096];
    long total = 0;
    for (long n; (n = ::read(watch, buf, sizeof buf)) > 0;) total += n;
    return total;
  };

  // Free, then held by another program through a lock or by TIOCEXCL alone.
  const int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_GE(::inotify_add_watch(watch, pty.SlavePath().c_str(), IN_OPEN), 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(BuildPortList(ports, ProbePort, false).at(0).text, "pts-N/A");
  ASSERT_EQ(::flock(other, LOCK_UN), 0);
  ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
  EXPECT_EQ(BuildPortList(ports, ProbePort, false).at(0).text, "pts-N/A");
  ::close(other);
  EXPECT_EQ(BuildPortList(ports, ProbePort, false).at(0).text, "pts-OK");
  EXPECT_EQ(opens(), 0);

  // The watch does see an open.
  ::close(::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  EXPECT_GT(opens(), 0);
  ::close(watch);
}

// What a radio sent before the port was opened is no one's answer: the
// first byte read is one that came after.
TEST(PosixSerialPort, WhatArrivedBeforeTheOpenIsDropped) {
  PtyPair pty;
  const std::vector<std::uint8_t> stale{0xFB, 0x03, 0x00, 0xA0, 0x01, 0x02};
  ASSERT_EQ(pty.WriteMaster(stale), stale.size());
  auto port = OpenOn(pty);
  ASSERT_TRUE(port->ApplySettings({9600, 8, parity::None, stopbits::One, false}));
  const std::vector<std::uint8_t> fresh{'n', 'e', 'w'};
  ASSERT_EQ(pty.WriteMaster(fresh), fresh.size());
  EXPECT_EQ(ReadPort(*port, fresh.size()), fresh);
}

// The port a script means when it names none: its standing choice, else
// the one USB adapter; with none or several, nothing decides.
TEST(PortList, TheImpliedPortIsTheUsersChoiceOrTheOnlyAdapter) {
  const PortInfo builtIn{"/dev/ttyS0", "ttyS0", 0, "", ""};
  const PortInfo usb0{"/dev/ttyUSB0", "ttyUSB0", 0, "FT232R", "0403:6001"};
  const PortInfo acm{"/dev/ttyACM0", "ttyACM0", 0, "CDC", "2341:0043"};
  EXPECT_EQ(ImplyPort("", {builtIn, usb0}).path, "/dev/ttyUSB0");
  EXPECT_EQ(ImplyPort("/dev/pts/4", {builtIn, usb0}).path, "/dev/pts/4");
  EXPECT_EQ(ImplyPort("sim", {}).path, "sim");
  EXPECT_EQ(ImplyPort("", {builtIn}).path, "") << "a port built into the machine is rarely the radio";
  const ImpliedPort two = ImplyPort("", {usb0, builtIn, acm});
  EXPECT_EQ(two.path, "");
  EXPECT_EQ(two.adapters, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB0"}));
}

TEST(PortList, MissingSysfsGivesAnEmptyList) {
  test::TempDir dir;
  EXPECT_TRUE(ListSerialPorts((dir.path() / "nothing").string(), "/dev").empty());
  for (const auto& p : ListSerialPorts()) EXPECT_TRUE(fs::exists(p.path)) << p.path;
}

// A program killed while it holds a pseudo-terminal (qmxsim's, say) must not
// leave it busy: the terminal outlives the holder, so nothing of ours may
// stay on it but the lock, which goes with the holder.
TEST(PosixSerialPort, AHolderThatIsKilledLeavesAPseudoTerminalFree) {
  PtyPair pty;
  int held[2];
  ASSERT_EQ(::pipe(held), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto port = MakePosixSerialPort();
    const char opened = port->Open(pty.SlavePath()) ? 1 : 0;
    (void)!::write(held[1], &opened, 1);
    ::pause();
    ::_exit(0);
  }
  char opened = 0;
  ASSERT_EQ(::read(held[0], &opened, 1), 1);  // the child holds it now
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(held[0]);
  ::close(held[1]);
  ASSERT_EQ(opened, 1);
  auto port = MakePosixSerialPort();
  const Done reopened = port->Open(pty.SlavePath());
  EXPECT_TRUE(reopened) << reopened.reason();
}

}  // namespace
}  // namespace qmx
