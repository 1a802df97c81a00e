#include "ui/window.h"

#include "app/app.h"
#include "ui/memory_dc.h"
#include "ui/ui_texts.h"
#include "util/handles.h"
#include "util/format.h"

CKvWin::CKvWin() = default;

CKvWin::~CKvWin() { DestroyOwnWindow(); }

void CKvWin::DestroyOwnWindow() {
  if (!m_hWnd) return;
  // Messages that arrive while the window goes away must not reach a half-destroyed object.
  ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
  ::DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
  ::UnregisterClassW(m_strClassName.c_str(), GetKvApp()->m_hInstance);
}

void CKvWin::Show(bool show) {
  m_bVisible = show;
  ::ShowWindow(m_hWnd, show ? SW_SHOW : SW_HIDE);
}

void CKvWin::Draw(HDC, int, int) {}

void CKvWin::Paint(HDC) {}

bool CKvWin::OnMouse(int, int, int, void*) { return false; }

void CKvWin::OnCreate() {}

void CKvWin::SyncChildren() {}

void CKvWin::PaintMessage(HWND wnd) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(wnd, &ps);
  Paint(dc);
  ::EndPaint(wnd, &ps);
}

LRESULT CKvWin::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    PaintMessage(wnd);
    return 0;
  }
  return ::DefWindowProcW(wnd, msg, wParam, lParam);
}

void CKvWin::Redraw() {
  if (m_bLayeredWnd) {
    // A layered window paints on its own thread; this may be called from an animation thread.
    ::PostMessageW(m_hWnd, WM_PAINT, 0, 0);
    return;
  }
  kv::WindowDC screen(m_hWnd);
  if (!screen) return;
  RECT client = {};
  ::GetClientRect(m_hWnd, &client);
  CKvDC mem(screen.get(), client, false, false, nullptr);
  Paint(mem.m_hMemDC);
  mem.Draw();
}

bool CKvWin::Create(DWORD style, int x, int y, int width, int height, DWORD exStyle, bool layered,
                    HWND parent) {
  DestroyOwnWindow();
  m_nX = x;
  m_nY = y;
  m_nWidth = width;
  m_nHeight = height;

  CKvApp* app = GetKvApp();
  m_strClassName = kv::FormatBounded(1024, kv::ui::kClassNameFormat, app->m_szAppName,
                                     static_cast<int>(::GetTickCount()));

  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = SharedWndProc;
  wc.hInstance = app->m_hInstance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = m_strClassName.c_str();
  if (m_nIconId != 0) {
    wc.hIcon = ::LoadIconW(app->m_hInstance, MAKEINTRESOURCEW(m_nIconId));
    wc.hIconSm = wc.hIcon;
  }
  // Two windows made within one tick share a name; the second registration then fails and the
  // first class, with the same procedure, serves both.
  ::RegisterClassExW(&wc);

  if (style == 0) {
    style = parent ? (WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN)
                   : (WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_MINIMIZEBOX);
  }
  m_hHostWnd = parent;
  HWND wnd = ::CreateWindowExW(0, m_strClassName.c_str(), app->m_szAppName, style, x, y, width,
                               height, parent, nullptr, app->m_hInstance, nullptr);
  if (!wnd) return false;
  m_hWnd = wnd;
  if (style & WS_CHILD) m_bChild = true;
  if (exStyle != 0) ::SetWindowLongW(wnd, GWL_EXSTYLE, static_cast<LONG>(exStyle));
  ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  m_bLayeredWnd = layered;
  if (layered) {
    ::SetWindowLongW(wnd, GWL_EXSTYLE, ::GetWindowLongW(wnd, GWL_EXSTYLE) | WS_EX_LAYERED);
  }
  if (!m_bCreated) {
    OnCreate();
    m_bCreated = true;
  }
  SyncChildren();
  if (layered) ::PostMessageW(wnd, WM_PAINT, 0, 0);
  return true;
}

LRESULT CALLBACK CKvWin::SharedWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CKvWin*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(wnd, msg, wParam, lParam);
  return self->WndProc(wnd, msg, wParam, lParam);
}
