// Times what the user waits for in the uninstaller's window, each figure beside a baseline taken
// in the same run:
//   (1) process start to the first frame on screen: kvUninstall.exe started from an installation
//       against a minimal layered-window program (this program with --minimal) that puts one
//       450 x 230 frame up with UpdateLayeredWindow;
//   (2) one full paint of the main dialog (background, question, two buttons, composed and put
//       on screen with UpdateLayeredWindow) against one BitBlt of a 450 x 230 frame.
//
//   window_bench [--rounds N]   needs a display (DISPLAY for Wine)
//   window_bench --minimal      (internal) the baseline program
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/main_dialog.h"
#include "gfx/image.h"
#include "ui/memory_dc.h"
#include "uninstall/record.h"
#include "util/handles.h"

namespace {

constexpr wchar_t kCaption[] = L"栎禾软件-卸载程序";
constexpr wchar_t kMinimalCaption[] = L"kvbench minimal layered window";
constexpr wchar_t kRoot[] = L"C:\\kvbench\\window\\";
constexpr int kW = 450, kH = 230;

double Now() {
  LARGE_INTEGER f, c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

// --- the baseline program --------------------------------------------------------------------

int RunMinimal() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KvBenchMinimal";
  ::RegisterClassW(&wc);
  HWND wnd = ::CreateWindowExW(WS_EX_LAYERED, wc.lpszClassName, kMinimalCaption, WS_POPUP,
                               (::GetSystemMetrics(SM_CXSCREEN) - kW) / 2,
                               (::GetSystemMetrics(SM_CYSCREEN) - kH) / 2, kW, kH, nullptr, nullptr,
                               wc.hInstance, nullptr);
  kv::WindowDC screen(wnd);
  RECT rect = {0, 0, kW, kH};
  CKvDC frame(screen.get(), rect, false, true, wnd);
  kv::UniqueBrush brush(::CreateSolidBrush(RGB(80, 120, 240)));
  ::FillRect(frame.m_hMemDC, &rect, brush.get());
  ::ShowWindow(wnd, SW_SHOW);
  frame.Draw();
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}

// --- (1) start to first frame ------------------------------------------------------------------

// Starts command in dir and returns the milliseconds until a visible window with the caption
// exists, or -1; the process is ended afterwards.
double TimeToWindow(std::wstring command, const std::wstring& dir, const wchar_t* caption) {
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  const double start = Now();
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &si, &pi))
    return -1;
  kv::UniqueHandleKernel process(pi.hProcess), thread(pi.hThread);
  double found = -1;
  while (Now() - start < 30000) {
    HWND wnd = ::FindWindowW(nullptr, caption);
    if (wnd && ::IsWindowVisible(wnd)) {
      found = Now() - start;
      break;
    }
    if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) break;
    ::Sleep(1);
  }
  ::TerminateProcess(process.get(), 0);
  ::WaitForSingleObject(process.get(), 10000);
  return found;
}

bool PrepareInstallation(const std::wstring& dir) {
  ::CreateDirectoryW(L"C:\\kvbench\\", nullptr);
  ::CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring bin = GetKvApp()->m_szAppDir;
  if (!::CopyFileW((bin + L"kvUninstall.exe").c_str(), (dir + L"kvUninstall.exe").c_str(), FALSE))
    return false;
  ::CopyFileW((bin + L"zlib1.dll").c_str(), (dir + L"zlib1.dll").c_str(), FALSE);
  UninstallRecord header = {};
  const std::wstring name = L"Brix Bench";
  std::copy(name.begin(), name.end(), header.displayName);
  return WriteUninstallRecord((dir + kRecordFileName).c_str(), &header, nullptr, 0, nullptr, 0) ==
         1;
}

// --- (2) one paint -----------------------------------------------------------------------------

struct PaintFigures {
  double dialog_ms;
  double bitblt_ms;
};

PaintFigures TimePaints(int samples) {
  HMODULE pictures =
      ::LoadLibraryExW((std::wstring(GetKvApp()->m_szAppDir) + L"kvUninstall.exe").c_str(), nullptr,
                       LOAD_LIBRARY_AS_DATAFILE);
  GetKvImage()->SetInst(pictures);
  CMainDlg dialog;
  dialog.Create(0, 0, 0, kW, kH, 0, true, nullptr);
  dialog.ShowDlg(-1, true, SW_SHOW);
  kv::WindowDC screen(dialog.m_hWnd);
  std::vector<double> paints;
  for (int i = 0; i < samples; ++i) {
    const double start = Now();
    dialog.Paint(screen.get());
    ::GdiFlush();
    paints.push_back(Now() - start);
  }

  // The baseline: a ready 450 x 230 frame copied once into a plain window.
  WNDCLASSW wc = {};
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KvBenchPlain";
  ::RegisterClassW(&wc);
  HWND plain = ::CreateWindowW(wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0, kW, kH, nullptr,
                               nullptr, wc.hInstance, nullptr);
  kv::WindowDC plain_dc(plain);
  RECT rect = {0, 0, kW, kH};
  CKvDC frame(plain_dc.get(), rect, false, false, nullptr);
  ::BitBlt(frame.m_hMemDC, 0, 0, kW, kH, dialog.m_dcFrame.m_hMemDC, 0, 0, SRCCOPY);
  std::vector<double> blits;
  for (int i = 0; i < samples; ++i) {
    const double start = Now();
    ::BitBlt(plain_dc.get(), 0, 0, kW, kH, frame.m_hMemDC, 0, 0, SRCCOPY);
    ::GdiFlush();
    blits.push_back(Now() - start);
  }
  ::DestroyWindow(plain);
  return {Median(paints), Median(blits)};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"--minimal") return RunMinimal();
  int rounds = 7;
  if (argc > 2 && std::wstring(argv[1]) == L"--rounds") rounds = std::max(1, _wtoi(argv[2]));

  const std::wstring dir = kRoot;
  if (!PrepareInstallation(dir)) {
    std::printf("cannot prepare %ls\n", dir.c_str());
    return 1;
  }
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);

  std::vector<double> product, minimal;
  for (int i = 0; i < rounds; ++i) {
    const double a = TimeToWindow(L"\"" + dir + L"kvUninstall.exe\"", dir, kCaption);
    const double b =
        TimeToWindow(L"\"" + std::wstring(self) + L"\" --minimal", L"", kMinimalCaption);
    if (a < 0 || b < 0) {
      std::printf("round %d: a window did not appear\n", i + 1);
      return 1;
    }
    std::printf("round %d: kvUninstall.exe %.1f ms, minimal layered window %.1f ms\n", i + 1, a, b);
    product.push_back(a);
    minimal.push_back(b);
  }
  const int samples = 200;
  const PaintFigures paint = TimePaints(samples);

  std::printf("\n%-52s %12s %12s\n", "", "measured", "baseline");
  std::printf("%-52s %9.1f ms %9.1f ms\n", "(1) process start to first frame on screen",
              Median(product), Median(minimal));
  std::printf("%-52s\n", "    baseline: minimal layered window program");
  std::printf("%-52s %9.3f ms %9.3f ms\n", "(2) one full paint of the main dialog", paint.dialog_ms,
              paint.bitblt_ms);
  std::printf("%-52s\n", "    baseline: one BitBlt of a 450 x 230 frame");
  std::printf("medians of %d starts and of %d paints\n", rounds, samples);
  return 0;
}
