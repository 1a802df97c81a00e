#pragma once
// The registry service: single string values with an explicit registry view, autorun entries,
// and monitors that call back when a key changes. One per process (CKvReg::Instance).
#include <windows.h>

#include <atomic>

#include "util/kv_api.h"

class KV_CLASS CKvReg {
 public:
  // Texts read by GetRegInfo fit in this many characters, terminator included.
  static constexpr int kValueRoom = 130;

  static CKvReg& Instance();
  CKvReg();
  ~CKvReg();
  CKvReg(const CKvReg&) = delete;
  CKvReg& operator=(const CKvReg&) = delete;

  // view: 1 the 64-bit view; 0 the 32-bit view under WOW64, else no view. text: kValueRoom chars.
  int GetRegInfo(HKEY root, LPCWSTR path, LPCWSTR name, int view, LPWSTR text);
  int SetRegInfo(HKEY root, LPCWSTR path, LPCWSTR name, int view, LPCWSTR text);
  int SetAutoRun(LPCWSTR name, int enable, LPCWSTR command);
  void StartMonitor(HKEY root, LPCWSTR path, int view, KvCallback callback, void* param);
  // Runs on the calling thread until StopMonitor; calls back once at once, then per change batch.
  int MonitorReg(HKEY root, LPCWSTR path, int view, KvCallback callback, void* param);
  // Thread routine of StartMonitor's threads; takes ownership of its request.
  static DWORD WINAPI MonitorThread(LPVOID request);
  void StopMonitor();

 private:
  // The monitor loop; it also ends once StopMonitor has been called more than stop_count times.
  int Monitor(HKEY root, LPCWSTR path, int view, KvCallback callback, void* param,
              unsigned stop_count);

  // Non-zero asks every running monitor to end.
  std::atomic<int> m_nStop;
  // Bumped by every StopMonitor. A monitor ends when it changes, so a StartMonitor right after a
  // StopMonitor cannot revive monitors that have not yet seen the stop.
  std::atomic<unsigned> m_nStopCount;
};

KV_API int GetRegInfo(HKEY root, LPCWSTR path, LPCWSTR name, int view, LPWSTR text);
KV_API int SetRegInfo(HKEY root, LPCWSTR path, LPCWSTR name, int view, LPCWSTR text);
KV_API int SetAutoRun(LPCWSTR name, int enable, LPCWSTR command);
KV_API void StartMonitor(HKEY root, LPCWSTR path, int view, KvCallback callback, void* param);
KV_API void StopMonitor();

namespace kv {
// Monitor loops running now, in any CKvReg.
int RunningRegMonitors();
}  // namespace kv
