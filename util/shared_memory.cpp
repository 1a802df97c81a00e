#include "util/shared_memory.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>

#include "util/caller_text.h"
#include "util/handles.h"

namespace {

// The section's own size is the size the block was created with; a view is rounded up to whole
// pages, so its region size would let a copy run past the block's end.
struct SectionBasicInformation {
  PVOID base;
  ULONG attributes;
  LARGE_INTEGER size;
};
using NtQuerySectionFn = LONG(NTAPI*)(HANDLE, int, PVOID, SIZE_T, PSIZE_T);

SIZE_T SectionSize(HANDLE mapping, void* view) {
  static const auto query = reinterpret_cast<NtQuerySectionFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySection")));
  if (query) {
    SectionBasicInformation info = {};
    if (query(mapping, 0, &info, sizeof(info), nullptr) >= 0 && info.size.QuadPart > 0)
      return static_cast<SIZE_T>(info.size.QuadPart);
  }
  MEMORY_BASIC_INFORMATION region = {};
  if (view && ::VirtualQuery(view, &region, sizeof(region))) return region.RegionSize;
  return 0;
}

struct Block {
  kv::UniqueHandleKernel mapping;
  kv::UniqueView view;
  SIZE_T size = 0;
  BYTE* bytes() const { return static_cast<BYTE*>(view.get()); }
};

std::optional<Block> OpenBlock(LPCWSTR name) {
  if (!name || !*name) return std::nullopt;
  Block block;
  block.mapping.reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name));
  if (!block.mapping) return std::nullopt;
  block.view.reset(::MapViewOfFile(block.mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!block.view) return std::nullopt;
  block.size = SectionSize(block.mapping.get(), block.view.get());
  return block;
}

// Whether [offset, offset + length) lies inside a block of size bytes.
bool Inside(SIZE_T size, long long offset, long long length) {
  return offset >= 0 && length >= 0 && static_cast<unsigned long long>(offset + length) <= size;
}

}  // namespace

HANDLE CreateShareMem(LPCWSTR name, int size) {
  if (size <= 0) return nullptr;
  return ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                              static_cast<DWORD>(size), name);
}

int isExistsShareMem(LPCWSTR name) {
  if (!name || !*name) return 0;
  kv::UniqueHandleKernel mapping(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name));
  return mapping ? 1 : 0;
}

int WriteShareMem(LPCWSTR name, LPCWSTR text, int index) {
  if (!text) return 0;
  std::optional<Block> block = OpenBlock(name);
  if (!block) return 0;
  const long long units = static_cast<long long>(std::wcslen(text)) + 1;
  if (!Inside(block->size, static_cast<long long>(index) * 2, units * 2)) return 0;
  std::memcpy(block->bytes() + static_cast<SIZE_T>(index) * 2, text,
              static_cast<SIZE_T>(units) * 2);
  return 1;
}

int ReadShareMem(LPCWSTR name, LPWSTR text) {
  return ReadShareMemN(name, text, static_cast<int>(kv::kPathRoom));
}

int WriteShareMem2(LPCWSTR name, const void* data, int length, int offset) {
  if (!data && length > 0) return 0;
  std::optional<Block> block = OpenBlock(name);
  if (!block || !Inside(block->size, offset, length)) return 0;
  if (length > 0) std::memcpy(block->bytes() + offset, data, static_cast<SIZE_T>(length));
  return 1;
}

int ReadShareMem2(LPCWSTR name, void* data, int length, int offset) {
  if (!data && length > 0) return 0;
  std::optional<Block> block = OpenBlock(name);
  if (!block || !Inside(block->size, offset, length)) return 0;
  if (length > 0) std::memcpy(data, block->bytes() + offset, static_cast<SIZE_T>(length));
  return 1;
}

int ReadShareMemN(LPCWSTR name, LPWSTR text, int room) {
  if (!text || room < 1) return 0;
  std::optional<Block> block = OpenBlock(name);
  if (!block) return 0;
  // The copy ends at the text's terminator, the block's end or the caller's room, whichever comes
  // first, and always leaves a terminator in the room.
  const auto* src = reinterpret_cast<const wchar_t*>(block->bytes());
  const SIZE_T units = block->size / 2;
  if (units == 0) return 0;
  const SIZE_T most = std::min<SIZE_T>(units, static_cast<SIZE_T>(room)) - 1;
  SIZE_T n = 0;
  while (n < most && src[n]) ++n;
  std::memcpy(text, src, n * 2);
  text[n] = L'\0';
  return 1;
}

int GetShareMemSize(LPCWSTR name) {
  std::optional<Block> block = OpenBlock(name);
  if (!block) return 0;
  return block->size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(block->size);
}
