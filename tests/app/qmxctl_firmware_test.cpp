// qmxctl firmware on the built-in simulated module, as a user runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>


#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/frame.h"
#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx::test {
namespace {

using Bytes = std::vector<char>;

class QmxctlFirmwareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(binary_)) GTEST_SKIP() << "no qmxctl";
  }
  // Exit status of `qmxctl firmware ARGS` run in the scratch folder;
  // standard output and error are kept in out and err.
  int Firmware(const std::string& args) { return Qmxctl("firmware " + args); }
  int Qmxctl(const std::string& args) {
    // The built-in module unless the case names another port (the later
    // --port wins).
    const std::string command = "cd '" + dir_.path().string() + "' && '" + binary_ + "' --port sim " + args +
                                " >out 2>err </dev/null";
    const int status = std::system(command.c_str());
    out = Text("out");
    err = Text("err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Text(const char* name) {
    std::ifstream in(dir_.path() / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const char* name, const Bytes& bytes) {
    std::ofstream(dir_.path() / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  const std::string binary_ = BuildDir() + "/app/qmxctl";
  TempDir dir_;
  std::string out, err;
};

// The module's image saved, then verified against a file made of a header
// and that image, and against one with a byte changed.
TEST_F(QmxctlFirmwareTest, SaveThenVerify) {
  ASSERT_EQ(Firmware("save image.bin"), 0) << err;
  EXPECT_EQ(out, "Save Image Successful\n");
  const std::string image = Text("image.bin");
  ASSERT_FALSE(image.empty());

  Bytes file(128, 'H');
  file.insert(file.end(), image.begin(), image.end());
  Write("same.bin", file);
  EXPECT_EQ(Firmware("verify same.bin"), 0) << err;
  EXPECT_EQ(out, "Verification Successful\n");
  file[200] ^= 1;
  Write("other.bin", file);
  EXPECT_EQ(Firmware("verify other.bin"), 1);
  EXPECT_EQ(err, "qmxctl: Verification Failed\n");
}

// A saved image has no header: verify --raw compares it from its first
// byte; without --raw its first 128 bytes are taken for a header. It cannot
// be programmed, --raw or not: the boot code would drop its first block.
TEST_F(QmxctlFirmwareTest, SavedImageVerifiesWithRaw) {
  ASSERT_EQ(Firmware("save image.bin"), 0) << err;
  EXPECT_EQ(Firmware("verify --raw image.bin"), 0) << err;
  EXPECT_EQ(out, "Verification Successful\n");
  EXPECT_EQ(Firmware("verify image.bin"), 1);
  const std::string saved = Text("image.bin");
  Bytes changed(saved.begin(), saved.end());
  changed[5] ^= 1;
  Write("changed.bin", changed);
  EXPECT_EQ(Firmware("verify changed.bin --raw"), 1);
  EXPECT_EQ(err, "qmxctl: Verification Failed\n");
  // Without a header, a few bytes are something to compare.
  Write("start.bin", Bytes(saved.begin(), saved.begin() + 16));
  EXPECT_EQ(Firmware("verify --raw start.bin"), 0) << err;
  for (const char* args : {"program --raw image.bin", "save --raw copy.bin"}) {
    EXPECT_EQ(Firmware(args), 2) << args;
    EXPECT_NE(err.find("--raw applies to firmware verify only"), std::string::npos) << err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "copy.bin"));
}

TEST_F(QmxctlFirmwareTest, Program) {
  Bytes file(3000);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 7);
  Write("new.bin", file);
  EXPECT_EQ(Firmware("program new.bin"), 0) << err;
  EXPECT_EQ(out, "Programming Successful\n");
}

// A radio whose application listens only a while after "E" loses the first
// protocol-mode tries: the program still ends in protocol mode. One that
// never listens again fails with protocol mode not entered.
TEST_F(QmxctlFirmwareTest, ProgramWaitsForTheStartingApplicationWithinItsLimit) {
  Bytes file(1000, 'f');
  Write("new.bin", file);
  QmxsimProcess slow({"--app-start", "700", "--program-time", "100"});
  ASSERT_FALSE(slow.Path().empty());
  EXPECT_EQ(Qmxctl("--port " + slow.Path() + " firmware program new.bin"), 0) << err;
  EXPECT_EQ(out, "Programming Successful\n");
  EXPECT_EQ(Qmxctl("--port " + slow.Path() + " status"), 0) << err;

  QmxsimProcess gone({"--app-start", "600000", "--program-time", "100"});
  ASSERT_FALSE(gone.Path().empty());
  EXPECT_EQ(Qmxctl("--port " + gone.Path() + " firmware program new.bin"), 1);
  EXPECT_EQ(out, "Programming Successful\n");
  EXPECT_NE(err.find("qmxctl: Could not enter protocol mode.\n"), std::string::npos) << err;
}

// A host on the terminal that starts an upgrade and goes away half-way:
// protocol mode, Software Reset, 0x03 at 38400 baud until ">", "D" CR LF,
// two blocks, and the terminal closed.
void CutAnUpgradeShort(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  auto line = [fd](speed_t speed) {
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ::tcsetattr(fd, TCSANOW, &t);
  };
  auto send = [fd](std::span<const std::uint8_t> bytes) { (void)!::write(fd, bytes.data(), bytes.size()); };
  // True when `byte` arrives within a second.
  auto await = [fd](std::uint8_t byte) {
    pollfd p{fd, POLLIN, 0};
    std::uint8_t b = 0;
    while (::poll(&p, 1, 1000) > 0 && ::read(fd, &b, 1) == 1)
      if (b == byte) return true;
    return false;
  };
  // True when a frame of `type` arrives within a second.
  auto awaitFrame = [fd](std::uint8_t type) {
    FrameAssembler assembler;
    pollfd p{fd, POLLIN, 0};
    std::uint8_t b = 0;
    while (::poll(&p, 1, 1000) > 0 && ::read(fd, &b, 1) == 1)
      if (assembler.Push(b) && assembler.frame().type() == type) return true;
    return false;
  };
  line(B9600);
  const std::pair<std::uint8_t, std::uint8_t> commands[] = {{ptype::EnterProtocolMode, ptype::EnterProtocolModeReply},
                                                            {ptype::SoftwareReset, ptype::SoftwareResetReply}};
  for (const auto& [type, reply] : commands) {
    const auto frame = BuildCommandFrame(type, PacketRecord{}, type);
    send({frame->data(), frame->size});
    ASSERT_TRUE(awaitFrame(reply));
  }
  line(B38400);
  const std::uint8_t key = 0x03;
  bool prompt = false;
  for (int i = 0; i < 20 && !prompt; ++i) {
    send({&key, 1});
    pollfd p{fd, POLLIN, 0};
    std::uint8_t b = 0;
    while (!prompt && ::poll(&p, 1, 20) > 0 && ::read(fd, &b, 1) == 1) prompt = b == '>';
  }
  ASSERT_TRUE(prompt);
  send(std::span(reinterpret_cast<const std::uint8_t*>("D\r\n"), 3));
  ASSERT_TRUE(await(0x15));
  for (std::uint8_t n = 1; n <= 2; ++n) {
    std::vector<std::uint8_t> block{0x01, n, static_cast<std::uint8_t>(~n)};
    block.resize(3 + 128, n);
    block.push_back(static_cast<std::uint8_t>(128 * n));
    send(block);
    ASSERT_TRUE(await(0x06));
  }
  ::close(fd);
}

// An upgrade cut short leaves the radio in its boot code: qmxctl says so
// (status reports it), programs it with --recover and reads it again.
TEST_F(QmxctlFirmwareTest, UpgradeCutShortIsNoticedAndRecovered) {
  QmxsimProcess sim;
  ASSERT_FALSE(sim.Path().empty());
  const std::string port = "--timeout 200 --port " + sim.Path() + " ";
  ASSERT_EQ(Qmxctl(port + "status"), 0) << err;
  CutAnUpgradeShort(sim.Path());

  const std::string notice = "qmxctl: The radio on " + sim.Path() +
                             " is in its boot code (no working firmware). Program a firmware image with "
                             "'qmxctl --port " + sim.Path() + " firmware program FILE --recover'.\n";
  EXPECT_EQ(Qmxctl(port + "status"), 0);
  EXPECT_EQ(out, "boot code\n");
  EXPECT_EQ(err, notice);
  EXPECT_EQ(Qmxctl(port + "read-all"), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, notice);

  Bytes file(3000);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 5);
  Write("new.bin", file);
  EXPECT_EQ(Qmxctl(port + "firmware program new.bin --recover"), 0) << err;
  EXPECT_EQ(out, "Programming Successful\n");
  EXPECT_EQ(Qmxctl(port + "read-all"), 0) << err;
  EXPECT_NE(out.find("Bank 16"), std::string::npos);
}

// Through a link the image goes into the file it leads to (a relative link
// from its own folder), and the link stays; a pipe is no file to replace:
// refused at once, left as it is.
TEST_F(QmxctlFirmwareTest, SaveWritesThroughALinkAndRefusesAPipe) {
  std::filesystem::create_directory(dir_.path() / "images");
  Write("images/real.bin", Bytes(5, 'o'));
  std::filesystem::create_symlink("images/real.bin", dir_.path() / "link.bin");
  std::filesystem::create_symlink("real.bin", dir_.path() / "images/again.bin");
  std::filesystem::create_symlink("images/again.bin", dir_.path() / "chain.bin");
  ASSERT_EQ(Firmware("save chain.bin"), 0) << err;
  const std::string image = Text("images/real.bin");
  EXPECT_GT(image.size(), 5u);
  Write("images/real.bin", Bytes(5, 'o'));
  ASSERT_EQ(Firmware("save link.bin"), 0) << err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.path() / "link.bin"));
  EXPECT_EQ(Text("images/real.bin"), image);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "images/real.bin.part"));

  ASSERT_EQ(::mkfifo((dir_.path() / "pipe.bin").c_str(), 0600), 0);
  std::filesystem::create_symlink("pipe.bin", dir_.path() / "to-pipe.bin");
  for (const char* name : {"pipe.bin", "to-pipe.bin"}) {
    EXPECT_EQ(Firmware(std::string("save ") + name), 2) << name;
    EXPECT_EQ(err, std::string("qmxctl: ") + name + " is not a regular file\n");
    EXPECT_EQ(out, "");
  }
  EXPECT_EQ(std::filesystem::status(dir_.path() / "pipe.bin").type(), std::filesystem::file_type::fifo);
}

// Refused before the port is opened.
TEST_F(QmxctlFirmwareTest, BadRequestsExitWithTwo) {
  Write("big.bin", Bytes(132000));
  EXPECT_EQ(Firmware("program big.bin"), 2);
  EXPECT_NE(err.find("132000 bytes"), std::string::npos) << err;
  // Nothing past the header: no firmware to program.
  Write("empty.bin", Bytes());
  Write("header.bin", Bytes(128, 'H'));
  EXPECT_EQ(Firmware("program empty.bin"), 2);
  EXPECT_NE(err.find("qmxctl: empty.bin: 0 bytes; an image to program holds more than its 128-byte header\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(Firmware("program header.bin"), 2);
  EXPECT_NE(err.find("header.bin: 128 bytes"), std::string::npos) << err;
  EXPECT_EQ(out, "");
  EXPECT_EQ(Firmware("verify missing.bin"), 2);
  EXPECT_EQ(Firmware("verify /dev/zero"), 2);
  EXPECT_EQ(err, "qmxctl: /dev/zero is not a regular file\n");
  // Nothing to compare: refused as program refuses it, the radio untouched.
  EXPECT_EQ(Firmware("verify empty.bin"), 2);
  EXPECT_EQ(err, "qmxctl: empty.bin: 0 bytes; an image to verify holds more than its 128-byte header\n");
  EXPECT_EQ(Firmware("verify header.bin"), 2);
  EXPECT_EQ(err, "qmxctl: header.bin: 128 bytes; an image to verify holds more than its 128-byte header\n");
  EXPECT_EQ(Firmware("verify --raw empty.bin"), 2);
  EXPECT_EQ(err, "qmxctl: empty.bin: 0 bytes; an image to verify holds at least one byte\n");
  EXPECT_EQ(out, "");
  EXPECT_EQ(Firmware("save nowhere/x.bin"), 2);
  // A folder as the target: refused at once, not after the whole upload.
  std::filesystem::create_directory(dir_.path() / "images");
  EXPECT_EQ(Firmware("save images"), 2);
  EXPECT_NE(err.find("qmxctl: images is a folder"), std::string::npos) << err;
  EXPECT_EQ(out, "");
  EXPECT_EQ(Firmware("flash big.bin"), 2);
  Write("ok.bin", Bytes(300));
  EXPECT_EQ(Firmware("verify ok.bin --recover"), 2);
  EXPECT_NE(err.find("--recover applies to firmware program only"), std::string::npos) << err;
}

}  // namespace
}  // namespace qmx::test
