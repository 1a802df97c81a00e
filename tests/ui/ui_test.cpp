// The widgets, the skinned dialog and its double buffer, the window animations and the message box, on real windows.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "tests/support/kvtest.h"
#include "ui/button.h"
#include "ui/checkbox.h"
#include "ui/dialog.h"
#include "ui/effects.h"
#include "ui/message_box.h"
#include "ui/text.h"
#include "ui/ui_texts.h"
#include "util/handles.h"

namespace {

using Ints = std::vector<long>;
using Texts = std::vector<std::wstring>;
using kv::ui::EffectStep;
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

// A press drags in the caption band (30 high), or anywhere if so set, but not on a child that keeps drags. Resize edges
// of 450 x 230: bottom corners, left, right, top, bottom; a dragged border holds; without capture it is only reported.
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
    auto buffer = std::make_unique<CKvDC>(target.dc(), rect, r[4], false, nullptr);
    const HBITMAP bitmap = buffer->m_hBitmap;
    ::FillRect(buffer->m_hMemDC, &all, kv::UniqueBrush(::CreateSolidBrush(RGB(255, 128, 0))).get());
    if (r[5]) buffer->Draw();
    EXPECT_EQ(r[5] ? 3600 : 0, orange(0, 0, 160, 100));
    target.Fill(0), buffer.reset();
    EXPECT_EQ((Ints{r[6], r[6], 0}),
              (Ints{orange(r[0], r[1], r[2], r[3]), orange(0, 0, 160, 100), ::GetObjectW(bitmap, 0, nullptr)}));
    target.Fill(0);
  }
}

// Steps, drawn frames, steps the window did not take as given, the last alpha.
int g_steps, g_frames, g_mismatches, g_alpha;

void Watch(HWND wnd, const EffectStep& s) {
  RECT r = {}, want = {s.x, s.y, s.x + s.w, s.y + s.h};
  BYTE alpha = 0;
  ::GetWindowRect(wnd, &r);
  ::GetLayeredWindowAttributes(wnd, nullptr, &alpha, nullptr);
  if (s.kind == EffectStep::kMove || s.kind == EffectStep::kMoveHidden) g_mismatches += !::EqualRect(&r, &want);
  if (s.kind == EffectStep::kAlpha) g_mismatches += (g_alpha = alpha) != s.value;
  g_frames += s.kind == EffectStep::kFrame3D || s.kind == EffectStep::kFramePlain;
  ++g_steps;
}

// Start: h hidden, s shown, f hidden and frozen, c a shown child. Left: visible, closed, frozen, layered, and where:
// g its place and stored geometry, L left of the screen, - elsewhere. A narrow flip that never ends runs out of memory.
TEST(Effects, EndWhereTheyShould) {
  CKvDlg dlg;  // one window for every row: Wine takes seconds to take a shown window away
  ASSERT_TRUE(dlg.Create(0, 0, 0, 450, 230, 0, false, nullptr));
  kv::ui::SetEffectObserver(Watch);
  using Box = std::array<int, 4>;
  const Box main = {735, 425, 450, 230}, at = {100, 100, 450, 230}, box = {100, 100, 300, 200}, narrow = {0, 0, 5, 50},
            empty = {0, 0, 0, 50};
  const struct {
    int effect;
    Box g;
    char start;
    const char* want;
    int alpha = -1;  // the last alpha given, -1 none
  } rows[] = {
      {0, main, 'h', "1000g"},     {1, at, 'h', "1000g"},     {2, at, 's', "0100-"},      {3, main, 's', "1000L"},
      {4, at, 'f', "1000g"},       {5, at, 's', "0110-"},     {6, at, 'h', "1001g", 250}, {7, at, 's', "1001g", 15},
      {8, box, 'h', "1001g", 249}, {9, box, 's', "1011-", 0}, {10, at, 'h', "1000g"},     {10, narrow, 'h', "1000g"},
      {10, empty, 'h', "1000g"},   {11, at, 's', "1001g"},    {11, narrow, 's', "1001g"}, {11, at, 'c', "0101g"},
      {12, at, 'h', "1000g"},      {13, at, 's', "0100-"},    {14, at, 's', "1000g"}};
  const HWND w = dlg.m_hWnd;
  MSG done;
  for (const auto& [effect, g, start, want, alpha] : rows) {
    dlg.m_nX = g[0], dlg.m_nY = g[1], dlg.m_nWidth = g[2], dlg.m_nHeight = g[3];
    dlg.m_bClosed = false, dlg.m_bFrozen = start == 'f', dlg.m_bChild = start == 'c';
    ::SetWindowLongW(w, GWL_EXSTYLE, 0);
    ::SetWindowPos(w, nullptr, g[0], g[1], g[2], g[3],
                   SWP_NOZORDER | (std::strchr("sc", start) ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    g_steps = g_frames = g_mismatches = 0, g_alpha = -1;
    dlg.PlayEffect(effect);
    RECT now = {};
    ::GetWindowRect(w, &now);
    const bool home = Box{now.left, now.top, now.right - now.left, now.bottom - now.top} == g &&
                      Box{dlg.m_nX, dlg.m_nY, dlg.m_nWidth, dlg.m_nHeight} == g;
    const char end = home ? 'g' : now.right <= 0 ? 'L' : '-';
    const std::string left = {char('0' + ::IsWindowVisible(w)), char('0' + dlg.m_bClosed), char('0' + dlg.m_bFrozen),
                              char('0' + ((::GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_LAYERED) != 0)), end};
    EXPECT_EQ(want, left) << "effect " << effect;
    const bool posted = ::PeekMessageW(&done, w, kv::ui::WM_KV_EFFECTDONE, kv::ui::WM_KV_EFFECTDONE, PM_REMOVE);
    EXPECT_EQ((std::array<int, 4>{1, 0, alpha, effect == 4 || effect == 10 || effect == 11}),
              (std::array<int, 4>{posted, g_mismatches, g_alpha, g_frames > 0}))
        << "effect " << effect;  // only the captured animations draw frames
  }
  dlg.m_bEffectRunning = true, g_steps = 0;
  dlg.PlayEffect(2);  // while another runs: ignored, and nothing is posted
  kv::ui::SetEffectObserver(nullptr);
  EXPECT_FALSE(g_steps || ::PeekMessageW(&done, w, kv::ui::WM_KV_EFFECTDONE, kv::ui::WM_KV_EFFECTDONE, PM_REMOVE));
}

// Notes the OK caption at every redraw and close animation, the thread it closed on and whether its owner was on.
// click is posted for the modal loop; the race button's callback comes during the first close, as a second would.
struct ProbeBox : CKvMsgBox {
  void Redraw() override { captions.push_back(m_btnOk.m_strCaption), CKvMsgBox::Redraw(); }
  void PlayEffect(int effect) override {
    closes.push_back(m_btnOk.m_strCaption), closed_on = ::GetCurrentThreadId(),
                                            owner_on = ::IsWindowEnabled(m_hHostWnd);
    if (race) (this->*std::exchange(race, nullptr)).m_pfnUp(static_cast<CKvDlg*>(this));
    CKvMsgBox::PlayEffect(effect);
  }
  void OnCreate() override {
    CKvMsgBox::OnCreate();
    for (UINT msg : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP})
      if (click.x) ::PostMessageW(m_hWnd, msg, 0, MAKELPARAM(click.x, click.y));
  }
  POINT click = {};
  CKvButton CKvMsgBox::*race = nullptr;
  DWORD closed_on = 0;
  bool owner_on = true;
  Texts captions, closes;
};

// The caption counts down once a second on the countdown thread, which then closes the box as OK; a click ends the
// count without a second close, and so does an action that comes while the box closes (the countdown's or a click's).
TEST(MsgBox, ClosesOnce) {
  const struct {
    int style, countdown;
    POINT click;  // OK at (105, 182), Cancel at (195, 182)
    CKvButton CKvMsgBox::*race;
    int result;
    Texts captions, closes;
    bool on_countdown_thread;
  } rows[] = {{0, 3, {}, nullptr, 1, {L"确定(2)", L"确定(1)", L"确定(0)"}, {L"确定(0)"}, true},
              {1, 5, {195, 182}, &CKvMsgBox::m_btnOk, 2, {}, {L"确定"}, false},
              {1, 0, {105, 182}, &CKvMsgBox::m_btnCancel, 1, {}, {L"确定"}, false}};
  CKvDlg owner;  // disabled while a box runs over it
  ASSERT_TRUE(owner.Create(0, 0, 0, 100, 100, 0, false, nullptr));
  for (const auto& r : rows) {
    ProbeBox box;
    box.click = r.click, box.race = r.race;
    EXPECT_EQ(r.result, box.ShowBox(owner.m_hWnd, L"消息", L"标题", r.style, r.countdown, 300, 200, -1, -1));
    // The countdown thread's last steps send to this thread's window: it is pumped until that thread is over.
    EXPECT_TRUE(!r.countdown ||
                kvtest::PumpUntil([&] { return !::WaitForSingleObject(box.m_hCountdownThread, 0); }, 3000));
    EXPECT_EQ((std::array{r.captions, r.closes}), (std::array{box.captions, box.closes})) << r.countdown;
    EXPECT_EQ((std::array{r.on_countdown_thread, false, true}),
              (std::array{box.closed_on != ::GetCurrentThreadId(), box.owner_on, ::IsWindowEnabled(owner.m_hWnd) != 0}))
        << r.countdown;
  }
  kv::UniqueHandleKernel thread;
  {
    ProbeBox left;  // made but never run: nothing closes it, yet its thread ends with it
    left.m_nCountdown = 50;
    ASSERT_TRUE(left.Create(WS_POPUP, 0, 0, 300, 200, 0, false, nullptr));
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), left.m_hCountdownThread, ::GetCurrentProcess(), thread.put(),
                                  SYNCHRONIZE, 0, 0));
  }
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 5000));
}

DWORD WINAPI ShowOverGoneOwner(void* owner) {  // the result, plus 100 unless the box kept its own title
  CKvMsgBox box;
  const int result = box.ShowBox(static_cast<HWND>(owner), nullptr, nullptr, 0, 0, 300, 200, -1, -1);
  return result + (box.m_strTitle == L"提示信息" ? 0 : 100);
}

// A box whose window cannot be made (its owner is gone) is cancelled at once: no close could ever come.
TEST(MsgBox, NoWindowIsCancelledAtOnce) {
  HWND gone = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(gone && ::DestroyWindow(gone));
  kv::UniqueHandleKernel thread(::CreateThread(nullptr, 0, ShowOverGoneOwner, gone, 0, nullptr));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 10000)) << "ShowBox did not return";
  DWORD result = 0;
  EXPECT_TRUE(::GetExitCodeThread(thread.get(), &result) && result == 2) << result;
}

}  // namespace
