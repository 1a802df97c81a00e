#include "ui/message_box.h"

#include "app/app.h"
#include "gfx/font.h"
#include "gfx/image.h"
#include "services/thread.h"
#include "ui/ui_texts.h"
#include "gfx/gfx_texts.h"
#include "util/format.h"

namespace {

constexpr DWORD kBoxStyle = WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr int kStepMs = 10;
constexpr int kStepsPerSecond = 100;
constexpr DWORD kCountdownExitWaitMs = 100;
constexpr size_t kCaptionRoom = 32;

// The layout, in pixels from the box's top left. The caption bar: the application's icon, the
// title, the close button at the right edge.
constexpr int kCaptionHeight = 30;
constexpr int kIconX = 5, kIconY = 5, kIconSize = 24;
constexpr int kTitleX = 35, kTitleY = 4, kTitleWidth = 200, kTitleHeight = 25;
constexpr int kTitleSizeYaHei = 20, kTitleSizeSimSun = 14;
constexpr COLORREF kTitleColour = RGB(255, 255, 255);
constexpr int kCloseFromRight = 40, kCloseY = 1, kCloseWidth = 38, kCloseHeight = 18;
constexpr int kCloseStates = 3;
// The body: the picture at its natural size beside the message's band.
constexpr int kPictureX = 10, kPictureY = 58;
constexpr int kMessageX = 50, kMessageY = 50, kMessageRightMargin = 55, kMessageHeight = 50;
constexpr COLORREF kMessageColour = RGB(0, 0, 0);
// The check box above the buttons, the buttons above the bottom edge (moved by the box's
// button offset), side by side around the centre.
constexpr int kCheckX = 50, kCheckFromBottom = 60, kCheckWidth = 200, kCheckHeight = 20;
constexpr int kButtonFromBottom = 30, kButtonWidth = 70, kButtonHeight = 25, kButtonGap = 20;
constexpr int kButtonEdge = 2, kButtonFrames = 1;

CKvMsgBox* BoxOf(void* context) {
  // Children hand over the dialog's own context, the CKvDlg part of the box.
  return static_cast<CKvMsgBox*>(static_cast<CKvDlg*>(context));
}

}  // namespace

CKvMsgBox::CKvMsgBox()
    : m_hIcon(::LoadIconW(GetKvApp()->m_hInstance, MAKEINTRESOURCEW(kv::ui::kAppIcon))),
      m_strTitle(kv::ui::kMsgBoxTitle) {
  m_nCaptionHeight = kCaptionHeight;
  m_nIconId = kv::ui::kAppIcon;
}

CKvMsgBox::~CKvMsgBox() {
  if (m_hCountdownThread) {
    GetKvThread()->ExitThread(m_hCountdownThread, kCountdownExitWaitMs);
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
  if (!Create(kBoxStyle, 0, 0, width, height, 0, false, parent)) return kResultCancel;
  return DoModal(showEffect, true, true);
}

void CKvMsgBox::OnCreate() {
  CKvDlg::OnCreate();
  RECT client = {};
  ::GetClientRect(m_hWnd, &client);
  const int W = client.right - client.left;
  const int H = client.bottom - client.top;

  m_btnClose.Init(L"", W - kCloseFromRight, kCloseY, kCloseWidth, kCloseHeight, 0, 1, m_hWnd,
                  nullptr);
  m_btnClose.m_nPicId = kv::ui::kCloseButtonPicture;
  m_btnClose.m_nStateCount = kCloseStates;
  m_btnClose.m_pfnUp = CancelAction;
  m_vecChildren.push_back(&m_btnClose);

  m_txtTitle.SetText({m_strTitle, kTitleX, kTitleY, kTitleWidth, kTitleHeight, false});
  if (GetKvFont()->isSupportYaHei())
    m_txtTitle.SetFont(kTitleSizeYaHei, kTitleColour, nullptr, 1, 0, 0);
  else
    m_txtTitle.SetFont(kTitleSizeSimSun, kTitleColour, kv::gfx::kFaceSimSun, 1, 0, 0);
  m_vecChildren.push_back(&m_txtTitle);

  if (m_bShowCheck) {
    m_chkBox.Init(m_strCheckLabel.c_str(), kCheckX, H - kCheckFromBottom, kCheckWidth, kCheckHeight,
                  m_bCheckInit, 0, 1, m_hWnd, nullptr);
    m_vecChildren.push_back(&m_chkBox);
  }

  const int buttonY = H + m_nButtonOffset - kButtonFromBottom;
  const int centre = m_nWidth / 2;
  if (m_nStyle == kStyleOk) {
    if (m_nPicture == 0) m_nPicture = kv::ui::kInfoPicture;
    m_btnOk.Init(kv::ui::kMsgBoxOk, centre - kButtonWidth / 2, buttonY, kButtonWidth, kButtonHeight,
                 kButtonEdge, kButtonFrames, m_hWnd, nullptr);
    m_btnOk.m_pfnUp = OkAction;
    m_vecChildren.push_back(&m_btnOk);
  } else if (m_nStyle == kStyleOkCancel) {
    if (m_nPicture == 0) m_nPicture = kv::ui::kQuestionPicture;
    m_btnOk.Init(kv::ui::kMsgBoxOk, centre - kButtonGap / 2 - kButtonWidth, buttonY, kButtonWidth,
                 kButtonHeight, kButtonEdge, kButtonFrames, m_hWnd, nullptr);
    m_btnOk.m_pfnUp = OkAction;
    m_btnCancel.Init(kv::ui::kMsgBoxCancel, centre + kButtonGap / 2, buttonY, kButtonWidth,
                     kButtonHeight, kButtonEdge, kButtonFrames, m_hWnd, nullptr);
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
  // The message wraps as needed inside its band.
  if (!m_strMessage.empty()) {
    GetKvImage()->DrawString(dc, m_hFont, m_strMessage.c_str(), kMessageX, kMessageY,
                             m_nWidth - kMessageRightMargin, kMessageHeight, kMessageColour,
                             kv::gfx::kTextAlpha, false, false, 0);
  }
  if (m_nPicture != 0)
    GetKvImage()->DrawImg(dc, m_nPicture, kv::gfx::kImageType, kPictureX, kPictureY, 0, 0, nullptr);
  if (m_hIcon)
    ::DrawIconEx(dc, kIconX, kIconY, m_hIcon, kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
}

void CKvMsgBox::CloseWith(int result) {
  if (m_bClosing.exchange(true)) return;
  PlayEffect(m_nCloseEffect);
  EndDialog(result);
}

void CKvMsgBox::OkAction(void* context) {
  if (context) BoxOf(context)->CloseWith(kResultOk);
}

void CKvMsgBox::CancelAction(void* context) {
  if (context) BoxOf(context)->CloseWith(kResultCancel);
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
    // At most "确定(-2147483648)": well inside the room. Copied, not moved, into the caption so
    // that it keeps its storage.
    const std::wstring caption = kv::FormatBounded(kCaptionRoom, kv::ui::kMsgBoxOkCountdown, left);
    box->m_btnOk.m_strCaption = caption;
    box->Redraw();
  }
  OkAction(static_cast<CKvDlg*>(box));
  // The modal loop only looks at the closed flag when a message arrives.
  ::PostMessageW(box->m_hWnd, WM_NULL, 0, 0);
  return 0;
}
