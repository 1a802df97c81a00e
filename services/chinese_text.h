#pragma once
// Chinese text on narrow strings: simplified to traditional characters, and two character-class
// tests. room arguments are the caller buffer's size in bytes, terminator included.
#include <windows.h>

#include "util/kv_api.h"

// Simplified to traditional characters, re-encoded from GBK (code page 936) to Big5 (code page
// 950). The result is cut to room - 1 bytes and terminated.
KV_API void gb2big(LPSTR text, int room);
// Traditional characters in the encoding that suits the system: Big5 when the ANSI code page is
// 950, otherwise still GBK.
KV_API void GbToTraditional(LPSTR text, int room);
// 1 when the text has an even, non-zero length in bytes and starts with the lead byte of a GB2312
// Chinese character (above 0xA0, and not 0xA3, the full-width symbol row).
KV_API int isHZ(LPCSTR text);
// 1 when every byte is a digit 0-9; an empty text counts, a null one does not.
KV_API int isDigital(LPCSTR text);
