#include "uninstall/record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/install_support.h"
#include "util/handles.h"

namespace {

using kvtest::Entry;
using kvtest::Put;

struct Parsed {
  UninstallRecord header;
  std::vector<UninstallEntry> removals, shortcuts;
};

// Raw record files: pieces appended in order, then written out.
struct Raw {
  std::string bytes;
  template <typename T>
  Raw& Add(const T& piece, size_t size = sizeof(T)) {
    bytes.append(reinterpret_cast<const char*>(&piece), size);
    return *this;
  }
};

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = kvtest::FreshDir(L"record"); }
  std::wstring File(const wchar_t* name) const { return dir_ + name; }
  std::wstring Write(const wchar_t* name, const Raw& raw) {
    kvtest::WriteText(File(name), raw.bytes);
    return File(name);
  }
  static Parsed Read(const std::wstring& path) {
    Parsed p = {};
    kv::UniqueStdioFile f(_wfopen(path.c_str(), L"rb"));
    EXPECT_TRUE(f);
    if (f) ReadRecordLists(f.get(), &p.header, &p.removals, &p.shortcuts);
    return p;
  }
  static int IntAt(const std::string& bytes, size_t offset) {
    int v = 0;
    std::memcpy(&v, bytes.data() + offset, 4);
    return v;
  }
  std::wstring dir_;
};

TEST_F(RecordTest, WriterLaysOutBothModesExactly) {
  UninstallRecord h = {};
  Put(h.uninstallKey, L"ProdKey");
  Put(h.displayName, L"产品");
  Put(h.menuFolder, L"Prod Tools");
  const UninstallEntry removals[] = {Entry(1, L"C:\\p\\a.txt"), Entry(0, L"C:\\p\\sub\\")};
  const UninstallEntry shortcuts[] = {Entry(1, L"C:\\p\\s.lnk"), Entry(0, L"C:\\p\\b.lnk")};
  ASSERT_EQ(1, WriteUninstallRecord(File(L"list.dat").c_str(), &h, removals, 2, shortcuts, 1));
  std::string bytes = kvtest::ReadAll(File(L"list.dat"));
  ASSERT_EQ(760u + 4 + 2 * 524 + 4 + 524, bytes.size());
  EXPECT_EQ(0, std::memcmp(bytes.data(), L"ProdKey", 16));
  EXPECT_EQ(0, std::memcmp(bytes.data() + 200, L"产品", 6));
  EXPECT_EQ(0, std::memcmp(bytes.data() + 300, L"Prod Tools", 22));
  EXPECT_EQ(2, IntAt(bytes, 760));
  EXPECT_EQ(1, IntAt(bytes, 764));  // isFile of the first entry
  EXPECT_EQ(0, std::memcmp(bytes.data() + 768, L"C:\\p\\a.txt", 22));
  EXPECT_EQ(1, IntAt(bytes, 764 + 2 * 524));  // shortcut count
  for (size_t i = 200 + 6; i < 300; ++i) ASSERT_EQ(0, bytes[i]) << i;  // zero after terminators
  Parsed p = Read(File(L"list.dat"));
  EXPECT_EQ(L"ProdKey", SlotText(p.header.uninstallKey));
  EXPECT_EQ(L"产品", SlotText(p.header.displayName));
  ASSERT_EQ(2u, p.removals.size());
  EXPECT_EQ(L"C:\\p\\sub\\", SlotText(p.removals[1].path));
  EXPECT_EQ(0, p.removals[1].isFile);
  ASSERT_EQ(1u, p.shortcuts.size());
  EXPECT_EQ(L"C:\\p\\s.lnk", SlotText(p.shortcuts[0].path));

  // Folder mode: no removal list, the shortcut count follows the header directly.
  h = {};
  Put(h.installDir, L"C:\\Program Files\\Prod");
  ASSERT_EQ(1, WriteUninstallRecord(File(L"folder.dat").c_str(), &h, nullptr, 0, shortcuts, 2));
  bytes = kvtest::ReadAll(File(L"folder.dat"));
  ASSERT_EQ(760u + 4 + 2 * 524, bytes.size());
  EXPECT_EQ(2, IntAt(bytes, 760));
  p = Read(File(L"folder.dat"));
  EXPECT_TRUE(p.removals.empty());
  ASSERT_EQ(2u, p.shortcuts.size());
  EXPECT_EQ(L"C:\\p\\b.lnk", SlotText(p.shortcuts[1].path));
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
  // Whatever the uninstaller would refuse to delete is refused when the record is written.
  struct Refused {
    const wchar_t* what;
    int is_file;
    const wchar_t* entry;    // a removal (list mode), or a shortcut when is_file is 2
    const wchar_t* install;  // installDir: folder mode
    const wchar_t* menu;
  };
  const Refused refused[] = {
      {L"a system folder", 0, L"C:\\ProgramData\\", L"", L""},
      {L"a drive root", 0, L"C:\\", L"", L""},
      {L"a relative folder", 0, L"rel\\", L"", L""},
      {L"a climb out", 0, L"C:\\kvtest\\p\\..\\..\\", L"", L""},
      {L"a network path", 0, L"\\\\server\\share\\p\\", L"", L""},
      {L"a file inside Windows", 1, L"C:\\windows\\system32\\kv.dll", L"", L""},
      {L"a shortcut with a trailing dot", 2, L"C:\\p\\x.lnk.", L"", L""},
      {L"a protected installation folder", 0, nullptr, L"C:\\users\\", L""},
      {L"a menu folder climbing out", 0, nullptr, L"", L"..\\Startup"},
  };
  for (const Refused& row : refused) {
    SCOPED_TRACE(kvtest::Utf8(row.what));
    h = {};
    Put(h.installDir, row.install);
    Put(h.menuFolder, row.menu);
    std::vector<UninstallEntry> removals, shortcuts;
    if (row.entry) (row.is_file == 2 ? shortcuts : removals).push_back(Entry(row.is_file & 1, row.entry));
    EXPECT_EQ(0, WriteUninstallRecord(path.c_str(), &h, removals.data(), static_cast<int>(removals.size()),
                                      shortcuts.data(), static_cast<int>(shortcuts.size())));
    EXPECT_FALSE(kvtest::Exists(path));
  }
  // Folder mode sweeps the record's own folder: one that no product may own is refused too.
  h = {};
  Put(h.installDir, L"C:\\kvtest\\Prod\\");
  EXPECT_EQ(0, WriteUninstallRecord(L"C:\\ProgramData\\kvUninstall.dat", &h, nullptr, 0, nullptr, 0));
  EXPECT_FALSE(kvtest::Exists(L"C:\\ProgramData\\kvUninstall.dat"));

  // The longest display name that fits: 49 characters and the terminator.
  h = {};
  Put(h.displayName, std::wstring(49, L'n'));
  EXPECT_EQ(1, WriteUninstallRecord(path.c_str(), &h, nullptr, 0, nullptr, 0));
  EXPECT_EQ(std::wstring(49, L'n'), SlotText(Read(path).header.displayName));
}

TEST_F(RecordTest, HeaderOnlyAndShortFiles) {
  UninstallRecord h = {};
  Put(h.uninstallKey, L"Key");
  Put(h.displayName, L"Prod");
  Parsed p = Read(Write(L"list760.dat", Raw().Add(h)));
  EXPECT_EQ(L"Prod", SlotText(p.header.displayName));
  EXPECT_TRUE(p.removals.empty());
  EXPECT_TRUE(p.shortcuts.empty());
  // Ends inside the display name's slot, after its terminator: the missing bytes read as zero.
  const std::wstring short_file = Write(L"short.dat", Raw().Add(h, 250));
  p = Read(short_file);
  EXPECT_EQ(L"Key", SlotText(p.header.uninstallKey));
  EXPECT_TRUE(p.removals.empty());
  EXPECT_TRUE(p.shortcuts.empty());
  UninstallRecord header;
  std::memset(&header, 0x55, sizeof(header));
  ASSERT_TRUE(ReadRecordHeader(short_file, &header));
  EXPECT_EQ(L"Prod", SlotText(header.displayName));
  EXPECT_EQ(L"", SlotText(header.installDir));
  EXPECT_FALSE(ReadRecordHeader(File(L"absent.dat"), &header));
  EXPECT_EQ(L"", SlotText(header.displayName));

  Put(h.installDir, L"C:\\Prod");
  p = Read(Write(L"folder760.dat", Raw().Add(h)));
  EXPECT_EQ(L"C:\\Prod", SlotText(p.header.installDir));
  EXPECT_TRUE(p.shortcuts.empty());
  // Folder mode reads offset 760 as the shortcut count.
  p = Read(Write(L"folder_count.dat", Raw().Add(h).Add(1).Add(Entry(0, L"C:\\x.lnk"))));
  EXPECT_TRUE(p.removals.empty());
  ASSERT_EQ(1u, p.shortcuts.size());
  EXPECT_EQ(L"C:\\x.lnk", SlotText(p.shortcuts[0].path));
}

TEST_F(RecordTest, CountsAndEmptyPaths) {
  const UninstallRecord h = {};
  const UninstallEntry a = Entry(1, L"C:\\a"), b = Entry(1, L"C:\\b"), c = Entry(0, L"C:\\c\\");
  // Three removals, the middle one empty; three shortcuts promised, two follow.
  Parsed p = Read(Write(L"counts.dat", Raw().Add(h).Add(3).Add(a).Add(Entry(1, L"")).Add(c)
                                           .Add(3).Add(a).Add(c)));
  ASSERT_EQ(2u, p.removals.size());  // the empty entry is skipped, the one after it kept
  EXPECT_EQ(L"C:\\a", SlotText(p.removals[0].path));
  EXPECT_EQ(L"C:\\c\\", SlotText(p.removals[1].path));
  ASSERT_EQ(3u, p.shortcuts.size());  // the end of the file shows only after a read hits it
  EXPECT_EQ(L"C:\\c\\", SlotText(p.shortcuts[1].path));
  EXPECT_EQ(L"", SlotText(p.shortcuts[2].path));

  p = Read(Write(L"negative.dat", Raw().Add(h).Add(-5).Add(-5)));
  EXPECT_TRUE(p.removals.empty());
  EXPECT_TRUE(p.shortcuts.empty());
  // Two billion promised entries, two present: the read stops at the end of the file at once.
  const std::wstring huge = Write(L"huge.dat", Raw().Add(h).Add(2147483647).Add(a).Add(b));
  const DWORD start = ::GetTickCount();
  p = Read(huge);
  EXPECT_LT(::GetTickCount() - start, 2000u);
  ASSERT_EQ(2u, p.removals.size());
  EXPECT_EQ(L"C:\\b", SlotText(p.removals[1].path));
  EXPECT_TRUE(p.shortcuts.empty());
}

// A file cut short (a full disk, an interrupted copy) must not turn a path into its prefix.
TEST_F(RecordTest, WhatTheFileEndsInsideIsNotTaken) {
  UninstallRecord h = {};
  Put(h.uninstallKey, L"Key");
  Put(h.displayName, L"Brix Demo");
  Put(h.menuFolder, L"Brix Tools");
  const UninstallEntry first = Entry(1, L"C:\\kvtest\\a.txt");
  const UninstallEntry last = Entry(0, L"C:\\kvtest\\parent\\product\\");
  const std::string whole = Raw().Add(h).Add(2).Add(first).Add(last).Add(1).Add(first).bytes;
  const size_t last_path = 764 + 524 + 4;  // where the last removal's path starts
  struct Row {
    const char* what;
    size_t length;
    const wchar_t* name;
    const wchar_t* menu;
    size_t removals;
    size_t shortcuts;
  };
  const Row rows[] = {
      {"whole", whole.size(), L"Brix Demo", L"Brix Tools", 2, 1},
      {"inside the display name", 200 + 8, L"", L"", 0, 0},
      {"after the display name's terminator", 200 + 20, L"Brix Demo", L"", 0, 0},
      {"inside the menu folder", 300 + 8, L"Brix Demo", L"", 0, 0},
      {"inside the removal count", 762, L"Brix Demo", L"Brix Tools", 0, 0},
      {"inside the last entry's path", last_path + 2 * 17, L"Brix Demo", L"Brix Tools", 1, 0},
      {"inside the shortcut count", 764 + 2 * 524 + 2, L"Brix Demo", L"Brix Tools", 2, 0},
      {"inside the shortcut", whole.size() - 100, L"Brix Demo", L"Brix Tools", 2, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Raw cut;
    cut.bytes = whole.substr(0, row.length);
    const Parsed p = Read(Write(L"cut.dat", cut));
    EXPECT_EQ(row.name, SlotText(p.header.displayName));
    EXPECT_EQ(row.menu, SlotText(p.header.menuFolder));
    EXPECT_EQ(L"Key", SlotText(p.header.uninstallKey));
    EXPECT_EQ(row.removals, p.removals.size());
    EXPECT_EQ(row.shortcuts, p.shortcuts.size());
    for (const UninstallEntry& e : p.removals)
      EXPECT_NE(L"C:\\kvtest\\parent\\", SlotText(e.path));
    UninstallRecord header;
    ASSERT_TRUE(ReadRecordHeader(File(L"cut.dat"), &header));
    EXPECT_EQ(row.menu, SlotText(header.menuFolder));
  }
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
