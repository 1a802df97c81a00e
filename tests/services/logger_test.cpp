// The logger: line and file-name texts for any date, the registry switch and the daily file seen
// from a probe process in a folder of its own, and the shared block's running position.
#include "services/logger.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "services/registry.h"
#include "tests/support/test_support.h"
#include "util/shared_memory.h"
#include "util/system.h"

namespace {

constexpr wchar_t kSwitchKey[] = L"SOFTWARE\\Quarell";
constexpr wchar_t kSwitchValue[] = L"debug";
constexpr wchar_t kProbe[] = L"log_probe.exe";

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
  SYSTEMTIME t = {};
  t.wYear = y;
  t.wMonth = mo;
  t.wDay = d;
  t.wHour = h;
  t.wMinute = mi;
  t.wSecond = s;
  return t;
}

std::wstring Format(LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = kv::FormatLogMessage(format, args);
  va_end(args);
  return text;
}

TEST(LogText, FileNameHasNoLeadingZeros) {
  EXPECT_EQ(L"C:\\app\\KV-2026-3-5.log", kv::LogFileNameFor(L"C:\\app\\", Time(2026, 3, 5, 7, 8, 9)));
  EXPECT_EQ(L"D:\\KV-2026-12-25.log", kv::LogFileNameFor(L"D:\\", Time(2026, 12, 25, 0, 0, 0)));
}

TEST(LogText, EitherSideOfMidnightGivesTwoFiles) {
  const std::wstring before = kv::LogFileNameFor(L"C:\\a\\", Time(2026, 12, 31, 23, 59, 59));
  const std::wstring after = kv::LogFileNameFor(L"C:\\a\\", Time(2027, 1, 1, 0, 0, 0));
  EXPECT_EQ(L"C:\\a\\KV-2026-12-31.log", before);
  EXPECT_EQ(L"C:\\a\\KV-2027-1-1.log", after);
}

TEST(LogText, LineIsDateTimeTabMessageCrLf) {
  EXPECT_EQ(L"2026-03-05 07:08:09\thello\r\n", kv::LogLineFor(Time(2026, 3, 5, 7, 8, 9), L"hello"));
  EXPECT_EQ(L"2026-11-25 23:00:00\t\r\n", kv::LogLineFor(Time(2026, 11, 25, 23, 0, 0), L""));
  const std::wstring long_text(5000, L'y');
  EXPECT_EQ(L"2026-03-05 07:08:09\t" + long_text + L"\r\n",
            kv::LogLineFor(Time(2026, 3, 5, 7, 8, 9), long_text));
}

TEST(LogText, FormatTakesWideTextAndNumbers) {
  EXPECT_EQ(L"net 卸载 failed: 12029", Format(L"net %s failed: %d", L"卸载", 12029));
  EXPECT_EQ(L"0x00ff", Format(L"0x%04x", 255));
}

TEST(LogText, FormatIsCutAt1023Units) {
  const std::wstring big(3000, L'z');
  const std::wstring cut = Format(L"%s!", big.c_str());
  EXPECT_EQ(1023u, cut.size());
  EXPECT_EQ(std::wstring(1023, L'z'), cut);
  const std::wstring exact(1023, L'q');
  EXPECT_EQ(exact, Format(L"%s", exact.c_str()));
  // A surrogate pair that straddles the cut is not split.
  const std::wstring pairs = std::wstring(1022, L'a') + L"\U0001F600";
  const std::wstring at_cut = Format(L"%s", pairs.c_str());
  EXPECT_EQ(std::wstring(1022, L'a'), at_cut);
}

// The "debug" switch is one value of the machine; this program holds the lock on it (ctest), and
// each test leaves it as it found it: absent in both views.
class LogSwitch : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSwitch();
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = kvtest::FreshDir(L"logger_" + std::wstring(test.begin(), test.end()));
    ASSERT_TRUE(kvtest::CopyProgram(kProbe, dir_ + kProbe));
  }
  void TearDown() override { ClearSwitch(); }

  static void ClearSwitch() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      HKEY key = nullptr;
      if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSwitchKey, 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key, kSwitchValue);
        ::RegCloseKey(key);
      }
    }
  }
  // view: KEY_WOW64_32KEY or KEY_WOW64_64KEY.
  static void SetSwitch(const std::wstring& value, REGSAM view) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSwitchKey, 0, nullptr, 0,
                                               KEY_ALL_ACCESS | view, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key, kSwitchValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    ::RegCloseKey(key);
  }

  void RunProbe(const std::wstring& args) {
    const kvtest::ProcessResult r = kvtest::Run(L"\"" + dir_ + kProbe + L"\" " + args, dir_);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(0u, r.exit_code) << r.output;
  }

  // Names of the log files in the probe's folder.
  std::vector<std::wstring> LogFiles() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    HANDLE find = ::FindFirstFileW((dir_ + L"KV-*.log").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return names;
  }

  std::string LogBytes() const {
    const std::vector<std::wstring> files = LogFiles();
    if (files.size() != 1) return {};
    std::ifstream in(std::filesystem::path(dir_ + files[0]), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::wstring dir_;
};

const std::regex kLine(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\t([^\r\n]*)\r\n)");

// Splits a file into its lines' messages; fails on anything that is not a whole line.
std::vector<std::string> Messages(const std::string& bytes) {
  std::vector<std::string> messages;
  auto begin = std::sregex_iterator(bytes.begin(), bytes.end(), kLine);
  size_t covered = 0;
  for (auto it = begin; it != std::sregex_iterator(); ++it) {
    EXPECT_EQ(covered, static_cast<size_t>(it->position())) << "stray bytes in the log";
    covered = it->position() + it->length();
    messages.push_back((*it)[1]);
  }
  EXPECT_EQ(bytes.size(), covered) << "stray bytes at the end of the log";
  return messages;
}

TEST_F(LogSwitch, OffWithoutValueWritesNoFile) {
  RunProbe(L"write nothing");
  EXPECT_TRUE(LogFiles().empty());
}

TEST_F(LogSwitch, ForceWritesWithoutValue) {
  RunProbe(L"force forced");
  ASSERT_EQ(1u, LogFiles().size());
  EXPECT_EQ(std::vector<std::string>{"forced"}, Messages(LogBytes()));
}

TEST_F(LogSwitch, OnlyExactOneSwitchesOn) {
  const REGSAM view = isWow64() ? KEY_WOW64_32KEY : 0;
  for (const wchar_t* value : {L"01", L"1 ", L"true", L"", L"11", L" 1"}) {
    SetSwitch(value, view);
    RunProbe(L"write off");
    EXPECT_TRUE(LogFiles().empty()) << kvtest::Utf8(value);
  }
  SetSwitch(L"1", view);
  RunProbe(L"write first");
  RunProbe(L"write2 second 7");
  ASSERT_EQ(1u, LogFiles().size());
  EXPECT_EQ((std::vector<std::string>{"first", "second=7"}), Messages(LogBytes()));
}

TEST_F(LogSwitch, FileIsNamedForToday) {
  RunProbe(L"force today");
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  const std::vector<std::wstring> files = LogFiles();
  ASSERT_EQ(1u, files.size());
  // The probe ran moments ago; around midnight either day is right.
  SYSTEMTIME earlier = now;
  FILETIME ft = {};
  ::SystemTimeToFileTime(&now, &ft);
  ULARGE_INTEGER t = {{ft.dwLowDateTime, ft.dwHighDateTime}};
  t.QuadPart -= 60ull * 10000000ull;
  ft = {t.LowPart, t.HighPart};
  ::FileTimeToSystemTime(&ft, &earlier);
  const std::wstring want_now = kv::LogFileNameFor(L"", now);
  const std::wstring want_earlier = kv::LogFileNameFor(L"", earlier);
  EXPECT_TRUE(files[0] == want_now || files[0] == want_earlier) << kvtest::Utf8(files[0]);
}

TEST_F(LogSwitch, LinesAreAnsiOfTheCodePage) {
  RunProbe(L"force 卸载");
  const std::string bytes = LogBytes();
  const std::vector<std::string> messages = Messages(bytes);
  ASSERT_EQ(1u, messages.size());
  if (::GetACP() == 936) {
    EXPECT_EQ("\xD0\xB6\xD4\xD8", messages[0]);
  } else {
    char expected[16] = {};
    ::WideCharToMultiByte(CP_ACP, 0, L"卸载", -1, expected, sizeof(expected), nullptr, nullptr);
    EXPECT_EQ(expected, messages[0]);
  }
  EXPECT_EQ(std::string::npos, bytes.find("\xEF\xBB\xBF")) << "no byte-order mark";
}

// The 32-bit view is read first; under WOW64 the 64-bit view is the fallback.
TEST_F(LogSwitch, ViewsOfTheSwitch) {
  const char* expect = std::getenv("KV_EXPECT_WOW64");
  if (expect) {
    ASSERT_EQ(std::atoi(expect), isWow64()) << "the prefix is not the one this run is for";
  }
  if (!isWow64()) {
    SetSwitch(L"1", 0);
    RunProbe(L"write one-view");
    EXPECT_EQ(std::vector<std::string>{"one-view"}, Messages(LogBytes()));
    std::printf("SKIPPED: the 64-bit view exists only for a 32-bit process on 64-bit Windows\n");
    return;
  }
  SetSwitch(L"1", KEY_WOW64_64KEY);
  RunProbe(L"write only-64");
  EXPECT_EQ(std::vector<std::string>{"only-64"}, Messages(LogBytes()));
  // A readable but different 32-bit value wins over the 64-bit one.
  SetSwitch(L"0", KEY_WOW64_32KEY);
  RunProbe(L"write hidden");
  EXPECT_EQ(std::vector<std::string>{"only-64"}, Messages(LogBytes()));
}

// The live channel.
std::wstring BlockName(const char* test) {
  return L"kvtest_logblock_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
         std::wstring(test, test + std::strlen(test));
}

std::wstring ReadBlock(const std::wstring& name, size_t units) {
  std::vector<wchar_t> data(units, L'\0');
  EXPECT_EQ(1, ReadShareMem2(name.c_str(), data.data(), static_cast<int>(units * 2), 0));
  return std::wstring(data.data(), units);
}

TEST(LogBlock, LinesFollowEachOtherWithATerminator) {
  const std::wstring name = BlockName("follow");
  CKvLog log;
  log.SetMemName(name.c_str(), 4096);
  log.WriteLog3(L"first %d", 1);
  log.WriteLog3(L"%s", L"second");
  wchar_t text[2048] = {};
  ASSERT_EQ(1, ReadShareMem(name.c_str(), text, 2048));
  const std::string all = kvtest::Utf8(text);
  EXPECT_EQ((std::vector<std::string>{"first 1", "second"}), Messages(all));
}

TEST(LogBlock, WithoutBlockThePositionStillMoves) {
  const std::wstring name = BlockName("nameless");
  CKvLog log;
  log.WriteLog3(L"lost");  // no block yet
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  const size_t lost = kv::LogLineFor(now, L"lost").size();
  log.SetMemName(name.c_str(), 4096);
  log.WriteLog3(L"kept");
  const std::wstring block = ReadBlock(name, 2048);
  EXPECT_EQ(std::wstring(lost, L'\0'), block.substr(0, lost));
  EXPECT_EQ(1u, Messages(kvtest::Utf8(block.c_str() + lost)).size());
  EXPECT_EQ(std::wstring::npos, block.find(L"lost"));
}

TEST(LogBlock, NothingIsWrittenPastTheEnd) {
  const std::wstring name = BlockName("end");
  constexpr int kBytes = 200;  // far less than a page
  CKvLog log;
  log.SetMemName(name.c_str(), kBytes);
  const SIZE_T reported = kv::ShareMemSize(name.c_str());
  if (reported != kBytes) {
    // The logger holds lines to the size it asked for, whatever the system reports.
    std::printf("SKIPPED: the system reports the block as %u bytes, rounded up to whole pages\n",
                static_cast<unsigned>(reported));
    EXPECT_GT(reported, static_cast<SIZE_T>(kBytes));
  }
  // Each line is 20 units of date and tab, the message and CR LF: 28 units, 56 bytes with "abcdef".
  for (int i = 0; i < 6; ++i) log.WriteLog3(L"abcde%d", i);
  // The page behind the block is mapped too; none of it past the block may have been touched.
  HANDLE mapping = ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
  ASSERT_NE(nullptr, mapping);
  const BYTE* view = static_cast<const BYTE*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(nullptr, view);
  MEMORY_BASIC_INFORMATION region = {};
  ASSERT_NE(0u, ::VirtualQuery(view, &region, sizeof(region)));
  ASSERT_GT(region.RegionSize, static_cast<SIZE_T>(kBytes));
  for (SIZE_T i = kBytes; i < region.RegionSize; ++i) ASSERT_EQ(0, view[i]) << "byte " << i;
  // Three whole lines fit (168 bytes plus a terminator); the fourth would have crossed the end.
  const std::wstring text(reinterpret_cast<const wchar_t*>(view));
  EXPECT_EQ((std::vector<std::string>{"abcde0", "abcde1", "abcde2"}), Messages(kvtest::Utf8(text)));
  ::UnmapViewOfFile(view);
  ::CloseHandle(mapping);
}

TEST(LogBlock, CopyKeepsTheBlockAndThePosition) {
  const std::wstring name = BlockName("copy");
  auto original = std::make_unique<CKvLog>();
  original->SetMemName(name.c_str(), 4096);
  original->WriteLog3(L"one");
  CKvLog copy(*original);
  original.reset();  // the copy's own handle keeps the block alive
  ASSERT_EQ(1, isExistsShareMem(name.c_str()));
  copy.WriteLog3(L"two");
  wchar_t text[2048] = {};
  ASSERT_EQ(1, ReadShareMem(name.c_str(), text, 2048));
  EXPECT_EQ((std::vector<std::string>{"one", "two"}), Messages(kvtest::Utf8(text)));
  CKvLog assigned;
  assigned = copy;
  assigned.WriteLog3(L"three");
  ASSERT_EQ(1, ReadShareMem(name.c_str(), text, 2048));
  EXPECT_EQ((std::vector<std::string>{"one", "two", "three"}), Messages(kvtest::Utf8(text)));
}

TEST(LogInstance, OneLoggerPerProcess) {
  EXPECT_EQ(&CKvLog::Instance(), &CKvLog::Instance());
}

}  // namespace
