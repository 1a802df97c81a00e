// The self-deletion script: its exact text and bytes, and the whole hand-over in real processes.
// DeleteSelf ends the process that calls it, so the end-to-end tests run self_delete_probe.exe
// copied as kvUninstall.exe into an installed folder and watch what disappears.
#include "uninstall/self_delete.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/test_support.h"
#include "uninstall/record.h"

namespace {

namespace sd = kv::self_delete;
using kvtest::Exists;
using kvtest::WriteText;

constexpr UINT kChinese = 936;
constexpr UINT kWestern = 1252;
constexpr wchar_t kScript[] = L"c:\\clear.bat";
constexpr wchar_t kProbe[] = L"self_delete_probe.exe";

// The volume's own short name for path, asked of the platform directly; empty when it keeps none
// that a code page can hold (pure ASCII).
std::wstring PlatformShortName(const std::wstring& path) {
  wchar_t short_path[MAX_PATH] = {};
  const DWORD length = ::GetShortPathNameW(path.c_str(), short_path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  for (DWORD i = 0; i < length; ++i)
    if (short_path[i] > 0x7F) return {};
  return short_path;
}

std::string Bytes(const std::wstring& text, UINT code_page) {
  std::string out = "unchanged";
  EXPECT_TRUE(sd::ToCodePage(text, code_page, &out)) << kvtest::Utf8(text);
  return out;
}

// ---- the script's text and bytes ----

TEST(SelfDeleteScript, ProgramOnlyTemplateExactBytes) {
  const std::wstring text = sd::ScriptText(L"C:\\Program Files\\Prod\\kvUninstall.exe", L"");
  const std::string expected =
      "@ echo off\r\ntaskkill /im kvUninstall.exe /f\r\n"
      "del \"C:\\Program Files\\Prod\\kvUninstall.exe\"\r\ndel %0";
  EXPECT_EQ(expected, Bytes(text, kChinese));
  EXPECT_EQ(expected, Bytes(text, kWestern));
  EXPECT_EQ(4u, kvtest::Lines(expected).size());
}

TEST(SelfDeleteScript, FolderTemplateExactBytes) {
  const std::wstring text =
      sd::ScriptText(L"C:\\Program Files\\Prod\\kvUninstall.exe", L"C:\\Program Files\\Prod\\");
  const std::string expected =
      "@ echo off\r\ntaskkill /im kvUninstall.exe /f\r\n"
      "del \"C:\\Program Files\\Prod\\kvUninstall.exe\"\r\n"
      "rd /S /Q \"C:\\Program Files\\Prod\\\"\r\ndel %0";
  EXPECT_EQ(expected, Bytes(text, kChinese));
  const std::vector<std::string> lines = kvtest::Lines(expected);
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("rd /S /Q \"C:\\Program Files\\Prod\\\"", lines[3]);
}

TEST(SelfDeleteScript, OtherProgramNameKeepsTheFixedImageName) {
  const std::wstring text = sd::ScriptText(L"D:\\x\\Prod Uninstall.exe", L"");
  EXPECT_NE(std::wstring::npos, text.find(L"taskkill /im kvUninstall.exe /f\r\n"));
  EXPECT_NE(std::wstring::npos, text.find(L"del \"D:\\x\\Prod Uninstall.exe\"\r\n"));
}

TEST(SelfDeleteScript, ChineseCodePageBytes) {
  EXPECT_EQ("del \"C:\\\xB2\xE2\xCA\xD4\\\"", Bytes(L"del \"C:\\\u6D4B\u8BD5\\\"", kChinese));
  std::string out = "unchanged";
  EXPECT_FALSE(sd::ToCodePage(L"C:\\\u6D4B\u8BD5", kWestern, &out));
  EXPECT_EQ("unchanged", out);
  // Hangul has no place in code page 936.
  EXPECT_FALSE(sd::ToCodePage(L"C:\\\uD55C", kChinese, &out));
}

TEST(SelfDeleteScript, WesternCodePageBytes) {
  EXPECT_EQ("C:\\Caf\xE9\\Stra\xDF" "e", Bytes(L"C:\\Caf\u00E9\\Stra\u00DF" L"e", kWestern));
  std::string out;
  EXPECT_FALSE(sd::ToCodePage(L"Stra\u00DF" L"e", kChinese, &out));
  // No best-fit stand-in: a macron a would silently become a plain a and name another file.
  EXPECT_FALSE(sd::ToCodePage(L"C:\\\u0101", kWestern, &out));
}

TEST(SelfDeleteScript, ThreadCodePageIsTheLocales) {
  const std::wstring text = L"C:\\\u6D4B\u8BD5\\Caf\u00E9";
  std::string thread_bytes, acp_bytes;
  const bool thread_ok = sd::ToCodePage(text, CP_THREAD_ACP, &thread_bytes);
  const bool acp_ok = sd::ToCodePage(text, ::GetACP(), &acp_bytes);
  std::printf("thread code page test under ANSI code page %u\n", ::GetACP());
  EXPECT_EQ(acp_ok, thread_ok);
  EXPECT_EQ(acp_bytes, thread_bytes);
}

TEST(SelfDeleteScript, SpellablePathFallsBackToTheShortName) {
  const std::wstring dir = kvtest::FreshDir(L"sd_spell_\u6D4B\u8BD5_\uD55C");
  EXPECT_EQ(L"C:\\kvtest\\", sd::SpellablePath(L"C:\\kvtest\\", kChinese));
  const std::wstring chinese = L"C:\\kvtest\\\u6D4B\u8BD5\\kvUninstall.exe";  // 936 holds it as is
  EXPECT_EQ(chinese, sd::SpellablePath(chinese, kChinese));
  // Nothing on disk, so no short name either: no spelling at all rather than a lossy one.
  EXPECT_EQ(L"", sd::SpellablePath(L"C:\\kvtest\\absent_\uD55C\\x.exe", kChinese));

  const std::wstring short_name = PlatformShortName(dir);
  if (short_name.empty()) {
    std::printf("SKIPPED: the volume keeps no short name for %s\n", kvtest::Utf8(dir).c_str());
    GTEST_SKIP();
  }
  for (UINT cp : {kChinese, kWestern}) {
    EXPECT_EQ(short_name, sd::SpellablePath(dir, cp)) << cp;
    std::string bytes;
    EXPECT_TRUE(sd::ToCodePage(short_name, cp, &bytes));
  }
}

TEST(SelfDeleteScript, FolderTemplateOnlyForOrdinaryExistingFolders) {
  const std::wstring dir = kvtest::FreshDir(L"sd_choice");
  EXPECT_EQ(dir, sd::FolderToRemove(dir));
  EXPECT_EQ(L"", sd::FolderToRemove(L""));
  EXPECT_EQ(L"", sd::FolderToRemove(dir + L"absent\\"));
  for (const wchar_t* protected_dir : {L"C:\\", L"c:", L"C:\\windows\\", L"C:\\windows\\system32",
                                       L"C:\\Program Files\\", L"C:\\ProgramData\\", L"C:\\users\\"})
    EXPECT_EQ(L"", sd::FolderToRemove(protected_dir)) << kvtest::Utf8(protected_dir);
}

TEST(SelfDeleteScript, TextModeDoublesCarriageReturns) {
  const std::wstring dir = kvtest::FreshDir(L"sd_textmode");
  const std::string path = kvtest::Utf8(dir) + "script.bat";
  const std::string bytes = "@ echo off\r\ndel %0";
  {
    FILE* file = sd::OpenScript(path.c_str());
    ASSERT_NE(nullptr, file);
    EXPECT_TRUE(sd::WriteScript(file, bytes));
    std::fclose(file);
  }
  std::ifstream in(path, std::ios::binary);
  const std::string disk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ("@ echo off\r\r\ndel %0", disk);
  EXPECT_EQ(nullptr, sd::OpenScript("C:\\kvtest\\sd_no_such_folder\\x.bat"));
}

// ---- the hand-over in real processes ----

template <size_t N>
void Put(wchar_t (&slot)[N], const std::wstring& text) {
  std::memset(slot, 0, sizeof(slot));
  std::memcpy(slot, text.data(), text.size() * sizeof(wchar_t));
}

struct Installed {
  std::wstring dir, exe, marker;
};

Installed Install(const std::wstring& name, const std::wstring& install_dir,
                  const std::wstring& exe_name = L"kvUninstall.exe") {
  Installed in;
  in.dir = kvtest::FreshDir(name);
  in.exe = in.dir + exe_name;
  in.marker = kvtest::FreshDir(name + L"_marker") + L"exit_handler.txt";
  EXPECT_TRUE(kvtest::CopyProgram(kProbe, in.exe));
  WriteText(in.dir + L"data\\payload.bin", "x");
  UninstallRecord header = {};
  Put(header.installDir, install_dir);
  EXPECT_EQ(1, WriteUninstallRecord((in.dir + L"kvUninstall.dat").c_str(), &header, nullptr, 0,
                                    nullptr, 0));
  return in;
}

// Starts the probe and waits for it; DeleteSelf must have ended it with exit code 0.
void RunToDeletion(const Installed& in, const std::wstring& args = L"") {
  ::DeleteFileW(kScript);
  const kvtest::ProcessResult r = kvtest::Run(L"\"" + in.exe + L"\" --marker \"" + in.marker +
                                              L"\"" + args, in.dir, 60000);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(0u, r.exit_code) << r.output;
  EXPECT_FALSE(Exists(in.marker)) << "DeleteSelf ran the program's exit handlers";
}

// The script runs beside us: give it time, generously.
bool GoneWithin(const std::wstring& path, DWORD ms = 30000) {
  const DWORD start = ::GetTickCount();
  while (Exists(path)) {
    if (::GetTickCount() - start > ms) return false;
    ::Sleep(100);
  }
  return true;
}

TEST(SelfDelete, FolderModeRemovesProgramFolderAndScript) {
  const std::wstring dir = L"C:\\kvtest\\self delete folder\\";
  Installed in = Install(L"self delete folder", dir);
  RunToDeletion(in);
  EXPECT_TRUE(GoneWithin(in.exe));
  EXPECT_TRUE(GoneWithin(dir));
  EXPECT_TRUE(GoneWithin(kScript));
}

TEST(SelfDelete, ListModeRemovesOnlyTheProgram) {
  Installed in = Install(L"self delete list", L"");
  RunToDeletion(in);
  EXPECT_TRUE(GoneWithin(in.exe));
  EXPECT_TRUE(GoneWithin(kScript));
  EXPECT_TRUE(Exists(in.dir + L"kvUninstall.dat"));
  EXPECT_TRUE(Exists(in.dir + L"data\\payload.bin"));
}

TEST(SelfDelete, OtherProgramNameIsDeletedToo) {
  Installed in = Install(L"self delete renamed", L"", L"Prod Uninstall.exe");
  RunToDeletion(in);
  EXPECT_TRUE(GoneWithin(in.exe));
  EXPECT_TRUE(GoneWithin(kScript));
}

// A record naming a system folder gets the program-only script: the folder and its files stay.
TEST(SelfDelete, ProtectedInstallDirIsNeverRemoved) {
  const std::wstring canary = L"C:\\ProgramData\\kv_self_delete_canary.txt";
  WriteText(canary, "must stay");
  Installed in = Install(L"self delete protected", L"C:\\ProgramData\\");
  RunToDeletion(in);
  EXPECT_TRUE(GoneWithin(in.exe));
  EXPECT_TRUE(GoneWithin(kScript));
  EXPECT_TRUE(Exists(canary));
  EXPECT_TRUE(Exists(L"C:\\ProgramData"));
  ::DeleteFileW(canary.c_str());
}

// A folder name the code page cannot hold reaches the script in its short form.
TEST(SelfDelete, FolderNameOutsideTheCodePage) {
  const std::wstring name = ::GetACP() == kChinese ? L"self delete \uD55C\uAE00" : L"self delete \u5378\u8F7D";
  const std::wstring dir = L"C:\\kvtest\\" + name + L"\\";
  Installed in = Install(name, dir);
  std::string ignored;
  ASSERT_FALSE(sd::ToCodePage(dir, ::GetACP(), &ignored));
  if (PlatformShortName(dir).empty()) {
    std::printf("SKIPPED: the volume gives %s no short name\n", kvtest::Utf8(dir).c_str());
    kvtest::RemoveTree(dir);
    GTEST_SKIP();
  }
  RunToDeletion(in);
  EXPECT_TRUE(GoneWithin(in.exe));
  EXPECT_TRUE(GoneWithin(dir));
  EXPECT_TRUE(GoneWithin(kScript));
}

// With no way to create the script DeleteSelf returns and the program stays.
TEST(SelfDelete, NoScriptNoExit) {
  Installed in = Install(L"self delete blocked", L"");
  ::DeleteFileW(kScript);
  ASSERT_TRUE(::CreateDirectoryW(kScript, nullptr));  // a folder where the script would go
  const kvtest::ProcessResult r =
      kvtest::Run(L"\"" + in.exe + L"\" --skip-run --marker \"" + in.marker + L"\"", in.dir);
  ::RemoveDirectoryW(kScript);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(3u, r.exit_code);
  EXPECT_TRUE(Exists(in.exe));
  EXPECT_TRUE(Exists(in.marker));  // it ended normally this time
}

}  // namespace
