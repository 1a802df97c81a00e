#pragma once
// Named blocks of shared memory backed by the page file. Offsets and lengths of the "2" variants
// count bytes; the index of WriteShareMem counts UTF-16 code units. No copy ever crosses the end
// of a block: a copy that would is refused with 0.
#include <windows.h>

#include "util/kv_api.h"

KV_API HANDLE CreateShareMem(LPCWSTR name, int size);
KV_API int isExistsShareMem(LPCWSTR name);
KV_API int WriteShareMem(LPCWSTR name, LPCWSTR text, int index);
// The text at the block's start into text, a buffer of 260 characters: a longer text, whose length
// another process chose, is cut to 259 characters and its terminator. Readers of longer texts take
// GetShareMemSize and ReadShareMemN.
KV_API int ReadShareMem(LPCWSTR name, LPWSTR text);
KV_API int WriteShareMem2(LPCWSTR name, const void* data, int length, int offset);
KV_API int ReadShareMem2(LPCWSTR name, void* data, int length, int offset);
// ReadShareMem into a buffer of room characters, terminator included; 0 when room is below 1.
KV_API int ReadShareMemN(LPCWSTR name, LPWSTR text, int room);
// Size in bytes of the block named name, as the system gives it; 0 when there is no such block.
KV_API int GetShareMemSize(LPCWSTR name);
