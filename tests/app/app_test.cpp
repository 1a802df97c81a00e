#include "app/app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/test_support.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

TEST(App, ConstructionFacts) {
  CKvApp& app = *GetKvApp();
  EXPECT_EQ(&app, GetKvApp());
  EXPECT_EQ(::GetModuleHandleW(nullptr), app.m_hInstance);
  EXPECT_EQ(nullptr, app.m_hMainWnd);
  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring expected = module;
  expected.erase(expected.rfind(L'\\') + 1);
  EXPECT_EQ(expected, app.m_szAppDir);
  EXPECT_EQ(-1, app.m_nCaretX);
  EXPECT_EQ(-1, app.m_nCaretY);
  EXPECT_EQ(20, app.m_nCaretHeight);
  EXPECT_EQ(0, app.m_bExiting.load());
}

TEST(App, NameIsCutToItsRoom) {
  CKvApp app;
  app.SetAppName(L"栎禾软件-卸载程序");
  EXPECT_STREQ(L"栎禾软件-卸载程序", app.m_szAppName);
  app.SetAppName(std::wstring(250, L'n').c_str());
  EXPECT_EQ(std::wstring(199, L'n'), app.m_szAppName);
}

TEST(App, CurPathEndsWithBackslashAndRespectsRoom) {
  wchar_t dir[MAX_PATH + 1] = {};
  GetCurPath(dir, MAX_PATH + 1);
  const std::wstring text = dir;
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(L'\\', text.back());
  wchar_t small[4] = {L'z', L'z', L'z', L'z'};
  GetCurPath(small, 4);  // does not fit: left empty, nothing written past the room
  EXPECT_EQ(L'\0', small[0]);
  EXPECT_EQ(L'z', small[1]);
  wchar_t other[MAX_PATH + 1] = {};
  GetCurPathEx(L"kernel32.dll", other, MAX_PATH + 1);
  EXPECT_NE(text, other);
  GetCurPathEx(L"no_such_module.dll", other, MAX_PATH + 1);
  EXPECT_EQ(text, other);
}

LRESULT CALLBACK CountingProc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_APP) {
    auto* count = reinterpret_cast<int*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
    ++*count;
    if (*count == 3) ::PostQuitMessage(42);
    return 0;
  }
  return ::DefWindowProcW(wnd, msg, wparam, lparam);
}

TEST(App, MsgLoopDispatchesUntilQuit) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = CountingProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KvAppTestCounting";
  ::RegisterClassW(&wc);
  HWND wnd = ::CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             wc.hInstance, nullptr);
  ASSERT_NE(nullptr, wnd);
  int count = 0;
  ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&count));
  for (int i = 0; i < 3; ++i) ::PostMessageW(wnd, WM_APP, 0, 0);
  EXPECT_EQ(42, GetKvApp()->MsgLoop());
  EXPECT_EQ(3, count);
  ::DestroyWindow(wnd);
}

TEST(App, ExitAppEndsThroughNormalExit) {
  const DWORD start = ::GetTickCount();
  const kvtest::ProcessResult r = kvtest::Run(L"\"" + kvtest::BinDir() + L"exitapp_probe.exe\"");
  ASSERT_FALSE(r.timed_out);
  EXPECT_LT(::GetTickCount() - start, 4000u);  // the 5-second timer did not hold the exit up
  EXPECT_EQ(0u, r.exit_code);
  const auto lines = kvtest::Lines(r.output);
  // The exit handlers and the static destructors run; a sleeping timer delays exit by at most
  // its 100 ms wait.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "exit handler ran"), lines.end()) << r.output;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "static destructor ran"), lines.end()) << r.output;
}

}  // namespace

namespace {

LRESULT CALLBACK WhiteProc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return ::DefWindowProcW(wnd, msg, wparam, lparam);
}

TEST(App, DrawCaretInvertsAndRestores) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = WhiteProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KvAppTestCaret";
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  ::RegisterClassW(&wc);
  HWND wnd = ::CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"caret", WS_POPUP | WS_VISIBLE, 50,
                               50, 100, 60, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(nullptr, wnd);
  ::UpdateWindow(wnd);
  kv::WindowDC dc(wnd);
  RECT client = {0, 0, 100, 60};
  ::FillRect(dc.get(), &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  ::GdiFlush();

  CKvApp app;
  app.m_nCaretX = 10;
  app.m_nCaretY = 5;
  app.m_nCaretHeight = 20;
  app.DrawCaret(wnd);
  ::GdiFlush();
  EXPECT_EQ(RGB(0, 0, 0), ::GetPixel(dc.get(), 10, 15));
  EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(dc.get(), 11, 15));
  EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(dc.get(), 10, 26));  // the line ends at y + height
  app.DrawCaret(wnd);  // the second stroke undoes the first
  ::GdiFlush();
  EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(dc.get(), 10, 15));
  ::DestroyWindow(wnd);
}

}  // namespace
