#include "services/des.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/shared_helpers.h"

namespace {

std::string Des(const std::string& key_hex, const std::string& data_hex, int direction) {
  const std::string key = kvtest::FromHex(key_hex);
  std::string data = kvtest::FromHex(data_hex);
  DesGo(key.data(), data.data(), static_cast<int>(data.size()), direction);
  return kvtest::Hex(data);
}

// Published known answers {key, plain, cipher}: the three-block ECB example of the DES modes
// standard, variable plaintext and variable key tests (one bit set), and the textbook example.
constexpr const char* kKnownAnswers[][3] = {
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0123456789ABCDEF", "68652074696D6520", "6A271787AB8883F9"},
    {"0123456789ABCDEF", "666F7220616C6C20", "893D51EC4B563B53"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
    {"0101010101010101", "1000000000000000", "4BD388FF6CD81D4F"},
    {"0101010101010101", "0800000000000000", "20B9E767B2FB1456"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"2001010101010101", "0000000000000000", "7AD16FFB79C45926"},
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
};

TEST(Des, KnownAnswersBothWays) {
  for (const auto& a : kKnownAnswers) {
    EXPECT_EQ(a[2], Des(a[0], a[1], 1)) << a[0] << " " << a[1];
    EXPECT_EQ(a[1], Des(a[0], a[2], 0)) << a[0] << " " << a[2];
  }
}

TEST(Des, BlocksParityBitsAndTail) {
  // "Now is the time for all " in one call: each block on its own.
  EXPECT_EQ("3FA40E8A984D48156A271787AB8883F9893D51EC4B563B53",
            Des("0123456789ABCDEF", "4E6F77206973207468652074696D6520666F7220616C6C20", 1));
  // Flipping the low (parity) bit of every key byte leaves the 56 key bits as they were.
  EXPECT_EQ("85E813540F0AB405", Des("123556789ABDDEF0", "0123456789ABCDEF", 1));
  EXPECT_EQ("95F8A5E5DD31D900", Des("0000000000000000", "8000000000000000", 1));
  // Bytes after the last whole block stay as they are.
  EXPECT_EQ("85E813540F0AB405" "A1B2C3", Des("133457799BBCDFF1", "0123456789ABCDEF" "A1B2C3", 1));
  EXPECT_EQ("01020304050607", Des("133457799BBCDFF1", "01020304050607", 1));
  EXPECT_EQ("", Des("133457799BBCDFF1", "", 1));
  DesGo(nullptr, nullptr, 8, 1);  // ignored
}

}  // namespace
