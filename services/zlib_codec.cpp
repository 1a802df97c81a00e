#include "services/zlib_codec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "util/files.h"
#include "util/handles.h"

namespace {

constexpr wchar_t kZlibFileName[] = L"zlib1.dll";
constexpr char kZlibVersion[] = "1.2.7";  // only the major digit is compared by the library

constexpr int kZOk = 0;
constexpr int kZStreamEnd = 1;
constexpr int kZNeedDict = 2;
constexpr int kZDataError = -3;
constexpr int kZMemError = -4;
constexpr int kZBufError = -5;
constexpr int kZNoFlush = 0;
constexpr int kGzipOrZlibWindow = 15 + 32;  // detect either header

constexpr DWORD kInflateWindow = 4096;
constexpr long kNoLimit = 0x7FFFFFFF;  // more than a long can count is not returned anyway
constexpr unsigned long long kMaxFileBytes = 1000000000ULL;  // input and output alike
constexpr unsigned long kCapacityFloor = 1000000;

// zlib's stream record in its 32-bit layout.
struct ZStream {
  const BYTE* next_in;
  unsigned avail_in;
  unsigned long total_in;
  BYTE* next_out;
  unsigned avail_out;
  unsigned long total_out;
  const char* msg;
  void* state;
  void* zalloc;
  void* zfree;
  void* opaque;
  int data_type;
  unsigned long adler;
  unsigned long reserved;
};
static_assert(sizeof(ZStream) == 56, "zlib's 32-bit stream record");

using CompressFn = int(__cdecl*)(BYTE*, unsigned long*, const BYTE*, unsigned long);
using Compress2Fn = int(__cdecl*)(BYTE*, unsigned long*, const BYTE*, unsigned long, int);
using UncompressFn = int(__cdecl*)(BYTE*, unsigned long*, const BYTE*, unsigned long);
using InflateFn = int(__cdecl*)(ZStream*, int);
using InflateEndFn = int(__cdecl*)(ZStream*);
using InflateInitFn = int(__cdecl*)(ZStream*, const char*, int);
using InflateInit2Fn = int(__cdecl*)(ZStream*, int, const char*, int);

// Shared by every user of the process; written only under the object's lock.
struct ZlibApi {
  kv::UniqueModule module;
  CompressFn compress = nullptr;
  Compress2Fn compress2 = nullptr;
  UncompressFn uncompress = nullptr;
  InflateFn inflate = nullptr;
  InflateEndFn inflateEnd = nullptr;
  InflateInitFn inflateInit = nullptr;
  InflateInit2Fn inflateInit2 = nullptr;

  void Clear() {
    compress = nullptr;
    compress2 = nullptr;
    uncompress = nullptr;
    inflate = nullptr;
    inflateEnd = nullptr;
    inflateInit = nullptr;
    inflateInit2 = nullptr;
    module.reset();
  }
};

ZlibApi& Api() {
  static ZlibApi api;
  return api;
}

HRESULT LastErrorResult() {
  const DWORD error = ::GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return *out != nullptr;
}

kv::UniqueFile OpenSource(LPCWSTR path) {
  return kv::UniqueFile(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

kv::UniqueFile CreateTarget(LPCWSTR path) {
  return kv::UniqueFile(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Reads all of size bytes; a short read is an error.
HRESULT ReadAll(HANDLE file, BYTE* data, DWORD size) {
  DWORD done = 0;
  while (done < size) {
    DWORD got = 0;
    if (!::ReadFile(file, data + done, size - done, &got, nullptr)) return LastErrorResult();
    if (got == 0) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    done += got;
  }
  return S_OK;
}

HRESULT WriteAll(HANDLE file, const BYTE* data, DWORD size) {
  DWORD done = 0;
  while (done < size) {
    DWORD put = 0;
    if (!::WriteFile(file, data + done, size - done, &put, nullptr)) return LastErrorResult();
    if (put == 0) return E_FAIL;
    done += put;
  }
  return S_OK;
}

// The file coders share everything but the zlib call: code(out, &outLen, in, inLen) is compress2
// at a level or uncompress. The first output capacity is expected when given, else the source
// size with a floor; it doubles while zlib says the output did not fit.
template <typename Code>
HRESULT CodeFile(LPCWSTR source, LPCWSTR target, unsigned long expected, Code code) {
  kv::UniqueFile in = OpenSource(source);
  if (!in) return LastErrorResult();
  kv::UniqueFile out = CreateTarget(target);
  if (!out) return LastErrorResult();

  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(in.get(), &size)) return LastErrorResult();
  if (size.QuadPart == 0) return S_OK;
  if (static_cast<unsigned long long>(size.QuadPart) > kMaxFileBytes) return E_FAIL;
  const DWORD in_size = static_cast<DWORD>(size.QuadPart);

  std::vector<BYTE> input;
  try {
    input.resize(in_size);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (HRESULT hr = ReadAll(in.get(), input.data(), in_size); FAILED(hr)) return hr;

  unsigned long long capacity = expected;
  if (capacity == 0) capacity = in_size > kCapacityFloor ? in_size : kCapacityFloor;
  std::vector<BYTE> output;
  try {
    for (;;) {
      if (capacity == 0 || capacity > kMaxFileBytes) return E_FAIL;
      output.assign(static_cast<size_t>(capacity), 0);
      unsigned long produced = static_cast<unsigned long>(capacity);
      const int z = code(output.data(), &produced, input.data(), in_size);
      if (z == kZOk) {
        output.resize(produced);
        break;
      }
      if (z != kZBufError) return E_FAIL;
      capacity *= 2;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  return WriteAll(out.get(), output.data(), static_cast<DWORD>(output.size()));
}

struct InitFailure {
  HRESULT hr;
};

}  // namespace

CKvZlib& CKvZlib::Instance() {
  static CKvZlib instance;
  return instance;
}

CKvZlib::CKvZlib() {
  if (!::InitializeCriticalSectionAndSpinCount(&m_lock, 0)) throw InitFailure{LastErrorResult()};
}

CKvZlib::~CKvZlib() { ::DeleteCriticalSection(&m_lock); }

CKvZlib& CKvZlib::operator=(const CKvZlib& other) {
  if (this != &other) std::memcpy(&m_lock, &other.m_lock, sizeof(m_lock));
  return *this;
}

HRESULT CKvZlib::InitZlib(LPCWSTR module) {
  wchar_t folder[MAX_PATH] = {};
  if (module)
    GetCurPathEx(module, folder);
  else
    GetCurPath(folder);
  const std::wstring path = std::wstring(folder) + kZlibFileName;

  kv::CriticalSectionScope lock(&m_lock);
  ZlibApi& api = Api();
  if (api.module) return S_OK;
  api.module.reset(::LoadLibraryW(path.c_str()));
  if (!api.module) return LastErrorResult();
  const HMODULE m = api.module.get();
  if (Resolve(m, "compress", &api.compress) && Resolve(m, "compress2", &api.compress2) &&
      Resolve(m, "uncompress", &api.uncompress) && Resolve(m, "inflate", &api.inflate) &&
      Resolve(m, "inflateEnd", &api.inflateEnd) && Resolve(m, "inflateInit_", &api.inflateInit) &&
      Resolve(m, "inflateInit2_", &api.inflateInit2))
    return S_OK;
  const HRESULT hr = LastErrorResult();
  api.Clear();
  return hr;
}

void CKvZlib::UninitZlib() {
  kv::CriticalSectionScope lock(&m_lock);
  Api().Clear();
}

HRESULT CKvZlib::DecodeGZipBuffer(const BYTE* in, long inLen, BYTE** out, long* outLen) {
  return DecodeGZipBufferN(in, inLen, out, outLen, kNoLimit);
}

HRESULT CKvZlib::DecodeGZipBufferN(const BYTE* in, long inLen, BYTE** out, long* outLen,
                                   long limit) {
  const ZlibApi& api = Api();
  if (!api.inflate || !api.inflateInit2 || !api.inflateEnd || !out || !outLen) return E_FAIL;
  if (!in || inLen < 0) inLen = 0;
  if (limit <= 0) {  // a caller that keeps nothing gets nothing
    *out = nullptr;
    *outLen = 0;
    return E_FAIL;
  }

  ZStream stream = {};
  stream.next_in = in;
  stream.avail_in = static_cast<unsigned>(inLen);
  if (api.inflateInit2(&stream, kGzipOrZlibWindow, kZlibVersion, sizeof(ZStream)) != kZOk)
    return E_FAIL;

  kv::UniqueMalloc block;  // given to the caller whole, or freed
  size_t total = 0;
  int z = kZOk;
  bool out_of_memory = false;
  bool full = false;
  BYTE window[kInflateWindow];
  const size_t most = static_cast<size_t>(limit);
  for (;;) {
    stream.next_out = window;
    stream.avail_out = static_cast<unsigned>(std::min<size_t>(kInflateWindow, most - total));
    z = api.inflate(&stream, kZNoFlush);
    if (z == kZNeedDict) z = kZDataError;
    if (z == kZDataError || z == kZMemError) break;
    const size_t produced = std::min<size_t>(kInflateWindow, most - total) - stream.avail_out;
    if (produced) {
      void* grown = std::realloc(block.get(), total + produced);
      if (!grown) {
        out_of_memory = true;
        break;
      }
      block.release();
      block.reset(grown);
      std::memcpy(static_cast<BYTE*>(block.get()) + total, window, produced);
      total += produced;
    }
    // All the caller keeps has come: what follows is neither inflated nor looked at.
    if (total == most) {
      full = true;
      break;
    }
    // A full window may mean more output is waiting; anything else ends the stream or the input.
    if (z != kZOk || stream.avail_out != 0) break;
  }
  api.inflateEnd(&stream);

  if ((z == kZStreamEnd || full) && !out_of_memory) {
    *out = static_cast<BYTE*>(block.release());
    *outLen = static_cast<long>(total);
    return S_OK;
  }
  *out = nullptr;
  *outLen = 0;
  return E_FAIL;
}

HRESULT CKvZlib::EncodeFile(LPCWSTR source, LPCWSTR target, int level) {
  const ZlibApi& api = Api();
  if (!api.compress || !api.compress2) return E_NOINTERFACE;
  const Compress2Fn compress2 = api.compress2;
  return CodeFile(source, target, 0,
                  [&](BYTE* o, unsigned long* ol, const BYTE* i, unsigned long il) {
                    return compress2(o, ol, i, il, level);
                  });
}

HRESULT CKvZlib::DecodeFile(LPCWSTR source, LPCWSTR target, unsigned long expected) {
  const ZlibApi& api = Api();
  if (!api.uncompress) return E_NOINTERFACE;
  return CodeFile(source, target, expected, api.uncompress);
}
