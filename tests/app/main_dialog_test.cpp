// The main dialog in this test program's own process: the record it reads, what it builds when
// its window is created, what each state draws, and how the progress display follows the engine.
// The clicks that start the engine or end the process are driven end to end (tests/e2e).
#include "app/main_dialog.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
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

void WriteRecordWithName(const std::wstring& dir, const std::wstring& name) {
  UninstallRecord header = {};
  std::wcsncpy(header.displayName, name.c_str(), 49);
  ASSERT_EQ(1, WriteUninstallRecord((dir + L"kvUninstall.dat").c_str(), &header, nullptr, 0,
                                    nullptr, 0));
}

TEST(MainDialog, QuestionCarriesTheDisplayName) {
  const std::wstring dir = kvtest::FreshDir(L"maindlg_name");
  WriteRecordWithName(dir, L"Prod");
  AppDirScope scope(dir);
  CMainDlg dlg;
  EXPECT_EQ(L"Prod", dlg.m_strDisplayName);
  EXPECT_EQ(L"您确定要卸载Prod?", dlg.Question());
}

TEST(MainDialog, MissingRecordLeavesTheNameEmpty) {
  AppDirScope scope(kvtest::FreshDir(L"maindlg_none"));
  CMainDlg dlg;
  EXPECT_TRUE(dlg.m_strDisplayName.empty());
  EXPECT_EQ(L"您确定要卸载?", dlg.Question());
}

TEST(MainDialog, ShortRecordReadsWhatIsThere) {
  const std::wstring dir = kvtest::FreshDir(L"maindlg_short");
  // 200 bytes of key, then "Ab" and the file ends.
  std::string bytes(200, '\0');
  bytes += std::string("A\0b\0", 4);
  kvtest::WriteText(dir + L"kvUninstall.dat", bytes);
  AppDirScope scope(dir);
  CMainDlg dlg;
  EXPECT_EQ(L"Ab", dlg.m_strDisplayName);
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
  EXPECT_EQ(325, cancel->m_nX);
  EXPECT_EQ(60073, cancel->m_nPicId);
  EXPECT_EQ(L"卸 载", uninstall->m_strCaption);
  EXPECT_EQ(255, uninstall->m_nX);
  EXPECT_EQ(60074, uninstall->m_nPicId);
  for (CKvButton* b : {cancel, uninstall}) {
    EXPECT_EQ(148, b->m_nY);
    EXPECT_EQ(68, b->m_nWidth);
    EXPECT_EQ(29, b->m_nHeight);
    EXPECT_EQ(1, b->m_nStateCount);
    EXPECT_EQ(3, b->m_nFrameCount);
    EXPECT_EQ(dy, b->m_nCaptionDy);
    EXPECT_EQ(dlg_.m_hWnd, b->m_hHostWnd);
    EXPECT_TRUE(b->m_bLayered);
    EXPECT_NE(nullptr, b->m_pfnUp);
  }
  EXPECT_EQ(&CMainDlg::OnCancel, cancel->m_pfnUp);
  EXPECT_EQ(&CMainDlg::OnUninstall, uninstall->m_pfnUp);
  EXPECT_TRUE(dlg_.m_bDragAnywhere);
  EXPECT_EQ(60052, dlg_.m_nBkPicId);
  EXPECT_TRUE(::GetWindowLongW(dlg_.m_hWnd, GWL_EXSTYLE) & WS_EX_LAYERED);
}

TEST_F(MainDialogWindow, BackgroundPanelSitsAt89) {
  Frame f(450, 230);
  dlg_.DrawBackground(f.dc(), RECT{0, 0, 1, 1});
  EXPECT_EQ(0, f.Opaque(0, 0, 450, 89)) << "the top stays transparent";
  EXPECT_EQ(0, f.Opaque(437, 89, 450, 230)) << "437 wide at natural size";
  EXPECT_GT(f.Opaque(0, 89, 437, 230), 437 * 141 * 9 / 10);
}

TEST_F(MainDialogWindow, QuestionStateDrawsTextInItsBox) {
  Frame f(450, 230);
  dlg_.DrawOverlay(f.dc());
  EXPECT_GT(f.Opaque(35, 146, 245, 176), 50) << "the question";
  EXPECT_EQ(f.Opaque(0, 0, 450, 230), f.Opaque(35, 146, 245, 176)) << "and nothing else";
}

// The progress state drawn by hand from the layout's numbers.
void ReferenceProgress(HDC dc, int shown, int marker_y) {
  const int c = shown * 279 / 100;
  RECT src = {c, 0, 279, 23};
  GetKvImage()->DrawImg(dc, 60026, L"IMG", 75 + c, 150, 279 - c, 23, &src);
  GetKvImage()->DrawImg(dc, 60027, L"IMG", shown * 240 / 100 + 60, marker_y, 0, 0, nullptr);
}

TEST_F(MainDialogWindow, ProgressAtFiftyEatsTheStripFromTheLeft) {
  dlg_.m_nStarted = 1;
  dlg_.m_nShown = 50;
  Frame drawn(450, 230), expected(450, 230);
  dlg_.m_nMarkerY = 0;
  dlg_.DrawOverlay(drawn.dc());
  EXPECT_EQ(30, dlg_.m_nMarkerY);
  ReferenceProgress(expected.dc(), 50, 30);
  EXPECT_EQ(expected.Pixels(), drawn.Pixels());
  // Strip from x 214; the marker, 137 wide, from x 180.
  EXPECT_EQ(0, drawn.Opaque(0, 0, 180, 230));
  EXPECT_GT(drawn.Opaque(318, 150, 354, 173), 0);
  EXPECT_EQ(0, drawn.Opaque(354, 0, 450, 230));
  EXPECT_EQ(0, drawn.Opaque(180, 0, 450, 30)) << "marker at y 30";
}

TEST_F(MainDialogWindow, MarkerHopsAndRestsAtHundred) {
  dlg_.m_nStarted = 1;
  dlg_.m_nShown = 40;
  std::vector<int> ys;
  for (int i = 0; i < 4; ++i) {
    Frame f(450, 230);
    dlg_.DrawOverlay(f.dc());
    ys.push_back(dlg_.m_nMarkerY);
  }
  EXPECT_EQ((std::vector<int>{30, 0, 30, 0}), ys);
  dlg_.m_nShown = 100;
  for (int i = 0; i < 2; ++i) {
    Frame f(450, 230), expected(450, 230);
    dlg_.DrawOverlay(f.dc());
    EXPECT_EQ(30, dlg_.m_nMarkerY);
    ReferenceProgress(expected.dc(), 100, 30);
    EXPECT_EQ(expected.Pixels(), f.Pixels());
    EXPECT_EQ(0, f.Opaque(0, 0, 300, 230)) << "no strip left, marker at x 300";
  }
}

// The frame buffer keeps the alpha channel of the composed frame: a single button's refresh starts
// from it, and would otherwise turn the transparent band above the panel opaque.
TEST_F(MainDialogWindow, FrameBufferKeepsTheTransparentBand) {
  dlg_.ShowDlg(-1, true, SW_SHOW);
  kvtest::Pump(300);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = 450;
  bi.bmiHeader.biHeight = -230;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
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

TEST_F(MainDialogWindow, ProgressMessagesSetTargetAndDone) {
  EXPECT_EQ(0, ::SendMessageW(dlg_.m_hWnd, WM_KV_PROGRESS, 33, 0));
  EXPECT_EQ(33, dlg_.m_nTarget);
  EXPECT_EQ(0, dlg_.m_bDone);
  ::SendMessageW(dlg_.m_hWnd, WM_KV_PROGRESS, 100, 0);
  EXPECT_EQ(100, dlg_.m_nTarget);
  EXPECT_EQ(1, dlg_.m_bDone);
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
  std::vector<int> Shown() {
    std::lock_guard<std::mutex> lock(mutex);
    return shown;
  }
  std::mutex mutex;
  std::vector<int> shown;
};

TEST(MainDialogProgress, DisplayLagsTheEngineInStepsOfTen) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  // The thread outlives this test: once the display is full it waits for the engine's "done",
  // which never comes here (it would delete the program). The dialog must outlive it too, so it
  // is never destroyed.
  WatchedMainDlg* dlg = std::make_unique<WatchedMainDlg>().release();
  ASSERT_TRUE(dlg->Create(0, 0, 0, 450, 230, 0, true, nullptr));
  dlg->m_nStarted = 1;
  ::SendMessageW(dlg->m_hWnd, WM_KV_PROGRESS, 33, 0);
  GetKvThread()->StartThread(&CMainDlg::AnimationThread, dlg, 1);
  kvtest::Pump(1600);
  std::vector<int> seen = dlg->Shown();
  ASSERT_GE(seen.size(), 6u);
  EXPECT_EQ((std::vector<int>{10, 20, 30, 40}), std::vector<int>(seen.begin(), seen.begin() + 4));
  for (size_t i = 4; i < seen.size(); ++i) EXPECT_EQ(40, seen[i]) << "40 is not below 33";

  // The engine's last value arrives (set directly: the 100 message would also mean "done").
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
  WatchedMainDlg* dlg = std::make_unique<WatchedMainDlg>().release();  // outlives its thread
  ASSERT_TRUE(dlg->Create(0, 0, 0, 450, 230, 0, true, nullptr));
  dlg->m_nStarted = 1;
  dlg->m_nTarget = 100;
  GetKvThread()->StartThread(&CMainDlg::AnimationThread, dlg, 1);
  kvtest::Pump(500);
  dlg->m_bStop = 1;
  kvtest::Pump(300);
  const size_t paints = dlg->Shown().size();
  kvtest::Pump(600);
  EXPECT_EQ(paints, dlg->Shown().size());
  EXPECT_LT(dlg->m_nShown, 100);
}

}  // namespace
