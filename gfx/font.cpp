#include "gfx/font.h"

#include <shlobj.h>

#include <cstring>

#include "gfx/gfx_texts.h"
#include "util/caller_text.h"

namespace {

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

CKvFont::CKvFont() {
  m_nCharset = -1;
  m_bYaHei = CheckFont(kv::gfx::kFaceYaHei);
  if (m_bYaHei == 1) {
    m_strDefaultFace = kv::gfx::kFaceYaHei;
    m_nDefaultSize = kv::gfx::kSizeYaHei;
  } else {
    m_strDefaultFace = kv::gfx::kFaceSimSun;
    m_nDefaultSize = kv::gfx::kSizeSimSun;
  }
}

CKvFont::~CKvFont() {
  for (tagFontInfo& info : m_vecFont) {
    if (info.hFont) DeleteObject(info.hFont);
  }
  m_vecFont.clear();
}

CKvFont* GetKvFont() {
  static CKvFont font;
  return &font;
}

int CKvFont::CheckFont(const wchar_t* face) {
  if (!face || std::wcscmp(face, kv::gfx::kFaceYaHei) != 0) return 0;
  wchar_t fonts[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, fonts, CSIDL_FONTS, FALSE)) return 0;
  const std::wstring folder = fonts;
  if (FileExists(folder + kv::gfx::kYaHeiTtf)) return 1;
  return FileExists(folder + kv::gfx::kYaHeiTtc) ? 1 : 0;
}

HFONT CKvFont::GetFont(int size, const wchar_t* face, int bold, int underline, int italic) {
  tagFontInfo info;
  std::memset(&info, 0, sizeof(info));
  info.nSize = size != 0 ? size : m_nDefaultSize;
  info.nBold = bold;
  info.nUnderline = underline;
  info.nItalic = italic;
  kv::CopyToField(info.szFace, face ? face : m_strDefaultFace.c_str());
  return GetFont(info);
}

HFONT CKvFont::GetFont(tagFontInfo& info) {
  for (const tagFontInfo& known : m_vecFont) {
    if (known.nSize == info.nSize && known.nBold == info.nBold &&
        known.nUnderline == info.nUnderline && known.nItalic == info.nItalic &&
        std::wcscmp(known.szFace, info.szFace) == 0) {
      // A failed creation stored null: that record answers nothing, try again below.
      if (known.hFont) return known.hFont;
      break;
    }
  }
  info.hFont = CreateNewFont(info);
  m_vecFont.push_back(info);
  return info.hFont;
}

HFONT CKvFont::CreateNewFont(tagFontInfo& info) {
  LOGFONTW logfont = {};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(logfont), &logfont);
  lstrcpynW(logfont.lfFaceName, info.szFace, LF_FACESIZE);
  logfont.lfHeight = info.nSize;
  logfont.lfWeight = info.nBold ? FW_BOLD : FW_NORMAL;
  logfont.lfUnderline = static_cast<BYTE>(info.nUnderline & 0xFF);
  logfont.lfItalic = static_cast<BYTE>(info.nItalic & 0xFF);
  logfont.lfQuality = PROOF_QUALITY;
  if (m_nCharset != -1) logfont.lfCharSet = static_cast<BYTE>(m_nCharset);
  return CreateFontIndirectW(&logfont);
}

void CKvFont::SetDefaultFont(int size, const wchar_t* face, int charset) {
  m_nDefaultSize = size;
  m_strDefaultFace = face ? face : L"";
  m_nCharset = charset;
}

int CKvFont::GetDefaultSize() { return m_nDefaultSize; }

int CKvFont::isSupportYaHei() { return m_bYaHei; }
