#pragma once
// The window animations as data: every animation is a fixed list of steps computed from the
// dialog's geometry and flags before anything moves. CKvDlg::PlayEffect works through the list.
#include <windows.h>

#include <vector>

namespace kv::ui {

struct EffectStep {
  enum Kind {
    kMove,           // SetWindowPos(x, y, w, h, SWP_SHOWWINDOW)
    kMoveHidden,     // SetWindowPos(x, y, w, h, SWP_HIDEWINDOW)
    kStoreGeometry,  // the dialog's stored x, y, w, h become these
    kSleep,          // value milliseconds
    kAlpha,          // WS_EX_LAYERED on, constant alpha value (0..255)
    kShowWindow,     // ShowWindow(value)
    kRedraw,
    kClose,        // hide, mark closed, send WM_MOUSEMOVE (0, 0)
    kFreeze,       // value 1 sets frozen, 0 clears it
    kCorners,      // apply the corner region
    kAddLayered,   // WS_EX_LAYERED on
    kDropLayered,  // WS_EX_LAYERED off
    kCapture,      // paint the dialog and keep its frame as a picture; failure ends the list
    kFramePlain,   // the picture's src rectangle into (0, 0, w, h) of a plain frame
    kFrame3D,      // the picture mapped onto the three points, in a layered frame
    kRelease,      // let the picture go
  };
  Kind kind;
  int x = 0, y = 0, w = 0, h = 0;
  int value = 0;
  RECT src = {};
  POINT points[3] = {};
};

struct EffectGeometry {
  int x = 0, y = 0, w = 0, h = 0;
  bool roundCorners = false;
  bool childWindow = false;
  bool layered = false;
};

// The animations, by the numbers callers pass to PlayEffect and ShowDlg.
enum Effect {
  kSlideIn,  // from the left, overshooting and settling
  kDropDown,
  kRollUp,          // and close
  kSlideOut,        // to the left; stays shown
  kOpenFromCentre,  // from the centre line
  kCloseToCentre,   // to the centre line, and close
  kFadeIn,
  kFadeOut,  // stays shown
  kZoomIn,   // from the centre, overshooting and settling
  kZoomOut,  // grow while fading, then shrink to the centre
  kFlipIn,
  kFlipAway,  // closes a child window
  kWipeIn,
  kWipeOut,  // and close
  kEffectCount
};

// The steps of an animation; any number outside Effect has none.
std::vector<EffectStep> EffectSteps(int effect, const EffectGeometry& g);

// Told by PlayEffect after each step it has carried out, on the animating thread, with the window
// and the step: lets a test see what the real window was given at every frame. Internal, never
// exported; null (the default) tells no one.
using EffectObserver = void (*)(HWND window, const EffectStep& step);
void SetEffectObserver(EffectObserver observer);

}  // namespace kv::ui
