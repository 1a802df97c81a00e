#include "gfx/icons.h"

#include <gtest/gtest.h>

#include <isguids.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"
#include "util/handles.h"

namespace {

std::wstring TempDir() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  return temp;
}

std::wstring SystemFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH] = {};
  ::GetSystemDirectoryW(dir, MAX_PATH);
  return std::wstring(dir) + L"\\" + name;
}

SIZE IconSize(HICON icon) {
  ICONINFO info = {};
  SIZE size = {};
  if (!::GetIconInfo(icon, &info)) return size;
  kv::UniqueBitmap color(info.hbmColor), mask(info.hbmMask);
  BITMAP bm = {};
  ::GetObjectW(info.hbmMask, sizeof(bm), &bm);
  size.cx = bm.bmWidth;
  // A monochrome icon's mask holds the AND and XOR halves one above the other.
  size.cy = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
  return size;
}

// A hidden window to own tray icons.
class TrayOwner {
 public:
  TrayOwner() : wnd_(::CreateWindowExW(0, L"STATIC", L"kv tray owner", WS_POPUP, 0, 0, 10, 10, nullptr,
                                       nullptr, nullptr, nullptr)) {}
  ~TrayOwner() {
    if (wnd_) ::DestroyWindow(wnd_);
  }
  HWND get() const { return wnd_; }

 private:
  HWND wnd_;
};

TEST(FileIcons, ExtractsAtTheSizeAsked) {
  const std::wstring shell32 = SystemFile(L"shell32.dll");
  for (int size : {16, 32, 48}) {
    kv::UniqueIcon icon(GetFileIcon(shell32.c_str(), 0, size));
    ASSERT_TRUE(icon) << "size " << size;
    const SIZE got = IconSize(icon.get());
    EXPECT_EQ(size, got.cx);
    EXPECT_EQ(size, got.cy);
  }
  kv::UniqueIcon second(GetFileIcon(shell32.c_str(), 3, 32));
  EXPECT_TRUE(second);
}

TEST(FileIcons, NullForMissingFilesOrIcons) {
  EXPECT_EQ(nullptr, GetFileIcon(L"C:\\kvtest\\no_such_file.exe", 0, 32));
  EXPECT_EQ(nullptr, GetFileIcon(nullptr, 0, 32));
  const std::wstring dir = kvtest::FreshDir(L"icons_plain");
  kvtest::WriteText(dir + L"plain.txt", "no icons in here");
  EXPECT_EQ(nullptr, GetFileIcon((dir + L"plain.txt").c_str(), 0, 32));
}

TEST(UrlIcons, LocalNameOfAnIconAddress) {
  EXPECT_EQ(TempDir() + L"host_a_b.ico", kv::UrlIconLocalPath(L"HTTP://Host/A/b.ico"));
  EXPECT_EQ(TempDir() + L"www.example.test_favicon.ico",
            kv::UrlIconLocalPath(L"https://www.Example.test/favicon.ico"));
  // Every occurrence goes, not only a leading one.
  EXPECT_EQ(TempDir() + L"a_b_c.ico", kv::UrlIconLocalPath(L"http://a/http://b/c.ico"));
}

TEST(UrlIcons, ShortcutIcon) {
  const std::wstring dir = kvtest::FreshDir(L"icons_url");
  const std::wstring url_file = dir + L"site.url";
  kvtest::WriteText(url_file,
                    "[InternetShortcut]\r\nURL=http://kvtest.invalid/\r\n"
                    "IconFile=HTTP://KvTest.invalid/Icons/Site.ico\r\nIconIndex=0\r\n");
  const std::wstring local = kv::UrlIconLocalPath(L"HTTP://KvTest.invalid/Icons/Site.ico");
  ::DeleteFileW(local.c_str());

  // No local copy and no download: 0, and the caller's buffer is left as it was.
  wchar_t out[MAX_PATH] = L"untouched";
  EXPECT_EQ(0, GetUrlShortcutIcon(url_file.c_str(), out, 0));
  EXPECT_STREQ(L"untouched", out);
  EXPECT_EQ(0, GetUrlShortcutIcon((dir + L"absent.url").c_str(), out, 0));
  EXPECT_STREQ(L"untouched", out);

  // With a local copy in place the icon is found without any download.
  kvtest::WriteText(local, "icon bytes");
  const int found = GetUrlShortcutIcon(url_file.c_str(), out, 0);
  ::DeleteFileW(local.c_str());
  if (!found) {
    kv::ComInit com;
    kv::ComPtr<IUnknown> shortcut;
    ::CoCreateInstance(CLSID_InternetShortcut, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, shortcut.put_void());
    kv::ComPtr<IShellLinkW> link;
    if (!shortcut || FAILED(shortcut->QueryInterface(IID_IShellLinkW, link.put_void()))) {
      std::printf("SKIPPED: this system's internet shortcut has no shell-link face to read its icon "
                  "location; the local name is checked in UrlIcons.LocalNameOfAnIconAddress\n");
      GTEST_SKIP();
    }
  }
  ASSERT_EQ(1, found);
  EXPECT_EQ(local, std::wstring(out));
}

TEST(UrlIcons, CacheIconOfAnUncachedAddress) {
  // A fresh address has no site icon on record: no path and no icon.
  wchar_t out[MAX_PATH] = L"untouched";
  EXPECT_EQ(0, GetUrlCacheIconPath(L"http://kvtest.invalid/never/visited", out));
  EXPECT_EQ(nullptr, GetUrlCacheIcon(L"http://kvtest.invalid/never/visited", 16));
  EXPECT_EQ(0, GetUrlCacheIconPath(nullptr, out));
}

TEST(Tray, AddModifyDelete) {
  TrayOwner owner;
  ASSERT_NE(nullptr, owner.get());
  kv::UniqueIcon icon(GetFileIcon(SystemFile(L"shell32.dll").c_str(), 0, 16));
  kv::UniqueIcon other(GetFileIcon(SystemFile(L"shell32.dll").c_str(), 3, 16));
  ASSERT_TRUE(icon && other);

  if (!ShowTray(owner.get(), icon.get(), L"栎禾软件", WM_APP + 1)) {
    std::printf("SKIPPED: no notification area answers on this display\n");
    GTEST_SKIP();
  }
  EXPECT_TRUE(SetIcon(owner.get(), other.get()));
  EXPECT_TRUE(SetTip(owner.get(), std::wstring(300, L'x').c_str()));  // cut to the field
  EXPECT_TRUE(ShowBalloon(owner.get(), L"标题", L"正文", 3000));
  // The same icon cannot be added twice.
  EXPECT_FALSE(ShowTray(owner.get(), icon.get(), L"again", WM_APP + 1));
  EXPECT_TRUE(DelTray(owner.get()));
  // Gone: neither changed nor deleted again.
  EXPECT_FALSE(SetTip(owner.get(), L"after"));
  EXPECT_FALSE(DelTray(owner.get()));
}

}  // namespace
