#include "gfx/clipboard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <thread>

#include "util/handles.h"

namespace {

// Reads the clipboard's text directly, as another program would.
std::wstring ClipboardText() {
  if (!::OpenClipboard(nullptr)) return L"<not opened>";
  std::wstring text = L"<no text>";
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    kv::GlobalLockScope lock(data);
    if (lock.get()) text = static_cast<const wchar_t*>(lock.get());
  }
  ::CloseClipboard();
  return text;
}

TEST(Clipboard, RoundTrip) {
  ASSERT_EQ(1, SetClipboard(L"栎禾软件 kvUninstall"));
  EXPECT_EQ(L"栎禾软件 kvUninstall", ClipboardText());
  wchar_t buffer[64];
  std::wmemset(buffer, L'#', 64);
  ASSERT_EQ(1, GetClipboard(buffer, 64));
  EXPECT_EQ(std::wstring(L"栎禾软件 kvUninstall"), buffer);
}

TEST(Clipboard, SetReplacesEverythingElse) {
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  const char narrow[] = "narrow";
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, sizeof(narrow));
  std::memcpy(::GlobalLock(block), narrow, sizeof(narrow));
  ::GlobalUnlock(block);
  ::SetClipboardData(CF_TEXT, block);
  ::CloseClipboard();

  ASSERT_EQ(1, SetClipboard(L"wide"));
  EXPECT_EQ(L"wide", ClipboardText());
  ASSERT_EQ(1, SetClipboard(L""));
  EXPECT_EQ(L"", ClipboardText());
}

TEST(Clipboard, GetCutsToTheRoom) {
  ASSERT_EQ(1, SetClipboard(L"abcdefgh"));
  wchar_t buffer[8];
  std::wmemset(buffer, L'#', 8);
  EXPECT_EQ(1, GetClipboard(buffer, 5));
  EXPECT_EQ(std::wstring(L"abcd"), buffer);
  EXPECT_EQ(L'#', buffer[5]);
  // Exactly as long as the room: cut as well, so the terminator fits.
  ASSERT_EQ(1, SetClipboard(L"abcde"));
  EXPECT_EQ(1, GetClipboard(buffer, 5));
  EXPECT_EQ(std::wstring(L"abcd"), buffer);
  EXPECT_EQ(1, GetClipboard(buffer, 6));
  EXPECT_EQ(std::wstring(L"abcde"), buffer);
}

TEST(Clipboard, NoTextLeavesTheBufferAlone) {
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  ::CloseClipboard();
  wchar_t buffer[8] = L"kept";
  EXPECT_EQ(1, GetClipboard(buffer, 8));
  EXPECT_EQ(std::wstring(L"kept"), buffer);
}

TEST(Clipboard, BusyClipboardFails) {
  // While another thread holds the clipboard open, neither call gets in.
  HANDLE opened = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    HWND wnd = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    const BOOL ok = ::OpenClipboard(wnd);
    ::SetEvent(opened);
    ::WaitForSingleObject(release, 10000);
    if (ok) ::CloseClipboard();
    ::DestroyWindow(wnd);
  });
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(opened, 10000));
  wchar_t buffer[8] = L"kept";
  EXPECT_EQ(0, SetClipboard(L"blocked"));
  EXPECT_EQ(0, GetClipboard(buffer, 8));
  EXPECT_EQ(std::wstring(L"kept"), buffer);
  ::SetEvent(release);
  holder.join();
  ::CloseHandle(opened);
  ::CloseHandle(release);
  EXPECT_EQ(1, SetClipboard(L"free again"));
}

kv::UniqueFont MakeFont(int height) {
  LOGFONTW lf = {};
  lf.lfHeight = -height;
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  std::wcscpy(lf.lfFaceName, L"WenQuanYi Micro Hei");
  return kv::UniqueFont(::CreateFontIndirectW(&lf));
}

TEST(TextWidth, MeasuresInTheFontGiven) {
  kv::UniqueFont small = MakeFont(12), large = MakeFont(36);
  ASSERT_TRUE(small && large);
  const int one = KvGetStrWidth(L"M", nullptr, small.get());
  const int four = KvGetStrWidth(L"MMMM", nullptr, small.get());
  ASSERT_GT(one, 0);
  EXPECT_EQ(4 * one, four);  // advances add up
  const int large_four = KvGetStrWidth(L"MMMM", nullptr, large.get());
  EXPECT_GT(large_four, 2 * four);
  EXPECT_LT(large_four, 4 * four);
  EXPECT_EQ(0, KvGetStrWidth(L"", nullptr, small.get()));
  EXPECT_GT(KvGetStrWidth(L"卸载", nullptr, small.get()), 0);
}

TEST(TextWidth, WindowsOwnDeviceContextGetsItsFontBack) {
  // A window with its own DC keeps what is selected into it between GetDC calls, so a font left
  // selected would show.
  WNDCLASSW wc = {};
  wc.style = CS_OWNDC;
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"kvTextWidthOwnDc";
  ASSERT_NE(0, ::RegisterClassW(&wc));
  HWND wnd = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 100, 40, nullptr, nullptr,
                               wc.hInstance, nullptr);
  ASSERT_NE(nullptr, wnd);
  kv::UniqueFont font = MakeFont(20);
  HGDIOBJ before = nullptr;
  {
    kv::WindowDC dc(wnd);
    before = ::GetCurrentObject(dc.get(), OBJ_FONT);
  }
  const int on_window = KvGetStrWidth(L"kvUninstall", wnd, font.get());
  EXPECT_GT(on_window, 0);
  EXPECT_EQ(KvGetStrWidth(L"kvUninstall", nullptr, font.get()), on_window);
  {
    kv::WindowDC dc(wnd);
    EXPECT_EQ(before, ::GetCurrentObject(dc.get(), OBJ_FONT));
  }
  ::DestroyWindow(wnd);
  ::UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

}  // namespace
