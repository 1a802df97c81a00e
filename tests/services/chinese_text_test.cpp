#include "services/chinese_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// 中国软件 in GBK, 中國軟件 in GBK and in Big5.
const std::string kGbkSimplified = "\xD6\xD0\xB9\xFA\xC8\xED\xBC\xFE";
const std::string kGbkTraditional = "\xD6\xD0\x87\xF8\xDC\x9B\xBC\xFE";
const std::string kBig5Traditional = "\xA4\xA4\xB0\xEA\xB3\x6E\xA5\xF3";

bool SystemMapsToTraditional() {
  wchar_t out[4] = {};
  return ::LCMapStringW(2052, LCMAP_TRADITIONAL_CHINESE, L"国", 1, out, 4) == 1 && out[0] == L'國';
}

// Runs convert on text in a buffer of 32 bytes; returns the text left there.
std::string Convert(void (*convert)(LPSTR, int), const std::string& text) {
  std::string buffer = text;
  buffer.resize(32, '\0');
  convert(buffer.data(), 32);
  return buffer.c_str();
}

TEST(Traditional, Gb2BigRecodesToBig5WithinTheRoom) {
  // Room for two characters and the terminator only: the result is cut, never overrun.
  std::string text = kGbkTraditional + std::string(1, '\0') + "guard";
  gb2big(text.data(), 5);
  EXPECT_EQ(kBig5Traditional.substr(0, 4), std::string(text.c_str()));
  EXPECT_EQ("guard", text.substr(9));
  EXPECT_EQ("", Convert(&gb2big, ""));
  EXPECT_EQ(kBig5Traditional, Convert(&gb2big, kGbkTraditional));
  if (!SystemMapsToTraditional()) {
    std::printf("SKIPPED: LCMapString has no simplified-to-traditional mapping here; "
                "checking the GBK-to-Big5 recoding of traditional text only\n");
    GTEST_SKIP();
  }
  EXPECT_EQ(kBig5Traditional + "v2", Convert(&gb2big, kGbkSimplified + "v2"));
}

TEST(Traditional, GbToTraditionalRecodesOnlyOnABig5System) {
  const std::string want = ::GetACP() == 950 ? kBig5Traditional : kGbkTraditional;
  EXPECT_EQ(want, Convert(&GbToTraditional, kGbkTraditional)) << "code page " << ::GetACP();
  EXPECT_EQ("Setup 1.0", Convert(&GbToTraditional, "Setup 1.0"));
  if (!SystemMapsToTraditional()) {
    std::printf("SKIPPED: LCMapString has no simplified-to-traditional mapping here\n");
    GTEST_SKIP();
  }
  EXPECT_EQ(want, Convert(&GbToTraditional, kGbkSimplified));
}

TEST(Traditional, RunsOnTheCodePageAsked) {
  const char* expected = std::getenv("KV_EXPECT_ACP");
  EXPECT_EQ(expected ? static_cast<UINT>(std::atoi(expected)) : 936u, ::GetACP());
}

TEST(CharacterClass, IsDigitalAndIsHZ) {
  for (const char* yes : {"123", "0987654321", ""}) EXPECT_EQ(1, isDigital(yes)) << yes;
  for (const char* no : {"12a", "-1", "1 2"}) EXPECT_EQ(0, isDigital(no)) << no;
  EXPECT_EQ(0, isDigital(nullptr));
  // 中, 中国软件, and row A1 (symbols, still a lead byte above A0).
  for (const char* yes : {"\xD6\xD0", kGbkSimplified.c_str(), "\xA1\xA1"}) EXPECT_EQ(1, isHZ(yes));
  // Full-width comma (row A3), A0, one byte, odd length, ASCII, empty.
  for (const char* no : {"\xA3\xAC", "\xA0\xA1", "\xD6", "\xD6\xD0" "a", "ab", ""})
    EXPECT_EQ(0, isHZ(no)) << no;
  EXPECT_EQ(0, isHZ(nullptr));
}

}  // namespace
