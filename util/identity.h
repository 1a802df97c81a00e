#pragma once
// Identifiers, URLs and registrations: a per-user identifier, percent-encoding, opening a page in
// the default browser, URL protocols and file types, and root certificates.
#include <windows.h>

#include "util/kv_api.h"

// The vendor's key, under HKEY_CURRENT_USER (the identifier) and HKEY_LOCAL_MACHINE (the log's
// "debug" switch).
constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Quarell";

// Room for the longest identifier ("KV", a negative tick count, two 5-digit numbers) and its
// terminator: what out of CreateUID must hold.
constexpr int kUidRoom = 24;
// The encoder's own limit: the encoded text with its terminator.
constexpr int kUrlEncodeLimit = 1024;

// Writes "KV" + tick count + two pseudo-random numbers to out (kUidRoom characters). With persist
// set, the identifier stored as HKCU\SOFTWARE\Quarell "UID" is reused when it has exactly 20
// characters; otherwise the new one is stored there.
KV_API void CreateUID(LPWSTR out, int persist);
// Percent-encodes text in place (UTF-8 bytes, lower-case hex). 1 when encoded, 0 (text unchanged)
// when the encoded text and its terminator would need more than 1024 characters. The caller's
// buffer holds the encoded text.
KV_API int URLEncode(LPWSTR text);
// Opens url in the browser of HKCR\http\shell\open\command (Internet Explorer when there is
// none); with wait set, returns when that browser process ends.
KV_API void OpenUrl(LPCWSTR url, int wait);
// Registers the URL protocol name, handled by program (relative to the executable's folder). The
// open command quotes a program path that holds a blank.
KV_API void RegProtocol(LPCWSTR name, LPCWSTR program);
// Associates extension with typeName, unless it already is (compared without case).
KV_API void RegFileRelation(LPCWSTR extension, LPCWSTR program, LPCWSTR typeName, LPCWSTR icon,
                            LPCWSTR description);
// 1 when the file's Authenticode signature is valid and trusted.
KV_API int VerifySignature(LPCWSTR path);
// 1 when the current user's Root store holds a certificate whose subject contains subject.
KV_API int CertExists(LPCWSTR subject);
// Adds a DER certificate to the machine's Root store; 1 when it is there afterwards.
KV_API int ImportCACert(const BYTE* data, int length);
// ImportCACert over the whole of a DER certificate file.
KV_API int ImportCertFile(LPCWSTR path);
