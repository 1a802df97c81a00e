// The window animations: first the step lists, number by number, then the same animations on real
// windows, watched through the window's own position messages.
#include "ui/effects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <vector>

#include "tests/ui/ui_fixtures.h"
#include "ui/dialog.h"
#include "ui/ui_texts.h"

namespace {

using kv::ui::EffectGeometry;
using kv::ui::EffectStep;
using kv::ui::EffectSteps;
using Steps = std::vector<EffectStep>;
using Ints = std::vector<int>;
using Box = std::array<int, 4>;
using K = EffectStep;  // kinds and fields

Steps Only(const Steps& steps, K::Kind kind) {
  Steps out;
  std::copy_if(steps.begin(), steps.end(), std::back_inserter(out),
               [&](const EffectStep& s) { return s.kind == kind; });
  return out;
}
// One field of the steps of one kind.
Ints Field(const Steps& steps, K::Kind kind, int K::*field) {
  Ints out;
  for (const EffectStep& s : Only(steps, kind)) out.push_back(s.*field);
  return out;
}
Box BoxOf(const EffectStep& s) { return {s.x, s.y, s.w, s.h}; }
int TotalSleep(const Steps& steps) {
  int total = 0;
  for (int ms : Field(steps, K::kSleep, &K::value)) total += ms;
  return total;
}
bool Has(const Steps& steps, K::Kind kind) { return !Only(steps, kind).empty(); }
const EffectGeometry kMain{735, 425, 450, 230}, kAt0{0, 0, 450, 230}, kSmall{100, 100, 300, 200};

TEST(EffectSteps, SlideInOnTheMainWindow) {
  const Steps steps = EffectSteps(0, kMain);
  EXPECT_EQ((Ints{-55, 340, 735, 730, 725, 730, 735, 735}), Field(steps, K::kMove, &K::x));
  for (const EffectStep& m : Only(steps, K::kMove)) EXPECT_EQ((Box{m.x, 425, 450, 230}), BoxOf(m));
  EXPECT_EQ((Ints{50, 50, 50, 20, 20, 20, 20}),
            Field(steps, K::kSleep, &K::value));
  EXPECT_EQ(K::kRedraw, steps.back().kind);
  EXPECT_FALSE(Has(steps, K::kClose));
}

TEST(EffectSteps, DropDownRollUpSlideOut) {
  const EffectGeometry g{10, 20, 450, 230};
  EXPECT_EQ((Ints{46, 92, 138, 184, 230, 230}),
            Field(EffectSteps(1, g), K::kMove, &K::h));
  const Steps roll = EffectSteps(2, g);
  EXPECT_EQ((Ints{184, 138, 92, 46, 0}), Field(roll, K::kMove, &K::h));
  EXPECT_EQ(K::kClose, roll.back().kind);
  const Steps out = EffectSteps(3, kMain);
  EXPECT_EQ((Ints{498, 261, 24, -213, -450}), Field(out, K::kMove, &K::x));
  EXPECT_EQ(250, TotalSleep(out));
  EXPECT_FALSE(Has(out, K::kClose)) << "slide out stays shown";
}

TEST(EffectSteps, OpenFromAndCloseToTheCentreLine) {
  const EffectGeometry g{100, 100, 450, 230};
  const Steps open = EffectSteps(4, g);
  EXPECT_EQ(K::kMoveHidden, open[0].kind);
  EXPECT_EQ(K::kFreeze, open[1].kind);
  EXPECT_EQ(0, open[1].value);
  const Steps frames = Only(open, K::kFramePlain), moves = Only(open, K::kMove);
  ASSERT_EQ(10u, frames.size());
  // step 23, half 11: the window opens around its middle while the frame shows the middle band.
  EXPECT_EQ((Box{100, 204, 450, 23}), BoxOf(moves[0]));
  EXPECT_EQ((Ints{103, 126, 0, 230}),
            (Ints{frames[0].src.top, frames[0].src.bottom, frames[9].src.top, frames[9].h}));
  EXPECT_EQ((Box{100, 100, 450, 230}), BoxOf(moves.back()));

  const Steps close = EffectSteps(5, g), shut = Only(close, K::kMove);
  ASSERT_EQ(10u, shut.size());
  EXPECT_EQ((Box{100, 111, 450, 207}), BoxOf(shut[0]));
  EXPECT_EQ((Box{100, 215, 450, 1}), BoxOf(shut.back()));
  EXPECT_EQ(1, close.front().value) << "freezes first";
  EXPECT_EQ(K::kClose, close.back().kind);
}

TEST(EffectSteps, FadeInAndOut) {
  EXPECT_EQ((Ints{0, 79, 98, 117, 136, 155, 174, 193, 212, 231, 250}),
            Field(EffectSteps(6, {0, 0, 100, 100}), K::kAlpha, &K::value));
  const Steps out = EffectSteps(7, {0, 0, 100, 100});
  const Ints alphas = Field(out, K::kAlpha, &K::value);
  ASSERT_EQ(20u, alphas.size());
  EXPECT_EQ(243, alphas.front());
  EXPECT_EQ(15, alphas.back());
  EXPECT_FALSE(Has(out, K::kClose));
  EXPECT_FALSE(Has(out, K::kMove));
  EXPECT_EQ(600, TotalSleep(out));
}

TEST(EffectSteps, ZoomInOvershootsAndSettles) {
  const Steps steps = EffectSteps(8, kSmall), moves = Only(steps, K::kMove);
  EXPECT_EQ((Ints{50, 100, 150, 183, 216, 249}), Field(steps, K::kAlpha, &K::value));
  ASSERT_EQ(7u, moves.size());
  EXPECT_EQ((Box{200, 167, 100, 66}), BoxOf(moves[0])) << "from the centre in thirds";
  EXPECT_EQ(300, moves[2].w);
  EXPECT_EQ((Box{70, 82, 360, 236}), BoxOf(moves[3])) << "k = 6: overshoot, back by 20 x 12";
  EXPECT_EQ((Box{100, 100, 300, 200}), BoxOf(moves[6]));
  EXPECT_EQ((Box{100, 100, 300, 200}), BoxOf(Only(steps, K::kStoreGeometry).back()));
  EXPECT_EQ(0, Only(steps, K::kFreeze).back().value);
}

TEST(EffectSteps, ZoomOutOnAMessageBox) {
  EffectGeometry g = kSmall;
  g.roundCorners = true;
  const Steps steps = EffectSteps(9, g), moves = Only(steps, K::kMove);
  EXPECT_EQ((Ints{217, 184, 151, 100, 50, 0}), Field(steps, K::kAlpha, &K::value));
  ASSERT_EQ(6u, moves.size());
  EXPECT_EQ((Box{70, 82, 360, 236}), BoxOf(moves[2]));
  // Then towards the centre: a = 120, b = 78.
  EXPECT_EQ((Box{130, 121, 240, moves[3].h}), BoxOf(moves[3]));
  EXPECT_EQ((Ints{190, 120}), (Ints{moves[4].x, moves[4].w}));
  EXPECT_EQ((Box{250, 199, 0, moves[5].h}), BoxOf(moves[5]));
  const EffectStep stored = Only(steps, K::kStoreGeometry).back();
  EXPECT_EQ((Ints{250, 360}), (Ints{stored.x, stored.w})) << "the enlarged size stays stored";
  EXPECT_EQ(3u, Only(steps, K::kCorners).size());
  EXPECT_FALSE(Has(EffectSteps(9, kSmall), K::kCorners));
}

TEST(EffectSteps, FlipsMapTheCapturedPicture) {
  const Steps in = EffectSteps(10, kAt0), frames = Only(in, K::kFrame3D);
  EXPECT_EQ(K::kCapture, in.front().kind);
  ASSERT_EQ(11u, frames.size());
  EXPECT_EQ((Ints{0, 450}), (Ints{frames[0].points[0].x, frames[0].points[1].x}));
  EXPECT_EQ(230, frames[0].points[2].y);
  EXPECT_EQ((Ints{225, 225}), (Ints{frames[5].points[0].x, frames[5].points[1].x}));
  EXPECT_EQ((Ints{450, 0}), (Ints{frames[10].points[0].x, frames[10].points[1].x}))
      << "past the middle the picture is mirrored";
  EXPECT_TRUE(Has(in, K::kDropLayered));
  EffectGeometry layered = kAt0;
  layered.layered = true;
  EXPECT_FALSE(Has(EffectSteps(10, layered), K::kDropLayered));

  const Steps away = Only(EffectSteps(11, kAt0), K::kFrame3D);
  ASSERT_EQ(6u, away.size());
  auto ys = [](const EffectStep& f) { return Ints{f.points[0].y, f.points[1].y, f.points[2].y}; };
  EXPECT_EQ((Ints{15, 15, 245}), ys(away[0])) << "u = -r: e = 15";
  EXPECT_EQ(0, away[5].points[0].y) << "u = 0: e = 0";
  EXPECT_EQ(30, away[5].points[1].y);
  EXPECT_FALSE(Has(EffectSteps(11, kAt0), K::kClose));
  EffectGeometry child = kAt0;
  child.childWindow = true;
  EXPECT_EQ(K::kClose, EffectSteps(11, child).back().kind);
  // A narrow window still ends.
  EXPECT_EQ(6u, Only(EffectSteps(10, {0, 0, 5, 50}), K::kFrame3D).size());
  EXPECT_EQ(3u, Only(EffectSteps(11, {0, 0, 5, 50}), K::kFrame3D).size());
}

TEST(EffectSteps, WipeInAndOutAndUnknownNumbers) {
  EXPECT_EQ((Ints{45, 90, 135, 180, 225, 270, 315, 360, 405, 450, 450}),
            Field(EffectSteps(12, kAt0), K::kMove, &K::w));
  const Steps out = EffectSteps(13, kAt0);
  EXPECT_EQ(405, Only(out, K::kMove).front().w);
  EXPECT_EQ(0, Only(out, K::kMove).back().w);
  EXPECT_EQ(10u, Only(out, K::kRedraw).size());
  EXPECT_EQ(K::kClose, out.back().kind);
  EXPECT_TRUE(EffectSteps(14, kAt0).empty());
  EXPECT_TRUE(EffectSteps(-1, kAt0).empty());
}

// ---- On real windows ----

class WatchedDlg : public CKvDlg {
 public:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (wnd == m_hWnd && msg == WM_WINDOWPOSCHANGED &&
        !(reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_NOMOVE))
      xs.push_back(reinterpret_cast<const WINDOWPOS*>(lParam)->x);
    if (wnd == m_hWnd && msg == kv::ui::WM_KV_EFFECTDONE) ++done;
    return CKvDlg::WndProc(wnd, msg, wParam, lParam);
  }
  Ints xs;
  std::atomic<int> done{0};
};

class EffectWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dlg_.Create(0, 735, 300, 450, 230, 0, false, nullptr));
    kvtest::Pump(20);
    dlg_.xs.clear();
  }
  Box Rect() {
    RECT r = {};
    ::GetWindowRect(dlg_.m_hWnd, &r);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
  }
  int Alpha(DWORD* flags = nullptr) {
    BYTE alpha = 0;
    EXPECT_TRUE(::GetLayeredWindowAttributes(dlg_.m_hWnd, nullptr, &alpha, flags));
    return alpha;
  }
  bool Layered() { return ::GetWindowLongW(dlg_.m_hWnd, GWL_EXSTYLE) & WS_EX_LAYERED; }
  WatchedDlg dlg_;
};

TEST_F(EffectWindowTest, SlideInMovesTheRealWindow) {
  dlg_.PlayEffect(0);
  kvtest::Pump(50);
  EXPECT_EQ((Ints{-55, 340, 735, 730, 725, 730, 735}),
            Ints(dlg_.xs.begin(), dlg_.xs.begin() + std::min<size_t>(7, dlg_.xs.size())));
  EXPECT_EQ((Box{735, 300, 450, 230}), Rect());
  EXPECT_TRUE(::IsWindowVisible(dlg_.m_hWnd));
  EXPECT_EQ(1, dlg_.done);
  EXPECT_FALSE(dlg_.m_bEffectRunning);
}

TEST_F(EffectWindowTest, ShowDlgAnimatesOnAWorkerAndEndsCentred) {
  dlg_.ShowDlg(0, true, SW_SHOW);
  ASSERT_TRUE(kvtest::PumpUntil([&] { return dlg_.done == 1; }, 10000));
  const int cx = (::GetSystemMetrics(SM_CXSCREEN) - 450) / 2;
  // First the centring move, then the slide.
  const int step = (cx + 450) / 3, p = -450 + 3 * step;
  const Ints expected = {cx, -450 + step, -450 + 2 * step, p, p - 5, p - 10, p - 5, p};
  ASSERT_GE(dlg_.xs.size(), expected.size());
  EXPECT_EQ(expected, Ints(dlg_.xs.begin(), dlg_.xs.begin() + expected.size()));
  EXPECT_EQ(cx, Rect()[0]);
  EXPECT_TRUE(::IsWindowVisible(dlg_.m_hWnd));
}

TEST_F(EffectWindowTest, FadeOutLeavesAlpha15) {
  ::ShowWindow(dlg_.m_hWnd, SW_SHOW);
  dlg_.PlayEffect(7);
  DWORD flags = 0;
  EXPECT_EQ(15, Alpha(&flags));
  EXPECT_TRUE(flags & LWA_ALPHA);
  EXPECT_TRUE(::IsWindowVisible(dlg_.m_hWnd));
  EXPECT_FALSE(dlg_.m_bClosed);
}

TEST_F(EffectWindowTest, UnknownOrSecondEffect) {
  dlg_.PlayEffect(14);
  kvtest::Pump(30);
  EXPECT_EQ(1, dlg_.done) << "an unknown effect only posts done";
  EXPECT_FALSE(dlg_.m_bEffectRunning);
  EXPECT_TRUE(dlg_.xs.empty());
  ::ShowWindow(dlg_.m_hWnd, SW_SHOW);
  dlg_.m_bEffectRunning = true;  // a second effect while one runs is ignored
  dlg_.PlayEffect(2);
  kvtest::Pump(30);
  EXPECT_TRUE(::IsWindowVisible(dlg_.m_hWnd));
  EXPECT_FALSE(dlg_.m_bClosed);
  EXPECT_EQ(1, dlg_.done);
  dlg_.m_bEffectRunning = false;
}

TEST_F(EffectWindowTest, RollUpWipeOutAndCloseToLineClose) {
  for (int effect : {2, 13, 5}) {
    ::SetWindowPos(dlg_.m_hWnd, nullptr, 735, 300, 450, 230, SWP_NOZORDER | SWP_SHOWWINDOW);
    dlg_.m_bClosed = false;
    dlg_.PlayEffect(effect);
    EXPECT_FALSE(::IsWindowVisible(dlg_.m_hWnd)) << effect;
    EXPECT_TRUE(dlg_.m_bClosed) << effect;
  }
}

TEST_F(EffectWindowTest, ZoomOutKeepsTheEnlargedSizeZoomInEndsWhereItBegan) {
  ASSERT_TRUE(dlg_.Create(0, 100, 100, 300, 200, 0, false, nullptr));
  ::ShowWindow(dlg_.m_hWnd, SW_SHOW);
  dlg_.PlayEffect(9);
  EXPECT_EQ((Ints{250, 360, 236}), (Ints{dlg_.m_nX, dlg_.m_nWidth, dlg_.m_nHeight}));
  EXPECT_EQ(0, Alpha());
  EXPECT_TRUE(dlg_.m_bFrozen);
  EXPECT_EQ(0, Rect()[2]);

  ASSERT_TRUE(dlg_.Create(0, 100, 100, 300, 200, 0, false, nullptr));
  dlg_.PlayEffect(8);
  EXPECT_EQ((Box{100, 100, 300, 200}), Rect());
  EXPECT_EQ(300, dlg_.m_nWidth);
  EXPECT_FALSE(dlg_.m_bFrozen);
  EXPECT_EQ(249, Alpha());
}

TEST_F(EffectWindowTest, CapturedPictureAnimationsFinish) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  for (int effect : {4, 10, 11}) {
    dlg_.done = 0;
    dlg_.PlayEffect(effect);
    kvtest::Pump(30);
    EXPECT_EQ(1, dlg_.done) << effect;
  }
  EXPECT_TRUE(::IsWindowVisible(dlg_.m_hWnd));
  EXPECT_TRUE(Layered()) << "11 leaves it on";
  dlg_.PlayEffect(10);
  EXPECT_FALSE(Layered()) << "flip in gives a plain dialog its style back";
  EXPECT_EQ(735, Rect()[0]);
  EXPECT_EQ(450, Rect()[2]);
}

}  // namespace
