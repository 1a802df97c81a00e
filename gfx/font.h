#pragma once
// The font cache: GDI fonts for the skinned interface, made once per key and kept for the life of
// the process. Callers use the handles freely and never delete them.
#include <windows.h>

#include <string>
#include <vector>

#include "util/kv_api.h"

// Key and value of one cached font. Zero-filled before use.
struct tagFontInfo {
  wchar_t szFace[50];
  int nSize;       // lfHeight, unchanged
  int nBold;       // non-zero: weight 700. Compared as a whole int: 1 and 2 are different keys
  int nUnderline;  // low byte becomes lfUnderline
  int nItalic;     // low byte becomes lfItalic
  HFONT hFont;
};

class KV_CLASS CKvFont {
 public:
  CKvFont();
  ~CKvFont();
  CKvFont(const CKvFont&) = delete;
  CKvFont& operator=(const CKvFont&) = delete;

  // size 0: the default size; face null: the default face.
  HFONT GetFont(int size, const wchar_t* face, int bold, int underline, int italic);
  // charset -1: new fonts keep the stock GUI font's character set. Existing fonts stay as made.
  void SetDefaultFont(int size, const wchar_t* face, int charset);
  int GetDefaultSize();
  int isSupportYaHei();
  // 1 when the face is installed. Only Microsoft YaHei can be detected; every other face gives 0.
  int CheckFont(const wchar_t* face);

 private:
  HFONT GetFont(tagFontInfo& info);
  HFONT CreateNewFont(tagFontInfo& info);

  std::wstring m_strDefaultFace;
  int m_bYaHei = 0;
  std::vector<tagFontInfo> m_vecFont;
  int m_nDefaultSize = 12;
  int m_nCharset = -1;
};

// The process-wide font cache, built on first use.
KV_API CKvFont* GetKvFont();
