#include "gfx/image.h"

#include <cstring>
#include <memory>

#include "util/handles.h"
#include "gfx/gfx_texts.h"
#include "gfx/resource_utils.h"

using namespace Gdiplus;

namespace {

using ImagePtr = std::unique_ptr<Image>;

// A decoded picture, or null when the source does not decode. GDI+ hands back an object even for
// an unreadable source; only its status tells.
ImagePtr Checked(Image* image) {
  ImagePtr owned(image);
  if (owned && owned->GetLastStatus() != Ok) owned.reset();
  return owned;
}

// Embedded colour profiles are ignored: the pictures are drawn with the colours they store.
ImagePtr OpenFile(const wchar_t* path) {
  return path ? Checked(Image::FromFile(path, FALSE)) : nullptr;
}

// Decodes from the stream's current position; the stream stays the caller's.
ImagePtr OpenStream(IStream* stream) {
  return stream ? Checked(Image::FromStream(stream, FALSE)) : nullptr;
}

ColorMatrix DiagonalMatrix(float r, float g, float b, float a) {
  ColorMatrix m;
  std::memset(&m, 0, sizeof(m));
  m.m[0][0] = r;
  m.m[1][1] = g;
  m.m[2][2] = b;
  m.m[3][3] = a;
  return m;
}

}  // namespace

CKvImage::CKvImage() {
  m_gdiplusStartupInput.GdiplusVersion = 1;
  m_gdiplusStartupInput.DebugEventCallback = nullptr;
  m_gdiplusStartupInput.SuppressBackgroundThread = FALSE;
  m_gdiplusStartupInput.SuppressExternalCodecs = FALSE;
  GdiplusStartup(&m_gdiplusToken, &m_gdiplusStartupInput, nullptr);
  m_bStopAll = 0;
  m_vecMovie.reserve(kMovieRoom);
  m_hInst = nullptr;
}

CKvImage::~CKvImage() {
  InterlockedExchange(&m_bStopAll, 1);
  GdiplusShutdown(m_gdiplusToken);
}

CKvImage* GetKvImage() {
  static CKvImage image;
  return &image;
}

void CKvImage::SetInst(HINSTANCE instance) { m_hInst = instance; }

Image* CKvImage::LoadPngFromRes(int id, const wchar_t* type) {
  if (!m_hInst) m_hInst = GetModuleHandleW(nullptr);
  HRSRC res = FindResourceW(m_hInst, MAKEINTRESOURCEW(id), type);
  if (!res) return nullptr;
  HGLOBAL loaded = LoadResource(m_hInst, res);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return nullptr;
  const DWORD size = SizeofResource(m_hInst, res);
  const kv::ComPtr<IStream> stream = kv::gfx::StreamOfCopy(bytes, size);
  if (!stream) return nullptr;
  return Checked(Image::FromStream(stream.get(), FALSE)).release();
}

// ---- DrawImg ----

bool CKvImage::DrawImg(HDC hdc, Image* image, int x, int y, int w, int h, RECT* src,
                       ImageAttributes* attributes) {
  if (!hdc) return false;
  if (!image) return true;
  Graphics graphics(hdc);
  int sx = 0, sy = 0, sw = 0, sh = 0;
  if (src) {
    sx = src->left;
    sy = src->top;
    sw = src->right - src->left;
    sh = src->bottom - src->top;
  } else {
    sw = static_cast<int>(image->GetWidth());
    sh = static_cast<int>(image->GetHeight());
  }
  // A zero in either dimension replaces both: natural size.
  if (w == 0 || h == 0) {
    w = sw;
    h = sh;
  }
  graphics.DrawImage(image, Rect(x, y, w, h), sx, sy, sw, sh, UnitPixel, attributes);
  return true;
}

bool CKvImage::DrawImg(HDC hdc, int id, const wchar_t* type, int x, int y, int w, int h,
                       RECT* src) {
  if (!hdc) return false;
  ImagePtr image(LoadPngFromRes(id, type));
  return DrawImg(hdc, image.get(), x, y, w, h, src, nullptr);
}

bool CKvImage::DrawImg(HDC hdc, const wchar_t* path, int x, int y, int w, int h, RECT* src) {
  if (!hdc) return false;
  ImagePtr image = OpenFile(path);
  return DrawImg(hdc, image.get(), x, y, w, h, src, nullptr);
}

bool CKvImage::DrawImg(HDC hdc, IStream* stream, int x, int y, int w, int h, RECT* src) {
  if (!hdc) return false;
  ImagePtr image = OpenStream(stream);
  return DrawImg(hdc, image.get(), x, y, w, h, src, nullptr);
}

// ---- DrawImgEx: channel scaling ----

namespace {
bool DrawScaled(CKvImage* self, HDC hdc, Image* image, float r, float g, float b, float a, int x,
                int y, int w, int h) {
  if (!image) return true;
  ColorMatrix matrix = DiagonalMatrix(r, g, b, a);
  ImageAttributes attributes;
  attributes.SetColorMatrix(&matrix);
  return self->DrawImg(hdc, image, x, y, w, h, nullptr, &attributes);
}
}  // namespace

bool CKvImage::DrawImgEx(HDC hdc, int id, const wchar_t* type, float r, float g, float b, float a,
                         int x, int y, int w, int h) {
  if (!hdc) return false;
  ImagePtr image(LoadPngFromRes(id, type));
  return DrawScaled(this, hdc, image.get(), r, g, b, a, x, y, w, h);
}

bool CKvImage::DrawImgEx(HDC hdc, const wchar_t* path, float r, float g, float b, float a, int x,
                         int y, int w, int h) {
  if (!hdc) return false;
  ImagePtr image = OpenFile(path);
  return DrawScaled(this, hdc, image.get(), r, g, b, a, x, y, w, h);
}

bool CKvImage::DrawImgEx(HDC hdc, IStream* stream, float r, float g, float b, float a, int x, int y,
                         int w, int h) {
  if (!hdc) return false;
  ImagePtr image = OpenStream(stream);
  return DrawScaled(this, hdc, image.get(), r, g, b, a, x, y, w, h);
}

// ---- DrawTranImg: colour key ----

namespace {
bool DrawKeyed(CKvImage* self, HDC hdc, Image* image, DWORD keyHigh, DWORD keyLow, int x, int y,
               int w, int h) {
  if (!image) return true;
  ImageAttributes attributes;
  attributes.SetColorKey(Color(keyLow), Color(keyHigh));
  return self->DrawImg(hdc, image, x, y, w, h, nullptr, &attributes);
}
}  // namespace

bool CKvImage::DrawTranImg(HDC hdc, int id, const wchar_t* type, DWORD keyHigh, DWORD keyLow, int x,
                           int y, int w, int h) {
  if (!hdc) return false;
  ImagePtr image(LoadPngFromRes(id, type));
  return DrawKeyed(this, hdc, image.get(), keyHigh, keyLow, x, y, w, h);
}

bool CKvImage::DrawTranImg(HDC hdc, const wchar_t* path, DWORD keyHigh, DWORD keyLow, int x, int y,
                           int w, int h) {
  if (!hdc) return false;
  ImagePtr image = OpenFile(path);
  return DrawKeyed(this, hdc, image.get(), keyHigh, keyLow, x, y, w, h);
}

bool CKvImage::DrawTranImg(HDC hdc, IStream* stream, DWORD keyHigh, DWORD keyLow, int x, int y,
                           int w, int h) {
  if (!hdc) return false;
  ImagePtr image = OpenStream(stream);
  return DrawKeyed(this, hdc, image.get(), keyHigh, keyLow, x, y, w, h);
}

// ---- DrawStretchImg: frame strips, three- and nine-slice ----

void CKvImage::DrawSplitH(HDC hdc, Image* image, int x, int y, int w, int h, const RECT& src,
                          int capW) {
  const int l = src.left, t = src.top, r = src.right, b = src.bottom;
  RECT left = {l, t, l + capW, b};
  RECT centre = {l + capW, t, r - capW, b};
  RECT right = {r - capW, t, r, b};
  DrawImg(hdc, image, x, y, capW, h, &left, nullptr);
  DrawImg(hdc, image, x + capW, y, w - 2 * capW, h, &centre, nullptr);
  DrawImg(hdc, image, x + w - capW, y, capW, h, &right, nullptr);
}

void CKvImage::DrawSplitV(HDC hdc, Image* image, int x, int y, int w, int h, const RECT& src,
                          int capH, int capW) {
  const int l = src.left, t = src.top, r = src.right, b = src.bottom;
  struct Band {
    RECT src;
    int y, h;
  };
  const Band bands[] = {
      {{l, t, r, t + capH}, y, capH},
      {{l, t + capH, r, b - capH}, y + capH, h - 2 * capH},
      {{l, b - capH, r, b}, y + h - capH, capH},
  };
  for (const Band& band : bands) {
    if (capW > 0) {
      DrawSplitH(hdc, image, x, band.y, w, band.h, band.src, capW);
    } else {
      RECT piece = band.src;
      DrawImg(hdc, image, x, band.y, w, band.h, &piece, nullptr);
    }
  }
}

void CKvImage::DrawStretchOpened(HDC hdc, Image* image, int x, int y, int w, int h, int hSplit,
                                 int frames, int index, int vSplit) {
  if (!image) return;
  const int width = static_cast<int>(image->GetWidth());
  const int height = static_cast<int>(image->GetHeight());
  if (frames < 1) frames = 1;
  if (index >= frames) index = frames - 1;
  const int fw = width / frames;
  RECT src = {fw * index, 0, fw * index + fw, height};
  if (vSplit > 0) {
    DrawSplitV(hdc, image, x, y, w, h, src, vSplit, hSplit);
  } else if (hSplit > 0) {
    DrawSplitH(hdc, image, x, y, w, h, src, hSplit);
  } else {
    DrawImg(hdc, image, x, y, w, h, &src, nullptr);
  }
}

bool CKvImage::DrawStretchImg(HDC hdc, Image* image, int x, int y, int w, int h, int hSplit,
                              int frames, int index, int vSplit) {
  if (!hdc) return false;
  DrawStretchOpened(hdc, image, x, y, w, h, hSplit, frames, index, vSplit);
  return true;
}

bool CKvImage::DrawStretchImg(HDC hdc, int id, const wchar_t* type, int x, int y, int w, int h,
                              int hSplit, int frames, int index, int vSplit) {
  if (!hdc) return false;
  ImagePtr image(LoadPngFromRes(id, type));
  DrawStretchOpened(hdc, image.get(), x, y, w, h, hSplit, frames, index, vSplit);
  return true;
}

bool CKvImage::DrawStretchImg(HDC hdc, const wchar_t* path, int x, int y, int w, int h, int hSplit,
                              int frames, int index, int vSplit) {
  if (!hdc) return false;
  ImagePtr image = OpenFile(path);
  DrawStretchOpened(hdc, image.get(), x, y, w, h, hSplit, frames, index, vSplit);
  return true;
}

bool CKvImage::DrawStretchImg(HDC hdc, IStream* stream, int x, int y, int w, int h, int hSplit,
                              int frames, int index, int vSplit) {
  if (!hdc) return false;
  ImagePtr image = OpenStream(stream);
  DrawStretchOpened(hdc, image.get(), x, y, w, h, hSplit, frames, index, vSplit);
  return true;
}

// ---- DrawRotate: about the destination's centre ----

void CKvImage::DrawRotateOpened(HDC hdc, Image* image, int angle, int x, int y, int w, int h) {
  if (!image) return;
  const int width = static_cast<int>(image->GetWidth());
  const int height = static_cast<int>(image->GetHeight());
  if (w == 0 || h == 0) {
    w = width;
    h = height;
  }
  const int cx = x + w / 2, cy = y + h / 2;
  Graphics graphics(hdc);
  // Each step is prepended, so a point meets them in reverse: moved to the origin, turned, and
  // moved to the centre.
  graphics.TranslateTransform(static_cast<REAL>(cx), static_cast<REAL>(cy), MatrixOrderPrepend);
  graphics.RotateTransform(static_cast<REAL>(angle), MatrixOrderPrepend);
  graphics.TranslateTransform(static_cast<REAL>(-(w / 2) - x), static_cast<REAL>(-(h / 2) - y),
                              MatrixOrderPrepend);
  graphics.DrawImage(image, Rect(x, y, w, h), 0, 0, width, height, UnitPixel, nullptr);
  graphics.ResetTransform();
}

bool CKvImage::DrawRotate(HDC hdc, int id, const wchar_t* type, int angle, int x, int y, int w,
                          int h) {
  if (!hdc) return false;
  ImagePtr image(LoadPngFromRes(id, type));
  DrawRotateOpened(hdc, image.get(), angle, x, y, w, h);
  return true;
}

bool CKvImage::DrawRotate(HDC hdc, const wchar_t* path, int angle, int x, int y, int w, int h) {
  if (!hdc) return false;
  ImagePtr image = OpenFile(path);
  DrawRotateOpened(hdc, image.get(), angle, x, y, w, h);
  return true;
}

bool CKvImage::DrawRotate(HDC hdc, IStream* stream, int angle, int x, int y, int w, int h) {
  if (!hdc) return false;
  ImagePtr image = OpenStream(stream);
  DrawRotateOpened(hdc, image.get(), angle, x, y, w, h);
  return true;
}

// ---- DrawRotate3D: three-point mapping ----

void CKvImage::DrawRotate3DOpened(HDC hdc, Image* image, int x1, int y1, int x2, int y2, int x3,
                                  int y3) {
  if (!image) return;
  Graphics graphics(hdc);
  graphics.SetSmoothingMode(SmoothingModeHighQuality);
  Point points[3] = {Point(x1, y1), Point(x2, y2), Point(x3, y3)};
  graphics.DrawImage(image, points, 3);
}

void CKvImage::DrawRotate3D(HDC hdc, int id, const wchar_t* type, int x1, int y1, int x2, int y2,
                            int x3, int y3) {
  if (!hdc) return;
  ImagePtr image(LoadPngFromRes(id, type));
  DrawRotate3DOpened(hdc, image.get(), x1, y1, x2, y2, x3, y3);
}

void CKvImage::DrawRotate3D(HDC hdc, IStream* stream, int x1, int y1, int x2, int y2, int x3,
                            int y3) {
  if (!hdc) return;
  ImagePtr image = OpenStream(stream);
  DrawRotate3DOpened(hdc, image.get(), x1, y1, x2, y2, x3, y3);
}

// ---- DrawRotateFlip: in-memory turn or mirror, with opacity ----

void CKvImage::DrawRotateFlipOpened(HDC hdc, Image* image, int x, int y, int w, int h,
                                    RotateFlipType rotateFlip, float alpha) {
  if (!image) return;
  image->RotateFlip(rotateFlip);
  ColorMatrix matrix = DiagonalMatrix(1.0f, 1.0f, 1.0f, alpha);
  ImageAttributes attributes;
  attributes.SetColorMatrix(&matrix);
  DrawImg(hdc, image, x, y, w, h, nullptr, &attributes);
}

bool CKvImage::DrawRotateFlip(HDC hdc, int id, const wchar_t* type, int x, int y, int w, int h,
                              RotateFlipType rotateFlip, float alpha) {
  if (!hdc) return false;
  ImagePtr image(LoadPngFromRes(id, type));
  DrawRotateFlipOpened(hdc, image.get(), x, y, w, h, rotateFlip, alpha);
  return true;
}

bool CKvImage::DrawRotateFlip(HDC hdc, const wchar_t* path, int x, int y, int w, int h,
                              RotateFlipType rotateFlip, float alpha) {
  if (!hdc) return false;
  ImagePtr image = OpenFile(path);
  DrawRotateFlipOpened(hdc, image.get(), x, y, w, h, rotateFlip, alpha);
  return true;
}

bool CKvImage::DrawRotateFlip(HDC hdc, IStream* stream, int x, int y, int w, int h,
                              RotateFlipType rotateFlip, float alpha) {
  if (!hdc) return false;
  ImagePtr image = OpenStream(stream);
  DrawRotateFlipOpened(hdc, image.get(), x, y, w, h, rotateFlip, alpha);
  return true;
}

// ---- DrawString ----

void CKvImage::DrawString(HDC hdc, HFONT font, const wchar_t* text, int x, int y, int w, int h,
                          DWORD colour, int alpha, bool centre, bool lineLimit, int /*reserved*/) {
  if (!hdc || !text) return;
  Graphics graphics(hdc);
  // The logical font is read in its wide form: read as ANSI, a Chinese face name turns into "??"
  // on a system whose code page cannot hold it, and GDI+ then picks a face without the glyphs.
  HFONT source = font ? font : static_cast<HFONT>(GetCurrentObject(hdc, OBJ_FONT));
  LOGFONTW logfont = {};
  std::unique_ptr<Font> gdiFont;
  if (source && GetObjectW(source, sizeof(logfont), &logfont)) {
    gdiFont = std::make_unique<Font>(hdc, &logfont);
  } else {
    gdiFont = std::make_unique<Font>(hdc);
  }
  StringFormat format(0, LANG_NEUTRAL);
  format.SetAlignment(centre ? StringAlignmentCenter : StringAlignmentNear);
  format.SetLineAlignment(StringAlignmentCenter);
  format.SetTrimming(StringTrimmingEllipsisCharacter);
  if (lineLimit) format.SetFormatFlags(StringFormatFlagsLineLimit);
  SolidBrush brush(Color(static_cast<BYTE>(alpha & 0xFF), GetRValue(colour), GetGValue(colour),
                         GetBValue(colour)));
  graphics.SetTextRenderingHint(TextRenderingHintClearTypeGridFit);
  if (w != 0 && h != 0) {
    const RectF box(static_cast<REAL>(x), static_cast<REAL>(y), static_cast<REAL>(w),
                    static_cast<REAL>(h));
    graphics.DrawString(text, -1, gdiFont.get(), box, &format, &brush);
  } else {
    const PointF origin(static_cast<REAL>(x), static_cast<REAL>(y));
    graphics.DrawString(text, -1, gdiFont.get(), origin, &format, &brush);
  }
}

// ---- Sizes ----

bool CKvImage::GetImgSize(const wchar_t* path, int& w, int& h) {
  ImagePtr image = OpenFile(path);
  w = image ? static_cast<int>(image->GetWidth()) : 0;
  h = image ? static_cast<int>(image->GetHeight()) : 0;
  return true;
}

bool CKvImage::GetImgSize(int id, int& w, int& h) {
  ImagePtr image(LoadPngFromRes(id, kv::gfx::kImageType));
  w = image ? static_cast<int>(image->GetWidth()) : 0;
  h = image ? static_cast<int>(image->GetHeight()) : 0;
  return true;
}

bool CKvImage::CheckImage(const wchar_t* path) {
  ImagePtr image = OpenFile(path);
  return image && image->GetHeight() != 0;
}
