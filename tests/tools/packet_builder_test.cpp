#include "tools/packet_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace qmx {
namespace {

constexpr int kGetRegister = 3, kSetRegister = 4, kTxData = 5, kGetRemote = 6, kSetRemote = 7;

TEST(PacketBuilderRawView, LengthCountsTheTokensTheFrameCarries) {
  // Only the commands that send "Value" add its bytes; blanks at either end
  // or doubled separate like one, as the sent frame does.
  const struct {
    const char* value;
    int count;
  } values[] = {{"", 0}, {"1 A2", 2}, {"  1   A2 ", 2}, {"01 A2 3", 3}};
  for (const auto& v : values) {
    SCOPED_TRACE(v.value);
    EXPECT_EQ(DataByteCount(v.value), v.count);
    const PacketFields fields{.value = v.value};
    EXPECT_EQ(*ComputeRawView(kSetRegister, fields, v.count, 0).length, PacketHex(5u + v.count));
    EXPECT_EQ(*ComputeRawView(kTxData, fields, v.count, 0).length, PacketHex(4u + v.count));
    EXPECT_EQ(*ComputeRawView(kSetRemote, fields, v.count, 0).length, PacketHex(7u + v.count));
    EXPECT_EQ(*ComputeRawView(kGetRegister, fields, v.count, 0).length, "0x05");
  }
}

TEST(PacketBuilderRawView, FieldsShowAsTheFrameHoldsThem) {
  const PacketFields fields{.registerText = "300", .bankText = "0x2", .spanText = "zz",
                            .networkAddressText = "0x1234", .value = "1 A2 ff"};
  const RawPacketView v = ComputeRawView(kSetRemote, fields, 3, 0x7F);
  EXPECT_EQ(v.networkAddress, "0x3412");  // low byte first
  EXPECT_EQ(v.data, "0x01A2ff");          // tokens as typed, one digit padded
  EXPECT_EQ(v.reg, "0x2C");               // the byte sent
  EXPECT_EQ(v.bank, "0x02");
  EXPECT_EQ(v.span, "0x00");  // not a number
  EXPECT_EQ(v.sequence, "0x7F");
  EXPECT_EQ(v.type, "0x0B");
  EXPECT_EQ(ComputeRawView(0, fields, 3, 0).data, "0x514D5832343030");  // QMX2400
  EXPECT_EQ(ComputeRawView(0, fields, 3, 0).length, "0x09");
  EXPECT_FALSE(ComputeRawView(2, fields, 3, 0).data);
  // Typed text in the OP Code list: length and data stay as shown.
  EXPECT_FALSE(ComputeRawView(-1, fields, 3, 0).length);
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
  const auto badAll = PacketFields{"r", "b", "s", "a", "v v"};
  const struct {
    int choice;
    PacketFields fields;
    std::string message;
  } cases[] = {
      {kSetRegister, badValue, invalidData},
      {kSetRegister, badLast, invalidData},
      {kTxData, badAll, invalidData},
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.choice);
    EXPECT_EQ(Refusal(c.choice, c.fields), c.message);
  }
  EXPECT_EQ(std::get<PacketMessage>(PrepareTransmit(kSetRegister, badValue)).caption, "Invalid Data");
  EXPECT_EQ(std::get<PacketMessage>(PrepareTransmit(kTxData, badAll)).caption, "Invalid Data");

  // The most data a frame carries: 100 bytes after the length byte.
  for (const auto& [choice, most] : {std::pair{kSetRegister, 95}, {kTxData, 96}, {kSetRemote, 93}}) {
    std::string value;
    for (int i = 0; i < most; ++i) value += "FF ";
    EXPECT_EQ(Refusal(choice, with([&](PacketFields& f) { f.value = value; })), "");
    EXPECT_EQ(Refusal(choice, with([&](PacketFields& f) { f.value = value + "1"; })),
              tooMuch + std::to_string(most) + " data bytes.");
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
