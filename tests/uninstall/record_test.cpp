#include "uninstall/record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "util/handles.h"

namespace {

template <size_t N>
void Put(wchar_t (&slot)[N], const std::wstring& text) {
  std::memset(slot, 0, sizeof(slot));
  std::memcpy(slot, text.data(), std::min(text.size(), N) * sizeof(wchar_t));
}

UninstallEntry Entry(int is_file, const std::wstring& path) {
  UninstallEntry e = {};
  e.isFile = is_file;
  Put(e.path, path);
  return e;
}

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = kvtest::FreshDir(L"record"); }

  std::wstring File(const wchar_t* name) const { return dir_ + name; }

  void WriteBytes(const std::wstring& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  std::vector<unsigned char> ReadBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  struct Parsed {
    UninstallRecord header;
    std::vector<UninstallEntry> removals, shortcuts;
  };
  Parsed Read(const std::wstring& path) {
    Parsed p = {};
    kv::UniqueStdioFile f(_wfopen(path.c_str(), L"rb"));
    EXPECT_TRUE(f);
    if (f) ReadRecordLists(f.get(), &p.header, &p.removals, &p.shortcuts);
    return p;
  }

  // A raw file: header, then the given 32-bit words and entries in order.
  static void Append(std::vector<unsigned char>* bytes, const void* data, size_t size) {
    auto* p = static_cast<const unsigned char*>(data);
    bytes->insert(bytes->end(), p, p + size);
  }

  std::wstring dir_;
};

TEST_F(RecordTest, WriterLaysOutListModeExactly) {
  UninstallRecord h = {};
  Put(h.uninstallKey, L"ProdKey");
  Put(h.displayName, L"产品");
  Put(h.menuFolder, L"Prod Tools");
  const UninstallEntry removals[] = {Entry(1, L"C:\\p\\a.txt"), Entry(0, L"C:\\p\\sub\\")};
  const UninstallEntry shortcuts[] = {Entry(1, L"C:\\s.lnk")};
  ASSERT_EQ(1, WriteUninstallRecord(File(L"list.dat").c_str(), &h, removals, 2, shortcuts, 1));

  const auto bytes = ReadBytes(File(L"list.dat"));
  ASSERT_EQ(760u + 4 + 2 * 524 + 4 + 524, bytes.size());
  EXPECT_EQ(0, std::memcmp(bytes.data(), L"ProdKey", 16));
  EXPECT_EQ(0, std::memcmp(bytes.data() + 200, L"产品", 6));
  EXPECT_EQ(0, std::memcmp(bytes.data() + 300, L"Prod Tools", 22));
  int count = 0;
  std::memcpy(&count, bytes.data() + 760, 4);
  EXPECT_EQ(2, count);
  std::memcpy(&count, bytes.data() + 764, 4);
  EXPECT_EQ(1, count);  // isFile of the first entry
  EXPECT_EQ(0, std::memcmp(bytes.data() + 768, L"C:\\p\\a.txt", 22));
  std::memcpy(&count, bytes.data() + 764 + 2 * 524, 4);
  EXPECT_EQ(1, count);  // shortcut count
  // Everything after each terminator is zero.
  for (size_t i = 200 + 6; i < 300; ++i) ASSERT_EQ(0, bytes[i]) << i;

  const Parsed p = Read(File(L"list.dat"));
  EXPECT_EQ(L"ProdKey", SlotText(p.header.uninstallKey));
  EXPECT_EQ(L"产品", SlotText(p.header.displayName));
  ASSERT_EQ(2u, p.removals.size());
  EXPECT_EQ(L"C:\\p\\sub\\", SlotText(p.removals[1].path));
  EXPECT_EQ(0, p.removals[1].isFile);
  ASSERT_EQ(1u, p.shortcuts.size());
  EXPECT_EQ(L"C:\\s.lnk", SlotText(p.shortcuts[0].path));
}

TEST_F(RecordTest, WriterOmitsRemovalListInFolderMode) {
  UninstallRecord h = {};
  Put(h.installDir, L"C:\\Program Files\\Prod");
  const UninstallEntry shortcuts[] = {Entry(1, L"C:\\a.lnk"), Entry(0, L"C:\\b.lnk")};
  ASSERT_EQ(1, WriteUninstallRecord(File(L"folder.dat").c_str(), &h, nullptr, 0, shortcuts, 2));
  const auto bytes = ReadBytes(File(L"folder.dat"));
  ASSERT_EQ(760u + 4 + 2 * 524, bytes.size());
  int count = 0;
  std::memcpy(&count, bytes.data() + 760, 4);
  EXPECT_EQ(2, count);  // the shortcut count follows the header directly

  const Parsed p = Read(File(L"folder.dat"));
  EXPECT_TRUE(p.removals.empty());
  ASSERT_EQ(2u, p.shortcuts.size());
  EXPECT_EQ(L"C:\\b.lnk", SlotText(p.shortcuts[1].path));
}

TEST_F(RecordTest, WriterRefusesWhatWouldNotFit) {
  const std::wstring path = File(L"refused.dat");
  UninstallRecord h = {};
  for (wchar_t& c : h.displayName) c = L'x';  // fills the slot, no terminator
  EXPECT_EQ(0, WriteUninstallRecord(path.c_str(), &h, nullptr, 0, nullptr, 0));

  h = {};
  const UninstallEntry no_backslash[] = {Entry(0, L"C:\\p\\sub")};
  EXPECT_EQ(0, WriteUninstallRecord(path.c_str(), &h, no_backslash, 1, nullptr, 0));

  UninstallEntry unterminated = {};
  for (wchar_t& c : unterminated.path) c = L'y';
  EXPECT_EQ(0, WriteUninstallRecord(path.c_str(), &h, nullptr, 0, &unterminated, 1));
  EXPECT_EQ(0, WriteUninstallRecord(path.c_str(), &h, nullptr, -1, nullptr, 0));

  Put(h.installDir, L"C:\\Prod");
  const UninstallEntry file[] = {Entry(1, L"C:\\Prod\\a.txt")};
  EXPECT_EQ(0, WriteUninstallRecord(path.c_str(), &h, file, 1, nullptr, 0));
  EXPECT_FALSE(kvtest::Exists(path));

  // The longest display name that fits: 49 characters and the terminator.
  h = {};
  Put(h.displayName, std::wstring(49, L'n'));
  EXPECT_EQ(1, WriteUninstallRecord(path.c_str(), &h, nullptr, 0, nullptr, 0));
  EXPECT_EQ(std::wstring(49, L'n'), SlotText(Read(path).header.displayName));
}

TEST_F(RecordTest, HeaderOnlyFiles) {
  UninstallRecord h = {};
  Put(h.displayName, L"Prod");
  std::vector<unsigned char> bytes;
  Append(&bytes, &h, sizeof(h));
  WriteBytes(File(L"list760.dat"), bytes);
  Parsed p = Read(File(L"list760.dat"));
  EXPECT_EQ(L"Prod", SlotText(p.header.displayName));
  EXPECT_TRUE(p.removals.empty());
  EXPECT_TRUE(p.shortcuts.empty());

  Put(h.installDir, L"C:\\Prod");
  bytes.clear();
  Append(&bytes, &h, sizeof(h));
  WriteBytes(File(L"folder760.dat"), bytes);
  p = Read(File(L"folder760.dat"));
  EXPECT_EQ(L"C:\\Prod", SlotText(p.header.installDir));
  EXPECT_TRUE(p.shortcuts.empty());
}

TEST_F(RecordTest, ShortFileLeavesMissingBytesZero) {
  UninstallRecord h = {};
  Put(h.uninstallKey, L"Key");
  Put(h.displayName, L"Prod");
  std::vector<unsigned char> bytes;
  Append(&bytes, &h, 250);  // ends inside the display name's slot, after its terminator
  WriteBytes(File(L"short.dat"), bytes);

  UninstallRecord header;
  std::memset(&header, 0x55, sizeof(header));
  ASSERT_TRUE(ReadRecordHeader(File(L"short.dat"), &header));
  EXPECT_EQ(L"Prod", SlotText(header.displayName));
  EXPECT_EQ(L"", SlotText(header.installDir));
  EXPECT_FALSE(ReadRecordHeader(File(L"absent.dat"), &header));
  EXPECT_EQ(L"", SlotText(header.displayName));

  const Parsed p = Read(File(L"short.dat"));
  EXPECT_EQ(L"Key", SlotText(p.header.uninstallKey));
  EXPECT_TRUE(p.removals.empty());
  EXPECT_TRUE(p.shortcuts.empty());
}

TEST_F(RecordTest, CountsAndEmptyPaths) {
  UninstallRecord h = {};
  std::vector<unsigned char> bytes;
  Append(&bytes, &h, sizeof(h));
  const int n = 3;
  Append(&bytes, &n, 4);
  const UninstallEntry a = Entry(1, L"C:\\a"), empty = Entry(1, L""), c = Entry(0, L"C:\\c\\");
  Append(&bytes, &a, sizeof(a));
  Append(&bytes, &empty, sizeof(empty));
  Append(&bytes, &c, sizeof(c));
  const int m = 3;  // promises three shortcuts, two follow
  Append(&bytes, &m, 4);
  Append(&bytes, &a, sizeof(a));
  Append(&bytes, &c, sizeof(c));
  WriteBytes(File(L"counts.dat"), bytes);

  const Parsed p = Read(File(L"counts.dat"));
  ASSERT_EQ(2u, p.removals.size());  // the empty entry is skipped, the one after it kept
  EXPECT_EQ(L"C:\\a", SlotText(p.removals[0].path));
  EXPECT_EQ(L"C:\\c\\", SlotText(p.removals[1].path));
  ASSERT_EQ(3u, p.shortcuts.size());  // the end of the file shows only after a read hits it
  EXPECT_EQ(L"C:\\c\\", SlotText(p.shortcuts[1].path));
  EXPECT_EQ(L"", SlotText(p.shortcuts[2].path));
}

TEST_F(RecordTest, NegativeAndHugeCounts) {
  UninstallRecord h = {};
  std::vector<unsigned char> bytes;
  Append(&bytes, &h, sizeof(h));
  const int negative = -5;
  Append(&bytes, &negative, 4);
  Append(&bytes, &negative, 4);
  WriteBytes(File(L"negative.dat"), bytes);
  Parsed p = Read(File(L"negative.dat"));
  EXPECT_TRUE(p.removals.empty());
  EXPECT_TRUE(p.shortcuts.empty());

  // Two billion promised entries, two present: the read stops at the end of the file at once.
  bytes.resize(sizeof(h));
  const int huge = 2147483647;
  Append(&bytes, &huge, 4);
  const UninstallEntry a = Entry(1, L"C:\\a"), b = Entry(1, L"C:\\b");
  Append(&bytes, &a, sizeof(a));
  Append(&bytes, &b, sizeof(b));
  WriteBytes(File(L"huge.dat"), bytes);
  const DWORD start = ::GetTickCount();
  p = Read(File(L"huge.dat"));
  EXPECT_LT(::GetTickCount() - start, 2000u);
  ASSERT_EQ(2u, p.removals.size());
  EXPECT_EQ(L"C:\\b", SlotText(p.removals[1].path));
  EXPECT_TRUE(p.shortcuts.empty());
}

TEST_F(RecordTest, FolderModeReadsOffset760AsShortcutCount) {
  UninstallRecord h = {};
  Put(h.installDir, L"C:\\Prod");
  std::vector<unsigned char> bytes;
  Append(&bytes, &h, sizeof(h));
  const int one = 1;
  Append(&bytes, &one, 4);
  const UninstallEntry s = Entry(0, L"C:\\x.lnk");
  Append(&bytes, &s, sizeof(s));
  WriteBytes(File(L"folder_count.dat"), bytes);
  const Parsed p = Read(File(L"folder_count.dat"));
  EXPECT_TRUE(p.removals.empty());
  ASSERT_EQ(1u, p.shortcuts.size());
  EXPECT_EQ(L"C:\\x.lnk", SlotText(p.shortcuts[0].path));
}

TEST_F(RecordTest, UnterminatedSlotEndsAtItsEdge) {
  UninstallRecord h = {};
  for (wchar_t& c : h.displayName) c = L'A';  // 50 characters, no terminator
  Put(h.menuFolder, L"NEXT");
  EXPECT_EQ(std::wstring(50, L'A'), SlotText(h.displayName));
  UninstallEntry e = {};
  for (wchar_t& c : e.path) c = L'p';
  EXPECT_EQ(260u, SlotText(e.path).size());
}

}  // namespace
