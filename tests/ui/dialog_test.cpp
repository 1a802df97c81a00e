// The skinned dialog with real windows: messages are posted to the window and dispatched by the
// test's own pump, as the message loop would.
#include "ui/dialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "tests/ui/ui_fixtures.h"
#include "ui/button.h"
#include "ui/ui_texts.h"

namespace {

using kvtest::Point;
using kvtest::Pump;

constexpr UINT kEndWithOne = WM_APP + 1;
constexpr UINT kCloseOnly = WM_APP + 2;

// Records what the tests look for; the system's move loop is not entered, since no real button
// is held down while messages are posted.
class ProbeDlg : public CKvDlg {
 public:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (wnd == m_hWnd) {
      if (msg == WM_NCLBUTTONDOWN) {
        if (wParam == HTCAPTION) ++drags;
        return 0;
      }
      if (msg == kEndWithOne) {
        watched_enabled = watch && ::IsWindowEnabled(watch);
        EndDialog(1);
      }
      if (msg == kCloseOnly) Close();
    }
    return CKvDlg::WndProc(wnd, msg, wParam, lParam);
  }
  void OnCreate() override {
    ++creates;
    CKvDlg::OnCreate();
  }
  void DrawOverlay(HDC) override { ++overlays; }

  HWND watch = nullptr;  // a window whose enabled state is noted when the dialog ends
  bool watched_enabled = true;
  int drags = 0;
  int creates = 0;
  int overlays = 0;
};

struct Calls {
  int up = 0, down = 0;
  void* up_context = nullptr;
  void* down_context = nullptr;
};
Calls g_calls;
void Down(void* p) {
  ++g_calls.down;
  g_calls.down_context = p;
}
void Up(void* p) {
  ++g_calls.up;
  g_calls.up_context = p;
}

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
    ::PostMessageW(wnd_, msg, w, Point(x, y));
    Pump(30);
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
}

TEST_F(DialogTest, PostedClickReachesTheButton) {
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
}

TEST_F(DialogTest, ReleaseCarriesTheChildsOwnContext) {
  int mine = 0;
  ok_->m_pContext = &mine;
  Post(WM_LBUTTONDOWN, 260, 150);
  Post(WM_LBUTTONUP, 260, 150);
  EXPECT_EQ(&dlg_, g_calls.down_context) << "presses always carry the dialog";
  EXPECT_EQ(&mine, g_calls.up_context);
}

TEST_F(DialogTest, InputOffAndHiddenChildrenHearNothing) {
  ok_->m_bInputOff = true;
  Post(WM_LBUTTONDOWN, 280, 160);
  Post(WM_LBUTTONUP, 280, 160);
  EXPECT_EQ(0, g_calls.up);
  ok_->m_bInputOff = false;
  ok_->m_bVisible = false;
  Post(WM_LBUTTONDOWN, 280, 160);
  Post(WM_LBUTTONUP, 280, 160);
  EXPECT_EQ(0, g_calls.up);
}

TEST_F(DialogTest, FrozenDialogIgnoresAndLeavesOutChildren) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  dlg_.m_bFrozen = true;
  Post(WM_MOUSEMOVE, 280, 160);
  Post(WM_LBUTTONDOWN, 280, 160);
  Post(WM_LBUTTONUP, 280, 160);
  EXPECT_EQ(0, ok_->m_nState);
  EXPECT_EQ(0, g_calls.down);
  EXPECT_EQ(0, g_calls.up);

  kvtest::Frame frozen(450, 230), live(450, 230), background(450, 230);
  RECT client = {0, 0, 450, 230};
  dlg_.DrawBackground(background.dc(), client);
  dlg_.Paint(frozen.dc());
  EXPECT_EQ(background.Pixels(), frozen.Pixels()) << "background (and empty overlay) only";
  dlg_.m_bFrozen = false;
  dlg_.Paint(live.dc());
  EXPECT_NE(background.Pixels(), live.Pixels());
  EXPECT_NE(background.At(280, 150), live.At(280, 150)) << "the button is painted";
  EXPECT_EQ(background.At(100, 100), live.At(100, 100));
  EXPECT_EQ(2, dlg_.overlays);
}

TEST_F(DialogTest, MouseLeaveEndsHover) {
  Post(WM_MOUSEMOVE, 330, 160);
  EXPECT_EQ(1, other_->m_nState);
  ::SendMessageW(wnd_, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(0, other_->m_nState);
  EXPECT_FALSE(dlg_.m_bTracking);
}

TEST_F(DialogTest, CaptionBandDrags) {
  Post(WM_LBUTTONDOWN, 100, 29);
  EXPECT_EQ(1, dlg_.drags);
  Post(WM_LBUTTONDOWN, 100, 30);
  EXPECT_EQ(1, dlg_.drags);
  dlg_.m_bDraggable = false;
  Post(WM_LBUTTONDOWN, 100, 10);
  EXPECT_EQ(1, dlg_.drags);
}

TEST_F(DialogTest, DragAnywhereButNotOnAButton) {
  dlg_.m_bDragAnywhere = true;
  Post(WM_LBUTTONDOWN, 100, 200);
  EXPECT_EQ(1, dlg_.drags);
  Post(WM_LBUTTONDOWN, 300, 170);
  EXPECT_EQ(1, dlg_.drags);
  // A drag-through child (a text, say) lets the press drag the window.
  ok_->m_bDragThrough = true;
  Post(WM_LBUTTONDOWN, 300, 170);
  EXPECT_EQ(2, dlg_.drags);
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
  ASSERT_EQ(3u, edit_keys.got.size());
  EXPECT_EQ('k', edit_keys.got[0].first);
  EXPECT_EQ(static_cast<WPARAM>('A'), edit_keys.got[0].second);
  EXPECT_EQ('c', edit_keys.got[1].first);
  EXPECT_EQ(static_cast<WPARAM>(0x4E2D), edit_keys.got[2].second);
  EXPECT_TRUE(other_keys.got.empty()) << "the type name comparison is case-sensitive";
  dlg_.m_bFrozen = true;
  ::SendMessageW(wnd_, WM_CHAR, 'b', 0);
  EXPECT_EQ(3u, edit_keys.got.size());
}

TEST_F(DialogTest, ResizeBordersAndTheirOrder) {
  EXPECT_FALSE(dlg_.ResizeHitTest(2, 100, true)) << "not resizable";
  dlg_.m_bResizable = true;
  struct Case {
    int x, y, edge;
  };
  // 450 x 230: bottom corners first, then left, right, top, bottom; no top corners.
  for (Case c : {Case{7, 223, 4}, Case{443, 223, 5}, Case{4, 10, 0}, Case{2, 2, 0},
                 Case{447, 2, 2}, Case{100, 4, 1}, Case{100, 226, 3}, Case{8, 226, 3},
                 Case{4, 222, 0}, Case{442, 226, 3}}) {
    dlg_.m_nResizeEdge = -1;
    EXPECT_TRUE(dlg_.ResizeHitTest(c.x, c.y, true)) << c.x << "," << c.y;
    EXPECT_EQ(c.edge, dlg_.m_nResizeEdge) << c.x << "," << c.y;
    ::ReleaseCapture();
  }
  dlg_.m_nResizeEdge = -1;
  EXPECT_FALSE(dlg_.ResizeHitTest(100, 100, true));
  EXPECT_FALSE(dlg_.ResizeHitTest(8, 222, true)) << "just inside both corner bands";
  EXPECT_FALSE(dlg_.ResizeHitTest(-1, 100, true)) << "outside the client area";
  EXPECT_EQ(-1, dlg_.m_nResizeEdge);
  // Without capture the edge is only reported.
  EXPECT_TRUE(dlg_.ResizeHitTest(2, 100, false));
  EXPECT_EQ(-1, dlg_.m_nResizeEdge);
  // A border being dragged keeps itself wherever the mouse goes.
  dlg_.m_nResizeEdge = 2;
  EXPECT_TRUE(dlg_.ResizeHitTest(-50, 100, false));
  EXPECT_EQ(2, dlg_.m_nResizeEdge);
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
  EXPECT_FALSE(dlg_.ApplyResize(true));
  EXPECT_EQ(-1, dlg_.m_nResizeEdge);
  EXPECT_EQ(nullptr, ::GetCapture());
  RECT r = {};
  ::GetWindowRect(wnd_, &r);
  EXPECT_EQ(450, r.right - r.left);

  ASSERT_TRUE(dlg_.ResizeHitTest(448, 100, true));
  ::SetCursorPos(100 + 300, 150);
  EXPECT_TRUE(dlg_.ApplyResize(true));
  ::GetWindowRect(wnd_, &r);
  EXPECT_EQ(300, r.right - r.left);
  EXPECT_EQ(300, dlg_.m_nWidth);
  EXPECT_EQ(100, dlg_.m_nX);
  EXPECT_EQ(-1, dlg_.m_nResizeEdge);
  EXPECT_EQ(nullptr, ::GetCapture());
}

TEST_F(DialogTest, CornerRegionRows) {
  HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(ERROR, ::GetWindowRgn(wnd_, rgn));
  auto in = [&](int x, int y) { return ::PtInRegion(rgn, x, y) != FALSE; };
  // First and last rows: two pixels off each end.
  for (int y : {0, 229}) {
    EXPECT_FALSE(in(1, y));
    EXPECT_TRUE(in(2, y));
    EXPECT_TRUE(in(447, y));
    EXPECT_FALSE(in(448, y));
  }
  // Second and second-last rows: one pixel.
  for (int y : {1, 228}) {
    EXPECT_FALSE(in(0, y));
    EXPECT_TRUE(in(1, y));
    EXPECT_TRUE(in(448, y));
    EXPECT_FALSE(in(449, y));
  }
  for (int y : {2, 100, 227}) {
    EXPECT_TRUE(in(0, y));
    EXPECT_TRUE(in(449, y));
  }
  EXPECT_FALSE(in(450, 100));
  ::DeleteObject(rgn);
}

TEST_F(DialogTest, SecondCreateLeavesOneWindowAndClass) {
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

TEST_F(DialogTest, ShowDlgCentresOnTheScreen) {
  const int sx = ::GetSystemMetrics(SM_CXSCREEN), sy = ::GetSystemMetrics(SM_CYSCREEN);
  dlg_.ShowDlg(-1, true, SW_SHOW);
  Pump(50);
  RECT r = {};
  ::GetWindowRect(wnd_, &r);
  EXPECT_EQ((sx - 450) / 2, r.left);
  EXPECT_EQ((sy - 230) / 2, r.top);
  EXPECT_EQ(r.left, dlg_.m_nX);
  EXPECT_TRUE(::IsWindowVisible(wnd_));
  if (sx == 1280 && sy == 800) {
    EXPECT_EQ(415, r.left);
    EXPECT_EQ(285, r.top);
  }
  EXPECT_NE(nullptr, GetKvApp()->m_hMainWnd);
}

TEST_F(DialogTest, ShowDlgIsRefusedWhileAnAnimationRuns) {
  dlg_.m_bEffectRunning = true;
  dlg_.ShowDlg(-1, true, SW_SHOW);
  Pump(30);
  EXPECT_FALSE(::IsWindowVisible(wnd_));
  dlg_.m_bEffectRunning = false;
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
}

TEST_F(DialogTest, DoModalDisablesAndRestoresItsParent) {
  ProbeDlg child;
  ASSERT_TRUE(child.Create(WS_POPUP, 0, 0, 200, 100, 0, false, nullptr));
  child.m_hHostWnd = wnd_;  // the owner it was opened for
  child.watch = wnd_;
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
  // The frame buffer holds the background with the button over it.
  kvtest::Frame background(450, 230);
  RECT client = {0, 0, 450, 230};
  layered.DrawBackground(background.dc(), client);
  const COLORREF on_button = ::GetPixel(layered.m_dcFrame.m_hMemDC, 289, 150);
  const COLORREF off_button = ::GetPixel(layered.m_dcFrame.m_hMemDC, 100, 100);
  EXPECT_EQ(background.At(100, 100) & 0xFFFFFF,
            static_cast<uint32_t>(RGB(GetBValue(off_button), GetGValue(off_button),
                                      GetRValue(off_button))));
  EXPECT_NE(background.At(289, 150) & 0xFFFFFF,
            static_cast<uint32_t>(RGB(GetBValue(on_button), GetGValue(on_button),
                                      GetRValue(on_button))));
}

}  // namespace
