#include "ui/memory_dc.h"

CKvDC::CKvDC() = default;

CKvDC::CKvDC(HDC target, RECT& rect, bool drawOnRelease, bool layered, HWND window) {
  m_hOldBitmap = nullptr;
  CreateMemDC(target, rect, drawOnRelease, layered, window);
}

CKvDC::~CKvDC() {
  if (m_bDrawOnRelease) Draw();
  if (m_hMemDC && m_hOldBitmap) SelectObject(m_hMemDC, m_hOldBitmap);
  if (m_hBitmap) DeleteObject(m_hBitmap);
  if (m_hMemDC) DeleteDC(m_hMemDC);
}

void CKvDC::CreateMemDC(HDC target, RECT& rect, bool drawOnRelease, bool layered, HWND window) {
  m_hDC = target;
  m_bDrawOnRelease = drawOnRelease;
  m_bLayered = layered;
  m_hWnd = window;
  m_nLeft = rect.left;
  m_nTop = rect.top;
  m_nRight = rect.right;
  m_nBottom = rect.bottom;
  m_hMemDC = CreateCompatibleDC(target);
  m_hBitmap = layered ? CreateCompatibleBitmapEx(rect)
                      : CreateCompatibleBitmap(target, m_nRight - m_nLeft, m_nBottom - m_nTop);
  if (m_hMemDC && m_hBitmap) m_hOldBitmap = SelectObject(m_hMemDC, m_hBitmap);
}

HBITMAP CKvDC::CreateCompatibleBitmapEx(RECT rect) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = rect.right - rect.left;
  info.bmiHeader.biHeight = rect.bottom - rect.top;  // positive: rows stored bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

void CKvDC::Draw() {
  if (m_bLayered) {
    RECT window = {};
    GetWindowRect(m_hWnd, &window);
    POINT destination = {window.left, window.top};
    SIZE size = {window.right - window.left, window.bottom - window.top};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(m_hWnd, m_hDC, &destination, &size, m_hMemDC, &source, 0, &blend,
                        ULW_ALPHA);
  } else {
    BitBlt(m_hDC, m_nLeft, m_nTop, m_nRight - m_nLeft, m_nBottom - m_nTop, m_hMemDC, 0, 0, SRCCOPY);
  }
  m_bDrawOnRelease = false;
}
