// The skinned dialog on real windows, its messages sent as the message loop would hand them on,
// and the double buffer it paints through.
#include <gtest/gtest.h>

#include "app/app.h"
#include "tests/ui/ui_test.h"
#include "ui/button.h"
#include "ui/memory_dc.h"
#include "util/handles.h"

namespace {

using kvtest::Frame;

int g_downs, g_ups;
void *g_down_context, *g_up_context;
COLORREF Rgb(uint32_t p) { return RGB(p >> 16 & 255, p >> 8 & 255, p & 255); }

class Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(uitest::UseHelperPictures());
    ok_.m_nStateCount = 1;
    ok_.m_pfnDown = [](void* c) { ++g_downs, g_down_context = c; };
    ok_.m_pfnUp = [](void* c) { ++g_ups, g_up_context = c; };
    dlg_.m_vecChildren = {&ok_, &other_};
    ASSERT_TRUE(dlg_.Create(0, 0, 0, 450, 230, 0, false, nullptr));
  }
  void Send(UINT msg, int x, int y) { ::SendMessageW(dlg_.m_hWnd, msg, 0, MAKELPARAM(x, y)); }
  uitest::ProbeDlg dlg_;
  CKvButton ok_{L"确 定", 255}, other_{L"取 消", 325};
};

// In order. Before each message: c gives OK a context of its own (kept), i turns its input off,
// h hides it, f freezes the dialog. Every child hears every move, which is how the others leave
// hover; presses carry the dialog, releases the child's own context where it has one.
TEST_F(Dialog, MouseRouting) {
  int mine = 0;
  struct Row { char change; UINT msg; int x, y, ok, other, downs, ups; void* up; };
  const Row rows[] = {{'-', WM_MOUSEMOVE, 280, 160, 1, 0, 0, 0, nullptr},
                      {'-', WM_LBUTTONDOWN, 280, 160, 2, 0, 1, 0, nullptr},
                      {'-', WM_LBUTTONUP, 280, 160, 1, 0, 1, 1, &dlg_},
                      {'c', WM_LBUTTONDOWN, 260, 150, 2, 0, 2, 1, &dlg_},
                      {'-', WM_LBUTTONUP, 260, 150, 1, 0, 2, 2, &mine},
                      {'-', WM_MOUSEMOVE, 330, 160, 0, 1, 2, 2, &mine},
                      {'-', WM_MOUSELEAVE, 0, 0, 0, 0, 2, 2, &mine},
                      {'i', WM_LBUTTONDOWN, 280, 160, 0, 0, 2, 2, &mine},
                      {'h', WM_LBUTTONDOWN, 280, 160, 0, 0, 2, 2, &mine},
                      {'f', WM_MOUSEMOVE, 280, 160, 0, 0, 2, 2, &mine}};
  g_downs = g_ups = 0, g_down_context = g_up_context = nullptr;
  for (const Row& r : rows) {
    if (r.change == 'c') ok_.m_pContext = &mine;
    ok_.m_bInputOff = r.change == 'i', ok_.m_bVisible = r.change != 'h';
    dlg_.m_bFrozen = r.change == 'f';
    Send(r.msg, r.x, r.y);
    EXPECT_EQ((std::vector<int>{r.ok, r.other, r.downs, r.ups}),
              (std::vector<int>{ok_.m_nState, other_.m_nState, g_downs, g_ups})) << r.msg;
    EXPECT_EQ(r.up, g_up_context);
    EXPECT_EQ(g_downs ? static_cast<void*>(&dlg_) : nullptr, g_down_context);
  }
  EXPECT_EQ(0, dlg_.drags);
}

// A press drags the window in the caption band (30 high), or anywhere when so set, unless it lies
// on a child that does not let drags through.
TEST_F(Dialog, Drags) {
  const int rows[][6] = {{0, 1, 0, 100, 29, 1},  {0, 1, 0, 100, 30, 0},  {0, 0, 0, 100, 10, 0},
                         {1, 1, 0, 100, 200, 1}, {1, 1, 0, 323, 170, 0}, {1, 1, 1, 300, 170, 1},
                         {1, 1, 0, 324, 170, 1}};  // anywhere, draggable, through; x, y -> drags
  for (const auto& r : rows) {
    dlg_.m_bDragAnywhere = r[0], dlg_.m_bDraggable = r[1], ok_.m_bDragThrough = r[2];
    const int before = dlg_.drags;
    Send(WM_LBUTTONDOWN, r[3], r[4]);
    EXPECT_EQ(r[5], dlg_.drags - before) << r[3] << "," << r[4];
  }
}

// Keys go to edit widgets only (the type name compared exactly), and not while frozen.
TEST_F(Dialog, Keys) {
  struct Keys : KeyboardHandler {
    std::vector<WPARAM> got;
    void OnKeyDown(WPARAM w, LPARAM) override { got.push_back(w); }
    void OnChar(WPARAM w, LPARAM) override { got.push_back(w + 0x10000); }
  } edit, other;
  ok_.m_strTypeName = kv::ui::kEditTypeName, ok_.m_pKeyboard = &edit;
  other_.m_strTypeName = L"ckveditex", other_.m_pKeyboard = &other;
  for (auto [msg, key] : {std::pair<UINT, WPARAM>{WM_KEYDOWN, 'A'}, {WM_CHAR, 'a'}, {WM_IME_CHAR, 0x4E2D}})
    ::SendMessageW(dlg_.m_hWnd, msg, key, 0);
  dlg_.m_bFrozen = true;
  ::SendMessageW(dlg_.m_hWnd, WM_CHAR, 'b', 0);
  EXPECT_EQ((std::vector<WPARAM>{'A', 0x10000 + 'a', 0x10000 + 0x4E2D}), edit.got);
  EXPECT_TRUE(other.got.empty());
}

// 450 x 230: bottom corners first, then left, right, top, bottom; no top corners. A border being
// dragged keeps itself wherever the mouse goes; without capture the edge is only reported.
TEST_F(Dialog, ResizeEdges) {
  EXPECT_FALSE(dlg_.ResizeHitTest(2, 100, true)) << "not resizable";
  dlg_.m_bResizable = true;
  const int rows[][4] = {{7, 223, -1, 4},  {443, 223, -1, 5}, {4, 10, -1, 0},    {2, 2, -1, 0},
                         {447, 2, -1, 2},  {100, 4, -1, 1},   {100, 226, -1, 3}, {8, 226, -1, 3},
                         {4, 222, -1, 0},  {442, 226, -1, 3}, {100, 100, -1, -1}, {8, 222, -1, -1},
                         {-1, 100, -1, -1}, {-50, 100, 2, 2}};  // x, y, edge dragged -> edge
  for (const auto& r : rows) {
    for (bool capture : {false, true}) {
      dlg_.m_nResizeEdge = r[2];
      EXPECT_EQ(r[3] != -1, dlg_.ResizeHitTest(r[0], r[1], capture)) << r[0] << "," << r[1];
      EXPECT_EQ(capture ? r[3] : r[2], dlg_.m_nResizeEdge) << r[0] << "," << r[1];
      ::ReleaseCapture();
    }
  }
  // The right border dragged to the cursor; below the minimum width (50) the drag is cancelled.
  ::SetWindowPos(dlg_.m_hWnd, nullptr, 100, 100, 450, 230, SWP_NOZORDER);
  for (const auto& r : {std::array{149, 0, 450}, {400, 1, 300}}) {  // cursor x, applied, width
    dlg_.m_nResizeEdge = -1;
    ASSERT_TRUE(dlg_.ResizeHitTest(448, 100, true));
    POINT at = {};
    if (!::SetCursorPos(r[0], 150) || !::GetCursorPos(&at) || at.x != r[0])
      GTEST_SKIP() << "the cursor cannot be placed on this display";
    EXPECT_EQ(r[1] != 0, dlg_.ApplyResize(true));
    RECT now = {};
    ::GetWindowRect(dlg_.m_hWnd, &now);
    EXPECT_EQ((std::vector<long>{-1, r[2], 100}),
              (std::vector<long>{dlg_.m_nResizeEdge, now.right - now.left, now.left}));
    EXPECT_EQ(nullptr, ::GetCapture());
  }
  EXPECT_EQ(300, dlg_.m_nWidth);
}

// Two pixels off each end of the first and last rows, one off the second and second-last.
TEST_F(Dialog, CornerRegion) {
  kv::UniqueRegion rgn(::CreateRectRgn(0, 0, 0, 0));
  ASSERT_NE(ERROR, ::GetWindowRgn(dlg_.m_hWnd, rgn.get()));
  for (auto [y, off] : {std::pair{0, 2}, {1, 1}, {2, 0}, {100, 0}, {227, 0}, {228, 1}, {229, 2}}) {
    EXPECT_EQ(off == 0, ::PtInRegion(rgn.get(), std::max(off - 1, 0), y) != FALSE) << y;
    EXPECT_TRUE(::PtInRegion(rgn.get(), off, y) && ::PtInRegion(rgn.get(), 449 - off, y)) << y;
    EXPECT_FALSE(::PtInRegion(rgn.get(), 450 - off, y)) << y;
  }
}

// Creating again leaves one window and one class, runs OnCreate once, and hands the children the
// new window and buffers.
TEST_F(Dialog, CreateAgain) {
  const HWND first = dlg_.m_hWnd;
  const std::wstring first_class = dlg_.m_strClassName;
  const DWORD tick = ::GetTickCount();  // class names carry the tick: let it move on
  ASSERT_TRUE(kvtest::PollUntil([&] { return ::GetTickCount() != tick; }, 1000));
  ASSERT_TRUE(dlg_.Create(0, 10, 20, 300, 200, 0, false, nullptr));
  WNDCLASSW wc = {};
  EXPECT_FALSE(::IsWindow(first) || ::GetClassInfoW(GetKvApp()->m_hInstance, first_class.c_str(), &wc));
  EXPECT_TRUE(::GetClassInfoW(GetKvApp()->m_hInstance, dlg_.m_strClassName.c_str(), &wc));
  EXPECT_EQ(1, dlg_.creates);
  for (CKvBase* c : dlg_.m_vecChildren)
    EXPECT_TRUE(c->m_hHostWnd == dlg_.m_hWnd && c->m_hBkDC == dlg_.m_dcBk.m_hMemDC &&
                c->m_hFrameDC == dlg_.m_dcFrame.m_hMemDC && c->m_hFrameDC);
}

// A paint composes background and children into the target and the dialog's frame; frozen, it
// draws the background alone and leaves the frame as it was. Layered dialogs alike.
TEST_F(Dialog, PaintAndFrame) {
  for (const auto& [layered, frozen] : {std::pair{0, 0}, {0, 1}, {1, 0}, {1, 1}}) {
    uitest::ProbeDlg dlg;
    dlg.m_vecChildren = {&ok_};
    ASSERT_TRUE(dlg.Create(0, 0, 0, 450, 230, 0, layered, nullptr));
    Frame background(450, 230), target(450, 230);
    dlg.DrawBackground(background.dc(), RECT{0, 0, 450, 230});
    auto framed = [&](int x, int y) { return ::GetPixel(dlg.m_dcFrame.m_hMemDC, x, y); };
    const COLORREF before = framed(280, 150);
    dlg.m_bFrozen = frozen;
    dlg.Paint(target.dc());
    EXPECT_TRUE(frozen ? framed(280, 150) == before
                       : framed(280, 150) != Rgb(background.At(280, 150)) &&
                             framed(100, 100) == Rgb(background.At(100, 100)));
    if (layered) continue;
    EXPECT_EQ(!frozen, Rgb(target.At(280, 150)) != Rgb(background.At(280, 150)));
    EXPECT_EQ(Rgb(target.At(100, 100)), Rgb(background.At(100, 100)));
  }
}

// The result is 2 unless set; the parent is disabled while the dialog runs, if so asked.
TEST_F(Dialog, DoModal) {
  dlg_.m_bEffectRunning = true;
  dlg_.ShowDlg(-1, false, SW_SHOW);
  EXPECT_FALSE(::IsWindowVisible(dlg_.m_hWnd)) << "refused while an animation runs";
  static bool parent_enabled;
  for (const auto& [end, disable, result] : {std::tuple{0, 0, 2}, {1, 1, 1}}) {
    uitest::ProbeDlg modal;
    CKvButton button(L"", 0);
    button.m_pfnUp = end ? +[](void* c) {
      parent_enabled = ::IsWindowEnabled(static_cast<CKvDlg*>(c)->m_hHostWnd);
      static_cast<CKvDlg*>(c)->EndDialog(1);
    } : +[](void* c) { static_cast<CKvDlg*>(c)->Close(); };
    modal.m_vecChildren = {&button};
    ASSERT_TRUE(modal.Create(WS_POPUP, 0, 0, 200, 200, 0, false, nullptr));
    modal.m_hHostWnd = dlg_.m_hWnd;
    for (UINT msg : {WM_LBUTTONDOWN, WM_LBUTTONUP}) ::PostMessageW(modal.m_hWnd, msg, 0, MAKELPARAM(10, 160));
    parent_enabled = true;
    EXPECT_EQ(result, modal.DoModal(-1, disable, false));
    EXPECT_EQ(!disable, parent_enabled);
    EXPECT_TRUE(::IsWindowEnabled(dlg_.m_hWnd) && !::IsWindowVisible(modal.m_hWnd));
  }
}

// The buffer is drawn once, at its rectangle: on release, or by Draw and then not again; its
// bitmap goes with it. The layered kind is 32 bits, bottom-up, transparent black at first.
TEST(MemoryDc, DrawsOnceAtItsRectangle) {
  Frame target(160, 100);
  auto orange = [&](int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += Rgb(target.At(x, y)) == RGB(255, 128, 0);
    return n;
  };
  const int rows[][7] = {{10, 20, 110, 70, 1, 0, 5000}, {0, 0, 60, 60, 1, 1, 0}, {0, 0, 40, 40, 0, 0, 0}};
  for (const auto& r : rows) {  // rectangle, on release, Draw first -> orange after the release
    RECT rect = {r[0], r[1], r[2], r[3]}, all = {0, 0, r[2] - r[0], r[3] - r[1]};
    target.Fill(0xFF000000);
    HBITMAP bitmap = nullptr;
    {
      CKvDC buffer(target.dc(), rect, r[4], false, nullptr);
      bitmap = buffer.m_hBitmap;
      ::FillRect(buffer.m_hMemDC, &all, kv::UniqueBrush(::CreateSolidBrush(RGB(255, 128, 0))).get());
      EXPECT_EQ(0, orange(0, 0, 160, 100));
      if (r[5]) buffer.Draw();
      EXPECT_EQ(r[5] ? 3600 : 0, orange(0, 0, 160, 100));
      target.Fill(0xFF000000);
    }
    EXPECT_EQ((std::vector<int>{r[6], r[6]}), (std::vector<int>{orange(r[0], r[1], r[2], r[3]), orange(0, 0, 160, 100)}));
    BITMAP info;
    EXPECT_EQ(0, ::GetObjectW(bitmap, sizeof(info), &info));
  }
  CKvDC empty;
  kv::UniqueBitmap alpha(empty.CreateCompatibleBitmapEx(RECT{0, 0, 45, 23}));
  DIBSECTION s = {};
  ASSERT_EQ(int(sizeof(s)), ::GetObjectW(alpha.get(), sizeof(s), &s));
  EXPECT_EQ((std::vector<long>{45, 23, 32}), (std::vector<long>{s.dsBmih.biWidth, s.dsBmih.biHeight, s.dsBmih.biBitCount}));
  const auto* bits = static_cast<const uint32_t*>(s.dsBm.bmBits);
  EXPECT_EQ(std::vector<uint32_t>(45 * 23), std::vector<uint32_t>(bits, bits + 45 * 23));
}

}  // namespace
