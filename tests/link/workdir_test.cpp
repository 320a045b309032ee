// The program's folders: the per-user places, the folder lock between two
// programs, and a second program's folder of its own.
#include "link/workdir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>

#include "tests/fixtures/fake_prompter.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx {
namespace {

namespace fs = std::filesystem;

TEST(XdgUserDirs, TakesAbsoluteVariablesAndFallsBackUnderHome) {
  using Env = std::map<std::string, std::string>;
  struct Case {
    const char* what;
    Env env;
    const char* settings;
    const char* logs;
  };
  const Case cases[] = {
      {"both set", {{"HOME", "/h"}, {"XDG_CONFIG_HOME", "/c"}, {"XDG_STATE_HOME", "/s"}}, "/c/qmxdemo", "/s/qmxdemo"},
      {"unset", {{"HOME", "/h"}}, "/h/.config/qmxdemo", "/h/.local/state/qmxdemo"},
      {"empty", {{"HOME", "/h"}, {"XDG_CONFIG_HOME", ""}, {"XDG_STATE_HOME", ""}}, "/h/.config/qmxdemo",
       "/h/.local/state/qmxdemo"},
      {"relative", {{"HOME", "/h"}, {"XDG_CONFIG_HOME", "c"}, {"XDG_STATE_HOME", "./s"}}, "/h/.config/qmxdemo",
       "/h/.local/state/qmxdemo"},
      {"one of two", {{"HOME", "/h"}, {"XDG_STATE_HOME", "/s"}}, "/h/.config/qmxdemo", "/s/qmxdemo"},
      {"no home", {{"XDG_CONFIG_HOME", "/c"}}, "/c/qmxdemo", ""},
      {"relative home", {{"HOME", "h"}}, "", ""},
      {"nothing", {}, "", ""},
  };
  for (const Case& c : cases) {
    const UserDirs dirs = XdgUserDirs([&](const char* name) -> const char* {
      const auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    });
    EXPECT_EQ(dirs.settings, fs::path(c.settings)) << c.what;
    EXPECT_EQ(dirs.logs, fs::path(c.logs)) << c.what;
  }
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(MakePrivateDir, MakesMissingFoldersPrivateAndLeavesExistingOnes) {
  test::TempDir temp;
  const fs::path existing = temp.path() / "home";
  fs::create_directory(existing);
  ::chmod(existing.c_str(), 0755);
  const fs::path dir = existing / ".local" / "state" / "qmxdemo";
  EXPECT_EQ(MakePrivateDir(dir), std::nullopt);
  EXPECT_TRUE(fs::is_directory(dir));
  for (const fs::path& made : {existing / ".local", existing / ".local" / "state", dir})
    EXPECT_EQ(ModeOf(made), 0700u) << made;
  EXPECT_EQ(ModeOf(existing), 0755u);
  EXPECT_EQ(MakePrivateDir(dir), std::nullopt) << "there already";

  // A file in the way is no folder.
  std::ofstream(temp.path() / "file") << "x";
  const auto why = MakePrivateDir(temp.path() / "file" / "qmxdemo");
  ASSERT_TRUE(why.has_value());
  EXPECT_NE(why->find("cannot make the folder"), std::string::npos) << *why;
  ASSERT_TRUE(MakePrivateDir(temp.path() / "file").has_value());
}

TEST(WorkDirLock, OneHolderAtATimeAndTheNextOneAfterIt) {
  test::TempDir temp;
  std::optional<WorkDirLock> first(std::in_place, temp.path());
  ASSERT_TRUE(first->Held()) << first->Failure();
  EXPECT_FALSE(first->Busy());
  WorkDirLock second(temp.path());
  EXPECT_FALSE(second.Held());
  EXPECT_TRUE(second.Busy());
  EXPECT_EQ(second.Holder(), ::getpid());
  // Moved, it is still held.
  WorkDirLock moved = std::move(*first);
  EXPECT_TRUE(WorkDirLock(temp.path()).Busy());
  first.reset();
  EXPECT_TRUE(WorkDirLock(temp.path()).Busy());
  { WorkDirLock gone = std::move(moved); }
  EXPECT_TRUE(WorkDirLock(temp.path()).Held());
  // Another folder has a lock of its own.
  test::TempDir other;
  WorkDirLock here(temp.path());
  EXPECT_TRUE(WorkDirLock(other.path()).Held());
}

TEST(WorkDirLock, AFolderThatCannotHoldTheFileIsNotBusy) {
  const WorkDirLock lock("/no/such/folder");
  EXPECT_FALSE(lock.Held());
  EXPECT_FALSE(lock.Busy());
  EXPECT_NE(lock.Failure().find("/no/such/folder/qmxdemo.lock"), std::string::npos) << lock.Failure();
}

// Another process holds the folder; it is free again once that process is
// killed, without a chance to let go itself.
TEST(WorkDirLock, HeldByAnotherProcessUntilItIsKilled) {
  test::TempDir temp;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const WorkDirLock lock(temp.path());
    const char said = lock.Held() ? 'y' : 'n';
    (void)!::write(ready[1], &said, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char said = 0;
  ASSERT_EQ(::read(ready[0], &said, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(said, 'y');
  const WorkDirLock mine(temp.path());
  EXPECT_TRUE(mine.Busy());
  EXPECT_EQ(mine.Holder(), child);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(WorkDirLock(temp.path()).Held());
}

TEST(OwnFolderName, ThePortOrANumberedName) {
  struct Case {
    const char* port;
    int n;
    const char* name;
  };
  const Case cases[] = {
      {"ttyUSB0", 1, "ttyUSB0"},
      {"ttyUSB0", 2, "ttyUSB0-2"},
      {"/dev/serial/by-id/usb-FTDI_radio-if00", 1, "usb-FTDI_radio-if00"},
      {"SIM", 3, "SIM-3"},
      {"/dev/pts/3", 2, "pts-3-2"},
      {"", 1, "qmxdemo-2"},
      {"", 2, "qmxdemo-3"},
      {"/dev/", 1, "qmxdemo-2"},
      {"my port:1", 1, "my_port_1"},
      {"..", 1, "_."},
      {".hidden", 1, "_hidden"},
  };
  for (const Case& c : cases) EXPECT_EQ(OwnFolderName(c.port, c.n), c.name) << c.port << " " << c.n;
}

class ClaimWorkDirTest : public ::testing::Test {
 protected:
  test::TempDir temp;
  test::FakePrompter prompter;
};

TEST_F(ClaimWorkDirTest, AFreeFolderIsTakenWithoutAQuestion) {
  WorkDir dir(temp.path());
  const auto lock = ClaimWorkDir(dir, prompter, "ttyUSB0");
  ASSERT_TRUE(lock.has_value());
  EXPECT_TRUE(lock->Held());
  EXPECT_EQ(prompter.Count(), 0u);
  EXPECT_EQ(dir.Dir(), temp.path());
  EXPECT_TRUE(WorkDirLock(temp.path()).Busy());
}

TEST_F(ClaimWorkDirTest, ASecondProgramTakesAFolderOfItsOwnOnOk) {
  const WorkDirLock first(temp.path());
  WorkDir dir(temp.path());
  prompter.AnswerNext(true);
  const auto lock = ClaimWorkDir(dir, prompter, "/dev/ttyUSB1");
  ASSERT_TRUE(lock.has_value());
  EXPECT_TRUE(lock->Held());
  const fs::path own = temp.path() / "ttyUSB1";
  EXPECT_EQ(dir.Dir(), own);
  EXPECT_EQ(dir.SettingsDir(), own);
  EXPECT_TRUE(fs::is_directory(own));
  EXPECT_TRUE(WorkDirLock(own).Busy());
  ASSERT_EQ(prompter.Count(), 1u);
  const test::Shown asked = prompter.All()[0];
  EXPECT_TRUE(asked.question);
  EXPECT_EQ(asked.caption, "Folder in Use");
  for (const std::string& part : {temp.path().string() + "\n", own.string(), "process " + std::to_string(::getpid()),
                                  std::string("log and settings")})
    EXPECT_NE(asked.text.find(part), std::string::npos) << part << " in " << asked.text;
}

TEST_F(ClaimWorkDirTest, CancelEndsTheProgramAndLeavesTheFolderAlone) {
  const WorkDirLock first(temp.path());
  WorkDir dir(temp.path());
  prompter.AnswerNext(false);
  EXPECT_FALSE(ClaimWorkDir(dir, prompter, "").has_value());
  EXPECT_EQ(prompter.Count(), 1u);
  EXPECT_EQ(dir.Dir(), temp.path());
  EXPECT_FALSE(fs::exists(temp.path() / "qmxdemo-2"));
}

TEST_F(ClaimWorkDirTest, AThirdProgramPassesOverTheSecondOnesFolder) {
  const WorkDirLock first(temp.path());
  fs::create_directory(temp.path() / "qmxdemo-2");
  const WorkDirLock second(temp.path() / "qmxdemo-2");
  // A folder of its own left by an earlier run is used again.
  fs::create_directory(temp.path() / "qmxdemo-3");
  std::ofstream(temp.path() / "qmxdemo-3" / "logfile.dat") << "earlier";
  WorkDir dir(temp.path());
  prompter.AnswerNext(true);
  const auto lock = ClaimWorkDir(dir, prompter, "");
  ASSERT_TRUE(lock.has_value());
  EXPECT_EQ(dir.Dir(), temp.path() / "qmxdemo-3");
  EXPECT_EQ(prompter.Count(), 1u);
}

TEST_F(ClaimWorkDirTest, SeparateSettingsAndLogsFoldersEachGetTheirOwn) {
  const fs::path settings = temp.path() / "config", logs = temp.path() / "state";
  fs::create_directory(settings);
  fs::create_directory(logs);
  const WorkDirLock first(logs);
  WorkDir dir(settings, logs);
  prompter.AnswerNext(true);
  const auto lock = ClaimWorkDir(dir, prompter, "SIM");
  ASSERT_TRUE(lock.has_value());
  EXPECT_EQ(dir.SettingsDir(), settings / "SIM");
  EXPECT_EQ(dir.Dir(), logs / "SIM");
  EXPECT_EQ(ModeOf(settings / "SIM"), 0700u);
  EXPECT_EQ(ModeOf(logs / "SIM"), 0700u);
  EXPECT_NE(prompter.All()[0].text.find("settings in " + (settings / "SIM").string()), std::string::npos)
      << prompter.All()[0].text;
}

TEST_F(ClaimWorkDirTest, AFolderThatCannotBeMadeIsToldAndEndsTheProgram) {
  const WorkDirLock first(temp.path());
  std::ofstream(temp.path() / "ttyUSB0") << "a file where the folder would go";
  WorkDir dir(temp.path());
  prompter.AnswerNext(true);
  EXPECT_FALSE(ClaimWorkDir(dir, prompter, "ttyUSB0").has_value());
  ASSERT_EQ(prompter.Count(), 2u);
  EXPECT_FALSE(prompter.All()[1].question);
  EXPECT_NE(prompter.All()[1].text.find("could not be made"), std::string::npos) << prompter.All()[1].text;
  EXPECT_EQ(dir.Dir(), temp.path());
}

}  // namespace
}  // namespace qmx
