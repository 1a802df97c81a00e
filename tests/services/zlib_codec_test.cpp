// The zlib codec over the real zlib1.dll beside the test program.
#include "services/zlib_codec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/compressed_samples.h"
#include "tests/support/test_support.h"
#include "util/handles.h"

namespace {

using kvtest::Bytes;

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Adler32(const std::string& data) {
  uint32_t a = 1, b = 0;
  for (unsigned char c : data) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// Inflates with DecodeGZipBuffer; "!" + hr in hex on failure.
std::string Inflate(const std::string& data, HRESULT* hr_out = nullptr) {
  BYTE* out = nullptr;
  long len = -1;
  const HRESULT hr = CKvZlib::Instance().DecodeGZipBuffer(
      reinterpret_cast<const BYTE*>(data.data()), static_cast<long>(data.size()), &out, &len);
  if (hr_out) *hr_out = hr;
  std::string text = out ? std::string(reinterpret_cast<char*>(out), static_cast<size_t>(len)) : "";
  std::free(out);
  if (hr != S_OK) {
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, len);
  }
  return text;
}

class ZlibCodec : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, CKvZlib::Instance().InitZlib(nullptr)); }
};

TEST_F(ZlibCodec, InflatesGzipAndZlibStreams) {
  EXPECT_EQ(kvtest::kHelloGzipText, Inflate(Bytes(kvtest::kHelloGzip)));
  EXPECT_EQ(kvtest::kHelloZlibText, Inflate(Bytes(kvtest::kHelloZlib)));
  // 5000 bytes come out in 4096-byte windows.
  EXPECT_EQ(std::string(kvtest::kManyACount, 'A'), Inflate(Bytes(kvtest::kManyAGzip)));
}

TEST_F(ZlibCodec, TruncatedCorruptAndDictionaryStreamsGiveNothing) {
  HRESULT hr = S_OK;
  const std::string gzip = Bytes(kvtest::kRandomGzip);
  EXPECT_EQ("", Inflate(gzip.substr(0, 49), &hr));  // what a 50-byte answer buffer holds
  EXPECT_EQ(E_FAIL, hr);
  EXPECT_EQ("", Inflate("this is not compressed at all", &hr));
  EXPECT_EQ(E_FAIL, hr);
  EXPECT_EQ("", Inflate(Bytes(kvtest::kDictionaryZlib), &hr));
  EXPECT_EQ(E_FAIL, hr);
  EXPECT_EQ("", Inflate("", &hr));
  EXPECT_EQ(E_FAIL, hr);
  // The whole member still works after those failures.
  EXPECT_EQ(kvtest::kRandomGzipText, Inflate(gzip));
}

TEST_F(ZlibCodec, EncodesSmallFileAsZlibStream) {
  const std::wstring dir = kvtest::FreshDir(L"zlib_small");
  const std::string text = "0123456789";
  kvtest::WriteText(dir + L"src.txt", text);
  ASSERT_EQ(S_OK, CKvZlib::Instance().EncodeFile((dir + L"src.txt").c_str(),
                                                 (dir + L"enc.bin").c_str(), -1));
  const std::string encoded = ReadAll(dir + L"enc.bin");
  ASSERT_GE(encoded.size(), 6u);
  EXPECT_EQ(0x78, static_cast<unsigned char>(encoded[0]));
  EXPECT_EQ(0, (static_cast<unsigned char>(encoded[0]) * 256 + static_cast<unsigned char>(encoded[1])) % 31);
  const size_t n = encoded.size();
  const uint32_t trailer = (static_cast<uint32_t>(static_cast<unsigned char>(encoded[n - 4])) << 24) |
                           (static_cast<unsigned char>(encoded[n - 3]) << 16) |
                           (static_cast<unsigned char>(encoded[n - 2]) << 8) |
                           static_cast<unsigned char>(encoded[n - 1]);
  EXPECT_EQ(Adler32(text), trailer);
  // Our own inflater reads it too: the file is a plain zlib stream.
  EXPECT_EQ(text, Inflate(encoded));

  for (unsigned long expected : {0ul, 10ul}) {
    ASSERT_EQ(S_OK, CKvZlib::Instance().DecodeFile((dir + L"enc.bin").c_str(),
                                                   (dir + L"dec.txt").c_str(), expected));
    EXPECT_EQ(text, ReadAll(dir + L"dec.txt"));
  }
}

TEST_F(ZlibCodec, EmptyFilesStayEmpty) {
  const std::wstring dir = kvtest::FreshDir(L"zlib_empty");
  kvtest::WriteText(dir + L"empty.txt", "");
  kvtest::WriteText(dir + L"enc.bin", "old content that must go");
  EXPECT_EQ(S_OK, CKvZlib::Instance().EncodeFile((dir + L"empty.txt").c_str(),
                                                 (dir + L"enc.bin").c_str(), 9));
  EXPECT_TRUE(kvtest::Exists(dir + L"enc.bin"));
  EXPECT_EQ("", ReadAll(dir + L"enc.bin"));
  kvtest::WriteText(dir + L"dec.txt", "old");
  EXPECT_EQ(S_OK, CKvZlib::Instance().DecodeFile((dir + L"enc.bin").c_str(),
                                                 (dir + L"dec.txt").c_str(), 0));
  EXPECT_EQ("", ReadAll(dir + L"dec.txt"));
}

TEST_F(ZlibCodec, LevelsAndGrowingOutput) {
  const std::wstring dir = kvtest::FreshDir(L"zlib_levels");
  std::string text;
  for (int i = 0; text.size() < 2500000; ++i) text += "line " + std::to_string(i % 977) + "\n";
  kvtest::WriteText(dir + L"src.txt", text);
  ASSERT_EQ(S_OK, CKvZlib::Instance().EncodeFile((dir + L"src.txt").c_str(),
                                                 (dir + L"stored.bin").c_str(), 0));
  ASSERT_EQ(S_OK, CKvZlib::Instance().EncodeFile((dir + L"src.txt").c_str(),
                                                 (dir + L"best.bin").c_str(), 9));
  // Level 0 stores, so it outgrows the source: the output buffer had to grow past its size.
  EXPECT_GT(ReadAll(dir + L"stored.bin").size(), text.size());
  EXPECT_LT(ReadAll(dir + L"best.bin").size(), text.size() / 10);
  // A far too small expected size only costs doublings; 0 starts from the floor.
  for (unsigned long expected : {10ul, 0ul, static_cast<unsigned long>(text.size())}) {
    ASSERT_EQ(S_OK, CKvZlib::Instance().DecodeFile((dir + L"best.bin").c_str(),
                                                   (dir + L"dec.txt").c_str(), expected));
    EXPECT_EQ(text, ReadAll(dir + L"dec.txt")) << expected;
  }
}

TEST_F(ZlibCodec, FileFailures) {
  auto& zlib = CKvZlib::Instance();
  const std::wstring dir = kvtest::FreshDir(L"zlib_failures");
  kvtest::WriteText(dir + L"src.txt", "abc");
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            zlib.EncodeFile((dir + L"none.txt").c_str(), (dir + L"out.bin").c_str(), -1));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
            zlib.EncodeFile((dir + L"src.txt").c_str(), (dir + L"no\\out.bin").c_str(), -1));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            zlib.DecodeFile((dir + L"none.bin").c_str(), (dir + L"out.txt").c_str(), 0));
  // Not a zlib stream.
  EXPECT_EQ(E_FAIL, zlib.DecodeFile((dir + L"src.txt").c_str(), (dir + L"out.txt").c_str(), 0));

  // Just over the 1,000,000,000-byte bound (sparse where the file system allows it).
  {
    kv::UniqueFile big(::CreateFileW((dir + L"big.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(big);
    LARGE_INTEGER at;
    at.QuadPart = 1000000001LL;
    ASSERT_TRUE(::SetFilePointerEx(big.get(), at, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(big.get()));
  }
  EXPECT_EQ(E_FAIL, zlib.EncodeFile((dir + L"big.bin").c_str(), (dir + L"out.bin").c_str(), 1));
  EXPECT_EQ(E_FAIL, zlib.DecodeFile((dir + L"big.bin").c_str(), (dir + L"out.txt").c_str(), 0));
  ::DeleteFileW((dir + L"big.bin").c_str());
}

// Loading beside a module whose folder holds no zlib1.dll fails as the system says, and every
// service then fails cleanly; loading from our own folder brings them back. The module is a copy
// of the library under another name, loaded from a folder of its own.
TEST_F(ZlibCodec, AbsentLibraryLeavesEveryServiceFailing) {
  auto& zlib = CKvZlib::Instance();
  EXPECT_EQ(S_OK, zlib.InitZlib(nullptr));  // already loaded: nothing to do
  zlib.UninitZlib();
  const std::wstring lone = kvtest::FreshDir(L"zlib_lone_module");
  ASSERT_TRUE(kvtest::CopyProgram(L"zlib1.dll", lone + L"kvlone.dll"));
  kv::UniqueModule module(::LoadLibraryW((lone + L"kvlone.dll").c_str()));
  ASSERT_TRUE(module);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), zlib.InitZlib(L"kvlone.dll"));

  BYTE sentinel = 0;
  BYTE* out = &sentinel;
  long len = 77;
  const std::string gzip = Bytes(kvtest::kHelloGzip);
  EXPECT_EQ(E_FAIL, zlib.DecodeGZipBuffer(reinterpret_cast<const BYTE*>(gzip.data()),
                                          static_cast<long>(gzip.size()), &out, &len));
  EXPECT_EQ(&sentinel, out);
  EXPECT_EQ(77, len);
  const std::wstring dir = kvtest::FreshDir(L"zlib_absent");
  kvtest::WriteText(dir + L"src.txt", "abc");
  EXPECT_EQ(E_NOINTERFACE, zlib.EncodeFile((dir + L"src.txt").c_str(), (dir + L"o.bin").c_str(), -1));
  EXPECT_EQ(E_NOINTERFACE, zlib.DecodeFile((dir + L"src.txt").c_str(), (dir + L"o.txt").c_str(), 0));
  EXPECT_FALSE(kvtest::Exists(dir + L"o.bin"));

  EXPECT_EQ(S_OK, zlib.InitZlib(nullptr));
  EXPECT_EQ(kvtest::kHelloGzipText, Inflate(gzip));
}

}  // namespace
