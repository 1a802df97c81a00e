#pragma once
// The skinned dialog: a window that paints background, overlay and child widgets into one frame
// and puts it on screen in one step, routes the mouse and keyboard to its widgets, drags, resizes
// by its borders, animates (ui/effects.cpp) and runs modally.
#include <windows.h>

#include <atomic>
#include <vector>

#include "ui/memory_dc.h"
#include "ui/window.h"

class CKvDlg : public CKvWin {
 public:
  CKvDlg();
  ~CKvDlg() override;

  void Paint(HDC dc) override;
  void OnCreate() override;
  void SyncChildren() override;
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

  // Order fixed after CKvWin's.
  virtual void OnMouseWheel(int keys, int delta, int x, int y);
  virtual void OnMouseHover(WPARAM wParam, LPARAM lParam);
  virtual void OnMouseLeave(WPARAM wParam, LPARAM lParam);
  virtual void OnSize(WPARAM wParam, LPARAM lParam);
  virtual void OnMouseMove(WPARAM wParam, LPARAM lParam);
  virtual void OnMouseMoveEx(int x, int y);
  virtual void OnLButtonUp(WPARAM wParam, LPARAM lParam);
  virtual void OnLButtonDown(WPARAM wParam, LPARAM lParam);
  virtual void OnLButtonDblClk(WPARAM wParam, LPARAM lParam);
  virtual void OnRButtonUp(WPARAM wParam, LPARAM lParam);
  virtual void OnKeyDown(WPARAM wParam, LPARAM lParam);
  virtual void OnChar(WPARAM wParam, LPARAM lParam);
  virtual void DrawBackground(HDC dc, RECT client);
  virtual void DrawOverlay(HDC dc);
  // Runs one of the fourteen window animations to its end on the calling thread.
  virtual void PlayEffect(int effect);
  // effect -1: no animation, ShowWindow(showCommand).
  virtual void ShowDlg(int effect, bool centre, int showCommand);

  // Shows the dialog and pumps messages until it closes; returns the result (2 unless set).
  int DoModal(int effect, bool disableParent, bool centre);
  void EndDialog(int result);
  void Close();
  // Clips the corners: 2 pixels off the ends of the outer rows, 1 off the next rows.
  void ApplyRoundCorners();
  // Whether (x, y) lies on a resize border; sets the cursor, and with capture starts the drag.
  bool ResizeHitTest(int x, int y, bool capture);
  // Moves the dragged border to the cursor; release ends the drag.
  bool ApplyResize(bool release);

  int m_nResult = 2;
  CKvDC m_dcBk;     // the background alone
  CKvDC m_dcFrame;  // the last complete frame, children included
  int m_nShowEffect = 0;
  int m_nCaptionHeight = 30;
  bool m_bDragAnywhere = false;
  bool m_bDraggable = true;
  bool m_bRoundCorners = true;
  // Written by animation threads as well as the window's thread.
  std::atomic<bool> m_bClosed{false};
  std::atomic<bool> m_bFrozen{false};
  std::atomic<bool> m_bEffectRunning{false};
  bool m_bTracking = false;
  // The edge a resize drags: the values of m_nResizeEdge. There are no top corners.
  enum ResizeEdge {
    kEdgeNone = -1,
    kEdgeLeft,
    kEdgeTop,
    kEdgeRight,
    kEdgeBottom,
    kEdgeBottomLeft,
    kEdgeBottomRight
  };
  int m_nResizeEdge = kEdgeNone;
  std::vector<CKvBase*> m_vecChildren;  // not owned
  int m_nBkPicId = 0;
  HDC m_hParentBkDC = nullptr;
  int m_nBkEdgeHeight = 30;
  int m_nBkEdgeWidth = 3;
  COLORREF m_crBk = RGB(255, 255, 255);
  int m_nMinWidth = 50;
  int m_nMinHeight = 50;
  bool m_bResizable = false;
  bool m_bLiveResize = false;

 private:
  static unsigned __stdcall ShowEffectThread(void* param);
  // Hands a mouse event to every visible child that takes input, unless frozen.
  void RouteMouse(int x, int y, int type, bool childContext);
  void RouteKey(bool character, WPARAM wParam, LPARAM lParam);
};
