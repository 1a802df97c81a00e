#include <windows.h>

#include "app/app.h"
#include "app/app_texts.h"
#include "app/main_dialog.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  CKvApp* app = GetKvApp();
  app->SetAppName(kv::app::kAppName);

  CMainDlg dialog;
  dialog.Create(0, 0, 0, kv::app::kWindowWidth, kv::app::kWindowHeight, 0, true, nullptr);
  dialog.ShowDlg(kv::app::kShowEffect, true, SW_SHOW);
  app->m_hMainWnd = dialog.m_hWnd;
  app->MsgLoop();
  return 0;
}
