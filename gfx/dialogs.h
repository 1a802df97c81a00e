#pragma once
// The system's colour, open, save and folder dialogs in one call each.
#include <windows.h>

#include "util/kv_api.h"

// The colour the user chose, or initial when the dialog is cancelled.
KV_API COLORREF GetColorDlg(HWND owner, COLORREF initial);
// Save dialog; buffer (260 characters) is emptied first and receives the chosen path. 1 when the
// user chose a file.
KV_API int ShowSaveFileDlg(LPWSTR buffer, HWND owner, LPCWSTR defExt, LPCWSTR filter);
// Open dialog for existing files; buffer's text is the initial file name. With multiSelect the
// buffer receives the folder and the file names, each terminated, the list ending with an empty
// name. 1 when the user chose.
KV_API int ShowOpenFileDlg(LPWSTR buffer, int bufferChars, HWND owner, LPCWSTR filter,
                           LPCWSTR defExt, int multiSelect);
// Folder browser; buffer (260 characters) is emptied first and receives the chosen folder.
KV_API int ShowSelDir(LPWSTR buffer, HWND owner);
