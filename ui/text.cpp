#include "ui/text.h"

#include <utility>

#include "gfx/font.h"
#include "gfx/gfx_texts.h"
#include "gfx/image.h"

int KvTextDy() { return GetKvFont()->isSupportYaHei() ? 0 : 2; }

CKvText::CKvText() : m_nTextDy(KvTextDy()) { m_bDragThrough = true; }

CKvText::~CKvText() = default;

void CKvText::SetText(tagKvText text) {
  m_strText = std::move(text.text);
  m_nX = text.x;
  m_nY = text.y;
  m_nWidth = text.width;
  m_nHeight = text.height;
  m_bCentred = text.centred;
  m_bDragThrough = true;
  m_nTextDy = KvTextDy();
}

void CKvText::SetFont(int size, COLORREF colour, const wchar_t* face, int bold, int underline,
                      int italic) {
  m_hFont = GetKvFont()->GetFont(size, face, bold, underline, italic);
  m_crText = colour;
}

void CKvText::Draw(HDC dc, int x, int y) {
  if (!dc || m_strText.empty()) return;
  GetKvImage()->DrawString(dc, m_hFont, m_strText.c_str(), x, y + m_nTextDy, m_nWidth, m_nHeight,
                           m_crText, kv::gfx::kTextAlpha, m_bCentred, true, 0);
}

void CKvText::Paint(HDC dc) {
  if (IsInView()) Draw(dc, m_nX - m_nOffsetX, m_nY - m_nOffsetY);
}
