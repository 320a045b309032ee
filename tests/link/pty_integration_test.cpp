// The whole link through a real pseudo-terminal to the simulated module
// served by qmxsim: the POSIX port, the reading and parser threads, the
// command layer, and a device that vanishes while a command waits.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "config/register_map.h"
#include "link/radio_link.h"
#include "link/workdir.h"
#include "tests/fixtures/fake_prompter.h"
#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/sim_link.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx::test {
namespace {

using namespace std::chrono_literals;

class PtyIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (sim.Path().empty()) GTEST_SKIP() << "qmxsim did not start: " << QmxsimBinary();
    link = std::make_unique<RadioLink>([](const std::string&) { return MakePosixSerialPort(); }, dir, prompter,
                                       waiter, sink);
    link->SetPortLostListener([this] { ++lost; });
    link->parser.Start();
    ASSERT_TRUE(link->transport.OpenCommPort(FactoryLine(), sim.Path(), true));
  }

  QmxsimProcess sim;
  TempDir temp;
  WorkDir dir{temp.path()};
  FakePrompter prompter;
  CondVarWaiter waiter;
  RecordingSink sink;
  std::unique_ptr<RadioLink> link;
  std::atomic<int> lost{0};
};

TEST_F(PtyIntegration, ReadsEveryBankOfTheLocalAndARemoteRadio) {
  ASSERT_TRUE(link->commands.EnterProtocolMode());
  RadioImage image;
  EXPECT_EQ(ReadBanks(link->commands, image, kAllBanks, 0, 0), kAllBanks);
  EXPECT_EQ(image.Value(0, 2, 15, 1), 0x21u);  // firmware 2.1
  EXPECT_EQ(ReadBanks(link->commands, image, kAllBanks, 2, 1), kAllBanks);
  EXPECT_EQ(image.Value(1, 2, 8, 2), 2u);  // the remote's own network address
  EXPECT_TRUE(prompter.All().empty());
}

TEST_F(PtyIntegration, ARadioAtAnotherBaudRateIsSilent) {
  LineSettings other = FactoryLine();
  other.baudRate = 19200;
  ASSERT_TRUE(link->transport.OpenCommPort(other, "", false));
  EXPECT_FALSE(link->commands.EnterProtocolMode({150, 1}));
  ASSERT_TRUE(link->transport.OpenCommPort(FactoryLine(), "", false));
  EXPECT_TRUE(link->commands.EnterProtocolMode());
}

TEST_F(PtyIntegration, UnplugWhileACommandWaitsFailsItAtOnceAndIsReportedOnce) {
  ASSERT_TRUE(link->commands.EnterProtocolMode());
  // At another baud rate the module ignores the command, so it waits.
  LineSettings other = FactoryLine();
  other.baudRate = 19200;
  ASSERT_TRUE(link->transport.OpenCommPort(other, "", false));
  std::thread unplug([this] {
    std::this_thread::sleep_for(200ms);
    sim.Kill();
  });
  const auto start = std::chrono::steady_clock::now();
  PacketRecord rec;
  rec.Bank = 0;
  rec.Span = 44;
  EXPECT_FALSE(link->commands.GetRegister(rec, {10000, 3}));
  const auto took = std::chrono::steady_clock::now() - start;
  unplug.join();
  EXPECT_LT(took, 2s);
  EXPECT_FALSE(link->transport.IsOpen());
  EXPECT_EQ(lost.load(), 1);
  EXPECT_FALSE(link->commands.EnterProtocolMode());
  EXPECT_EQ(lost.load(), 1);
}

}  // namespace
}  // namespace qmx::test
