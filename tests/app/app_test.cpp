// The application object and the main dialog in this program's own process. The window as a person
// meets it, the question, the clicks and the end of the process are driven end to end (tests/e2e).
#include <algorithm>
#include <cstdio>
#include <thread>

#include "app/app.h"
#include "app/main_dialog.h"
#include "services/thread.h"
#include "tests/support/kvtest.h"
#include "util/handles.h"

namespace {

using namespace kvtest;

int g_count = 0;  // WM_APP seen; the third quits with 42
LRESULT CALLBACK CountingProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_APP && ++g_count == 3) ::PostQuitMessage(42);
  return ::DefWindowProcW(wnd, msg, w, l);
}

TEST(App, NameLoopCaretAndExit) {
  CKvApp app;
  app.SetAppName(std::wstring(250, L'n').c_str());
  EXPECT_EQ(std::wstring(199, L'n'), app.m_szAppName) << "cut to its room";
  const WNDCLASSW wc = {0, CountingProc, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, L"KvAppCounting"};
  HWND wnd = ::CreateWindowExW(0, MAKEINTATOM(::RegisterClassW(&wc)), L"", WS_POPUP | WS_VISIBLE, 50, 50, 100, 60,
                               nullptr, nullptr, nullptr, nullptr);
  for (int i = 0; i < 3; ++i) ::PostMessageW(wnd, WM_APP, 0, 0);
  EXPECT_EQ((std::pair{42, 3}), (std::pair{app.MsgLoop(), g_count}));
  // The caret inverts a line of height pixels from (x, y); a second stroke restores it.
  kv::WindowDC dc(wnd);
  ::PatBlt(dc.get(), 0, 0, 100, 60, WHITENESS);
  app.m_nCaretX = 10, app.m_nCaretY = 5;
  auto at = [&](int x, int y) { return ::GdiFlush(), ::GetPixel(dc.get(), x, y); };
  app.DrawCaret(wnd);
  EXPECT_EQ((std::vector<COLORREF>{0, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}),
            (std::vector<COLORREF>{at(10, 15), at(11, 15), at(10, 26), (app.DrawCaret(wnd), at(10, 15))}));
  ::DestroyWindow(wnd);
  // ExitApp ends through the runtime's normal exit: exit handlers and static destructors run, and a
  // timer asleep for 5 s holds it up by its 100 ms wait at most.
  const ProcessResult r = Helper(L"exitapp");
  unsigned long ms = 99999;
  EXPECT_EQ(1, std::sscanf(r.output.c_str(), "exit handler ran %lu ms", &ms)) << r.output;
  EXPECT_EQ((std::tuple{0ul, true, true}),
            (std::tuple{r.exit_code, ms < 2500, r.output.find("static destructor ran") != std::string::npos}));
}

// The shown percentage at every paint the animation thread asks for (made and read on this thread).
struct Watched : CMainDlg {
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) override {
    if (wnd == m_hWnd && msg == WM_PAINT && ::InSendMessage()) shown.push_back(m_nShown);
    return CMainDlg::WndProc(wnd, msg, w, l);
  }
  std::vector<int> shown;
};

// A dialog of each test's own, never deleted: an animation thread may wait for ever on it.
class MainDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UseProgramPictures());
    ASSERT_TRUE(dlg_.Create(0, 0, 0, 450, 230, 0, true, nullptr));
  }
  // Runs the animation thread towards 33 until the display has been painted six times.
  static void Animate(Watched& dlg) {
    dlg.m_nStarted = 1;
    dlg.m_nTarget = 33;
    GetKvThread()->StartThread(&CMainDlg::AnimationThread, &dlg, 1);
    ASSERT_TRUE(PumpUntil([&] { return dlg.shown.size() >= 6; }, 10000));
  }
  Watched& dlg_ = *new Watched;
};

// The panel at (0, 89), natural size. The strip is eaten from the left (at 50 from x 214); the marker
// (137 wide) stands at x 60 + shown * 240 / 100, hopping between y 30 and 0 until it rests at 30.
TEST_F(MainDialog, DrawsPanelStripAndMarkerInTheirPlaces) {
  Frame panel(450, 230);
  dlg_.DrawBackground(panel.dc(), RECT{0, 0, 1, 1});
  EXPECT_EQ(0, panel.Opaque(0, 0, 450, 89) + panel.Opaque(437, 89, 450, 230));
  EXPECT_GT(panel.Opaque(0, 89, 437, 230), 437 * 141 * 9 / 10);
  dlg_.m_nStarted = 1;
  std::vector<int> ys;
  for (int shown : {50, 40, 40, 40, 100, 100}) {
    Frame f(450, 230);
    dlg_.m_nShown = shown;
    dlg_.DrawOverlay(f.dc());
    ys.push_back(dlg_.m_nMarkerY);
    if (shown == 50) {  // the marker covers x 180 to 316; the strip shows beyond it
      EXPECT_EQ(0, f.Opaque(0, 0, 180, 230) + f.Opaque(354, 0, 450, 230) + f.Opaque(180, 0, 450, 30));
      EXPECT_GT(f.Opaque(318, 150, 354, 173), 0);
    }
    EXPECT_TRUE(shown != 100 || f.Opaque(0, 0, 300, 230) == 0) << "no strip left, marker at x 300";
  }
  EXPECT_EQ((std::vector<int>{30, 0, 30, 0, 30, 30}), ys);
}

// The frame buffer keeps the alpha of the composed frame: a single button's refresh starts from
// it, and would otherwise turn the transparent band above the panel opaque.
TEST_F(MainDialog, FrameBufferKeepsTheTransparentBand) {
  dlg_.ShowDlg(-1, true, SW_SHOW);
  Pump(300);
  HDC frame = dlg_.m_dcFrame.m_hMemDC;
  auto alpha = [&](int x, int y) {
    BITMAPINFO bi = {{sizeof(BITMAPINFOHEADER), 450, -230, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    std::vector<uint32_t> pixels(450 * 230);
    ::GetDIBits(frame, static_cast<HBITMAP>(::GetCurrentObject(frame, OBJ_BITMAP)), 0, 230, pixels.data(), &bi,
                DIB_RGB_COLORS);
    return pixels[y * 450 + x] >> 24;
  };
  EXPECT_EQ((std::pair{0u, 0xFFu}), (std::pair{alpha(100, 10), alpha(100, 120)})) << "above the panel, on it";
  ::SendMessageW(dlg_.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(289, 150));
  EXPECT_EQ(1, dlg_.m_pUninstall->m_nState) << "hovered";
  EXPECT_EQ(0u, alpha(100, 10)) << "still transparent after the button's own refresh";
}

// The walk sends its percentages from the engine's thread, its 100 among them, while the key and
// the links are still to go; only the engine's posted 100 means done.
TEST_F(MainDialog, OnlyThePosted100IsDone) {
  for (const auto& [posted, percent, done] :
       {std::tuple(false, 33, 0), {false, 100, 0}, {true, 66, 0}, {true, 100, 1}}) {
    std::atomic<bool> delivered{false};
    std::thread engine([&, posted = posted, percent = percent] {
      posted ? void(::PostMessageW(dlg_.m_hWnd, WM_KV_PROGRESS, percent, 0))
             : void(::SendMessageW(dlg_.m_hWnd, WM_KV_PROGRESS, percent, 0));
      delivered = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return delivered && dlg_.m_nTarget == percent; }, 5000));
    engine.join();
    EXPECT_EQ(done, dlg_.m_bDone) << (posted ? "posted " : "sent ") << percent;
  }
}

// The display moves towards the engine's value by 10 a step, lagging and overshooting by up to 9; a
// stopped one paints once more at the most, when the stop came during a paint.
TEST_F(MainDialog, DisplayLagsInStepsOfTenAndStops) {
  Watched& stopped = *new Watched;
  ASSERT_TRUE(stopped.Create(0, 0, 0, 450, 230, 0, true, nullptr));
  Animate(dlg_);
  Animate(stopped);
  stopped.m_bStop = 1;
  const size_t paints = stopped.shown.size();
  dlg_.m_nTarget = 100;
  ASSERT_TRUE(PumpUntil([&] { return dlg_.shown.back() == 100; }, 10000));
  Pump(500);
  std::vector<int> steps = dlg_.shown;
  steps.erase(std::unique(steps.begin(), steps.end()), steps.end());
  EXPECT_EQ((std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}), steps);
  EXPECT_LE(stopped.shown.size(), paints + 1) << "stop ends the loop";
}

}  // namespace
