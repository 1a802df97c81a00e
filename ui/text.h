#pragma once
// A line of text in a rectangle: no mouse input, and a press on it still drags the window.
#include <windows.h>

#include <string>

#include "ui/widget.h"

// Argument of CKvText::SetText.
struct tagKvText {
  std::wstring text;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool centred = false;
};

class CKvText : public CKvBase {
 public:
  CKvText();
  ~CKvText() override;

  void Draw(HDC dc, int x, int y) override;
  void Paint(HDC dc) override;

  void SetText(tagKvText text);
  // size 0 and a null face: the font cache's defaults.
  void SetFont(int size, COLORREF colour, const wchar_t* face, int bold, int underline, int italic);

  std::wstring m_strText;
  int m_nTextDy = 0;
  bool m_bCentred = false;
};

// Text and caption offset downwards: the fallback face sits higher in its box than YaHei.
int KvTextDy();
