#pragma once
// The root of the self-drawn widgets: geometry, font and colour, flags, and the dialog's buffers a
// widget repaints itself from. Widgets have no native window; the dialog hands them paints and
// mouse events (ui/dialog.h).
#include <windows.h>

#include <string>

// An edit widget's way to receive the dialog's keyboard messages, parameters unchanged.
class KeyboardHandler {
 public:
  virtual void OnKeyDown(WPARAM wParam, LPARAM lParam) = 0;
  virtual void OnChar(WPARAM wParam, LPARAM lParam) = 0;

 protected:
  ~KeyboardHandler() = default;
};

class CKvBase {
 public:
  CKvBase();
  virtual ~CKvBase();
  CKvBase(const CKvBase&) = delete;
  CKvBase& operator=(const CKvBase&) = delete;

  // The order of these five is part of the toolkit's interface; subclasses append their own.
  virtual void Show(bool show);
  virtual void Draw(HDC dc, int x, int y);
  virtual void Paint(HDC dc) = 0;
  // type: 0 left down, 1 left up, 4 move, 5 right up; client coordinates of the host window.
  virtual bool OnMouse(int x, int y, int type, void* context);

  // Visible and touching the host window's area (touching an edge counts).
  bool IsInView();
  // Repaints this widget alone, on screen, from the dialog's buffers.
  void Refresh(bool updateFrame);

  // The host window, falling back to (and remembering) the application's main window.
  HWND GetHostWnd();
  RECT GetRect() const;

  void* m_pContext = nullptr;
  int m_nX = 0;
  int m_nY = 0;
  int m_nWidth = 0;
  int m_nHeight = 0;
  int m_nOffsetX = 0;
  int m_nOffsetY = 0;
  HFONT m_hFont = nullptr;  // the font cache's; never deleted here
  COLORREF m_crText = 0;
  HWND m_hHostWnd = nullptr;
  bool m_bInputOff = false;
  bool m_bVisible = true;
  // kPicFromFile: the picture is an explicit file; anything else: the skin's mode decides.
  static constexpr int kPicFromFile = 3;
  int m_nPicSource = 0;
  int m_nStateCount = 4;
  bool m_bDragThrough = false;
  HDC m_hBkDC = nullptr;     // the dialog's background buffer
  HDC m_hFrameDC = nullptr;  // the dialog's last composed frame
  bool m_bLayered = false;
  std::wstring m_strTypeName;
  KeyboardHandler* m_pKeyboard = nullptr;

 private:
  // Puts the widget's rectangle on screen: the frame with the background under the widget, and
  // the widget itself drawn over it when draw is true.
  void PushToScreen(bool draw, bool updateFrame);
};

// The theme folder's picture of a widget in a state ("<theme folder><name>_<state><ext>"), or an
// empty text when the theme has no such file.
std::wstring ThemePictureFile(const std::wstring& skinName, int state, const std::wstring& ext);
