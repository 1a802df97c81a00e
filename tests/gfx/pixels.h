#pragma once
// Pixel access for the drawing tests: a 32-bit top-down DIB section with its own memory DC, read
// back as premultiplied 0xAARRGGBB values (what GDI+ writes into such a bitmap), and test pictures
// made with GDI+ and saved as PNG files.
#include <windows.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "gfx/image.h"
#include "tests/support/test_support.h"
#include "util/handles.h"

namespace kvtest {

inline CLSID PngEncoder() {
  CLSID clsid = {};
  GetKvImage()->GetEncoderClsid(L"image/png", &clsid);
  return clsid;
}

class Dib {
 public:
  Dib(int w, int h) : w_(w), h_(h) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};  // top-down rows
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    bits_ = static_cast<uint32_t*>(bits);
    dc_.reset(CreateCompatibleDC(nullptr));
    old_ = SelectObject(dc_.get(), bitmap_.get());
    Fill(0);
  }
  ~Dib() { SelectObject(dc_.get(), old_); }
  Dib(const Dib&) = delete;
  Dib& operator=(const Dib&) = delete;
  HDC dc() const { return dc_.get(); }
  int w() const { return w_; }
  int h() const { return h_; }
  uint32_t* bits() const { return bits_; }
  uint32_t at(int x, int y) const { return GdiFlush(), bits_[y * w_ + x]; }
  void Fill(uint32_t argb) { GdiFlush(), std::fill(bits_, bits_ + w_ * h_, argb); }
  // Pixels in [x0, x1) x [y0, y1) that differ from value.
  int CountNot(uint32_t value, int x0, int y0, int x1, int y1) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += at(x, y) != value;
    return n;
  }
  // Pixels that differ from another picture of the same size.
  int CountDiff(const Dib& other) const {
    GdiFlush();
    int n = 0;
    for (int i = 0; i < w_ * h_; ++i) n += bits_[i] != other.bits_[i];
    return n;
  }
  // Saves the premultiplied pixels as a PNG (for a person to look at).
  bool SavePng(const std::wstring& path) const {
    GdiFlush();
    Gdiplus::Bitmap picture(w_, h_, w_ * 4, PixelFormat32bppPARGB, reinterpret_cast<BYTE*>(bits_));
    const CLSID png = PngEncoder();
    return picture.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
  }
 private:
  int w_, h_;
  kv::UniqueBitmap bitmap_;
  kv::UniqueMemDC dc_;
  HGDIOBJ old_ = nullptr;
  uint32_t* bits_ = nullptr;
};

inline int Channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xFF); }

// Every channel within tolerance.
inline bool Near(uint32_t a, uint32_t b, int tolerance = 2) {
  for (int shift = 0; shift < 32; shift += 8)
    if (std::abs(Channel(a, shift) - Channel(b, shift)) > tolerance) return false;
  return true;
}

// Expects each {x, y, colour} pixel of dib to be within tolerance of its colour (0: exactly).
struct Probe {
  int x, y;
  uint32_t want;
};
inline void ExpectPixels(const Dib& dib, std::initializer_list<Probe> probes, int tolerance = 0) {
  for (const Probe& p : probes)
    EXPECT_TRUE(Near(dib.at(p.x, p.y), p.want, tolerance)) << p.x << "," << p.y << ": " << std::hex << dib.at(p.x, p.y);
}

// Writes a w x h PNG whose pixel (x, y) is colour(x, y), straight alpha ARGB.
inline bool MakePicture(const std::wstring& path, int w, int h,
                        const std::function<uint32_t(int, int)>& colour) {
  GetKvImage();  // GDI+ runs from here on
  Gdiplus::Bitmap picture(w, h, PixelFormat32bppARGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) picture.SetPixel(x, y, Gdiplus::Color(colour(x, y)));
  const CLSID png = PngEncoder();
  return picture.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
}

// A picture made once per run in the program's scratch folder C:\kvtest\<folder>\ (one per program).
inline std::wstring CachedPicture(const wchar_t* folder, const wchar_t* name, int w, int h, uint32_t (*colour)(int, int)) {
  static const std::wstring root = FreshDir(folder);
  const std::wstring path = root + name;
  EXPECT_TRUE(kvtest::Exists(path) || MakePicture(path, w, h, colour)) << kvtest::Utf8(path);
  return path;
}

}  // namespace kvtest
