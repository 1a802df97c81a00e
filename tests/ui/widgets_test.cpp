// The widgets and the skinned dialog on real (hidden) windows, messages sent as the message loop would hand them
// on, and the double buffer they paint through.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "app/app.h"
#include "gfx/image.h"
#include "gfx/skin.h"
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
void *g_down_context, *g_up_context;
COLORREF Rgb(uint32_t argb) { return RGB(argb >> 16 & 255, argb >> 8 & 255, argb & 255); }

// Counts the drags it is asked for instead of entering the system's move loop (no button is really held), and
// its creations.
struct ProbeDlg : CKvDlg {
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) override {
    return msg == WM_NCLBUTTONDOWN ? drags += w == HTCAPTION, 0 : CKvDlg::WndProc(wnd, msg, w, l);
  }
  void OnCreate() override { ++creates, CKvDlg::OnCreate(); }
  int drags = 0, creates = 0;
};

// A button at (255, 148) and a check box at (50, 140), as the dialogs place them, on a hidden 450 x 230 dialog.
// The helper program carries the check box's pictures, which the product does not.
class Widgets : public ::testing::Test {
 protected:
  void SetUp() override {
    static HMODULE pictures =
        ::LoadLibraryExW((kvtest::BinDir() + L"kvtesthelper.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(pictures && host_.Create(0, 0, 0, 450, 230, 0, false, nullptr));
    GetKvImage()->SetInst(pictures);
  }
  void Init(int frames, bool checked, const wchar_t* file = nullptr) {
    button_.m_nState = box_.m_nState = button_.m_nPicSource = box_.m_nPicSource = g_downs = g_ups = 0;
    button_.m_bPressed = box_.m_bPressed = false, box_.m_bEnabled = true;
    button_.Init(nullptr, 255, 148, 68, 29, 8, frames, host_.m_hWnd, file);
    box_.Init(L"不再提示", 50, 140, 200, 20, checked, 0, frames, host_.m_hWnd, file);
    button_.m_pfnDown = box_.m_pfnDown = [](void* c) { ++g_downs, g_down_context = c; };
    button_.m_pfnUp = box_.m_pfnUp = [](void* c) { ++g_ups, g_up_context = c; };
  }
  // M, D, U, R: move, press, release, right-release inside the widget; m, d, u outside; x: disable.
  bool Play(bool box, const char* events) {
    bool taken = false;
    for (const char* e = events; *e; ++e) {
      const int x = !std::isupper(*e) ? 10 : box ? 60 : 280, y = box ? 150 : 160;
      const int type = std::strchr("Mm", *e) ? 4 : std::strchr("Dd", *e) ? 0 : *e == 'R' ? 5 : 1;
      if (*e == 'x')
        button_.m_bEnabled = box_.m_bEnabled = false;
      else
        taken = (box ? static_cast<CKvBase&>(box_) : button_).OnMouse(x, y, type, nullptr);
    }
    return taken;
  }
  ProbeDlg host_;
  CKvButton button_;
  CKvCheckBox box_;
};

// b: a three-frame button, 4: a four-frame one, c: a check box, C: one made checked, k: one made checked and then
// unchecked, which keeps the state.
TEST_F(Widgets, StateMachines) {
  struct Row {
    char widget;
    const char* events;
    long state, checked, downs, ups, taken;
  };
  const Row rows[] = {{'b', "M", 1, 0, 0, 0, 1},    {'b', "MD", 2, 0, 1, 0, 1},     {'b', "DU", 1, 0, 1, 1, 1},
                      {'b', "DUU", 1, 0, 1, 1, 1},  {'b', "DUR", 1, 0, 1, 1, 1},    {'4', "DU", 3, 0, 1, 1, 1},
                      {'4', "DUM", 1, 0, 1, 1, 1},  {'b', "dU", 0, 0, 0, 0, 1},     {'b', "Dm", 0, 0, 1, 0, 0},
                      {'b', "DmU", 1, 0, 1, 1, 1},  {'b', "MxDU", 1, 0, 0, 0, 0},   {'b', "Mxm", 1, 0, 0, 0, 0},
                      {'c', "M", 1, 0, 0, 0, 1},    {'c', "MD", 1, 0, 1, 0, 1},     {'c', "MDU", 2, 1, 1, 1, 1},
                      {'c', "MDUm", 3, 1, 1, 1, 0}, {'c', "MDUmDU", 1, 0, 2, 2, 1}, {'c', "MDUmDUm", 0, 0, 2, 2, 0},
                      {'c', "MDmu", 0, 0, 1, 0, 0}, {'c', "U", 0, 0, 0, 0, 1},      {'c', "xMDU", 2, 1, 1, 1, 1},
                      {'C', "", 3, 1, 0, 0, 0},     {'C', "MM", 2, 1, 0, 0, 1},     {'C', "Mmm", 3, 1, 0, 0, 0},
                      {'k', "", 3, 0, 0, 0, 0}};
  for (const Row& r : rows) {
    Init(r.widget == '4' ? 4 : 3, std::strchr("Ck", r.widget));
    if (r.widget == 'k') box_.Init(L"", 50, 140, 200, 20, false, 0, 1, host_.m_hWnd, nullptr);
    const bool box = std::strchr("cCk", r.widget), taken = Play(box, r.events);
    EXPECT_EQ((Ints{r.state, r.checked, r.downs, r.ups, r.taken}),
              (Ints{box ? box_.m_nState : button_.m_nState, box_.m_bChecked, g_downs, g_ups, taken}))
        << r.widget << r.events;
  }
}

// Both edges count, shifted by the scroll offset; a widget touching the window's edge is in view.
TEST_F(Widgets, HitEdgesAndView) {
  const int hits[][6] = {{0, 255, 148, 0, 0, 1},  {0, 323, 177, 0, 0, 1},  {0, 324, 177, 0, 0, 0},
                         {0, 323, 178, 0, 0, 0},  {0, 254, 160, 0, 0, 0},  {0, 260, 147, 0, 0, 0},
                         {0, 245, 143, 10, 5, 1}, {0, 314, 143, 10, 5, 0}, {1, 50, 140, 0, 0, 1},
                         {1, 250, 160, 0, 0, 1},  {1, 251, 160, 0, 0, 0},  {1, 250, 161, 0, 0, 0},
                         {1, 49, 150, 0, 0, 0}};  // box?, x, y, offsets -> hit
  for (const auto& h : hits) {
    Init(3, false);
    CKvBase& w = h[0] ? static_cast<CKvBase&>(box_) : button_;
    w.m_nOffsetX = h[3], w.m_nOffsetY = h[4];
    EXPECT_EQ(h[5] != 0, w.OnMouse(h[1], h[2], kv::ui::kMouseMove, nullptr)) << h[1] << "," << h[2];
    w.m_nOffsetX = w.m_nOffsetY = 0;
  }
  const int views[][4] = {{-20, 0, 1, 1}, {-21, 0, 1, 0}, {450, 0, 1, 1}, {451, 0, 1, 0}, {0, -10, 1, 1},
                          {0, -11, 1, 0}, {0, 231, 1, 0}, {0, 0, 0, 0}};  // x, y of a 20 x 10 widget, visible
  for (const auto& v : views) {
    CKvText t;
    t.SetText({L"", v[0], v[1], 20, 10, false});
    t.m_hHostWnd = host_.m_hWnd, t.m_bVisible = v[2];
    EXPECT_EQ(v[3] != 0, t.IsInView()) << v[0] << "," << v[1];
  }
}

// A picture of three frames, red, green and blue, as the widget's own file or as the theme's "<name>_<state>.png";
// a missing file falls back to the resource. A state beyond the count (3) is drawn and kept as the last. Captions
// go over the picture.
TEST_F(Widgets, PictureSources) {
  const uint32_t rgb[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
  kvtest::Frame strip(90, 30);
  for (int i = 0; i < 3; ++i) {
    Gdiplus::SolidBrush brush{Gdiplus::Color(rgb[i])};
    Gdiplus::Graphics(strip.dc()).FillRectangle(&brush, 30 * i, 0, 30, 30);
  }
  wchar_t theme[MAX_PATH] = {};
  GetKvSkin()->SetThemesName(L"kvtest_ui_theme");
  GetKvSkin()->GetThemesPath(theme);
  const std::wstring own = kvtest::FreshDir(L"ui_pictures") + L"strip.png", dir = theme;
  for (const std::wstring& file : {own, dir + L"button_1.png", dir + L"checkbox_2.png"}) {
    kvtest::WriteText(file, "");
    ASSERT_TRUE(strip.SavePng(file));
  }
  const int rows[][5] = {{0, 'f', 0, 0, 0},  {0, 'f', 1, 1, 1},  {0, 'f', 5, 2, 2}, {0, 'n', 0, -1, 0},
                         {0, 't', 1, 1, 1},  {0, 't', 0, -1, 0}, {1, 'f', 0, 0, 0}, {1, 'f', 7, 2, 2},
                         {1, 'n', 1, -1, 1}, {1, 't', 2, 2, 2},  {1, 't', 1, -1, 1}};
  for (const auto& r : rows) {  // box?, f own file, n missing file, t theme; state -> colour (-1: the resource), kept
    const std::wstring file = r[1] == 'n' ? own + L".missing" : own;
    Init(3, false, r[1] == 't' ? nullptr : file.c_str());
    GetKvSkin()->SetResType(r[1] == 't');
    button_.m_nStateCount = box_.m_nStateCount = 3;
    button_.m_nState = box_.m_nState = r[2];
    kvtest::Frame f(68, 29);
    r[0] ? box_.DrawImage(f.dc(), 0, 0, 15, 15) : button_.Draw(f.dc(), 0, 0);
    const uint32_t centre = f.At(r[0] ? 7 : 34, r[0] ? 7 : 14);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(i == r[3], kvtest::Near(rgb[i], centre)) << r[0] << char(r[1]) << r[2];
    EXPECT_EQ((Ints{0xFF, r[4]}), (Ints{long(centre >> 24), r[0] ? box_.m_nState : button_.m_nState}));
  }
  GetKvSkin()->SetResType(0);
  kvtest::RemoveTree(theme);
  kvtest::Frame plain(68, 29), captioned(68, 29);
  button_.Draw(plain.dc(), 0, 0);
  button_.m_strCaption = L"卸 载";
  button_.Draw(captioned.dc(), 0, 0);
  EXPECT_NE(plain.Pixels(), captioned.Pixels()) << "the caption is drawn over the picture";
}

// Every change of the check box's state reaches the dialog's frame, which single refreshes of others start from.
TEST_F(Widgets, CheckBoxKeepsTheFrame) {
  host_.m_vecChildren = {&box_};
  host_.SyncChildren();
  Init(1, false);
  auto framed = [&] {
    Ints px;
    for (int y = 142; y < 157; ++y)
      for (int x = 50; x < 65; ++x) px.push_back(::GetPixel(host_.m_dcFrame.m_hMemDC, x, y));
    return px;
  };
  for (const char* step : {"M", "DU", "m"}) {
    const Ints before = framed();
    Play(true, step);
    EXPECT_NE(before, framed()) << step;
  }
}

// The button (OK) and another beside it as the dialog's children.
class Dialog : public Widgets {
 protected:
  void SetUp() override {
    Widgets::SetUp();
    Init(3, false);
    host_.m_vecChildren = {&ok_, &other_};
    host_.SyncChildren();
  }
  void Send(UINT msg, int x, int y) { ::SendMessageW(host_.m_hWnd, msg, 0, MAKELPARAM(x, y)); }
  CKvButton& ok_ = button_;
  CKvButton other_{L"取 消", 325};
};

// In order. Before each message: c gives OK a context of its own (kept), i turns its input off, h hides it, f
// freezes the dialog. Every child hears every move, which is how the others leave hover; presses carry the dialog,
// releases the child's own context where it has one.
TEST_F(Dialog, MouseRouting) {
  int mine = 0;
  struct Row {
    char change;
    UINT msg;
    long x, y, ok, other, downs, ups;
    void* up;
  };
  const Row rows[] = {
      {'-', WM_MOUSEMOVE, 280, 160, 1, 0, 0, 0, nullptr}, {'-', WM_LBUTTONDOWN, 280, 160, 2, 0, 1, 0, nullptr},
      {'-', WM_LBUTTONUP, 280, 160, 1, 0, 1, 1, &host_},  {'c', WM_LBUTTONDOWN, 260, 150, 2, 0, 2, 1, &host_},
      {'-', WM_LBUTTONUP, 260, 150, 1, 0, 2, 2, &mine},   {'-', WM_MOUSEMOVE, 330, 160, 0, 1, 2, 2, &mine},
      {'-', WM_MOUSELEAVE, 0, 0, 0, 0, 2, 2, &mine},      {'i', WM_LBUTTONDOWN, 280, 160, 0, 0, 2, 2, &mine},
      {'h', WM_LBUTTONDOWN, 280, 160, 0, 0, 2, 2, &mine}, {'f', WM_MOUSEMOVE, 280, 160, 0, 0, 2, 2, &mine}};
  g_downs = g_ups = 0, g_down_context = g_up_context = nullptr;
  for (const Row& r : rows) {
    if (r.change == 'c') ok_.m_pContext = &mine;
    ok_.m_bInputOff = r.change == 'i', ok_.m_bVisible = r.change != 'h', host_.m_bFrozen = r.change == 'f';
    Send(r.msg, r.x, r.y);
    EXPECT_EQ((Ints{r.ok, r.other, r.downs, r.ups}), (Ints{ok_.m_nState, other_.m_nState, g_downs, g_ups})) << r.msg;
    EXPECT_TRUE(r.up == g_up_context && g_down_context == (g_downs ? &host_ : nullptr)) << r.msg;
  }
  EXPECT_EQ(0, host_.drags);
}

// A press drags the window in the caption band (30 high), or anywhere when so set, unless it lies on a child that
// does not let drags through. Keys go to edit widgets alone (the type name compared exactly), and not while frozen.
TEST_F(Dialog, DragsAndKeys) {
  const int rows[][6] = {
      {0, 1, 0, 100, 29, 1},  {0, 1, 0, 100, 30, 0},  {0, 0, 0, 100, 10, 0}, {1, 1, 0, 100, 200, 1},
      {1, 1, 0, 323, 170, 0}, {1, 1, 1, 300, 170, 1}, {1, 1, 0, 324, 170, 1}};  // anywhere, draggable, through; x, y
  for (const auto& r : rows) {
    host_.m_bDragAnywhere = r[0], host_.m_bDraggable = r[1], ok_.m_bDragThrough = r[2];
    const int before = host_.drags;
    Send(WM_LBUTTONDOWN, r[3], r[4]);
    EXPECT_EQ(r[5], host_.drags - before) << r[3] << "," << r[4];
  }
  struct Keys : KeyboardHandler {
    void OnKeyDown(WPARAM w, LPARAM) override { got.push_back(w); }
    void OnChar(WPARAM w, LPARAM) override { got.push_back(-long(w)); }
    Ints got;
  } edit, other;
  ok_.m_strTypeName = kv::ui::kEditTypeName, ok_.m_pKeyboard = &edit;
  other_.m_strTypeName = L"ckveditex", other_.m_pKeyboard = &other;
  for (UINT msg : {WM_KEYDOWN, WM_CHAR, WM_IME_CHAR}) ::SendMessageW(host_.m_hWnd, msg, 'A', 0);
  host_.m_bFrozen = true;
  ::SendMessageW(host_.m_hWnd, WM_CHAR, 'A', 0);
  EXPECT_EQ((Ints{'A', -'A', -'A'}), edit.got);
  EXPECT_TRUE(other.got.empty());
}

// 450 x 230: bottom corners first, then left, right, top, bottom; no top corners. A border being dragged keeps
// itself wherever the mouse goes; without capture the edge is only reported. Below the minimum width (50) the drag
// to the cursor is cancelled.
TEST_F(Dialog, Resize) {
  EXPECT_FALSE(host_.ResizeHitTest(2, 100, true)) << "not resizable";
  host_.m_bResizable = true;
  const int rows[][4] = {
      {7, 223, -1, 4},    {443, 223, -1, 5}, {4, 10, -1, 0},    {2, 2, -1, 0},   {447, 2, -1, 2},
      {100, 4, -1, 1},    {100, 226, -1, 3}, {8, 226, -1, 3},   {4, 222, -1, 0}, {442, 226, -1, 3},
      {100, 100, -1, -1}, {8, 222, -1, -1},  {-1, 100, -1, -1}, {-50, 100, 2, 2}};  // x, y, edge dragged -> edge
  for (const auto& r : rows)
    for (bool capture : {false, true}) {
      host_.m_nResizeEdge = r[2];
      EXPECT_EQ(r[3] != -1, host_.ResizeHitTest(r[0], r[1], capture)) << r[0] << "," << r[1];
      EXPECT_EQ(capture ? r[3] : r[2], host_.m_nResizeEdge) << r[0] << "," << r[1];
      ::ReleaseCapture();
    }
  ::SetWindowPos(host_.m_hWnd, nullptr, 100, 100, 450, 230, SWP_NOZORDER);
  for (const auto& r : {Ints{149, 0, 450}, {400, 1, 300}}) {  // cursor x, applied -> width
    POINT at = {};
    host_.m_nResizeEdge = -1;
    ASSERT_TRUE(host_.ResizeHitTest(448, 100, true));
    if (!::SetCursorPos(r[0], 150) || !::GetCursorPos(&at) || at.x != r[0])
      GTEST_SKIP() << "the cursor cannot be placed here";
    EXPECT_EQ(r[1] != 0, host_.ApplyResize(true));
    RECT now = {};
    ::GetWindowRect(host_.m_hWnd, &now);
    EXPECT_EQ((Ints{-1, r[2], 100, 0}),
              (Ints{host_.m_nResizeEdge, now.right - now.left, now.left, ::GetCapture() != nullptr}));
  }
  EXPECT_EQ(300, host_.m_nWidth);
}

// The corners: two pixels off each end of the first and last rows, one off the second and second-last. Creating
// again leaves one window and one class, runs OnCreate once, and hands the children the new window and buffers.
TEST_F(Dialog, CornersAndCreateAgain) {
  kv::UniqueRegion rgn(::CreateRectRgn(0, 0, 0, 0));
  ASSERT_NE(ERROR, ::GetWindowRgn(host_.m_hWnd, rgn.get()));
  auto in = [&](int x, int y) -> long { return ::PtInRegion(rgn.get(), x, y); };
  for (auto [y, off] : {std::pair{0, 2}, {1, 1}, {2, 0}, {100, 0}, {227, 0}, {228, 1}, {229, 2}})
    EXPECT_EQ((Ints{off == 0, 1, 1, 0}),
              (Ints{in(std::max(off - 1, 0), y), in(off, y), in(449 - off, y), in(450 - off, y)}))
        << y;
  const HWND first = host_.m_hWnd;
  const std::wstring first_class = host_.m_strClassName;
  const DWORD tick = ::GetTickCount();  // class names carry the tick: let it move on
  ASSERT_TRUE(kvtest::PollUntil([&] { return ::GetTickCount() != tick; }, 1000));
  ASSERT_TRUE(host_.Create(0, 10, 20, 300, 200, 0, false, nullptr));
  WNDCLASSW wc = {};
  EXPECT_FALSE(::IsWindow(first) || ::GetClassInfoW(GetKvApp()->m_hInstance, first_class.c_str(), &wc));
  EXPECT_TRUE(::GetClassInfoW(GetKvApp()->m_hInstance, host_.m_strClassName.c_str(), &wc) && host_.creates == 1);
  for (CKvBase* c : host_.m_vecChildren)
    EXPECT_TRUE(c->m_hHostWnd == host_.m_hWnd && c->m_hBkDC == host_.m_dcBk.m_hMemDC &&
                c->m_hFrameDC == host_.m_dcFrame.m_hMemDC);
}

// A paint composes background and children into the target and the dialog's frame; frozen, it draws the background
// alone and leaves the frame as it was. Layered dialogs alike.
TEST_F(Dialog, PaintAndFrame) {
  for (const auto& [layered, frozen] : {std::pair{0, 0}, {0, 1}, {1, 0}, {1, 1}}) {
    ProbeDlg dlg;
    dlg.m_vecChildren = {&ok_};
    ASSERT_TRUE(dlg.Create(0, 0, 0, 450, 230, 0, layered, nullptr));
    kvtest::Frame background(450, 230), target(450, 230);
    dlg.DrawBackground(background.dc(), RECT{0, 0, 450, 230});
    auto framed = [&](int x, int y) { return ::GetPixel(dlg.m_dcFrame.m_hMemDC, x, y); };
    const COLORREF before = framed(280, 150), button = Rgb(background.At(280, 150)),
                   elsewhere = Rgb(background.At(100, 100));
    dlg.m_bFrozen = frozen;
    dlg.Paint(target.dc());
    EXPECT_TRUE(frozen ? framed(280, 150) == before : framed(280, 150) != button && framed(100, 100) == elsewhere);
    EXPECT_TRUE(layered || ((Rgb(target.At(280, 150)) == button) == frozen && Rgb(target.At(100, 100)) == elsewhere));
  }
}

// The result is 2 unless set; the parent is disabled while the dialog runs. No show while an animation runs.
TEST_F(Dialog, DoModal) {
  host_.m_bEffectRunning = true;
  host_.ShowDlg(-1, false, SW_SHOW);
  EXPECT_FALSE(::IsWindowVisible(host_.m_hWnd));
  static bool parent_enabled;
  ProbeDlg modal;
  CKvButton button(L"", 0);
  button.m_pfnUp = [](void* c) {
    parent_enabled = ::IsWindowEnabled(static_cast<CKvDlg*>(c)->m_hHostWnd);
    static_cast<CKvDlg*>(c)->Close();
  };
  modal.m_vecChildren = {&button};
  ASSERT_TRUE(modal.Create(WS_POPUP, 0, 0, 200, 200, 0, false, nullptr));
  modal.m_hHostWnd = host_.m_hWnd;
  for (UINT msg : {WM_LBUTTONDOWN, WM_LBUTTONUP}) ::PostMessageW(modal.m_hWnd, msg, 0, MAKELPARAM(10, 160));
  EXPECT_EQ(2, modal.DoModal(-1, true, false));
  EXPECT_TRUE(!parent_enabled && ::IsWindowEnabled(host_.m_hWnd) && !::IsWindowVisible(modal.m_hWnd));
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
    BITMAP gone;  // with the buffer
    const long left = ::GetObjectW(bitmap, sizeof(gone), &gone);
    EXPECT_EQ((Ints{r[6], r[6], 0}), (Ints{orange(r[0], r[1], r[2], r[3]), orange(0, 0, 160, 100), left}));
  }
}

}  // namespace
