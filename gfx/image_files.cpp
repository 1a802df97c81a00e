// CKvImage's image-file members: encoders, saving bitmaps, DCs, windows and the screen, and
// converting and resizing picture files.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "gfx/gfx_texts.h"
#include "gfx/image.h"
#include "util/handles.h"
#include "util/format.h"

using namespace Gdiplus;

namespace {

std::wstring MimeOf(const wchar_t* format) {
  return kv::FormatBounded(64, kv::gfx::kMimeFormat, format ? format : L"");
}

}  // namespace

int CKvImage::GetEncoderClsid(const wchar_t* mime, GUID* clsid) {
  if (!mime) return -1;
  UINT count = 0, bytes = 0;
  GetImageEncodersSize(&count, &bytes);
  if (bytes == 0) return -1;
  std::vector<BYTE> buffer(bytes);
  auto* encoders = reinterpret_cast<ImageCodecInfo*>(buffer.data());
  if (GetImageEncoders(count, bytes, encoders) != Ok) return -1;
  for (UINT i = 0; i < count; ++i) {
    if (encoders[i].MimeType && lstrcmpW(encoders[i].MimeType, mime) == 0) {
      if (clsid) *clsid = encoders[i].Clsid;
      return static_cast<int>(i);
    }
  }
  return -1;
}

// Every saving member answers whether the picture was really written: false when there is no
// encoder for the format, no source, or the encoder's save failed.
bool CKvImage::BmToStream(HBITMAP bitmap, IStream* stream, const wchar_t* format) {
  CLSID encoder = {};
  if (!bitmap || !stream || GetEncoderClsid(MimeOf(format).c_str(), &encoder) < 0) return false;
  std::unique_ptr<Bitmap> picture(Bitmap::FromHBITMAP(bitmap, nullptr));
  return picture && picture->GetLastStatus() == Ok &&
         picture->Save(stream, &encoder, nullptr) == Ok;
}

bool CKvImage::SaveBitmap(HBITMAP bitmap, const wchar_t* path, const wchar_t* format) {
  CLSID encoder = {};
  if (!bitmap || !path || GetEncoderClsid(MimeOf(format).c_str(), &encoder) < 0) return false;
  std::unique_ptr<Bitmap> picture(Bitmap::FromHBITMAP(bitmap, nullptr));
  return picture && picture->GetLastStatus() == Ok && picture->Save(path, &encoder, nullptr) == Ok;
}

bool CKvImage::SaveScreen(const wchar_t* path, const wchar_t* format) {
  kv::UniqueMemDC display(CreateDCW(kv::gfx::kDisplay, nullptr, nullptr, nullptr));
  if (!display) return false;
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  kv::UniqueMemDC memory(CreateCompatibleDC(display.get()));
  kv::UniqueBitmap bitmap(CreateCompatibleBitmap(display.get(), w, h));
  if (!memory || !bitmap) return false;
  {
    kv::SelectObjectScope select(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, w, h, display.get(), 0, 0, SRCCOPY);
  }
  return SaveBitmap(bitmap.get(), path, format);
}

// The rectangle's own area is captured: a rectangle at (left, top) copies from (left, top).
bool CKvImage::SavePic(HDC dc, RECT rect, const wchar_t* path, const wchar_t* format) {
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (!dc || w <= 0 || h <= 0) return false;
  kv::UniqueMemDC memory(CreateCompatibleDC(dc));
  kv::UniqueBitmap bitmap(CreateCompatibleBitmap(dc, w, h));
  if (!memory || !bitmap) return false;
  {
    kv::SelectObjectScope select(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, w, h, dc, rect.left, rect.top, SRCCOPY);
  }
  return SaveBitmap(bitmap.get(), path, format);
}

bool CKvImage::SavePic(HWND window, const wchar_t* path, const wchar_t* format) {
  kv::WindowDC dc(window);
  RECT client = {};
  GetClientRect(window, &client);
  return SavePic(dc.get(), client, path, format);
}

bool CKvImage::SavePic(const wchar_t* srcPath, const wchar_t* dstPath, const wchar_t* format) {
  CLSID encoder = {};
  if (!srcPath || !dstPath || GetEncoderClsid(MimeOf(format).c_str(), &encoder) < 0) return false;
  std::unique_ptr<Image> image(Image::FromFile(srcPath, FALSE));
  return image && image->GetLastStatus() == Ok && image->Save(dstPath, &encoder, nullptr) == Ok;
}

bool CKvImage::Zoom(const wchar_t* srcPath, float percent, int w, int h, const wchar_t* dstPath,
                    const wchar_t* format) {
  if (!srcPath) return false;
  const std::wstring output = dstPath ? dstPath : srcPath;
  std::unique_ptr<Image> image(Image::FromFile(srcPath, FALSE));
  if (!image || image->GetLastStatus() != Ok) return false;
  const double W = image->GetWidth(), H = image->GetHeight();
  if (W <= 0 || H <= 0) return false;
  int newW = 0, newH = 0;
  if (percent > 0) {
    newW = static_cast<int>(W * percent / 100.0);
    newH = static_cast<int>(H * percent / 100.0);
  } else if (w == 0) {
    newH = h;
    newW = static_cast<int>(h / H * W);
  } else if (h == 0) {
    newW = w;
    newH = static_cast<int>(w / W * H);
  } else {
    newW = w;
    newH = h;
  }
  // A size that comes out empty in either direction has nothing to draw: the file stays as it is.
  if (newW <= 0 || newH <= 0) return false;
  Bitmap resized(newW, newH, PixelFormat32bppARGB);
  {
    Graphics graphics(&resized);
    graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic);
    graphics.DrawImage(image.get(), Rect(0, 0, newW, newH), 0, 0, static_cast<INT>(W),
                       static_cast<INT>(H), UnitPixel, nullptr);
  }
  image.reset();  // lets go of the source file, which may be the output
  const std::wstring mime = format ? MimeOf(format) : std::wstring(kv::gfx::kDefaultMime);
  CLSID encoder = {};
  return GetEncoderClsid(mime.c_str(), &encoder) >= 0 &&
         resized.Save(output.c_str(), &encoder, nullptr) == Ok;
}
