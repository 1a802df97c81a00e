#include "services/chinese_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// GBK and Big5 bytes of the texts used below (each character two bytes).
const std::string kGbkSimplified = "\xD6\xD0\xB9\xFA\xC8\xED\xBC\xFE";  // 中国软件
const std::string kGbkTraditional = "\xD6\xD0\x87\xF8\xDC\x9B\xBC\xFE";  // 中國軟件
const std::string kBig5Traditional = "\xA4\xA4\xB0\xEA\xB3\x6E\xA5\xF3";  // 中國軟件

// Whether this system maps simplified to traditional characters at all.
bool SystemMapsToTraditional() {
  wchar_t out[4] = {};
  const int n = ::LCMapStringW(2052, LCMAP_TRADITIONAL_CHINESE, L"国", 1, out, 4);
  return n == 1 && out[0] == L'國';
}

std::string Buffer(const std::string& text, size_t room) {
  std::string buffer = text;
  buffer.resize(room, '\0');
  return buffer;
}

TEST(Traditional, Gb2BigMapsAndRecodesToBig5) {
  if (!SystemMapsToTraditional()) {
    std::printf("SKIPPED: LCMapString has no simplified-to-traditional mapping here; "
                "checking the GBK-to-Big5 recoding of traditional text only\n");
    std::string already = Buffer(kGbkTraditional, 32);
    gb2big(already.data(), 32);
    EXPECT_EQ(kBig5Traditional, std::string(already.c_str()));
    GTEST_SKIP();
  }
  std::string text = Buffer(kGbkSimplified + "v2", 32);
  gb2big(text.data(), 32);
  EXPECT_EQ(kBig5Traditional + "v2", std::string(text.c_str()));
}

TEST(Traditional, Gb2BigCutsToTheRoom) {
  // Room for two characters and the terminator only: the result is cut, never overrun.
  std::string text = kGbkTraditional + std::string(1, '\0') + "guard";
  gb2big(text.data(), 5);
  EXPECT_EQ(kBig5Traditional.substr(0, 4), std::string(text.c_str()));
  EXPECT_EQ("guard", text.substr(9));
  std::string empty(4, '\0');
  gb2big(empty.data(), 4);
  EXPECT_EQ("", std::string(empty.c_str()));
}

TEST(Traditional, GbToTraditionalKeepsGbkUnlessTheSystemIsBig5) {
  // Text that is traditional already needs no mapping: only the encoding can change.
  std::string text = Buffer(kGbkTraditional, 32);
  GbToTraditional(text.data(), 32);
  if (::GetACP() == 950)
    EXPECT_EQ(kBig5Traditional, std::string(text.c_str()));
  else
    EXPECT_EQ(kGbkTraditional, std::string(text.c_str())) << "code page " << ::GetACP();
  // Plain ASCII passes through whatever the code page.
  std::string ascii = Buffer("Setup 1.0", 16);
  GbToTraditional(ascii.data(), 16);
  EXPECT_EQ("Setup 1.0", std::string(ascii.c_str()));
}

TEST(Traditional, GbToTraditionalMapsSimplifiedCharacters) {
  if (!SystemMapsToTraditional()) {
    std::printf("SKIPPED: LCMapString has no simplified-to-traditional mapping here\n");
    GTEST_SKIP();
  }
  std::string text = Buffer(kGbkSimplified, 32);
  GbToTraditional(text.data(), 32);
  EXPECT_EQ(::GetACP() == 950 ? kBig5Traditional : kGbkTraditional, std::string(text.c_str()));
}

TEST(Traditional, RunsOnTheCodePageAsked) {
  // The test runs again under other code pages; make sure each run got the one it asked for.
  char expected[16] = {};
  if (!::GetEnvironmentVariableA("KV_EXPECT_ACP", expected, sizeof(expected))) {
    EXPECT_EQ(936u, ::GetACP());
    return;
  }
  EXPECT_EQ(static_cast<UINT>(std::atoi(expected)), ::GetACP());
}

TEST(CharacterClass, IsDigital) {
  EXPECT_EQ(1, isDigital("123"));
  EXPECT_EQ(1, isDigital("0987654321"));
  EXPECT_EQ(0, isDigital("12a"));
  EXPECT_EQ(0, isDigital("-1"));
  EXPECT_EQ(0, isDigital("1 2"));
  EXPECT_EQ(1, isDigital(""));
  EXPECT_EQ(0, isDigital(nullptr));
}

TEST(CharacterClass, IsHZ) {
  EXPECT_EQ(1, isHZ("\xD6\xD0"));                 // 中
  EXPECT_EQ(1, isHZ(kGbkSimplified.c_str()));
  EXPECT_EQ(1, isHZ("\xA1\xA1"));                 // symbol row A1: still a lead byte above A0
  EXPECT_EQ(0, isHZ("\xA3\xAC"));                 // full-width comma, row A3
  EXPECT_EQ(0, isHZ("\xA0\xA1"));
  EXPECT_EQ(0, isHZ("\xD6"));                     // one byte
  EXPECT_EQ(0, isHZ("\xD6\xD0" "a"));             // odd length
  EXPECT_EQ(0, isHZ("ab"));
  EXPECT_EQ(0, isHZ(""));
  EXPECT_EQ(0, isHZ(nullptr));
}

}  // namespace
