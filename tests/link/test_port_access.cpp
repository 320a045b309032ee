#include <gtest/gtest.h>

#include <filesystem>

#include "link/device_watch.h"
#include "link/port_access.h"
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

}  // namespace
}  // namespace qmx
