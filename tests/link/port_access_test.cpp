#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/device_watch.h"
#include "link/port_access.h"
#include "tests/fixtures/pty_pair.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx {
namespace {

constexpr unsigned kDialout = 20;

UserGroupInfo User(std::vector<unsigned> session, bool listed) {
  return {std::move(session), [](unsigned gid) { return gid == kDialout ? std::string("dialout") : std::string(); },
          [listed](unsigned) { return listed; }};
}

TEST(PermissionHint, NamesTheGroupAndTheFixOnlyWhenAMembershipWouldHelp) {
  const DeviceAccess denied{"/dev/ttyUSB0", false, kDialout, 0660};
  const DeviceAccess usable{"/dev/ttyS0", true, kDialout, 0660};
  const DeviceAccess rootOnly{"/dev/ttyS1", false, 0, 0600};
  const DeviceAccess groupReadsOnly{"/dev/ttyUSB1", false, kDialout, 0640};

  EXPECT_EQ(PermissionHint({denied}, User({1000}, false)),
            "You may not open the serial ports (/dev/ttyUSB0 belongs to the group dialout). "
            "Run  sudo usermod -aG dialout $USER  then log out and in again.");
  // Added to the group, but this login predates it.
  EXPECT_NE(PermissionHint({denied}, User({1000}, true)).find("log out and in again"), std::string::npos);
  EXPECT_EQ(PermissionHint({denied}, User({1000}, true)).find("usermod"), std::string::npos);

  EXPECT_EQ(PermissionHint({}, User({1000}, false)), "");
  EXPECT_EQ(PermissionHint({denied, usable}, User({1000}, false)), "") << "one usable port: nothing to fix";
  EXPECT_EQ(PermissionHint({denied}, User({1000, kDialout}, false)), "") << "already in the group";
  EXPECT_EQ(PermissionHint({rootOnly}, User({1000}, false)), "") << "no group may use it";
  EXPECT_EQ(PermissionHint({groupReadsOnly}, User({1000}, false)), "") << "the group may read, not write";
}

}  // namespace
}  // namespace qmx

namespace qmx {
namespace {

TEST(IdentifyDevice, FindsTheStableNameOfADeviceOrIsItsOwn) {
  test::TempDir dir;
  const auto byId = dir.path() / "by-id";
  std::filesystem::create_directory(byId);
  std::filesystem::create_symlink("/dev/null", byId / "usb-Maker_Adapter_A1-if00-port0");

  const DeviceIdentity plain = IdentifyDevice("/dev/null", byId.string());
  EXPECT_EQ(plain.stableName, (byId / "usb-Maker_Adapter_A1-if00-port0").string());
  EXPECT_EQ(plain.WatchName(), plain.stableName) << "a replugged adapter may come back as another ttyUSBn";

  const std::string named = (byId / "usb-Maker_Adapter_A1-if00-port0").string();
  EXPECT_EQ(IdentifyDevice(named, byId.string()).stableName, named);
  EXPECT_EQ(IdentifyDevice("/dev/zero", byId.string()).WatchName(), "/dev/zero");
}

// Root may open any device, so the judgement is made by an unprivileged
// user, in a child process that gives up root for good.
TEST(CheckDevice, ADeviceOnlyRootMayReadIsNotUsable) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  test::PtyPair pty;
  ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0400), 0);
  ASSERT_EQ(CheckDevice(pty.SlavePath()), DeviceState::Usable) << "root itself may";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    constexpr unsigned kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
    const bool right = CheckDevice(pty.SlavePath()) == DeviceState::NoAccess && !DeviceUsable(pty.SlavePath());
    ::_exit(right ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: judged usable; 2: could not drop root";
}

// A device behind a link that udev replaces in one step, as a replugged
// adapter's by-id name is: the watch sees another node come back however
// fast, never the lost node itself, and says when a node is there that this
// user may not use.
class DeviceWatcherTest : public ::testing::Test {
 protected:
  void PointLinkTo(const char* device) {
    std::filesystem::create_symlink(device, dir.path() / "link.new");
    std::filesystem::rename(dir.path() / "link.new", link);
  }
  // Waits (a generous bound; it should come at once) for the next callback.
  bool Fired(std::future<void>& f) { return f.wait_for(std::chrono::seconds(5)) == std::future_status::ready; }

  test::TempDir dir;
  std::filesystem::path link = dir.path() / "usb-radio-if00-port0";
  std::promise<void> returned;
  std::future<void> back = returned.get_future();
  DeviceWatcher watcher;  // stopped first
};

TEST_F(DeviceWatcherTest, ADeviceBackBeforeTheFirstLookIsSeen) {
  PointLinkTo("/dev/null");
  const auto lost = NodeOf(link.string());
  ASSERT_TRUE(lost);
  PointLinkTo("/dev/zero");  // back already when the watch starts
  ASSERT_TRUE(watcher.Start(link.string(), lost, {[this] { returned.set_value(); }, {}}));
  EXPECT_TRUE(Fired(back));
}

TEST_F(DeviceWatcherTest, TheLostNodeItselfIsNotTheDeviceBack) {
  PointLinkTo("/dev/null");
  ASSERT_TRUE(watcher.Start(link.string(), NodeOf(link.string()), {[this] { returned.set_value(); }, {}}));
  EXPECT_EQ(back.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  PointLinkTo("/dev/zero");
  EXPECT_TRUE(Fired(back));
}

TEST_F(DeviceWatcherTest, ADeviceBackWithoutAccessIsReportedAndWaitedFor) {
  std::atomic<DeviceState> state{DeviceState::NoAccess};
  std::atomic<int> noAccess{0};
  std::promise<void> told;
  watcher.SetProbe([&state](const std::string&) { return state.load(); });
  ASSERT_TRUE(watcher.Start(link.string(), std::nullopt,
                            {[this] { returned.set_value(); }, [&] {
                               if (noAccess++ == 0) told.set_value();
                             }}));
  auto toldFuture = told.get_future();
  ASSERT_TRUE(Fired(toldFuture));
  std::ofstream(dir.path() / "other");  // a change that is not the grant
  state = DeviceState::Usable;
  std::ofstream(dir.path() / "granted");
  EXPECT_TRUE(Fired(back));
  watcher.Stop();  // before the locals its callbacks use
  EXPECT_EQ(noAccess.load(), 1);
}

}  // namespace
}  // namespace qmx
