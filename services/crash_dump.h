#pragma once
// The crash handler: an unhandled exception on any thread becomes a crash report, a minidump
// beside the executable and a short message box; then the process ends.
#include <windows.h>

#include <string>

#include "util/kv_api.h"

class KV_CLASS CkvDump {
 public:
  // Puts ExceptionFilter in force, keeping the filter it replaces.
  CkvDump();
  // Puts the previous filter back.
  ~CkvDump();
  CkvDump(const CkvDump&) = delete;
  CkvDump& operator=(const CkvDump&) = delete;

  // name is kept; tag is the crash report's type. A later call replaces both.
  void Install(LPCWSTR name, LPCWSTR tag);

 private:
  static LONG WINAPI ExceptionFilter(EXCEPTION_POINTERS* info);

  LPTOP_LEVEL_EXCEPTION_FILTER m_pPrevFilter;
  std::wstring m_strName;
  std::wstring m_strTag;
};

namespace kv {
// For runs that must show nothing (a silent uninstall): the report and the dump still go out,
// the message box does not.
void ShowCrashBox(bool show);
}  // namespace kv

// The process-wide crash handler, created (and so put in force) on first use.
KV_API CkvDump* GetKvDump();
KV_API void InstallDump(LPCWSTR name, LPCWSTR tag);
