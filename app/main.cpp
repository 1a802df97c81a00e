#include <windows.h>

#include "app/app.h"
#include "app/app_texts.h"
#include "app/main_dialog.h"
#include "services/crash_dump.h"
#include "util/system.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  // Run as administrator from a folder others may write to: no library may come from the
  // current folder or the PATH.
  kv::RestrictLibrarySearch();
  CKvApp* app = GetKvApp();
  app->SetAppName(kv::app::kAppName);
  // Before any window exists, so that a fault anywhere after this is reported and dumped.
  GetKvDump()->Install(app->m_szAppName, kv::app::kDumpName);

  CMainDlg dialog;
  // Without its window the process would wait, invisible, for a quit that never comes.
  constexpr int kNoWindowExitCode = 1;
  if (!dialog.Create(0, 0, 0, kv::app::kWindowWidth, kv::app::kWindowHeight, 0, true, nullptr))
    return kNoWindowExitCode;
  dialog.ShowDlg(kv::app::kShowEffect, true, SW_SHOW);
  app->m_hMainWnd = dialog.m_hWnd;
  app->MsgLoop();
  return 0;
}
