#pragma once
// The application object: module, folder, main window and name; the message loop and the exit.
#include <windows.h>

#include <atomic>

#include "util/kv_api.h"

class KV_CLASS CKvApp {
 public:
  CKvApp();
  ~CKvApp();
  CKvApp(const CKvApp&) = delete;
  CKvApp& operator=(const CKvApp&) = delete;

  void SetAppName(LPCWSTR name);
  int MsgLoop();
  [[noreturn]] void ExitApp();
  void DrawCaret(HWND window);

  static constexpr int kDirRoom = 261;
  static constexpr int kNameRoom = 200;

  HINSTANCE m_hInstance;
  HWND m_hMainWnd;
  wchar_t m_szAppDir[kDirRoom];
  wchar_t m_szAppName[kNameRoom];
  std::atomic<BYTE> m_bExiting;
  int m_nCaretX;
  int m_nCaretY;
  int m_nCaretHeight;
};

// The process-wide application object, created on first use.
KV_API CKvApp* GetKvApp();
