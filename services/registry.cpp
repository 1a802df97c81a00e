#include "services/registry.h"

#include <cwchar>
#include <memory>
#include <string>

#include "util/handles.h"
#include "util/system.h"
#include "util/files.h"

namespace {

namespace texts {
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
}  // namespace texts

constexpr DWORD kValueBytes = 260;  // CKvReg::kValueRoom units, terminator included
constexpr DWORD kMonitorWaitMs = 500;
constexpr DWORD kExitWaitMs = 1000;

std::atomic<int> g_running_monitors{0};

struct MonitorRequest {
  HKEY root;
  std::wstring path;
  int view;
  KvCallback callback;
  void* param;
  CKvReg* owner;
  // StopMonitor calls made before StartMonitor: a StopMonitor between StartMonitor and the
  // thread's first step still ends the monitor.
  unsigned stop_count;
};

struct RunningMonitor {
  RunningMonitor() { ++g_running_monitors; }
  ~RunningMonitor() { --g_running_monitors; }
};

}  // namespace

namespace kv {

int RunningRegMonitors() { return g_running_monitors.load(); }

}  // namespace kv

CKvReg& CKvReg::Instance() {
  static CKvReg reg;
  return reg;
}

CKvReg::CKvReg() : m_nStop(0), m_nStopCount(0) {}

// Monitor threads read this object: let them see the stop before it goes away.
CKvReg::~CKvReg() {
  StopMonitor();
  const DWORD start = ::GetTickCount();
  while (g_running_monitors.load() > 0 && ::GetTickCount() - start < kExitWaitMs) ::Sleep(10);
}

int CKvReg::GetRegInfo(HKEY root, LPCWSTR path, LPCWSTR name, int view, LPWSTR text) {
  if (!text) return 0;
  kv::UniqueKey key;
  if (::RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS | kv::ViewAccess(view), key.put()) !=
      ERROR_SUCCESS)
    return 0;
  wchar_t buffer[kValueRoom + 1] = {};
  DWORD size = kValueBytes;
  if (::RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS)
    return 0;
  // A value stored without its terminator may fill all 130 units: the caller's room ends there.
  buffer[kValueRoom - 1] = L'\0';
  std::wcscpy(text, buffer);
  return 1;
}

int CKvReg::SetRegInfo(HKEY root, LPCWSTR path, LPCWSTR name, int view, LPCWSTR text) {
  if (!text) return 0;
  kv::UniqueKey key;
  if (::RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS | kv::ViewAccess(view), key.put()) !=
      ERROR_SUCCESS)
    return 0;
  const DWORD bytes = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) ==
                 ERROR_SUCCESS
             ? 1
             : 0;
}

int CKvReg::SetAutoRun(LPCWSTR name, int enable, LPCWSTR command) {
  kv::UniqueKey key;
  // No view flag: a 32-bit program on 64-bit Windows keeps its entry in the 32-bit view.
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, texts::kRunKey, 0, KEY_ALL_ACCESS, key.put()) !=
      ERROR_SUCCESS)
    return 0;
  if (!enable) {
    ::RegDeleteValueW(key.get(), name);
    return 1;
  }
  const std::wstring self = kv::ProgramPath();
  if (!command) {
    if (self.empty()) return 0;
    command = self.c_str();
  }
  const DWORD bytes = static_cast<DWORD>((std::wcslen(command) + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                          bytes) == ERROR_SUCCESS
             ? 1
             : 0;
}

void CKvReg::StartMonitor(HKEY root, LPCWSTR path, int view, KvCallback callback, void* param) {
  auto request = std::make_unique<MonitorRequest>(
      MonitorRequest{root, path ? path : L"", view, callback, param, this, m_nStopCount.load()});
  m_nStop = 0;
  kv::UniqueHandleKernel thread(
      ::CreateThread(nullptr, 0, &CKvReg::MonitorThread, request.get(), 0, nullptr));
  if (thread) request.release();  // the thread owns it now
}

// Runs on a monitor thread.
DWORD WINAPI CKvReg::MonitorThread(LPVOID param) {
  if (!param) return 1;
  std::unique_ptr<MonitorRequest> request(static_cast<MonitorRequest*>(param));
  request->owner->Monitor(request->root, request->path.c_str(), request->view, request->callback,
                          request->param, request->stop_count);
  return 0;
}

int CKvReg::MonitorReg(HKEY root, LPCWSTR path, int view, KvCallback callback, void* param) {
  return Monitor(root, path, view, callback, param, m_nStopCount.load());
}

int CKvReg::Monitor(HKEY root, LPCWSTR path, int view, KvCallback callback, void* param,
                    unsigned stop_count) {
  RunningMonitor running;
  // Starts signalled: the callback runs once before any change.
  kv::UniqueHandleKernel event(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  if (!event) return 0;
  kv::UniqueKey key;
  if (::RegOpenKeyExW(root, path, 0, KEY_NOTIFY | kv::ViewAccess(view), key.put()) != ERROR_SUCCESS)
    return 0;
  if (::RegNotifyChangeKeyValue(key.get(), TRUE, REG_NOTIFY_CHANGE_NAME, event.get(), TRUE) !=
      ERROR_SUCCESS)
    return 0;
  // Arming may clear the event, as the start of any asynchronous request does; set it again so
  // that the first call back still comes at once.
  ::SetEvent(event.get());
  while (m_nStop.load() == 0 && m_nStopCount.load() == stop_count) {
    if (::WaitForSingleObject(event.get(), kMonitorWaitMs) != WAIT_OBJECT_0) continue;
    if (m_nStop.load() != 0 || m_nStopCount.load() != stop_count) break;
    if (callback) callback(param);
    ::ResetEvent(event.get());
    ::RegNotifyChangeKeyValue(key.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                              event.get(), TRUE);
  }
  return 1;
}

void CKvReg::StopMonitor() {
  ++m_nStopCount;
  m_nStop = 1;
}

int GetRegInfo(HKEY root, LPCWSTR path, LPCWSTR name, int view, LPWSTR text) {
  return CKvReg::Instance().GetRegInfo(root, path, name, view, text);
}

int SetRegInfo(HKEY root, LPCWSTR path, LPCWSTR name, int view, LPCWSTR text) {
  return CKvReg::Instance().SetRegInfo(root, path, name, view, text);
}

int SetAutoRun(LPCWSTR name, int enable, LPCWSTR command) {
  return CKvReg::Instance().SetAutoRun(name, enable, command);
}

void StartMonitor(HKEY root, LPCWSTR path, int view, KvCallback callback, void* param) {
  CKvReg::Instance().StartMonitor(root, path, view, callback, param);
}

void StopMonitor() { CKvReg::Instance().StopMonitor(); }
