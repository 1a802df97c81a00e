#include "services/crash_dump.h"

#include <dbghelp.h>

#include <atomic>

#include "app/app.h"
#include "ui/message_box.h"
#include "uninstall/report.h"
#include "util/handles.h"
#include "util/files.h"
#include "util/format.h"

namespace {

// Executable path, tick count.
constexpr wchar_t kDumpFileFormat[] = L"%s_%d.dmp";
constexpr wchar_t kEmptyValue[] = L"";

// The box that tells the user: a picture, OK, five seconds, zoom in and out.
constexpr int kCrashPicture = 60061;
constexpr int kBoxWidth = 300;
constexpr int kBoxHeight = 200;
constexpr int kBoxCountdown = 5;
constexpr int kBoxShowEffect = 8;
constexpr int kBoxCloseEffect = 9;
// How often a thread that faulted while another handles its fault looks whether that is over.
constexpr DWORD kWaitStepMs = 50;

CkvDump* g_dump = nullptr;
std::atomic<bool> g_handling{false};  // the first fault has been taken; never cleared
std::atomic<bool> g_show_box{true};
std::atomic<DWORD> g_handlerThread{0};
std::atomic<bool> g_handled{false};

void WriteDump(EXCEPTION_POINTERS* info) {
  // The path, "_", at most 11 characters of tick count, ".dmp".
  const std::wstring file =
      kv::FormatBounded(MAX_PATH + 32, kDumpFileFormat, kv::ProgramPath().c_str(),
                        static_cast<int>(::GetTickCount()));

  kv::UniqueHandleKernel process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, ::GetCurrentProcessId()));
  if (!process) return;
  kv::UniqueFile dump(
      ::CreateFileW(file.c_str(), FILE_ALL_ACCESS, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!dump) return;
  MINIDUMP_EXCEPTION_INFORMATION exception = {};
  exception.ThreadId = ::GetCurrentThreadId();
  exception.ExceptionPointers = info;
  exception.ClientPointers = TRUE;
  ::MiniDumpWriteDump(process.get(), ::GetCurrentProcessId(), dump.get(), MiniDumpNormal,
                      &exception, nullptr, nullptr);
}

}  // namespace

CkvDump::CkvDump() : m_pPrevFilter(::SetUnhandledExceptionFilter(ExceptionFilter)) {
  g_dump = this;
}

CkvDump::~CkvDump() {
  ::SetUnhandledExceptionFilter(m_pPrevFilter);
  if (g_dump == this) g_dump = nullptr;
}

void CkvDump::Install(LPCWSTR name, LPCWSTR tag) {
  m_strName = name ? name : L"";
  m_strTag = tag ? tag : L"";
}

LONG WINAPI CkvDump::ExceptionFilter(EXCEPTION_POINTERS* info) {
  const DWORD self = ::GetCurrentThreadId();
  if (g_handling.exchange(true)) {
    // A fault in the handling itself: going on could only fault again, so the process ends now.
    if (g_handlerThread == self) return EXCEPTION_EXECUTE_HANDLER;
    // Another thread faulted while the first fault is handled. Continuing it would run the
    // faulting instruction again, for ever, at full speed; it waits instead (its stack stays
    // in the dump) and the first thread's handling ends the process.
    while (!g_handled) ::Sleep(kWaitStepMs);
    return EXCEPTION_EXECUTE_HANDLER;
  }
  g_handlerThread = self;

  // The report goes out on its own thread while the dump is written and the box is shown.
  if (g_dump) DoReport(kCrashReportEndpoint, g_dump->m_strTag.c_str(), kEmptyValue);
  WriteDump(info);
  if (g_show_box) {
    CKvApp* app = GetKvApp();
    CKvMsgBox box;
    box.m_nPicture = kCrashPicture;
    box.ShowBox(app->m_hMainWnd, nullptr, app->m_szAppName, CKvMsgBox::kStyleOk, kBoxCountdown,
                kBoxWidth, kBoxHeight, kBoxShowEffect, kBoxCloseEffect);
  }
  g_handled = true;
  return EXCEPTION_EXECUTE_HANDLER;
}

void kv::ShowCrashBox(bool show) { g_show_box = show; }

CkvDump* GetKvDump() {
  static CkvDump dump;
  return &dump;
}

void InstallDump(LPCWSTR name, LPCWSTR tag) { GetKvDump()->Install(name, tag); }
