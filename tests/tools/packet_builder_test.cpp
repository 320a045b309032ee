#include "tools/packet_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "link/frame.h"

namespace qmx {
namespace {

constexpr int kGetRegister = 3, kSetRegister = 4, kTxData = 5, kGetRemote = 6, kSetRemote = 7;

RawPacketView View(int choice, const PacketFields& fields, std::uint8_t sequence = 0) {
  return ComputeRawView(choice, PlanPacket(choice, fields), sequence);
}

TEST(PacketBuilderRawView, LengthCountsTheBytesTheFrameCarries) {
  // TXData carries the tokens typed (blanks at either end or doubled
  // separate like one); a register write carries Span bytes, the tokens cut
  // or followed by zeros.
  const struct {
    const char* value;
    const char* span;
    int count;
    const char* data;
  } values[] = {{"", "0", 0, "0x"},
                {"1 A2", "2", 2, "0x01A2"},
                {"  1   A2 ", "3", 2, "0x01A200"},
                {"01 A2 3", "1", 3, "0x01"}};
  for (const auto& v : values) {
    SCOPED_TRACE(v.value);
    const PacketFields fields{.spanText = v.span, .value = v.value};
    const std::size_t span = std::stoul(v.span);
    EXPECT_EQ(*View(kSetRegister, fields).length, PacketHex(5u + span));
    EXPECT_EQ(*View(kSetRegister, fields).data, v.data);
    EXPECT_EQ(*View(kTxData, fields).length, PacketHex(4u + v.count));
    EXPECT_EQ(*View(kSetRemote, fields).length, PacketHex(7u + span));
    EXPECT_EQ(*View(kGetRegister, fields).length, "0x05");
    EXPECT_EQ(PlanPacket(kSetRegister, fields).note.empty(), static_cast<int>(span) == v.count);
  }
}

TEST(PacketBuilderRawView, FieldsShowAsTheFrameHoldsThem) {
  const PacketFields fields{.registerText = "300", .bankText = "0x2", .spanText = "zz",
                            .networkAddressText = "0x1234", .value = "1 A2 ff"};
  const RawPacketView v = View(kSetRemote, fields, 0x7F);
  EXPECT_EQ(v.networkAddress, "0x3412");  // low byte first
  EXPECT_EQ(v.reg, "0x2C");               // the byte sent
  EXPECT_EQ(v.bank, "0x02");
  EXPECT_EQ(v.span, "0x00");  // not a number
  EXPECT_EQ(v.sequence, "0x7F");
  EXPECT_EQ(v.type, "0x0B");
  EXPECT_EQ(View(kTxData, fields).data, "0x01A2FF");
  EXPECT_EQ(View(0, fields).data, "0x514D5832343030");  // QMX2400
  EXPECT_EQ(View(0, fields).length, "0x09");
  EXPECT_FALSE(View(2, fields).data);
  // Typed text in the OP Code list: length and data stay as shown.
  EXPECT_FALSE(View(-1, fields).length);
}

// The raw view's number follows the command layer's counter, wrap included.
TEST(PacketBuilderRawView, SequenceAfterIsTheCountersNextNumber) {
  for (int last = 0; last < 256; ++last) {
    SequenceCounter counter;
    counter.Reset(static_cast<std::uint8_t>(last));
    EXPECT_EQ(SequenceAfter(static_cast<std::uint8_t>(last)), counter.NextSequenceNumber()) << last;
  }
}

// The message a choice's Transmit shows for the fields, or "" when it sends.
std::string Refusal(int choice, const PacketFields& fields) {
  const auto r = PrepareTransmit(choice, fields);
  return std::holds_alternative<PacketMessage>(r) ? std::get<PacketMessage>(r).text : "";
}

TEST(PacketBuilderTransmit, ChecksTheFieldsTheCommandSendsInOrder) {
  const PacketFields good{"0", "2", "3", "0x0001", "1 A2 3"};
  const std::string invalidData = "Invalid data.  Please check data and try again.";
  const std::string tooMuch = "Too much data.  This packet carries at most ";
  auto with = [&](auto change) {
    PacketFields f = good;
    change(f);
    return f;
  };
  const auto badValue = with([](PacketFields& f) { f.value = "1 G2 3"; });
  const auto badLast = with([](PacketFields& f) { f.value = "1 A2 G"; });
  // Not sent changed: 1FF is not FF.
  const auto notAByte = with([](PacketFields& f) { f.value = "1 1FF 0x3"; });
  const auto badAll = PacketFields{"r", "b", "s", "a", "v v"};
  const struct {
    int choice;
    PacketFields fields;
    std::string message;
  } cases[] = {
      {kSetRegister, badValue, invalidData},
      {kSetRegister, badLast, invalidData},
      {kTxData, badAll, invalidData},
      {kTxData, notAByte, invalidData},
      {kSetRemote, notAByte, invalidData},
      // A command that sends no data is not held up by a hidden value.
      {0, badAll, ""},
      {kGetRegister, badValue, ""},
      {kGetRegister, badAll, "Please check Register value and try again."},
      {kGetRegister, with([](PacketFields& f) { f.bankText = "x"; }), "Please check Bank value and try again."},
      {kSetRegister, with([](PacketFields& f) { f.spanText = "0x"; }), "Please check Span value and try again."},
      {kTxData, with([](PacketFields& f) { f.registerText = "?"; }), ""},
      {kTxData, with([](PacketFields& f) { f.networkAddressText = "0x12G4"; }),
       "Please check Network Address value and try again."},
      // The remote commands send register and address too: a typo must not
      // reach the radio at address 0.
      {kGetRemote, with([](PacketFields& f) { f.networkAddressText = ""; }),
       "Please check Network Address value and try again."},
      {kSetRemote, with([](PacketFields& f) { f.spanText = "one"; }), "Please check Span value and try again."},
      // Nor is an address beyond 16 bits sent as its low bits.
      {kTxData, with([](PacketFields& f) { f.networkAddressText = "0x10001"; }),
       "Please check Network Address value and try again."},
      {kSetRemote, with([](PacketFields& f) { f.networkAddressText = "-1"; }),
       "Please check Network Address value and try again."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.choice);
    EXPECT_EQ(Refusal(c.choice, c.fields), c.message);
  }
  EXPECT_EQ(std::get<PacketMessage>(PrepareTransmit(kSetRegister, badValue)).caption, "Invalid Data");
  EXPECT_EQ(std::get<PacketMessage>(PrepareTransmit(kTxData, badAll)).caption, "Invalid Data");
  // The note beside the fields names the first token that is no byte, before
  // any Span note.
  EXPECT_EQ(PlanPacket(kSetRegister, with([](PacketFields& f) { f.value = "1 1FF 0x3"; f.spanText = "1"; })).note,
            "1FF is not a byte");

  // The most data a frame carries: 100 bytes after the length byte.
  for (const auto& [choice, most] : {std::pair{kSetRegister, 95}, {kTxData, 96}, {kSetRemote, 93}}) {
    std::string value;
    for (int i = 0; i < most; ++i) value += "FF ";
    EXPECT_EQ(Refusal(choice, with([&](PacketFields& f) { f.value = value; })), "");
    EXPECT_EQ(Refusal(choice, with([&](PacketFields& f) { f.value = value + "1"; })),
              tooMuch + std::to_string(most) + " data bytes.");
  }

  // The largest Span: a write's own frame, or a read's reply, holds 100
  // bytes after its length byte. One more is refused with its own message.
  for (const auto& [choice, most, carrier] :
       {std::tuple{kGetRegister, 95, "The reply"}, {kSetRegister, 95, "This packet"}, {kGetRemote, 91, "The reply"},
        {kSetRemote, 93, "This packet"}}) {
    SCOPED_TRACE(choice);
    EXPECT_EQ(Refusal(choice, with([&](PacketFields& f) { f.spanText = std::to_string(most); })), "");
    // 300 is refused too, not sent as its low byte 44.
    for (int span : {most + 1, 300}) {
      const auto r = PrepareTransmit(choice, with([&](PacketFields& f) { f.spanText = std::to_string(span); }));
      ASSERT_TRUE(std::holds_alternative<PacketMessage>(r));
      EXPECT_EQ(std::get<PacketMessage>(r),
                (PacketMessage{std::string("Span too large.  ") + carrier + " carries at most " +
                                   std::to_string(most) + " data bytes.",
                               "Span Too Large"}));
    }
  }

  const auto rec = std::get<PacketRecord>(PrepareTransmit(kTxData, with([](PacketFields& f) { f.value = "1 A2 "; })));
  EXPECT_EQ(rec.Length, 2);
  EXPECT_EQ(rec.Data[0], 0x01);
  EXPECT_EQ(rec.Data[1], 0xA2);
  EXPECT_EQ(rec.NetworkAddress, 1);
}

TEST(PacketBuilderTransmit, RepliesThatShowLittle) {
  PacketRecord reply;
  reply.PacketType = ptype::GetRegisterReply;
  reply.Length = 3;
  EXPECT_EQ(DescribeReply(kGetRegister, reply).log, (std::vector<std::string>{"Get Register Successful.", "Data={}"}));
  EXPECT_EQ(DescribeReply(kGetRegister, reply).data, "0x");
  reply.TxStatus = 3;
  EXPECT_EQ(DescribeReply(kTxData, reply).log, std::vector<std::string>{"TX Data Successful."});
  EXPECT_EQ(DescribeReply(kTxData, reply).txStatus, "0x03");
}

}  // namespace
}  // namespace qmx
