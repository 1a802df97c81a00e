#include "gfx/clipboard.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// What GetClipboard leaves in a buffer of '#' with that room; nothing may be written past it.
std::wstring Get(int room) {
  wchar_t buffer[65];
  std::wmemset(buffer, L'#', 65);
  EXPECT_EQ(1, GetClipboard(buffer, room));
  EXPECT_EQ(L'#', buffer[room]);
  return std::wstring(buffer, std::find(buffer, buffer + room + 1, L'\0'));
}

TEST(Clipboard, RoundTripReplacesEverythingAndCutsToTheRoom) {
  ASSERT_TRUE(::OpenClipboard(nullptr));  // narrow text that the wide text must replace
  ::EmptyClipboard();
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, 7);
  std::memcpy(::GlobalLock(block), "narrow", 7);
  ::GlobalUnlock(block);
  ::SetClipboardData(CF_TEXT, block);
  ::CloseClipboard();
  ASSERT_EQ(1, SetClipboard(L"栎禾软件 kvUninstall"));
  EXPECT_EQ(L"栎禾软件 kvUninstall", ClipboardText());
  EXPECT_EQ(L"栎禾软件 kvUninstall", Get(64));
  ASSERT_EQ(1, SetClipboard(L""));
  EXPECT_EQ(L"", ClipboardText());
  ASSERT_EQ(1, SetClipboard(L"abcdefgh"));
  EXPECT_EQ(L"abcd", Get(5));  // cut and terminated
  ASSERT_EQ(1, SetClipboard(L"abcde"));
  EXPECT_EQ(L"abcd", Get(5));  // exactly as long as the room: cut as well, so the terminator fits
  EXPECT_EQ(L"abcde", Get(6));
}

TEST(Clipboard, NoTextOrABusyClipboardLeavesTheBufferAlone) {
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  ::CloseClipboard();
  wchar_t buffer[8] = L"kept";
  EXPECT_EQ(1, GetClipboard(buffer, 8));
  EXPECT_EQ(std::wstring(L"kept"), buffer);
  // While another thread holds the clipboard open, neither call gets in.
  kv::UniqueHandleKernel opened(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  kv::UniqueHandleKernel release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread holder([&] {
    HWND wnd = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    const BOOL ok = ::OpenClipboard(wnd);
    ::SetEvent(opened.get());
    ::WaitForSingleObject(release.get(), 10000);
    if (ok) ::CloseClipboard();
    ::DestroyWindow(wnd);
  });
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(opened.get(), 10000));
  EXPECT_EQ(0, SetClipboard(L"blocked"));
  EXPECT_EQ(0, GetClipboard(buffer, 8));
  EXPECT_EQ(std::wstring(L"kept"), buffer);
  ::SetEvent(release.get());
  holder.join();
  EXPECT_EQ(1, SetClipboard(L"free again"));
}

kv::UniqueFont MakeFont(int height) {
  LOGFONTW lf = {};
  lf.lfHeight = -height;
  lf.lfCharSet = DEFAULT_CHARSET;
  std::wcscpy(lf.lfFaceName, L"WenQuanYi Micro Hei");
  return kv::UniqueFont(::CreateFontIndirectW(&lf));
}

TEST(TextWidth, MeasuresInTheFontGivenAndGivesAWindowItsFontBack) {
  kv::UniqueFont small = MakeFont(12), large = MakeFont(36);
  ASSERT_TRUE(small && large);
  const int one = KvGetStrWidth(L"M", nullptr, small.get()), four = KvGetStrWidth(L"MMMM", nullptr, small.get());
  ASSERT_GT(one, 0);
  EXPECT_EQ(4 * one, four);  // advances add up
  const int large_four = KvGetStrWidth(L"MMMM", nullptr, large.get());
  EXPECT_GT(large_four, 2 * four);
  EXPECT_LT(large_four, 4 * four);
  EXPECT_EQ(0, KvGetStrWidth(L"", nullptr, small.get()));
  EXPECT_GT(KvGetStrWidth(L"卸载", nullptr, small.get()), 0);
  // A window with its own DC keeps what is selected into it between GetDC calls.
  WNDCLASSW wc = {CS_OWNDC, ::DefWindowProcW, 0, 0, ::GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr, L"kvTextWidthOwnDc"};
  ASSERT_NE(0, ::RegisterClassW(&wc));
  HWND wnd = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 100, 40, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(nullptr, wnd);
  const HGDIOBJ before = ::GetCurrentObject(kv::WindowDC(wnd).get(), OBJ_FONT);
  const int on_window = KvGetStrWidth(L"kvUninstall", wnd, large.get());
  EXPECT_GT(on_window, 0);
  EXPECT_EQ(KvGetStrWidth(L"kvUninstall", nullptr, large.get()), on_window);
  EXPECT_EQ(before, ::GetCurrentObject(kv::WindowDC(wnd).get(), OBJ_FONT));
  ::DestroyWindow(wnd);
  ::UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

}  // namespace
