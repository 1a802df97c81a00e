#include "uninstall/deletion_guard.h"

#include <shlobj.h>
#include <userenv.h>

#include <algorithm>
#include <vector>

#include "util/handles.h"
#include "util/system.h"

namespace kv::guard {
namespace {

// Every folder the system or a user owns that shell lookups name. Their parents are refused too.
// clang-format off
constexpr int kWellKnownCsidls[] = {
    CSIDL_WINDOWS,           CSIDL_SYSTEM,           CSIDL_SYSTEMX86,
    CSIDL_PROGRAM_FILES,     CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
    CSIDL_PROGRAM_FILES_COMMONX86,                   CSIDL_COMMON_APPDATA,
    CSIDL_PROFILE,           CSIDL_APPDATA,          CSIDL_LOCAL_APPDATA,
    CSIDL_DESKTOPDIRECTORY,  CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_PERSONAL,          CSIDL_COMMON_DOCUMENTS, CSIDL_MYMUSIC,
    CSIDL_COMMON_MUSIC,      CSIDL_MYPICTURES,       CSIDL_COMMON_PICTURES,
    CSIDL_MYVIDEO,           CSIDL_COMMON_VIDEO,     CSIDL_FAVORITES,
    CSIDL_COMMON_FAVORITES,  CSIDL_PROGRAMS,         CSIDL_COMMON_PROGRAMS,
    CSIDL_STARTMENU,         CSIDL_COMMON_STARTMENU, CSIDL_STARTUP,
    CSIDL_COMMON_STARTUP,    CSIDL_TEMPLATES,        CSIDL_COMMON_TEMPLATES,
    CSIDL_SENDTO,            CSIDL_RECENT,           CSIDL_NETHOOD,
    CSIDL_PRINTHOOD,         CSIDL_COOKIES,          CSIDL_HISTORY,
    CSIDL_INTERNET_CACHE,    CSIDL_ADMINTOOLS,       CSIDL_COMMON_ADMINTOOLS,
    CSIDL_CDBURN_AREA,       CSIDL_FONTS,            CSIDL_RESOURCES,
};
// clang-format on

// Downloads and the public profile have no CSIDL; their lookup exists from Vista on.
constexpr GUID kFolderDownloads = {
    0x374de290, 0x123f, 0x4565, {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}};
constexpr GUID kFolderPublic = {
    0xdfdf76a2, 0xc82a, 0x4d63, {0x90, 0x6a, 0x56, 0x44, 0xac, 0x45, 0x73, 0x85}};

constexpr wchar_t kProfileListKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
// A 32-bit process on 64-bit Windows is told the (x86) folders: the 64-bit ones come from here.
constexpr const wchar_t* kNativeProgramFolders[] = {L"ProgramFilesDir", L"CommonFilesDir",
                                                    L"ProgramW6432Dir", L"CommonW6432Dir"};
constexpr const wchar_t* kNativeProgramVariables[] = {L"ProgramW6432", L"CommonProgramW6432"};

constexpr const wchar_t* kDeviceNames[] = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                           L"CONIN$", L"CONOUT$", L"CLOCK$"};

std::wstring Upper(const std::wstring& text) {
  std::wstring out = text;
  if (!out.empty())
    ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.c_str(), static_cast<int>(text.size()),
                   out.data(), static_cast<int>(out.size()));
  return out;
}

std::wstring WithoutTrailingSlash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  if (path.size() == 3 && path[1] == L':') path.pop_back();  // "C:\" -> "C:"
  return path;
}

bool IsDeviceName(const std::wstring& piece) {
  const std::wstring base = Upper(piece.substr(0, piece.find(L'.')));
  for (const wchar_t* device : kDeviceNames)
    if (base == device) return true;
  if (base.size() == 4 && (base.rfind(L"COM", 0) == 0 || base.rfind(L"LPT", 0) == 0))
    return base[3] >= L'0' && base[3] <= L'9';
  return false;
}

Refusal CheckPiece(const std::wstring& piece) {
  if (piece == L"." || piece == L"..") return Refusal::kDotPiece;
  // The system drops trailing dots and spaces: "Prod." and "Prod " name another folder, "Prod".
  if (piece.back() == L'.' || piece.back() == L' ') return Refusal::kDotPiece;
  for (wchar_t c : piece)
    if (c < 0x20 || std::wstring_view(L":*?\"<>|/").find(c) != std::wstring_view::npos)
      return Refusal::kForeignForm;
  if (IsDeviceName(piece)) return Refusal::kForeignForm;
  return Refusal::kNone;
}

// --- final paths ----------------------------------------------------------------------------

using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// From Vista on; without it links are refused instead of resolved.
FinalPathFn FinalPathFunction() {
  static const FinalPathFn fn = reinterpret_cast<FinalPathFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  return fn;
}

kv::UniqueFile OpenFollowing(const std::wstring& path) {
  return kv::UniqueFile(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The attributes of path's own directory entry: a link shows as a link, not as its target.
bool EntryAttributes(const std::wstring& path, DWORD* attributes) {
  WIN32_FIND_DATAW data;
  kv::UniqueFind find(::FindFirstFileW(path.c_str(), &data));
  if (!find) return false;
  *attributes = data.dwFileAttributes;
  return true;
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Without the final-path lookup: the long form, and no link anywhere on the way.
std::wstring ResolveWithoutFinalPath(const std::wstring& existing) {
  for (size_t pos = existing.find(L'\\', 3);; pos = existing.find(L'\\', pos + 1)) {
    DWORD attributes = 0;
    const std::wstring prefix = existing.substr(0, pos);
    if (prefix.size() > 2 && EntryAttributes(prefix, &attributes) && IsLink(attributes)) return {};
    if (pos == std::wstring::npos) break;
  }
  wchar_t long_name[MAX_PATH * 2] = {};
  const DWORD length = ::GetLongPathNameW(existing.c_str(), long_name, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return {};
  return WithoutTrailingSlash(long_name);
}

// The final form of an existing path; empty when it does not exist or cannot be resolved.
std::wstring ResolveExisting(const std::wstring& path) {
  const std::wstring target = path.size() == 2 ? path + L"\\" : path;  // "C:" alone is relative
  if (!FinalPathFunction()) {
    if (::GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
    return ResolveWithoutFinalPath(target);
  }
  const kv::UniqueFile handle = OpenFollowing(target);
  return handle ? FinalPathOf(handle.get()) : std::wstring();
}

// The final form of the longest part of path that exists, with the rest appended as written.
std::wstring ResolvePlanned(const std::wstring& path) {
  std::wstring head = path, tail;
  while (head.size() > 2) {
    const std::wstring resolved = ResolveExisting(head);
    if (!resolved.empty()) return resolved + tail;
    const size_t cut = head.rfind(L'\\');
    tail = head.substr(cut) + tail;
    head.resize(cut);
  }
  const std::wstring root = ResolveExisting(head);
  return root.empty() ? std::wstring() : root + tail;
}

// --- what may not be swept -------------------------------------------------------------------

class Landmarks {
 public:
  static const Landmarks& Get() {
    static const Landmarks landmarks;
    return landmarks;
  }

  Refusal Classify(const std::wstring& final_path) const {
    const std::wstring path = Upper(final_path);
    if (IsRoot(final_path)) return Refusal::kRoot;
    for (const std::wstring& windows : windows_)
      if (path == windows || IsInsideUpper(path, windows)) return Refusal::kWindows;
    for (const std::wstring& profile : profiles_)
      if (path == profile) return Refusal::kProfileRoot;
    for (const std::wstring& folder : well_known_)
      if (path == folder) return Refusal::kWellKnown;
    for (const auto* list : {&windows_, &profiles_, &well_known_})
      for (const std::wstring& folder : *list)
        if (IsInsideUpper(folder, path)) return Refusal::kAboveWellKnown;
    return Refusal::kNone;
  }

 private:
  Landmarks() {
    for (int csidl : kWellKnownCsidls) AddShellFolder(csidl);
    AddKnownFolder(kFolderDownloads);
    AddKnownFolder(kFolderPublic);
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length && length <= MAX_PATH) Add(&well_known_, temp);
    AddProfiles();
    if (isWow64()) AddNativeProgramFolders();
    wchar_t windows[MAX_PATH] = {};
    if (::GetWindowsDirectoryW(windows, MAX_PATH)) Add(&windows_, windows);
    if (::GetSystemWindowsDirectoryW(windows, MAX_PATH)) Add(&windows_, windows);
  }

  static bool IsRoot(const std::wstring& final_path) {
    if (final_path.size() <= 2) return true;
    // A volume mounted in a folder is a root of its own.
    wchar_t volume[MAX_PATH + 1] = {};
    const std::wstring folder = final_path + L"\\";
    return ::GetVolumePathNameW(folder.c_str(), volume, MAX_PATH + 1) &&
           SamePath(WithoutTrailingSlash(volume), final_path);
  }

  static bool IsInsideUpper(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == L'\\';
  }

  // Both the folder as the system spells it and where its links lead, upper case.
  static void Add(std::vector<std::wstring>* list, const std::wstring& folder) {
    if (folder.size() < 2 || folder[1] != L':') return;
    const std::wstring spelled = WithoutTrailingSlash(folder);
    for (const std::wstring& form : {spelled, ResolvePlanned(spelled)}) {
      if (form.size() <= 2) continue;
      const std::wstring upper = Upper(form);
      if (std::find(list->begin(), list->end(), upper) == list->end()) list->push_back(upper);
    }
  }

  void AddShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
      Add(&well_known_, path);
  }

  void AddKnownFolder(const GUID& id) {
    using Fn = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);
    const auto lookup = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"shell32.dll"), "SHGetKnownFolderPath")));
    kv::UniqueCoTaskMem path;
    if (lookup && SUCCEEDED(lookup(id, 0, nullptr, reinterpret_cast<PWSTR*>(path.put()))))
      Add(&well_known_, static_cast<const wchar_t*>(path.get()));
  }

  // Every user's profile: those the system lists, and every folder in the profiles folder.
  void AddProfiles() {
    std::wstring profiles_dir;
    wchar_t buffer[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (::GetProfilesDirectoryW(buffer, &size)) profiles_dir = buffer;
    kv::UniqueKey list;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileListKey, 0, KEY_READ, list.put()) ==
        ERROR_SUCCESS) {
      for (const wchar_t* value : {L"ProfilesDirectory", L"Default", L"Public", L"ProgramData"}) {
        const std::wstring folder = ExpandedValue(list.get(), L"", value);
        if (value == std::wstring(L"ProfilesDirectory") && !folder.empty()) profiles_dir = folder;
        Add(&well_known_, folder);
      }
      wchar_t sid[256];
      for (DWORD i = 0; size = 256, ::RegEnumKeyExW(list.get(), i, sid, &size, nullptr, nullptr,
                                                    nullptr, nullptr) == ERROR_SUCCESS;
           ++i)
        Add(&profiles_, ExpandedValue(list.get(), sid, L"ProfileImagePath"));
    }
    if (profiles_dir.empty()) return;
    Add(&well_known_, profiles_dir);
    WIN32_FIND_DATAW data;
    const std::wstring base = WithoutTrailingSlash(profiles_dir) + L"\\";
    kv::UniqueFind find(::FindFirstFileW((base + L"*").c_str(), &data));
    if (!find) return;
    do {
      const std::wstring name = data.cFileName;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
        Add(&profiles_, base + name);
    } while (::FindNextFileW(find.get(), &data));
  }

  void AddNativeProgramFolders() {
    kv::UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_READ | KEY_WOW64_64KEY,
                        key.put()) == ERROR_SUCCESS)
      for (const wchar_t* value : kNativeProgramFolders)
        Add(&well_known_, ExpandedValue(key.get(), L"", value));
    for (const wchar_t* variable : kNativeProgramVariables) {
      wchar_t folder[MAX_PATH] = {};
      const DWORD length = ::GetEnvironmentVariableW(variable, folder, MAX_PATH);
      if (length && length < MAX_PATH) Add(&well_known_, folder);
    }
  }

  static std::wstring ExpandedValue(HKEY key, const wchar_t* subkey, const wchar_t* name) {
    wchar_t raw[MAX_PATH] = {};
    DWORD bytes = sizeof(raw) - sizeof(wchar_t);
    if (::RegGetValueW(key, subkey, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                       nullptr, raw, &bytes) != ERROR_SUCCESS)
      return {};
    wchar_t expanded[MAX_PATH] = {};
    const DWORD length = ::ExpandEnvironmentStringsW(raw, expanded, MAX_PATH);
    return (length && length <= MAX_PATH) ? expanded : L"";
  }

  std::vector<std::wstring> windows_, profiles_, well_known_;
};

enum class Kind { kFolder, kFile };

Verdict Refuse(Refusal refusal) { return Verdict{refusal, {}}; }

Verdict Check(const std::wstring& path, Kind kind, bool planned, const std::wstring& within) {
  if (const Refusal form = CheckForm(path); form != Refusal::kNone) return Refuse(form);
  const std::wstring bare = WithoutTrailingSlash(path);
  if (kind == Kind::kFile && (path.back() == L'\\' || bare.size() <= 2))
    return Refuse(Refusal::kForeignForm);

  DWORD attributes = 0;
  const bool exists = bare.size() > 2 && EntryAttributes(bare, &attributes);
  std::wstring final_path;
  if (kind == Kind::kFile) {
    const size_t cut = bare.rfind(L'\\');
    const std::wstring folder = bare.substr(0, cut);
    const std::wstring resolved = planned ? ResolvePlanned(folder) : ResolveExisting(folder);
    if (resolved.empty()) return Refuse(Refusal::kUnresolved);
    // No product keeps its files loose in a drive's root.
    if (resolved.size() <= 2) return Refuse(Refusal::kRoot);
    final_path = resolved + bare.substr(cut);
  } else {
    if (exists && IsLink(attributes)) return Refuse(Refusal::kLink);
    if (!planned && bare.size() > 2 && (!exists || !(attributes & FILE_ATTRIBUTE_DIRECTORY)))
      return Refuse(Refusal::kUnresolved);
    final_path = planned ? ResolvePlanned(bare) : ResolveExisting(bare);
    if (final_path.empty()) return Refuse(Refusal::kUnresolved);
  }
  if (const Refusal place = Landmarks::Get().Classify(final_path); place != Refusal::kNone)
    return Refuse(place);
  if (!within.empty()) {
    const std::wstring container = ResolveExisting(WithoutTrailingSlash(within));
    if (container.empty() || !IsInside(final_path, container)) return Refuse(Refusal::kOutside);
  }
  return Verdict{Refusal::kNone, kind == Kind::kFolder ? final_path + L"\\" : final_path};
}

}  // namespace

const wchar_t* RefusalText(Refusal refusal) {
  switch (refusal) {
    case Refusal::kNone:
      return L"allowed";
    case Refusal::kNotAbsolute:
      return L"not an absolute drive path";
    case Refusal::kForeignForm:
      return L"a network, device or unusual path form";
    case Refusal::kDotPiece:
      return L"a \".\" or \"..\" piece, or a name with a trailing dot or space";
    case Refusal::kUnresolved:
      return L"missing, or not resolvable to a final path";
    case Refusal::kRoot:
      return L"a drive or volume root";
    case Refusal::kWindows:
      return L"the Windows folder or inside it";
    case Refusal::kWellKnown:
      return L"a system or user folder";
    case Refusal::kProfileRoot:
      return L"a user's profile folder";
    case Refusal::kAboveWellKnown:
      return L"a parent of a system or user folder";
    case Refusal::kLink:
      return L"a link, which is never followed";
    case Refusal::kOutside:
      return L"outside the folder it must stay in";
  }
  return L"refused";
}

Refusal CheckForm(const std::wstring& path) {
  // UNC, "\\?\" and "\\.\" forms, and forward slashes, which the system reads as backslashes.
  if (path.find(L'/') != std::wstring::npos || path.rfind(L"\\\\", 0) == 0)
    return Refusal::kForeignForm;
  const bool drive =
      path.size() >= 2 &&
      ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
      path[1] == L':';
  if (!drive || path.size() < 3 || path[2] != L'\\') return Refusal::kNotAbsolute;
  size_t start = 3;
  while (start < path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    // Only a last, trailing backslash may leave a piece empty.
    if (end == start) return Refusal::kForeignForm;
    if (const Refusal piece = CheckPiece(path.substr(start, end - start)); piece != Refusal::kNone)
      return piece;
    start = end + 1;
  }
  return Refusal::kNone;
}

bool IsPlainName(const std::wstring& name) {
  return !name.empty() && name.find(L'\\') == std::wstring::npos &&
         CheckPiece(name) == Refusal::kNone;
}

std::wstring FinalPath(const std::wstring& path) {
  return CheckForm(path) == Refusal::kNone ? ResolveExisting(WithoutTrailingSlash(path)) : L"";
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && Upper(a) == Upper(b);
}

bool IsInside(const std::wstring& path, const std::wstring& folder) {
  return path.size() > folder.size() + 1 && path[folder.size()] == L'\\' &&
         SamePath(path.substr(0, folder.size()), folder);
}

std::wstring FinalPathOf(HANDLE handle) {
  const FinalPathFn fn = FinalPathFunction();
  if (!fn) return {};
  wchar_t buffer[MAX_PATH * 2] = {};
  const DWORD length = fn(handle, buffer, MAX_PATH * 2, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= MAX_PATH * 2) return {};
  std::wstring path(buffer, length);
  if (path.rfind(L"\\\\?\\", 0) == 0) path.erase(0, 4);
  // A network or device target never passes: only "X:\..." comes back.
  if (path.size() < 2 || path[1] != L':') return {};
  return WithoutTrailingSlash(path);
}

Verdict CheckFolder(const std::wstring& folder, const std::wstring& within) {
  return Check(folder, Kind::kFolder, false, within);
}

Verdict CheckFile(const std::wstring& file) { return Check(file, Kind::kFile, false, L""); }

Verdict CheckPlannedFolder(const std::wstring& folder) {
  return Check(folder, Kind::kFolder, true, L"");
}

Verdict CheckPlannedFile(const std::wstring& file) { return Check(file, Kind::kFile, true, L""); }

}  // namespace kv::guard
