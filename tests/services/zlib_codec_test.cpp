// The zlib codec over the real zlib1.dll beside the test program.
#include "services/zlib_codec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/compressed_samples.h"
#include "tests/support/shared_helpers.h"
#include "tests/support/test_support.h"
#include "util/handles.h"

namespace {

using kvtest::Bytes;
using kvtest::ReadBytes;

// Inflates with DecodeGZipBuffer; on failure "!" and the result.
// The inflated text, or "!" and the HRESULT; with a limit, through the form that keeps at most that.
std::string Inflate(const std::string& data, long limit = -1) {
  BYTE* out = nullptr;
  long len = -1;
  const auto* in = reinterpret_cast<const BYTE*>(data.data());
  const long size = static_cast<long>(data.size());
  CKvZlib& zlib = CKvZlib::Instance();
  const HRESULT hr = limit < 0 ? zlib.DecodeGZipBuffer(in, size, &out, &len)
                               : zlib.DecodeGZipBufferN(in, size, &out, &len, limit);
  std::string text = out ? std::string(reinterpret_cast<char*>(out), static_cast<size_t>(len)) : "";
  std::free(out);
  if (hr == S_OK) return text;
  EXPECT_TRUE(out == nullptr && len == 0) << "a failure leaves no output";
  text = "!";
  return text + std::to_string(hr);
}

class ZlibCodec : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, zlib.InitZlib(nullptr)); }
  HRESULT Encode(const std::wstring& from, const std::wstring& to, int level) {
    return zlib.EncodeFile((dir + from).c_str(), (dir + to).c_str(), level);
  }
  HRESULT Decode(const std::wstring& from, const std::wstring& to, unsigned long expected) {
    return zlib.DecodeFile((dir + from).c_str(), (dir + to).c_str(), expected);
  }
  CKvZlib& zlib = CKvZlib::Instance();
  std::wstring dir = kvtest::FreshDir(L"zlib_" + kvtest::TestName());
};

TEST_F(ZlibCodec, InflatesGzipAndZlibStreamsAndRefusesTheRest) {
  EXPECT_EQ(kvtest::kHelloGzipText, Inflate(Bytes(kvtest::kHelloGzip)));
  EXPECT_EQ(kvtest::kHelloZlibText, Inflate(Bytes(kvtest::kHelloZlib)));
  EXPECT_EQ(std::string(kvtest::kManyACount, 'A'), Inflate(Bytes(kvtest::kManyAGzip)));  // > 4096
  const std::string gzip = Bytes(kvtest::kRandomGzip);
  // What a 50-byte answer buffer holds, no stream, a stream needing a dictionary, nothing.
  for (const std::string& bad : {gzip.substr(0, 49), std::string("this is not compressed at all"),
                                 Bytes(kvtest::kDictionaryZlib), std::string()})
    EXPECT_EQ("!" + std::to_string(E_FAIL), Inflate(bad));
  EXPECT_EQ(kvtest::kRandomGzipText, Inflate(gzip));  // the whole member still works after those
  // Kept to a limit: inflation stops there, even before a break further on; nothing kept, nothing.
  const std::string many = Bytes(kvtest::kManyAGzip);
  EXPECT_EQ(std::string(10, 'A'), Inflate(many, 10));
  EXPECT_EQ(std::string(5000, 'A'), Inflate(many, 5000));
  EXPECT_EQ(std::string(kvtest::kManyACount, 'A'), Inflate(many, kvtest::kManyACount + 1));
  EXPECT_EQ(std::string(kvtest::kRandomGzipText, 5), Inflate(gzip.substr(0, 49), 5));
  EXPECT_EQ("!" + std::to_string(E_FAIL), Inflate(many, 0));
}

TEST_F(ZlibCodec, EncodesFilesAsZlibStreamsAndBack) {
  kvtest::WriteText(dir + L"src.txt", "0123456789");
  ASSERT_EQ(S_OK, Encode(L"src.txt", L"enc.bin", -1));
  const std::string encoded = ReadBytes(dir + L"enc.bin");
  ASSERT_FALSE(encoded.empty());
  EXPECT_EQ(0x78, static_cast<unsigned char>(encoded[0]));
  EXPECT_EQ("0123456789", Inflate(encoded));  // zlib checks the header and the Adler-32 trailer
  for (unsigned long expected : {0ul, 10ul}) {
    ASSERT_EQ(S_OK, Decode(L"enc.bin", L"dec.txt", expected));
    EXPECT_EQ("0123456789", ReadBytes(dir + L"dec.txt"));
  }
  // Empty files stay empty; existing targets are replaced.
  kvtest::WriteText(dir + L"empty.txt", "");
  kvtest::WriteText(dir + L"enc.bin", "old content that must go");
  kvtest::WriteText(dir + L"dec.txt", "old");
  EXPECT_EQ(S_OK, Encode(L"empty.txt", L"enc.bin", 9));
  EXPECT_TRUE(kvtest::Exists(dir + L"enc.bin"));
  EXPECT_EQ("", ReadBytes(dir + L"enc.bin"));
  EXPECT_EQ(S_OK, Decode(L"enc.bin", L"dec.txt", 0));
  EXPECT_EQ("", ReadBytes(dir + L"dec.txt"));
}

TEST_F(ZlibCodec, LevelsAndGrowingOutput) {
  std::string text;
  for (int i = 0; text.size() < 2500000; ++i) text += "line " + std::to_string(i % 977) + "\n";
  kvtest::WriteText(dir + L"src.txt", text);
  ASSERT_EQ(S_OK, Encode(L"src.txt", L"stored.bin", 0));
  ASSERT_EQ(S_OK, Encode(L"src.txt", L"best.bin", 9));
  // Level 0 stores, so it outgrows the source: the output buffer had to grow past its size.
  EXPECT_GT(ReadBytes(dir + L"stored.bin").size(), text.size());
  EXPECT_LT(ReadBytes(dir + L"best.bin").size(), text.size() / 10);
  // A far too small expected size only costs doublings; 0 starts from the floor.
  for (unsigned long expected : {10ul, 0ul, static_cast<unsigned long>(text.size())}) {
    ASSERT_EQ(S_OK, Decode(L"best.bin", L"dec.txt", expected));
    EXPECT_EQ(text, ReadBytes(dir + L"dec.txt")) << expected;
  }
}

TEST_F(ZlibCodec, FileFailures) {
  kvtest::WriteText(dir + L"src.txt", "abc");
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), Encode(L"none.txt", L"out.bin", -1));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), Encode(L"src.txt", L"no\\out.bin", -1));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), Decode(L"none.bin", L"out.txt", 0));
  EXPECT_EQ(E_FAIL, Decode(L"src.txt", L"out.txt", 0));  // not a zlib stream
  // Just over the 1,000,000,000-byte bound (sparse where the file system allows it).
  ASSERT_TRUE(kvtest::SparseFile(dir + L"big.bin", 1000000001LL));
  EXPECT_EQ(E_FAIL, Encode(L"big.bin", L"out.bin", 1));
  EXPECT_EQ(E_FAIL, Decode(L"big.bin", L"out.txt", 0));
  ::DeleteFileW((dir + L"big.bin").c_str());
}

// Loading beside a module whose folder holds no zlib1.dll fails as the system says, and every
// service then fails cleanly; loading from our own folder brings them back. The module is a copy
// of the library under another name, loaded from a folder of its own.
TEST_F(ZlibCodec, AbsentLibraryLeavesEveryServiceFailing) {
  EXPECT_EQ(S_OK, zlib.InitZlib(nullptr));  // already loaded: nothing to do
  zlib.UninitZlib();
  ASSERT_TRUE(kvtest::CopyProgram(L"zlib1.dll", dir + L"kvlone.dll"));
  kv::UniqueModule module(::LoadLibraryW((dir + L"kvlone.dll").c_str()));
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
  kvtest::WriteText(dir + L"src.txt", "abc");
  EXPECT_EQ(E_NOINTERFACE, Encode(L"src.txt", L"o.bin", -1));
  EXPECT_EQ(E_NOINTERFACE, Decode(L"src.txt", L"o.txt", 0));
  EXPECT_FALSE(kvtest::Exists(dir + L"o.bin"));
  EXPECT_EQ(S_OK, zlib.InitZlib(nullptr));
  EXPECT_EQ(kvtest::kHelloGzipText, Inflate(gzip));
}

}  // namespace
