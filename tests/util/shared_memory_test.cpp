// Named blocks: texts and bytes in and out, missing blocks, and copies at the block's end refused.
#include "util/shared_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "util/handles.h"

namespace {

std::wstring BlockName(const wchar_t* test) {
  return L"kvtest_shm_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + test;
}

TEST(ShareMem, ExistsWhileAHandleIsOpenAndMissingGivesZero) {
  const std::wstring name = BlockName(L"exists");
  EXPECT_EQ(0, isExistsShareMem(name.c_str()));
  EXPECT_EQ(0, GetShareMemSize(name.c_str()));
  wchar_t text[8] = L"keep";
  BYTE data[4] = {};
  EXPECT_EQ(0, WriteShareMem(name.c_str(), L"a", 0));
  EXPECT_EQ(0, ReadShareMem(name.c_str(), text));
  EXPECT_STREQ(L"keep", text);
  EXPECT_EQ(0, WriteShareMem2(name.c_str(), data, 4, 0));
  EXPECT_EQ(0, ReadShareMem2(name.c_str(), data, 4, 0));
  kv::UniqueHandleKernel block(CreateShareMem(name.c_str(), 100));
  ASSERT_TRUE(block);
  EXPECT_EQ(1, isExistsShareMem(name.c_str()));
  const SIZE_T size = static_cast<SIZE_T>(GetShareMemSize(name.c_str()));
  if (size != 100) {
    std::printf("SKIPPED: the system reports %u bytes for a block of 100 (whole pages)\n",
                static_cast<unsigned>(size));
    EXPECT_EQ(0u, size % 4096);
    EXPECT_GE(size, 100u);
  }
  block.reset();
  EXPECT_EQ(0, isExistsShareMem(name.c_str()));
  EXPECT_EQ(0, isExistsShareMem(L""));
  EXPECT_EQ(nullptr, CreateShareMem(BlockName(L"zero").c_str(), 0));
}

TEST(ShareMem, TextAtAnIndexBytesAtAnOffset) {
  const std::wstring name = BlockName(L"text");
  kv::UniqueHandleKernel block(CreateShareMem(name.c_str(), 1024));
  ASSERT_TRUE(block);
  ASSERT_EQ(1, WriteShareMem(name.c_str(), L"abcdefghij", 0));
  wchar_t text[512] = {};
  ASSERT_EQ(1, ReadShareMem(name.c_str(), text));
  EXPECT_STREQ(L"abcdefghij", text);
  ASSERT_EQ(1, WriteShareMem(name.c_str(), L"XY", 5));
  ASSERT_EQ(1, ReadShareMem(name.c_str(), text));
  EXPECT_STREQ(L"abcdeXY", text);
  wchar_t rest[2] = {};
  ASSERT_EQ(1, ReadShareMem2(name.c_str(), rest, 4, 14));
  EXPECT_EQ(L'\0', rest[0]);
  EXPECT_EQ(L'i', rest[1]) << "the unit after the terminator is the old text's";

  const BYTE data[] = {1, 2, 3, 0, 5};
  ASSERT_EQ(1, WriteShareMem2(name.c_str(), data, sizeof(data), 100));
  BYTE back[7] = {};
  ASSERT_EQ(1, ReadShareMem2(name.c_str(), back, sizeof(back), 99));
  const BYTE want[] = {0, 1, 2, 3, 0, 5, 0};
  EXPECT_EQ(0, std::memcmp(want, back, sizeof(want)));
}

// A block of two whole pages: the size every system reports exactly, so the edges are exact.
TEST(ShareMem, CopiesNeverCrossTheEnd) {
  const std::wstring name = BlockName(L"edge");
  constexpr int kSize = 8192;
  kv::UniqueHandleKernel block(CreateShareMem(name.c_str(), kSize));
  ASSERT_TRUE(block);
  ASSERT_EQ(kSize, GetShareMemSize(name.c_str()));
  const BYTE four[4] = {9, 9, 9, 9};
  BYTE out[5] = {};
  EXPECT_EQ(1, WriteShareMem2(name.c_str(), four, 4, kSize - 4));
  EXPECT_EQ(0, WriteShareMem2(name.c_str(), four, 4, kSize - 3));
  EXPECT_EQ(0, WriteShareMem2(name.c_str(), four, 4, -1));
  EXPECT_EQ(0, WriteShareMem2(name.c_str(), four, -4, 0));
  EXPECT_EQ(1, ReadShareMem2(name.c_str(), out, 4, kSize - 4));
  EXPECT_EQ(0, ReadShareMem2(name.c_str(), out, 5, kSize - 4));
  EXPECT_EQ(0, ReadShareMem2(name.c_str(), out, 1, kSize));
  // "abc" and its terminator are 8 bytes: they fit at unit 4092, not at 4093.
  EXPECT_EQ(1, WriteShareMem(name.c_str(), L"abc", kSize / 2 - 4));
  EXPECT_EQ(0, WriteShareMem(name.c_str(), L"abc", kSize / 2 - 3));
  EXPECT_EQ(0, WriteShareMem(name.c_str(), L"abc", -1));
  wchar_t tail[4] = {};
  ASSERT_EQ(1, ReadShareMem2(name.c_str(), tail, 8, kSize - 8));
  EXPECT_STREQ(L"abc", tail);

  // A text as long as the block, without a terminator (its length is the writer's choice): the
  // plain read keeps to the 260 characters its callers provide; the sized read goes to the room
  // given, or to the block's end less the unit the terminator needs.
  const std::vector<wchar_t> full(kSize / 2, L'A');
  ASSERT_EQ(1, WriteShareMem2(name.c_str(), full.data(), kSize, 0));
  struct Row { int room; size_t units; };
  for (const Row& r : {Row{0, 0}, Row{1, 0}, Row{5, 4}, Row{kSize / 2 + 8, kSize / 2 - 1}}) {
    std::vector<wchar_t> text(kSize / 2 + 16, L'z');
    ASSERT_EQ(r.room > 0 ? 1 : 0, ReadShareMemN(name.c_str(), text.data(), r.room)) << r.room;
    const size_t written = r.room > 0 ? r.units + 1 : 0;
    EXPECT_EQ(std::wstring(r.units, L'A'), std::wstring(text.data(), r.units)) << r.room;
    EXPECT_EQ(std::vector<wchar_t>(text.size() - written, L'z'), std::vector<wchar_t>(text.begin() + written, text.end()))
        << "nothing written past the room and its terminator: " << r.room;
  }
  std::vector<wchar_t> text(MAX_PATH + 16, L'z');
  ASSERT_EQ(1, ReadShareMem(name.c_str(), text.data()));
  EXPECT_EQ(std::wstring(MAX_PATH - 1, L'A'), std::wstring(text.data()));
  EXPECT_EQ(std::vector<wchar_t>(16, L'z'), std::vector<wchar_t>(text.begin() + MAX_PATH, text.end()));
}

}  // namespace
