// The dialogs are modal: each test runs one on its own thread while a second thread finds the
// dialog's window, works it as a user would (types, presses OK or Cancel) and lets it end.
#include "gfx/dialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

constexpr int kComboFileName = 0x47C;  // file name box of the open and save dialogs
constexpr int kEditRed = 706;          // colour dialog's red box; green and blue follow
constexpr wchar_t kTextFilter[] = L"Text files\0*.txt\0All files\0*.*\0";

BOOL CALLBACK CollectTexts(HWND wnd, LPARAM param) {
  wchar_t text[256] = {};
  ::GetWindowTextW(wnd, text, 256);
  reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(text);
  return TRUE;
}

using kvtest::Drive;

void Press(HWND dialog, int button) { ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0); }
void PressCancel(HWND dialog) { Press(dialog, IDCANCEL); }

TEST(ColorDialog, CancelGivesTheInitialColourOkTheChoice) {
  COLORREF result = 0;
  ASSERT_TRUE(Drive([&] { result = GetColorDlg(nullptr, RGB(12, 34, 56)); }, PressCancel));
  EXPECT_EQ(RGB(12, 34, 56), result);
  std::wstring shown;
  ASSERT_TRUE(Drive([&] { result = GetColorDlg(nullptr, RGB(12, 34, 56)); }, [&](HWND dialog) {
    for (int i = 0; i < 3; ++i) {  // the RGB boxes exist only when the dialog opens full
      wchar_t text[16] = {};
      ::GetDlgItemTextW(dialog, kEditRed + i, text, 16);
      shown += text + std::wstring(L" ");
      ::SetDlgItemTextW(dialog, kEditRed + i, std::to_wstring(200 >> i).c_str());
    }
    Press(dialog, IDOK);
  }));
  EXPECT_EQ(L"12 34 56 ", shown);
  EXPECT_EQ(RGB(200, 100, 50), result);
}

TEST(OpenDialog, CancelGivesZeroOkTheInitialFileWhichMustExist) {
  wchar_t buffer[MAX_PATH] = L"";
  int result = -1;
  auto show = [&] { result = ShowOpenFileDlg(buffer, MAX_PATH, nullptr, kTextFilter, L"txt", 0); };
  ASSERT_TRUE(Drive(show, PressCancel));
  EXPECT_EQ(0, result);
  const std::wstring dir = kvtest::FreshDir(L"dialogs_open");
  kvtest::WriteText(dir + L"pick.txt", "x");
  wcscpy(buffer, (dir + L"pick.txt").c_str());
  ASSERT_TRUE(Drive(show, [](HWND dialog) { Press(dialog, IDOK); }));
  EXPECT_EQ(1, result);
  EXPECT_EQ(dir + L"pick.txt", std::wstring(buffer));
  wcscpy(buffer, (dir + L"missing.txt").c_str());
  std::atomic<bool> refused{false};
  ASSERT_TRUE(Drive(show, [&](HWND dialog) {
    Press(dialog, IDOK);
    ::Sleep(1000);  // the dialog answers a missing file with a message box of its own and stays
    refused = ::IsWindow(dialog) != FALSE;
  }));
  EXPECT_TRUE(refused);
  EXPECT_EQ(0, result);
}

TEST(OpenDialog, MultiSelectListsFolderAndNames) {
  const std::wstring dir = kvtest::FreshDir(L"dialogs_multi");
  kvtest::WriteText(dir + L"a.txt", "a");
  kvtest::WriteText(dir + L"b.txt", "b");
  wchar_t buffer[1024] = {};
  int result = -1;
  ASSERT_TRUE(Drive([&] { result = ShowOpenFileDlg(buffer, 1024, nullptr, kTextFilter, L"txt", 1); }, [&](HWND dialog) {
    ::SetDlgItemTextW(dialog, kComboFileName, dir.c_str());  // into the folder first, as a user would
    Press(dialog, IDOK);
    ::Sleep(500);
    ::SetDlgItemTextW(dialog, kComboFileName, L"\"a.txt\" \"b.txt\"");
    Press(dialog, IDOK);
  }));
  ASSERT_EQ(1, result);
  // Folder, then each name, each terminated; an empty name ends the list.
  std::vector<std::wstring> parts;
  for (const wchar_t* p = buffer; *p; p += std::wcslen(p) + 1) parts.push_back(p);
  EXPECT_EQ((std::vector<std::wstring>{dir.substr(0, dir.size() - 1), L"a.txt", L"b.txt"}), parts) << kvtest::Utf8(buffer);
}

TEST(SaveDialog, CancelEmptiesTheBufferTypedNameGetsTheDefaultExtension) {
  const std::wstring dir = kvtest::FreshDir(L"dialogs_save");
  wchar_t buffer[MAX_PATH] = L"left over";
  int result = -1;
  auto show = [&] { result = ShowSaveFileDlg(buffer, nullptr, L"txt", kTextFilter); };
  ASSERT_TRUE(Drive(show, PressCancel));
  EXPECT_EQ(0, result);
  EXPECT_EQ(std::wstring(L""), buffer);
  wcscpy(buffer, L"left over");
  ASSERT_TRUE(Drive(show, [&](HWND dialog) {
    ::SetDlgItemTextW(dialog, kComboFileName, (dir + L"report").c_str());
    Press(dialog, IDOK);
  }));
  EXPECT_EQ(1, result);
  EXPECT_EQ(dir + L"report.txt", std::wstring(buffer));
}

TEST(FolderDialog, CancelEmptiesTheBufferAndTheTitleFollowsTheCodePage) {
  wchar_t buffer[MAX_PATH] = L"left over";
  int result = -1;
  std::vector<std::wstring> texts;
  ASSERT_TRUE(Drive([&] { result = ShowSelDir(buffer, nullptr); }, [&](HWND dialog) {
    ::EnumChildWindows(dialog, CollectTexts, reinterpret_cast<LPARAM>(&texts));
    PressCancel(dialog);
  }));
  EXPECT_EQ(0, result);
  EXPECT_EQ(std::wstring(L""), buffer);
  const std::wstring title = ::GetACP() == 1252 ? L"Please select the folder" : L"请选择文件夹";
  EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), title)) << "code page " << ::GetACP();
}

}  // namespace
