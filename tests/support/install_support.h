#pragma once
// Helpers of the uninstall and util tests: record slots, an installation run by kvUninstallCli,
// whole files and registry strings.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "uninstall/record.h"

namespace kvtest {

template <size_t N>
void Put(wchar_t (&slot)[N], const std::wstring& text) {
  std::memset(slot, 0, sizeof(slot));
  std::memcpy(slot, text.data(), std::min(text.size(), N) * sizeof(wchar_t));
}

inline UninstallEntry Entry(int is_file, const std::wstring& path) {
  UninstallEntry e = {};
  e.isFile = is_file;
  Put(e.path, path);
  return e;
}

inline std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::wstring RegString(HKEY root, const std::wstring& key, const wchar_t* name,
                              bool* found = nullptr) {
  wchar_t text[1024] = {};
  DWORD bytes = sizeof(text) - sizeof(wchar_t);
  const LONG rc = ::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &bytes);
  if (found) *found = rc == ERROR_SUCCESS;
  return rc == ERROR_SUCCESS ? text : L"";
}

inline bool KeyExists(HKEY root, const std::wstring& subkey) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

inline void DeleteKeyTree(HKEY root, const std::wstring& subkey) {
  ::RegDeleteTreeW(root, subkey.c_str());
  ::RegDeleteKeyW(root, subkey.c_str());
}

// An installation folder holding kvUninstallCli and its record, as kvUninstall.exe would lie.
struct CliInstall {
  static constexpr wchar_t kCli[] = L"kvUninstallCli.exe";
  std::wstring dir;
  UninstallRecord header = {};
  std::vector<UninstallEntry> removals, shortcuts;

  // A fresh folder C:\kvtest\<name>\, or the given folder as it is when at is true.
  explicit CliInstall(const std::wstring& name, bool at = false)
      : dir(at ? name : FreshDir(name)) {
    EXPECT_TRUE(CopyProgram(kCli, dir + kCli));
  }
  void WriteRecord() const {
    ASSERT_EQ(1, WriteUninstallRecord((dir + L"kvUninstall.dat").c_str(), &header,
                                      removals.data(), static_cast<int>(removals.size()),
                                      shortcuts.data(), static_cast<int>(shortcuts.size())));
  }
  // Runs the engine from this folder; its progress lines ("sent N", "posted N") without "done".
  std::vector<std::string> Run(bool sync = false) const {
    const ProcessResult r = kvtest::Run(L"\"" + dir + kCli + L"\"" + (sync ? L" --sync" : L""), dir);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(0u, r.exit_code) << r.output;
    std::vector<std::string> lines = Lines(r.output);
    EXPECT_FALSE(lines.empty());
    if (!lines.empty()) {
      EXPECT_EQ("done", lines.back());
      lines.pop_back();
    }
    return lines;
  }
  std::vector<std::string> WriteAndRun(bool sync = false) const {
    WriteRecord();
    return Run(sync);
  }
};

}  // namespace kvtest
