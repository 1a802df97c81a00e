// The widgets and the skinned dialog on a real (hidden) window, and the double buffer they paint through.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/kvtest.h"
#include "ui/button.h"
#include "ui/checkbox.h"
#include "ui/dialog.h"
#include "ui/text.h"
#include "ui/ui_texts.h"
#include "util/handles.h"

namespace {

using Ints = std::vector<long>;
int g_downs, g_ups;

// Counts the drags it is asked for instead of entering the system's move loop (no button is really held).
struct ProbeDlg : CKvDlg {
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) override {
    return msg == WM_NCLBUTTONDOWN ? drags += w == HTCAPTION, 0 : CKvDlg::WndProc(wnd, msg, w, l);
  }
  int drags = 0;
};

// A button at (255, 148), 68 x 29, and a check box at (50, 140), 200 x 20, children of a hidden 450 x 230 dialog.
class Widgets : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.Create(0, 0, 0, 450, 230, 0, false, nullptr));
    host_.m_vecChildren = {&button_, &box_};
    host_.SyncChildren();
  }
  void Init(int frames, bool checked) {
    box_.m_nState = g_downs = g_ups = 0, button_.m_bPressed = box_.m_bPressed = false;
    button_.Init(nullptr, 255, 148, 68, 29, 8, frames, host_.m_hWnd, nullptr);
    box_.Init(L"不再提示", 50, 140, 200, 20, checked, 0, frames, host_.m_hWnd, nullptr);
    button_.m_pfnDown = box_.m_pfnDown = [](void*) { ++g_downs; };
    button_.m_pfnUp = box_.m_pfnUp = [](void*) { ++g_ups; };
  }
  // M, D, U, R: move, press, release, right-release inside the widget; m, d, u outside; x: disable.
  bool Play(bool box, const char* events) {
    bool taken = false;
    for (const char* e = events; *e; ++e) {
      const int x = *e >= 'a' ? 10 : box ? 60 : 280, y = box ? 150 : 160;
      const int type = std::strchr("Mm", *e) ? 4 : std::strchr("Dd", *e) ? 0 : *e == 'R' ? 5 : 1;
      if (*e == 'x')
        button_.m_bEnabled = false;
      else
        taken = (box ? static_cast<CKvBase&>(box_) : button_).OnMouse(x, y, type, nullptr);
    }
    return taken;
  }
  ProbeDlg host_;
  CKvButton button_;
  CKvCheckBox box_;
};

// b: a three-frame button, 4: a four-frame one, c: a check box, C: one made checked. A click acts on release.
TEST_F(Widgets, StateMachines) {
  struct Row {
    char widget;
    const char* events;
    long state, checked, downs, ups, taken;
  };
  const Row rows[] = {{'b', "M", 1, 0, 0, 0, 1},      {'b', "MD", 2, 0, 1, 0, 1},      {'b', "DU", 1, 0, 1, 1, 1},
                      {'b', "DUU", 1, 0, 1, 1, 1},    {'b', "DUR", 1, 0, 1, 1, 1},     {'4', "DU", 3, 0, 1, 1, 1},
                      {'4', "DUM", 1, 0, 1, 1, 1},    {'b', "dU", 0, 0, 0, 0, 1},      {'b', "Dm", 0, 0, 1, 0, 0},
                      {'b', "DmU", 1, 0, 1, 1, 1},    {'b', "MxDU", 1, 0, 0, 0, 0},    {'c', "M", 1, 0, 0, 0, 1},
                      {'c', "MD", 1, 0, 1, 0, 1},     {'c', "MDU", 2, 1, 1, 1, 1},     {'c', "MDUm", 3, 1, 1, 1, 0},
                      {'c', "MDUmDU", 1, 0, 2, 2, 1}, {'c', "MDUmDUm", 0, 0, 2, 2, 0}, {'c', "U", 0, 0, 0, 0, 1},
                      {'C', "", 3, 1, 0, 0, 0},       {'C', "MM", 2, 1, 0, 0, 1},      {'C', "Mmm", 3, 1, 0, 0, 0}};
  for (const Row& r : rows) {
    Init(r.widget == '4' ? 4 : 3, r.widget == 'C');
    const bool box = std::strchr("cC", r.widget), taken = Play(box, r.events);
    EXPECT_EQ((Ints{r.state, r.checked, r.downs, r.ups, r.taken}),
              (Ints{box ? box_.m_nState : button_.m_nState, box_.m_bChecked, g_downs, g_ups, taken}))
        << r.widget << r.events;
  }
}

// Both edges count, shifted by the scroll offset; a widget touching the window's edge is in view.
TEST_F(Widgets, HitEdgesAndView) {
  const int hits[][6] = {
      {0, 255, 148, 0, 0, 1},  {0, 323, 177, 0, 0, 1},  {0, 324, 177, 0, 0, 0},
      {0, 323, 178, 0, 0, 0},  {0, 254, 160, 0, 0, 0},  {0, 260, 147, 0, 0, 0},
      {0, 245, 143, 10, 5, 1}, {0, 314, 143, 10, 5, 0}, {1, 50, 140, 0, 0, 1},
      {1, 250, 160, 0, 0, 1},  {1, 251, 160, 0, 0, 0},  {1, 250, 161, 0, 0, 0}};  // box?, x, y, offsets
  for (const auto& h : hits) {
    Init(3, false);
    CKvBase& w = h[0] ? static_cast<CKvBase&>(box_) : button_;
    w.m_nOffsetX = h[3], w.m_nOffsetY = h[4];
    EXPECT_EQ(h[5] != 0, w.OnMouse(h[1], h[2], kv::ui::kMouseMove, nullptr)) << h[1] << "," << h[2];
    w.m_nOffsetX = w.m_nOffsetY = 0;
  }
  for (const auto& v : {Ints{-20, 0, 1}, {-21, 0, 0}, {450, 230, 1}, {451, 0, 0}, {0, 231, 0}}) {  // x, y -> in view
    CKvText t;
    t.SetText({L"", int(v[0]), int(v[1]), 20, 10, false});
    t.m_hHostWnd = host_.m_hWnd;
    EXPECT_EQ(v[2] != 0, t.IsInView()) << v[0] << "," << v[1];
  }
}

// A press drags the window in the caption band (30 high), or anywhere when so set, unless it lies on a child that
// does not let drags through. Resize edges of 450 x 230: bottom corners first, then left, right, top, bottom; no top
// corners. A border being dragged keeps itself wherever the mouse goes; without capture the edge is only reported.
TEST_F(Widgets, DragsAndResizeEdges) {
  Init(3, false);
  const int drags[][6] = {{0, 1, 0, 100, 29, 1},  {0, 1, 0, 100, 30, 0},  {0, 0, 0, 100, 10, 0}, {1, 1, 0, 100, 200, 1},
                          {1, 1, 0, 323, 170, 0}, {1, 1, 1, 300, 170, 1}, {1, 1, 0, 324, 170, 1}};  // anywhere,
  for (const auto& r : drags) {  // draggable, through; x, y -> drags
    host_.m_bDragAnywhere = r[0], host_.m_bDraggable = r[1], button_.m_bDragThrough = r[2];
    const int before = host_.drags;
    ::SendMessageW(host_.m_hWnd, WM_LBUTTONDOWN, 0, MAKELPARAM(r[3], r[4]));
    EXPECT_EQ(r[5], host_.drags - before) << r[3] << "," << r[4];
  }
  EXPECT_FALSE(host_.ResizeHitTest(2, 100, true)) << "not resizable";
  host_.m_bResizable = true;
  const int rows[][4] = {{4, 100, -1, 0},   {5, 100, -1, -1}, {445, 100, -1, -1}, {446, 100, -1, 2},
                         {100, 4, -1, 1},   {100, 5, -1, -1}, {100, 225, -1, -1}, {100, 226, -1, 3},
                         {7, 223, -1, 4},   {8, 223, -1, -1}, {7, 222, -1, -1},   {442, 223, -1, -1},
                         {443, 223, -1, 5}, {2, 2, -1, 0},    {-1, 100, -1, -1},  {-50, 100, 2, 2}};  // x, y, dragged
  for (const auto& r : rows)
    for (bool capture : {false, true}) {
      host_.m_nResizeEdge = r[2];
      EXPECT_EQ(r[3] != -1, host_.ResizeHitTest(r[0], r[1], capture)) << r[0] << "," << r[1];
      EXPECT_EQ(capture ? r[3] : r[2], host_.m_nResizeEdge) << r[0] << "," << r[1];
      ::ReleaseCapture();
    }
}

// The buffer is drawn once, at its rectangle: on release, or by Draw and then not again; its bitmap goes with it.
TEST(MemoryDc, DrawsOnceAtItsRectangle) {
  kvtest::Frame target(160, 100);
  auto orange = [&](int x0, int y0, int x1, int y1) {
    return (x1 - x0) * (y1 - y0) - target.CountNot(0x00FF8000, x0, y0, x1, y1);
  };
  const int rows[][7] = {{10, 20, 110, 70, 1, 0, 5000}, {0, 0, 60, 60, 1, 1, 0}, {0, 0, 40, 40, 0, 0, 0}};
  for (const auto& r : rows) {  // rectangle, on release, Draw first -> orange after the release
    RECT rect = {r[0], r[1], r[2], r[3]}, all = {0, 0, r[2] - r[0], r[3] - r[1]};
    HBITMAP bitmap = nullptr;
    target.Fill(0);
    {
      CKvDC buffer(target.dc(), rect, r[4], false, nullptr);
      bitmap = buffer.m_hBitmap;
      ::FillRect(buffer.m_hMemDC, &all, kv::UniqueBrush(::CreateSolidBrush(RGB(255, 128, 0))).get());
      if (r[5]) buffer.Draw();
      EXPECT_EQ(r[5] ? 3600 : 0, orange(0, 0, 160, 100));
      target.Fill(0);
    }
    EXPECT_EQ((Ints{r[6], r[6], 0}),
              (Ints{orange(r[0], r[1], r[2], r[3]), orange(0, 0, 160, 100), ::GetObjectW(bitmap, 0, nullptr)}));
  }
}

}  // namespace
