#pragma once
// The double buffer: an off-screen DC with a bitmap the size of a target rectangle, put on the
// screen in one step, by a plain copy or, for a layered window, UpdateLayeredWindow with per-pixel
// alpha.
#include <windows.h>

#include "util/kv_api.h"

class KV_CLASS CKvDC {
 public:
  CKvDC();
  CKvDC(HDC target, RECT& rect, bool drawOnRelease, bool layered, HWND window);
  ~CKvDC();
  // A copy is a plain field-by-field copy: it shares the handles, and only one of the copies may
  // be released. Dialogs keep their buffers by value, so copying stays allowed.
  CKvDC(const CKvDC&) = default;
  CKvDC& operator=(const CKvDC&) = default;

  void CreateMemDC(HDC target, RECT& rect, bool drawOnRelease, bool layered, HWND window);
  // A 32-bit top-down-addressed alpha bitmap (bottom-up rows), starting transparent black.
  HBITMAP CreateCompatibleBitmapEx(RECT rect);
  // Puts the buffer on the screen; after this, releasing the object no longer draws.
  void Draw();

  HDC m_hMemDC = nullptr;  // the context the caller draws into
  HDC m_hDC = nullptr;     // the target: not owned
  int m_nLeft = 0;
  int m_nTop = 0;
  int m_nRight = 0;
  int m_nBottom = 0;
  HBITMAP m_hBitmap = nullptr;
  HGDIOBJ m_hOldBitmap = nullptr;
  bool m_bDrawOnRelease = false;
  bool m_bLayered = false;
  HWND m_hWnd = nullptr;  // the layered window Draw updates: not owned
};
