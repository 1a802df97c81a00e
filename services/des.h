#pragma once
// Single DES (the 1977 data encryption standard) in ECB mode, in place.
#include <windows.h>

#include "util/kv_api.h"

// Encrypts (direction non-zero) or decrypts (0) the first length / 8 whole 8-byte blocks of data
// with the 8-byte key; trailing bytes stay as they are. The key's parity bits are ignored.
KV_API void DesGo(LPCSTR key, LPSTR data, int length, int direction);
