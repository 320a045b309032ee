// The table of radios heard, fed as the decoder feeds it (announce payloads
// as they come off the wire), on the fake clock; the names file; the CSV.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "link/decoder.h"
#include "link/network_nodes.h"
#include "link/workdir.h"
#include "tests/fixtures/fake_clock.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx::net {
namespace {

using std::chrono::seconds;

// An announce payload as the radio sends it.
Announcement Joined(std::uint8_t macSeed, std::uint16_t address) {
  std::vector<std::uint8_t> p{0xA2};
  for (std::uint8_t i = 1; i <= 8; ++i) p.push_back(static_cast<std::uint8_t>(macSeed + i));
  p.push_back(static_cast<std::uint8_t>(address & 0xFF));
  p.push_back(static_cast<std::uint8_t>(address >> 8));
  return DecodeAnnouncement(p);
}
Announcement Left(std::uint16_t address) {
  const std::vector<std::uint8_t> p{0xA5, static_cast<std::uint8_t>(address & 0xFF),
                                    static_cast<std::uint8_t>(address >> 8)};
  return DecodeAnnouncement(p);
}
// The MAC Joined(seed, ...) announces.
std::string MacOf(std::uint8_t seed) { return *Joined(seed, 0).mac; }

struct TableFixture : ::testing::Test {
  test::FakeClock clock;
  NodeTable table{clock};
  const Node& At(std::uint16_t address) { return table.Rows().at(table.RowOf(address).value()); }
};

TEST_F(TableFixture, TheLocalRadioIsRowZeroFromTheStartAndOthersNeverMove) {
  ASSERT_EQ(table.Rows().size(), 1u);
  EXPECT_TRUE(table.Rows()[0].base);
  EXPECT_FALSE(table.Rows()[0].known);
  EXPECT_TRUE(table.TakeChanges().Empty()) << "row 0 is there before any view";

  table.ReceivedData(0x0005, 0x90);  // heard before the local radio is known
  table.SetBase(0x0000, "01-02-03-04-05-06-07-0a");
  const Changes changes = table.TakeChanges();
  EXPECT_EQ(changes.firstAdded, 1u);
  EXPECT_EQ(changes.added, 1u);
  EXPECT_EQ(changes.changed, std::vector<std::size_t>{0});
  EXPECT_EQ(table.RowOf(0x0005), 1u);
  EXPECT_EQ(table.RowOf(0x0000), 0u);
  EXPECT_EQ(table.Rows()[0].mac, "01:02:03:04:05:06:07:0A");
  EXPECT_EQ(table.RowOfMac("0102030405060708"), std::nullopt);
  EXPECT_EQ(table.RowOfMac("010203040506070a"), 0u);

  // The local radio as a remote: its own announcements move and mark it.
  table.Announced(DecodeAnnouncement(std::vector<std::uint8_t>{0xA3, 0x34, 0x12, 0x07, 0x00}));
  EXPECT_EQ(table.Rows()[0].address, 0x0007);
  EXPECT_EQ(table.Rows()[0].state, NodeState::Joined);
  EXPECT_EQ(table.RowOf(0x0007), 0u);
  EXPECT_EQ(table.RowOf(0x0000), std::nullopt);
  table.Announced(DecodeAnnouncement(std::vector<std::uint8_t>{0xA4}));
  EXPECT_EQ(table.Rows()[0].state, NodeState::Left);
  EXPECT_EQ(table.TakeChanges().changed, std::vector<std::size_t>{0});
}

TEST_F(TableFixture, JoinLeaveAndRejoinUnderANewAddressIsOneRow) {
  table.Announced(Joined(0x10, 0x0003));
  clock.Advance(seconds(5));
  table.ReceivedData(0x0003, 0xC0);
  table.IoEvent(0x0003);
  ASSERT_EQ(table.Rows().size(), 2u);
  const Node& node = table.Rows()[1];
  EXPECT_EQ(node.mac, MacOf(0x10));
  EXPECT_EQ(node.state, NodeState::Joined);
  EXPECT_EQ(node.frames, 2u) << "data and event, not the announcement";
  EXPECT_EQ(node.lastLqi, 0xC0);
  EXPECT_EQ(node.firstSeen, Clock::time_point{});
  EXPECT_EQ(node.lastHeard, Clock::time_point{} + seconds(5));
  EXPECT_EQ(table.TakeChanges().added, 1u);

  table.Announced(Left(0x0003));
  EXPECT_EQ(table.Rows()[1].state, NodeState::Left);
  table.Announced(Joined(0x10, 0x0042));
  ASSERT_EQ(table.Rows().size(), 2u);
  EXPECT_EQ(table.Rows()[1].address, 0x0042);
  EXPECT_EQ(table.Rows()[1].state, NodeState::Joined);
  EXPECT_EQ(table.RowOf(0x0042), 1u);
  EXPECT_EQ(table.RowOf(0x0003), std::nullopt) << "the old address is nobody's now";
  const Changes changes = table.TakeChanges();
  EXPECT_EQ(changes.added, 0u);
  EXPECT_EQ(changes.changed, std::vector<std::size_t>{1});

  // A node that left and that nobody heard before still gets its row.
  table.Announced(Left(0x0099));
  EXPECT_EQ(At(0x0099).state, NodeState::Left);
  EXPECT_FALSE(At(0x0099).mac);
}

// A row known by its address alone takes the MAC of the first join at that
// address; when a radio known by its MAC takes an address another row held,
// that row stays (its frames are not the newcomer's) but is Left and no
// longer found by the address.
TEST_F(TableFixture, AnAddressTakenOverLeavesTheFormerHoldersRow) {
  table.ReceivedData(0x0009, 0x50);
  table.Announced(Joined(0x20, 0x0009));
  ASSERT_EQ(table.Rows().size(), 2u) << "the address-only row took the MAC";
  EXPECT_EQ(table.RowOfMac(MacOf(0x20)), 1u);
  EXPECT_EQ(table.Rows()[1].frames, 1u);

  table.ReceivedData(0x000A, 0x60);  // row 2, address only
  table.Announced(Joined(0x30, 0x0004));  // row 3
  table.TakeChanges();
  table.Announced(Joined(0x30, 0x000A));  // MAC 0x30 moves onto row 2's address
  ASSERT_EQ(table.Rows().size(), 4u);
  EXPECT_EQ(table.RowOf(0x000A), 3u);
  EXPECT_EQ(table.Rows()[2].state, NodeState::Left);
  EXPECT_EQ(table.Rows()[2].frames, 1u);
  EXPECT_EQ(table.Rows()[3].frames, 0u);
  EXPECT_EQ((table.TakeChanges().changed), (std::vector<std::size_t>{2, 3}));

  table.Announced(Joined(0x20, 0x0004));  // MAC 0x20 takes MAC 0x30's old address: nobody's now
  table.Announced(Joined(0x40, 0x000A));  // a new MAC on MAC 0x30's address
  EXPECT_EQ(table.Rows().size(), 5u);
  EXPECT_EQ(table.Rows()[3].state, NodeState::Left);
  EXPECT_EQ(table.Rows()[3].mac, MacOf(0x30)) << "a MAC's row never takes another MAC";
  EXPECT_EQ(table.RowOfMac(MacOf(0x40)), 4u);
  EXPECT_EQ(table.RowOf(0x0004), 1u);
}

TEST_F(TableFixture, LqiSamplesOfTheLastMinuteAndAges) {
  for (int i = 0; i < 8; ++i) {  // at 0, 10 ... 70 s: 10, 20 ... 80
    table.ReceivedData(0x0002, static_cast<std::uint8_t>(10 * (i + 1)));
    clock.Advance(seconds(10));
  }
  // Now 80 s: the row dropped what was older than a minute as samples came.
  const Node& node = table.Rows()[1];
  ASSERT_EQ(node.lqi.size(), 7u);
  EXPECT_EQ(node.lqi.front().lqi, 20);
  EXPECT_DOUBLE_EQ(node.MeanLqi(clock.Now()).value(), (30 + 40 + 50 + 60 + 70 + 80) / 6.0) << "20 is 70 s old";
  table.TakeChanges();
  table.Trim();
  EXPECT_EQ(node.lqi.size(), 6u);
  EXPECT_EQ(table.TakeChanges().changed, std::vector<std::size_t>{1});
  table.Trim();
  EXPECT_TRUE(table.TakeChanges().Empty()) << "nothing more to drop";
  clock.Advance(seconds(60));
  table.Trim();
  EXPECT_TRUE(node.lqi.empty());
  EXPECT_FALSE(node.MeanLqi(clock.Now()));
  EXPECT_EQ(node.lastLqi, 80) << "the last LQI stays";

  EXPECT_EQ(SecondsAgo(node.firstSeen, clock.Now()), 140);
  EXPECT_EQ(SecondsAgo(node.lastHeard, clock.Now()), 70);
  EXPECT_EQ(SecondsAgo(clock.Now() + seconds(1), clock.Now()), 0);

  // Replies and the scan's answers count; one without an LQI keeps the last.
  table.RemoteReplied(0x0002, std::nullopt);
  table.Answered(0x0002, 0x33);
  EXPECT_EQ(node.frames, 10u);
  EXPECT_EQ(node.lastLqi, 0x33);
  EXPECT_EQ(node.lastHeard, clock.Now());
}

// 250 remotes join, leave and rejoin at random addresses: every MAC keeps
// one row at its latest address, every address leads to the row that last
// took it, and the change lists name each row once, in order.
TEST_F(TableFixture, AFloodKeepsOneLqiSampleAStepWeightedByTheFramesInIt) {
  table.ReceivedData(0x0002, 100);
  const Node& node = table.Rows().at(table.RowOf(0x0002).value());
  clock.Advance(kLqiStep / 2);
  table.ReceivedData(0x0002, 201);
  table.ReceivedData(0x0002, 201);
  clock.Advance(kLqiStep / 2);
  table.ReceivedData(0x0002, 10);
  ASSERT_EQ(node.lqi.size(), 2u);
  EXPECT_EQ(node.lqi[0].lqi, 167);
  EXPECT_EQ(node.lqi[0].count, 3u);
  EXPECT_DOUBLE_EQ(node.MeanLqi(clock.Now()).value(), (100 + 201 + 201 + 10) / 4.0);
  EXPECT_EQ(node.frames, 4u);
}

TEST_F(TableFixture, ChurnKeepsOneRowPerMacAndTheIndexesTrue) {
  std::mt19937 rng(7);
  std::map<std::uint8_t, std::uint16_t> at;  // MAC seed -> address
  std::map<std::uint16_t, std::uint8_t> holder;
  for (int round = 0; round < 4000; ++round) {
    const auto seed = static_cast<std::uint8_t>(rng() % 250);
    const auto address = static_cast<std::uint16_t>(1 + rng() % 400);
    if (rng() % 4 == 0 && at.count(seed)) {
      table.Announced(Left(at[seed]));
    } else {
      table.Announced(Joined(seed, address));
      if (at.count(seed)) holder.erase(at[seed]);
      if (holder.count(address)) at.erase(holder[address]);
      at[seed] = address;
      holder[address] = seed;
    }
    table.ReceivedData(address, 0x80);
    if (round % 97 == 0) {
      const Changes c = table.TakeChanges();
      EXPECT_TRUE(std::is_sorted(c.changed.begin(), c.changed.end()));
      EXPECT_EQ(std::adjacent_find(c.changed.begin(), c.changed.end()), c.changed.end());
      EXPECT_TRUE(c.changed.empty() || c.changed.back() < c.firstAdded);
      EXPECT_EQ(c.firstAdded + c.added, table.Rows().size());
    }
  }
  for (const auto& [seed, address] : at) {
    const auto row = table.RowOfMac(MacOf(seed));
    ASSERT_TRUE(row);
    EXPECT_EQ(table.Rows()[*row].address, address);
    EXPECT_EQ(table.RowOf(address), row);
  }
  std::size_t macRows = 0;
  for (const Node& n : table.Rows()) macRows += n.mac ? 1 : 0;
  EXPECT_LE(macRows, 250u);
}

// ---------------------------------------------------------------------------
// Names

TEST(NormalMac, FormsTakenAndRefused) {
  for (const char* good : {"00:11:22:33:44:55:66:aa", "00112233445566AA", "00-11-22-33-44-55-66-AA",
                           "00 11 22:33-44:55:66:aA"})
    EXPECT_EQ(NormalMac(good), "00:11:22:33:44:55:66:AA") << good;
  for (const char* bad : {"", "00:11:22:33:44:55:66", "00:11:22:33:44:55:66:77:88", ":00:11:22:33:44:55:66:77",
                          "00:11:22:33:44:55:66:77:", "00::11:22:33:44:55:66:77", "0011:22:33:44:55:66:77",
                          "00:11:22:33:44:55:66:7G", "0:011:22:33:44:55:66:77", "001122334455667788"})
    EXPECT_EQ(NormalMac(bad), std::nullopt) << bad;
}

TEST(NamesFile, BadLinesAreSkippedAndNamesMayHoldEquals) {
  const auto names = ParseNames(
      "# comment\r\n[radios]\n; other comment\nno equals here\n=no mac\n00:11:22:33:44:55:66:77=\n"
      "aa-bb-cc-dd-ee-ff-00-11 =  Tank = north, \"A\"  \r\n"
      "00:11:22:33:44:55:66=short mac\n0011223344556677=first\n00:11:22:33:44:55:66:77=second\n"
      "22:22:22:22:22:22:22:22=tab\there\n33:33:33:33:33:33:33:33=ok");
  const std::map<std::string, std::string> want{{"00:11:22:33:44:55:66:77", "second"},
                                                {"AA:BB:CC:DD:EE:FF:00:11", "Tank = north, \"A\""},
                                                {"33:33:33:33:33:33:33:33", "ok"}};
  EXPECT_EQ(names, want);
  EXPECT_EQ(ParseNames(NamesText(names)), names);
}

struct NameBookFixture : ::testing::Test {
  test::TempDir tmp;
  WorkDir dir{tmp.path()};
  std::filesystem::path File() const { return tmp.path() / kNamesFile; }
  std::string Text() const {
    std::ifstream in(File(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

TEST_F(NameBookFixture, NamesAreWrittenAtOnceAndReadBackByAnyMacCase) {
  NameBook book(dir);
  book.Load();  // no file: an empty book
  EXPECT_TRUE(book.Set("aa:bb:cc:dd:ee:ff:00:11", "Pump, \"north\" = 2"));
  EXPECT_TRUE(book.Set("0011223344556677", "Base"));
  EXPECT_EQ(Text(), "# Names of the radios, by MAC address: MAC=name\n00:11:22:33:44:55:66:77=Base\n"
                    "AA:BB:CC:DD:EE:FF:00:11=Pump, \"north\" = 2\n");
  NameBook again(dir);
  again.Load();
  EXPECT_EQ(again.NameOf("AABBCCDDEEFF0011"), "Pump, \"north\" = 2");
  EXPECT_TRUE(again.Set("00:11:22:33:44:55:66:77", ""));
  again.Load();
  EXPECT_FALSE(again.NameOf("00:11:22:33:44:55:66:77"));
  EXPECT_FALSE(again.Set("00:11", "x")) << "no MAC";
  EXPECT_FALSE(again.Set("00:11:22:33:44:55:66:77", "two\nlines")) << "would break the file";
  EXPECT_FALSE(again.NameOf("00:11:22:33:44:55:66:77"));

  test::FakeClock clock;
  NodeTable table(clock);
  table.Announced(Joined(0x10, 0x0003));
  EXPECT_TRUE(again.Set(MacOf(0x10), "Well"));
  EXPECT_EQ(again.NameAt(table, 0x0003), "Well");
  EXPECT_FALSE(again.NameAt(table, 0x0004));
}

// A names file that cannot be replaced (a folder in its place) fails the
// write, the name stays for the run; a pipe in its place is neither read
// (which would block) nor written to.
TEST_F(NameBookFixture, AFileThatCannotBeWrittenKeepsTheNameForTheRun) {
  std::filesystem::create_directory(File());
  NameBook book(dir);
  book.Load();
  EXPECT_FALSE(book.Set("00:11:22:33:44:55:66:77", "Kept"));
  EXPECT_EQ(book.NameOf("00:11:22:33:44:55:66:77"), "Kept");
  std::filesystem::remove(File());

  ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0);
  book.Load();
  EXPECT_FALSE(book.NameOf("00:11:22:33:44:55:66:77"));
  EXPECT_FALSE(book.Set("00:11:22:33:44:55:66:77", "Pipe"));
  EXPECT_EQ(std::filesystem::status(File()).type(), std::filesystem::file_type::fifo);
}

// ---------------------------------------------------------------------------
// CSV

TEST_F(NameBookFixture, CsvQuotesWhatMustBeQuotedAndLeavesUnknownsEmpty) {
  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");

  test::FakeClock clock;
  NodeTable table(clock);
  NameBook names(dir);
  EXPECT_EQ(NodesCsv(table, &names, clock.Now()), std::string(kNodesCsvHeader) + "\r\n") << "the local radio unknown";
  table.SetBase(0x0000, "01:01:01:01:01:01:01:01");
  table.Announced(Joined(0x10, 0x0003));
  ASSERT_TRUE(names.Set(MacOf(0x10), "Tank, \"north\""));
  clock.Advance(seconds(3));
  table.ReceivedData(0x0003, 100);
  table.ReceivedData(0x0003, 51);
  table.ReceivedData(0x0007, 200);
  clock.Advance(seconds(2));
  EXPECT_EQ(NodesCsv(table, &names, clock.Now()),
            std::string(kNodesCsvHeader) + "\r\n" +
                "0x0000,01:01:01:01:01:01:01:01,,heard,5,5,0,,\r\n"
                "0x0003," + MacOf(0x10) + ",\"Tank, \"\"north\"\"\",joined,5,2,2,51,75.5\r\n"
                "0x0007,,,heard,2,2,1,200,200.0\r\n");
  EXPECT_NE(NodesCsv(table, nullptr, clock.Now()).find("0x0003," + MacOf(0x10) + ",,joined"), std::string::npos);
}

}  // namespace
}  // namespace qmx::net
