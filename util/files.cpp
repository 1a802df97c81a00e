#include "util/files.h"

#include <oleauto.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <string>
#include <vector>

#include "util/caller_text.h"
#include "util/handles.h"
#include "util/system.h"
#include "util/format.h"

namespace {

// The module's folder into a caller's buffer of MAX_PATH characters; empty when the module's
// name does not fit MAX_PATH. The folder is then at most MAX_PATH - 1 characters long.
void ModuleFolder(HMODULE module, LPWSTR path) {
  if (!path) return;
  path[0] = L'\0';
  wchar_t full[MAX_PATH + 1] = {};
  const DWORD len = ::GetModuleFileNameW(module, full, MAX_PATH);
  if (len == 0 || len >= MAX_PATH) return;
  wchar_t* slash = std::wcsrchr(full, L'\\');
  if (!slash) return;
  slash[1] = L'\0';
  std::wcscpy(path, full);
}

}  // namespace

void GetCurPath(LPWSTR path) { ModuleFolder(nullptr, path); }

std::wstring kv::ProgramPath() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  return (length && length < MAX_PATH) ? std::wstring(path, length) : std::wstring();
}

std::wstring kv::ProgramFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetCurPath(folder);
  return folder;
}

void GetCurPathEx(LPCWSTR module, LPWSTR path) {
  HMODULE handle = module ? ::GetModuleHandleW(module) : nullptr;
  ModuleFolder(handle, path);
}

namespace {

namespace texts {
constexpr wchar_t kReadMode[] = L"rb";
constexpr wchar_t kWriteMode[] = L"wb";
constexpr wchar_t kVersionFormat[] = L"%d.%d.%d.%d";
constexpr wchar_t kRootBlock[] = L"\\";
constexpr wchar_t kGigabytes[] = L"%4.2f GB";
constexpr wchar_t kMegabytes[] = L"%4.2f MB";
constexpr wchar_t kKilobytes[] = L"%4.2f KB";
constexpr wchar_t kBytes[] = L"%d B";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kDisplayName[] = L"DisplayName";
constexpr wchar_t kDisplayVersion[] = L"DisplayVersion";
// The Windows Script runtime's file-system object, driven through its automation interface.
constexpr CLSID kFileSystemObject = {
    0x0D43FE01, 0xF093, 0x11CF, {0x89, 0x40, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x28}};
constexpr wchar_t kGetFolder[] = L"GetFolder";
constexpr wchar_t kSize[] = L"Size";
}  // namespace texts

constexpr long long kKiB = 1024;
constexpr long long kMiB = 1024 * kKiB;
constexpr long long kGiB = 1024 * kMiB;
constexpr int kVersionFields = 4;
constexpr size_t kFieldUnits = 53;  // longer fields are not supported input
constexpr DWORD kSubkeyUnits = 300;
constexpr DWORD kDisplayNameBytes = 300;
constexpr DWORD kDisplayVersionBytes = 100;

// The rooms the out texts promise their callers, terminator included.
constexpr size_t kVersionRoom = 24;   // "65535.65535.65535.65535"
constexpr size_t kSizeTextRoom = 17;  // "8589934592.00 GB"
constexpr size_t kSoftVersionRoom = kDisplayVersionBytes / 2;

// Room of a formatted number: well above the longest.
constexpr size_t kNumberRoom = 64;

// number units, held to the 64-bit range as the number itself was read ("9000000000 GB" is more
// bytes than the range holds).
long long Scaled(long long number, long long unit) {
  constexpr long long kMost = std::numeric_limits<long long>::max();
  constexpr long long kLeast = std::numeric_limits<long long>::min();
  if (number > kMost / unit) return kMost;
  if (number < kLeast / unit) return kLeast;
  return number * unit;
}

void ToCalendar(const FILETIME& utc, SYSTEMTIME* out) {
  if (!out) return;
  FILETIME local = {};
  ::FileTimeToLocalFileTime(&utc, &local);
  ::FileTimeToSystemTime(&local, out);
}

// The fields of a version text, each read like wcstol; absent fields are 0.
std::array<long, kVersionFields> VersionFields(const wchar_t* text) {
  std::array<long, kVersionFields> fields = {};
  const wchar_t* p = text;
  for (int i = 0; i < kVersionFields && *p; ++i) {
    const wchar_t* dot = std::wcschr(p, L'.');
    const size_t len = dot ? static_cast<size_t>(dot - p) : std::wcslen(p);
    const std::wstring field(p, std::min(len, kFieldUnits));
    fields[i] = std::wcstol(field.c_str(), nullptr, 10);
    if (!dot) break;
    p = dot + 1;
  }
  return fields;
}

// One uninstall list in one root and view; the first entry whose display name starts with prefix.
bool FindEntry(HKEY root, REGSAM view, LPCWSTR prefix, std::wstring* version) {
  kv::UniqueKey list;
  if (::RegOpenKeyExW(root, texts::kUninstallKey, 0, KEY_ALL_ACCESS | view, list.put()) !=
      ERROR_SUCCESS)
    return false;
  const size_t prefix_len = std::wcslen(prefix);
  for (DWORD index = 0;; ++index) {
    wchar_t name[kSubkeyUnits + 1] = {};
    DWORD name_len = kSubkeyUnits;
    const LONG rc =
        ::RegEnumKeyExW(list.get(), index, name, &name_len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return false;
    if (rc != ERROR_SUCCESS || !name[0]) continue;
    kv::UniqueKey entry;
    if (::RegOpenKeyExW(list.get(), name, 0, KEY_READ | view, entry.put()) != ERROR_SUCCESS)
      continue;
    wchar_t display[kDisplayNameBytes / 2 + 1] = {};
    DWORD bytes = kDisplayNameBytes;
    if (::RegQueryValueExW(entry.get(), texts::kDisplayName, nullptr, nullptr,
                           reinterpret_cast<BYTE*>(display), &bytes) != ERROR_SUCCESS)
      continue;
    if (std::wcsncmp(display, prefix, prefix_len) != 0) continue;
    if (version) {
      wchar_t text[kDisplayVersionBytes / 2 + 1] = {};
      bytes = kDisplayVersionBytes;
      if (::RegQueryValueExW(entry.get(), texts::kDisplayVersion, nullptr, nullptr,
                             reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS)
        text[0] = L'\0';
      text[kDisplayVersionBytes / 2 - 1] = L'\0';
      *version = text;
    }
    return true;
  }
}

// HKLM, then HKCU in the default view; under WOW64 both again in the 64-bit view.
bool FindInstalled(LPCWSTR prefix, std::wstring* version) {
  if (!prefix) return false;
  const REGSAM first = kv::ViewAccess(0);
  if (FindEntry(HKEY_LOCAL_MACHINE, first, prefix, version)) return true;
  if (FindEntry(HKEY_CURRENT_USER, first, prefix, version)) return true;
  if (!isWow64()) return false;
  return FindEntry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, prefix, version) ||
         FindEntry(HKEY_CURRENT_USER, KEY_WOW64_64KEY, prefix, version);
}

HRESULT DispatchCall(IDispatch* object, const wchar_t* member, WORD flags, DISPPARAMS* params,
                     VARIANT* result) {
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, nullptr, nullptr);
}

unsigned long long FolderSize(LPCWSTR path) {
  kv::ComInit com;
  if (!com.usable()) return 0;
  kv::ComPtr<IDispatch> fso;
  if (FAILED(::CoCreateInstance(texts::kFileSystemObject, nullptr, CLSCTX_ALL, IID_IDispatch,
                                fso.put_void())))
    return 0;
  kv::ScopedVariant arg, folder, size;
  arg->vt = VT_BSTR;
  arg->bstrVal = ::SysAllocString(path);
  if (!arg->bstrVal) return 0;
  DISPPARAMS params = {arg.get(), nullptr, 1, 0};
  if (FAILED(DispatchCall(fso.get(), texts::kGetFolder, DISPATCH_METHOD, &params, folder.get())) ||
      folder->vt != VT_DISPATCH || !folder->pdispVal)
    return 0;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  // The size comes as a double or a decimal, depending on how large it is.
  if (FAILED(
          DispatchCall(folder->pdispVal, texts::kSize, DISPATCH_PROPERTYGET, &none, size.get())) ||
      FAILED(::VariantChangeType(size.get(), size.get(), 0, VT_UI8)))
    return 0;
  return size->ullVal;
}

}  // namespace

int KvReadFile(LPCWSTR path, LPVOID buffer, DWORD* length) {
  if (!path || !length) return 0;
  kv::UniqueStdioFile file(_wfopen(path, texts::kReadMode));
  if (!file) return 0;
  *length = buffer ? static_cast<DWORD>(std::fread(buffer, 1, *length, file.get())) : 0;
  return 1;
}

int KvWriteFile(LPCWSTR path, LPCVOID data, DWORD length) {
  if (!path) return 0;
  kv::UniqueStdioFile file(_wfopen(path, texts::kWriteMode));
  if (!file) return 0;
  if (data && length) std::fwrite(data, 1, length, file.get());
  return 1;
}

int isDir(LPCWSTR path) {
  if (!path) return 0;
  const DWORD attributes = ::GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

long long FileSize(LPCWSTR path) {
  if (!path) return 0;
  struct _stat64 status = {};
  if (_wstat64(path, &status) != 0) return 0;
  return status.st_size;
}

int FileTime(LPCWSTR path, SYSTEMTIME* creation, SYSTEMTIME* last_write, SYSTEMTIME* last_access) {
  if (!path) return 0;
  kv::UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  FILETIME created = {}, accessed = {}, written = {};
  if (!::GetFileTime(file.get(), &created, &accessed, &written)) return 0;
  ToCalendar(created, creation);
  ToCalendar(written, last_write);
  ToCalendar(accessed, last_access);
  return 1;
}

int GetFileVer(LPCWSTR path, LPWSTR version) {
  kv::CopyToCaller(L"", version, kVersionRoom);
  if (!path) return 0;
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return 0;
  std::vector<BYTE> block(size);
  if (!::GetFileVersionInfoW(path, 0, size, block.data())) return 0;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_len = 0;
  if (::VerQueryValueW(block.data(), texts::kRootBlock, reinterpret_cast<void**>(&fixed),
                       &fixed_len) &&
      fixed && fixed_len >= sizeof(VS_FIXEDFILEINFO)) {
    kv::CopyToCaller(
        kv::FormatBounded(kNumberRoom, texts::kVersionFormat, HIWORD(fixed->dwFileVersionMS),
                          LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                          LOWORD(fixed->dwFileVersionLS)),
        version, kVersionRoom);
  }
  return 1;
}

int CompVersion(LPCWSTR a, LPCWSTR b) {
  if (!a || !b || !*a || !*b) return -2;
  const auto fa = VersionFields(a);
  const auto fb = VersionFields(b);
  for (int i = 0; i < kVersionFields; ++i) {
    if (fa[i] > fb[i]) return 1;
    if (fa[i] < fb[i]) return -1;
  }
  return 0;
}

void IntToStrSize(long long size, LPWSTR text) {
  std::wstring out;
  if (size > kGiB)
    out = kv::FormatBounded(kNumberRoom, texts::kGigabytes, static_cast<double>(size) / kGiB);
  else if (size > kMiB)
    out = kv::FormatBounded(kNumberRoom, texts::kMegabytes, static_cast<double>(size) / kMiB);
  else if (size > kKiB)
    out = kv::FormatBounded(kNumberRoom, texts::kKilobytes, static_cast<double>(size) / kKiB);
  else
    out =
        kv::FormatBounded(kNumberRoom, texts::kBytes,
                          static_cast<int>(static_cast<unsigned long long>(size) & 0xFFFFFFFFull));
  kv::CopyToCaller(out, text, kSizeTextRoom);
}

long long StrToIntSize(LPCWSTR text) {
  if (!text) return 0;
  const std::wstring whole(text);
  const size_t blank = whole.find(L' ');
  if (blank == std::wstring::npos) return 0;
  const long long number = std::wcstoll(whole.substr(0, blank).c_str(), nullptr, 10);
  std::wstring upper = whole;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  const auto after_first = [&upper](wchar_t unit) {
    return upper.find(unit, 1) != std::wstring::npos;
  };
  if (after_first(L'G')) return Scaled(number, kGiB);
  if (after_first(L'M')) return Scaled(number, kMiB);
  if (after_first(L'K')) return Scaled(number, kKiB);
  return 0;
}

unsigned long long GetPathUseSpace(LPCWSTR path) {
  if (!path || !*path) return 0;
  if (std::wcslen(path) == 3) {
    ULARGE_INTEGER available = {}, total = {};
    if (!::GetDiskFreeSpaceExW(path, &available, &total, nullptr)) return 0;
    return total.QuadPart - available.QuadPart;
  }
  return FolderSize(path);
}

int CheckInstalled(LPCWSTR prefix) { return FindInstalled(prefix, nullptr) ? 1 : 0; }

int GetSoftVer(LPCWSTR prefix, LPWSTR version) {
  std::wstring found;
  if (!FindInstalled(prefix, &found)) return 0;
  kv::CopyToCaller(found, version, kSoftVersionRoom);
  return 1;
}

namespace kv {

bool IsSameFile(HANDLE open, LPCWSTR path) {
  BY_HANDLE_FILE_INFORMATION a = {}, b = {};
  if (!path || !::GetFileInformationByHandle(open, &a)) return false;
  // No access asked for: only the identity is read, whoever holds the file.
  UniqueFile other(::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!other || !::GetFileInformationByHandle(other.get(), &b)) return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool CloseWritten(UniqueStdioFile& file) {
  FILE* f = file.release();
  if (!f) return false;
  // Flushed first and on its own: some runtimes' fclose forgets a failure of its own flush.
  const bool flushed = std::fflush(f) == 0;
  return std::fclose(f) == 0 && flushed;
}

}  // namespace kv
