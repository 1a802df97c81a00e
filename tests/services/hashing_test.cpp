#include "services/hashing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "services/des.h"
#include "tests/support/test_support.h"

namespace {

// Runs MD5Go on a copy of text in a buffer with room for the digest; returns the buffer's text.
std::string Md5Go(const std::string& text, const char* key = nullptr) {
  std::string buffer = text;
  buffer.resize(std::max<size_t>(text.size() + 1, kMd5HexRoom), '\0');
  EXPECT_EQ(1, MD5Go(buffer.data(), key, static_cast<int>(buffer.size())));
  return buffer.c_str();
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Md5, PublishedTestSuiteInUpperCase) {
  EXPECT_EQ("D41D8CD98F00B204E9800998ECF8427E", Md5Go(""));
  EXPECT_EQ("0CC175B9C0F1B6A831C399E269772661", Md5Go("a"));
  EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72", Md5Go("abc"));
  EXPECT_EQ("F96B697D7CB7938D525A2F31AAF161D0", Md5Go("message digest"));
  EXPECT_EQ("C3FCD3D76192E4007DFB496CCA67E13B", Md5Go("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("D174AB98D277D9F5A5611C2C9F419D9F",
            Md5Go("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
  EXPECT_EQ("57EDF4A22BE3C955AC49DA2E2107B67A",
            Md5Go("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
}

TEST(Md5, PublishedHmacVectors) {
  EXPECT_EQ("9294727A3638BB1C13F48EF8158BFC9D", Md5Go("Hi There", std::string(16, '\x0b').c_str()));
  EXPECT_EQ("750C783E6AB0B503EAA86E310A5DB738", Md5Go("what do ya want for nothing?", "Jefe"));
  EXPECT_EQ("56BE34521D144C88DBB8C733F0E8B3F6",
            Md5Go(std::string(50, '\xdd'), std::string(16, '\xaa').c_str()));
  // Keys longer than the 64-byte block are replaced by their digest first.
  const std::string long_key(80, '\xaa');
  EXPECT_EQ("6B1AB7FE4BD7BF8F0B62E6CE61B9D0CD",
            Md5Go("Test Using Larger Than Block-Size Key - Hash Key First", long_key.c_str()));
  EXPECT_EQ("6F630FAD67CDA0EE1FB1F562DB3AA53E",
            Md5Go("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
                  long_key.c_str()));
  // An empty key is a key: HMAC, not the plain digest.
  EXPECT_EQ("74E6F7298A9C2D168935F58C001BAD88", Md5Go("", ""));
}

TEST(Md5, RefusesWithoutRoomOrText) {
  char small[32] = "abc";
  EXPECT_EQ(0, MD5Go(small, nullptr, sizeof(small)));
  EXPECT_STREQ("abc", small);
  EXPECT_EQ(0, MD5Go(nullptr, nullptr));
  char exact[kMd5HexRoom] = "abc";
  EXPECT_EQ(1, MD5Go(exact, nullptr));
  EXPECT_STREQ("900150983CD24FB0D6963F7D28E17F72", exact);
}

TEST(Md5, EngineStreamsAndWipesItsState) {
  const std::string text = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  CMd5A md5;
  // Pieces that straddle block boundaries in every way.
  size_t at = 0;
  for (size_t piece : {1u, 62u, 2u, 7u, 8u}) {
    md5.Update(text.data() + at, static_cast<unsigned>(piece));
    at += piece;
  }
  unsigned char digest[CMd5A::kDigestBytes];
  md5.Final(digest);
  EXPECT_EQ(0x57, digest[0]);
  EXPECT_EQ(0x7A, digest[15]);

  // After a digest nothing of the message or the chaining state is left behind the vtable pointer.
  unsigned char image[sizeof(CMd5A)];
  std::memcpy(image, static_cast<const void*>(&md5), sizeof(image));
  for (size_t i = sizeof(void*); i < sizeof(image); ++i) ASSERT_EQ(0, image[i]) << "byte " << i;

  md5.Init();
  md5.Update("abc", 3);
  md5.Final(digest);
  EXPECT_EQ(0x90, digest[0]);
  EXPECT_EQ(0x72, digest[15]);
}

TEST(Scrambling, EasyEncodeXorsWithPositionPlusEight) {
  char four[4] = {0, 0, 0, 0};
  EasyEncode(four, 4);
  EXPECT_EQ(Bytes({0x08, 0x09, 0x0A, 0x0B}), std::string(four, 4));

  std::string long_run(600, '\x5a');
  EasyEncode(long_run.data(), static_cast<int>(long_run.size()));
  for (int i = 0; i < 600; ++i)
    ASSERT_EQ(static_cast<unsigned char>(0x5a ^ ((i + 8) & 0xFF)), static_cast<unsigned char>(long_run[i]));
  EasyEncode(long_run.data(), static_cast<int>(long_run.size()));
  EXPECT_EQ(std::string(600, '\x5a'), long_run);
  EasyEncode(nullptr, 10);  // ignored
}

TEST(Scrambling, FileFormIsOneRunOverTheWholeFile) {
  const std::wstring dir = kvtest::FreshDir(L"hashing_files");
  std::string original;
  for (int i = 0; i < 3000; ++i) original.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
  kvtest::WriteText(dir + L"plain.bin", original);

  ASSERT_EQ(1, KvEncodeFile((dir + L"plain.bin").c_str(), (dir + L"coded.bin").c_str()));
  const std::string coded = ReadAll(dir + L"coded.bin");
  ASSERT_EQ(original.size(), coded.size());
  for (size_t n = 0; n < coded.size(); ++n)
    ASSERT_EQ(static_cast<unsigned char>(original[n] ^ ((n + 8) & 0xFF)), static_cast<unsigned char>(coded[n]))
        << "byte " << n;

  // Twice gives back the start; an existing target is truncated.
  kvtest::WriteText(dir + L"back.bin", std::string(5000, 'x'));
  ASSERT_EQ(1, KvEncodeFile((dir + L"coded.bin").c_str(), (dir + L"back.bin").c_str()));
  EXPECT_EQ(original, ReadAll(dir + L"back.bin"));

  kvtest::WriteText(dir + L"empty.bin", "");
  EXPECT_EQ(1, KvEncodeFile((dir + L"empty.bin").c_str(), (dir + L"empty.out").c_str()));
  EXPECT_TRUE(kvtest::Exists(dir + L"empty.out"));
  EXPECT_EQ("", ReadAll(dir + L"empty.out"));
}

TEST(Scrambling, FileFormFailsWhenAFileCannotBeOpened) {
  const std::wstring dir = kvtest::FreshDir(L"hashing_nofile");
  EXPECT_EQ(0, KvEncodeFile((dir + L"absent.bin").c_str(), (dir + L"out.bin").c_str()));
  EXPECT_FALSE(kvtest::Exists(dir + L"out.bin"));
  kvtest::WriteText(dir + L"in.bin", "data");
  EXPECT_EQ(0, KvEncodeFile((dir + L"in.bin").c_str(), (dir + L"no\\such\\folder\\out.bin").c_str()));
}

TEST(Hex, BothWays) {
  char buffer[5] = {'\x0a', '\xff'};
  ToHex(buffer, 2, sizeof(buffer));
  EXPECT_STREQ("0AFF", buffer);
  ToAsc(buffer, 4);
  EXPECT_EQ(Bytes({0x0A, 0xFF, 0x00}), std::string(buffer, 3));

  std::string all(256 * 2 + 1, '\0');
  for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
  ToHex(all.data(), 256, static_cast<int>(all.size()));
  EXPECT_EQ("000102", all.substr(0, 6));
  EXPECT_EQ("7F80", all.substr(0x7F * 2, 4));
  EXPECT_EQ("FEFF", all.substr(508, 4));
  EXPECT_EQ('\0', all[512]);
  ToAsc(all.data(), 512);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(static_cast<char>(i), all[i]);

  // An odd length converts the whole pairs only.
  char odd[] = "41425";
  ToAsc(odd, 5);
  EXPECT_STREQ("AB", odd);
}

TEST(Hex, ToHexWithoutRoomChangesNothing) {
  char buffer[4] = {'\x0a', '\xff', 'z', 'z'};
  ToHex(buffer, 2, sizeof(buffer));
  EXPECT_EQ(Bytes({0x0A, 0xFF, 'z', 'z'}), std::string(buffer, 4));
}

TEST(PrintableCipher, EncryptsToHexAndBack) {
  const char key[] = "\x13\x34\x57\x79\x9b\xbc\xdf\xf1";
  char buffer[17] = "\x01\x23\x45\x67\x89\xab\xcd\xef";
  KvEncode(key, buffer, 8, 1, sizeof(buffer));
  // The published DES answer 85E813540F0AB405, scrambled with 08 09 0A ... 0F.
  EXPECT_STREQ("8DE1195F0307BA0A", buffer);
  KvEncode(key, buffer, 16, 0, sizeof(buffer));
  EXPECT_EQ(std::string("\x01\x23\x45\x67\x89\xab\xcd\xef", 8), std::string(buffer, 8));
  EXPECT_EQ('\0', buffer[8]);
}

TEST(PrintableCipher, TailOutsideWholeBlocksIsOnlyScrambled) {
  const char key[] = "\x13\x34\x57\x79\x9b\xbc\xdf\xf1";
  char buffer[25] = "\x01\x23\x45\x67\x89\xab\xcd\xef" "ABCD";
  KvEncode(key, buffer, 12, 1, sizeof(buffer));
  // Tail bytes 8..11 are XORed with 16..19.
  EXPECT_STREQ("8DE1195F0307BA0A" "51535157", buffer);
  KvEncode(key, buffer, 24, 0, sizeof(buffer));
  EXPECT_EQ(std::string("\x01\x23\x45\x67\x89\xab\xcd\xef" "ABCD", 12), std::string(buffer, 12));

  char short_room[24] = "\x01\x23\x45\x67\x89\xab\xcd\xef" "ABCD";
  KvEncode(key, short_room, 12, 1, sizeof(short_room));  // needs 25
  EXPECT_EQ(std::string("\x01\x23\x45\x67\x89\xab\xcd\xef" "ABCD", 12), std::string(short_room, 12));
}

TEST(PrintableCipher, RoundTripOfEveryLength) {
  const char key[] = "kvKey123";
  for (int n = 0; n <= 40; ++n) {
    std::string plain;
    for (int i = 0; i < n; ++i) plain.push_back(static_cast<char>(i * 29 + n));
    std::string buffer = plain;
    buffer.resize(2 * n + 1, '\0');
    KvEncode(key, buffer.data(), n, 1, static_cast<int>(buffer.size()));
    ASSERT_EQ(static_cast<size_t>(2 * n), std::strlen(buffer.c_str())) << n;
    for (int i = 0; i < 2 * n; ++i) ASSERT_TRUE(std::isxdigit(static_cast<unsigned char>(buffer[i]))) << n;
    KvEncode(key, buffer.data(), 2 * n, 0, static_cast<int>(buffer.size()));
    ASSERT_EQ(plain, buffer.substr(0, n)) << n;
    ASSERT_EQ('\0', buffer[n]);
  }
}

}  // namespace
