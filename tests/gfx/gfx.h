#pragma once
// Shared by the graphics tables: rows that each check one input's outcome, pictures whose parts
// each have a colour of their own (a pixel tells which part landed there), hidden windows.
#include "tests/support/kvtest.h"

#include <functional>
#include <memory>

#include "gfx/image.h"
#include "util/handles.h"

namespace gfxtest {

using Row = std::pair<const char*, std::function<bool()>>;
inline void ExpectRows(std::initializer_list<Row> rows) {
  for (const auto& [what, holds] : rows) EXPECT_TRUE(holds()) << what;
}

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kYellow = 0xFFFFFF00;
constexpr uint32_t kBands[] = {kRed, kGreen, kBlue, kYellow};
inline CKvImage& Img() { return *GetKvImage(); }
inline const std::wstring& Dir() {
  static const std::wstring dir = kvtest::FreshDir(L"gfx");
  return dir;
}

// A PNG in Dir() whose pixel (x, y) is colour(x, y), straight alpha; made once per run.
inline std::wstring Picture(const wchar_t* name, int w, int h, uint32_t (*colour)(int, int)) {
  CLSID png = {};
  if (Img().GetEncoderClsid(L"image/png", &png) < 0 || kvtest::Exists(Dir() + name)) return Dir() + name;
  Gdiplus::Bitmap picture(w, h, PixelFormat32bppARGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) picture.SetPixel(x, y, Gdiplus::Color(colour(x, y)));
  const std::wstring path = Dir() + name;
  EXPECT_EQ(Gdiplus::Ok, picture.Save(path.c_str(), &png, nullptr)) << kvtest::Utf8(path);
  return path;
}

// Hidden: GDI works on it, and it covers nothing on the shared display.
using Window = std::unique_ptr<HWND__, BOOL(WINAPI*)(HWND)>;
inline Window MakeWindow(int w, int h, const wchar_t* cls = L"STATIC") {
  return Window(CreateWindowExW(WS_EX_TOOLWINDOW, cls, L"", WS_POPUP, 0, 0, w, h, nullptr, nullptr, nullptr, nullptr),
                DestroyWindow);
}

}  // namespace gfxtest
