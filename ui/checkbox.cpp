#include "ui/checkbox.h"

#include <shlwapi.h>

#include "gfx/image.h"
#include "gfx/skin.h"
#include "ui/text.h"
#include "ui/ui_texts.h"
#include "gfx/gfx_texts.h"

CKvBaseEx::CKvBaseEx() : m_strResType(kv::gfx::kImageType), m_strSkinExt(kv::ui::kButtonSkinExt) {}

CKvBaseEx::~CKvBaseEx() = default;

void CKvBaseEx::DrawFromResource(HDC dc, int x, int y, int width, int height) {
  const int id = m_nStateCount > 1 ? m_nPicId + m_nState : m_nPicId;
  GetKvImage()->DrawStretchImg(dc, id, m_strResType.c_str(), x, y, width, height, m_nEdgeWidth,
                               m_nFrameCount, m_nState, 0);
}

void CKvBaseEx::DrawImage(HDC dc, int x, int y, int width, int height) {
  if (!m_bVisible || !dc) return;
  if (m_nStateCount > 1 && m_nState >= m_nStateCount) m_nState = m_nStateCount - 1;

  CKvImage* image = GetKvImage();
  CKvSkin* skin = GetKvSkin();
  if (m_nPicSource == kPicFromFile) {
    if (::PathFileExistsW(m_strPicFile.c_str())) {
      image->DrawStretchImg(dc, m_strPicFile.c_str(), x, y, width, height, m_nEdgeWidth,
                            m_nFrameCount, m_nState, 0);
      return;
    }
  } else if (skin->GetResType() == CKvSkin::kFromTheme) {
    const std::wstring file = ThemePictureFile(m_strSkinName, m_nState, m_strSkinExt);
    if (!file.empty()) {
      image->DrawStretchImg(dc, file.c_str(), x, y, width, height, m_nEdgeWidth, m_nFrameCount,
                            m_nState, 0);
      return;
    }
  } else if (skin->GetResType() == CKvSkin::kFromPackage) {
    IStream* stream = nullptr;  // the skin's; never released here
    if (skin->GetRes(m_strSkinName.c_str(), stream) && stream) {
      image->DrawStretchImg(dc, stream, x, y, width, height, m_nEdgeWidth, m_nFrameCount, m_nState,
                            0);
      return;
    }
  }
  DrawFromResource(dc, x, y, width, height);
}

CKvCheckBox::CKvCheckBox() : m_nLabelDy(KvTextDy()) {
  m_nPicId = kv::ui::kCheckBoxPicture;
  m_strSkinName = kv::ui::kCheckBoxSkinName;
}

CKvCheckBox::~CKvCheckBox() = default;

void CKvCheckBox::Init(const wchar_t* label, int x, int y, int width, int height, bool checked,
                       int edgeWidth, int frameCount, HWND host, const wchar_t* pictureFile) {
  m_nPicId = kv::ui::kCheckBoxPicture;
  if (checked) {
    m_bChecked = true;
    m_nState = 3;
  } else {
    m_bChecked = false;
  }
  m_strLabel = label ? label : L"";
  m_nX = x;
  m_nY = y;
  m_nWidth = width;
  m_nHeight = height;
  m_nEdgeWidth = edgeWidth;
  m_nFrameCount = frameCount;
  m_strSkinName = kv::ui::kCheckBoxSkinName;
  if (pictureFile) {
    m_strPicFile = pictureFile;
    m_nPicSource = kPicFromFile;
  }
  m_hHostWnd = host;
  m_nLabelDy = KvTextDy();
}

void CKvCheckBox::Draw(HDC dc, int x, int y) {
  if (!m_bVisible || !dc) return;
  // The box is always 15 x 15, two pixels below the widget's top; the label starts 18 to the right.
  DrawImage(dc, x, y + 2, 15, 15);
  if (m_strLabel.empty()) return;
  GetKvImage()->DrawString(dc, m_hFont, m_strLabel.c_str(), x + 18, y + m_nLabelDy, m_nWidth - 20,
                           m_nHeight, m_crText, kv::gfx::kTextAlpha, false, true, 0);
}

void CKvCheckBox::Paint(HDC dc) {
  if (IsInView()) Draw(dc, m_nX - m_nOffsetX, m_nY - m_nOffsetY);
}

void CKvCheckBox::SetState(int state) {
  m_nState = state;
  // With the frame updated, so that the dialog's frame buffer always shows the current box.
  Refresh(true);
}

bool CKvCheckBox::OnMouse(int mx, int my, int type, void* context) {
  const RECT r = GetRect();
  const bool hit = r.left <= mx && mx <= r.right && r.top <= my && my <= r.bottom;
  if (!hit) {
    if (m_nState != 0 && m_nState != 3) SetState(m_bChecked ? 3 : 0);
    return false;
  }
  switch (type) {
    case kv::ui::kMouseDown:
      m_bPressed = true;
      if (m_pfnDown) m_pfnDown(context);
      break;
    case kv::ui::kMouseUp:
      if (m_bPressed) {
        m_bPressed = false;
        m_bChecked = !m_bChecked;
        SetState(m_bChecked ? 2 : 1);
        if (m_pfnUp) m_pfnUp(context);
      }
      break;
    case kv::ui::kMouseMove:
      if (m_nState != 1 && m_nState != 2) SetState(m_bChecked ? 2 : 1);
      break;
    default:
      break;
  }
  return true;
}
