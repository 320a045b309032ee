// Frame building, sequence numbers, record decoding and frame assembly.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "link/frame.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FrameBytes(const Frame& f) { return Bytes(f.bytes.begin(), f.bytes.begin() + static_cast<long>(f.size)); }

TEST(SequenceCounter, RunsOneTo127ThenZero) {
  SequenceCounter c;
  EXPECT_EQ(c.NextSequenceNumber(), 1);
  for (int i = 2; i <= 127; ++i) c.NextSequenceNumber();
  EXPECT_EQ(c.Current(), 127);
  EXPECT_EQ(c.NextSequenceNumber(), 0);  // the 128th
  EXPECT_EQ(c.NextSequenceNumber(), 1);  // the 129th
}

TEST(SequenceCounter, TwoThreadsNeverShareANumberWithinOneRound) {
  // 2 x 64 x 50 numbers: every value 0 … 127 must come out exactly 50 times.
  SequenceCounter c;
  std::vector<int> seen[2];
  auto take = [&](int t) {
    for (int i = 0; i < 64 * 50; ++i) seen[t].push_back(c.NextSequenceNumber());
  };
  std::thread a(take, 0), b(take, 1);
  a.join();
  b.join();
  std::vector<int> count(128);
  for (auto& v : seen)
    for (int s : v) ++count.at(static_cast<std::size_t>(s));
  for (int n : count) EXPECT_EQ(n, 50);
}

PacketRecord Rec(std::uint8_t reg, std::uint8_t bank, std::uint8_t span, std::uint16_t addr = 0,
                 Bytes data = {}) {
  PacketRecord r;
  r.Register = reg;
  r.Bank = bank;
  r.Span = span;
  r.NetworkAddress = addr;
  r.Length = static_cast<std::uint8_t>(data.size());
  std::copy(data.begin(), data.end(), r.Data.begin());
  return r;
}

TEST(BuildCommandFrame, EveryCommandType) {
  struct Case {
    std::uint8_t type;
    PacketRecord rec;
    Bytes expected;
  };
  const Case cases[] = {
      {ptype::EnterProtocolMode, {}, {0xFB, 9, 7, 0x00, 'Q', 'M', 'X', '2', '4', '0', '0'}},
      {ptype::ExitProtocolMode, {}, {0xFB, 2, 7, 0x01}},
      {ptype::SoftwareReset, {}, {0xFB, 2, 7, 0x02}},
      {ptype::GetRegister, Rec(0, 2, 21), {0xFB, 0x05, 7, 0x03, 0x00, 0x02, 0x15}},
      {ptype::SetRegister, Rec(6, 0, 2, 0, {0xAA, 0xBB}), {0xFB, 7, 7, 0x04, 6, 0, 2, 0xAA, 0xBB}},
      {ptype::TxData, Rec(0, 0, 0, 0x1234, {0x41, 0x42}), {0xFB, 0x06, 7, 0x05, 0x34, 0x12, 0x41, 0x42}},
      {ptype::GetRemoteRegister, Rec(12, 2, 1, 0x8001), {0xFB, 7, 7, 0x0A, 0x01, 0x80, 12, 2, 1}},
      {ptype::SetRemoteRegister, Rec(0xFF, 0xFF, 1, 0x0002, {0x01}),
       {0xFB, 8, 7, 0x0B, 0x02, 0x00, 0xFF, 0xFF, 1, 0x01}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    auto f = BuildCommandFrame(c.type, c.rec, 7);
    ASSERT_TRUE(f);
    EXPECT_EQ(FrameBytes(*f), c.expected);
  }
}

TEST(BuildCommandFrame, RefusesFramesLongerThan100AndNonCommands) {
  // Largest that fit: Packet Length exactly 100.
  EXPECT_EQ(BuildCommandFrame(ptype::SetRegister, Rec(0, 0, 95), 1)->size, 102u);
  EXPECT_EQ(BuildCommandFrame(ptype::TxData, Rec(0, 0, 0, 0, Bytes(96, 0x55)), 1)->size, 102u);
  EXPECT_EQ(BuildCommandFrame(ptype::SetRemoteRegister, Rec(0, 0, 93), 1)->size, 102u);
  // One more byte, or a count beyond the record's data.
  EXPECT_FALSE(BuildCommandFrame(ptype::SetRegister, Rec(0, 0, 96), 1));
  EXPECT_FALSE(BuildCommandFrame(ptype::SetRegister, Rec(0, 0, 250), 1));
  PacketRecord tx = Rec(0, 0, 0);
  tx.Length = 97;
  EXPECT_FALSE(BuildCommandFrame(ptype::TxData, tx, 1));
  tx.Length = 255;
  EXPECT_FALSE(BuildCommandFrame(ptype::TxData, tx, 1));
  EXPECT_FALSE(BuildCommandFrame(ptype::SetRemoteRegister, Rec(0, 0, 94), 1));
  for (std::uint8_t t : {0x06, 0x13, 0x26, 0xFF}) EXPECT_FALSE(BuildCommandFrame(t, Rec(0, 0, 1), 1));
}

TEST(BuildFrame, PayloadOfAtMost98) {
  auto f = BuildFrame(3, 0x26, Bytes(98, 0xFB));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->bytes[1], 100);
  EXPECT_EQ(f->size, 102u);
  EXPECT_FALSE(BuildFrame(3, 0x26, Bytes(99, 0)));
  EXPECT_EQ(FrameBytes(*BuildFrame(9, 0x10, {})), (Bytes{0xFB, 2, 9, 0x10}));
}

TEST(ReceivedTypeName, NamesOfReceivedTypes) {
  EXPECT_EQ(ReceivedTypeName(0x10), "(Enter Protocol Mode Reply)");
  EXPECT_EQ(ReceivedTypeName(0x11), "(Exit Protocol Mode Reply)");
  EXPECT_EQ(ReceivedTypeName(0x12), "(Software Reset Reply)");
  EXPECT_EQ(ReceivedTypeName(0x13), "(Get Register Reply)");
  EXPECT_EQ(ReceivedTypeName(0x14), "(Set Register Reply)");
  EXPECT_EQ(ReceivedTypeName(0x15), "(TX Data Reply)");
  EXPECT_EQ(ReceivedTypeName(0x1A), "(Get Remote Register Reply)");
  EXPECT_EQ(ReceivedTypeName(0x1B), "(Set Remote Register Reply)");
  EXPECT_EQ(ReceivedTypeName(0x26), "(RX Data)");
  EXPECT_EQ(ReceivedTypeName(0x27), "(Announce)");
  EXPECT_EQ(ReceivedTypeName(0x28), "(RX Event)");
  for (int t : {0x00, 0x03, 0x16, 0x1C, 0x29, 0xFB}) EXPECT_EQ(ReceivedTypeName(static_cast<std::uint8_t>(t)), "");
}

TEST(DecodeRecord, FieldsOfEachReplyType) {
  auto r = DecodeRecord(5, 0x13, Bytes{12, 2, 3, 0xA1, 0xA2, 0xA3});
  EXPECT_EQ(r.Length, 6);
  EXPECT_EQ(r.SequenceNumber, 5);
  EXPECT_EQ(r.PacketType, 0x13);
  EXPECT_EQ(r.Register, 12);
  EXPECT_EQ(r.Bank, 2);
  EXPECT_EQ(r.Span, 3);
  EXPECT_EQ(Bytes(r.Data.begin(), r.Data.begin() + 4), (Bytes{0xA1, 0xA2, 0xA3, 0}));

  r = DecodeRecord(1, 0x15, Bytes{1, 0x7F});
  EXPECT_EQ(r.TxStatus, 1);
  EXPECT_EQ(r.Lqi, 0x7F);

  r = DecodeRecord(1, 0x1A, Bytes{0, 0x01, 0x80, 0x44, 0, 5, 2, 0xC1, 0xC2});
  EXPECT_EQ(r.TxStatus, 0);
  EXPECT_EQ(r.NetworkAddress, 0x8001);
  EXPECT_EQ(r.Lqi, 0x44);
  EXPECT_EQ(r.Bank, 5);
  EXPECT_EQ(r.Span, 2);
  EXPECT_EQ(r.Data[0], 0xC1);
  EXPECT_EQ(r.Data[1], 0xC2);

  r = DecodeRecord(1, 0x1B, Bytes{2, 0x34, 0x12, 0x20});
  EXPECT_EQ(r.TxStatus, 2);
  EXPECT_EQ(r.NetworkAddress, 0x1234);
  EXPECT_EQ(r.Lqi, 0x20);

  r = DecodeRecord(1, 0x26, Bytes{0x02, 0x00, 0x99, 'h', 'i'});
  EXPECT_EQ(r.NetworkAddress, 2);
  EXPECT_EQ(r.Lqi, 0x99);
  EXPECT_EQ(r.Length, 2);
  EXPECT_EQ(r.Data[0], 'h');
  EXPECT_EQ(r.Data[1], 'i');
}

TEST(DecodeRecord, ShortPayloadsNeverReadPastTheirEnd) {
  // A Span larger than the data carried: only the carried bytes count.
  auto r = DecodeRecord(1, 0x13, Bytes{0, 0, 44, 1, 2, 3});
  EXPECT_EQ(r.Span, 3);
  EXPECT_EQ(r.Data[3], 0);
  r = DecodeRecord(1, 0x1A, Bytes{0, 1});
  EXPECT_EQ(r.NetworkAddress, 1);
  EXPECT_EQ(r.Span, 0);
  // RX Data / RX Event with fewer than the three header bytes: no data.
  for (std::uint8_t type : {std::uint8_t{0x26}, std::uint8_t{0x28}}) {
    r = DecodeRecord(1, type, Bytes{0x05});
    EXPECT_EQ(r.Length, 0);
    EXPECT_EQ(r.NetworkAddress, 5);
    r = DecodeRecord(1, type, {});
    EXPECT_EQ(r.Length, 0);
  }
  r = DecodeRecord(1, 0x15, {});
  EXPECT_EQ(r.TxStatus, 0);
  EXPECT_EQ(r.Lqi, 0);
}

// Runs bytes through an assembler, fed in pieces of `piece` bytes.
std::vector<Bytes> Assemble(const Bytes& stream, std::size_t piece = 0) {
  FrameAssembler a;
  std::vector<Bytes> frames;
  auto on = [&](const Frame& f) { frames.push_back(FrameBytes(f)); };
  if (piece == 0) piece = stream.size() ? stream.size() : 1;
  for (std::size_t i = 0; i < stream.size(); i += piece) {
    std::size_t n = std::min(piece, stream.size() - i);
    a.Feed(std::span<const std::uint8_t>(stream.data() + i, n), on);
  }
  return frames;
}

TEST(FrameAssembler, CutsFramesFromAStream) {
  const Bytes reply = {0xFB, 0x05, 0x01, 0x13, 0x00, 0x03, 0x00};
  const Bytes event = {0xFB, 0x05, 0x02, 0x28, 0x01, 0x80, 0x30};
  struct Case {
    const char* what;
    Bytes stream;
    std::vector<Bytes> frames;
  };
  const Case cases[] = {
      {"bytes before the first 0xFB", {0x00, 0x41, 0x13, 0xFA, 0xFB, 0x02, 0x01, 0x10}, {{0xFB, 0x02, 0x01, 0x10}}},
      {"two frames back to back", [&] { Bytes s = reply; s.insert(s.end(), event.begin(), event.end()); return s; }(),
       {reply, event}},
      {"0xFB inside a payload", {0xFB, 0x05, 0x01, 0x26, 0xFB, 0xFB, 0xFB, 0xFB, 0x02, 0x02, 0x11},
       {{0xFB, 0x05, 0x01, 0x26, 0xFB, 0xFB, 0xFB}, {0xFB, 0x02, 0x02, 0x11}}},
      {"length 101 dropped, next frame found", {0xFB, 101, 0x01, 0x13, 0xFB, 0x02, 0x03, 0x12}, {{0xFB, 0x02, 0x03, 0x12}}},
      {"length 255 dropped", {0xFB, 0xFF, 0xFB, 0x02, 0x03, 0x12}, {{0xFB, 0x02, 0x03, 0x12}}},
      {"length 0 dropped", {0xFB, 0x00, 0xFB, 0x02, 0x04, 0x14}, {{0xFB, 0x02, 0x04, 0x14}}},
      {"length 1 dropped", {0xFB, 0x01, 0x00, 0xFB, 0x02, 0x04, 0x14}, {{0xFB, 0x02, 0x04, 0x14}}},
      {"an unfinished frame yields nothing", {0xFB, 0x09, 0x01, 0x00, 'Q'}, {}},
  };
  for (const auto& c : cases) {
    for (std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
      SCOPED_TRACE(std::string(c.what) + " piece " + std::to_string(piece));
      EXPECT_EQ(Assemble(c.stream, piece), c.frames);
    }
  }
}

TEST(FrameAssembler, LongestFrameAndEmptyPayload) {
  Bytes longest = {0xFB, 100, 0x01, 0x26};
  for (int i = 0; i < 98; ++i) longest.push_back(static_cast<std::uint8_t>(i));
  EXPECT_EQ(Assemble(longest), std::vector<Bytes>{longest});

  // FB 02 s t is complete with its fourth byte.
  FrameAssembler a;
  EXPECT_FALSE(a.Push(0xFB));
  EXPECT_FALSE(a.Push(0x02));
  EXPECT_FALSE(a.Push(0x05));
  EXPECT_TRUE(a.Push(0x10));
  EXPECT_EQ(a.frame().size, 4u);
  EXPECT_EQ(a.frame().payloadSize(), 0u);
  EXPECT_TRUE(a.Idle());
}

}  // namespace
}  // namespace qmx
