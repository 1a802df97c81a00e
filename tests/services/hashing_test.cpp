#include "services/hashing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "tests/support/shared_helpers.h"
#include "tests/support/test_support.h"

namespace {

constexpr char kGuard = '#';

// Runs MD5Go on a copy of text in a buffer of the digest's room (or the text's, when longer) and
// a guard behind it; returns the buffer's text.
std::string Md5Go(const std::string& text, const char* key = nullptr) {
  const size_t room = std::max<size_t>(text.size() + 1, kMd5HexRoom);
  std::string buffer = text + std::string(room - text.size(), '\0') + std::string(4, kGuard);
  EXPECT_EQ(1, MD5Go(buffer.data(), key));
  EXPECT_EQ(std::string(4, kGuard), buffer.substr(room)) << "written past the room";
  return buffer.c_str();
}

const std::string kDigits80 =
    "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
const char kKey[] = "\x13\x34\x57\x79\x9b\xbc\xdf\xf1";  // the textbook DES key
const std::string kBlock = "\x01\x23\x45\x67\x89\xab\xcd\xef";

TEST(Md5, PublishedVectorsInUpperCase) {
  const std::string k16(16, '\x0b'), aa16(16, '\xaa'), aa80(80, '\xaa');
  struct Row { std::string text; const char* key; const char* digest; };
  const Row rows[] = {
      {"", nullptr, "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", nullptr, "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", nullptr, "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", nullptr, "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", nullptr, "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", nullptr,
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {kDigits80, nullptr, "57EDF4A22BE3C955AC49DA2E2107B67A"},
      // HMAC-MD5; keys longer than the 64-byte block are replaced by their digest first.
      {"Hi There", k16.c_str(), "9294727A3638BB1C13F48EF8158BFC9D"},
      {"what do ya want for nothing?", "Jefe", "750C783E6AB0B503EAA86E310A5DB738"},
      {std::string(50, '\xdd'), aa16.c_str(), "56BE34521D144C88DBB8C733F0E8B3F6"},
      {"Test Using Larger Than Block-Size Key - Hash Key First", aa80.c_str(),
       "6B1AB7FE4BD7BF8F0B62E6CE61B9D0CD"},
      {"Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data", aa80.c_str(),
       "6F630FAD67CDA0EE1FB1F562DB3AA53E"},
      {"", "", "74E6F7298A9C2D168935F58C001BAD88"},  // an empty key is a key: HMAC
  };
  for (const Row& r : rows) EXPECT_EQ(r.digest, Md5Go(r.text, r.key)) << r.text.substr(0, 20);
  EXPECT_EQ(0, MD5Go(nullptr, nullptr));
}

TEST(Md5, EngineStreamsAndWipesItsState) {
  CMd5A md5;
  size_t at = 0;
  for (size_t piece : {1u, 62u, 2u, 7u, 8u}) {  // pieces straddling block boundaries every way
    md5.Update(kDigits80.data() + at, static_cast<unsigned>(piece));
    at += piece;
  }
  unsigned char digest[CMd5A::kDigestBytes];
  auto hex = [&] { return kvtest::Hex(std::string(reinterpret_cast<char*>(digest), sizeof(digest))); };
  md5.Final(digest);
  EXPECT_EQ("57EDF4A22BE3C955AC49DA2E2107B67A", hex());
  // After a digest nothing of the message or the chaining state is left behind the vtable pointer.
  unsigned char image[sizeof(CMd5A)];
  std::memcpy(image, static_cast<const void*>(&md5), sizeof(image));
  for (size_t i = sizeof(void*); i < sizeof(image); ++i) ASSERT_EQ(0, image[i]) << "byte " << i;
  md5.Init();
  md5.Update("abc", 3);
  md5.Final(digest);
  EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72", hex());
}

TEST(Scrambling, PositionPlusEightInMemoryAndOverAWholeFile) {
  std::string run(600, '\0');
  EasyEncode(run.data(), static_cast<int>(run.size()));
  EXPECT_EQ("08090A0B", kvtest::Hex(run.substr(0, 4)));
  EXPECT_EQ("FEFF0001", kvtest::Hex(run.substr(246, 4)));  // modulo 256
  EXPECT_EQ("08", kvtest::Hex(run.substr(256, 1)));
  EasyEncode(run.data(), static_cast<int>(run.size()));
  EXPECT_EQ(std::string(600, '\0'), run);
  EasyEncode(nullptr, 10);  // ignored

  // The file form is one run over the whole file, not one per piece read.
  const std::wstring dir = kvtest::FreshDir(L"hashing_files");
  auto encode = [&](const wchar_t* from, const wchar_t* to) { return KvEncodeFile((dir + from).c_str(), (dir + to).c_str()); };
  std::string original;
  for (int i = 0; i < 3000; ++i) original.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
  kvtest::WriteText(dir + L"plain.bin", original);
  ASSERT_EQ(1, encode(L"plain.bin", L"coded.bin"));
  std::string whole = original;
  EasyEncode(whole.data(), static_cast<int>(whole.size()));
  EXPECT_EQ(kvtest::Hex(whole), kvtest::Hex(kvtest::ReadBytes(dir + L"coded.bin")));
  kvtest::WriteText(dir + L"back.bin", std::string(5000, 'x'));  // an existing target is truncated
  ASSERT_EQ(1, encode(L"coded.bin", L"back.bin"));
  EXPECT_EQ(original, kvtest::ReadBytes(dir + L"back.bin"));
  kvtest::WriteText(dir + L"empty.bin", "");
  EXPECT_EQ(1, encode(L"empty.bin", L"empty.out"));
  EXPECT_TRUE(kvtest::Exists(dir + L"empty.out"));
  EXPECT_EQ("", kvtest::ReadBytes(dir + L"empty.out"));
  // Either file unopenable: 0, and no target made for an absent source.
  EXPECT_EQ(0, encode(L"absent.bin", L"out.bin"));
  EXPECT_FALSE(kvtest::Exists(dir + L"out.bin"));
  EXPECT_EQ(0, encode(L"plain.bin", L"no\\such\\folder\\out.bin"));
  // The same file as source and target, under any spelling, is refused before it is emptied.
  for (const std::wstring& same : {dir + L"plain.bin", dir + L"PLAIN.BIN", dir + L"..\\hashing_files\\plain.bin",
                                   dir.substr(0, dir.size() - 1) + L"/./plain.bin"}) {
    EXPECT_EQ(0, KvEncodeFile((dir + L"plain.bin").c_str(), same.c_str())) << kvtest::Utf8(same);
    EXPECT_EQ(original, kvtest::ReadBytes(dir + L"plain.bin")) << kvtest::Utf8(same);
  }
  // A write that fails on the way is a failure.
  if (kvtest::FullDevice().empty()) GTEST_SKIP() << "no device whose writes fail for want of room";
  EXPECT_EQ(0, KvEncodeFile((dir + L"plain.bin").c_str(), kvtest::FullDevice().c_str()));
}

TEST(Hex, BothWays) {
  char buffer[6] = {'\x0a', '\xff', 'z', 'z', 'z', kGuard};
  ToHex(buffer, 2);  // 2 * 2 + 1 bytes
  EXPECT_STREQ("0AFF", buffer);
  EXPECT_EQ(kGuard, buffer[5]);
  ToAsc(buffer, 4);
  EXPECT_EQ(std::string("\x0a\xff\0", 3), std::string(buffer, 3));
  std::string bytes(256, '\0');
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
  std::string all = bytes + std::string(257, '\0');
  ToHex(all.data(), 256);
  EXPECT_EQ(kvtest::Hex(bytes) + '\0', all.substr(0, 513));
  ToAsc(all.data(), 512);
  EXPECT_EQ(bytes + '\0', all.substr(0, 257));
  char odd[] = "41425";  // an odd length converts the whole pairs only
  ToAsc(odd, 5);
  EXPECT_STREQ("AB", odd);
}

TEST(PrintableCipher, KnownAnswerAndTail) {
  // The published DES answer 85E813540F0AB405 scrambled with 08 09 0A ... 0F; the tail ("ABCD",
  // outside whole blocks) is only scrambled, with 10 11 12 13.
  char buffer[26] = {};
  buffer[25] = kGuard;
  const std::string plain = kBlock + "ABCD";
  plain.copy(buffer, plain.size());
  KvEncode(kKey, buffer, 12, 1);  // 2 * 12 + 1 bytes
  EXPECT_STREQ("8DE1195F0307BA0A" "51535157", buffer);
  EXPECT_EQ(kGuard, buffer[25]);
  KvEncode(kKey, buffer, 24, 0);
  EXPECT_EQ(plain + '\0', std::string(buffer, 13));
  // Every length from 0 to 40 goes to 2n hexadecimal digits and back.
  for (int n = 0; n <= 40; ++n) {
    std::string text;
    for (int i = 0; i < n; ++i) text.push_back(static_cast<char>(i * 29 + n));
    std::string data = text + std::string(n + 1, '\0');
    KvEncode("kvKey123", data.data(), n, 1);
    ASSERT_EQ(std::string::npos, std::string(data.c_str()).find_first_not_of("0123456789ABCDEF")) << n;
    ASSERT_EQ(static_cast<size_t>(2 * n), std::strlen(data.c_str())) << n;
    KvEncode("kvKey123", data.data(), 2 * n, 0);
    ASSERT_EQ(text + '\0', data.substr(0, n + 1)) << n;
  }
}

}  // namespace
