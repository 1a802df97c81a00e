#include "util/identity.h"

#include <shellapi.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "util/caller_text.h"
#include "util/files.h"
#include "util/crypt_handles.h"
#include "util/handles.h"
#include "util/system.h"
#include "util/format.h"

namespace {

constexpr wchar_t kUidValue[] = L"UID";
constexpr wchar_t kUidFormat[] = L"KV%08d%05d%05d";
constexpr size_t kStoredUidLength = 20;
constexpr DWORD kUidReadChars = 30;

constexpr wchar_t kDefaultBrowser[] = L"iexplore.exe";
constexpr wchar_t kBrowserCommandKey[] = L"http\\shell\\open\\command";
constexpr DWORD kBrowserCommandChars = 200;

constexpr wchar_t kProtocolSuffix[] = L"Protocol";
constexpr wchar_t kUrlProtocolValue[] = L"URL Protocol";
constexpr wchar_t kDefaultIconKey[] = L"\\DefaultIcon";
constexpr wchar_t kIconIndexSuffix[] = L",0";
constexpr wchar_t kOpenCommandKey[] = L"\\shell\\open\\command";
constexpr wchar_t kArgumentSuffix[] = L" \"%1\"";
constexpr wchar_t kRelationIconFormat[] = L"%s\\DefaultIcon";
constexpr wchar_t kRelationShellFormat[] = L"%s\\Shell";
constexpr wchar_t kRelationOpenFormat[] = L"%s\\Shell\\Open";
constexpr wchar_t kRelationCommandFormat[] = L"%s\\Shell\\Open\\Command";
constexpr wchar_t kRelationCommandText[] = L"\"%s\" \"%%1\"";

constexpr wchar_t kRootStore[] = L"Root";
constexpr int kShowNormal = SW_SHOW;

// Bytes copied as they are; every other byte becomes %xx.
bool IsPlainByte(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '-':
    case '.':
    case '/':
    case ':':
    case '_':
    case '~':
    case '%':  // an existing escape stays as it is
      return true;
    default:
      return false;
  }
}

void SetString(HKEY key, LPCWSTR name, const std::wstring& text) {
  ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

kv::UniqueKey CreateKey(HKEY root, const std::wstring& path, REGSAM access) {
  kv::UniqueKey key;
  if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
    key.reset();
  return key;
}

// Default value of an open key, at most chars characters; empty when it cannot be read.
std::wstring ReadDefault(HKEY key, DWORD chars) {
  std::wstring text(chars + 1, L'\0');
  DWORD bytes = chars * sizeof(wchar_t);
  DWORD type = 0;
  if (::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &bytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return L"";
  text.resize(std::wcslen(text.c_str()));
  return text;
}

// At most 1023 characters.
std::wstring Format(const wchar_t* format, const wchar_t* arg) {
  return kv::FormatBounded(1024, format, arg);
}

}  // namespace

void CreateUID(LPWSTR out, int persist) {
  if (!out) return;
  std::srand(::GetTickCount());
  const int first = std::rand();
  const int second = std::rand();
  std::wstring uid =
      kv::FormatBounded(kUidRoom, kUidFormat, static_cast<int>(::GetTickCount()), second, first);

  if (persist) {
    kv::UniqueKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kVendorKey, 0, KEY_ALL_ACCESS, key.put()) ==
        ERROR_SUCCESS) {
      wchar_t stored[50] = {};
      DWORD bytes = kUidReadChars * sizeof(wchar_t);
      const bool read =
          ::RegQueryValueExW(key.get(), kUidValue, nullptr, nullptr,
                             reinterpret_cast<BYTE*>(stored), &bytes) == ERROR_SUCCESS;
      if (read && std::wcslen(stored) == kStoredUidLength)
        uid = stored;
      else
        SetString(key.get(), kUidValue, uid.c_str());
    } else {
      key = CreateKey(HKEY_CURRENT_USER, kVendorKey, KEY_READ | KEY_WRITE);
      if (key) SetString(key.get(), kUidValue, uid.c_str());
    }
  }
  kv::CopyToCaller(uid.c_str(), out, kUidRoom);
}

int URLEncode(LPWSTR text) {
  if (!text) return 0;
  if (text[0] == L'\0') return 1;
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return 0;
  std::string utf8(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(bytes) - 1);

  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring encoded;
  encoded.reserve(utf8.size() * 3);
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsPlainByte(c)) {
      encoded += static_cast<wchar_t>(c);
    } else {
      encoded += L'%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0x0F];
    }
  }
  if (encoded.size() + 1 > static_cast<size_t>(kUrlEncodeLimit)) return 0;
  std::wmemcpy(text, encoded.c_str(), encoded.size() + 1);
  return 1;
}

void OpenUrl(LPCWSTR url, int wait) {
  std::wstring browser = kDefaultBrowser;
  kv::UniqueKey key;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, kBrowserCommandKey, 0, KEY_READ | KEY_WRITE, key.put()) ==
      ERROR_SUCCESS) {
    std::wstring command = ReadDefault(key.get(), kBrowserCommandChars);
    if (!command.empty()) {
      const size_t cut = command.find(L"\" ");
      if (cut != std::wstring::npos) command.resize(cut);
      std::erase(command, L'"');
      browser = command;
    }
  }
  key.reset();
  kv::ShellRun(browser.c_str(), url, wait != 0, kShowNormal, /*quiet=*/true);
}

void RegProtocol(LPCWSTR name, LPCWSTR program) {
  if (!name || !program) return;
  const std::wstring protocol = name;
  kv::UniqueKey root = CreateKey(HKEY_CLASSES_ROOT, protocol, KEY_READ | KEY_WRITE);
  if (!root) return;
  SetString(root.get(), nullptr, protocol + kProtocolSuffix);
  const std::wstring path = kv::ProgramFolder() + program;
  SetString(root.get(), kUrlProtocolValue, path);

  kv::UniqueKey icon =
      CreateKey(HKEY_CLASSES_ROOT, protocol + kDefaultIconKey, KEY_READ | KEY_WRITE);
  if (!icon) return;
  SetString(icon.get(), nullptr, path + kIconIndexSuffix);
  kv::UniqueKey command =
      CreateKey(HKEY_CLASSES_ROOT, protocol + kOpenCommandKey, KEY_READ | KEY_WRITE);
  // Unquoted, a path with a blank would start whatever program its first word names.
  const bool blank = path.find_first_of(L" \t") != std::wstring::npos;
  if (command)
    SetString(command.get(), nullptr, (blank ? L'"' + path + L'"' : path) + kArgumentSuffix);
}

void RegFileRelation(LPCWSTR extension, LPCWSTR program, LPCWSTR typeName, LPCWSTR icon,
                     LPCWSTR description) {
  if (!extension || !program || !typeName || !icon || !description) return;
  {
    kv::UniqueKey existing;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, extension, 0, KEY_READ, existing.put()) ==
            ERROR_SUCCESS &&
        ::lstrcmpiW(ReadDefault(existing.get(), MAX_PATH).c_str(), typeName) == 0)
      return;
  }
  auto set = [](const std::wstring& path, LPCWSTR value) {
    kv::UniqueKey key;
    if (::RegCreateKeyW(HKEY_CLASSES_ROOT, path.c_str(), key.put()) != ERROR_SUCCESS) return;
    if (value) SetString(key.get(), nullptr, value);
  };
  set(extension, typeName);
  set(typeName, description);
  set(Format(kRelationIconFormat, typeName), icon);
  set(Format(kRelationShellFormat, typeName), nullptr);
  set(Format(kRelationOpenFormat, typeName), nullptr);
  set(Format(kRelationCommandFormat, typeName), Format(kRelationCommandText, program).c_str());
}

int VerifySignature(LPCWSTR path) {
  if (!path) return 0;
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return ::WinVerifyTrust(nullptr, &action, &data) == 0 ? 1 : 0;
}

int CertExists(LPCWSTR subject) {
  if (!subject) return 0;
  kv::UniqueCertStore store(
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, kRootStore));
  if (!store) return 0;
  kv::UniqueCertContext found(::CertFindCertificateInStore(
      store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, subject, nullptr));
  return found ? 1 : 0;
}

int ImportCACert(const BYTE* data, int length) {
  if (!data || length <= 0) return 0;
  kv::UniqueCertContext cert(
      ::CertCreateCertificateContext(X509_ASN_ENCODING, data, static_cast<DWORD>(length)));
  if (!cert) return 0;
  kv::UniqueCertStore store(
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                      CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG, kRootStore));
  if (!store) return 0;
  if (::CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_NEW, nullptr))
    return 1;
  if (::GetLastError() != static_cast<DWORD>(CRYPT_E_EXISTS)) return 0;
  return ::CertAddCertificateContextToStore(store.get(), cert.get(),
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr)
             ? 1
             : 0;
}

int ImportCertFile(LPCWSTR path) {
  if (!path) return 0;
  kv::UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > 0x7FFFFFFF)
    return 0;
  kv::UniqueHandleKernel mapping(
      ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return 0;
  kv::UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) return 0;
  return ImportCACert(static_cast<const BYTE*>(view.get()), static_cast<int>(size.QuadPart));
}
