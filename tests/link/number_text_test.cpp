// Lenient conversion of typed numbers, and the hex display of values.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "link/number_text.h"

namespace qmx {
namespace {

TEST(TextToInt, AcceptedForms) {
  struct Case {
    const char* text;
    std::int32_t value;
  };
  const Case cases[] = {
      {"0", 0},           {"42", 42},          {"  42", 42},         {"\t-17", -17},      {"+5", 5},
      {"0x1FF", 0x1FF},   {"0X1ff", 0x1FF},    {"x10", 16},          {"X10", 16},         {"$fF", 255},
      {"-0x10", -16},     {" $8001", 0x8001},  {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
      {"0xFFFFFFFF", -1}, {"0x80000000", INT32_MIN}, {"0x000000001", 1}, {"007", 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t v = 99;
    EXPECT_TRUE(TryTextToInt(c.text, v));
    EXPECT_EQ(v, c.value);
  }
}

TEST(TextToInt, NotANumberGivesTheFallback) {
  for (const char* text : {"", "   ", "-", "+", "0x", "$", "x", "12a", "1 2", "12 ", "0x1G", "--1", "+-1", "1.5",
                           "2147483648", "-2147483649", "99999999999", "0x123456789", "abc", "0x-1"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(TextToInt(text, -7), -7);
    EXPECT_EQ(TextToInt(text), 0);
  }
}

TEST(HexText, PaddedUpperCase) {
  EXPECT_EQ(HexText(0x0A, 2), "0x0A");
  EXPECT_EQ(HexText(0x1FF, 2), "0xFF");  // low digits only
  EXPECT_EQ(HexText(0x8001, 4), "0x8001");
  EXPECT_EQ(HexText(0xDEADBEEF, 8), "0xDEADBEEF");
  EXPECT_EQ(HexText(5, 8), "0x00000005");
  EXPECT_EQ(Hex2(0x0F), "0F");
}

// A typed network address is a number from 0 to 0xFFFF in any of the
// lenient forms; anything else is none, never 0x0000 or its low 16 bits.
TEST(NetworkAddressFromText, WellFormedTextOnly) {
  for (const auto& [text, address] : {std::pair{"0x0001", 1}, {"1", 1}, {"$1", 1}, {" x1F", 0x1F}, {"65535", 0xFFFF},
                                      {"0xFFFF", 0xFFFF}, {"0", 0}}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(NetworkAddressFromText(text), std::optional<std::uint16_t>(address));
    EXPECT_EQ(NetworkAddressProblem(text), "");
  }
  for (const char* text : {"", "  ", "zz", "0x", "0x10000", "65536", "-1", "0xFFFFFFFF", "0x0001 "}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(NetworkAddressFromText(text), std::nullopt);
    EXPECT_NE(NetworkAddressProblem(text), "");
  }
  EXPECT_EQ(NetworkAddressProblem(" "), "No network address.  Please enter the radio's address, 0x0000 to 0xFFFF.");
  EXPECT_EQ(NetworkAddressProblem("0x10000"),
            "\"0x10000\" is not a network address.  Please enter a number from 0x0000 to 0xFFFF.");
  EXPECT_EQ(NetworkAddressProblem(std::string(30, '9')).substr(0, 25), "\"" + std::string(20, '9') + "...\"");
}

TEST(HexByte, OneOrTwoHexDigits) {
  EXPECT_EQ(HexByte("a"), 0x0A);
  EXPECT_EQ(HexByte("Ff"), 0xFF);
  EXPECT_EQ(HexByte("00"), 0x00);
  for (const char* token : {"", "1FF", "zz", "0x1", "-1", " 1", "g"}) EXPECT_EQ(HexByte(token), std::nullopt) << token;
}

}  // namespace
}  // namespace qmx
