#include "app/app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/test_support.h"
#include "util/handles.h"

namespace {

TEST(App, ConstructionFactsAndNameRoom) {
  CKvApp& app = *GetKvApp();
  EXPECT_EQ(&app, GetKvApp());
  EXPECT_EQ(::GetModuleHandleW(nullptr), app.m_hInstance);
  EXPECT_EQ(nullptr, app.m_hMainWnd);
  EXPECT_EQ(kvtest::BinDir(), app.m_szAppDir);
  EXPECT_EQ((std::vector<int>{-1, -1, 20, 0}), (std::vector<int>{app.m_nCaretX, app.m_nCaretY,
                                                app.m_nCaretHeight, app.m_bExiting.load()}));
  CKvApp named;
  named.SetAppName(L"栎禾软件-卸载程序");
  EXPECT_STREQ(L"栎禾软件-卸载程序", named.m_szAppName);
  named.SetAppName(std::wstring(250, L'n').c_str());
  EXPECT_EQ(std::wstring(199, L'n'), named.m_szAppName) << "cut to its room";
}

// Windows of a class of their own: count WM_APP and quit on the third; paint white.
LRESULT CALLBACK CountingProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg != WM_APP) return ::DefWindowProcW(wnd, msg, w, l);
  int* n = reinterpret_cast<int*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (++*n == 3) ::PostQuitMessage(42);
  return 0;
}
HWND TestWindow(const wchar_t* cls, int* count, DWORD style, HWND parent) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = CountingProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = cls;
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  ::RegisterClassW(&wc);
  HWND wnd = ::CreateWindowExW(parent ? 0 : WS_EX_TOPMOST, cls, L"", style, 50, 50, 100, 60,
                               parent, nullptr, wc.hInstance, nullptr);
  ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(count));
  return wnd;
}

TEST(App, MsgLoopDispatchesUntilQuit) {
  int count = 0;
  HWND wnd = TestWindow(L"KvAppTestCounting", &count, 0, HWND_MESSAGE);
  ASSERT_NE(nullptr, wnd);
  for (int i = 0; i < 3; ++i) ::PostMessageW(wnd, WM_APP, 0, 0);
  EXPECT_EQ(42, GetKvApp()->MsgLoop());
  EXPECT_EQ(3, count);
  ::DestroyWindow(wnd);
}

TEST(App, ExitAppEndsThroughNormalExit) {
  const DWORD start = ::GetTickCount();
  const kvtest::ProcessResult r = kvtest::Run(L"\"" + kvtest::BinDir() + L"exitapp_probe.exe\"");
  ASSERT_FALSE(r.timed_out);
  // The 5-second timer does not hold the exit up (a sleeping timer delays it by its 100 ms
  // wait at most); the exit handlers and the static destructors run.
  EXPECT_LT(::GetTickCount() - start, 4000u);
  EXPECT_EQ(0u, r.exit_code);
  const auto lines = kvtest::Lines(r.output);
  for (const char* line : {"exit handler ran", "static destructor ran"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << r.output;
}

TEST(App, DrawCaretInvertsAndRestores) {
  int unused = 0;
  HWND wnd = TestWindow(L"KvAppTestCaret", &unused, WS_POPUP | WS_VISIBLE, nullptr);
  ASSERT_NE(nullptr, wnd);
  ::UpdateWindow(wnd);
  kv::WindowDC dc(wnd);
  RECT client = {0, 0, 100, 60};
  ::FillRect(dc.get(), &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  CKvApp app;
  app.m_nCaretX = 10;
  app.m_nCaretY = 5;
  app.m_nCaretHeight = 20;
  auto at = [&](int x, int y) { return ::GdiFlush(), ::GetPixel(dc.get(), x, y); };
  at(0, 0);
  app.DrawCaret(wnd);
  EXPECT_EQ(RGB(0, 0, 0), at(10, 15));
  EXPECT_EQ(RGB(255, 255, 255), at(11, 15));
  EXPECT_EQ(RGB(255, 255, 255), at(10, 26)) << "the line ends at y + height";
  app.DrawCaret(wnd);  // the second stroke undoes the first
  EXPECT_EQ(RGB(255, 255, 255), at(10, 15));
  ::DestroyWindow(wnd);
}

}  // namespace
