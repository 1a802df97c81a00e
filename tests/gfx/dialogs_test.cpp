// The dialogs are modal: each test runs one on its own thread while a second thread finds the
// dialog's window, works it as a user would (types, presses OK or Cancel) and lets it end.
#include "gfx/dialogs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

constexpr DWORD kFindTimeoutMs = 20000;
constexpr int kComboFileName = 0x47C;  // file name box of the open and save dialogs
constexpr int kEditRed = 706, kEditGreen = 707, kEditBlue = 708;  // colour dialog's RGB boxes

struct Found {
  DWORD thread;
  HWND wnd;
};

BOOL CALLBACK FindTopLevel(HWND wnd, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  if (::GetWindowThreadProcessId(wnd, nullptr) == found->thread && ::IsWindowVisible(wnd)) {
    found->wnd = wnd;
    return FALSE;
  }
  return TRUE;
}

// The first visible top-level window of the thread, waiting for it to appear.
HWND WaitForDialog(DWORD thread) {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < kFindTimeoutMs) {
    Found found{thread, nullptr};
    ::EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&found));
    if (found.wnd) {
      ::Sleep(300);  // let the dialog finish setting itself up
      return found.wnd;
    }
    ::Sleep(50);
  }
  return nullptr;
}

// Runs show() on a thread of its own while act() works the dialog from this one. Returns whether
// a dialog was found; act receives its window.
bool Drive(const std::function<void()>& show, const std::function<void(HWND)>& act) {
  std::atomic<DWORD> thread_id{0};
  std::atomic<bool> done{false};
  std::thread dialog_thread([&] {
    thread_id = ::GetCurrentThreadId();
    show();
    done = true;
  });
  while (!thread_id) ::Sleep(1);
  HWND dialog = WaitForDialog(thread_id);
  if (dialog) act(dialog);
  // Whatever happened, end the dialog so the thread can be joined.
  for (int i = 0; !done && i < 400; ++i) {
    if (i > 20 && i % 10 == 0) {
      // Still open (a message box of the dialog's own, or an act that did not end it): cancel
      // whatever the thread shows.
      Found found{thread_id, nullptr};
      ::EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&found));
      if (found.wnd) ::PostMessageW(found.wnd, WM_COMMAND, IDCANCEL, 0);
    }
    ::Sleep(50);
  }
  dialog_thread.join();
  return dialog != nullptr;
}

void Press(HWND dialog, int button) { ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0); }

BOOL CALLBACK CollectTexts(HWND wnd, LPARAM param) {
  wchar_t text[256] = {};
  ::GetWindowTextW(wnd, text, 256);
  reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(text);
  return TRUE;
}

std::vector<std::wstring> ChildTexts(HWND dialog) {
  std::vector<std::wstring> texts;
  ::EnumChildWindows(dialog, CollectTexts, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

constexpr wchar_t kTextFilter[] = L"Text files\0*.txt\0All files\0*.*\0";

TEST(ColorDialog, CancelGivesTheInitialColour) {
  COLORREF result = 0;
  ASSERT_TRUE(Drive([&] { result = GetColorDlg(nullptr, RGB(12, 34, 56)); },
                    [](HWND dialog) { Press(dialog, IDCANCEL); }));
  EXPECT_EQ(RGB(12, 34, 56), result);
}

TEST(ColorDialog, OpensFullWithTheInitialColourAndReturnsTheChoice) {
  COLORREF result = 0;
  std::wstring red_box, green_box, blue_box;
  ASSERT_TRUE(Drive([&] { result = GetColorDlg(nullptr, RGB(12, 34, 56)); },
                    [&](HWND dialog) {
                      wchar_t text[16] = {};
                      ::GetDlgItemTextW(dialog, kEditRed, text, 16);
                      red_box = text;
                      ::GetDlgItemTextW(dialog, kEditGreen, text, 16);
                      green_box = text;
                      ::GetDlgItemTextW(dialog, kEditBlue, text, 16);
                      blue_box = text;
                      ::SetDlgItemTextW(dialog, kEditRed, L"200");
                      ::SetDlgItemTextW(dialog, kEditGreen, L"100");
                      ::SetDlgItemTextW(dialog, kEditBlue, L"50");
                      Press(dialog, IDOK);
                    }));
  // The full dialog shows the initial colour in its boxes (they exist only when opened full).
  EXPECT_EQ(L"12", red_box);
  EXPECT_EQ(L"34", green_box);
  EXPECT_EQ(L"56", blue_box);
  EXPECT_EQ(RGB(200, 100, 50), result);
}

TEST(OpenDialog, CancelGivesZero) {
  wchar_t buffer[MAX_PATH] = L"";
  int result = -1;
  ASSERT_TRUE(Drive([&] { result = ShowOpenFileDlg(buffer, MAX_PATH, nullptr, kTextFilter, L"txt", 0); },
                    [](HWND dialog) { Press(dialog, IDCANCEL); }));
  EXPECT_EQ(0, result);
}

TEST(OpenDialog, BufferIsTheInitialFileName) {
  const std::wstring dir = kvtest::FreshDir(L"dialogs_open");
  const std::wstring file = dir + L"pick.txt";
  kvtest::WriteText(file, "x");
  wchar_t buffer[MAX_PATH] = {};
  file.copy(buffer, file.size());
  int result = -1;
  ASSERT_TRUE(Drive([&] { result = ShowOpenFileDlg(buffer, MAX_PATH, nullptr, kTextFilter, L"txt", 0); },
                    [](HWND dialog) { Press(dialog, IDOK); }));
  EXPECT_EQ(1, result);
  EXPECT_EQ(file, std::wstring(buffer));
}

TEST(OpenDialog, FileMustExist) {
  const std::wstring dir = kvtest::FreshDir(L"dialogs_open_missing");
  const std::wstring missing = dir + L"missing.txt";
  wchar_t buffer[MAX_PATH] = {};
  missing.copy(buffer, missing.size());
  int result = -1;
  std::atomic<bool> refused{false};
  ASSERT_TRUE(Drive([&] { result = ShowOpenFileDlg(buffer, MAX_PATH, nullptr, kTextFilter, L"txt", 0); },
                    [&](HWND dialog) {
                      Press(dialog, IDOK);
                      // The dialog answers a missing file with a message box of its own and stays.
                      ::Sleep(1000);
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
  ASSERT_TRUE(Drive([&] { result = ShowOpenFileDlg(buffer, 1024, nullptr, kTextFilter, L"txt", 1); },
                    [&](HWND dialog) {
                      // Into the folder first, as a user typing its path would; then both names.
                      ::SetDlgItemTextW(dialog, kComboFileName, dir.c_str());
                      Press(dialog, IDOK);
                      ::Sleep(500);
                      ::SetDlgItemTextW(dialog, kComboFileName, L"\"a.txt\" \"b.txt\"");
                      Press(dialog, IDOK);
                    }));
  ASSERT_EQ(1, result);
  // Folder, then each name, each terminated; an empty name ends the list.
  std::vector<std::wstring> parts;
  for (const wchar_t* p = buffer; *p; p += std::wcslen(p) + 1) parts.push_back(p);
  ASSERT_EQ(3u, parts.size()) << kvtest::Utf8(buffer);
  EXPECT_EQ(dir.substr(0, dir.size() - 1), parts[0]);
  EXPECT_EQ(L"a.txt", parts[1]);
  EXPECT_EQ(L"b.txt", parts[2]);
}

TEST(SaveDialog, CancelEmptiesTheBuffer) {
  wchar_t buffer[MAX_PATH] = L"left over";
  int result = -1;
  ASSERT_TRUE(Drive([&] { result = ShowSaveFileDlg(buffer, nullptr, L"txt", kTextFilter); },
                    [](HWND dialog) { Press(dialog, IDCANCEL); }));
  EXPECT_EQ(0, result);
  EXPECT_EQ(std::wstring(L""), buffer);
}

TEST(SaveDialog, TypedNameGetsTheDefaultExtension) {
  const std::wstring dir = kvtest::FreshDir(L"dialogs_save");
  wchar_t buffer[MAX_PATH] = L"left over";
  int result = -1;
  ASSERT_TRUE(Drive([&] { result = ShowSaveFileDlg(buffer, nullptr, L"txt", kTextFilter); },
                    [&](HWND dialog) {
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
  ASSERT_TRUE(Drive([&] { result = ShowSelDir(buffer, nullptr); },
                    [&](HWND dialog) {
                      texts = ChildTexts(dialog);
                      Press(dialog, IDCANCEL);
                    }));
  EXPECT_EQ(0, result);
  EXPECT_EQ(std::wstring(L""), buffer);
  const std::wstring title = ::GetACP() == 1252 ? L"Please select the folder" : L"请选择文件夹";
  bool shown = false;
  for (const std::wstring& t : texts) shown = shown || t == title;
  EXPECT_TRUE(shown) << "code page " << ::GetACP();
}

}  // namespace
