#include "ui/message_box.h"

#include "app/app.h"
#include "gfx/font.h"
#include "gfx/image.h"
#include "services/thread.h"
#include "ui/ui_texts.h"
#include "gfx/gfx_texts.h"

namespace {

constexpr DWORD kBoxStyle = WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr int kStepMs = 10;
constexpr int kStepsPerSecond = 100;
constexpr size_t kCaptionRoom = 32;
constexpr int kOkResult = 1;
constexpr int kCancelResult = 2;

CKvMsgBox* BoxOf(void* context) {
  // Children hand over the dialog's own context, the CKvDlg part of the box.
  return static_cast<CKvMsgBox*>(static_cast<CKvDlg*>(context));
}

}  // namespace

CKvMsgBox::CKvMsgBox()
    : m_hIcon(::LoadIconW(GetKvApp()->m_hInstance, MAKEINTRESOURCEW(kv::ui::kAppIcon))),
      m_strTitle(kv::ui::kMsgBoxTitle) {
  m_nCaptionHeight = 30;
  m_nIconId = kv::ui::kAppIcon;
}

CKvMsgBox::~CKvMsgBox() {
  if (m_hCountdownThread) {
    GetKvThread()->ExitThread(m_hCountdownThread, 100);
    m_hCountdownThread = nullptr;
  }
}

int CKvMsgBox::ShowBox(HWND parent, const wchar_t* message, const wchar_t* title, int style,
                       int countdown, int width, int height, int showEffect, int closeEffect) {
  m_strMessage = message ? message : L"";
  if (title) m_strTitle = title;
  m_nStyle = style;
  m_nCountdown = countdown;
  m_nCloseEffect = closeEffect;
  m_bClosing = false;
  // Without a window the modal loop would disable the parent and wait for a close that can never
  // come: the box counts as cancelled at once.
  if (!Create(kBoxStyle, 0, 0, width, height, 0, false, parent)) return kCancelResult;
  return DoModal(showEffect, true, true);
}

void CKvMsgBox::OnCreate() {
  CKvDlg::OnCreate();
  RECT client = {};
  ::GetClientRect(m_hWnd, &client);
  const int W = client.right - client.left;
  const int H = client.bottom - client.top;

  m_btnClose.Init(L"", W - 40, 1, 38, 18, 0, 1, m_hWnd, nullptr);
  m_btnClose.m_nPicId = kv::ui::kCloseButtonPicture;
  m_btnClose.m_nStateCount = 3;
  m_btnClose.m_pfnUp = CancelAction;
  m_vecChildren.push_back(&m_btnClose);

  m_txtTitle.SetText({m_strTitle, 35, 4, 200, 25, false});
  if (GetKvFont()->isSupportYaHei())
    m_txtTitle.SetFont(20, RGB(255, 255, 255), nullptr, 1, 0, 0);
  else
    m_txtTitle.SetFont(14, RGB(255, 255, 255), kv::ui::kSongTiFace, 1, 0, 0);
  m_vecChildren.push_back(&m_txtTitle);

  if (m_bShowCheck) {
    m_chkBox.Init(m_strCheckLabel.c_str(), 50, H - 60, 200, 20, m_bCheckInit, 0, 1, m_hWnd,
                  nullptr);
    m_vecChildren.push_back(&m_chkBox);
  }

  const int buttonY = H + m_nButtonOffset - 30;
  if (m_nStyle == 0) {
    if (m_nPicture == 0) m_nPicture = kv::ui::kInfoPicture;
    m_btnOk.Init(kv::ui::kMsgBoxOk, m_nWidth / 2 - 35, buttonY, 70, 25, 2, 1, m_hWnd, nullptr);
    m_btnOk.m_pfnUp = OkAction;
    m_vecChildren.push_back(&m_btnOk);
  } else if (m_nStyle == 1) {
    if (m_nPicture == 0) m_nPicture = kv::ui::kQuestionPicture;
    m_btnOk.Init(kv::ui::kMsgBoxOk, m_nWidth / 2 - 80, buttonY, 70, 25, 2, 1, m_hWnd, nullptr);
    m_btnOk.m_pfnUp = OkAction;
    m_btnCancel.Init(kv::ui::kMsgBoxCancel, m_nWidth / 2 + 10, buttonY, 70, 25, 2, 1, m_hWnd,
                     nullptr);
    m_btnCancel.m_pfnUp = CancelAction;
    m_vecChildren.push_back(&m_btnOk);
    m_vecChildren.push_back(&m_btnCancel);
  }

  // The countdown thread rewrites the caption while this thread paints it: with the room taken
  // now, the text never moves to new storage under the painter.
  m_btnOk.m_strCaption.reserve(kCaptionRoom);
  // Without the thread the box simply stays open until a button closes it.
  if (m_nCountdown > 0) m_hCountdownThread = GetKvThread()->StartThread(CountdownThread, this, 0);
}

void CKvMsgBox::DrawOverlay(HDC dc) {
  // The message in a band 50 pixels high, wrapping as needed; the picture at its natural size.
  if (!m_strMessage.empty()) {
    GetKvImage()->DrawString(dc, m_hFont, m_strMessage.c_str(), 50, 50, m_nWidth - 55, 50,
                             RGB(0, 0, 0), 254, false, false, 0);
  }
  if (m_nPicture != 0)
    GetKvImage()->DrawImg(dc, m_nPicture, kv::gfx::kImageType, 10, 58, 0, 0, nullptr);
  if (m_hIcon) ::DrawIconEx(dc, 5, 5, m_hIcon, 24, 24, 0, nullptr, DI_NORMAL);
}

void CKvMsgBox::CloseWith(int result) {
  if (m_bClosing.exchange(true)) return;
  PlayEffect(m_nCloseEffect);
  EndDialog(result);
}

void CKvMsgBox::OkAction(void* context) {
  if (context) BoxOf(context)->CloseWith(kOkResult);
}

void CKvMsgBox::CancelAction(void* context) {
  if (context) BoxOf(context)->CloseWith(kCancelResult);
}

unsigned __stdcall CKvMsgBox::CountdownThread(void* param) {
  auto* box = static_cast<CKvMsgBox*>(param);
  while (box->m_nCountdown > 0) {
    // A box closed by a click ends the count within one step, without a second close.
    for (int step = 0; step < kStepsPerSecond; ++step) {
      if (box->m_bClosed || box->m_bClosing) return 0;
      ::Sleep(kStepMs);
    }
    const int left = --box->m_nCountdown;
    // At most "确定(-2147483648)": well inside the room.
    wchar_t caption[kCaptionRoom] = {};
    ::wsprintfW(caption, kv::ui::kMsgBoxOkCountdown, left);
    box->m_btnOk.m_strCaption = caption;
    box->Redraw();
  }
  OkAction(static_cast<CKvDlg*>(box));
  // The modal loop only looks at the closed flag when a message arrives.
  ::PostMessageW(box->m_hWnd, WM_NULL, 0, 0);
  return 0;
}
