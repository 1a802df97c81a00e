#pragma once
// Resources of the running executable (as a stream, bytes, a file or a size) and resource editing
// of another executable file on disk. Ids are numeric (MAKEINTRESOURCE); types are strings or
// predefined type numbers.
#include <windows.h>
#include <objidl.h>

#include "util/handles.h"
#include "util/kv_api.h"

// A stream over a private copy of the resource, or null. The caller releases it.
KV_API IStream* KvResGetStream(int id, const wchar_t* type);
// Copies the resource into buffer, which holds KvResSize bytes.
KV_API int KvResGetBuff(int id, const wchar_t* type, void* buffer);
// Writes the resource's bytes to the file path; 0 unless all of them were written.
KV_API int KvResSave(int id, const wchar_t* type, const wchar_t* path);
// Size in bytes; 0 when there is no such resource.
KV_API int KvResSize(int id, const wchar_t* type);

// Set resource (type, id), language neutral, of exe to a file's contents or to the given bytes.
KV_API int KvResUpdate(const wchar_t* exe, int id, const wchar_t* type, const wchar_t* srcFile);
KV_API int KvResUpdate2(const wchar_t* exe, int id, const wchar_t* type, void* data, int size);
// Writes the icons of an .ico file into exe as icon group groupId, icons numbered from 0,
// language 2052. Non-zero exactly when every icon was written; on any failure exe stays as it was.
KV_API int ReplaceExeIco(const wchar_t* exe, const wchar_t* icoFile, int groupId);

namespace kv::gfx {
// A stream over a movable copy of size bytes (none: an empty stream), exactly size long, or null.
// GDI+ may read a picture's stream for as long as the picture lives, so it never gets memory
// owned by someone else.
kv::ComPtr<IStream> StreamOfCopy(const void* bytes, size_t size);
}  // namespace kv::gfx
