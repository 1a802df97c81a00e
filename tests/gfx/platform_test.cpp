// The thin wrappers over the platform (fonts, icons, sound, common dialogs, the clipboard): a smoke
// row each, and rows for what our own code decides.
#include "tests/gfx/gfx.h"

#include <mmsystem.h>
#include <shlobj.h>

#include "gfx/clipboard.h"
#include "gfx/dialogs.h"
#include "gfx/font.h"
#include "gfx/icons.h"
#include "gfx/media.h"

namespace {

using namespace gfxtest;

LOGFONTW Read(HGDIOBJ font) {
  LOGFONTW lf = {};
  GetObjectW(font, sizeof(lf), &lf);
  return lf;
}

// YaHei is found by its file in the fonts folder, put there for a moment (the run holds the
// fonts_folder lock); the choice is made once, when the cache is made.
TEST(Font, DefaultFaceFollowsYaHeiAndEachKeyMakesOneFont) {
  wchar_t fonts[MAX_PATH] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, fonts, CSIDL_FONTS, FALSE));
  for (const wchar_t* file : {L"", L"\\msyh.ttc", L"\\msyh.ttf"}) {
    const std::wstring path = fonts + std::wstring(file), face = *file ? L"微软雅黑" : L"宋体";
    if (*file) kvtest::WriteText(path, "only its name counts");
    CKvFont cache;
    const int found = cache.CheckFont(L"微软雅黑");
    const int others = cache.CheckFont(L"宋体") + cache.CheckFont(L"Microsoft YaHei") + cache.CheckFont(nullptr);
    DeleteFileW(path.c_str());
    const LOGFONTW lf = Read(cache.GetFont(0, nullptr, 0, 0, 0));
    EXPECT_EQ(std::tuple(int{*file != 0}, int{*file != 0}, 0, face, *file ? 18 : 12, *file ? 18L : 12L),
              std::tuple(found, cache.isSupportYaHei(), others, std::wstring(lf.lfFaceName), cache.GetDefaultSize(),
                         lf.lfHeight))
        << kvtest::Utf8(file);
  }
  HFONT gone = nullptr;
  {
    CKvFont c;
    HFONT plain = gone = c.GetFont(0, nullptr, 0, 0, 0);
    HFONT bold1 = c.GetFont(12, L"宋体", 1, 0, 0), bold2 = c.GetFont(12, L"宋体", 2, 0, 0);
    const LOGFONTW styled = Read(c.GetFont(-16, L"宋体", 0, 0x101, 0x201));
    ExpectRows({
        {"the same key: the same font", [&] { return plain == c.GetFont(12, L"宋体", 0, 0, 0); }},
        {"bold 1 and 2: two keys, both bold",
         [&] { return bold1 != bold2 && Read(bold1).lfWeight == FW_BOLD && Read(bold2).lfWeight == FW_BOLD; }},
        {"faces compare exactly",
         [&] { return c.GetFont(12, L"SimSun", 0, 0, 0) != c.GetFont(12, L"simsun", 0, 0, 0); }},
        {"underline and italic: their low bytes",
         [&] { return styled.lfHeight == -16 && styled.lfUnderline == 1 && styled.lfItalic == 1; }},
        {"a new default for new fonts only",
         [&] {
           c.SetDefaultFont(14, L"宋体", 134);
           const LOGFONTW made = Read(c.GetFont(0, nullptr, 0, 0, 0));
           return made.lfHeight == 14 && made.lfCharSet == 134 && Read(plain).lfHeight == 12 &&
                  c.GetFont(12, L"宋体", 0, 0, 0) == plain;
         }},
    });
  }
  LOGFONTW lf = {};
  EXPECT_EQ(0, GetObjectW(gone, sizeof(lf), &lf)) << "the cache deletes its fonts";
}

// The address of a shortcut's icon comes from a downloaded file: nothing in it may lead out of the
// temporary folder, nor name a device.
TEST(Icons, LocalNameOfAnIconAddress) {
  wchar_t temp[MAX_PATH + 1] = {}, out[MAX_PATH] = L"untouched";
  GetTempPathW(MAX_PATH + 1, temp);
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"HTTP://Host/A/b.ico", L"host_a_b.ico"},
      {L"https://www.Example.test/favicon.ico", L"www.example.test_favicon.ico"},
      {L"http://a/http://b/c.ico", L"a_b_c.ico"},
      {L"C:\\Windows\\x.ico", L"c__windows_x.ico"},
      {L"http://h/a.ico:stream", L"h_a.ico_stream"},
      {L"http://h/..\\..\\Start Menu\\Programs\\Startup\\evil.exe", L"h_.._.._start menu_programs_startup_evil.exe"},
      {L"http://h/q?a=<b>|*\"", L"h_q_a=_b____"},
      {L"http://h/trailing. . ", L"h_trailing"},
      {L"..", L""},
      {L"http://...", L""},
      {L"https://", L""},
      {L"http://con", L""},
      {L"http://NUL.ico", L""},
      {L"http://com1.x.ico", L""},
      {L"http://" + std::wstring(300, L'a'), L""},
  };
  for (const auto& [address, name] : rows)
    EXPECT_EQ(name.empty() ? L"" : temp + name, kv::UrlIconLocalPath(address)) << kvtest::Utf8(address);
  EXPECT_EQ(0, GetUrlCacheIconPath(L"http://kvtest.invalid/never", out) + GetUrlCacheIconPath(nullptr, out));
}

// A shortcut's icon with no local copy and nowhere to download it from: 0 and the buffer kept; with
// a local copy, found without a download.
TEST(Icons, ShortcutIconWithoutLocalCopy) {
  wchar_t out[MAX_PATH] = L"untouched";
  const std::wstring site = Dir() + L"site.url", local = kv::UrlIconLocalPath(L"HTTP://KvTest.invalid/Icons/Site.ico");
  kvtest::WriteText(
      site, "[InternetShortcut]\r\nURL=http://kvtest.invalid/\r\nIconFile=HTTP://KvTest.invalid/Icons/Site.ico\r\n");
  DeleteFileW(local.c_str());
  EXPECT_EQ(0, GetUrlShortcutIcon(site.c_str(), out, 0));
  EXPECT_EQ(std::wstring(L"untouched"), out);
}

TEST(Icons, IfSupportedShortcutIconFromItsLocalCopy) {
  wchar_t out[MAX_PATH] = L"untouched";
  const std::wstring site = Dir() + L"site.url", local = kv::UrlIconLocalPath(L"HTTP://KvTest.invalid/Icons/Site.ico");
  kvtest::WriteText(
      site, "[InternetShortcut]\r\nURL=http://kvtest.invalid/\r\nIconFile=HTTP://KvTest.invalid/Icons/Site.ico\r\n");
  kvtest::WriteText(local, "icon bytes");
  const int found = GetUrlShortcutIcon(site.c_str(), out, 0);
  DeleteFileW(local.c_str());
  if (!found && kvtest::LinuxPath(L"C:\\").size())
    GTEST_SKIP() << "Wine's internet shortcut has no shell-link face to read its icon from";
  EXPECT_EQ(std::pair(1, local), std::pair(found, std::wstring(out)));
}

TEST(Icons, FileIconAndTray) {
  wchar_t shell32[MAX_PATH] = {};
  wcscat(shell32 + GetSystemDirectoryW(shell32, MAX_PATH), L"\\shell32.dll");
  kv::UniqueIcon icon(GetFileIcon(shell32, 0, 32));
  ICONINFO info = {};
  BITMAP mask = {};
  ASSERT_TRUE(icon && GetIconInfo(icon.get(), &info) && GetObjectW(info.hbmMask, sizeof(mask), &mask));
  kv::UniqueBitmap colour(info.hbmColor), maskBits(info.hbmMask);
  kvtest::WriteText(Dir() + L"plain.txt", "no icons in here");
  EXPECT_TRUE(mask.bmWidth == 32 && !GetFileIcon(L"C:\\kvtest\\absent.exe", 0, 32) && !GetFileIcon(nullptr, 0, 32) &&
              !GetFileIcon((Dir() + L"plain.txt").c_str(), 0, 32));
  const Window owner = MakeWindow(10, 10);
  if (!ShowTray(owner.get(), icon.get(), L"栎禾软件", WM_APP + 1))
    GTEST_SKIP() << "no notification area answers on this display";
  EXPECT_TRUE(SetTip(owner.get(), std::wstring(300, L'x').c_str()) && DelTray(owner.get()));  // a tip cut to its field
}

TEST(Media, SoundStartsWithoutWaitingAndTheMusicOpens) {
  const uint32_t samples = 8 * 3000,
                 head[] = {0x46464952, 36 + samples * 2, 0x45564157, 0x20746D66, 16, 0x00010001, 8000,
                           16000,      0x00100002,       0x61746164, samples * 2};
  std::string tone(reinterpret_cast<const char*>(head), sizeof(head));
  for (uint32_t i = 0; i < samples; ++i) tone.append(i % 40 < 20 ? "\x70\x17" : "\x90\xE8", 2);  // 3 s at 200 Hz
  kvtest::WriteText(Dir() + L"tone.wav", tone);
  const DWORD start = GetTickCount();
  EXPECT_TRUE(PlayWav((Dir() + L"tone.wav").c_str(), 0));
  EXPECT_LT(GetTickCount() - start, 2000u) << "it waited for the sound";  // generous: the sound lasts 3 s
  EXPECT_TRUE(PlayWav(nullptr, 0));
  PlayMP3((Dir() + L"tone.wav").c_str(), 0);
  wchar_t length[16] = {}, mode[16] = {};
  if (mciSendStringW(L"status mymusic length", length, 16, nullptr)) GTEST_SKIP() << "no MCI device for WAVE files";
  StopMP3(L"mymusic");
  mciSendStringW(L"status mymusic mode", mode, 16, nullptr);
  mciSendStringW(L"close mymusic", nullptr, 0, nullptr);
  EXPECT_EQ(std::wstring(L"3000 stopped"), length + std::wstring(L" ") + mode);
}

void Press(HWND dialog, int button) { PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0); }

TEST(Dialogs, SaveGivesTheNameWithItsExtensionOrNothing) {
  wchar_t buffer[MAX_PATH] = L"left over";
  int result = -1;
  auto show = [&] { result = ShowSaveFileDlg(buffer, nullptr, L"txt", L"Text files\0*.txt\0"); };
  ASSERT_TRUE(kvtest::Drive(show, [](HWND dialog) { Press(dialog, IDCANCEL); }));
  EXPECT_EQ(std::pair(0, std::wstring()), std::pair(result, std::wstring(buffer)));
  ASSERT_TRUE(kvtest::Drive(show, [](HWND dialog) {
    SetDlgItemTextW(dialog, 0x47C, (Dir() + L"report").c_str());
    Press(dialog, IDOK);
  }));
  EXPECT_EQ(std::pair(1, Dir() + L"report.txt"), std::pair(result, std::wstring(buffer)));
}

TEST(CodePage, FolderDialogTitleFollowsTheCodePage) {
  wchar_t buffer[MAX_PATH] = L"left over";
  int result = -1;
  std::wstring texts = L"|";
  ASSERT_TRUE(kvtest::Drive([&] { result = ShowSelDir(buffer, nullptr); },
                            [&](HWND dialog) {
                              wchar_t text[256];
                              for (HWND child = GetWindow(dialog, GW_CHILD); child;
                                   child = GetWindow(child, GW_HWNDNEXT))
                                texts += std::wstring(text, GetWindowTextW(child, text, 256)) + L"|";
                              Press(dialog, IDCANCEL);
                            }));
  EXPECT_EQ(std::pair(0, std::wstring()), std::pair(result, std::wstring(buffer)));
  const wchar_t* title = GetACP() == 1252 ? L"|Please select the folder|" : L"|请选择文件夹|";
  EXPECT_NE(std::wstring::npos, texts.find(title)) << kvtest::Utf8(texts);
}

TEST(Clipboard, TextIsCutToTheRoomAndWidthsMeasuredInTheFont) {
  const std::tuple<const wchar_t*, int, const wchar_t*> rows[] = {
      {L"栎禾软件 kvUninstall", 64, L"栎禾软件 kvUninstall"},
      {L"", 8, L""},
      {L"abcdefgh", 5, L"abcd"},
      {L"abcde", 5, L"abcd"},
      {L"abcde", 6, L"abcde"}};
  for (const auto& [text, room, want] : rows) {
    wchar_t buffer[65];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    ASSERT_EQ(1, SetClipboard(text));
    ASSERT_EQ(1, GetClipboard(buffer, room));
    EXPECT_EQ(std::wstring(want) + L"#", std::wstring(buffer) + buffer[room]) << room;  // nothing written past the room
  }
  wchar_t kept[8] = L"kept";  // no text: the buffer as it was
  ASSERT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && CloseClipboard());
  EXPECT_EQ(1, GetClipboard(kept, 8));
  EXPECT_EQ(std::wstring(L"kept"), kept);
  LOGFONTW lf = {-36, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"WenQuanYi Micro Hei"};
  kv::UniqueFont large(CreateFontIndirectW(&lf));
  WNDCLASSW wc = {CS_OWNDC, DefWindowProcW, 0,       0,       GetModuleHandleW(nullptr),
                  nullptr,  nullptr,        nullptr, nullptr, L"kvOwnDc"};
  ASSERT_TRUE(RegisterClassW(&wc));
  const Window window = MakeWindow(100, 40, wc.lpszClassName);  // its DC keeps what is selected into it
  const HGDIOBJ before = GetCurrentObject(kv::WindowDC(window.get()).get(), OBJ_FONT);
  const int one = KvGetStrWidth(L"M", nullptr, large.get());
  EXPECT_TRUE(one > 10 && KvGetStrWidth(L"MMMM", window.get(), large.get()) == 4 * one &&
              !KvGetStrWidth(L"", nullptr, large.get()));
  EXPECT_EQ(before, GetCurrentObject(kv::WindowDC(window.get()).get(), OBJ_FONT)) << "the window's own font back";
}

}  // namespace
