#pragma once
// zlib without linking it: zlib1.dll is loaded at run time from the program's folder. Without the
// library every service fails with its own result and the program goes on.
#include <windows.h>

#include "util/kv_api.h"

class KV_CLASS CKvZlib {
 public:
  static CKvZlib& Instance();

  CKvZlib();
  ~CKvZlib();
  CKvZlib(const CKvZlib&) = delete;
  // Copies the lock's bytes, as the object always has; nothing uses it.
  CKvZlib& operator=(const CKvZlib& other);

  // Loads zlib1.dll from the folder of the loaded module named module, or from the executable's
  // folder when module is null. S_OK when loaded (or already loaded), else the HRESULT of the
  // system error, with every entry point left unset.
  HRESULT InitZlib(LPCWSTR module = nullptr);
  void UninitZlib();

  // Inflates a complete gzip or zlib stream. S_OK: *out is a block from malloc (the caller frees
  // it with free) holding *outLen bytes. E_FAIL: *out is null and *outLen 0, or both untouched
  // when zlib is not there.
  HRESULT DecodeGZipBuffer(const BYTE* in, long inLen, BYTE** out, long* outLen);
  // The same, for a caller that keeps at most limit bytes: inflation stops there, and S_OK comes
  // with those first bytes even though the stream goes on (or breaks) after them. A few kilobytes
  // of input can stand for gigabytes of output.
  HRESULT DecodeGZipBufferN(const BYTE* in, long inLen, BYTE** out, long* outLen, long limit);

  // Whole files, one zlib stream each. level: -1 default, 0..9.
  HRESULT EncodeFile(LPCWSTR source, LPCWSTR target, int level);
  // expected: size of the decoded content when known, else 0.
  HRESULT DecodeFile(LPCWSTR source, LPCWSTR target, unsigned long expected);

 private:
  CRITICAL_SECTION m_lock;
};
