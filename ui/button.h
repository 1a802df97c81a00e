#pragma once
// The image button: state pictures (normal, hover, pressed, after-click), a caption, and press
// and click callbacks.
#include <windows.h>

#include <string>

#include "ui/widget.h"
#include "util/kv_api.h"

class CKvButton : public CKvBase {
 public:
  CKvButton();
  // A 68 x 29 button at (x, 148), three frames, 8-pixel side edges: the main dialog's kind.
  CKvButton(const wchar_t* caption, int x);
  ~CKvButton() override;

  void Init(const wchar_t* caption, int x, int y, int width, int height, int edgeWidth,
            int frameCount, HWND host, const wchar_t* pictureFile);

  void Draw(HDC dc, int x, int y) override;
  void Paint(HDC dc) override;
  bool OnMouse(int x, int y, int type, void* context) override;

  bool m_bPressed = false;
  int m_nPicId = 0;
  int m_nFrameCount = 1;
  int m_nState = 0;  // 0 normal, 1 hover, 2 pressed, 3 after-click
  bool m_bEnabled = true;
  int m_nEdgeWidth = 2;
  int m_nEdgeHeight = 2;
  int m_nCaptionDx = 0;
  int m_nCaptionDy = 0;
  std::wstring m_strCaption;
  std::wstring m_strResType;
  std::wstring m_strPicFile;
  std::wstring m_strSkinName;
  std::wstring m_strSkinExt;
  KvCallback m_pfnDown = nullptr;
  KvCallback m_pfnUp = nullptr;

 private:
  void SetState(int state);
  void DrawFromResource(HDC dc, int x, int y, int margin);
  void DrawFromFile(HDC dc, const wchar_t* path, int x, int y);
};
