#include "ui/button.h"

#include <shlwapi.h>

#include "gfx/font.h"
#include "gfx/image.h"
#include "gfx/skin.h"
#include "ui/ui_texts.h"
#include "gfx/gfx_texts.h"

namespace {

// Without the YaHei face the fallback font sits higher in its box; the caption moves down by 2.
int DefaultCaptionDy() { return GetKvFont()->isSupportYaHei() ? 0 : 2; }

}  // namespace

CKvButton::CKvButton()
    : m_nPicId(kv::ui::kButtonPicture),
      m_nCaptionDy(DefaultCaptionDy()),
      m_strResType(kv::gfx::kImageType),
      m_strSkinName(kv::ui::kButtonSkinName),
      m_strSkinExt(kv::ui::kButtonSkinExt) {}

CKvButton::CKvButton(const wchar_t* caption, int x) {
  Init(caption, x, 148, 68, 29, 8, 3, nullptr, nullptr);
}

CKvButton::~CKvButton() = default;

void CKvButton::Init(const wchar_t* caption, int x, int y, int width, int height, int edgeWidth,
                     int frameCount, HWND host, const wchar_t* pictureFile) {
  m_nPicId = kv::ui::kButtonPicture;
  m_strResType = kv::gfx::kImageType;
  m_nState = 0;
  m_bEnabled = true;
  m_strCaption = caption ? caption : L"";
  m_nX = x;
  m_nY = y;
  m_nWidth = width;
  m_nHeight = height;
  m_nEdgeWidth = edgeWidth;
  m_nEdgeHeight = 2;
  m_nFrameCount = frameCount;
  m_strSkinName = kv::ui::kButtonSkinName;
  m_strSkinExt = kv::ui::kButtonSkinExt;
  if (pictureFile) {
    m_strPicFile = pictureFile;
    m_nPicSource = kPicFromFile;
  }
  m_hHostWnd = host;
  m_pfnDown = nullptr;
  m_pfnUp = nullptr;
  m_nCaptionDx = 0;
  m_nCaptionDy = DefaultCaptionDy();
}

void CKvButton::Paint(HDC dc) {
  if (IsInView()) Draw(dc, m_nX - m_nOffsetX, m_nY - m_nOffsetY);
}

void CKvButton::DrawFromResource(HDC dc, int x, int y, int margin) {
  const int id = m_nStateCount > 1 ? m_nPicId + m_nState : m_nPicId;
  GetKvImage()->DrawStretchImg(dc, id, m_strResType.c_str(), x, y, m_nWidth, m_nHeight,
                               m_nEdgeWidth, m_nFrameCount, m_nState, margin);
}

void CKvButton::DrawFromFile(HDC dc, const wchar_t* path, int x, int y) {
  GetKvImage()->DrawStretchImg(dc, path, x, y, m_nWidth, m_nHeight, m_nEdgeWidth, m_nFrameCount,
                               m_nState, 0);
}

void CKvButton::Draw(HDC dc, int x, int y) {
  if (!m_bVisible || !dc) return;
  if (m_nStateCount > 1 && m_nState >= m_nStateCount) m_nState = m_nStateCount - 1;

  CKvSkin* skin = GetKvSkin();
  if (m_nPicSource == kPicFromFile) {
    if (::PathFileExistsW(m_strPicFile.c_str()))
      DrawFromFile(dc, m_strPicFile.c_str(), x, y);
    else
      DrawFromResource(dc, x, y, 0);
  } else if (skin->GetResType() == CKvSkin::kFromTheme) {
    const std::wstring file = ThemePictureFile(m_strSkinName, m_nState, m_strSkinExt);
    if (!file.empty())
      DrawFromFile(dc, file.c_str(), x, y);
    else
      DrawFromResource(dc, x, y, 0);
  } else if (skin->GetResType() == CKvSkin::kFromPackage) {
    // Only asked: the package's picture is not drawn, the resource is.
    IStream* unused = nullptr;
    skin->GetRes(m_strSkinName.c_str(), unused);
    DrawFromResource(dc, x, y, 0);
  } else {
    DrawFromResource(dc, x, y, m_nEdgeHeight);
  }

  if (!m_strCaption.empty()) {
    GetKvImage()->DrawString(dc, m_hFont, m_strCaption.c_str(), x + m_nCaptionDx, y + m_nCaptionDy,
                             m_nWidth - m_nCaptionDx, m_nHeight, m_crText, kv::gfx::kTextAlpha,
                             true, true, 0);
  }
}

void CKvButton::SetState(int state) {
  m_nState = state;
  Refresh(false);
}

bool CKvButton::OnMouse(int mx, int my, int type, void* context) {
  if (!m_bEnabled) return false;
  const RECT r = GetRect();
  // Both edges count: a w-wide button answers on w + 1 columns.
  const bool hit = r.left <= mx && mx <= r.right && r.top <= my && my <= r.bottom;
  if (!hit) {
    if (m_nState != 0) SetState(0);
    return false;
  }
  switch (type) {
    case kv::ui::kMouseDown:
      m_bPressed = true;
      SetState(2);
      if (m_pfnDown) m_pfnDown(context);
      break;
    case kv::ui::kMouseUp:
      if (m_bPressed) {
        m_bPressed = false;
        SetState(m_nFrameCount > 3 ? 3 : 1);
        if (m_pfnUp) m_pfnUp(context);
      }
      break;
    case kv::ui::kMouseMove:
      if (m_nState != 1) SetState(1);
      break;
    default:
      break;
  }
  return true;
}
