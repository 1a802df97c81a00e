#pragma once
// Shared by the widget, dialog and animation tests: off-screen 32-bit frames, a message pump for
// the test's own windows, and the program's pictures.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gfx/image.h"
#include "tests/support/test_support.h"

namespace kvtest {

// A top-down 32-bit frame with a memory DC, starting transparent black.
class Frame {
 public:
  Frame(int w, int h) : w_(w), h_(h), dc_(::CreateCompatibleDC(nullptr)) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint32_t*>(bits);
    old_ = ::SelectObject(dc_, bitmap_);
  }
  ~Frame() {
    ::SelectObject(dc_, old_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
  }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  HDC dc() const { return dc_; }
  uint32_t At(int x, int y) const {
    ::GdiFlush();
    return bits_[y * w_ + x];
  }
  std::vector<uint32_t> Pixels() const {
    ::GdiFlush();
    return std::vector<uint32_t>(bits_, bits_ + w_ * h_);
  }
  // Number of pixels with any alpha inside [x0, x1) x [y0, y1).
  int Opaque(int x0, int y0, int x1, int y1) const {
    ::GdiFlush();
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (bits_[y * w_ + x] >> 24) ++n;
    return n;
  }

 private:
  int w_, h_;
  HDC dc_;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  uint32_t* bits_ = nullptr;
};

// Dispatches the calling thread's messages for about ms milliseconds.
inline void Pump(DWORD ms) {
  const DWORD start = ::GetTickCount();
  MSG msg;
  do {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::Sleep(5);
  } while (::GetTickCount() - start < ms);
}

// Pumps until done() holds or timeout_ms passes; returns done().
template <typename F>
bool PumpUntil(F done, DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > timeout_ms) return false;
    Pump(10);
  }
  return true;
}

// The test programs have no pictures of their own: draw the product's, from kvUninstall.exe.
inline bool UseProgramPictures() {
  static HMODULE module = ::LoadLibraryExW((BinDir() + L"kvUninstall.exe").c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return false;
  GetKvImage()->SetInst(module);
  return true;
}

inline LPARAM Point(int x, int y) { return MAKELPARAM(x, y); }

}  // namespace kvtest
