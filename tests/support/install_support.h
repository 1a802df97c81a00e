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

// A record's bytes as a hostile or careless writer may leave them: nothing is checked. Folder
// mode (a non-empty installDir) leaves out the removal list, as the reader expects.
inline std::string RawRecord(const UninstallRecord& header,
                             const std::vector<UninstallEntry>& removals,
                             const std::vector<UninstallEntry>& shortcuts) {
  std::string bytes(reinterpret_cast<const char*>(&header), sizeof(header));
  auto put_list = [&bytes](const std::vector<UninstallEntry>& list) {
    const int count = static_cast<int>(list.size());
    bytes.append(reinterpret_cast<const char*>(&count), sizeof(count));
    for (const UninstallEntry& e : list) bytes.append(reinterpret_cast<const char*>(&e), sizeof(e));
  };
  if (header.installDir[0] == L'\0') put_list(removals);
  put_list(shortcuts);
  return bytes;
}

// A link at link (a folder path without trailing backslash) to the folder target. Windows makes
// it itself; Wine creates nothing through that call, so there the Linux side makes it. False when
// neither can.
inline bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
  auto is_link = [&link] {
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  };
  if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && is_link())
    return true;
  const std::wstring link_unix = LinuxPath(link), target_unix = LinuxPath(target);
  if (link_unix.empty() || target_unix.empty()) return false;
  return OnLinux(L"ln", L"-s \"" + target_unix + L"\" \"" + link_unix + L"\"", is_link);
}

// The paths waiting for deletion at the next restart ("\??\" prefix removed).
inline std::vector<std::wstring> PendingRestart() {
  std::vector<std::wstring> paths;
  constexpr wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  DWORD bytes = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                     nullptr, nullptr, &bytes) != ERROR_SUCCESS)
    return paths;
  std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 2, L'\0');
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                     nullptr, data.data(), &bytes) != ERROR_SUCCESS)
    return paths;
  // Pairs of source and target, an empty target for a deletion: the empty strings inside mean
  // the value is split by its length, not at its first empty string.
  std::vector<std::wstring> strings;
  std::wstring current;
  for (size_t i = 0; i < bytes / sizeof(wchar_t); ++i) {
    if (data[i] != L'\0') {
      current += data[i];
      continue;
    }
    strings.push_back(current);
    current.clear();
  }
  for (size_t i = 0; i < strings.size(); i += 2) {
    std::wstring path = strings[i];
    if (path.rfind(L"\\??\\", 0) == 0) path.erase(0, 4);
    if (!path.empty()) paths.push_back(path);
  }
  return paths;
}

inline void ClearPendingRestart() {
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                       L"PendingFileRenameOperations");
}

// An installation folder holding kvUninstallCli and its record, as kvUninstall.exe would lie.
struct CliInstall {
  static constexpr wchar_t kCli[] = L"kvUninstallCli.exe";
  std::wstring dir;
  UninstallRecord header = {};
  std::vector<UninstallEntry> removals, shortcuts;
  bool raw = false;  // written as it is, unchecked, as a hostile or broken installer may

  // A fresh folder C:\kvtest\<name>\, or the given folder as it is when at is true.
  explicit CliInstall(const std::wstring& name, bool at = false)
      : dir(at ? name : FreshDir(name)) {
    EXPECT_TRUE(CopyProgram(kCli, dir + kCli));
  }
  void WriteRecord() const {
    if (raw) return WriteText(dir + L"kvUninstall.dat", RawRecord(header, removals, shortcuts));
    ASSERT_EQ(1, WriteUninstallRecord((dir + L"kvUninstall.dat").c_str(), &header,
                                      removals.data(), static_cast<int>(removals.size()),
                                      shortcuts.data(), static_cast<int>(shortcuts.size())));
  }
  // Runs the engine from this folder (the working folder: cwd, or this folder when empty); its
  // progress lines ("sent N", "posted N", "queued N") without "done".
  std::vector<std::string> Run(bool sync = false, const std::wstring& options = L"",
                               const std::wstring& cwd = L"") const {
    const ProcessResult r = kvtest::Run(
        L"\"" + dir + kCli + L"\"" + (sync ? L" --sync" : L"") + options, cwd.empty() ? dir : cwd);
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
