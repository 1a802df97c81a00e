#pragma once
// The uninstall engine: reads kvUninstall.dat, deletes the product's files in list or folder
// mode and reports progress to a window with WM_KV_PROGRESS.
#include <windows.h>

#include <vector>

#include "uninstall/record.h"
#include "util/kv_api.h"

// wParam: percentage 0..100, lParam: 0. 100 means the engine has finished.
constexpr UINT WM_KV_PROGRESS = 2025;

class KV_CLASS CKvUninstaller {
 public:
  CKvUninstaller();
  ~CKvUninstaller();
  CKvUninstaller(const CKvUninstaller&) = default;
  CKvUninstaller& operator=(const CKvUninstaller&) = default;

  void StartUninstall(HWND notify, int async);
  // Deletes HKLM\...\CurrentVersion\Uninstall\<key> if it has no subkeys. Always 1.
  int ClearReg(LPCWSTR key);
  // Deletes the Start Menu folder, the all-users desktop link and the listed shortcuts.
  void DelShortcut();
  // Hands the program file (and in folder mode the installation folder) to c:\clear.bat and ends
  // the process with exit code 0. Returns only when the script cannot be created.
  void DeleteSelf();

 private:
  static unsigned __stdcall UninstallThread(void* param);
  bool UninstallFunc();
  int CountFiles(LPCWSTR dir);
  bool DelDir(LPCWSTR dir);
  void SendProgress();

  HWND m_hNotify;
  int m_nFilesTotal;
  int m_nFilesDone;
  UninstallRecord m_record;
  std::vector<UninstallEntry> m_removals;
  std::vector<UninstallEntry> m_shortcuts;
  wchar_t m_szOwnDir[261];
};
