// The in-process serial port in front of the simulated module.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "link/event.h"
#include "sim/sim_serial_port.h"
#include "tests/sim/sim_harness.h"

namespace qmx::sim::test {
namespace {

struct PortFixture : ::testing::Test {
  qmx::test::FakeClock clock;  // the module's delays pass only when it moves
  std::shared_ptr<SimModule> module = std::make_shared<SimModule>(OnClock(SlowBoot(), clock));
  std::unique_ptr<SerialPort> port = MakeSimSerialPort(module);
  Event stop;

  void OpenAt9600() {
    const Done opened = port->Open(kSimPortName);
    ASSERT_TRUE(opened) << opened.reason();
    ASSERT_TRUE(port->ApplySettings(Line9600()));
  }
  void Send(std::uint8_t type, const PacketRecord& rec = {}, std::uint8_t seq = 1) {
    auto f = BuildCommandFrame(type, rec, seq);
    ASSERT_TRUE(port->Write({f->data(), f->size}, std::chrono::milliseconds(100)));
  }
  // Waits for and reads up to `count` frames, for two seconds at most.
  std::vector<Frame> ReadFrames(std::size_t count) {
    std::vector<Frame> frames;
    FrameAssembler assembler;
    Event deadline, finished;
    std::thread watchdog([&] {
      if (!finished.wait(2000ms)) deadline.set();
    });
    while (frames.size() < count) {
      if (port->WaitReadable(deadline) != WaitResult::Readable) break;
      std::uint8_t buf[256];
      const Result<std::size_t> n = port->Read(buf);
      if (!n || *n == 0) break;
      assembler.Feed(std::span(buf, *n), [&](const Frame& f) { frames.push_back(f); });
    }
    finished.set();
    watchdog.join();
    return frames;
  }
  // Stops a wait that would otherwise never end. Real time on purpose: the
  // wait must be blocked before the stop comes, and nothing shows it is.
  std::thread StopLater(std::chrono::milliseconds after) {
    return std::thread([this, after] {
      std::this_thread::sleep_for(after);
      stop.set();
    });
  }
};

TEST_F(PortFixture, OpensExclusivelyByName) {
  const Done other = port->Open("/dev/ttyS0");
  EXPECT_EQ(other.status(), Status::CannotOpen);
  EXPECT_EQ(other.operation(), Operation::OpenPort);
  EXPECT_FALSE(other.reason().empty());
  ASSERT_TRUE(port->Open(kSimPortName));
  EXPECT_TRUE(port->IsOpen());

  auto second = MakeSimSerialPort(module);
  EXPECT_EQ(second->Open(kSimPortName).reason(), "Device or resource busy");
  EXPECT_FALSE(port->Open(kSimPortName));

  port->Close();
  EXPECT_FALSE(port->IsOpen());
  EXPECT_TRUE(second->Open(kSimPortName));
}

TEST_F(PortFixture, DeliversRepliesAndWakesTheReader) {
  OpenAt9600();
  Send(ptype::EnterProtocolMode, {}, 7);
  auto frames = ReadFrames(1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type(), ptype::EnterProtocolModeReply);
  EXPECT_EQ(frames[0].sequence(), 7);
  std::uint8_t buf[8];
  EXPECT_EQ(port->Read(buf).value(), 0u);

  // A reader already waiting is woken by a reply that comes later.
  module->SetFault(Fault::LateReply, 1, 50);
  auto reader = std::async(std::launch::async, [this] { return ReadFrames(1); });
  std::this_thread::sleep_for(10ms);  // real time: the reader is to be blocked before the reply comes
  Send(ptype::GetRegister, Reg(3, 0, 2), 8);
  clock.Advance(50ms);
  auto late = reader.get();
  ASSERT_EQ(late.size(), 1u);
  EXPECT_EQ(late[0].sequence(), 8);
  EXPECT_EQ(Payload(late[0]), (std::vector<std::uint8_t>{0, 3, 2, 6, 0}));
}

TEST_F(PortFixture, StopEndsAWaitAndWinsOverData) {
  OpenAt9600();
  auto stopper = StopLater(30ms);
  EXPECT_EQ(port->WaitReadable(stop), WaitResult::Stopped);
  stopper.join();

  Send(ptype::EnterProtocolMode);
  EXPECT_EQ(port->WaitReadable(stop), WaitResult::Stopped);
  stop.reset();
  EXPECT_EQ(port->WaitReadable(stop), WaitResult::Readable);
}

TEST_F(PortFixture, MismatchedLineGivesSilenceAndAFramingError) {
  OpenAt9600();
  LineSettings wrong = Line9600();
  wrong.baudRate = 38400;
  ASSERT_TRUE(port->ApplySettings(wrong));
  Send(ptype::EnterProtocolMode);
  EXPECT_FALSE(module->InProtocolMode());

  module->SendAnnounce(0xA0);
  EXPECT_EQ(port->TakeLineErrors().value(), lineerror::Framing);
  EXPECT_EQ(port->TakeLineErrors().value(), 0u);

  auto stopper = StopLater(30ms);
  EXPECT_EQ(port->WaitReadable(stop), WaitResult::Stopped);
  stopper.join();
}

TEST_F(PortFixture, SerialChangeIsFollowedByTheHost) {
  OpenAt9600();
  Send(ptype::EnterProtocolMode, {}, 1);
  ASSERT_EQ(ReadFrames(1).size(), 1u);
  Send(ptype::SetRegister, Reg(3, 0, 1, {11}), 2);
  auto set = ReadFrames(1);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].type(), ptype::SetRegisterReply);

  LineSettings fast = Line9600();
  fast.baudRate = 115200;
  ASSERT_TRUE(port->ApplySettings(fast));
  Send(ptype::GetRegister, Reg(3, 0, 1), 3);
  auto back = ReadFrames(1);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(Payload(back[0]), (std::vector<std::uint8_t>{0, 3, 1, 11}));
}

TEST_F(PortFixture, UnplugHangsUpAfterTheBufferedBytes) {
  OpenAt9600();
  Send(ptype::EnterProtocolMode);
  module->Unplug();
  EXPECT_EQ(port->WaitReadable(stop), WaitResult::Readable);
  std::uint8_t buf[64];
  EXPECT_EQ(port->Read(buf).value(), 4u);
  EXPECT_EQ(port->WaitReadable(stop), WaitResult::Hangup);
  // Each failure says what failed and why.
  const Result<std::size_t> lost = port->Read(buf);
  EXPECT_EQ(lost.status(), Status::PortClosed);
  EXPECT_EQ(lost.operation(), Operation::PortLost);
  EXPECT_EQ(lost.reason(), "the simulated module is unplugged");
  const Done write = port->Write(std::vector<std::uint8_t>{1}, 100ms);
  EXPECT_EQ(write.status(), Status::PortClosed);
  EXPECT_EQ(write.operation(), Operation::Write);
  EXPECT_FALSE(port->TakeLineErrors());
  EXPECT_EQ(port->GetSettings().status(), Status::LineNotRead);
  EXPECT_EQ(port->ApplySettings(Line9600()).status(), Status::LineNotApplied);

  port->Close();
  EXPECT_EQ(port->Read(buf).reason(), "the port is closed");
  EXPECT_EQ(port->Open(kSimPortName).reason(), "No such device");

  module->Plug();
  OpenAt9600();
  clock.Advance(1s);
  auto boot = ReadFrames(2);
  ASSERT_EQ(boot.size(), 2u);
  EXPECT_TRUE(IsAnnounce(boot[0], 0xA0));
}

TEST_F(PortFixture, UnplugWakesAWaitingReader) {
  OpenAt9600();
  auto waiter = std::async(std::launch::async, [this] { return port->WaitReadable(stop); });
  std::this_thread::sleep_for(20ms);  // real time: the reader is to be blocked before the unplug
  module->SetFault(Fault::Unplug);
  Send(ptype::EnterProtocolMode);
  EXPECT_EQ(waiter.get(), WaitResult::Hangup);
}

TEST_F(PortFixture, CloseWakesAWaitingReader) {
  OpenAt9600();
  auto waiter = std::async(std::launch::async, [this] { return port->WaitReadable(stop); });
  std::this_thread::sleep_for(20ms);  // real time: the reader is to be blocked before the close
  port->Close();
  EXPECT_EQ(waiter.get(), WaitResult::Error);
}

TEST_F(PortFixture, OutputBeyondTheBufferIsDroppedAndReported) {
  OpenAt9600();
  const std::vector<std::uint8_t> chunk(1000, 'x');
  for (int i = 0; i < 70; ++i) module->SendRxData(0x0001, chunk);  // transparent: raw bytes
  EXPECT_EQ(port->TakeLineErrors().value(), lineerror::InputOverflow);
  std::vector<std::uint8_t> all(80000);
  EXPECT_EQ(port->Read(all).value(), 64u * 1024);
}

TEST_F(PortFixture, FactoryMakesTheSimPortForItsName) {
  bool askedOther = false;
  auto factory = MakeSimPortFactory(module, [&](const std::string&) {
    askedOther = true;
    return std::unique_ptr<SerialPort>();
  });
  auto sim = factory(kSimPortName);
  ASSERT_TRUE(sim);
  EXPECT_TRUE(sim->Open(kSimPortName));
  EXPECT_FALSE(askedOther);
  EXPECT_FALSE(factory("/dev/ttyUSB0"));
  EXPECT_TRUE(askedOther);
}

}  // namespace
}  // namespace qmx::sim::test
