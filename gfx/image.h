#pragma once
// Pictures and anti-aliased text through GDI+: the toolkit's one drawing service. Each operation
// comes once per picture source: a module resource (id and type), a file, a caller's stream and,
// for the core operations, an already decoded image. Nothing is cached: every call decodes anew.
// The same object holds the picture animations and the image-file utilities (encoders, saving
// screens and windows, converting and resizing files).
#include <windows.h>
#include <objidl.h>

// MinGW's GDI+ headers use unqualified min and max, which NOMINMAX takes away from windows.h.
#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <string>
#include <vector>

#include "util/kv_api.h"

class CKvImage;

// One picture animation. Records live in CKvImage's list and are worked on in place by their
// thread, so their addresses must never change: the list never grows past its reserved room.
struct tagMovieInfo {
  HWND hWnd = nullptr;      // window whose client area shows the animation
  HDC hBkDC = nullptr;      // optional: each frame starts from a copy of this DC's area
  int nId = 0;              // caller's key
  int nSrcType = 0;         // 0 resource picture, 1 picture file
  int nEffect = 0;          // 0 strip, 1 rotate-flip cycle, 2 spin, 3 fade in, 4 fade out
  std::wstring strPath;     // picture file (source kind 1)
  int nResId = 0;           // picture resource (source kind 0)
  std::wstring strResType;  // its resource type
  int x = 0, y = 0, w = 0, h = 0;
  int nFrames = 1;
  int nInterval = 50;       // milliseconds after each frame
  volatile LONG bStop = 1;  // written by StopMovie, read by the animation thread
  CKvImage* pOwner = nullptr;
};

class KV_CLASS CKvImage {
 public:
  CKvImage();
  ~CKvImage();
  CKvImage(const CKvImage&) = delete;
  CKvImage& operator=(const CKvImage&) = delete;

  // Module searched for resource pictures; the executable's when never set.
  void SetInst(HINSTANCE instance);

  // w or h 0: natural size (the source rectangle's, else the picture's); src null: whole picture.
  bool DrawImg(HDC hdc, int id, const wchar_t* type, int x, int y, int w, int h, RECT* src);
  bool DrawImg(HDC hdc, const wchar_t* path, int x, int y, int w, int h, RECT* src);
  bool DrawImg(HDC hdc, IStream* stream, int x, int y, int w, int h, RECT* src);
  bool DrawImg(HDC hdc, Gdiplus::Image* image, int x, int y, int w, int h, RECT* src,
               Gdiplus::ImageAttributes* attributes);

  // Scales the red, green, blue and alpha channels; (1, 1, 1, a) draws at opacity a.
  bool DrawImgEx(HDC hdc, int id, const wchar_t* type, float r, float g, float b, float a, int x,
                 int y, int w, int h);
  bool DrawImgEx(HDC hdc, const wchar_t* path, float r, float g, float b, float a, int x, int y,
                 int w, int h);
  bool DrawImgEx(HDC hdc, IStream* stream, float r, float g, float b, float a, int x, int y, int w,
                 int h);

  // Leaves out the pixels whose colour lies between keyLow and keyHigh (ARGB values).
  bool DrawTranImg(HDC hdc, int id, const wchar_t* type, DWORD keyHigh, DWORD keyLow, int x, int y,
                   int w, int h);
  bool DrawTranImg(HDC hdc, const wchar_t* path, DWORD keyHigh, DWORD keyLow, int x, int y, int w,
                   int h);
  bool DrawTranImg(HDC hdc, IStream* stream, DWORD keyHigh, DWORD keyLow, int x, int y, int w,
                   int h);

  // Frame index of a strip of equally wide frames, stretched, three-sliced (hSplit: cap width)
  // or nine-sliced (vSplit: cap height, with hSplit as the cap width).
  bool DrawStretchImg(HDC hdc, int id, const wchar_t* type, int x, int y, int w, int h, int hSplit,
                      int frames, int index, int vSplit);
  bool DrawStretchImg(HDC hdc, const wchar_t* path, int x, int y, int w, int h, int hSplit,
                      int frames, int index, int vSplit);
  bool DrawStretchImg(HDC hdc, IStream* stream, int x, int y, int w, int h, int hSplit, int frames,
                      int index, int vSplit);
  bool DrawStretchImg(HDC hdc, Gdiplus::Image* image, int x, int y, int w, int h, int hSplit,
                      int frames, int index, int vSplit);

  // Turns the picture by angle degrees (clockwise on screen) about the destination's centre.
  bool DrawRotate(HDC hdc, int id, const wchar_t* type, int angle, int x, int y, int w, int h);
  bool DrawRotate(HDC hdc, const wchar_t* path, int angle, int x, int y, int w, int h);
  bool DrawRotate(HDC hdc, IStream* stream, int angle, int x, int y, int w, int h);

  // Maps the picture's upper-left, upper-right and lower-left corners onto the three points.
  void DrawRotate3D(HDC hdc, int id, const wchar_t* type, int x1, int y1, int x2, int y2, int x3,
                    int y3);
  void DrawRotate3D(HDC hdc, IStream* stream, int x1, int y1, int x2, int y2, int x3, int y3);

  bool DrawRotateFlip(HDC hdc, int id, const wchar_t* type, int x, int y, int w, int h,
                      Gdiplus::RotateFlipType rotateFlip, float alpha);
  bool DrawRotateFlip(HDC hdc, const wchar_t* path, int x, int y, int w, int h,
                      Gdiplus::RotateFlipType rotateFlip, float alpha);
  bool DrawRotateFlip(HDC hdc, IStream* stream, int x, int y, int w, int h,
                      Gdiplus::RotateFlipType rotateFlip, float alpha);

  // colour is a COLORREF, alpha its opacity. With w and h non-zero the text is laid into that box
  // (vertically centred, ellipsis trimming, whole lines only with lineLimit); otherwise it is
  // drawn at the point (x, y). reserved is not used.
  void DrawString(HDC hdc, HFONT font, const wchar_t* text, int x, int y, int w, int h,
                  DWORD colour, int alpha, bool centre, bool lineLimit, int reserved);

  bool GetImgSize(const wchar_t* path, int& w, int& h);
  bool GetImgSize(int id, int& w, int& h);  // resource of type "IMG"
  bool CheckImage(const wchar_t* path);     // a readable picture file

  // Image files. format: the MIME sub-type ("png", "bmp", "jpeg", "gif", "tiff"). The saving
  // members are true exactly when the picture was written.
  int GetEncoderClsid(const wchar_t* mime, GUID* clsid);
  bool BmToStream(HBITMAP bitmap, IStream* stream, const wchar_t* format);
  bool SaveScreen(const wchar_t* path, const wchar_t* format);
  bool SavePic(HDC dc, RECT rect, const wchar_t* path, const wchar_t* format);
  bool SavePic(HWND window, const wchar_t* path, const wchar_t* format);
  bool SavePic(const wchar_t* srcPath, const wchar_t* dstPath, const wchar_t* format);
  // dstPath null: resizes in place; format null: "jpeg".
  bool Zoom(const wchar_t* srcPath, float percent, int w, int h, const wchar_t* dstPath,
            const wchar_t* format);

  // Picture animations, each on a thread of its own, addressed by the caller's id.
  bool AddMovie(HWND window, int resId, const wchar_t* resType, int x, int y, int frames,
                int intervalMs, int id, int effect, int w, int h, HDC background);
  bool AddMovie(HWND window, const wchar_t* path, int x, int y, int frames, int intervalMs, int id,
                int effect, int w, int h, HDC background);
  void StartMovie(int id);
  void StopMovie(int id);
  bool isStop(int id);
  int GetMovieIndex(int id);

  static constexpr size_t kMovieRoom = 100;

 private:
  bool isExistsMovie(int id);
  static unsigned __stdcall MovieThread(void* param);

  // A new picture decoded from a copy of resource (id, type), or null; the caller deletes it.
  Gdiplus::Image* LoadPngFromRes(int id, const wchar_t* type);
  void DrawSplitH(HDC hdc, Gdiplus::Image* image, int x, int y, int w, int h, const RECT& src,
                  int capW);
  void DrawSplitV(HDC hdc, Gdiplus::Image* image, int x, int y, int w, int h, const RECT& src,
                  int capH, int capW);
  // Source-independent bodies of the operations, on an opened picture (null: nothing drawn).
  void DrawStretchOpened(HDC hdc, Gdiplus::Image* image, int x, int y, int w, int h, int hSplit,
                         int frames, int index, int vSplit);
  void DrawRotateOpened(HDC hdc, Gdiplus::Image* image, int angle, int x, int y, int w, int h);
  void DrawRotateFlipOpened(HDC hdc, Gdiplus::Image* image, int x, int y, int w, int h,
                            Gdiplus::RotateFlipType rotateFlip, float alpha);
  void DrawRotate3DOpened(HDC hdc, Gdiplus::Image* image, int x1, int y1, int x2, int y2, int x3,
                          int y3);
  bool SaveBitmap(HBITMAP bitmap, const wchar_t* path, const wchar_t* format);

  Gdiplus::GdiplusStartupInput m_gdiplusStartupInput;
  ULONG_PTR m_gdiplusToken = 0;
  volatile LONG m_bStopAll = 0;  // set at exit: every animation thread leaves its loop
  std::vector<tagMovieInfo> m_vecMovie;
  HINSTANCE m_hInst = nullptr;
};

// The process-wide drawing service; GDI+ starts with its first use.
KV_API CKvImage* GetKvImage();
