// qmxctl firmware on the built-in simulated module, as a user runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
  int Firmware(const std::string& args) {
    const std::string command = "cd '" + dir_.path().string() + "' && '" + binary_ + "' firmware " + args +
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
  EXPECT_EQ(Firmware("save nowhere/x.bin"), 2);
  // A folder as the target: refused at once, not after the whole upload.
  std::filesystem::create_directory(dir_.path() / "images");
  EXPECT_EQ(Firmware("save images"), 2);
  EXPECT_NE(err.find("qmxctl: images is a folder"), std::string::npos) << err;
  EXPECT_EQ(out, "");
  EXPECT_EQ(Firmware("flash big.bin"), 2);
}

}  // namespace
}  // namespace qmx::test
