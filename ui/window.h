#pragma once
// One native window with a window class of its own, whose messages reach a virtual window
// procedure of the object.
#include <windows.h>

#include <string>

#include "ui/widget.h"

class CKvWin : public CKvBase {
 public:
  CKvWin();
  ~CKvWin() override;

  void Show(bool show) override;
  void Draw(HDC dc, int x, int y) override;
  void Paint(HDC dc) override;
  bool OnMouse(int x, int y, int type, void* context) override;
  // Order fixed after CKvBase's five.
  virtual void OnCreate();
  virtual void SyncChildren();
  virtual LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  virtual void Redraw();

  // Creates (or re-creates) the window. style 0 picks the default styles for a popup or a child.
  bool Create(DWORD style, int x, int y, int width, int height, DWORD exStyle, bool layered,
              HWND parent);

  // The one window procedure of every class the toolkit registers.
  static LRESULT CALLBACK SharedWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
  std::wstring m_strClassName;
  bool m_bLayeredWnd = false;  // per-pixel alpha: every frame goes out by UpdateLayeredWindow
  int m_nIconId = 0;
  bool m_bChild = false;
  bool m_bCreated = false;  // OnCreate has run for this object

 protected:
  // BeginPaint, Paint, EndPaint.
  void PaintMessage(HWND wnd);

 private:
  void DestroyOwnWindow();
};
