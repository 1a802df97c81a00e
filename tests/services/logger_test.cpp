// The logger: line and file-name texts for any date, the registry switch and the daily file seen
// from a probe process in a folder of its own, and the shared block's running position.
#include "services/logger.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/registry_helpers.h"
#include "tests/support/shared_helpers.h"
#include "tests/support/test_support.h"
#include "util/shared_memory.h"
#include "util/system.h"

namespace {

using Texts = std::vector<std::string>;

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
  SYSTEMTIME t = {};
  t.wYear = y, t.wMonth = mo, t.wDay = d, t.wHour = h, t.wMinute = mi, t.wSecond = s;
  return t;
}

std::wstring Format(LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = kv::FormatLogMessage(format, args);
  va_end(args);
  return text;
}

TEST(LogText, FileNamesAndLines) {
  // No leading zeros in the name; either side of midnight gives two files.
  EXPECT_EQ(L"C:\\app\\KV-2026-3-5.log", kv::LogFileNameFor(L"C:\\app\\", Time(2026, 3, 5, 7, 8, 9)));
  EXPECT_EQ(L"D:\\KV-2026-12-31.log", kv::LogFileNameFor(L"D:\\", Time(2026, 12, 31, 23, 59, 59)));
  EXPECT_EQ(L"D:\\KV-2027-1-1.log", kv::LogFileNameFor(L"D:\\", Time(2027, 1, 1, 0, 0, 0)));
  EXPECT_EQ(L"2026-03-05 07:08:09\thello\r\n", kv::LogLineFor(Time(2026, 3, 5, 7, 8, 9), L"hello"));
  EXPECT_EQ(L"2026-11-25 23:00:00\t\r\n", kv::LogLineFor(Time(2026, 11, 25, 23, 0, 0), L""));
  const std::wstring long_text(5000, L'y');
  EXPECT_EQ(L"2026-03-05 07:08:09\t" + long_text + L"\r\n", kv::LogLineFor(Time(2026, 3, 5, 7, 8, 9), long_text));
}

TEST(LogText, FormatTakesWideTextAndNumbersCutAt1023Units) {
  EXPECT_EQ(L"net 卸载 failed: 12029", Format(L"net %s failed: %d", L"卸载", 12029));
  EXPECT_EQ(L"0x00ff", Format(L"0x%04x", 255));
  EXPECT_EQ(std::wstring(1023, L'z'), Format(L"%s!", std::wstring(3000, L'z').c_str()));
  EXPECT_EQ(std::wstring(1023, L'q'), Format(L"%s", std::wstring(1023, L'q').c_str()));
  // A surrogate pair that straddles the cut is not split.
  EXPECT_EQ(std::wstring(1022, L'a'), Format(L"%s", (std::wstring(1022, L'a') + L"\U0001F600").c_str()));
}

// Splits a log into its lines' messages; fails on anything that is not a whole line.
Texts Messages(const std::string& bytes) {
  static const std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\t([^\r\n]*)\r\n)");
  Texts messages;
  size_t covered = 0;
  for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), line); it != std::sregex_iterator(); ++it) {
    EXPECT_EQ(covered, static_cast<size_t>(it->position())) << "stray bytes in the log";
    covered = it->position() + it->length();
    messages.push_back((*it)[1]);
  }
  EXPECT_EQ(bytes.size(), covered) << "stray bytes at the end of the log";
  return messages;
}

// The "debug" switch is one value of the machine; this program holds the lock on it (ctest), and
// each test leaves it as it found it: absent in both views.
class LogSwitch : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSwitch();
    dir_ = kvtest::FolderWith(L"logger_" + kvtest::TestName(), {L"log_probe.exe"});
  }
  void TearDown() override { ClearSwitch(); }
  static void ClearSwitch() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
      kvtest::DeleteRegValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quarell", view, L"debug");
  }
  // view: KEY_WOW64_32KEY or KEY_WOW64_64KEY; 0 the process's own.
  static void SetSwitch(const std::wstring& value, REGSAM view = isWow64() ? KEY_WOW64_32KEY : 0) {
    ASSERT_TRUE(kvtest::SetRegText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quarell", view, L"debug", value));
  }
  void RunProbe(const std::wstring& args) { kvtest::RunIn(dir_, L"log_probe.exe", args); }
  std::vector<std::wstring> LogFiles() const { return kvtest::FileNames(dir_ + L"KV-*.log"); }
  // The bytes of the one log file (empty unless there is exactly one).
  std::string LogBytes() const {
    const std::vector<std::wstring> files = LogFiles();
    return files.size() == 1 ? kvtest::ReadBytes(dir_ + files[0]) : std::string();
  }
  std::wstring dir_;
};

TEST_F(LogSwitch, OnlyExactOneSwitchesOnAndWriteLog2IsCutAt1023Units) {
  RunProbe(L"write nothing");
  EXPECT_TRUE(LogFiles().empty()) << "no value: off";
  for (const wchar_t* value : {L"01", L"1 ", L"true", L"", L"11", L" 1"}) {
    SetSwitch(value);
    RunProbe(L"write off");
    EXPECT_TRUE(LogFiles().empty()) << kvtest::Utf8(value);
  }
  SetSwitch(L"1");
  RunProbe(L"write first");
  RunProbe(L"write2 second 7");
  RunProbe(L"write2 " + std::wstring(1100, L'w') + L" 5");  // the "=5" falls beyond the cut
  ASSERT_EQ(1u, LogFiles().size());
  EXPECT_EQ((Texts{"first", "second=7", std::string(1023, 'w')}), Messages(LogBytes()));
}

// Forced on without a value, into today's file, in the system's ANSI code page without a mark.
TEST_F(LogSwitch, LinesAreAnsiOfTheCodePageInTodaysFile) {
  SYSTEMTIME before = {}, after = {};
  ::GetLocalTime(&before);
  RunProbe(L"force 卸载");
  ::GetLocalTime(&after);
  const std::vector<std::wstring> files = LogFiles();
  ASSERT_EQ(1u, files.size());
  EXPECT_TRUE(files[0] == kv::LogFileNameFor(L"", before) || files[0] == kv::LogFileNameFor(L"", after))
      << kvtest::Utf8(files[0]);
  char expected[16] = "\xD0\xB6\xD4\xD8";  // GBK, on the product's own system
  if (::GetACP() != 936)
    ::WideCharToMultiByte(CP_ACP, 0, L"卸载", -1, expected, sizeof(expected), nullptr, nullptr);
  const std::string bytes = LogBytes();
  EXPECT_EQ(Texts{expected}, Messages(bytes));
  EXPECT_EQ(std::string::npos, bytes.find("\xEF\xBB\xBF")) << "no byte-order mark";
}

// The 32-bit view is read first; under WOW64 the 64-bit view is the fallback.
TEST_F(LogSwitch, ViewsOfTheSwitch) {
  ASSERT_TRUE(kvtest::ExpectedWow64() < 0 || kvtest::ExpectedWow64() == isWow64()) << "not the prefix asked for";
  if (!isWow64()) {
    SetSwitch(L"1", 0);
    RunProbe(L"write one-view");
    EXPECT_EQ(Texts{"one-view"}, Messages(LogBytes()));
    std::printf("SKIPPED: the 64-bit view exists only for a 32-bit process on 64-bit Windows\n");
    return;
  }
  SetSwitch(L"1", KEY_WOW64_64KEY);
  RunProbe(L"write only-64");
  EXPECT_EQ(Texts{"only-64"}, Messages(LogBytes()));
  SetSwitch(L"0", KEY_WOW64_32KEY);  // a readable but different 32-bit value wins
  RunProbe(L"write hidden");
  EXPECT_EQ(Texts{"only-64"}, Messages(LogBytes()));
}

// The live channel: a block named for this process and test.
std::wstring BlockName() { return L"kvtest_logblock_" + std::to_wstring(::GetCurrentProcessId()) + kvtest::TestName(); }

TEST(LogBlock, LinesFollowEachOtherAndCopiesKeepTheBlockAndPosition) {
  const std::wstring name = BlockName();
  auto original = std::make_unique<CKvLog>();
  original->WriteLog3(L"lost");  // no block yet: the position moves all the same
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  const size_t lost = kv::LogLineFor(now, L"lost").size();
  original->SetMemName(name.c_str(), 4096);
  original->WriteLog3(L"first %d", 1);
  original->WriteLog3(L"%s", L"second");
  std::vector<wchar_t> block(2048, L'\0');
  ASSERT_EQ(1, ReadShareMem2(name.c_str(), block.data(), 4096, 0));
  EXPECT_EQ(std::wstring(lost, L'\0'), std::wstring(block.data(), lost));
  EXPECT_EQ(std::wstring::npos, std::wstring(block.data(), block.size()).find(L"lost"));
  EXPECT_EQ((Texts{"first 1", "second"}), Messages(kvtest::Utf8(block.data() + lost)));
  CKvLog copy(*original);
  original.reset();  // the copy's own handle keeps the block alive
  ASSERT_EQ(1, isExistsShareMem(name.c_str()));
  copy.WriteLog3(L"two");
  CKvLog assigned;
  assigned = copy;
  assigned.WriteLog3(L"three");
  ASSERT_EQ(1, ReadShareMem2(name.c_str(), block.data(), 4096, 0));
  EXPECT_EQ((Texts{"first 1", "second", "two", "three"}), Messages(kvtest::Utf8(block.data() + lost)));
}

TEST(LogBlock, NothingIsWrittenPastTheEnd) {
  const std::wstring name = BlockName();
  constexpr int kBytes = 200;  // far less than a page
  CKvLog log;
  log.SetMemName(name.c_str(), kBytes);
  const SIZE_T reported = static_cast<SIZE_T>(GetShareMemSize(name.c_str()));
  if (reported != kBytes) {  // the logger holds lines to the size it asked for all the same
    std::printf("SKIPPED: the system reports the block as %u bytes, rounded up to whole pages\n",
                static_cast<unsigned>(reported));
    EXPECT_GT(reported, static_cast<SIZE_T>(kBytes));
  }
  // Each line is 20 units of date and tab, the message and CR LF: 28 units, 56 bytes with "abcdef".
  for (int i = 0; i < 6; ++i) log.WriteLog3(L"abcde%d", i);
  // The page behind the block is mapped too; none of it past the block may have been touched.
  kv::UniqueHandleKernel mapping(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()));
  ASSERT_TRUE(mapping);
  kv::UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  ASSERT_TRUE(view);
  const BYTE* bytes = static_cast<const BYTE*>(view.get());
  MEMORY_BASIC_INFORMATION region = {};
  ASSERT_NE(0u, ::VirtualQuery(bytes, &region, sizeof(region)));
  ASSERT_GT(region.RegionSize, static_cast<SIZE_T>(kBytes));
  for (SIZE_T i = kBytes; i < region.RegionSize; ++i) ASSERT_EQ(0, bytes[i]) << "byte " << i;
  // Three whole lines fit (168 bytes plus a terminator); the fourth would have crossed the end.
  const std::wstring text(reinterpret_cast<const wchar_t*>(bytes));
  EXPECT_EQ((Texts{"abcde0", "abcde1", "abcde2"}), Messages(kvtest::Utf8(text)));
}

}  // namespace
