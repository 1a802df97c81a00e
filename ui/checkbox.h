#pragma once
// Widgets with a state picture of their own: the abstract CKvBaseEx, which draws its picture into
// a rectangle its subclass chooses, and the check box, a 15 x 15 box with a label to its right.
#include <windows.h>

#include <string>

#include "ui/widget.h"
#include "util/kv_api.h"

class CKvBaseEx : public CKvBase {
 public:
  CKvBaseEx();
  ~CKvBaseEx() override;

  // The state picture, from a file, a theme folder, a skin package or the resources, stretched
  // into the rectangle.
  void DrawImage(HDC dc, int x, int y, int width, int height);

  int m_nPicId = 0;  // state 0's resource; chosen by the subclass
  int m_nFrameCount = 1;
  int m_nState = 0;
  bool m_bEnabled = true;  // for subclasses; the check box ignores it
  int m_nEdgeWidth = 2;
  std::wstring m_strResType;
  std::wstring m_strPicFile;
  std::wstring m_strSkinName;
  std::wstring m_strSkinExt;
  KvCallback m_pfnDown = nullptr;
  KvCallback m_pfnUp = nullptr;

 private:
  void DrawFromResource(HDC dc, int x, int y, int width, int height);
};

// States: 0 unchecked, 1 unchecked under the mouse, 2 checked under the mouse, 3 checked.
class CKvCheckBox : public CKvBaseEx {
 public:
  CKvCheckBox();
  ~CKvCheckBox() override;

  // checked false leaves the state as it was.
  void Init(const wchar_t* label, int x, int y, int width, int height, bool checked, int edgeWidth,
            int frameCount, HWND host, const wchar_t* pictureFile);

  void Draw(HDC dc, int x, int y) override;
  void Paint(HDC dc) override;
  bool OnMouse(int x, int y, int type, void* context) override;

  bool m_bPressed = false;
  std::wstring m_strLabel;
  bool m_bChecked = false;
  int m_nLabelDy = 0;

 private:
  void SetState(int state);
};
