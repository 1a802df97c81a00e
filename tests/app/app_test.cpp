// The application object and the main dialog in this program's own process: what they draw and
// how the progress display follows the engine. Clicks, the engine and the end of the process are
// driven end to end (tests/e2e).
#include <algorithm>
#include <atomic>
#include <cwchar>
#include <mutex>
#include <thread>

#include "app/app.h"
#include "app/main_dialog.h"
#include "gfx/image.h"
#include "services/thread.h"
#include "tests/support/kvtest.h"
#include "uninstall/record.h"
#include "util/handles.h"

namespace {

using namespace kvtest;

LRESULT CALLBACK CountingProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg != WM_APP) return ::DefWindowProcW(wnd, msg, w, l);
  if (++*reinterpret_cast<int*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA)) == 3) ::PostQuitMessage(42);
  return 0;
}

HWND Window(const wchar_t* cls, int* count, DWORD style, HWND parent) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = CountingProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = cls;
  ::RegisterClassW(&wc);
  HWND wnd = ::CreateWindowExW(0, cls, L"", style, 50, 50, 100, 60, parent, nullptr, wc.hInstance, nullptr);
  ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(count));
  return wnd;
}

TEST(App, FactsNameLoopCaretAndExit) {
  CKvApp& app = *GetKvApp();
  EXPECT_EQ(BinDir(), app.m_szAppDir);
  CKvApp named;
  named.SetAppName(std::wstring(250, L'n').c_str());
  EXPECT_EQ(std::wstring(199, L'n'), named.m_szAppName) << "cut to its room";

  int count = 0;
  HWND counting = Window(L"KvAppCounting", &count, 0, HWND_MESSAGE);
  for (int i = 0; i < 3; ++i) ::PostMessageW(counting, WM_APP, 0, 0);
  EXPECT_EQ(42, app.MsgLoop());
  EXPECT_EQ(3, count);
  ::DestroyWindow(counting);

  // The caret inverts a line of height pixels from (x, y); a second stroke restores it.
  HWND wnd = Window(L"KvAppCaret", &count, WS_POPUP | WS_VISIBLE, nullptr);
  kv::WindowDC dc(wnd);
  RECT client = {0, 0, 100, 60};
  ::FillRect(dc.get(), &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  named.m_nCaretX = 10;
  named.m_nCaretY = 5;
  auto at = [&](int x, int y) { return ::GdiFlush(), ::GetPixel(dc.get(), x, y); };
  named.DrawCaret(wnd);
  EXPECT_EQ((std::vector<COLORREF>{0, 0xFFFFFF, 0xFFFFFF}),
            (std::vector<COLORREF>{at(10, 15), at(11, 15), at(10, 26)}));
  named.DrawCaret(wnd);
  EXPECT_EQ(0xFFFFFFu, at(10, 15));
  ::DestroyWindow(wnd);

  // ExitApp ends through the runtime's normal exit: exit handlers and static destructors run, and
  // a timer asleep for 5 s holds it up by its 100 ms wait at most.
  const ProcessResult r = Helper(L"exitapp");
  EXPECT_EQ(0u, r.exit_code);
  unsigned long ms = 99999;
  EXPECT_EQ(1, std::sscanf(r.output.c_str(), "exit handler ran %lu ms", &ms)) << r.output;
  EXPECT_LT(ms, 2500u);
  EXPECT_NE(std::string::npos, r.output.find("static destructor ran"));
}

class MainDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UseProgramPictures());
    ASSERT_TRUE(dlg_.Create(0, 0, 0, 450, 230, 0, true, nullptr));
  }
  CMainDlg dlg_;
};

TEST(MainDialogRecord, QuestionCarriesTheDisplayName) {
  const std::wstring dir = FreshDir(L"maindlg");
  UninstallRecord header = {};
  std::wcscpy(header.displayName, L"Prod");
  const std::string whole(reinterpret_cast<const char*>(&header), sizeof(header));
  // Named; no record; a file that ends inside the name: the start of a longer name is no name.
  for (const auto& [bytes, question] :
       {std::pair(whole, L"您确定要卸载Prod?"), std::pair(std::string(), L"您确定要卸载?"),
        std::pair(whole.substr(0, 204), L"您确定要卸载?")}) {
    RemoveTree(dir + L"kvUninstall.dat");
    if (!bytes.empty()) WriteText(dir + L"kvUninstall.dat", bytes);
    wchar_t saved[CKvApp::kDirRoom];
    std::wcscpy(saved, GetKvApp()->m_szAppDir);
    std::wcscpy(GetKvApp()->m_szAppDir, dir.c_str());
    EXPECT_EQ(question, CMainDlg().Question());
    std::wcscpy(GetKvApp()->m_szAppDir, saved);
  }
}

TEST_F(MainDialog, DrawsPanelQuestionAndProgressInTheirPlaces) {
  Frame panel(450, 230), question(450, 230);
  dlg_.DrawBackground(panel.dc(), RECT{0, 0, 1, 1});
  EXPECT_EQ(0, panel.Opaque(0, 0, 450, 89)) << "the top stays transparent";
  EXPECT_EQ(0, panel.Opaque(437, 89, 450, 230)) << "437 wide at natural size";
  EXPECT_GT(panel.Opaque(0, 89, 437, 230), 437 * 141 * 9 / 10);
  dlg_.DrawOverlay(question.dc());
  EXPECT_GT(question.Opaque(35, 146, 245, 176), 50);
  EXPECT_EQ(question.Opaque(0, 0, 450, 230), question.Opaque(35, 146, 245, 176)) << "nothing else";

  // The strip is eaten from the left (at 50 it starts at x 214), the marker (137 wide) stands at
  // x 60 + shown * 240 / 100 and hops between 30 and 0 until it rests at 30 at 100.
  dlg_.m_nStarted = 1;
  dlg_.m_nMarkerY = 0;
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
    if (shown == 100) {
      EXPECT_EQ(0, f.Opaque(0, 0, 300, 230)) << "no strip left, marker at x 300";
    }
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
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 450, -230, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> pixels(450 * 230);
    ::GetDIBits(frame, static_cast<HBITMAP>(::GetCurrentObject(frame, OBJ_BITMAP)), 0, 230, pixels.data(), &bi,
                DIB_RGB_COLORS);
    return pixels[y * 450 + x] >> 24;
  };
  EXPECT_EQ(0u, alpha(100, 10)) << "above the panel";
  EXPECT_EQ(0xFFu, alpha(100, 120)) << "on the panel";
  ::SendMessageW(dlg_.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(289, 150));
  EXPECT_EQ(1, dlg_.m_pUninstall->m_nState) << "hovered";
  EXPECT_EQ(0u, alpha(100, 10)) << "still transparent after the button's own refresh";
}

// The walk sends its percentages from the engine's thread, its 100 among them, while the key and
// the links are still to go; only the engine's posted 100 means done.
TEST_F(MainDialog, OnlyThePosted100IsDone) {
  for (const auto& [posted, percent, done] :
       {std::tuple(false, 33, 0), std::tuple(false, 100, 0), std::tuple(true, 66, 0), std::tuple(true, 100, 1)}) {
    dlg_.m_bDone = 0;
    std::atomic<bool> delivered{false};
    std::thread engine([&, posted = posted, percent = percent] {
      if (posted)
        ::PostMessageW(dlg_.m_hWnd, WM_KV_PROGRESS, percent, 0);
      else
        ::SendMessageW(dlg_.m_hWnd, WM_KV_PROGRESS, percent, 0);
      delivered = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return delivered && dlg_.m_nTarget == percent; }, 5000));
    engine.join();
    EXPECT_EQ(done, dlg_.m_bDone) << (posted ? "posted " : "sent ") << percent;
  }
}

// Notes the shown percentage at every paint the animation thread asks for.
struct Watched : CMainDlg {
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) override {
    if (wnd == m_hWnd && msg == WM_PAINT && ::InSendMessage()) {
      std::lock_guard<std::mutex> lock(mutex);
      shown.push_back(m_nShown);
    }
    return CMainDlg::WndProc(wnd, msg, w, l);
  }
  std::vector<int> Shown() {
    std::lock_guard<std::mutex> lock(mutex);
    return shown;
  }
  std::mutex mutex;
  std::vector<int> shown;
};

// The display moves towards the engine's value by 10 every 200 ms, so it lags and may overshoot
// by up to 9: 33 shows 10, 20, 30, 40 and waits; 100 then shows 50 ... 100 and the loop ends.
// The thread outlives the test (it waits for a "done" that never comes), so the dialog is kept.
TEST(MainDialogProgress, DisplayLagsInStepsOfTenAndStops) {
  ASSERT_TRUE(UseProgramPictures());
  for (bool stop : {false, true}) {
    Watched* dlg = new Watched;  // never deleted: its animation thread waits for ever
    ASSERT_TRUE(dlg->Create(0, 0, 0, 450, 230, 0, true, nullptr));
    dlg->m_nStarted = 1;
    dlg->m_nTarget = 33;
    GetKvThread()->StartThread(&CMainDlg::AnimationThread, dlg, 1);
    ASSERT_TRUE(PumpUntil([&] { return dlg->Shown().size() >= 6; }, 10000));
    if (stop) {
      dlg->m_bStop = 1;
      Pump(400);
      const size_t paints = dlg->Shown().size();
      Pump(600);
      EXPECT_EQ(paints, dlg->Shown().size()) << "stop ends the loop";
      continue;
    }
    dlg->m_nTarget = 100;
    ASSERT_TRUE(PumpUntil([&] { return dlg->Shown().back() == 100; }, 10000));
    Pump(500);
    std::vector<int> steps = dlg->Shown();
    steps.erase(std::unique(steps.begin(), steps.end()), steps.end());
    EXPECT_EQ((std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}), steps);
  }
}

}  // namespace
