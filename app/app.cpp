#include "app/app.h"

#include <cstdlib>
#include <cwchar>

#include "services/thread.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/caller_text.h"

CKvApp::CKvApp()
    : m_hInstance(::GetModuleHandleW(nullptr)),
      m_hMainWnd(nullptr),
      m_szAppDir{},
      m_szAppName{},
      m_bExiting(0),
      m_nCaretX(-1),
      m_nCaretY(-1),
      m_nCaretHeight(20) {
  GetCurPath(m_szAppDir);
}

CKvApp::~CKvApp() = default;

void CKvApp::SetAppName(LPCWSTR name) { kv::CopyToField(m_szAppName, name); }

int CKvApp::MsgLoop() {
  MSG msg;
  // GetMessage returns -1 on an invalid call; that must end the loop too, not spin.
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

void CKvApp::ExitApp() {
  GetKvThread()->Stop();
  m_bExiting = 1;
  ::PostQuitMessage(0);
  // exit() rather than ExitProcess: the process-wide objects' destructors must run.
  std::exit(0);
}

void CKvApp::DrawCaret(HWND window) {
  kv::WindowDC dc(window);
  if (!dc) return;
  kv::UniquePen pen(::CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
  kv::SelectObjectScope select(dc.get(), pen.get());
  // With a black pen NOTXORPEN inverts what it covers: a second call at the same place undoes
  // the first, which is how the caret blinks.
  const int old_rop = ::SetROP2(dc.get(), R2_NOTXORPEN);
  ::MoveToEx(dc.get(), m_nCaretX, m_nCaretY, nullptr);
  ::LineTo(dc.get(), m_nCaretX, m_nCaretY + m_nCaretHeight);
  ::SetROP2(dc.get(), old_rop);
}

CKvApp* GetKvApp() {
  static CKvApp app;
  return &app;
}
