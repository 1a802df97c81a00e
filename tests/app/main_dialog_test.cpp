// The main dialog in this test program's own process: the record it reads, what it builds when
// its window is created, what each state draws, and how the progress display follows the engine.
// The clicks that start the engine or end the process are driven end to end (tests/e2e).
#include "app/main_dialog.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <mutex>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "gfx/font.h"
#include "services/thread.h"
#include "tests/support/test_support.h"
#include "tests/ui/ui_fixtures.h"
#include "uninstall/record.h"

namespace {

using kvtest::Frame;

// Points the application's folder at dir for the life of the object.
class AppDirScope {
 public:
  explicit AppDirScope(const std::wstring& dir) {
    std::wcscpy(saved_, GetKvApp()->m_szAppDir);
    std::wcsncpy(GetKvApp()->m_szAppDir, dir.c_str(), CKvApp::kDirRoom - 1);
  }
  ~AppDirScope() { std::wcscpy(GetKvApp()->m_szAppDir, saved_); }

 private:
  wchar_t saved_[CKvApp::kDirRoom] = {};
};

TEST(MainDialog, QuestionCarriesTheRecordsDisplayName) {
  UninstallRecord header = {};
  std::wcscpy(header.displayName, L"Prod");
  const std::wstring named = kvtest::FreshDir(L"maindlg_name");
  const std::wstring cut = kvtest::FreshDir(L"maindlg_short");
  ASSERT_EQ(1, WriteUninstallRecord((named + L"kvUninstall.dat").c_str(), &header, nullptr, 0,
                                    nullptr, 0));
  // 200 bytes of key, then "Ab" and the file ends: the start of a longer name is no name.
  kvtest::WriteText(cut + L"kvUninstall.dat", std::string(200, '\0') + std::string("A\0b\0", 4));
  const std::wstring cases[][3] = {{named, L"Prod", L"您确定要卸载Prod?"},
                                   {kvtest::FreshDir(L"maindlg_none"), L"", L"您确定要卸载?"},
                                   {cut, L"", L"您确定要卸载?"}};
  for (const auto& c : cases) {
    AppDirScope scope(c[0]);
    CMainDlg dlg;
    EXPECT_EQ(c[1], dlg.m_strDisplayName);
    EXPECT_EQ(c[2], dlg.Question());
  }
}

class MainDialogWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kvtest::UseProgramPictures());
    ASSERT_TRUE(dlg_.Create(0, 0, 0, 450, 230, 0, true, nullptr));
  }
  CMainDlg dlg_;
};

TEST_F(MainDialogWindow, CreationBuildsTheTwoButtons) {
  ASSERT_EQ(2u, dlg_.m_vecChildren.size());
  auto* cancel = static_cast<CKvButton*>(dlg_.m_vecChildren[0]);
  auto* uninstall = static_cast<CKvButton*>(dlg_.m_vecChildren[1]);
  EXPECT_EQ(dlg_.m_pCancel.get(), cancel);
  EXPECT_EQ(dlg_.m_pUninstall.get(), uninstall);
  const int dy = (GetKvFont()->isSupportYaHei() ? 0 : 2) - 2;
  EXPECT_EQ(L"取 消", cancel->m_strCaption);
  EXPECT_EQ(L"卸 载", uninstall->m_strCaption);
  for (CKvButton* b : {cancel, uninstall}) {
    EXPECT_EQ((std::vector<int>{b == cancel ? 325 : 255, 148, 68, 29, b == cancel ? 60073 : 60074,
                                1, 3, dy}),
              (std::vector<int>{b->m_nX, b->m_nY, b->m_nWidth, b->m_nHeight, b->m_nPicId,
                                b->m_nStateCount, b->m_nFrameCount, b->m_nCaptionDy}));
    EXPECT_EQ(dlg_.m_hWnd, b->m_hHostWnd);
    EXPECT_TRUE(b->m_bLayered);
  }
  EXPECT_EQ(&CMainDlg::OnCancel, cancel->m_pfnUp);
  EXPECT_EQ(&CMainDlg::OnUninstall, uninstall->m_pfnUp);
  EXPECT_TRUE(dlg_.m_bDragAnywhere);
  EXPECT_EQ(60052, dlg_.m_nBkPicId);
  EXPECT_TRUE(::GetWindowLongW(dlg_.m_hWnd, GWL_EXSTYLE) & WS_EX_LAYERED);
}

TEST_F(MainDialogWindow, BackgroundPanelAt89AndQuestionInItsBox) {
  Frame f(450, 230), q(450, 230);
  dlg_.DrawBackground(f.dc(), RECT{0, 0, 1, 1});
  EXPECT_EQ(0, f.Opaque(0, 0, 450, 89)) << "the top stays transparent";
  EXPECT_EQ(0, f.Opaque(437, 89, 450, 230)) << "437 wide at natural size";
  EXPECT_GT(f.Opaque(0, 89, 437, 230), 437 * 141 * 9 / 10);
  dlg_.DrawOverlay(q.dc());
  EXPECT_GT(q.Opaque(35, 146, 245, 176), 50) << "the question";
  EXPECT_EQ(q.Opaque(0, 0, 450, 230), q.Opaque(35, 146, 245, 176)) << "and nothing else";
}

// The progress state drawn by hand from the layout's numbers.
void ReferenceProgress(HDC dc, int shown, int marker_y) {
  const int c = shown * 279 / 100;
  RECT src = {c, 0, 279, 23};
  GetKvImage()->DrawImg(dc, 60026, L"IMG", 75 + c, 150, 279 - c, 23, &src);
  GetKvImage()->DrawImg(dc, 60027, L"IMG", shown * 240 / 100 + 60, marker_y, 0, 0, nullptr);
}

TEST_F(MainDialogWindow, ProgressEatsTheStripAndTheMarkerHopsUntilHundred) {
  dlg_.m_nStarted = 1;
  dlg_.m_nMarkerY = 0;
  Frame at50(450, 230), at100(450, 230), again(450, 230), ref50(450, 230), ref100(450, 230);
  std::vector<int> ys;
  auto draw = [&](int shown, const Frame& f) {
    dlg_.m_nShown = shown;
    dlg_.DrawOverlay(f.dc());
    ys.push_back(dlg_.m_nMarkerY);
  };
  draw(50, at50);
  for (int i = 0; i < 3; ++i) draw(40, Frame(450, 230));
  draw(100, at100);
  draw(100, again);
  EXPECT_EQ((std::vector<int>{30, 0, 30, 0, 30, 30}), ys) << "hops, then rests at 100";
  ReferenceProgress(ref50.dc(), 50, 30);
  ReferenceProgress(ref100.dc(), 100, 30);
  EXPECT_EQ(ref50.Pixels(), at50.Pixels());
  EXPECT_EQ(ref100.Pixels(), at100.Pixels());
  EXPECT_EQ(ref100.Pixels(), again.Pixels());
  // At 50 the strip starts at x 214, the marker (137 wide) at x 180 and y 30.
  EXPECT_EQ(0, at50.Opaque(0, 0, 180, 230));
  EXPECT_GT(at50.Opaque(318, 150, 354, 173), 0);
  EXPECT_EQ(0, at50.Opaque(354, 0, 450, 230));
  EXPECT_EQ(0, at50.Opaque(180, 0, 450, 30));
  EXPECT_EQ(0, at100.Opaque(0, 0, 300, 230)) << "no strip left, marker at x 300";
}

// The frame buffer keeps the alpha channel of the composed frame: a single button's refresh starts
// from it, and would otherwise turn the transparent band above the panel opaque.
TEST_F(MainDialogWindow, FrameBufferKeepsTheTransparentBand) {
  dlg_.ShowDlg(-1, true, SW_SHOW);
  kvtest::Pump(300);
  BITMAPINFO bi = {};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 450, -230, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<uint32_t> pixels(450 * 230);
  HBITMAP frame = static_cast<HBITMAP>(::GetCurrentObject(dlg_.m_dcFrame.m_hMemDC, OBJ_BITMAP));
  ASSERT_EQ(230, ::GetDIBits(dlg_.m_dcFrame.m_hMemDC, frame, 0, 230, pixels.data(), &bi,
                             DIB_RGB_COLORS));
  EXPECT_EQ(0u, pixels[10 * 450 + 100] >> 24) << "above the panel";
  EXPECT_EQ(0xFFu, pixels[120 * 450 + 100] >> 24) << "on the panel";
  EXPECT_NE(pixels[160 * 450 + 289], pixels[160 * 450 + 100]) << "the button is in the frame";

  // A hover refresh goes through the frame and puts the button's new picture into it.
  const uint32_t before = pixels[150 * 450 + 289];
  ::SendMessageW(dlg_.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(289, 150));
  EXPECT_EQ(1, dlg_.m_pUninstall->m_nState);
  ::GetDIBits(dlg_.m_dcFrame.m_hMemDC, frame, 0, 230, pixels.data(), &bi, DIB_RGB_COLORS);
  EXPECT_NE(before, pixels[150 * 450 + 289]);
  EXPECT_EQ(0u, pixels[10 * 450 + 100] >> 24);
}

// The walk sends its percentages from the engine's thread, its 100 among them, while the key and
// the links are still to go; only the engine's posted 100 means done.
TEST_F(MainDialogWindow, ProgressMessagesSetTargetOnlyThePosted100IsDone) {
  struct Row {
    const char* how;
    bool posted;
    int percent;
    BYTE done;
  };
  const Row rows[] = {{"sent 33", false, 33, 0}, {"sent 100", false, 100, 0},
                      {"posted 66", true, 66, 0}, {"posted 100", true, 100, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.how);
    dlg_.m_bDone = 0;
    std::atomic<bool> delivered{false};
    std::thread engine([&] {
      if (row.posted)
        ::PostMessageW(dlg_.m_hWnd, WM_KV_PROGRESS, row.percent, 0);
      else
        ::SendMessageW(dlg_.m_hWnd, WM_KV_PROGRESS, row.percent, 0);
      delivered = true;
    });
    ASSERT_TRUE(kvtest::PumpUntil([&] { return delivered && dlg_.m_nTarget == row.percent; }, 5000));
    engine.join();
    EXPECT_EQ(row.done, dlg_.m_bDone);
  }
}

// Notes the shown percentage at every paint the animation thread asks for (sent from that thread;
// the paints the window posts itself are left out).
class WatchedMainDlg : public CMainDlg {
 public:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (wnd == m_hWnd && msg == WM_PAINT && ::InSendMessage()) {
      std::lock_guard<std::mutex> lock(mutex);
      shown.push_back(m_nShown);
    }
    return CMainDlg::WndProc(wnd, msg, wParam, lParam);
  }
  // The thread outlives the test: once the display is full it waits for the engine's "done",
  // which never comes here (it would delete the program). So the dialog is never destroyed.
  static WatchedMainDlg* Started(int target) {
    WatchedMainDlg* dlg = std::make_unique<WatchedMainDlg>().release();
    EXPECT_TRUE(dlg->Create(0, 0, 0, 450, 230, 0, true, nullptr));
    dlg->m_nStarted = 1;
    dlg->m_nTarget = target;  // not the message: 100 would also mean "done"
    GetKvThread()->StartThread(&CMainDlg::AnimationThread, dlg, 1);
    return dlg;
  }
  std::vector<int> Shown() {
    std::lock_guard<std::mutex> lock(mutex);
    return shown;
  }
  std::mutex mutex;
  std::vector<int> shown;
};

TEST(MainDialogProgress, DisplayLagsTheEngineInStepsOfTen) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  WatchedMainDlg* dlg = WatchedMainDlg::Started(33);
  kvtest::Pump(1600);
  std::vector<int> seen = dlg->Shown();
  ASSERT_GE(seen.size(), 6u);
  EXPECT_EQ((std::vector<int>{10, 20, 30, 40}), std::vector<int>(seen.begin(), seen.begin() + 4));
  for (size_t i = 4; i < seen.size(); ++i) EXPECT_EQ(40, seen[i]) << "40 is not below 33";

  // The engine's last value arrives.
  dlg->m_nTarget = 100;
  ASSERT_TRUE(kvtest::PumpUntil([&] { return dlg->Shown().back() == 100; }, 5000));
  kvtest::Pump(500);
  seen = dlg->Shown();
  std::vector<int> rising;
  for (int v : seen)
    if (v > 40 && (rising.empty() || rising.back() != v)) rising.push_back(v);
  EXPECT_EQ((std::vector<int>{50, 60, 70, 80, 90, 100}), rising);
  EXPECT_EQ(100, seen.back()) << "the loop ends at 100: no more paints after it";
  const size_t paints = seen.size();
  kvtest::Pump(500);
  EXPECT_EQ(paints, dlg->Shown().size());
}

TEST(MainDialogProgress, StopEndsTheAnimationLoop) {
  WatchedMainDlg* dlg = WatchedMainDlg::Started(100);
  kvtest::Pump(500);
  dlg->m_bStop = 1;
  kvtest::Pump(300);
  const size_t paints = dlg->Shown().size();
  kvtest::Pump(600);
  EXPECT_EQ(paints, dlg->Shown().size());
  EXPECT_LT(dlg->m_nShown, 100);
}

}  // namespace
