#include "tools/firmware_upgrade.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <random>

#include "tests/fixtures/temp_dir.h"
#include "tests/tools/sim_boot_channel.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::BootFault;

Bytes Image(std::size_t n, unsigned seed = 7) {
  std::mt19937 gen(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(gen());
  return out;
}

// What the boot code keeps of a file and sends back: everything after the
// header, the last block padded with 0x1A and zeros.
Bytes Stored(const Bytes& file) {
  Bytes out(file.begin() + kFirmwareHeader, file.end());
  if (out.size() % 128 != 0 || out.empty()) {
    out.push_back(0x1A);
    out.resize((out.size() + 127) / 128 * 128, 0);
  } else {
    out.push_back(0x1A);  // a whole last block is followed by one of padding
    out.resize(out.size() + 127, 0);
  }
  return out;
}

Bytes ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A module on a fake clock, started again and held in its boot code.
struct BootFixture {
  explicit BootFixture(bool crc = false) {
    sim::SimOptions o;
    o.time = &clock;
    module = std::make_shared<sim::SimModule>(o);
    module->WithBootloader([crc](sim::SimBootloader& b) { b.Options().crc = crc; });
    channel = std::make_unique<test::SimBootChannel>(module, clock);
    module->PowerCycle();
    upgrade = std::make_unique<FirmwareUpgrade>(*channel, clock);
  }
  void Fault(BootFault f, int block = 1, int count = 1) {
    module->WithBootloader([&](sim::SimBootloader& b) { b.SetFault(f, block, count); });
  }
  Bytes ModuleImage() {
    Bytes image;
    module->WithBootloader([&](sim::SimBootloader& b) { image = b.Image(); });
    return image;
  }

  test::FakeClock clock;
  std::shared_ptr<sim::SimModule> module;
  std::unique_ptr<test::SimBootChannel> channel;
  std::unique_ptr<FirmwareUpgrade> upgrade;
  test::TempDir temp;
};

TEST(FirmwareUpgrade, ProgramThenVerifyAndSaveGiveTheProgrammedImage) {
  for (bool crc : {false, true}) {
    for (std::size_t size : {std::size_t{1000}, std::size_t{128 * 9}}) {
      SCOPED_TRACE(testing::Message() << "crc " << crc << " size " << size);
      BootFixture f(crc);
      const Bytes file = Image(size);
      const UpgradeOutcome programmed = f.upgrade->Program(file);
      EXPECT_TRUE(programmed.ok()) << programmed.caption;
      EXPECT_EQ(programmed.status, "Programming Successful");
      // Programming ends with "E" CR LF: the application runs again.
      EXPECT_FALSE(f.module->InBootCode());
      EXPECT_EQ(f.ModuleImage(), Stored(file));

      // Back into the boot code for the read-back.
      f.module->PowerCycle();
      ASSERT_TRUE(f.upgrade->FindBootPrompt());
      EXPECT_EQ(f.upgrade->Verify(file).status, "Verification Successful");
      Bytes other = file;
      other.back() ^= 1;
      EXPECT_EQ(f.upgrade->Verify(other).status, "Verification Failed");
      const auto target = f.temp.path() / "saved.bin";
      EXPECT_EQ(f.upgrade->Save(target).status, "Save Image Successful");
      EXPECT_EQ(ReadAll(target), Stored(file));
      EXPECT_EQ(f.upgrade->Verify(ReadAll(target), true).status, "Verification Successful");
      EXPECT_FALSE(std::filesystem::exists(f.temp.path() / "saved.bin.part"));
    }
  }
}

// A boot code that programs quickly answers "OK" CR LF while the input is
// still being drained after the final EOT: that answer counts, and ends the
// drain and the programming as it comes.
TEST(FirmwareUpgrade, AnOkArrivingDuringTheDrainAfterEotCounts) {
  for (int ms : {0, 1000}) {
    SCOPED_TRACE(ms);
    BootFixture f;
    f.module->WithBootloader([ms](sim::SimBootloader& b) { b.Options().programTime = std::chrono::milliseconds(ms); });
    const Bytes file = Image(700);
    // When the last block began (the gauge's last value short of the end).
    Clock::time_point lastBlock{};
    FirmwareUpgrade::Hooks hooks;
    hooks.gauge = [&](std::size_t v) {
      if (v < file.size()) lastBlock = f.clock.Now();
    };
    const UpgradeOutcome out = FirmwareUpgrade(*f.channel, f.clock, hooks).Program(file);
    EXPECT_EQ(f.clock.Now() - lastBlock, std::chrono::milliseconds(ms));
    EXPECT_TRUE(out.ok()) << out.message;
    EXPECT_EQ(out.caption, "Success");
    EXPECT_EQ(out.status, "Programming Successful");
    EXPECT_FALSE(f.module->InBootCode());  // "E" CR LF followed
    EXPECT_EQ(f.ModuleImage(), Stored(file));
  }
}

// Ending on the answer (qmxctl): done as soon as "OK" CR LF comes, not after
// the window's fixed seven seconds; a boot code that never answers fails
// within eight seconds of the transfer.
TEST(FirmwareUpgrade, EndingOnTheAnswerWaitsOnlyForIt) {
  for (int ms : {3000, 20000}) {
    SCOPED_TRACE(ms);
    BootFixture f;
    f.module->WithBootloader([ms](sim::SimBootloader& b) { b.Options().programTime = std::chrono::milliseconds(ms); });
    Clock::time_point transferred{};
    FirmwareUpgrade::Hooks hooks;
    hooks.gauge = [&](std::size_t) { transferred = f.clock.Now(); };
    FirmwareUpgrade upgrade(*f.channel, f.clock, hooks);
    upgrade.SetEndOnAnswer(true);
    const UpgradeOutcome out = upgrade.Program(Image(700));
    const auto after = f.clock.Now() - transferred;
    EXPECT_EQ(out.ok(), ms < 8000) << out.message;
    EXPECT_LE(after, std::chrono::milliseconds(ms < 8000 ? ms + 500 : 8500));
  }
}

// The boot code's faults against the program's sequences: each either heals
// through XMODEM's retries or ends in the operation's failure.
TEST(FirmwareUpgrade, BootCodeFaults) {
  struct Case {
    const char* name;
    BootFault fault;
    int block;
    bool program;  // Program, or Verify a programmed file
    const char* status;
    const char* caption;
  };
  const Case cases[] = {
      {"NAK of block 3 is sent again", BootFault::NakBlock, 3, true, "Programming Successful", "Success"},
      {"a lost ACK: the repeat is acknowledged", BootFault::DropAck, 2, true, "Programming Successful", "Success"},
      {"CAN CAN while receiving", BootFault::CancelAt, 2, true, "Programming Failed", "File transfer unsuccessful"},
      {"a silent boot code", BootFault::Silence, 1, true, "Programming Failed", "Could enter boot code"},
      {"a corrupt block is asked for again", BootFault::CorruptChecksum, 2, false, "Verification Successful", ""},
      {"CAN CAN while sending", BootFault::CancelAt, 1, false, "Verification Failed", ""},
      {"no upload after UL:", BootFault::NoUpload, 1, false, "Verification Failed", ""},
  };
  const Bytes file = Image(700);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BootFixture f;
    if (!c.program) {
      f.module->WithBootloader([&](sim::SimBootloader& b) { b.SetImage(Stored(file)); });
      ASSERT_TRUE(f.upgrade->FindBootPrompt());
    }
    f.Fault(c.fault, c.block);
    const UpgradeOutcome out = c.program ? f.upgrade->Program(file) : f.upgrade->Verify(file);
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.caption, c.caption);
    if (c.program && out.ok()) {
      EXPECT_EQ(f.ModuleImage(), Stored(file));
    }
  }
}

// A file too large, or with nothing past its header, is refused with its
// size named and without a byte sent.
TEST(FirmwareUpgrade, FilesThatCannotBeProgrammedAreRefusedBeforeAnythingIsSent) {
  const struct {
    std::size_t size;
    const char* message;
  } cases[] = {
      {kFirmwareLimit, "File size is to large.  Please check file and try again."},
      {0, "File holds no firmware: 0 bytes, no more than its 128-byte header.  Please check file and try again."},
      {kFirmwareHeader,
       "File holds no firmware: 128 bytes, no more than its 128-byte header.  Please check file and try again."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    BootFixture f;
    const UpgradeOutcome out = f.upgrade->Program(Bytes(c.size));
    EXPECT_FALSE(out.ok());
    EXPECT_EQ(out.caption, "File size " + std::to_string(c.size));
    EXPECT_EQ(out.message, c.message);
    EXPECT_EQ(out.status, "Programming Failed");
    EXPECT_TRUE(f.module->Booting());
    f.clock.Advance(std::chrono::seconds(1));
    f.module->WaitUntilIdle();
    EXPECT_FALSE(f.module->InBootCode());  // no 0x03 came in the boot window
  }
}

TEST(FirmwareUpgrade, FailedSaveLeavesAnExistingFileIntact) {
  BootFixture f;
  ASSERT_TRUE(f.upgrade->FindBootPrompt());
  const auto target = f.temp.path() / "keep.bin";
  const Bytes before = Image(300, 3);
  std::ofstream(target, std::ios::binary).write(reinterpret_cast<const char*>(before.data()), 300);

  f.Fault(BootFault::Silence);
  const UpgradeOutcome silent = f.upgrade->Save(target);
  EXPECT_EQ(silent.caption, "No Save Image Reply");
  EXPECT_EQ(silent.status, "Save Image Failed");
  EXPECT_EQ(ReadAll(target), before);
  EXPECT_EQ(std::filesystem::directory_iterator(f.temp.path())->path(), target);  // no temporary left

  const UpgradeOutcome nowhere = f.upgrade->Save(f.temp.path() / "missing" / "x.bin");
  EXPECT_EQ(nowhere.caption, "Invalid Filename");
}

// Counts the bytes written through it; those past `limit` are lost, as on
// a link that was cut, and with `reportLoss` a write that lost bytes fails.
struct CountingChannel final : ByteChannel {
  explicit CountingChannel(ByteChannel& to, std::size_t limit = SIZE_MAX, bool reportLoss = false)
      : to(to), limit(limit), reportLoss(reportLoss) {}
  Done Write(std::span<const std::uint8_t> bytes) override {
    const std::size_t room = limit > written ? limit - written : 0;
    written += bytes.size();
    const Done done = to.Write(bytes.first(std::min(room, bytes.size())));
    if (reportLoss && room < bytes.size()) return Done::Fail(Status::WriteFailed);
    return done;
  }
  int ReadByte(Clock::time_point deadline) override { return to.ReadByte(deadline); }
  void DropInput() override { to.DropInput(); }
  ByteChannel& to;
  std::size_t limit;
  bool reportLoss;
  std::size_t written = 0;
};

// "D" or "U" CR LF that could not be written is the write's failure, not a
// boot code that did not answer.
TEST(FirmwareUpgrade, ARequestThatCouldNotBeWrittenIsAWriteFailure) {
  for (bool program : {true, false}) {
    SCOPED_TRACE(program ? "D" : "U");
    BootFixture f;
    CountingChannel cut(*f.channel, 1, true);  // 0x03 only
    FirmwareUpgrade upgrade(cut, f.clock);
    if (!program) {
      ASSERT_TRUE(upgrade.FindBootPrompt());
    }
    const UpgradeOutcome out = program ? upgrade.Program(Image(700)) : upgrade.Verify(Image(700));
    EXPECT_EQ(out.result.status(), Status::WriteFailed);
  }
}

// A program cut short half-way through a block, or the simulated module's
// NoFirmware fault, leaves no working firmware: the module stays in its boot
// code through "E" CR and a power cycle and answers the short search; a
// complete program brings its firmware back.
TEST(FirmwareUpgrade, WithoutWorkingFirmwareTheModuleStaysInItsBootCodeUntilProgrammed) {
  const Bytes file = Image(3000);
  for (bool cut : {true, false}) {
    SCOPED_TRACE(cut ? "program cut short" : "NoFirmware fault");
    BootFixture f;
    if (cut) {
      CountingChannel link(*f.channel, 1 + 5 + 5 * 132 + 60);  // 0x03, "D" CR LF, five blocks and a half
      FirmwareUpgrade upgrade(link, f.clock);
      EXPECT_EQ(upgrade.Program(file).caption, "File transfer unsuccessful");
    } else {
      f.module->SetFault(sim::Fault::NoFirmware);
    }
    for (int round = 0; round < 2; ++round) {
      f.upgrade->Leave();
      f.clock.Advance(std::chrono::seconds(30));
      f.module->WaitUntilIdle();
      EXPECT_TRUE(f.module->InBootCode());
      f.module->PowerCycle();
    }
    EXPECT_TRUE(f.upgrade->FindBootPrompt(kBootProbeAttempts));
    EXPECT_EQ(f.upgrade->Program(file).status, "Programming Successful");
    EXPECT_FALSE(f.module->InBootCode());
    EXPECT_FALSE(f.module->Booting());
  }
}

// A folder, a path in a missing folder or in one that cannot be written:
// refused before "U" CR LF, with nothing left behind.
TEST(FirmwareUpgrade, SaveRefusesATargetThatCannotBeWrittenBeforeAnythingIsSent) {
  BootFixture f;
  ASSERT_TRUE(f.upgrade->FindBootPrompt());
  CountingChannel counting(*f.channel);
  FirmwareUpgrade upgrade(counting, f.clock);
  const auto locked = f.temp.path() / "locked";
  std::filesystem::create_directory(locked);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  std::vector<std::pair<std::filesystem::path, std::string>> cases = {
      {f.temp.path(), f.temp.path().string() + " is a folder"},
      {f.temp.path() / "missing" / "x.bin", "no folder " + (f.temp.path() / "missing").string()},
  };
  if (::geteuid() != 0) cases.emplace_back(locked / "x.bin", "Permission denied");  // root writes anyway
  for (const auto& [target, why] : cases) {
    SCOPED_TRACE(target);
    const UpgradeOutcome out = upgrade.Save(target);
    EXPECT_FALSE(out.ok());
    EXPECT_NE(out.message.find(why), std::string::npos) << out.message;
    EXPECT_EQ(out.caption, "Invalid Filename");
    EXPECT_EQ(out.status, "Save Image Failed");
    EXPECT_FALSE(CheckSaveTarget(target).ok());
  }
  EXPECT_EQ(counting.written, 0u);
  EXPECT_TRUE(std::filesystem::is_empty(locked));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.temp.path()), {}), 1);  // only "locked"
  EXPECT_TRUE(CheckSaveTarget(f.temp.path() / "new.bin").ok());
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
}

}  // namespace
}  // namespace qmx
