#include "gfx/skin.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "gfx/gfx_texts.h"
#include "util/files.h"
#include "util/handles.h"
#include "gfx/resource_utils.h"
#include "util/format.h"
#include "util/caller_text.h"

namespace {

// Two texts into a format that adds a few characters.
std::wstring Format(const wchar_t* format, const std::wstring& a, const std::wstring& b) {
  return kv::FormatBounded(a.size() + b.size() + 32, format, a.c_str(), b.c_str());
}

// The record name of a source file: after the last backslash, up to the first dot after it.
// No backslash, no dot, or a name starting with a dot: empty.
std::wstring RecordName(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return L"";
  const size_t start = slash + 1;
  const size_t dot = path.find(L'.', start);
  if (dot == std::wstring::npos || dot <= start) return L"";
  return path.substr(start, dot - start);
}

}  // namespace

CKvSkin::CKvSkin() = default;

CKvSkin::~CKvSkin() { FreeSkin(); }

CKvSkin* GetKvSkin() {
  static CKvSkin skin;
  return &skin;
}

void CKvSkin::SetResType(int mode) { m_nResType = mode; }

int CKvSkin::GetResType() { return m_nResType; }

void CKvSkin::SetThemesName(const wchar_t* name) {
  m_strThemesPath = Format(kv::gfx::kThemesFormat, kv::ProgramFolder(), name ? name : L"");
  m_nResType = kFromTheme;
}

void CKvSkin::GetThemesPath(wchar_t* buffer) {
  if (!buffer) return;
  lstrcpynW(buffer, m_strThemesPath.c_str(), MAX_PATH);
}

void CKvSkin::SetSkinName(const wchar_t* name) {
  m_strSkinPath = Format(kv::gfx::kSkinsFormat, kv::ProgramFolder(), name ? name : L"");
  m_nResType = kFromPackage;
}

bool CKvSkin::LoadSkin(const wchar_t* name) {
  if (m_hSkin) FreeSkin();
  if (name) SetSkinName(name);
  // The skin location names a folder; the package is a file of a fixed name inside it.
  std::wstring file = m_strSkinPath;
  if (!file.empty() && (file.back() == L'\\' || file.back() == L'/')) {
    file += kv::gfx::kSkinPackageFile;
  }
  kv::UniqueFile handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return false;
  const DWORD size = GetFileSize(handle.get(), nullptr);
  kv::UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, size ? size : 1));
  if (!block) return false;
  DWORD read = 0;
  {
    kv::GlobalLockScope lock(block.get());
    if (lock.get() && size) ReadFile(handle.get(), lock.get(), size, &read, nullptr);
  }
  // A short read keeps only what arrived: the walk never looks past the bytes really held.
  m_dwSkinSize = read;
  m_hSkin = std::move(block);
  return true;
}

bool CKvSkin::GetRes(const wchar_t* name, IStream*& stream) {
  stream = nullptr;
  if (!name) return false;
  for (const tagSkinRes& res : m_vecRes) {
    if (lstrcmpW(res.szName, name) == 0) {
      stream = res.pStream;
      return true;
    }
  }
  return FindRes(name, stream);
}

bool CKvSkin::FindRes(const wchar_t* name, IStream*& stream) {
  if (!m_hSkin) return false;
  kv::GlobalLockScope lock(m_hSkin.get());
  const BYTE* package = static_cast<const BYTE*>(lock.get());
  if (!package) return false;
  DWORD offset = 0;
  // Each step checks the head and the data against the package's end: a head cut short or a
  // length running past the end ends the walk.
  while (offset < m_dwSkinSize && m_dwSkinSize - offset >= kHeadSize) {
    BYTE head[kHeadSize] = {};
    std::memcpy(head, package + offset, kHeadSize);
    wchar_t recordName[31] = {};
    std::memcpy(recordName, head, kLengthOffset);
    DWORD length = 0;
    std::memcpy(&length, head + kLengthOffset, sizeof(length));
    const DWORD dataStart = offset + kHeadSize;
    if (length > m_dwSkinSize - dataStart) return false;
    if (lstrcmpW(recordName, name) == 0) {
      kv::ComPtr<IStream> created = kv::gfx::StreamOfCopy(package + dataStart, length);
      if (!created) return false;
      tagSkinRes res;
      std::memset(&res, 0, sizeof(res));
      kv::CopyToField(res.szName, recordName);
      res.pStream = created.release();  // the list holds it from here
      m_vecRes.push_back(res);
      stream = res.pStream;
      return true;
    }
    offset = dataStart + length;
  }
  return false;
}

void CKvSkin::FreeSkin() {
  m_hSkin.reset();
  m_dwSkinSize = 0;
  for (tagSkinRes& res : m_vecRes) {
    if (res.pStream) res.pStream->Release();
  }
  m_vecRes.clear();
}

bool CKvSkin::MakeSkin(const wchar_t* folder, const wchar_t* packageFile) {
  if (!folder || !packageFile) return false;
  return kv::NoThrow(false, [&] {
    kv::UniqueStdioFile file(_wfopen(packageFile, L"wb"));
    if (!file) return false;
    const std::wstring base = folder;
    WIN32_FIND_DATAW found = {};
    kv::UniqueFind find(FindFirstFileW((base + kv::gfx::kAllFiles).c_str(), &found));
    if (!find) return false;
    do {
      if (found.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY) continue;
      if (!WriteSkin(file.get(), Format(kv::gfx::kPathJoin, base, found.cFileName).c_str()))
        return false;
    } while (FindNextFileW(find.get(), &found));
    return kv::CloseWritten(file);
  });
}

bool CKvSkin::WriteSkin(FILE* file, const wchar_t* path) {
  kv::UniqueFile source(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!source) return true;
  const std::wstring name = RecordName(path);
  // A name longer than the head holds is left out rather than cut to a different name.
  if (name.size() > static_cast<size_t>(kNameChars)) return true;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(source.get(), &size)) return true;
  // The record's length has 32 bits: a larger file would leave a package that lies about it.
  if (size.HighPart != 0) return false;
  const DWORD length = size.LowPart;
  std::vector<BYTE> data(length);  // too much for memory throws: MakeSkin then fails
  DWORD read = 0;
  if (length && (!ReadFile(source.get(), data.data(), length, &read, nullptr) || read != length))
    return true;
  BYTE head[kHeadSize] = {};
  std::memcpy(head, name.c_str(), name.size() * sizeof(wchar_t));
  std::memcpy(head + kLengthOffset, &length, sizeof(length));
  return std::fwrite(head, 1, kHeadSize, file) == kHeadSize &&
         (!length || std::fwrite(data.data(), 1, length, file) == length);
}
