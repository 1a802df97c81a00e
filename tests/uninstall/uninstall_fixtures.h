#pragma once
// Installations for the uninstall tests: a record written as it is (a hostile or broken writer
// checks nothing), a program (kvUninstallCli, or the helper as kvUninstall.exe) beside it, and
// the machine's list of what waits for the next restart.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/kvtest.h"
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

// A record's bytes, folder mode (a non-empty installDir) without the removal list.
inline std::string RawRecord(const UninstallRecord& header, const std::vector<UninstallEntry>& removals,
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

// An installation folder holding a program and its record.
struct Install {
  std::wstring dir;
  UninstallRecord header = {};
  std::vector<UninstallEntry> removals, shortcuts;
  size_t cut = std::string::npos;  // the record ends after this many bytes

  // C:\kvtest\<name>\ afresh, with kvUninstallCli in it.
  explicit Install(const std::wstring& name) : dir(FreshDir(name)) {
    EXPECT_TRUE(CopyProgram(L"kvUninstallCli.exe", dir + L"kvUninstallCli.exe"));
  }
  void FolderMode() { Put(header.installDir, dir); }
  void WriteRecord() const {
    std::string bytes = RawRecord(header, removals, shortcuts);
    if (cut < bytes.size()) bytes.resize(cut);
    WriteText(dir + L"kvUninstall.dat", bytes);
  }
  // Writes the record and runs the engine from here: its lines ("sent N", "posted N", "queued N",
  // without "done"). cwd: the working folder, this one when empty.
  std::vector<std::string> Run(const std::wstring& options = L"", const std::wstring& cwd = L"") const {
    WriteRecord();
    const ProcessResult r = kvtest::Run(L"\"" + dir + L"kvUninstallCli.exe\"" + options, cwd.empty() ? dir : cwd);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(0u, r.exit_code) << r.output;
    std::vector<std::string> lines = Lines(r.output);
    EXPECT_TRUE(!lines.empty() && lines.back() == "done") << r.output;
    if (!lines.empty()) lines.pop_back();
    return lines;
  }
};

// The paths waiting for deletion at the next restart ("\??\" taken off).
inline std::vector<std::wstring> PendingRestart() {
  constexpr wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  DWORD bytes = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                     &bytes) != ERROR_SUCCESS)
    return {};
  std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
  ::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                 &bytes);
  // Pairs of source and target, an empty target for a deletion: split by length, not at the
  // first empty string.
  std::vector<std::wstring> strings, paths;
  for (size_t start = 0, end; start < bytes / sizeof(wchar_t); start = end + 1) {
    end = data.find(L'\0', start);
    strings.push_back(data.substr(start, end - start));
  }
  for (size_t i = 0; i < strings.size(); i += 2)
    if (!strings[i].empty()) paths.push_back(strings[i].substr(strings[i].rfind(L"\\??\\", 0) == 0 ? 4 : 0));
  return paths;
}

inline void ClearPendingRestart() {
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                       L"PendingFileRenameOperations");
}

}  // namespace kvtest
