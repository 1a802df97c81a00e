// The message box beyond what the end-to-end run clicks and looks at: what each kind of box is made of, where the
// message goes, the countdown's captions and thread, and a box without a window.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "tests/support/kvtest.h"
#include "ui/message_box.h"
#include "util/handles.h"

namespace {

// Notes the OK caption at every redraw and close animation, and the thread it closed on; a click (x, y) waits for
// its modal loop.
struct ProbeBox : CKvMsgBox {
  void Redraw() override { Note(&captions), CKvMsgBox::Redraw(); }
  void PlayEffect(int effect) override {
    Note(&closes), closed_on = ::GetCurrentThreadId(), CKvMsgBox::PlayEffect(effect);
  }
  void Note(std::vector<std::wstring>* to) {
    std::lock_guard<std::mutex> lock(mutex);
    to->push_back(m_btnOk.m_strCaption);
  }
  void OnCreate() override {
    CKvMsgBox::OnCreate();
    for (UINT msg : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP})
      if (click.x) ::PostMessageW(m_hWnd, msg, 0, MAKELPARAM(click.x, click.y));
  }
  // The countdown thread's last steps send to this thread's window: it is pumped until that thread is over.
  int Show(int style, int countdown) {
    const int result = ShowBox(nullptr, L"消息", L"标题", style, countdown, 300, 200, -1, -1);
    over = kvtest::PumpUntil([&] { return ::WaitForSingleObject(m_hCountdownThread, 0) == WAIT_OBJECT_0; }, 3000);
    return result;
  }
  POINT click = {};
  bool over = false;
  DWORD closed_on = 0;
  std::mutex mutex;
  std::vector<std::wstring> captions, closes;
};

// Made, never shown. style, check box (1 unchecked, 2 checked), own picture, button offset -> children, picture,
// OK's top (-1: none), check box ticked. The message is centred in the band at (50, 50), 50 high.
TEST(MsgBox, Kinds) {
  const int rows[][8] = {{0, 0, 0, 0, 3, 60056, 170, 0}, {1, 0, 0, 0, 4, 60057, 170, 0},
                         {2, 0, 0, 0, 2, 0, -1, 0},      {0, 0, 60061, -20, 3, 60061, 150, 0},
                         {1, 2, 0, 0, 5, 60057, 170, 1}, {0, 1, 0, 0, 4, 60056, 170, 0}};
  for (const auto& r : rows) {
    ProbeBox box;
    box.m_nStyle = r[0], box.m_bShowCheck = r[1], box.m_bCheckInit = r[1] == 2, box.m_nPicture = r[2],
    box.m_nButtonOffset = r[3];
    box.m_strMessage = L"卸载已完成。";
    ASSERT_TRUE(box.Create(WS_POPUP, 0, 0, 300, 200, 0, false, nullptr));
    const auto& kids = box.m_vecChildren;
    const bool ok = std::find(kids.begin(), kids.end(), &box.m_btnOk) != kids.end();
    EXPECT_EQ((std::vector<int>(r + 4, r + 8)),
              (std::vector<int>{int(kids.size()), box.m_nPicture, ok ? box.m_btnOk.m_nY : -1, box.m_chkBox.m_bChecked}))
        << r[0] << r[1];
    kvtest::Frame f(300, 200);
    box.m_nPicture = 0, box.m_hIcon = nullptr;
    box.DrawOverlay(f.dc());
    EXPECT_TRUE(f.Opaque(50, 66, 295, 84) > 20 && f.Opaque(0, 0, 300, 200) == f.Opaque(50, 66, 295, 84));
  }
}

// The caption counts down once a second on the countdown thread, which then closes the box as OK; a click ends the
// count at its next step without a second close; a box that goes away while counting ends its thread.
TEST(MsgBox, Countdown) {
  ProbeBox counted, clicked;
  EXPECT_EQ(1, counted.Show(0, 3));
  EXPECT_EQ((std::vector<std::wstring>{L"确定(2)", L"确定(1)", L"确定(0)"}), counted.captions);
  EXPECT_EQ(std::vector<std::wstring>{L"确定(0)"}, counted.closes) << "once, just before the close";
  EXPECT_TRUE(counted.over && counted.closed_on != ::GetCurrentThreadId());
  clicked.click = {195, 182};  // Cancel
  EXPECT_EQ(2, clicked.Show(1, 5));
  EXPECT_TRUE(clicked.over && clicked.captions.empty() && clicked.closes.size() == 1 &&
              clicked.closed_on == ::GetCurrentThreadId());
  kv::UniqueHandleKernel thread;
  {
    ProbeBox left;  // made but never run: nothing closes it
    left.m_nCountdown = 50;
    ASSERT_TRUE(left.Create(WS_POPUP, 0, 0, 300, 200, 0, false, nullptr));
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), left.m_hCountdownThread, ::GetCurrentProcess(), thread.put(),
                                  SYNCHRONIZE, 0, 0));
  }
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 5000));
}

DWORD WINAPI ShowOverGoneOwner(void* owner) {  // the result, plus 100 unless the box kept its own title
  CKvMsgBox box;
  const int result = box.ShowBox(static_cast<HWND>(owner), nullptr, nullptr, 0, 0, 300, 200, -1, -1);
  return result + (box.m_strTitle == L"提示信息" && box.m_strMessage.empty() ? 0 : 100);
}

// A box whose window cannot be made (its owner is gone) counts as cancelled at once, rather than disabling the
// owner and waiting for a close that cannot come. Without a title it keeps its own.
TEST(MsgBox, NoWindowIsCancelledAtOnce) {
  HWND gone = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(gone && ::DestroyWindow(gone));
  kv::UniqueHandleKernel thread(::CreateThread(nullptr, 0, ShowOverGoneOwner, gone, 0, nullptr));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 10000)) << "ShowBox did not return";
  DWORD result = 0;
  EXPECT_TRUE(::GetExitCodeThread(thread.get(), &result) && result == 2) << result;
}

}  // namespace
