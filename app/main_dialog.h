#pragma once
// The uninstaller's window: the question and two buttons, then a progress bar with a hopping
// marker that follows the uninstall engine to the end, where the program deletes itself.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "ui/button.h"
#include "ui/dialog.h"
#include "uninstall/uninstaller.h"

class CMainDlg : public CKvDlg {
 public:
  CMainDlg();
  ~CMainDlg() override;

  void OnCreate() override;
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  void DrawBackground(HDC dc, RECT client) override;
  void DrawOverlay(HDC dc) override;

  // Button callbacks; context is the dialog.
  static void OnCancel(void* context);
  static void OnUninstall(void* context);
  // Worker thread: moves the shown percentage toward the target and repaints, then deletes
  // the program once the engine is done.
  static unsigned __stdcall AnimationThread(void* param);

  // The question shown before the uninstall, with the display name filled in.
  std::wstring Question() const;

  std::unique_ptr<CKvButton> m_pCancel;
  std::unique_ptr<CKvButton> m_pUninstall;
  CKvUninstaller m_engine;
  std::atomic<int> m_nStarted{0};
  std::atomic<int> m_nTarget{0};
  std::atomic<int> m_nShown{0};
  int m_nMarkerY = 0;
  std::atomic<BYTE> m_bStop{0};
  std::atomic<BYTE> m_bDone{0};
  std::wstring m_strDisplayName;
};
