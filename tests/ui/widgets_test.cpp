// The widgets on a hidden host dialog: state machines, hit edges, where pictures come from, and
// the check box's share of the dialog's frame.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "gfx/skin.h"
#include "tests/ui/ui_test.h"
#include "ui/button.h"
#include "ui/checkbox.h"
#include "ui/text.h"

namespace {

int g_downs, g_ups;

class Widgets : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(uitest::UseHelperPictures());
    ASSERT_TRUE(host_.Create(0, 0, 0, 450, 230, 0, false, nullptr));
  }
  // A button at (255, 148) and a check box at (50, 140), as the dialogs place them.
  void Init(int frames, bool checked, const wchar_t* file = nullptr) {
    button_.m_nState = box_.m_nState = button_.m_nPicSource = box_.m_nPicSource = g_downs = g_ups = 0;
    button_.m_bPressed = box_.m_bPressed = false, box_.m_bEnabled = true;
    button_.Init(nullptr, 255, 148, 68, 29, 8, frames, host_.m_hWnd, file);
    box_.Init(L"不再提示", 50, 140, 200, 20, checked, 0, frames, host_.m_hWnd, file);
    button_.m_pfnDown = box_.m_pfnDown = [](void*) { ++g_downs; };
    button_.m_pfnUp = box_.m_pfnUp = [](void*) { ++g_ups; };
  }
  // M, D, U, R: move, press, release, right-release inside; m, d, u outside; x: disable.
  bool Play(bool box, const char* events) {
    bool taken = false;
    CKvBase& widget = box ? static_cast<CKvBase&>(box_) : button_;
    for (const char* e = events; *e; ++e) {
      const int x = !std::isupper(*e) ? 10 : box ? 60 : 280, y = box ? 150 : 160;
      const int type = std::strchr("Mm", *e) ? 4 : std::strchr("Dd", *e) ? 0 : *e == 'R' ? 5 : 1;
      if (*e == 'x') button_.m_bEnabled = box_.m_bEnabled = false;
      else taken = widget.OnMouse(x, y, type, nullptr);
    }
    return taken;
  }
  uitest::ProbeDlg host_;
  CKvButton button_;
  CKvCheckBox box_;
};

// b: a three-frame button, 4: a four-frame one, c: a check box, C: one made checked, k: one made
// checked and then unchecked, which keeps the state.
TEST_F(Widgets, StateMachines) {
  struct Row { char widget; const char* events; int state, checked, downs, ups, taken; };
  const Row rows[] = {
      {'b', "M", 1, 0, 0, 0, 1},    {'b', "MD", 2, 0, 1, 0, 1},    {'b', "DU", 1, 0, 1, 1, 1},
      {'b', "DUU", 1, 0, 1, 1, 1},  {'b', "DUR", 1, 0, 1, 1, 1},   {'4', "DU", 3, 0, 1, 1, 1},
      {'4', "DUM", 1, 0, 1, 1, 1},  {'b', "dU", 0, 0, 0, 0, 1},    {'b', "Dm", 0, 0, 1, 0, 0},
      {'b', "DmU", 1, 0, 1, 1, 1},  {'b', "MxDU", 1, 0, 0, 0, 0},  {'b', "Mxm", 1, 0, 0, 0, 0},
      {'c', "M", 1, 0, 0, 0, 1},    {'c', "MD", 1, 0, 1, 0, 1},    {'c', "MDU", 2, 1, 1, 1, 1},
      {'c', "MDUm", 3, 1, 1, 1, 0}, {'c', "MDUmDU", 1, 0, 2, 2, 1}, {'c', "MDUmDUm", 0, 0, 2, 2, 0},
      {'c', "MDmu", 0, 0, 1, 0, 0}, {'c', "U", 0, 0, 0, 0, 1},     {'c', "xMDU", 2, 1, 1, 1, 1},
      {'C', "", 3, 1, 0, 0, 0},     {'C', "MM", 2, 1, 0, 0, 1},    {'C', "Mmm", 3, 1, 0, 0, 0},
      {'k', "", 3, 0, 0, 0, 0}};
  for (const Row& r : rows) {
    Init(r.widget == '4' ? 4 : 3, std::strchr("Ck", r.widget));
    if (r.widget == 'k') box_.Init(L"", 50, 140, 200, 20, false, 0, 1, host_.m_hWnd, nullptr);
    const bool box = std::strchr("cCk", r.widget), taken = Play(box, r.events);
    EXPECT_EQ((std::vector<int>{r.state, r.checked, r.downs, r.ups, r.taken}),
              (std::vector<int>{box ? box_.m_nState : button_.m_nState, box_.m_bChecked, g_downs,
                                g_ups, taken})) << r.widget << " " << r.events;
  }
}

// Both edges count, shifted by the scroll offset; a widget touching the window's edge is in view.
TEST_F(Widgets, HitEdgesAndView) {
  const int hits[][6] = {{0, 255, 148, 0, 0, 1}, {0, 323, 177, 0, 0, 1}, {0, 324, 177, 0, 0, 0},
                         {0, 323, 178, 0, 0, 0}, {0, 254, 160, 0, 0, 0}, {0, 260, 147, 0, 0, 0},
                         {0, 245, 143, 10, 5, 1}, {0, 314, 143, 10, 5, 0}, {1, 50, 140, 0, 0, 1},
                         {1, 250, 160, 0, 0, 1}, {1, 251, 160, 0, 0, 0}, {1, 250, 161, 0, 0, 0},
                         {1, 49, 150, 0, 0, 0}};  // box?, x, y, offsets, hit
  for (const auto& h : hits) {
    Init(3, false);
    CKvBase& w = h[0] ? static_cast<CKvBase&>(box_) : button_;
    w.m_nOffsetX = h[3], w.m_nOffsetY = h[4];
    EXPECT_EQ(h[5] != 0, w.OnMouse(h[1], h[2], kv::ui::kMouseMove, nullptr)) << h[1] << "," << h[2];
    w.m_nOffsetX = w.m_nOffsetY = 0;
  }
  const int views[][4] = {{-20, 0, 1, 1}, {-21, 0, 1, 0}, {450, 0, 1, 1}, {451, 0, 1, 0},
                          {0, -10, 1, 1}, {0, -11, 1, 0}, {0, 231, 1, 0}, {0, 0, 0, 0}};
  for (const auto& v : views) {  // x, y of a 20 x 10 widget, visible -> in view
    CKvText t;
    t.SetText({L"", v[0], v[1], 20, 10, false});
    t.m_hHostWnd = host_.m_hWnd, t.m_bVisible = v[2];
    EXPECT_EQ(v[3] != 0, t.IsInView()) << v[0] << "," << v[1];
  }
}

// A picture of three frames, red, green and blue, as the widget's own file or as the theme's
// "<name>_<state>.png"; a missing file falls back to the resource. A state beyond the count (3)
// is drawn and kept as the last.
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
  const int rows[][5] = {{0, 'f', 0, 0, 0}, {0, 'f', 1, 1, 1}, {0, 'f', 5, 2, 2}, {0, 'n', 0, -1, 0},
                         {0, 't', 1, 1, 1}, {0, 't', 0, -1, 0}, {1, 'f', 0, 0, 0}, {1, 'f', 7, 2, 2},
                         {1, 'n', 1, -1, 1}, {1, 't', 2, 2, 2}, {1, 't', 1, -1, 1}};
  for (const auto& r : rows) {  // box?, f own file, n missing file, t theme; state -> colour, kept
    const std::wstring file = r[1] == 'n' ? own + L".missing" : own;
    Init(3, false, r[1] == 't' ? nullptr : file.c_str());
    GetKvSkin()->SetResType(r[1] == 't');
    button_.m_nStateCount = box_.m_nStateCount = 3;
    button_.m_nState = box_.m_nState = r[2];
    kvtest::Frame f(68, 29);
    r[0] ? box_.DrawImage(f.dc(), 0, 0, 15, 15) : button_.Draw(f.dc(), 0, 0);
    const uint32_t centre = f.At(r[0] ? 7 : 34, r[0] ? 7 : 14);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(i == r[3], kvtest::Near(rgb[i], centre)) << r[0] << char(r[1]) << r[2];
    EXPECT_EQ(0xFFu, centre >> 24);
    EXPECT_EQ(r[4], r[0] ? box_.m_nState : button_.m_nState);
  }
  GetKvSkin()->SetResType(0);
  kvtest::RemoveTree(theme);
}

// Every change of the check box's state reaches the dialog's frame, which later single refreshes
// start from.
TEST_F(Widgets, CheckBoxKeepsTheFrame) {
  host_.m_vecChildren = {&box_};
  host_.SyncChildren();
  Init(1, false);
  auto framed = [&] {
    std::vector<COLORREF> px;
    for (int y = 142; y < 157; ++y)
      for (int x = 50; x < 65; ++x) px.push_back(::GetPixel(host_.m_dcFrame.m_hMemDC, x, y));
    return px;
  };
  for (const char* step : {"M", "DU", "m"}) {
    const auto before = framed();
    Play(true, step);
    EXPECT_NE(before, framed()) << step;
  }
}

}  // namespace
