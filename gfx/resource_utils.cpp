#include "gfx/resource_utils.h"

#include <cstring>
#include <vector>

#include "util/handles.h"

namespace {

constexpr WORD kIconLanguage = 2052;
constexpr WORD kNeutralLanguage = 0;

#pragma pack(push, 1)
struct IconDirHead {
  WORD reserved;
  WORD type;
  WORD count;
};
struct IconDirEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  DWORD imageOffset;
};
struct GroupIconEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)
static_assert(sizeof(IconDirHead) == 6 && sizeof(IconDirEntry) == 16 &&
              sizeof(GroupIconEntry) == 14);

// The bytes of a resource of the executable, or null with size 0.
const void* FindOwnResource(int id, const wchar_t* type, DWORD* size) {
  *size = 0;
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!res) return nullptr;
  HGLOBAL loaded = LoadResource(module, res);
  if (!loaded) return nullptr;
  *size = SizeofResource(module, res);
  return LockResource(loaded);
}

bool ReadExact(HANDLE file, void* data, DWORD size) {
  DWORD read = 0;
  return ReadFile(file, data, size, &read, nullptr) && read == size;
}

bool ReadWholeFile(const wchar_t* path, std::vector<BYTE>& data) {
  kv::UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
  data.resize(static_cast<size_t>(size.QuadPart));
  return data.empty() || ReadExact(file.get(), data.data(), static_cast<DWORD>(data.size()));
}

// ReplaceExeIco's work. A failure after the group was written discards the whole update: a
// committed group would name icons that are not there.
int WriteIcons(const wchar_t* exe, const wchar_t* icoFile, int groupId) {
  kv::UniqueFile ico(CreateFileW(icoFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!ico) return 0;
  IconDirHead head = {};
  if (!ReadExact(ico.get(), &head, sizeof(head))) return 0;
  std::vector<IconDirEntry> entries(head.count);
  if (head.count && !ReadExact(ico.get(), entries.data(),
                               static_cast<DWORD>(entries.size() * sizeof(IconDirEntry)))) {
    return 0;
  }
  std::vector<BYTE> group(sizeof(IconDirHead) + head.count * sizeof(GroupIconEntry));
  std::memcpy(group.data(), &head, sizeof(head));
  for (WORD i = 0; i < head.count; ++i) {
    const IconDirEntry& e = entries[i];
    GroupIconEntry g = {e.width,  e.height,   e.colourCount, e.reserved,
                        e.planes, e.bitCount, e.bytesInRes,  i};
    std::memcpy(group.data() + sizeof(IconDirHead) + i * sizeof(GroupIconEntry), &g, sizeof(g));
  }

  kv::UniqueResourceUpdate update(BeginUpdateResourceW(exe, FALSE));
  if (!update) return 0;
  if (!UpdateResourceW(update.get(), RT_GROUP_ICON, MAKEINTRESOURCEW(groupId), kIconLanguage,
                       group.data(), static_cast<DWORD>(group.size())))
    return 0;
  LARGE_INTEGER fileSize = {};
  GetFileSizeEx(ico.get(), &fileSize);
  std::vector<BYTE> image;
  for (WORD i = 0; i < head.count; ++i) {
    const IconDirEntry& e = entries[i];
    LARGE_INTEGER at = {};
    at.QuadPart = e.imageOffset;
    // An entry that claims more than the file holds fails here, before anything is allocated.
    if (static_cast<LONGLONG>(e.imageOffset) + e.bytesInRes > fileSize.QuadPart ||
        !SetFilePointerEx(ico.get(), at, nullptr, FILE_BEGIN))
      return 0;
    image.resize(e.bytesInRes);
    if ((e.bytesInRes && !ReadExact(ico.get(), image.data(), e.bytesInRes)) ||
        !UpdateResourceW(update.get(), RT_ICON, MAKEINTRESOURCEW(i), kIconLanguage, image.data(),
                         e.bytesInRes))
      return 0;
  }
  return EndUpdateResourceW(update.release(), FALSE) ? 1 : 0;
}

}  // namespace

int KvResSize(int id, const wchar_t* type) {
  DWORD size = 0;
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!res || !LoadResource(module, res)) return 0;
  size = SizeofResource(module, res);
  return static_cast<int>(size);
}

int KvResGetBuff(int id, const wchar_t* type, void* buffer) {
  DWORD size = 0;
  const void* bytes = FindOwnResource(id, type, &size);
  if (!bytes || !buffer) return 0;
  std::memcpy(buffer, bytes, size);
  return 1;
}

int KvResSave(int id, const wchar_t* type, const wchar_t* path) {
  DWORD size = 0;
  const void* bytes = FindOwnResource(id, type, &size);
  if (!bytes || !path) return 0;
  kv::UniqueFile file(
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  DWORD written = 0;
  return WriteFile(file.get(), bytes, size, &written, nullptr) && written == size ? 1 : 0;
}

namespace kv::gfx {

kv::ComPtr<IStream> StreamOfCopy(const void* bytes, size_t size) {
  kv::UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, size ? size : 1));
  if (!block) return {};
  if (size) {
    kv::GlobalLockScope lock(block.get());
    if (!lock.get()) return {};
    std::memcpy(lock.get(), bytes, size);
  }
  kv::ComPtr<IStream> stream;
  if (FAILED(::CreateStreamOnHGlobal(block.get(), TRUE, stream.put()))) return {};
  block.release();  // the stream frees it
  // The block may be larger than asked for, and holds a spare byte for nothing.
  ULARGE_INTEGER exact = {};
  exact.QuadPart = size;
  stream->SetSize(exact);
  return stream;
}

}  // namespace kv::gfx

IStream* KvResGetStream(int id, const wchar_t* type) {
  DWORD size = 0;
  const void* bytes = FindOwnResource(id, type, &size);
  if (!bytes) return nullptr;
  return kv::gfx::StreamOfCopy(bytes, size).release();
}

int KvResUpdate2(const wchar_t* exe, int id, const wchar_t* type, void* data, int size) {
  kv::UniqueResourceUpdate update(BeginUpdateResourceW(exe, FALSE));
  if (!update) return 0;
  UpdateResourceW(update.get(), type, MAKEINTRESOURCEW(id), kNeutralLanguage, data,
                  static_cast<DWORD>(size < 0 ? 0 : size));
  return EndUpdateResourceW(update.release(), FALSE) ? 1 : 0;
}

int KvResUpdate(const wchar_t* exe, int id, const wchar_t* type, const wchar_t* srcFile) {
  return kv::NoThrow(0, [&] {
    std::vector<BYTE> data;
    if (!srcFile || !ReadWholeFile(srcFile, data)) return 0;
    return KvResUpdate2(exe, id, type, data.data(), static_cast<int>(data.size()));
  });
}

int ReplaceExeIco(const wchar_t* exe, const wchar_t* icoFile, int groupId) {
  return kv::NoThrow(0, [&] { return WriteIcons(exe, icoFile, groupId); });
}
