// The window animations: first the step lists themselves, number by number, then the same
// animations on real windows, watched through the window's own position messages.
#include "ui/effects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "tests/ui/ui_fixtures.h"
#include "ui/dialog.h"
#include "ui/ui_texts.h"

namespace {

using kv::ui::EffectGeometry;
using kv::ui::EffectStep;
using kv::ui::EffectSteps;

EffectGeometry Geo(int x, int y, int w, int h) {
  EffectGeometry g;
  g.x = x;
  g.y = y;
  g.w = w;
  g.h = h;
  return g;
}

std::vector<EffectStep> Only(const std::vector<EffectStep>& steps, EffectStep::Kind kind) {
  std::vector<EffectStep> out;
  std::copy_if(steps.begin(), steps.end(), std::back_inserter(out),
               [&](const EffectStep& s) { return s.kind == kind; });
  return out;
}

template <typename F>
std::vector<int> Field(const std::vector<EffectStep>& steps, F f) {
  std::vector<int> out;
  for (const EffectStep& s : steps) out.push_back(f(s));
  return out;
}

int TotalSleep(const std::vector<EffectStep>& steps) {
  int total = 0;
  for (const EffectStep& s : Only(steps, EffectStep::kSleep)) total += s.value;
  return total;
}

bool Has(const std::vector<EffectStep>& steps, EffectStep::Kind kind) {
  return !Only(steps, kind).empty();
}

TEST(EffectSteps, SlideInOnTheMainWindow) {
  const auto steps = EffectSteps(0, Geo(735, 425, 450, 230));
  const auto moves = Only(steps, EffectStep::kMove);
  EXPECT_EQ((std::vector<int>{-55, 340, 735, 730, 725, 730, 735, 735}),
            Field(moves, [](const EffectStep& s) { return s.x; }));
  for (const EffectStep& m : moves) {
    EXPECT_EQ(425, m.y);
    EXPECT_EQ(450, m.w);
    EXPECT_EQ(230, m.h);
  }
  EXPECT_EQ((std::vector<int>{50, 50, 50, 20, 20, 20, 20}),
            Field(Only(steps, EffectStep::kSleep), [](const EffectStep& s) { return s.value; }));
  EXPECT_EQ(EffectStep::kRedraw, steps.back().kind);
  EXPECT_FALSE(Has(steps, EffectStep::kClose));
}

TEST(EffectSteps, DropDownAndRollUp) {
  const auto drop = EffectSteps(1, Geo(10, 20, 450, 230));
  EXPECT_EQ((std::vector<int>{46, 92, 138, 184, 230, 230}),
            Field(Only(drop, EffectStep::kMove), [](const EffectStep& s) { return s.h; }));
  const auto roll = EffectSteps(2, Geo(10, 20, 450, 230));
  EXPECT_EQ((std::vector<int>{184, 138, 92, 46, 0}),
            Field(Only(roll, EffectStep::kMove), [](const EffectStep& s) { return s.h; }));
  EXPECT_EQ(EffectStep::kClose, roll.back().kind);
}

TEST(EffectSteps, SlideOutStaysShown) {
  const auto steps = EffectSteps(3, Geo(735, 425, 450, 230));
  EXPECT_EQ((std::vector<int>{498, 261, 24, -213, -450}),
            Field(Only(steps, EffectStep::kMove), [](const EffectStep& s) { return s.x; }));
  EXPECT_EQ(250, TotalSleep(steps));
  EXPECT_FALSE(Has(steps, EffectStep::kClose));
}

TEST(EffectSteps, OpenFromCentreLine) {
  const auto steps = EffectSteps(4, Geo(100, 100, 450, 230));
  EXPECT_EQ(EffectStep::kMoveHidden, steps[0].kind);
  EXPECT_EQ(EffectStep::kFreeze, steps[1].kind);
  EXPECT_EQ(0, steps[1].value);
  const auto frames = Only(steps, EffectStep::kFramePlain);
  ASSERT_EQ(10u, frames.size());
  // step 23, half 11: the window opens around its middle while the frame shows the middle band.
  const auto moves = Only(steps, EffectStep::kMove);
  EXPECT_EQ(100 + 104, moves[0].y);
  EXPECT_EQ(23, moves[0].h);
  EXPECT_EQ(103, frames[0].src.top);
  EXPECT_EQ(126, frames[0].src.bottom);
  EXPECT_EQ(230, frames[9].h);
  EXPECT_EQ(0, frames[9].src.top);
  EXPECT_EQ(100, moves.back().y);
  EXPECT_EQ(230, moves.back().h);
}

TEST(EffectSteps, CloseToCentreLine) {
  const auto steps = EffectSteps(5, Geo(100, 100, 450, 230));
  const auto moves = Only(steps, EffectStep::kMove);
  ASSERT_EQ(10u, moves.size());
  EXPECT_EQ(111, moves[0].y);
  EXPECT_EQ(207, moves[0].h);
  EXPECT_EQ(215, moves.back().y);
  EXPECT_EQ(1, moves.back().h);
  EXPECT_EQ(1, steps.front().value) << "freezes first";
  EXPECT_EQ(EffectStep::kClose, steps.back().kind);
}

TEST(EffectSteps, FadeInAndOut) {
  const auto in = EffectSteps(6, Geo(0, 0, 100, 100));
  EXPECT_EQ((std::vector<int>{0, 79, 98, 117, 136, 155, 174, 193, 212, 231, 250}),
            Field(Only(in, EffectStep::kAlpha), [](const EffectStep& s) { return s.value; }));
  const auto out = EffectSteps(7, Geo(0, 0, 100, 100));
  const auto alphas =
      Field(Only(out, EffectStep::kAlpha), [](const EffectStep& s) { return s.value; });
  ASSERT_EQ(20u, alphas.size());
  EXPECT_EQ(243, alphas.front());
  EXPECT_EQ(15, alphas.back());
  EXPECT_FALSE(Has(out, EffectStep::kClose));
  EXPECT_FALSE(Has(out, EffectStep::kMove));
  EXPECT_EQ(600, TotalSleep(out));
}

TEST(EffectSteps, ZoomInOvershootsAndSettles) {
  const auto steps = EffectSteps(8, Geo(100, 100, 300, 200));
  EXPECT_EQ((std::vector<int>{50, 100, 150, 183, 216, 249}),
            Field(Only(steps, EffectStep::kAlpha), [](const EffectStep& s) { return s.value; }));
  const auto moves = Only(steps, EffectStep::kMove);
  ASSERT_EQ(7u, moves.size());
  // Growing from the centre (250, 200) in thirds of 100 x 66.
  EXPECT_EQ(200, moves[0].x);
  EXPECT_EQ(167, moves[0].y);
  EXPECT_EQ(100, moves[0].w);
  EXPECT_EQ(66, moves[0].h);
  EXPECT_EQ(300, moves[2].w);
  // k = 6: overshoot to 360 x 236 at (70, 82), then back in steps of 20 x 12.
  EXPECT_EQ(70, moves[3].x);
  EXPECT_EQ(82, moves[3].y);
  EXPECT_EQ(360, moves[3].w);
  EXPECT_EQ(236, moves[3].h);
  EXPECT_EQ(100, moves[6].x);
  EXPECT_EQ(100, moves[6].y);
  EXPECT_EQ(300, moves[6].w);
  EXPECT_EQ(200, moves[6].h);
  const auto stored = Only(steps, EffectStep::kStoreGeometry);
  EXPECT_EQ(300, stored.back().w);
  EXPECT_EQ(200, stored.back().h);
  EXPECT_EQ(0, Only(steps, EffectStep::kFreeze).back().value);
}

TEST(EffectSteps, ZoomOutOnAMessageBox) {
  EffectGeometry g = Geo(100, 100, 300, 200);
  g.roundCorners = true;
  const auto steps = EffectSteps(9, g);
  EXPECT_EQ((std::vector<int>{217, 184, 151, 100, 50, 0}),
            Field(Only(steps, EffectStep::kAlpha), [](const EffectStep& s) { return s.value; }));
  const auto moves = Only(steps, EffectStep::kMove);
  ASSERT_EQ(6u, moves.size());
  EXPECT_EQ(360, moves[2].w);
  EXPECT_EQ(236, moves[2].h);
  EXPECT_EQ(70, moves[2].x);
  EXPECT_EQ(82, moves[2].y);
  // Then towards the centre: a = 120, b = 78.
  EXPECT_EQ((std::vector<int>{240, 120, 0}),
            Field(std::vector<EffectStep>(moves.begin() + 3, moves.end()),
                  [](const EffectStep& s) { return s.w; }));
  EXPECT_EQ(130, moves[3].x);
  EXPECT_EQ(121, moves[3].y);
  EXPECT_EQ(190, moves[4].x);
  EXPECT_EQ(250, moves[5].x);
  EXPECT_EQ(199, moves[5].y);
  const auto stored = Only(steps, EffectStep::kStoreGeometry);
  EXPECT_EQ(250, stored.back().x);
  EXPECT_EQ(360, stored.back().w) << "the enlarged size stays stored";
  EXPECT_EQ(3u, Only(steps, EffectStep::kCorners).size());
  EXPECT_FALSE(Has(EffectSteps(9, Geo(100, 100, 300, 200)), EffectStep::kCorners));
}

TEST(EffectSteps, FlipsMapTheCapturedPicture) {
  const auto in = EffectSteps(10, Geo(0, 0, 450, 230));
  EXPECT_EQ(EffectStep::kCapture, in.front().kind);
  const auto frames = Only(in, EffectStep::kFrame3D);
  ASSERT_EQ(11u, frames.size());
  EXPECT_EQ(0, frames[0].points[0].x);
  EXPECT_EQ(450, frames[0].points[1].x);
  EXPECT_EQ(230, frames[0].points[2].y);
  EXPECT_EQ(225, frames[5].points[0].x);
  EXPECT_EQ(225, frames[5].points[1].x);
  EXPECT_EQ(450, frames[10].points[0].x);
  EXPECT_EQ(0, frames[10].points[1].x) << "past the middle the picture is mirrored";
  EXPECT_TRUE(Has(in, EffectStep::kDropLayered));
  EffectGeometry layered = Geo(0, 0, 450, 230);
  layered.layered = true;
  EXPECT_FALSE(Has(EffectSteps(10, layered), EffectStep::kDropLayered));

  const auto away = Only(EffectSteps(11, Geo(0, 0, 450, 230)), EffectStep::kFrame3D);
  ASSERT_EQ(6u, away.size());
  EXPECT_EQ(15, away[0].points[0].y) << "u = -r: e = 15";
  EXPECT_EQ(15, away[0].points[1].y);
  EXPECT_EQ(245, away[0].points[2].y);
  EXPECT_EQ(0, away[5].points[0].y) << "u = 0: e = 0";
  EXPECT_EQ(30, away[5].points[1].y);
  EXPECT_FALSE(Has(EffectSteps(11, Geo(0, 0, 450, 230)), EffectStep::kClose));
  EffectGeometry child = Geo(0, 0, 450, 230);
  child.childWindow = true;
  EXPECT_EQ(EffectStep::kClose, EffectSteps(11, child).back().kind);
}

TEST(EffectSteps, NarrowFlipStillEnds) {
  EXPECT_EQ(6u, Only(EffectSteps(10, Geo(0, 0, 5, 50)), EffectStep::kFrame3D).size());
  EXPECT_EQ(3u, Only(EffectSteps(11, Geo(0, 0, 5, 50)), EffectStep::kFrame3D).size());
}

TEST(EffectSteps, WipeInAndOut) {
  const auto in = EffectSteps(12, Geo(0, 0, 450, 230));
  EXPECT_EQ((std::vector<int>{45, 90, 135, 180, 225, 270, 315, 360, 405, 450, 450}),
            Field(Only(in, EffectStep::kMove), [](const EffectStep& s) { return s.w; }));
  const auto out = EffectSteps(13, Geo(0, 0, 450, 230));
  EXPECT_EQ(405, Only(out, EffectStep::kMove).front().w);
  EXPECT_EQ(0, Only(out, EffectStep::kMove).back().w);
  EXPECT_EQ(10u, Only(out, EffectStep::kRedraw).size());
  EXPECT_EQ(EffectStep::kClose, out.back().kind);
}

TEST(EffectSteps, UnknownNumbersHaveNoSteps) {
  EXPECT_TRUE(EffectSteps(14, Geo(0, 0, 450, 230)).empty());
  EXPECT_TRUE(EffectSteps(-1, Geo(0, 0, 450, 230)).empty());
}

// ---- On real windows ----

class WatchedDlg : public CKvDlg {
 public:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (wnd == m_hWnd) {
      if (msg == WM_WINDOWPOSCHANGED) {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!(pos->flags & SWP_NOMOVE)) xs.push_back(pos->x);
      }
      if (msg == kv::ui::WM_KV_EFFECTDONE) ++done;
    }
    return CKvDlg::WndProc(wnd, msg, wParam, lParam);
  }
  std::vector<int> xs;
  std::atomic<int> done{0};
};

class EffectWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dlg_.Create(0, 735, 300, 450, 230, 0, false, nullptr));
    kvtest::Pump(20);
    dlg_.xs.clear();
  }
  RECT Rect() {
    RECT r = {};
    ::GetWindowRect(dlg_.m_hWnd, &r);
    return r;
  }
  WatchedDlg dlg_;
};

TEST_F(EffectWindowTest, SlideInMovesTheRealWindow) {
  dlg_.PlayEffect(0);
  kvtest::Pump(50);
  EXPECT_EQ((std::vector<int>{-55, 340, 735, 730, 725, 730, 735}),
            std::vector<int>(dlg_.xs.begin(), dlg_.xs.begin() + std::min<size_t>(7, dlg_.xs.size())));
  const RECT r = Rect();
  EXPECT_EQ(735, r.left);
  EXPECT_EQ(300, r.top);
  EXPECT_EQ(450, r.right - r.left);
  EXPECT_TRUE(::IsWindowVisible(dlg_.m_hWnd));
  EXPECT_EQ(1, dlg_.done);
  EXPECT_FALSE(dlg_.m_bEffectRunning);
}

TEST_F(EffectWindowTest, ShowDlgAnimatesOnAWorkerAndEndsCentred) {
  dlg_.ShowDlg(0, true, SW_SHOW);
  ASSERT_TRUE(kvtest::PumpUntil([&] { return dlg_.done == 1; }, 10000));
  const int cx = (::GetSystemMetrics(SM_CXSCREEN) - 450) / 2;
  // First the centring move, then the slide.
  const int step = (cx + 450) / 3;
  const int p = -450 + 3 * step;
  const std::vector<int> expected = {cx, -450 + step, -450 + 2 * step, p, p - 5, p - 10, p - 5, p};
  ASSERT_GE(dlg_.xs.size(), expected.size());
  EXPECT_EQ(expected, std::vector<int>(dlg_.xs.begin(), dlg_.xs.begin() + expected.size()));
  EXPECT_EQ(cx, Rect().left);
  EXPECT_TRUE(::IsWindowVisible(dlg_.m_hWnd));
}

TEST_F(EffectWindowTest, FadeOutLeavesAlpha15) {
  ::ShowWindow(dlg_.m_hWnd, SW_SHOW);
  dlg_.PlayEffect(7);
  BYTE alpha = 0;
  DWORD flags = 0;
  ASSERT_TRUE(::GetLayeredWindowAttributes(dlg_.m_hWnd, nullptr, &alpha, &flags));
  EXPECT_EQ(15, alpha);
  EXPECT_TRUE(flags & LWA_ALPHA);
  EXPECT_TRUE(::IsWindowVisible(dlg_.m_hWnd));
  EXPECT_FALSE(dlg_.m_bClosed);
}

TEST_F(EffectWindowTest, UnknownEffectOnlyPostsDone) {
  dlg_.PlayEffect(14);
  kvtest::Pump(30);
  EXPECT_EQ(1, dlg_.done);
  EXPECT_FALSE(dlg_.m_bEffectRunning);
  EXPECT_TRUE(dlg_.xs.empty());
}

TEST_F(EffectWindowTest, SecondEffectWhileOneRunsIsIgnored) {
  ::ShowWindow(dlg_.m_hWnd, SW_SHOW);
  dlg_.m_bEffectRunning = true;
  dlg_.PlayEffect(2);
  kvtest::Pump(30);
  EXPECT_TRUE(::IsWindowVisible(dlg_.m_hWnd));
  EXPECT_FALSE(dlg_.m_bClosed);
  EXPECT_EQ(0, dlg_.done);
  dlg_.m_bEffectRunning = false;
}

TEST_F(EffectWindowTest, RollUpAndWipeOutClose) {
  for (int effect : {2, 13, 5}) {
    ::SetWindowPos(dlg_.m_hWnd, nullptr, 735, 300, 450, 230, SWP_NOZORDER | SWP_SHOWWINDOW);
    dlg_.m_bClosed = false;
    dlg_.PlayEffect(effect);
    EXPECT_FALSE(::IsWindowVisible(dlg_.m_hWnd)) << effect;
    EXPECT_TRUE(dlg_.m_bClosed) << effect;
  }
}

TEST_F(EffectWindowTest, ZoomOutKeepsTheEnlargedSize) {
  ASSERT_TRUE(dlg_.Create(0, 100, 100, 300, 200, 0, false, nullptr));
  ::ShowWindow(dlg_.m_hWnd, SW_SHOW);
  dlg_.PlayEffect(9);
  EXPECT_EQ(360, dlg_.m_nWidth);
  EXPECT_EQ(236, dlg_.m_nHeight);
  EXPECT_EQ(250, dlg_.m_nX);
  BYTE alpha = 255;
  ASSERT_TRUE(::GetLayeredWindowAttributes(dlg_.m_hWnd, nullptr, &alpha, nullptr));
  EXPECT_EQ(0, alpha);
  EXPECT_TRUE(dlg_.m_bFrozen);
  const RECT r = Rect();
  EXPECT_EQ(0, r.right - r.left);
}

TEST_F(EffectWindowTest, ZoomInEndsWhereItBegan) {
  ASSERT_TRUE(dlg_.Create(0, 100, 100, 300, 200, 0, false, nullptr));
  dlg_.PlayEffect(8);
  const RECT r = Rect();
  EXPECT_EQ(100, r.left);
  EXPECT_EQ(100, r.top);
  EXPECT_EQ(300, r.right - r.left);
  EXPECT_EQ(200, r.bottom - r.top);
  EXPECT_EQ(300, dlg_.m_nWidth);
  EXPECT_FALSE(dlg_.m_bFrozen);
  BYTE alpha = 0;
  ASSERT_TRUE(::GetLayeredWindowAttributes(dlg_.m_hWnd, nullptr, &alpha, nullptr));
  EXPECT_EQ(249, alpha);
}

TEST_F(EffectWindowTest, CapturedPictureAnimationsFinish) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  for (int effect : {4, 10, 11}) {
    dlg_.done = 0;
    dlg_.PlayEffect(effect);
    kvtest::Pump(30);
    EXPECT_EQ(1, dlg_.done) << effect;
  }
  // Flip in shows the window and gives the layered style back to a plain dialog.
  EXPECT_TRUE(::IsWindowVisible(dlg_.m_hWnd));
  EXPECT_TRUE(::GetWindowLongW(dlg_.m_hWnd, GWL_EXSTYLE) & WS_EX_LAYERED) << "11 leaves it on";
  dlg_.PlayEffect(10);
  EXPECT_FALSE(::GetWindowLongW(dlg_.m_hWnd, GWL_EXSTYLE) & WS_EX_LAYERED);
  const RECT r = Rect();
  EXPECT_EQ(735, r.left);
  EXPECT_EQ(450, r.right - r.left);
}

}  // namespace
