// logfile.dat: line format, header, rotation to backups, failures.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "link/data_log.h"
#include "link/options.h"
#include "link/radio_link.h"
#include "link/workdir.h"
#include "tests/fixtures/fake_prompter.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

class DataLogTest : public ::testing::Test {
 protected:
  DataLogTest() {
    ConnectLogFailureBox(log, prompter);
    options.logData = true;
    log.SetClock([] { return std::string("02/03/24  |  10:11:12"); });
  }
  // A file of the directory, with what the log buffered written out.
  fs::path File(const std::string& name) {
    log.Flush();
    return tmp.path() / name;
  }
  std::string Log() { return ReadFile(File("logfile.dat")); }
  // A logfile.dat of exactly `size` bytes (the log lets go of the file first).
  void Prefill(std::size_t size, char fill = 'x') {
    log.Close();
    WriteFile(File("logfile.dat"), std::string(size, fill));
  }

  test::TempDir tmp;
  WorkDir dir{tmp.path()};
  LinkOptions options;
  test::FakePrompter prompter;
  DataLog log{dir, options};
};

const std::string kHeader =
    "New Data------------------------------------------\r\n"
    "02/03/24  |  10:11:12\r\n"
    "QMXDemo 2.0 Version 2.05\r\n";

TEST_F(DataLogTest, FrameLines) {
  log.LogFrame("Sent Data : ", Bytes{0xFB, 0x05, 0x01, 0x03, 0x00, 0x02, 0x15}, "(Get Register)");
  log.LogFrame("Recv Data : ", Bytes{0xFB, 0x02, 0x01, 0x10}, "(Enter Protocol Mode Reply)", true);
  log.LogFrame("Recv Data : ", Bytes{0xFB, 0x02, 0x01, 0x30}, "");
  EXPECT_EQ(Log(),
            "Sent Data : FB 05 01 03 00 02 15 (Get Register)\r\n"
            "Recv Data : FB 02 01 10 \r\n(Enter Protocol Mode Reply)\r\n"
            "Recv Data : FB 02 01 30 \r\n");
  EXPECT_EQ(prompter.Count(), 0u);
}

TEST_F(DataLogTest, HeaderAndPlainWrites) {
  log.LogHeader();
  EXPECT_EQ(Log(), kHeader);
  log.LogWrite(nullptr, 0, true, false, false);  // only CR LF
  EXPECT_EQ(Log(), kHeader + "\r\n");
  log.SetHeaderTitle("QMXDemo 2.1 Version 2.10");
  const char text[] = "abc";
  log.LogWrite(text, 3, false, true, false);
  EXPECT_EQ(Log(), kHeader + "\r\n" +
                       "New Data------------------------------------------\r\n02/03/24  |  10:11:12\r\n"
                       "QMXDemo 2.1 Version 2.10\r\nabc");
  EXPECT_EQ(HexBytesText(Bytes{0x00, 0xAB, 0xFF}), "00 AB FF ");
  EXPECT_EQ(HexBytesText({}), "");
}

TEST_F(DataLogTest, NothingAtAllWhileOff) {
  options.logData = false;
  log.LogHeader();
  log.LogFrame("Sent Data : ", Bytes{0xFB}, "(x)");
  log.LogWrite("text", true);
  EXPECT_TRUE(fs::is_empty(tmp.path()));
  // An existing full file is not rotated either.
  Prefill(DataLog::kRotateAbove + 10);
  log.LogWrite("text", true);
  EXPECT_EQ(fs::file_size(File("logfile.dat")), DataLog::kRotateAbove + 10);
  EXPECT_FALSE(fs::exists(File("logfile0.bak")));
}

TEST_F(DataLogTest, RotatesOnlyAboveTheLimit) {
  Prefill(DataLog::kRotateAbove);
  log.LogWrite("A", false);  // exactly at the limit: appended
  EXPECT_FALSE(fs::exists(File("logfile0.bak")));
  EXPECT_EQ(fs::file_size(File("logfile.dat")), DataLog::kRotateAbove + 1);

  log.LogWrite("B", true);  // one byte over: moved away first
  ASSERT_TRUE(fs::exists(File("logfile0.bak")));
  EXPECT_EQ(ReadFile(File("logfile0.bak")), std::string(DataLog::kRotateAbove, 'x') + "A");
  EXPECT_EQ(Log(), "B\r\n");
}

TEST_F(DataLogTest, BackupNamesFillGapsFirst) {
  WriteFile(File("logfile1.bak"), "one");
  Prefill(DataLog::kRotateAbove + 1, 'a');
  log.LogWrite("x", false);
  EXPECT_EQ(fs::file_size(File("logfile0.bak")), DataLog::kRotateAbove + 1);
  EXPECT_EQ(ReadFile(File("logfile1.bak")), "one");

  Prefill(DataLog::kRotateAbove + 1, 'b');
  log.LogWrite("y", false);
  EXPECT_EQ(ReadFile(File("logfile2.bak")), std::string(DataLog::kRotateAbove + 1, 'b'));
  EXPECT_EQ(ReadFile(File("logfile1.bak")), "one");
  EXPECT_EQ(Log(), "y");
}

TEST_F(DataLogTest, HeaderGoesIntoTheNewFile) {
  Prefill(DataLog::kRotateAbove + 1);
  log.LogHeader();
  EXPECT_EQ(Log(), kHeader);
  EXPECT_EQ(fs::file_size(File("logfile0.bak")), DataLog::kRotateAbove + 1);
}

TEST_F(DataLogTest, FailedMoveNeverEmptiesTheFile) {
  log.SetRenamer([](const fs::path&, const fs::path&) { return false; });
  Prefill(DataLog::kRotateAbove + 1);
  log.LogWrite("entry", true);
  EXPECT_EQ(Log(), std::string(DataLog::kRotateAbove + 1, 'x') + "entry\r\n");
  EXPECT_FALSE(fs::exists(File("logfile0.bak")));
  EXPECT_EQ(prompter.Count(), 0u);
}

TEST_F(DataLogTest, BackupNameTakenMeanwhileMovesOnToTheNext) {
  // Another process creates logfile0.bak between the look and the move: the
  // existing backup must survive and the next free name be used.
  int calls = 0;
  log.SetRenamer([&](const fs::path& from, const fs::path& to) {
    if (++calls == 1) {
      WriteFile(to, "theirs");
      return false;
    }
    fs::rename(from, to);
    return true;
  });
  Prefill(DataLog::kRotateAbove + 1);
  log.LogWrite("z", false);
  EXPECT_EQ(ReadFile(File("logfile0.bak")), "theirs");
  EXPECT_EQ(fs::file_size(File("logfile1.bak")), DataLog::kRotateAbove + 1);
  EXPECT_EQ(Log(), "z");
}

TEST_F(DataLogTest, OpenFailureIsReportedOncePerCall) {
  fs::create_directory(File("logfile.dat"));  // cannot be opened as a file, not even by root
  log.LogWrite("a", true);
  log.LogFrame("Sent Data : ", Bytes{0xFB}, "(x)");
  const test::Shown shown{"Erroring opening logfile.dat", "LogFile Error", false};
  EXPECT_EQ(prompter.All(), std::vector<test::Shown>(4, shown));  // 1 + the three pieces of the frame
}

// Entries wait in a buffer: they reach the file on their own within the
// flush time, and when the log goes.
TEST_F(DataLogTest, BufferedEntriesReachTheFileWithoutAFlush) {
  const fs::path file = tmp.path() / "logfile.dat";
  log.LogFrame("Recv Data : ", Bytes{0xFB, 0x02, 0x01, 0x30}, "(x)");
  const std::string entry = "Recv Data : FB 02 01 30 (x)\r\n";
  const auto deadline = std::chrono::steady_clock::now() + DataLog::kFlushAfter + std::chrono::seconds(2);
  while (ReadFile(file) != entry && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ReadFile(file), entry);
  {
    DataLog other{dir, options};
    other.LogWrite("last", true);
  }
  EXPECT_EQ(ReadFile(file), entry + "last\r\n");
}

}  // namespace
}  // namespace qmx
