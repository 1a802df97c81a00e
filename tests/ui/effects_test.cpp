// The window animations on a real window, followed through the frame hook: every move and alpha reaches the window
// as the step gives it, and each animation ends where it should, shown or closed, after a bounded number of steps.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "ui/dialog.h"
#include "ui/effects.h"
#include "ui/ui_texts.h"

namespace {

using kv::ui::EffectStep;

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

// Start: h hidden, s shown, f hidden and frozen, c a shown child window. Left: visible, closed, frozen, layered, and
// where it ended: g at its place with its stored geometry, L wholly left of the screen, - elsewhere. Narrow windows
// flip a pixel a step: a flip that never ends runs out of memory for its steps.
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

}  // namespace
