// The message box with real windows: its layout for each style, results by button, by the close
// button and by the countdown, the caption sequence, and the countdown thread's end. Clicks are
// posted to the box when it is created and dispatched by its own modal loop.
#include "ui/message_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gfx/font.h"
#include "tests/ui/ui_fixtures.h"
#include "tests/ui/widget_pictures.h"

namespace {

using kvtest::Frame;
using kvtest::Point;

struct Click {
  int x, y;
};

// Posts its clicks once the box's widgets exist, and notes every redraw and close animation.
class ProbeBox : public CKvMsgBox {
 public:
  void OnCreate() override {
    CKvMsgBox::OnCreate();
    created_tick = ::GetTickCount();
    for (const Click& c : clicks) {
      ::PostMessageW(m_hWnd, WM_MOUSEMOVE, 0, Point(c.x, c.y));
      ::PostMessageW(m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, Point(c.x, c.y));
      ::PostMessageW(m_hWnd, WM_LBUTTONUP, 0, Point(c.x, c.y));
    }
  }
  void Redraw() override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      redraws.push_back({m_btnOk.m_strCaption, ::GetTickCount()});
    }
    CKvMsgBox::Redraw();
  }
  void PlayEffect(int effect) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      effects.push_back({effect, m_btnOk.m_strCaption, ::GetCurrentThreadId()});
    }
    CKvMsgBox::PlayEffect(effect);
  }
  // Waits for the countdown thread, if any, to be over. Pumps meanwhile: the thread's last
  // steps send messages to this thread's window.
  bool CountdownEnded(DWORD ms) {
    return !m_hCountdownThread ||
           kvtest::PumpUntil(
               [&] { return ::WaitForSingleObject(m_hCountdownThread, 0) == WAIT_OBJECT_0; }, ms);
  }

  struct Redrawn {
    std::wstring caption;
    DWORD tick;
  };
  struct Effect {
    int effect;
    std::wstring caption;
    DWORD thread;
  };
  std::vector<Click> clicks;
  DWORD created_tick = 0;
  std::mutex mutex;
  std::vector<Redrawn> redraws;
  std::vector<Effect> effects;
};

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(kvtest::UseWidgetPictures()); }
  // A 300 x 200 box without animations.
  int Show(ProbeBox& box, int style, int countdown = 0, const wchar_t* title = L"标题",
           const wchar_t* message = L"消息") {
    return box.ShowBox(nullptr, message, title, style, countdown, 300, 200, -1, -1);
  }
};

TEST_F(MessageBoxTest, ConstructorDefaults) {
  CKvMsgBox box;
  EXPECT_EQ(L"提示信息", box.m_strTitle);
  EXPECT_EQ(30, box.m_nCaptionHeight);
  EXPECT_EQ(107, box.m_nIconId);
  EXPECT_EQ(0, box.m_nStyle);
  EXPECT_EQ(0, box.m_nPicture);
  EXPECT_EQ(0, box.m_nCountdown);
  EXPECT_FALSE(box.m_bShowCheck);
  EXPECT_EQ(nullptr, box.m_hCountdownThread);
  EXPECT_EQ(2, box.m_nResult);
  EXPECT_EQ(&box, box.m_pContext);
}

TEST_F(MessageBoxTest, StyleZeroLayoutAndOkReturnsOne) {
  ProbeBox box;
  box.clicks = {{150, 182}};  // the OK button's middle
  EXPECT_EQ(1, Show(box, 0));
  EXPECT_FALSE(::IsWindowVisible(box.m_hWnd));
  // Close button, title, OK, in that order.
  ASSERT_EQ(3u, box.m_vecChildren.size());
  EXPECT_EQ(&box.m_btnClose, box.m_vecChildren[0]);
  EXPECT_EQ(&box.m_txtTitle, box.m_vecChildren[1]);
  EXPECT_EQ(&box.m_btnOk, box.m_vecChildren[2]);
  EXPECT_EQ(260, box.m_btnClose.m_nX);
  EXPECT_EQ(1, box.m_btnClose.m_nY);
  EXPECT_EQ(38, box.m_btnClose.m_nWidth);
  EXPECT_EQ(18, box.m_btnClose.m_nHeight);
  EXPECT_EQ(60006, box.m_btnClose.m_nPicId);
  EXPECT_EQ(3, box.m_btnClose.m_nStateCount);
  EXPECT_EQ(0, box.m_btnClose.m_nEdgeWidth);
  EXPECT_EQ(35, box.m_txtTitle.m_nX);
  EXPECT_EQ(4, box.m_txtTitle.m_nY);
  EXPECT_EQ(200, box.m_txtTitle.m_nWidth);
  EXPECT_EQ(25, box.m_txtTitle.m_nHeight);
  EXPECT_EQ(L"标题", box.m_txtTitle.m_strText);
  EXPECT_EQ(RGB(255, 255, 255), box.m_txtTitle.m_crText);
  const bool yahei = GetKvFont()->isSupportYaHei();
  EXPECT_EQ(yahei ? GetKvFont()->GetFont(20, nullptr, 1, 0, 0)
                  : GetKvFont()->GetFont(14, L"宋体", 1, 0, 0),
            box.m_txtTitle.m_hFont);
  EXPECT_EQ(115, box.m_btnOk.m_nX);
  EXPECT_EQ(170, box.m_btnOk.m_nY);
  EXPECT_EQ(70, box.m_btnOk.m_nWidth);
  EXPECT_EQ(25, box.m_btnOk.m_nHeight);
  EXPECT_EQ(L"确定", box.m_btnOk.m_strCaption);
  EXPECT_EQ(60001, box.m_btnOk.m_nPicId);
  EXPECT_EQ(4, box.m_btnOk.m_nStateCount);
  EXPECT_EQ(60056, box.m_nPicture);
  EXPECT_EQ(box.m_hWnd, box.m_btnOk.m_hHostWnd);
  // A plain (not layered) popup.
  EXPECT_FALSE(box.m_bLayeredWnd);
  EXPECT_EQ(static_cast<LONG>(WS_POPUP), ::GetWindowLongW(box.m_hWnd, GWL_STYLE) & WS_POPUP);
  ASSERT_EQ(1u, box.effects.size());
  EXPECT_EQ(-1, box.effects[0].effect) << "the close effect";
}

TEST_F(MessageBoxTest, CloseButtonReturnsTwo) {
  ProbeBox box;
  box.clicks = {{279, 10}};
  EXPECT_EQ(2, Show(box, 0));
  EXPECT_EQ(1u, box.effects.size());
}

// A box whose window cannot be made (its owner is gone) is cancelled at once, rather than
// disabling the owner and waiting for a close that cannot come.
TEST_F(MessageBoxTest, NoWindowCancelsAtOnce) {
  HWND gone = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, gone);
  ::DestroyWindow(gone);
  std::atomic<int> result{-1};
  std::thread showing([&result, gone] {
    CKvMsgBox box;
    result = box.ShowBox(gone, L"消息", L"标题", 0, 0, 300, 200, -1, -1);
  });
  for (int i = 0; i < 500 && result < 0; ++i) ::Sleep(10);
  if (result < 0) {
    showing.detach();  // it waits for ever; the process's end takes it
    FAIL() << "ShowBox did not return";
  }
  showing.join();
  EXPECT_EQ(2, result);
}

TEST_F(MessageBoxTest, StyleOneLayoutAndBothButtons) {
  ProbeBox cancel;
  cancel.clicks = {{195, 182}};
  EXPECT_EQ(2, Show(cancel, 1));
  EXPECT_EQ(70, cancel.m_btnOk.m_nX);
  EXPECT_EQ(160, cancel.m_btnCancel.m_nX);
  EXPECT_EQ(170, cancel.m_btnCancel.m_nY);
  EXPECT_EQ(L"取消", cancel.m_btnCancel.m_strCaption);
  EXPECT_EQ(60057, cancel.m_nPicture);
  ASSERT_EQ(4u, cancel.m_vecChildren.size());
  EXPECT_EQ(&cancel.m_btnOk, cancel.m_vecChildren[2]);
  EXPECT_EQ(&cancel.m_btnCancel, cancel.m_vecChildren[3]);

  ProbeBox ok;
  ok.clicks = {{105, 182}};
  EXPECT_EQ(1, Show(ok, 1));
}

TEST_F(MessageBoxTest, OtherStylesHaveNoPushButtonsAndKeepThePicture) {
  ProbeBox box;
  box.clicks = {{150, 182}, {279, 10}};  // nothing at the first place; then the close button
  EXPECT_EQ(2, Show(box, 2));
  ASSERT_EQ(2u, box.m_vecChildren.size());
  EXPECT_EQ(0, box.m_nPicture);
  EXPECT_EQ(1u, box.effects.size()) << "the first click hit nothing";

  ProbeBox own;
  own.m_nPicture = 60061;
  own.clicks = {{150, 182}};
  EXPECT_EQ(1, Show(own, 0));
  EXPECT_EQ(60061, own.m_nPicture) << "a picture set beforehand stays";
}

TEST_F(MessageBoxTest, ButtonOffsetMovesThePushButtons) {
  ProbeBox box;
  box.m_nButtonOffset = -20;
  box.clicks = {{150, 162}};
  EXPECT_EQ(1, Show(box, 0));
  EXPECT_EQ(150, box.m_btnOk.m_nY);
}

TEST_F(MessageBoxTest, TitleAndMessage) {
  ProbeBox keeps;
  keeps.clicks = {{279, 10}};
  keeps.ShowBox(nullptr, nullptr, nullptr, 0, 0, 300, 200, -1, -1);
  EXPECT_EQ(L"提示信息", keeps.m_strTitle);
  EXPECT_EQ(L"提示信息", keeps.m_txtTitle.m_strText);
  EXPECT_TRUE(keeps.m_strMessage.empty());

  // The message lies in the band at (50, 50), 50 high; the picture at (10, 58).
  ProbeBox with;
  with.clicks = {{279, 10}};
  Show(with, 0, 0, L"标题", L"卸载已完成。");
  Frame bare(300, 200), full(300, 200);
  keeps.DrawOverlay(bare.dc());
  with.DrawOverlay(full.dc());
  EXPECT_EQ(0, bare.Opaque(60, 45, 300, 105)) << "no message, no text";
  EXPECT_GT(full.Opaque(50, 50, 245, 100), 20);
  EXPECT_EQ(0, full.Opaque(245, 0, 300, 200));
  EXPECT_EQ(0, full.Opaque(50, 100, 300, 200));
  EXPECT_GT(bare.Opaque(10, 58, 42, 90), 400) << "the 32 x 32 picture";
  EXPECT_EQ(0, bare.Opaque(0, 90, 50, 200));
}

TEST_F(MessageBoxTest, CheckBoxOnlyWhenAskedAndStartsChecked) {
  ProbeBox without;
  without.clicks = {{279, 10}};
  Show(without, 0);
  for (CKvBase* child : without.m_vecChildren) EXPECT_NE(&without.m_chkBox, child);

  ProbeBox with;
  with.m_bShowCheck = true;
  with.m_bCheckInit = true;
  with.m_strCheckLabel = L"不再提示";
  // Click the check box, then close.
  with.clicks = {{60, 150}, {279, 10}};
  EXPECT_EQ(2, Show(with, 0));
  ASSERT_EQ(4u, with.m_vecChildren.size());
  EXPECT_EQ(&with.m_chkBox, with.m_vecChildren[2]);
  EXPECT_EQ(50, with.m_chkBox.m_nX);
  EXPECT_EQ(140, with.m_chkBox.m_nY);
  EXPECT_EQ(L"不再提示", with.m_chkBox.m_strLabel);
  EXPECT_FALSE(with.m_chkBox.m_bChecked) << "started checked, one click";

  ProbeBox unchecked;
  unchecked.m_bShowCheck = true;
  unchecked.clicks = {{279, 10}};
  Show(unchecked, 0);
  EXPECT_FALSE(unchecked.m_chkBox.m_bChecked);
  EXPECT_EQ(0, unchecked.m_chkBox.m_nState);
}

TEST_F(MessageBoxTest, CountdownClosesWithOneAndCountsInTheCaption) {
  ProbeBox box;
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(1, Show(box, 0, 3));
  const DWORD elapsed = ::GetTickCount() - start;
  EXPECT_GE(elapsed, 2900u);
  EXPECT_LT(elapsed, 8000u);
  ASSERT_TRUE(box.CountdownEnded(1000));
  std::lock_guard<std::mutex> lock(box.mutex);
  ASSERT_EQ(3u, box.redraws.size());
  EXPECT_EQ(L"确定(2)", box.redraws[0].caption);
  EXPECT_EQ(L"确定(1)", box.redraws[1].caption);
  EXPECT_EQ(L"确定(0)", box.redraws[2].caption);
  // The first second shows the plain caption.
  EXPECT_GE(box.redraws[0].tick - box.created_tick, 950u);
  EXPECT_GE(box.redraws[1].tick - box.redraws[0].tick, 950u);
  ASSERT_EQ(1u, box.effects.size());
  EXPECT_EQ(L"确定(0)", box.effects[0].caption) << "just before the close animation";
  EXPECT_NE(::GetCurrentThreadId(), box.effects[0].thread) << "run by the countdown thread";
  EXPECT_EQ(0, box.m_nCountdown);
}

TEST_F(MessageBoxTest, ClickDuringTheCountdownEndsItWithoutASecondClose) {
  ProbeBox box;
  box.clicks = {{195, 182}};  // Cancel
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(2, Show(box, 1, 5));
  // Hiding a window can take Wine up to 2 s without a window manager.
  EXPECT_LT(::GetTickCount() - start, 4500u);
  ASSERT_NE(nullptr, box.m_hCountdownThread);
  EXPECT_TRUE(box.CountdownEnded(200)) << "ends at its next 10 ms step";
  std::lock_guard<std::mutex> lock(box.mutex);
  EXPECT_EQ(1u, box.effects.size());
  EXPECT_EQ(::GetCurrentThreadId(), box.effects[0].thread);
  EXPECT_TRUE(box.redraws.empty());
  EXPECT_EQ(2, box.m_nResult);
}

TEST_F(MessageBoxTest, CountdownAlsoWorksBehindTheOkButtonOfStyleOne) {
  ProbeBox box;
  box.clicks = {{105, 182}};
  EXPECT_EQ(1, Show(box, 1, 2));
  EXPECT_TRUE(box.CountdownEnded(200));
  EXPECT_EQ(L"确定", box.m_btnOk.m_strCaption) << "no second passed";
}

TEST_F(MessageBoxTest, DestructorEndsACountdownThatIsStillRunning) {
  std::optional<ProbeBox> box;
  box.emplace();
  box->m_nCountdown = 50;
  // Created but never run: nothing closes it, so the thread counts on.
  ASSERT_TRUE(box->Create(WS_POPUP, 0, 0, 300, 200, 0, false, nullptr));
  ASSERT_NE(nullptr, box->m_hCountdownThread);
  HANDLE copy = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), box->m_hCountdownThread,
                                ::GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0));
  ::Sleep(50);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(copy, 0));
  const DWORD start = ::GetTickCount();
  box.reset();
  const DWORD destroyed_in = ::GetTickCount() - start;
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(copy, 1000));
  EXPECT_LT(destroyed_in, 1000u);
  EXPECT_GE(destroyed_in, 90u) << "waits its 100 ms first";
  ::CloseHandle(copy);
}

TEST_F(MessageBoxTest, DisablesTheParentWhileOpen) {
  CKvDlg parent;
  ASSERT_TRUE(parent.Create(0, 0, 0, 200, 100, 0, false, nullptr));
  struct Watch : ProbeBox {
    HWND parent_wnd = nullptr;
    bool parent_enabled = true;
    void PlayEffect(int effect) override {
      parent_enabled = ::IsWindowEnabled(parent_wnd) != FALSE;
      ProbeBox::PlayEffect(effect);
    }
  } box;
  box.parent_wnd = parent.m_hWnd;
  box.clicks = {{150, 182}};
  EXPECT_EQ(1, box.ShowBox(parent.m_hWnd, L"m", L"t", 0, 0, 300, 200, -1, -1));
  EXPECT_FALSE(box.parent_enabled);
  EXPECT_TRUE(::IsWindowEnabled(parent.m_hWnd));
}

}  // namespace
