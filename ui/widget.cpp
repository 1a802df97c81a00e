#include "ui/widget.h"

#include <shlwapi.h>

#include "app/app.h"
#include "gfx/font.h"
#include "gfx/skin.h"
#include "ui/memory_dc.h"
#include "ui/ui_texts.h"
#include "util/handles.h"
#include "util/format.h"

CKvBase::CKvBase() : m_hFont(GetKvFont()->GetFont(0, nullptr, 0, 0, 0)) {}

CKvBase::~CKvBase() = default;

void CKvBase::Draw(HDC, int, int) {}

bool CKvBase::OnMouse(int, int, int, void*) { return false; }

HWND CKvBase::GetHostWnd() {
  if (!m_hHostWnd) m_hHostWnd = GetKvApp()->m_hMainWnd;
  return m_hHostWnd;
}

RECT CKvBase::GetRect() const {
  const int left = m_nX - m_nOffsetX;
  const int top = m_nY - m_nOffsetY;
  return RECT{left, top, left + m_nWidth, top + m_nHeight};
}

bool CKvBase::IsInView() {
  if (!m_bVisible) return false;
  RECT window = {};
  ::GetWindowRect(GetHostWnd(), &window);
  const int w = window.right - window.left;
  const int h = window.bottom - window.top;
  const RECT r = GetRect();
  return r.bottom >= 0 && r.top <= h && r.right >= 0 && r.left <= w;
}

void CKvBase::PushToScreen(bool draw, bool updateFrame) {
  HWND host = GetHostWnd();
  kv::WindowDC screen(host);
  if (!screen) return;
  const RECT r = GetRect();
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  if (m_bLayered) {
    // A layered window is only ever updated as a whole: start from the last frame, wipe the
    // widget's place with the background, draw the widget, and hand the whole image over.
    RECT window = {};
    ::GetWindowRect(host, &window);
    RECT whole = {0, 0, window.right - window.left, window.bottom - window.top};
    CKvDC mem(screen.get(), whole, false, true, host);
    ::BitBlt(mem.m_hMemDC, 0, 0, whole.right, whole.bottom, m_hFrameDC, 0, 0, SRCCOPY);
    if (m_hBkDC) ::BitBlt(mem.m_hMemDC, r.left, r.top, w, h, m_hBkDC, r.left, r.top, SRCCOPY);
    if (draw) {
      Draw(mem.m_hMemDC, r.left, r.top);
      // The frame must hold what the screen shows, or the next single refresh brings back an
      // old picture of this widget.
      if (m_hFrameDC)
        ::BitBlt(m_hFrameDC, r.left, r.top, w, h, mem.m_hMemDC, r.left, r.top, SRCCOPY);
    }
    mem.Draw();
    return;
  }
  RECT area = r;
  CKvDC mem(screen.get(), area, false, false, nullptr);
  if (m_hBkDC) ::BitBlt(mem.m_hMemDC, 0, 0, w, h, m_hBkDC, r.left, r.top, SRCCOPY);
  if (draw) {
    Draw(mem.m_hMemDC, 0, 0);
    if (updateFrame && m_hFrameDC)
      ::BitBlt(m_hFrameDC, r.left, r.top, w, h, mem.m_hMemDC, 0, 0, SRCCOPY);
  }
  mem.Draw();
}

void CKvBase::Refresh(bool updateFrame) {
  if (!IsInView()) return;
  PushToScreen(true, updateFrame);
}

void CKvBase::Show(bool show) {
  m_bVisible = show;
  if (show) {
    Refresh(false);
    return;
  }
  // Erased from the screen only: the frame keeps the widget until the next full paint.
  PushToScreen(false, false);
}

std::wstring ThemePictureFile(const std::wstring& skinName, int state, const std::wstring& ext) {
  wchar_t folder[MAX_PATH] = {};
  GetKvSkin()->GetThemesPath(folder);
  // 1023 characters are above the room of a path here only for names no theme uses.
  const std::wstring file = kv::FormatBounded(1024, kv::ui::kThemeFileFormat, folder,
                                              skinName.c_str(), state, ext.c_str());
  return ::PathFileExistsW(file.c_str()) ? file : std::wstring();
}
