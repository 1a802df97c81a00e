#include "ui/dialog.h"

#include <windowsx.h>

#include "app/app.h"
#include "gfx/image.h"
#include "services/thread.h"
#include "ui/ui_texts.h"
#include "util/handles.h"
#include "gfx/gfx_texts.h"

CKvDlg::CKvDlg() : m_nBkPicId(kv::ui::kDialogBackground) {
  // Children without a context of their own hand the dialog to their callbacks.
  m_pContext = this;
}

CKvDlg::~CKvDlg() = default;

void CKvDlg::OnCreate() {
  if (m_bChild) {
    m_nBkEdgeHeight = 2;
    m_bDraggable = false;
    m_bRoundCorners = false;
  }
  if (m_bRoundCorners) ApplyRoundCorners();
  kv::WindowDC screen(m_hWnd);
  RECT client = {};
  ::GetClientRect(m_hWnd, &client);
  m_dcFrame.CreateMemDC(screen.get(), client, false, false, nullptr);
  m_dcBk.CreateMemDC(screen.get(), client, false, false, nullptr);
  DrawBackground(m_dcBk.m_hMemDC, client);
}

void CKvDlg::SyncChildren() {
  for (CKvBase* child : m_vecChildren) {
    child->m_hHostWnd = m_hWnd;
    child->m_hBkDC = m_dcBk.m_hMemDC;
    child->m_hFrameDC = m_dcFrame.m_hMemDC;
    child->m_bLayered = m_bLayeredWnd;
  }
}

void CKvDlg::DrawBackground(HDC dc, RECT client) {
  const int w = client.right - client.left;
  const int h = client.bottom - client.top;
  if (m_bChild && m_hParentBkDC) {
    ::BitBlt(dc, 0, 0, w, h, m_hParentBkDC, m_nX, m_nY, SRCCOPY);
    return;
  }
  if (m_nBkPicId > 0) {
    GetKvImage()->DrawStretchImg(dc, m_nBkPicId, kv::gfx::kImageType, 0, 0, w, h, m_nBkEdgeWidth, 1,
                                 0, m_nBkEdgeHeight);
    return;
  }
  kv::UniqueBrush brush(::CreateSolidBrush(m_crBk));
  ::FillRect(dc, &client, brush.get());
}

void CKvDlg::DrawOverlay(HDC) {}

void CKvDlg::Paint(HDC dc) {
  RECT client = {};
  ::GetClientRect(m_hWnd, &client);
  // Composed off-screen and put out in one step when mem goes: no half-drawn frame is ever seen.
  CKvDC mem(dc, client, true, m_bLayeredWnd, m_bLayeredWnd ? m_hWnd : nullptr);
  DrawBackground(mem.m_hMemDC, client);
  DrawOverlay(mem.m_hMemDC);
  if (!m_bFrozen) {
    for (CKvBase* child : m_vecChildren) child->Paint(mem.m_hMemDC);
    ::BitBlt(m_dcFrame.m_hMemDC, 0, 0, client.right, client.bottom, mem.m_hMemDC, 0, 0, SRCCOPY);
  }
}

void CKvDlg::ApplyRoundCorners() {
  if (!m_hWnd) return;
  m_bRoundCorners = true;
  RECT window = {}, client = {};
  ::GetWindowRect(m_hWnd, &window);
  ::GetClientRect(m_hWnd, &client);
  POINT corners[2] = {{client.left, client.top}, {client.right, client.bottom}};
  ::ClientToScreen(m_hWnd, &corners[0]);
  ::ClientToScreen(m_hWnd, &corners[1]);
  const int l = corners[0].x - window.left, t = corners[0].y - window.top;
  const int r = corners[1].x - window.left, b = corners[1].y - window.top;
  const int h = b - t;
  kv::UniqueRegion all(::CreateRectRgn(l, t + 2, r, b - 2));
  kv::UniqueRegion band(::CreateRectRgn(l + 2, t, r - 2, t + 1));
  ::CombineRgn(all.get(), all.get(), band.get(), RGN_OR);
  ::OffsetRgn(band.get(), 0, h - 1);
  ::CombineRgn(all.get(), all.get(), band.get(), RGN_OR);
  band.reset(::CreateRectRgn(l + 1, t + 1, r - 1, t + 2));
  ::CombineRgn(all.get(), all.get(), band.get(), RGN_OR);
  ::OffsetRgn(band.get(), 0, h - 3);
  ::CombineRgn(all.get(), all.get(), band.get(), RGN_OR);
  // The window owns the region once it is set.
  ::SetWindowRgn(m_hWnd, all.release(), TRUE);
}

LRESULT CKvDlg::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (wnd != m_hWnd) return ::DefWindowProcW(wnd, msg, wParam, lParam);
  switch (msg) {
    case WM_SIZE:
      OnSize(wParam, lParam);
      return 0;
    case WM_ERASEBKGND:
      return 0;
    case WM_PAINT:
      PaintMessage(wnd);
      return 0;
    case WM_KEYDOWN:
      OnKeyDown(wParam, lParam);
      return 0;
    case WM_CHAR:
    case WM_IME_CHAR:
      OnChar(wParam, lParam);
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(wParam, lParam);
      return 0;
    case WM_LBUTTONDOWN:
      OnLButtonDown(wParam, lParam);
      return 0;
    case WM_LBUTTONUP:
      OnLButtonUp(wParam, lParam);
      return 0;
    case WM_LBUTTONDBLCLK:
      OnLButtonDblClk(wParam, lParam);
      return 0;
    case WM_RBUTTONUP:
      OnRButtonUp(wParam, lParam);
      return 0;
    case WM_MOUSEWHEEL:
      OnMouseWheel(LOWORD(wParam), HIWORD(wParam), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_MOUSEHOVER:
      OnMouseHover(wParam, lParam);
      return 0;
    case WM_MOUSELEAVE:
      OnMouseLeave(wParam, lParam);
      return 0;
    default:
      return CKvWin::WndProc(wnd, msg, wParam, lParam);
  }
}

void CKvDlg::OnMouseWheel(int, int, int, int) {}
void CKvDlg::OnMouseHover(WPARAM, LPARAM) {}
void CKvDlg::OnSize(WPARAM, LPARAM) {}
void CKvDlg::OnMouseMoveEx(int, int) {}
void CKvDlg::OnLButtonDblClk(WPARAM, LPARAM) {}

void CKvDlg::RouteMouse(int x, int y, int type, bool childContext) {
  if (m_bFrozen) return;
  for (CKvBase* child : m_vecChildren) {
    if (!child->m_bVisible || child->m_bInputOff) continue;
    void* context = childContext && child->m_pContext ? child->m_pContext : m_pContext;
    // Every eligible child hears the event, hit or not: that is how the others leave hover.
    child->OnMouse(x, y, type, context);
  }
}

void CKvDlg::OnMouseMove(WPARAM, LPARAM lParam) {
  const int x = LOWORD(lParam), y = HIWORD(lParam);
  if (!m_bTracking) {
    TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
    ::TrackMouseEvent(&track);
    m_bTracking = true;
  }
  if (ResizeHitTest(x, y, false)) {
    if (m_bLiveResize) ApplyResize(false);
    return;
  }
  RouteMouse(x, y, kv::ui::kMouseMove, false);
  OnMouseMoveEx(x, y);
}

void CKvDlg::OnMouseLeave(WPARAM, LPARAM) {
  // A move far to the right of every child: hover states end.
  ::SendMessageW(m_hWnd, WM_MOUSEMOVE, 0xFFFFFFFF, 0xFFFF);
  m_bTracking = false;
}

void CKvDlg::OnLButtonDown(WPARAM, LPARAM lParam) {
  const int x = LOWORD(lParam), y = HIWORD(lParam);
  if (ResizeHitTest(x, y, true)) return;
  if (m_bDraggable && (m_bDragAnywhere || y < m_nCaptionHeight)) {
    bool onChild = false;
    for (CKvBase* child : m_vecChildren) {
      if (!child->m_bVisible || child->m_bDragThrough) continue;
      const RECT r = child->GetRect();
      if (r.left <= x && x <= r.right && r.top <= y && y <= r.bottom) {
        onChild = true;
        break;
      }
    }
    // The system's move loop runs until the button is released.
    if (!onChild) ::SendMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
  }
  RouteMouse(x, y, kv::ui::kMouseDown, false);
}

void CKvDlg::OnLButtonUp(WPARAM, LPARAM lParam) {
  if (ApplyResize(true)) return;
  RouteMouse(LOWORD(lParam), HIWORD(lParam), kv::ui::kMouseUp, true);
}

void CKvDlg::OnRButtonUp(WPARAM, LPARAM lParam) {
  RouteMouse(LOWORD(lParam), HIWORD(lParam), kv::ui::kMouseRightUp, true);
}

void CKvDlg::RouteKey(bool character, WPARAM wParam, LPARAM lParam) {
  if (m_bFrozen) return;
  for (CKvBase* child : m_vecChildren) {
    if (!child->m_bVisible || child->m_bInputOff || !child->m_pKeyboard) continue;
    if (child->m_strTypeName != kv::ui::kEditTypeName) continue;
    if (character)
      child->m_pKeyboard->OnChar(wParam, lParam);
    else
      child->m_pKeyboard->OnKeyDown(wParam, lParam);
  }
}

void CKvDlg::OnKeyDown(WPARAM wParam, LPARAM lParam) { RouteKey(false, wParam, lParam); }

void CKvDlg::OnChar(WPARAM wParam, LPARAM lParam) { RouteKey(true, wParam, lParam); }

namespace {

// How near the border the pointer grabs an edge, and nearer still a bottom corner.
constexpr int kEdgeGrip = 5;
constexpr int kCornerGrip = 8;

// The edge under (x, y) in a client area of w x h: corners first, then the sides, then top and
// bottom.
int EdgeUnder(int x, int y, int w, int h) {
  if (x < kCornerGrip && y > h - kCornerGrip) return CKvDlg::kEdgeBottomLeft;
  if (x > w - kCornerGrip && y > h - kCornerGrip) return CKvDlg::kEdgeBottomRight;
  if (x < kEdgeGrip) return CKvDlg::kEdgeLeft;
  if (x > w - kEdgeGrip) return CKvDlg::kEdgeRight;
  if (y < kEdgeGrip) return CKvDlg::kEdgeTop;
  if (y > h - kEdgeGrip) return CKvDlg::kEdgeBottom;
  return CKvDlg::kEdgeNone;
}

}  // namespace

bool CKvDlg::ResizeHitTest(int x, int y, bool capture) {
  if (!m_bResizable) return false;
  RECT client = {};
  ::GetClientRect(m_hWnd, &client);
  const int W = client.right, H = client.bottom;
  // While a drag runs the captured edge holds, wherever the pointer has gone.
  int edge = m_nResizeEdge;
  if (edge == kEdgeNone) {
    if (x < 0 || x > W || y < 0 || y > H) return false;
    edge = EdgeUnder(x, y, W, H);
  }
  // Indexed by edge.
  static const LPCWSTR kCursors[] = {IDC_SIZEWE, IDC_SIZENS,   IDC_SIZEWE,
                                     IDC_SIZENS, IDC_SIZENESW, IDC_SIZENWSE};
  if (edge < kEdgeLeft || edge > kEdgeBottomRight) return false;
  ::SetCursor(::LoadCursorW(nullptr, kCursors[edge]));
  if (capture) {
    m_nResizeEdge = edge;
    ::SetCapture(m_hWnd);
  }
  return true;
}

bool CKvDlg::ApplyResize(bool release) {
  if (!m_bResizable || m_nResizeEdge == kEdgeNone) return false;
  POINT cursor = {};
  ::GetCursorPos(&cursor);
  RECT r = {};
  ::GetWindowRect(m_hWnd, &r);
  switch (m_nResizeEdge) {
    case kEdgeLeft:
      r.left = cursor.x;
      break;
    case kEdgeTop:
      r.top = cursor.y;
      break;
    case kEdgeRight:
      r.right = cursor.x;
      break;
    case kEdgeBottom:
      r.bottom = cursor.y;
      break;
    case kEdgeBottomLeft:
      r.left = cursor.x, r.bottom = cursor.y;
      break;
    case kEdgeBottomRight:
      r.right = cursor.x, r.bottom = cursor.y;
      break;
    default:
      return false;
  }
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w < m_nMinWidth || h < m_nMinHeight) {
    ::ReleaseCapture();
    m_nResizeEdge = kEdgeNone;
    return false;
  }
  m_nX = r.left;
  m_nY = r.top;
  m_nWidth = w;
  m_nHeight = h;
  ::MoveWindow(m_hWnd, r.left, r.top, w, h, TRUE);
  if (release) {
    m_nResizeEdge = kEdgeNone;
    ::ReleaseCapture();
  }
  return true;
}

unsigned __stdcall CKvDlg::ShowEffectThread(void* param) {
  auto* self = static_cast<CKvDlg*>(param);
  self->PlayEffect(self->m_nShowEffect);
  return 0;
}

void CKvDlg::ShowDlg(int effect, bool centre, int showCommand) {
  if (m_bEffectRunning) return;
  if (centre) {
    m_nX = (::GetSystemMetrics(SM_CXSCREEN) - m_nWidth) / 2;
    m_nY = (::GetSystemMetrics(SM_CYSCREEN) - m_nHeight) / 2;
    ::MoveWindow(m_hWnd, m_nX, m_nY, m_nWidth, m_nHeight, FALSE);
  }
  if (effect == -1) {
    ::ShowWindow(m_hWnd, showCommand);
  } else {
    m_nShowEffect = effect;
    GetKvThread()->StartThread(ShowEffectThread, this, 1);
  }
  CKvApp* app = GetKvApp();
  if (!app->m_hMainWnd) app->m_hMainWnd = m_hWnd;
}

int CKvDlg::DoModal(int effect, bool disableParent, bool centre) {
  HWND parent = m_hHostWnd;
  if (disableParent && parent) ::EnableWindow(parent, FALSE);
  ShowDlg(effect, centre, SW_SHOW);
  m_bClosed = false;
  MSG msg;
  while (!m_bClosed) {
    // 0 is WM_QUIT, -1 a broken loop: either way the application is over.
    if (::GetMessageW(&msg, nullptr, 0, 0) <= 0) GetKvApp()->ExitApp();
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (disableParent && parent) {
    ::EnableWindow(parent, TRUE);
    ::SetForegroundWindow(parent);
    ::SendMessageW(parent, WM_MOUSEMOVE, 0, 0);
  }
  return m_nResult;
}

void CKvDlg::Close() {
  ::ShowWindow(m_hWnd, SW_HIDE);
  m_bClosed = true;
  ::SendMessageW(m_hWnd, WM_MOUSEMOVE, 0, 0);
}

void CKvDlg::EndDialog(int result) {
  m_nResult = result;
  Close();
}
