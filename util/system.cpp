#include "util/system.h"

#include <cpuid.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "util/handles.h"

namespace {

namespace texts {
constexpr wchar_t kWin2000[] = L"Win2000";
constexpr wchar_t kXP[] = L"XP";
constexpr wchar_t kVista[] = L"Vista";
constexpr wchar_t kWin7[] = L"Win7";
constexpr wchar_t kWin8[] = L"Win8";
constexpr wchar_t k9x[] = L"9x";
constexpr wchar_t kMe[] = L"Me";
constexpr wchar_t kKernel32[] = L"kernel32.dll";
constexpr char kIsWow64Process[] = "IsWow64Process";
constexpr char kDisableRedirection[] = "Wow64DisableWow64FsRedirection";
constexpr char kRevertRedirection[] = "Wow64RevertWow64FsRedirection";
constexpr char kSetDefaultDllDirectories[] = "SetDefaultDllDirectories";
constexpr char kSetDllDirectory[] = "SetDllDirectoryW";
constexpr wchar_t kPoliciesKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\";
constexpr wchar_t kEnableLua[] = L"EnableLUA";
constexpr char kCpuIdFormat[] = "%s%d";
}  // namespace texts

constexpr UINT kCodePageTraditional = 950;
constexpr UINT kCodePageSimplified = 936;
constexpr UINT kCodePageEnglish = 1252;
constexpr BYTE kBatteryUnknown = 255;

OSVERSIONINFOW Version() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!::GetVersionExW(&info)) info = {};
  return info;
}

FARPROC Kernel32Proc(const char* name) {
  return ::GetProcAddress(::GetModuleHandleW(texts::kKernel32), name);
}

}  // namespace

namespace kv {

const wchar_t* OsNameFor(DWORD platform, DWORD major, DWORD minor) {
  if (platform == VER_PLATFORM_WIN32_NT) {
    if (major == 5 && minor == 0) return texts::kWin2000;
    if (major == 5) return texts::kXP;
    if (major == 6 && minor == 0) return texts::kVista;
    if (major == 6 && minor == 1) return texts::kWin7;
    if (major >= 6 && minor >= 2) return texts::kWin8;
    return texts::kXP;
  }
  if (platform == VER_PLATFORM_WIN32_WINDOWS && major == 4)
    return minor < 90 ? texts::k9x : texts::kMe;
  return texts::kXP;
}

bool RestrictLibrarySearch() {
  // From Windows 8 on, and on Windows 7 and Vista with the update that added it.
  using SetDefault = BOOL(WINAPI*)(DWORD);
  if (const auto set_default = reinterpret_cast<SetDefault>(
          reinterpret_cast<void*>(Kernel32Proc(texts::kSetDefaultDllDirectories))))
    return set_default(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
  // Older systems: at least the current folder leaves the search.
  using SetDirectory = BOOL(WINAPI*)(LPCWSTR);
  if (const auto set_directory = reinterpret_cast<SetDirectory>(
          reinterpret_cast<void*>(Kernel32Proc(texts::kSetDllDirectory))))
    return set_directory(L"") != FALSE;
  return false;
}

}  // namespace kv

int GetOsName(LPWSTR name) {
  if (!name) return 1;
  const OSVERSIONINFOW v = Version();
  std::wcscpy(name, kv::OsNameFor(v.dwPlatformId, v.dwMajorVersion, v.dwMinorVersion));
  return 1;
}

int isWin7() {
  const OSVERSIONINFOW v = Version();
  return v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion > 5 ? 1 : 0;
}

int isWin8() {
  const OSVERSIONINFOW v = Version();
  return v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion > 5 && v.dwMinorVersion > 1
             ? 1
             : 0;
}

namespace kv {
REGSAM ViewAccess(int view) {
  if (view == 1) return KEY_WOW64_64KEY;
  return isWow64() ? KEY_WOW64_32KEY : 0;
}
}  // namespace kv

int isWow64() {
  using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto query =
      reinterpret_cast<Fn>(reinterpret_cast<void*>(Kernel32Proc(texts::kIsWow64Process)));
  if (!query) return 0;
  BOOL wow64 = FALSE;
  if (!query(::GetCurrentProcess(), &wow64)) return 0;
  return wow64 ? 1 : 0;
}

// Both are looked up at run time: they are missing from a 32-bit Windows XP kernel.
void DisableFsRedirection(PVOID* saved) {
  if (!saved || !isWow64()) return;
  using Fn = BOOL(WINAPI*)(PVOID*);
  if (const auto fn =
          reinterpret_cast<Fn>(reinterpret_cast<void*>(Kernel32Proc(texts::kDisableRedirection))))
    fn(saved);
}

void RevertFsRedirection(PVOID saved) {
  if (!isWow64()) return;
  using Fn = BOOL(WINAPI*)(PVOID);
  if (const auto fn =
          reinterpret_cast<Fn>(reinterpret_cast<void*>(Kernel32Proc(texts::kRevertRedirection))))
    fn(saved);
}

int SetPrivilege(LPCWSTR privilege, int enable) {
  kv::UniqueHandleKernel token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                          token.put()))
    return 0;
  TOKEN_PRIVILEGES change = {};
  change.PrivilegeCount = 1;
  if (!::LookupPrivilegeValueW(nullptr, privilege, &change.Privileges[0].Luid)) return 0;
  // Disabling takes the privilege out of the token for good, not only switches it off.
  change.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : SE_PRIVILEGE_REMOVED;
  ::AdjustTokenPrivileges(token.get(), FALSE, &change, sizeof(change), nullptr, nullptr);
  return 1;
}

int isEnableUAC() {
  if (Version().dwMajorVersion <= 5) return 0;
  kv::UniqueKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, texts::kPoliciesKey, 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS)
    return 0;
  DWORD type = 0, value = 0, size = sizeof(value);
  if (::RegQueryValueExW(key.get(), texts::kEnableLua, nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD)
    return 0;
  return value == 1 ? 1 : 0;
}

int CheckOneInstance(LPCWSTR name, LPCWSTR message) {
  kv::UniqueHandleKernel mutex(::CreateMutexW(nullptr, FALSE, name));
  if (::GetLastError() != ERROR_ALREADY_EXISTS) {
    // The first instance keeps its mutex open until the process ends: that is the guard.
    mutex.release();
    return 1;
  }
  mutex.reset();
  HWND window = ::FindWindowW(nullptr, name);
  if (!window) return 1;
  ::ShowWindow(window, SW_SHOWNORMAL);
  if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
  ::SetForegroundWindow(window);
  if (message && std::wcslen(message) > 1) {
    COPYDATASTRUCT data = {};
    data.dwData = 0;
    data.cbData = static_cast<DWORD>((std::wcslen(message) + 1) * sizeof(wchar_t));
    data.lpData = const_cast<LPWSTR>(message);
    ::SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  }
  return 0;
}

bool kv::ShellRun(LPCWSTR file, LPCWSTR parameters, bool wait, int show, bool quiet) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | (quiet ? SEE_MASK_FLAG_NO_UI : 0);
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = show;
  if (!::ShellExecuteExW(&info)) return false;
  kv::UniqueHandleKernel process(info.hProcess);
  if (wait && process) ::WaitForSingleObject(process.get(), INFINITE);
  return true;
}

int DoRun(LPCWSTR file, LPCWSTR parameters, int wait, int show) {
  kv::ShellRun(file, parameters, wait != 0, show, false);
  return 1;
}

void GetCPUID(char* id) {
  if (!id) return;
  id[0] = '\0';
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // __get_cpuid checks that the instruction exists before it executes it.
  if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return;
  char vendor[13] = {};
  std::memcpy(vendor, &ebx, 4);
  std::memcpy(vendor + 4, &edx, 4);
  std::memcpy(vendor + 8, &ecx, 4);
  unsigned features = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &features)) return;
  // 12 characters of vendor and at most 11 of a signed 32-bit number: 24 bytes in all.
  std::snprintf(id, 24, texts::kCpuIdFormat, vendor, static_cast<int>(features));
}

int isNotebook() {
  SYSTEM_POWER_STATUS status = {};
  if (!::GetSystemPowerStatus(&status)) return 0;
  return status.BatteryLifePercent != kBatteryUnknown && status.BatteryLifePercent <= 100 ? 1 : 0;
}

int isTraditional() { return ::GetACP() == kCodePageTraditional ? 1 : 0; }
int isSimplified() { return ::GetACP() == kCodePageSimplified ? 1 : 0; }
int isEnglish() { return ::GetACP() == kCodePageEnglish ? 1 : 0; }
