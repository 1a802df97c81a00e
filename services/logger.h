#pragma once
// The process-wide diagnostic log: time-stamped lines in a daily file beside the executable, while
// logging is on (ForceLog, or the "debug" switch in the registry), and a live channel of the same
// lines in a named shared-memory block.
#include <windows.h>

#include <atomic>
#include <string>

#include "util/handles.h"
#include "util/kv_api.h"

class KV_CLASS CKvLog {
 public:
  // A formatted message holds at most this many code units.
  static constexpr int kMessageUnits = 1023;

  static CKvLog& Instance();
  CKvLog();
  ~CKvLog();
  // The block handle is duplicated, so that each copy closes only its own.
  CKvLog(const CKvLog& other);
  CKvLog& operator=(const CKvLog& other);

  void ForceLog(bool on);
  void WriteLog(LPCWSTR message);
  void WriteLog2(LPCWSTR format, ...);
  void WriteLog3(LPCWSTR format, ...);
  void SetMemName(LPCWSTR name, int size);

 private:
  bool isLog();
  void GetLogFileName(std::wstring& name);
  void WriteFileLine(LPCWSTR message);

  std::atomic<bool> m_bForce;
  std::wstring m_strMemName;
  kv::UniqueHandleKernel m_hMem;
  std::atomic<int> m_nMemPos;
  // Bytes asked for by SetMemName. Lines are held to it as well as to the size the system reports
  // for the block, which may be rounded up to whole pages.
  int m_nMemSize;
};

KV_API void WriteLog(LPCWSTR message);

namespace kv {
// The pieces of a log line, apart so that any date can be checked.
std::wstring LogFileNameFor(const std::wstring& folder, const SYSTEMTIME& time);
std::wstring LogLineFor(const SYSTEMTIME& time, const std::wstring& message);
// printf-style formatting cut at CKvLog::kMessageUnits code units.
std::wstring FormatLogMessage(LPCWSTR format, va_list args);
}  // namespace kv
