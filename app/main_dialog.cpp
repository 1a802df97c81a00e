#include "app/main_dialog.h"

#include <string>

#include "app/app.h"
#include "app/app_texts.h"
#include "gfx/gfx_texts.h"
#include "gfx/image.h"
#include "services/thread.h"
#include "ui/message_box.h"
#include "uninstall/record.h"
#include "uninstall/report.h"
#include "uninstall/run_log.h"
#include "util/format.h"

namespace {

using namespace kv::app;

// The bar moves towards the engine's percentage a step per frame; the end waits for the engine.
constexpr int kBarStep = 10;
constexpr DWORD kBarFrameMs = 200;
constexpr DWORD kDonePollMs = 50;

std::wstring ReadDisplayName() {
  UninstallRecord record;
  ReadRecordHeader(std::wstring(GetKvApp()->m_szAppDir) + kRecordFileName, &record);
  return SlotText(record.displayName);
}

}  // namespace

CMainDlg::CMainDlg() : m_strDisplayName(ReadDisplayName()) {}

CMainDlg::~CMainDlg() = default;

void CMainDlg::OnCreate() {
  m_bDragAnywhere = true;
  m_nBkPicId = kBackgroundPicture;
  CKvDlg::OnCreate();

  m_pCancel = std::make_unique<CKvButton>(kCancelCaption, kCancelX);
  m_pCancel->m_nPicId = kCancelPicture;
  m_pCancel->m_nStateCount = 1;
  m_pCancel->m_nCaptionDy -= 2;
  m_pCancel->m_pfnUp = OnCancel;
  m_vecChildren.push_back(m_pCancel.get());

  m_pUninstall = std::make_unique<CKvButton>(kUninstallCaption, kUninstallX);
  m_pUninstall->m_nPicId = kUninstallPicture;
  m_pUninstall->m_nStateCount = 1;
  m_pUninstall->m_nCaptionDy -= 2;
  m_pUninstall->m_pfnUp = OnUninstall;
  m_vecChildren.push_back(m_pUninstall.get());

  ::PostMessageW(m_hWnd, WM_PAINT, 0, 0);
  DoReport(kReportEndpoint, kReportTypeOpen, kReportValueOpen);
}

LRESULT CMainDlg::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE) {
    GetKvApp()->ExitApp();
  }
  if (msg == WM_KV_PROGRESS) {
    // The walk sends its percentages, 100 among them, while the key and the shortcuts are still
    // to go; only the engine's posted 100 says it has finished.
    if (wParam == kProgressDone && !::InSendMessage()) m_bDone = 1;
    m_nTarget = static_cast<int>(wParam);
    return 0;
  }
  return CKvDlg::WndProc(wnd, msg, wParam, lParam);
}

void CMainDlg::DrawBackground(HDC dc, RECT) {
  GetKvImage()->DrawImg(dc, kBackgroundPicture, kv::gfx::kImageType, 0, kBackgroundY, 0, 0,
                        nullptr);
}

std::wstring CMainDlg::Question() const {
  return kv::FormatText(kQuestionFormat, {m_strDisplayName});
}

void CMainDlg::DrawOverlay(HDC dc) {
  if (m_nStarted == 0) {
    GetKvImage()->DrawString(dc, m_hFont, Question().c_str(), kQuestionX, kQuestionY, kQuestionW,
                             kQuestionH, m_crText, kv::gfx::kTextAlpha, false, true, 0);
    return;
  }
  const int shown = m_nShown;
  // The marker hops on every paint while the bar runs and rests low once it is full.
  m_nMarkerY = (m_nMarkerY != 0 && shown < kProgressDone) ? 0 : kMarkerRestY;
  const int c = shown * kStripW / kProgressDone;
  // The strip is eaten from the left: its columns c..278 stay where they were.
  RECT src = {c, 0, kStripW, kStripH};
  GetKvImage()->DrawImg(dc, kStripPicture, kv::gfx::kImageType, kStripX + c, kStripY, kStripW - c,
                        kStripH, &src);
  GetKvImage()->DrawImg(dc, kMarkerPicture, kv::gfx::kImageType,
                        shown * kMarkerTravel / kProgressDone + kMarkerX, m_nMarkerY, 0, 0,
                        nullptr);
}

void CMainDlg::OnUninstall(void* context) {
  auto* self = static_cast<CMainDlg*>(context);
  if (!self) return;
  ++self->m_nStarted;
  self->m_bFrozen = true;
  ::PostMessageW(self->m_hWnd, WM_PAINT, 0, 0);
  self->m_engine.StartUninstall(self->m_hWnd, 1);
  GetKvThread()->StartThread(AnimationThread, self, 1);
}

void CMainDlg::OnCancel(void* context) {
  auto* self = static_cast<CMainDlg*>(context);
  if (self) {
    self->m_bStop = 1;
    self->PlayEffect(kCancelEffect);
  }
  kv::runlog::Note(L"cancelled; exit code 0");
  GetKvApp()->ExitApp();
}

unsigned __stdcall CMainDlg::AnimationThread(void* param) {
  auto* self = static_cast<CMainDlg*>(param);
  while (self->m_bStop == 0) {
    if (self->m_nShown < self->m_nTarget) self->m_nShown += kBarStep;
    ::SendMessageW(self->m_hWnd, WM_PAINT, 0, 0);
    ::Sleep(kBarFrameMs);
    if (self->m_nShown >= kProgressDone) break;
  }
  while (self->m_bDone == 0) ::Sleep(kDonePollMs);
  if (self->m_engine.QueuedForRestart() > 0) {
    CKvMsgBox box;
    box.ShowBox(self->m_hWnd, kRestartNotice, GetKvApp()->m_szAppName, CKvMsgBox::kStyleOk, 0,
                kNoticeWidth, kNoticeHeight, kNoticeShowEffect, kNoticeCloseEffect);
  }
  // Ends the process when it can write its script or leave the rest to the restart; returns
  // only when neither works.
  self->m_engine.DeleteSelf();
  ::SendMessageW(self->m_hWnd, WM_CLOSE, 0, 0);
  return 0;
}
