#pragma once
// Named blocks of shared memory backed by the page file. Offsets and lengths of the "2" variants
// count bytes; the index of WriteShareMem counts UTF-16 code units. No copy ever crosses the end
// of a block: a copy that would is refused with 0.
#include <windows.h>

#include "util/kv_api.h"

KV_API HANDLE CreateShareMem(LPCWSTR name, int size);
KV_API int isExistsShareMem(LPCWSTR name);
KV_API int WriteShareMem(LPCWSTR name, LPCWSTR text, int index);
// room: characters at text; a negative room means text is as large as the block.
KV_API int ReadShareMem(LPCWSTR name, LPWSTR text, int room = -1);
KV_API int WriteShareMem2(LPCWSTR name, const void* data, int length, int offset);
KV_API int ReadShareMem2(LPCWSTR name, void* data, int length, int offset);

namespace kv {
// Size in bytes the block named name was created with; 0 when there is no such block.
SIZE_T ShareMemSize(LPCWSTR name);
}  // namespace kv
