#include "uninstall/uninstaller.h"

#include <string>

#include "services/http_client.h"
#include "services/thread.h"
#include "uninstall/protected_folders.h"
#include "uninstall/report.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

constexpr DWORD kStartDelayMs = 300;

bool IsDirectory(const WIN32_FIND_DATAW& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A junction or symbolic link to a folder: removed as a link, never entered.
bool IsLinkedDirectory(const WIN32_FIND_DATAW& data) {
  return IsDirectory(data) && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// "." and ".." and every folder whose name starts with a full stop are left alone.
bool IsDotFolder(const WIN32_FIND_DATAW& data) { return data.cFileName[0] == L'.'; }

kv::UniqueFind FindFirst(const std::wstring& dir, WIN32_FIND_DATAW* data) {
  const std::wstring pattern = dir + L"*.*";
  // Basic info skips the short names; the large fetch batches the directory reads.
  return kv::UniqueFind(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, data,
                                           FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH));
}

void RemoveLink(const std::wstring& path) {
  // A directory link goes with RemoveDirectory; some file systems present it as a file instead.
  if (!::RemoveDirectoryW(path.c_str())) ::DeleteFileW(path.c_str());
}

}  // namespace

CKvUninstaller::CKvUninstaller()
    : m_hNotify(nullptr), m_nFilesTotal(0), m_nFilesDone(0), m_record{}, m_szOwnDir{} {
  GetCurPath(m_szOwnDir, 261);
}

CKvUninstaller::~CKvUninstaller() = default;

void CKvUninstaller::StartUninstall(HWND notify, int async) {
  m_hNotify = notify;
  if (async) {
    GetKvThread()->StartThread(&CKvUninstaller::UninstallThread, this, 1);
    return;
  }
  UninstallFunc();
}

// Runs on the detached worker thread.
unsigned __stdcall CKvUninstaller::UninstallThread(void* param) {
  if (!param) return 0;
  auto* self = static_cast<CKvUninstaller*>(param);
  ::Sleep(kStartDelayMs);
  self->UninstallFunc();
  ::PostMessageW(self->m_hNotify, WM_KV_PROGRESS, 100, 0);
  return 0;
}

bool CKvUninstaller::UninstallFunc() {
  const std::wstring own_dir = m_szOwnDir;
  {
    kv::UniqueStdioFile file(_wfopen((own_dir + kRecordFileName).c_str(), L"rb"));
    if (!file) {
      ::PostMessageW(m_hNotify, WM_KV_PROGRESS, 100, 0);
      return false;
    }
    ReadRecordLists(file.get(), &m_record, &m_removals, &m_shortcuts);
  }
  // Told before anything is gone; the report runs on its own thread. The client is made here so
  // that it has read proxy.dat before a folder sweep can take it away.
  CKvNet::Instance();
  DoReport(kReportEndpoint, kReportTypeUninstall, SlotText(m_record.displayName).c_str());

  const bool folder_mode = m_record.installDir[0] != L'\0';
  m_nFilesDone = 0;
  m_nFilesTotal = 0;
  if (!folder_mode) {
    for (const UninstallEntry& entry : m_removals)
      m_nFilesTotal += entry.isFile ? 1 : CountFiles(SlotText(entry.path).c_str());
  }

  if (folder_mode) {
    // A record that makes a drive root or a system folder our own folder is a broken install:
    // sweep nothing there and finish the rest of the run.
    if (!IsProtectedFolder(own_dir)) {
      m_nFilesTotal = CountFiles(own_dir.c_str());
      DelDir(own_dir.c_str());
    }
  } else {
    for (const UninstallEntry& entry : m_removals) {
      const std::wstring path = SlotText(entry.path);
      if (entry.isFile)
        ::DeleteFileW(path.c_str());
      else
        DelDir(path.c_str());
    }
  }
  ClearReg(SlotText(m_record.uninstallKey).c_str());
  DelShortcut();
  return true;
}

int CKvUninstaller::CountFiles(LPCWSTR dir) {
  const std::wstring base = dir;
  WIN32_FIND_DATAW data;
  kv::UniqueFind find = FindFirst(base, &data);
  if (!find) return 0;
  int count = 0;
  do {
    if (!IsDirectory(data))
      ++count;
    else if (!IsDotFolder(data) && !IsLinkedDirectory(data))
      count += CountFiles((base + data.cFileName + L"\\").c_str());
  } while (::FindNextFileW(find.get(), &data));
  return count;
}

void CKvUninstaller::SendProgress() {
  if (m_nFilesTotal <= 0) return;
  const long long percent = static_cast<long long>(m_nFilesDone) * 100 / m_nFilesTotal;
  if (percent >= 0 && percent <= 100)
    ::SendMessageW(m_hNotify, WM_KV_PROGRESS, static_cast<WPARAM>(percent), 0);
}

bool CKvUninstaller::DelDir(LPCWSTR dir) {
  const std::wstring base = dir;
  WIN32_FIND_DATAW data;
  kv::UniqueFind find = FindFirst(base, &data);
  if (!find) return false;
  do {
    const std::wstring path = base + data.cFileName;
    if (!IsDirectory(data)) {
      ::DeleteFileW(path.c_str());  // read-only files stay: no attribute is changed
      ++m_nFilesDone;
      SendProgress();
    } else if (IsDotFolder(data)) {
      continue;
    } else if (IsLinkedDirectory(data)) {
      RemoveLink(path);
    } else {
      DelDir((path + L"\\").c_str());
    }
  } while (::FindNextFileW(find.get(), &data));
  find.reset();
  ::RemoveDirectoryW(base.c_str());
  return true;
}
