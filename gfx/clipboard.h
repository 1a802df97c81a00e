#pragma once
// The clipboard's Unicode text, and the width of a text in a font.
#include <windows.h>

#include "util/kv_api.h"

// Copies the clipboard's text into buffer, at most maxChars characters with the terminator (a
// longer text is cut). 1 when the clipboard could be opened, even if it held no text; 0 otherwise.
KV_API int GetClipboard(LPWSTR buffer, int maxChars);
// Replaces the clipboard's contents with text. 1 on success.
KV_API int SetClipboard(LPCWSTR text);
// Width in pixels of text drawn in font on window's device context (the screen's for a null
// window); 0 when no device context is available.
KV_API int KvGetStrWidth(LPCWSTR text, HWND window, HFONT font);
