// The skinned dialog with real windows: messages are posted to the window and dispatched by the
// test's own pump, as the message loop would.
#include "ui/dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "tests/ui/ui_fixtures.h"
#include "ui/button.h"
#include "ui/ui_texts.h"

namespace {

using kvtest::Pump;
constexpr UINT kEndWithOne = WM_APP + 1, kCloseOnly = WM_APP + 2;

// Records what the tests look for; the system's move loop is not entered, since no real button
// is held down while messages are posted.
class ProbeDlg : public CKvDlg {
 public:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (wnd == m_hWnd && msg == WM_NCLBUTTONDOWN) return drags += (wParam == HTCAPTION), 0;
    if (wnd == m_hWnd && msg == kEndWithOne) {
      watched_enabled = watch && ::IsWindowEnabled(watch);
      EndDialog(1);
    }
    if (wnd == m_hWnd && msg == kCloseOnly) Close();
    return CKvDlg::WndProc(wnd, msg, wParam, lParam);
  }
  void OnCreate() override { ++creates, CKvDlg::OnCreate(); }
  void DrawOverlay(HDC) override { ++overlays; }

  HWND watch = nullptr;  // a window whose enabled state is noted when the dialog ends
  bool watched_enabled = true;
  int drags = 0, creates = 0, overlays = 0;
};

struct Calls {
  int up = 0, down = 0;
  void *up_context = nullptr, *down_context = nullptr;
} g_calls;
void Down(void* p) { ++g_calls.down, g_calls.down_context = p; }
void Up(void* p) { ++g_calls.up, g_calls.up_context = p; }

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls = {};
    ok_ = std::make_unique<CKvButton>(L"确 定", 255);
    ok_->m_nStateCount = 1;
    ok_->m_pfnDown = Down;
    ok_->m_pfnUp = Up;
    other_ = std::make_unique<CKvButton>(L"取 消", 325);
    dlg_.m_vecChildren = {ok_.get(), other_.get()};
    ASSERT_TRUE(dlg_.Create(0, 0, 0, 450, 230, 0, false, nullptr));
    wnd_ = dlg_.m_hWnd;
  }
  void Post(UINT msg, int x, int y, WPARAM w = 0) {
    ::PostMessageW(wnd_, msg, w, MAKELPARAM(x, y));
    Pump(30);
  }
  void Click(int x, int y) { Post(WM_LBUTTONDOWN, x, y), Post(WM_LBUTTONUP, x, y); }
  RECT Rect() {
    RECT r = {};
    ::GetWindowRect(wnd_, &r);
    return r;
  }

  ProbeDlg dlg_;
  std::unique_ptr<CKvButton> ok_, other_;
  HWND wnd_ = nullptr;
};

TEST_F(DialogTest, CreateHandsChildrenTheWindowAndBuffers) {
  EXPECT_EQ(1, dlg_.creates);
  EXPECT_EQ(&dlg_, dlg_.m_pContext);
  for (CKvBase* c : dlg_.m_vecChildren) {
    EXPECT_EQ(wnd_, c->m_hHostWnd);
    EXPECT_EQ(dlg_.m_dcBk.m_hMemDC, c->m_hBkDC);
    EXPECT_EQ(dlg_.m_dcFrame.m_hMemDC, c->m_hFrameDC);
    EXPECT_NE(nullptr, c->m_hFrameDC);
  }
  EXPECT_EQ(static_cast<LONG>(0x86020000), ::GetWindowLongW(wnd_, GWL_STYLE) & 0xFFFF0000L);
  EXPECT_FALSE(::IsWindowVisible(wnd_)) << "a popup starts hidden";
  wchar_t cls[256] = {};
  ::GetClassNameW(wnd_, cls, 256);
  EXPECT_EQ(dlg_.m_strClassName, cls);
  EXPECT_NE(std::wstring::npos, dlg_.m_strClassName.find(L"_KVWND_"));

  // A second Create leaves one window and one class.
  const HWND first = wnd_;
  const std::wstring first_class = dlg_.m_strClassName;
  ::Sleep(20);  // another tick: another class name
  ASSERT_TRUE(dlg_.Create(0, 10, 20, 300, 200, 0, false, nullptr));
  EXPECT_FALSE(::IsWindow(first));
  EXPECT_TRUE(::IsWindow(dlg_.m_hWnd));
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  if (first_class != dlg_.m_strClassName) {
    EXPECT_FALSE(::GetClassInfoExW(GetKvApp()->m_hInstance, first_class.c_str(), &wc));
  }
  EXPECT_TRUE(::GetClassInfoExW(GetKvApp()->m_hInstance, dlg_.m_strClassName.c_str(), &wc));
  EXPECT_EQ(1, dlg_.creates);
  EXPECT_EQ(300, dlg_.m_nWidth);
}

TEST_F(DialogTest, PostedMessagesDriveTheButtons) {
  Post(WM_MOUSEMOVE, 280, 160);
  EXPECT_EQ(1, ok_->m_nState);
  EXPECT_EQ(0, other_->m_nState);
  Post(WM_LBUTTONDOWN, 280, 160, MK_LBUTTON);
  EXPECT_EQ(2, ok_->m_nState);
  EXPECT_EQ(1, g_calls.down);
  EXPECT_EQ(&dlg_, g_calls.down_context);
  Post(WM_LBUTTONUP, 280, 160);
  EXPECT_EQ(1, g_calls.up);
  EXPECT_EQ(&dlg_, g_calls.up_context) << "a child without context gets the dialog";
  EXPECT_EQ(1, ok_->m_nState);
  EXPECT_EQ(0, dlg_.drags) << "a press on a button does not drag";

  int mine = 0;
  ok_->m_pContext = &mine;
  Click(260, 150);
  EXPECT_EQ(&dlg_, g_calls.down_context) << "presses always carry the dialog";
  EXPECT_EQ(&mine, g_calls.up_context);

  Post(WM_MOUSEMOVE, 330, 160);
  EXPECT_EQ(1, other_->m_nState);
  ::SendMessageW(wnd_, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(0, other_->m_nState) << "leaving ends the hover";
  EXPECT_FALSE(dlg_.m_bTracking);

  // Children with input off, or hidden, hear nothing.
  ok_->m_bInputOff = true;
  Click(280, 160);
  ok_->m_bInputOff = false;
  ok_->m_bVisible = false;
  Click(280, 160);
  EXPECT_EQ(2, g_calls.up);
}

TEST_F(DialogTest, FrozenDialogIgnoresAndLeavesOutChildren) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  dlg_.m_bFrozen = true;
  Post(WM_MOUSEMOVE, 280, 160);
  Click(280, 160);
  EXPECT_EQ(0, ok_->m_nState);
  EXPECT_EQ(0, g_calls.down + g_calls.up);

  kvtest::Frame frozen(450, 230), live(450, 230), background(450, 230);
  dlg_.DrawBackground(background.dc(), RECT{0, 0, 450, 230});
  dlg_.Paint(frozen.dc());
  EXPECT_EQ(background.Pixels(), frozen.Pixels()) << "background (and empty overlay) only";
  dlg_.m_bFrozen = false;
  dlg_.Paint(live.dc());
  EXPECT_NE(background.Pixels(), live.Pixels());
  EXPECT_NE(background.At(280, 150), live.At(280, 150)) << "the button is painted";
  EXPECT_EQ(background.At(100, 100), live.At(100, 100));
  EXPECT_EQ(2, dlg_.overlays);
}

TEST_F(DialogTest, CaptionBandOrAnywhereButAButtonDrags) {
  auto drags = [&](int x, int y) {
    const int before = dlg_.drags;
    Post(WM_LBUTTONDOWN, x, y);
    return dlg_.drags - before;
  };
  EXPECT_EQ(1, drags(100, 29));
  EXPECT_EQ(0, drags(100, 30));
  dlg_.m_bDraggable = false;
  EXPECT_EQ(0, drags(100, 10));
  dlg_.m_bDraggable = true;
  dlg_.m_bDragAnywhere = true;
  EXPECT_EQ(1, drags(100, 200));
  EXPECT_EQ(0, drags(300, 170));
  ok_->m_bDragThrough = true;  // a drag-through child (a text, say) lets the press drag
  EXPECT_EQ(1, drags(300, 170));
}

TEST_F(DialogTest, KeyboardGoesToEditWidgetsOnly) {
  struct Keys : KeyboardHandler {
    std::vector<std::pair<char, WPARAM>> got;
    void OnKeyDown(WPARAM w, LPARAM) override { got.push_back({'k', w}); }
    void OnChar(WPARAM w, LPARAM) override { got.push_back({'c', w}); }
  } edit_keys, other_keys;
  ok_->m_strTypeName = kv::ui::kEditTypeName;
  ok_->m_pKeyboard = &edit_keys;
  other_->m_strTypeName = L"ckveditex";
  other_->m_pKeyboard = &other_keys;
  // Sent, not posted: the pump's TranslateMessage would add a character of its own.
  ::SendMessageW(wnd_, WM_KEYDOWN, 'A', 0);
  ::SendMessageW(wnd_, WM_CHAR, 'a', 0);
  ::SendMessageW(wnd_, WM_IME_CHAR, 0x4E2D, 0);
  const std::vector<std::pair<char, WPARAM>> expected = {{'k', 'A'}, {'c', 'a'}, {'c', 0x4E2D}};
  EXPECT_EQ(expected, edit_keys.got);
  EXPECT_TRUE(other_keys.got.empty()) << "the type name comparison is case-sensitive";
  dlg_.m_bFrozen = true;
  ::SendMessageW(wnd_, WM_CHAR, 'b', 0);
  EXPECT_EQ(expected, edit_keys.got);
}

TEST_F(DialogTest, ResizeBordersAndTheirOrder) {
  EXPECT_FALSE(dlg_.ResizeHitTest(2, 100, true)) << "not resizable";
  dlg_.m_bResizable = true;
  // 450 x 230: bottom corners first, then left, right, top, bottom; no top corners. -1: none,
  // just inside both corner bands, or outside the client area.
  const int cases[][3] = {{7, 223, 4},  {443, 223, 5}, {4, 10, 0},  {2, 2, 0},   {447, 2, 2},
                          {100, 4, 1},  {100, 226, 3}, {8, 226, 3}, {4, 222, 0}, {442, 226, 3},
                          {100, 100, -1}, {8, 222, -1}, {-1, 100, -1}};
  for (const auto& c : cases) {
    dlg_.m_nResizeEdge = -1;
    EXPECT_EQ(c[2] != -1, dlg_.ResizeHitTest(c[0], c[1], true)) << c[0] << "," << c[1];
    EXPECT_EQ(c[2], dlg_.m_nResizeEdge) << c[0] << "," << c[1];
    ::ReleaseCapture();
  }
  dlg_.m_nResizeEdge = -1;
  EXPECT_TRUE(dlg_.ResizeHitTest(2, 100, false));
  EXPECT_EQ(-1, dlg_.m_nResizeEdge) << "without capture the edge is only reported";
  dlg_.m_nResizeEdge = 2;
  EXPECT_TRUE(dlg_.ResizeHitTest(-50, 100, false));
  EXPECT_EQ(2, dlg_.m_nResizeEdge) << "a border being dragged keeps itself wherever the mouse goes";
  dlg_.m_nResizeEdge = -1;
}

TEST_F(DialogTest, BorderDragBelowMinimumIsCancelled) {
  dlg_.m_bResizable = true;
  ::SetWindowPos(wnd_, nullptr, 100, 100, 450, 230, SWP_NOZORDER | SWP_SHOWWINDOW);
  Pump(50);
  dlg_.m_nResizeEdge = -1;
  ASSERT_TRUE(dlg_.ResizeHitTest(448, 100, true));
  ASSERT_EQ(2, dlg_.m_nResizeEdge);
  ::SetCursorPos(100 + 49, 150);
  POINT at = {};
  ::GetCursorPos(&at);
  if (at.x != 149) {
    printf("SKIPPED: the cursor cannot be placed on this display (at %ld)\n", at.x);
    ::ReleaseCapture();
    GTEST_SKIP();
  }
  auto ended = [&] { return dlg_.m_nResizeEdge == -1 && ::GetCapture() == nullptr; };
  EXPECT_FALSE(dlg_.ApplyResize(true));
  EXPECT_TRUE(ended());
  EXPECT_EQ(450, Rect().right - Rect().left);
  ASSERT_TRUE(dlg_.ResizeHitTest(448, 100, true));
  ::SetCursorPos(100 + 300, 150);
  EXPECT_TRUE(dlg_.ApplyResize(true));
  EXPECT_TRUE(ended());
  EXPECT_EQ(300, Rect().right - Rect().left);
  EXPECT_EQ(300, dlg_.m_nWidth);
  EXPECT_EQ(100, dlg_.m_nX);
}

TEST_F(DialogTest, CornerRegionRows) {
  HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(ERROR, ::GetWindowRgn(wnd_, rgn));
  // Two pixels off each end on the first and last rows, one on the second and second-last.
  for (int y : {0, 1, 2, 100, 227, 228, 229}) {
    const int off = (y == 0 || y == 229) ? 2 : (y == 1 || y == 228) ? 1 : 0;
    EXPECT_EQ(off == 0, ::PtInRegion(rgn, std::max(off - 1, 0), y) != FALSE) << y;
    EXPECT_TRUE(::PtInRegion(rgn, off, y)) << y;
    EXPECT_TRUE(::PtInRegion(rgn, 449 - off, y)) << y;
    EXPECT_FALSE(::PtInRegion(rgn, 450 - off, y)) << y;
  }
  ::DeleteObject(rgn);
}

TEST_F(DialogTest, ShowDlgCentresOnTheScreenUnlessAnAnimationRuns) {
  dlg_.m_bEffectRunning = true;
  dlg_.ShowDlg(-1, true, SW_SHOW);
  Pump(30);
  EXPECT_FALSE(::IsWindowVisible(wnd_)) << "refused while an animation runs";
  dlg_.m_bEffectRunning = false;

  const int sx = ::GetSystemMetrics(SM_CXSCREEN), sy = ::GetSystemMetrics(SM_CYSCREEN);
  dlg_.ShowDlg(-1, true, SW_SHOW);
  Pump(50);
  const RECT r = Rect();
  EXPECT_EQ((sx - 450) / 2, r.left);
  EXPECT_EQ((sy - 230) / 2, r.top);
  EXPECT_EQ(r.left, dlg_.m_nX);
  EXPECT_TRUE(::IsWindowVisible(wnd_));
  EXPECT_NE(nullptr, GetKvApp()->m_hMainWnd);
}

TEST_F(DialogTest, DoModalReturnsTheResult) {
  ::PostMessageW(wnd_, kEndWithOne, 0, 0);
  EXPECT_EQ(1, dlg_.DoModal(-1, false, true));
  EXPECT_FALSE(::IsWindowVisible(wnd_));
  EXPECT_TRUE(dlg_.m_bClosed);

  ProbeDlg second;
  ASSERT_TRUE(second.Create(0, 0, 0, 200, 100, 0, false, nullptr));
  ::PostMessageW(second.m_hWnd, kCloseOnly, 0, 0);
  EXPECT_EQ(2, second.DoModal(-1, false, true));

  ProbeDlg child;  // disables the owner it was opened for while it runs
  ASSERT_TRUE(child.Create(WS_POPUP, 0, 0, 200, 100, 0, false, nullptr));
  child.m_hHostWnd = child.watch = wnd_;
  ::PostMessageW(child.m_hWnd, kEndWithOne, 0, 0);
  EXPECT_EQ(1, child.DoModal(-1, true, false));
  EXPECT_FALSE(child.watched_enabled) << "the parent is disabled while the dialog runs";
  EXPECT_TRUE(::IsWindowEnabled(wnd_));
}

TEST_F(DialogTest, LayeredPaintComposesTheFrameBuffer) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  ProbeDlg layered;
  CKvButton b(L"卸 载", 255);
  b.m_nPicId = 60074;
  b.m_nStateCount = 1;
  layered.m_vecChildren = {&b};
  ASSERT_TRUE(layered.Create(0, 0, 0, 450, 230, 0, true, nullptr));
  EXPECT_TRUE(::GetWindowLongW(layered.m_hWnd, GWL_EXSTYLE) & WS_EX_LAYERED);
  EXPECT_TRUE(b.m_bLayered);
  layered.ShowDlg(-1, true, SW_SHOW);
  Pump(100);  // the posted paints
  EXPECT_GE(layered.overlays, 1);
  // The frame buffer holds the background with the button over it (GetPixel gives RGB, the
  // frame's pixels are BGR).
  kvtest::Frame background(450, 230);
  layered.DrawBackground(background.dc(), RECT{0, 0, 450, 230});
  auto frame_at = [&](int x, int y) {
    const COLORREF c = ::GetPixel(layered.m_dcFrame.m_hMemDC, x, y);
    return static_cast<uint32_t>(RGB(GetBValue(c), GetGValue(c), GetRValue(c)));
  };
  EXPECT_EQ(background.At(100, 100) & 0xFFFFFF, frame_at(100, 100));
  EXPECT_NE(background.At(289, 150) & 0xFFFFFF, frame_at(289, 150));
}

}  // namespace
