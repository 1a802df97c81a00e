// The message box beyond what the end-to-end run sees: the countdown, one close however many ask, no window.
#include <gtest/gtest.h>

#include <array>
#include <utility>

#include "tests/support/kvtest.h"
#include "ui/message_box.h"
#include "util/handles.h"

namespace {

using Texts = std::vector<std::wstring>;

// Notes the OK caption at every redraw and close animation, the thread it closed on and whether its owner was on.
// click is posted for the modal loop; the race button's callback comes during the first close, as a second would.
struct ProbeBox : CKvMsgBox {
  void Redraw() override { captions.push_back(m_btnOk.m_strCaption), CKvMsgBox::Redraw(); }
  void PlayEffect(int effect) override {
    closes.push_back(m_btnOk.m_strCaption), closed_on = ::GetCurrentThreadId(),
                                            owner_on = ::IsWindowEnabled(m_hHostWnd);
    if (race) (this->*std::exchange(race, nullptr)).m_pfnUp(static_cast<CKvDlg*>(this));
    CKvMsgBox::PlayEffect(effect);
  }
  void OnCreate() override {
    CKvMsgBox::OnCreate();
    for (UINT msg : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP})
      if (click.x) ::PostMessageW(m_hWnd, msg, 0, MAKELPARAM(click.x, click.y));
  }
  POINT click = {};
  CKvButton CKvMsgBox::*race = nullptr;
  DWORD closed_on = 0;
  bool owner_on = true;
  Texts captions, closes;
};

// The caption counts down once a second on the countdown thread, which then closes the box as OK; a click ends the
// count without a second close, and so does an action that comes while the box closes (the countdown's or a click's).
TEST(MsgBox, ClosesOnce) {
  const struct {
    int style, countdown;
    POINT click;  // OK at (105, 182), Cancel at (195, 182)
    CKvButton CKvMsgBox::*race;
    int result;
    Texts captions, closes;
    bool on_countdown_thread;
  } rows[] = {{0, 3, {}, nullptr, 1, {L"确定(2)", L"确定(1)", L"确定(0)"}, {L"确定(0)"}, true},
              {1, 5, {195, 182}, &CKvMsgBox::m_btnOk, 2, {}, {L"确定"}, false},
              {1, 0, {105, 182}, &CKvMsgBox::m_btnCancel, 1, {}, {L"确定"}, false}};
  CKvDlg owner;  // disabled while a box runs over it
  ASSERT_TRUE(owner.Create(0, 0, 0, 100, 100, 0, false, nullptr));
  for (const auto& r : rows) {
    ProbeBox box;
    box.click = r.click, box.race = r.race;
    EXPECT_EQ(r.result, box.ShowBox(owner.m_hWnd, L"消息", L"标题", r.style, r.countdown, 300, 200, -1, -1));
    // The countdown thread's last steps send to this thread's window: it is pumped until that thread is over.
    EXPECT_TRUE(!r.countdown ||
                kvtest::PumpUntil([&] { return !::WaitForSingleObject(box.m_hCountdownThread, 0); }, 3000));
    EXPECT_EQ((std::array{r.captions, r.closes}), (std::array{box.captions, box.closes})) << r.countdown;
    EXPECT_EQ((std::array{r.on_countdown_thread, false, true}),
              (std::array{box.closed_on != ::GetCurrentThreadId(), box.owner_on, ::IsWindowEnabled(owner.m_hWnd) != 0}))
        << r.countdown;
  }
  kv::UniqueHandleKernel thread;
  {
    ProbeBox left;  // made but never run: nothing closes it, yet its thread ends with it
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
  return result + (box.m_strTitle == L"提示信息" ? 0 : 100);
}

// A box whose window cannot be made (its owner is gone) counts as cancelled at once, rather than disabling the
// owner and waiting for a close that cannot come.
TEST(MsgBox, NoWindowIsCancelledAtOnce) {
  HWND gone = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(gone && ::DestroyWindow(gone));
  kv::UniqueHandleKernel thread(::CreateThread(nullptr, 0, ShowOverGoneOwner, gone, 0, nullptr));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 10000)) << "ShowBox did not return";
  DWORD result = 0;
  EXPECT_TRUE(::GetExitCodeThread(thread.get(), &result) && result == 2) << result;
}

}  // namespace
