#include <windows.h>

#include "app/app.h"

namespace {
constexpr wchar_t kAppName[] = L"栎禾软件-卸载程序";
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  CKvApp* app = GetKvApp();
  app->SetAppName(kAppName);
  return 0;
}
