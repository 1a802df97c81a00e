// The window animations on a real window, watched through the frame hook: after every step the test reads what the
// window itself now reports, and the frame the step drew.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <mutex>

#include "tests/support/kvtest.h"
#include "ui/dialog.h"
#include "ui/effects.h"
#include "ui/ui_texts.h"

namespace {

using kv::ui::EffectStep;
using Box = std::array<int, 4>;

// By letter, one value per step of its kind: x, y, w, h of the window after a move, a its alpha, X, W the stored
// x and width, p and q the first two points' x and e the first point's y of a flipped frame, t the top of a plain
// frame's source.
std::mutex g_mutex;
std::map<char, std::vector<int>> g_seen;
DWORD g_thread;

void Watch(HWND wnd, const EffectStep& s) {  // on the animating thread
  RECT r = {};
  BYTE alpha = 0;
  ::GetWindowRect(wnd, &r);
  ::GetLayeredWindowAttributes(wnd, nullptr, &alpha, nullptr);
  const auto* dlg = reinterpret_cast<CKvWin*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
  std::lock_guard<std::mutex> lock(g_mutex);
  g_thread = ::GetCurrentThreadId();
  auto add = [](const char* letters, std::initializer_list<long> values) {
    for (long v : values) g_seen[*letters++].push_back(v);
  };
  if (s.kind == EffectStep::kMove) add("xywh", {r.left, r.top, r.right - r.left, r.bottom - r.top});
  if (s.kind == EffectStep::kStoreGeometry) add("XW", {dlg->m_nX, dlg->m_nWidth});
  if (s.kind == EffectStep::kAlpha) add("a", {alpha});
  if (s.kind == EffectStep::kFrame3D) add("pqe", {s.points[0].x, s.points[1].x, s.points[0].y});
  if (s.kind == EffectStep::kFramePlain) add("t", {s.src.top});
}

std::vector<int> Seen(const char* letters) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<int> out;
  for (const char* c = letters; *c; ++c) out.insert(out.end(), g_seen[*c].begin(), g_seen[*c].end());
  return out;
}

class Effects : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dlg_.Create(0, 0, 0, 450, 230, 0, false, nullptr));
    kv::ui::SetEffectObserver(Watch);
  }
  void TearDown() override { kv::ui::SetEffectObserver(nullptr); }
  // Plays effect on this thread, on the dialog shown plain at g; it ends by posting that it is done. One window
  // serves every row: Wine takes seconds to take a shown window away.
  void Play(int effect, Box g, bool running = false, bool frozen = false) {
    dlg_.m_nX = g[0], dlg_.m_nY = g[1], dlg_.m_nWidth = g[2], dlg_.m_nHeight = g[3];
    dlg_.m_bClosed = false, dlg_.m_bFrozen = frozen, dlg_.m_bEffectRunning = running;
    ::SetWindowLongW(dlg_.m_hWnd, GWL_EXSTYLE, 0);
    ::SetWindowPos(dlg_.m_hWnd, nullptr, g[0], g[1], g[2], g[3], SWP_NOZORDER | SWP_SHOWWINDOW);
    g_seen.clear();
    dlg_.PlayEffect(effect);
    MSG done;
    EXPECT_EQ(!running,
              ::PeekMessageW(&done, dlg_.m_hWnd, kv::ui::WM_KV_EFFECTDONE, kv::ui::WM_KV_EFFECTDONE, PM_REMOVE) != 0);
  }
  CKvDlg dlg_;
};

// What each animation gave the window, and how it leaves it: visible, closed, frozen, layered (from frozen if so said).
TEST_F(Effects, Steps) {
  const Box main = {735, 425, 450, 230}, at100 = {100, 100, 450, 230}, box = {100, 100, 300, 200},
            at0 = {0, 0, 450, 230}, narrow = {0, 0, 5, 50};
  const struct {
    int effect;
    Box g;
    const char* seen;
    std::vector<int> values;
    const char* left;
    bool frozen = false;
  } rows[] = {{0, main, "x", {-55, 340, 735, 730, 725, 730, 735, 735}, "1000"},
              {1, at100, "h", {46, 92, 138, 184, 230, 230}, "1000"},
              {2, at100, "h", {184, 138, 92, 46, 0}, "0100"},
              {3, main, "x", {498, 261, 24, -213, -450}, "1000"},
              {4,
               at100,
               "yt",
               {204, 193, 182, 171, 160, 149, 138, 127, 116, 105, 100, 103, 92, 80, 69, 57, 46, 34, 23, 11, 0},
               "1000",
               true},
              {5,
               at100,
               "yh",
               {111, 122, 133, 144, 155, 166, 177, 188, 199, 215, 207, 184, 161, 138, 115, 92, 69, 46, 23, 1},
               "0110"},
              {6, at100, "a", {0, 79, 98, 117, 136, 155, 174, 193, 212, 231, 250}, "1001"},
              {7,
               at100,
               "a",
               {243, 231, 219, 207, 195, 183, 171, 159, 147, 135, 123, 111, 99, 87, 75, 63, 51, 39, 27, 15},
               "1001"},
              {8,
               box,
               "xwaXW",
               {200, 150, 100, 70,  80,  90,  100, 100, 200, 300, 360, 340, 320, 300,
                50,  100, 150, 183, 216, 249, 100, 100, 100, 100, 360, 340, 320, 300},
               "1001"},
              {9,
               box,
               "xhaXW",
               {90,  80, 70, 130, 190, 250, 212, 224, 236, 158, 80,  2,   217, 184, 151,
                100, 50, 0,  90,  80,  70,  130, 190, 250, 320, 340, 360, 360, 360, 360},
               "1011"},
              {10,
               at0,
               "pq",
               {0, 45, 90, 135, 180, 225, 270, 315, 360, 405, 450, 450, 405, 360, 315, 270, 225, 180, 135, 90, 45, 0},
               "1000"},
              {10, narrow, "p", {0, 1, 2, 3, 4, 5}, "1000"},
              {11, at0, "e", {15, 6, 3, 1, 0, 0}, "1001"},
              {11, narrow, "p", {0, 1, 2}, "1001"},
              {12, at0, "w", {45, 90, 135, 180, 225, 270, 315, 360, 405, 450, 450}, "1000"},
              {13, at0, "w", {405, 360, 315, 270, 225, 180, 135, 90, 45, 0}, "0100"},
              {14, at0, "xa", {}, "1000"}};
  for (const auto& r : rows) {
    Play(r.effect, r.g, false, r.frozen);
    const HWND w = dlg_.m_hWnd;
    EXPECT_EQ(r.values, Seen(r.seen)) << "effect " << r.effect << " " << r.seen;
    const std::string left = {char('0' + ::IsWindowVisible(w)), char('0' + dlg_.m_bClosed), char('0' + dlg_.m_bFrozen),
                              char('0' + ((::GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_LAYERED) != 0))};
    EXPECT_EQ(r.left, left) << "effect " << r.effect;
    EXPECT_FALSE(dlg_.m_bEffectRunning);
  }
  Play(2, box, true);  // while another runs: ignored, and nothing is posted
  EXPECT_TRUE(Seen("xywha").empty() && ::IsWindowVisible(dlg_.m_hWnd) && !dlg_.m_bClosed);
}

// ShowDlg centres the dialog and animates it on a worker thread while this one keeps pumping.
TEST_F(Effects, ShowDlgAnimatesOnAWorker) {
  g_seen.clear();
  dlg_.ShowDlg(0, true, SW_SHOW);
  ASSERT_TRUE(kvtest::PumpUntil([&] { return Seen("x").size() == 8 && !dlg_.m_bEffectRunning; }, 10000));
  EXPECT_EQ((::GetSystemMetrics(SM_CXSCREEN) - 450) / 2, Seen("x").back());
  EXPECT_TRUE(::GetCurrentThreadId() != g_thread && ::IsWindowVisible(dlg_.m_hWnd));
}

}  // namespace
