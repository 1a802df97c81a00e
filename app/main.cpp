#include <windows.h>

#include <string>

#include "app/app.h"
#include "app/app_texts.h"
#include "app/command_line.h"
#include "app/main_dialog.h"
#include "app/silent_run.h"
#include "services/crash_dump.h"
#include "ui/message_box.h"
#include "uninstall/run_log.h"
#include "uninstall/uninstaller.h"
#include "util/system.h"

namespace {

DWORD Finish(DWORD code) {
  kv::runlog::Note(L"exit code " + std::to_wstring(code));
  return code;
}

// A stop before the run: told in a box when a person is there, always in the exit code.
DWORD Refuse(const kv::app::Switches& switches, const std::wstring& notice, DWORD code) {
  kv::runlog::Note(notice);
  if (!switches.silent) {
    CKvMsgBox box;
    box.ShowBox(nullptr, notice.c_str(), GetKvApp()->m_szAppName, CKvMsgBox::kStyleOk, 0,
                kv::app::kNoticeWidth, kv::app::kNoticeHeight, kv::app::kNoticeShowEffect,
                kv::app::kNoticeCloseEffect);
  }
  return Finish(code);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  // Run as administrator from a folder others may write to: no library may come from the
  // current folder or the PATH.
  kv::RestrictLibrarySearch();
  CKvApp* app = GetKvApp();
  app->SetAppName(kv::app::kAppName);
  const kv::app::Switches switches = kv::app::ParseSwitches(::GetCommandLineW());
  // Before anything else runs, so that a fault anywhere after this is reported and dumped.
  kv::ShowCrashBox(!switches.silent);
  GetKvDump()->Install(app->m_szAppName, kv::app::kDumpName);
  if (!switches.log.empty() && !kv::runlog::OpenFile(switches.log))
    return Refuse(switches, L"the log cannot be written: " + switches.log, kExitBadSwitch);
  if (!switches.unknown.empty())
    return Refuse(switches, kv::app::kUnknownSwitchNotice + switches.unknown, kExitBadSwitch);
  const kv::app::SingleRun single;
  if (!single) return Refuse(switches, kv::app::kBusyNotice, kExitBusy);
  if (switches.silent) return Finish(kv::app::RunSilently());

  CMainDlg dialog;
  // Without its window the process would wait, invisible, for a quit that never comes.
  constexpr int kNoWindowExitCode = 1;
  if (!dialog.Create(0, 0, 0, kv::app::kWindowWidth, kv::app::kWindowHeight, 0, true, nullptr))
    return Finish(kNoWindowExitCode);
  dialog.ShowDlg(kv::app::kShowEffect, true, SW_SHOW);
  app->m_hMainWnd = dialog.m_hWnd;
  app->MsgLoop();
  return Finish(0);
}
