#pragma once
// The toolkit's modal message box in the dialog skin: title, close button, picture, message, an
// optional check box and one or two push buttons. It can close itself after a countdown shown in
// the OK button's caption.
#include <windows.h>

#include <atomic>
#include <string>

#include "ui/button.h"
#include "ui/checkbox.h"
#include "ui/dialog.h"
#include "ui/text.h"

class CKvMsgBox : public CKvDlg {
 public:
  CKvMsgBox();
  // Ends a countdown thread still running: at most 100 ms, then it is terminated.
  ~CKvMsgBox() override;

  void OnCreate() override;
  void DrawOverlay(HDC dc) override;

  // Styles: the push buttons the box shows (any other value: none).
  static constexpr int kStyleOk = 0;
  static constexpr int kStyleOkCancel = 1;
  // Results of ShowBox.
  static constexpr int kResultOk = 1;
  static constexpr int kResultCancel = 2;

  // countdown > 0: closes itself as OK after that many seconds. Returns kResultOk for OK (or the
  // countdown), kResultCancel for every other way, and at once when the box's window cannot be
  // made.
  int ShowBox(HWND parent, const wchar_t* message, const wchar_t* title, int style, int countdown,
              int width, int height, int showEffect, int closeEffect);

  HICON m_hIcon = nullptr;  // shared icon from LoadIconW: never destroyed
  std::wstring m_strTitle;
  std::wstring m_strMessage;
  std::wstring m_strCheckLabel;
  CKvButton m_btnClose;
  CKvButton m_btnOk;
  CKvButton m_btnCancel;
  CKvCheckBox m_chkBox;
  CKvText m_txtTitle;
  int m_nStyle = 0;
  int m_nCloseEffect = 0;
  // Counted down by the countdown thread, read by the window's thread.
  std::atomic<int> m_nCountdown{0};
  bool m_bCheckInit = false;
  bool m_bShowCheck = false;
  HANDLE m_hCountdownThread = nullptr;
  int m_nPicture = 0;  // 0: the style's own picture
  int m_nButtonOffset = 0;
  // Set by the first of the OK and Cancel actions. The closed flag only comes after the window
  // has been hidden, which can take long; until then the countdown must not close a second time.
  std::atomic<bool> m_bClosing{false};

 private:
  // Button callbacks and the end of the countdown; context is the box.
  static void OkAction(void* context);
  static void CancelAction(void* context);
  // The close animation, then the result; only the first caller closes.
  void CloseWith(int result);
  // Runs on the countdown thread.
  static unsigned __stdcall CountdownThread(void* param);
};
