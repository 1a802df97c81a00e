#pragma once
// The uninstall engine: reads kvUninstall.dat, deletes the product's files in list or folder
// mode and reports progress to a window with WM_KV_PROGRESS. Every path it deletes passes the
// deletion guard first.
#include <windows.h>

#include <string>
#include <vector>

#include "uninstall/record.h"
#include "util/kv_api.h"

// wParam: percentage 0..100, lParam: 0. The folder walk sends its percentages; the engine posts
// its final 100 when it has finished, so only a posted 100 means done.
constexpr UINT WM_KV_PROGRESS = 2025;

// Exit codes for callers that deploy software, the values Windows installers use.
constexpr DWORD kExitRestartNeeded = 3010;  // removed; the next restart completes it
constexpr DWORD kExitNoRecord = 2;          // no kvUninstall.dat beside the program
constexpr DWORD kExitBadRecord = 13;        // kvUninstall.dat cannot be read
constexpr DWORD kExitBadSwitch = 87;        // a switch on the command line is not known
constexpr DWORD kExitBusy = 1618;           // another uninstall of this product is running

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
  // Hands the program file and its emptied folder to c:\clear.bat and ends the process: exit
  // code 0, or kExitRestartNeeded when something waits for the next restart. Without a script the
  // program is queued for deletion at restart instead; returns only when even that fails.
  void DeleteSelf();
  // Files and folders of this run that only the next restart removes.
  int QueuedForRestart() const { return m_nQueued; }

 private:
  static unsigned __stdcall UninstallThread(void* param);
  bool UninstallFunc();
  // List mode: counts, then deletes, the entries of the removal list the guard lets go.
  void RemoveListed();
  // dir: a final path from the deletion guard.
  int CountFiles(LPCWSTR dir);
  // Checks dir with the guard, then sweeps it; false when refused or not entered.
  bool DelDir(LPCWSTR dir);
  bool SweepFolder(const std::wstring& root, bool enter_dot_folders = false);
  // Deletes one file after the guard has passed it (never the running program); what is in use
  // waits for the restart.
  void DeleteFileEntry(const std::wstring& path);
  // The running program, and in folder mode its record: the walk counts them but leaves them.
  std::vector<std::wstring> Deferred() const;
  void SendProgress();

  HWND m_hNotify;
  int m_nFilesTotal;
  int m_nFilesDone;
  UninstallRecord m_record;
  std::vector<UninstallEntry> m_removals;
  std::vector<UninstallEntry> m_shortcuts;
  wchar_t m_szOwnDir[261];
  int m_nQueued;
};
