#include "ui/effects.h"

#include <objidl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>

#include "gfx/image.h"
#include "gfx/resource_utils.h"
#include "ui/dialog.h"
#include "ui/memory_dc.h"
#include "ui/ui_texts.h"
#include "util/handles.h"

namespace kv::ui {

namespace {

// Set by a test's thread, read by whichever thread animates.
std::atomic<EffectObserver> g_observer{nullptr};

class Steps {
 public:
  explicit Steps(std::vector<EffectStep>& out) : out_(out) {}
  void Move(int x, int y, int w, int h) { Geo(EffectStep::kMove, x, y, w, h); }
  void MoveHidden(int x, int y, int w, int h) { Geo(EffectStep::kMoveHidden, x, y, w, h); }
  void Store(int x, int y, int w, int h) { Geo(EffectStep::kStoreGeometry, x, y, w, h); }
  void Sleep(int ms) { Value(EffectStep::kSleep, ms); }
  // Values outside a byte wrap round, as the animations' formulas expect.
  void Alpha(int a) { Value(EffectStep::kAlpha, static_cast<BYTE>(a)); }
  void ShowWindow(int cmd) { Value(EffectStep::kShowWindow, cmd); }
  void Freeze(bool on) { Value(EffectStep::kFreeze, on ? 1 : 0); }
  void Plain(EffectStep::Kind kind) { out_.push_back(EffectStep{kind}); }
  void Corners(const EffectGeometry& g) {
    if (g.roundCorners) Plain(EffectStep::kCorners);
  }
  void FramePlain(int w, int h, RECT src) {
    EffectStep s{EffectStep::kFramePlain};
    s.w = w;
    s.h = h;
    s.src = src;
    out_.push_back(s);
  }
  void Frame3D(int x1, int y1, int x2, int y2, int x3, int y3) {
    EffectStep s{EffectStep::kFrame3D};
    s.points[0] = {x1, y1};
    s.points[1] = {x2, y2};
    s.points[2] = {x3, y3};
    out_.push_back(s);
  }

 private:
  void Geo(EffectStep::Kind kind, int x, int y, int w, int h) {
    EffectStep s{kind};
    s.x = x;
    s.y = y;
    s.w = w;
    s.h = h;
    out_.push_back(s);
  }
  void Value(EffectStep::Kind kind, int value) {
    EffectStep s{kind};
    s.value = value;
    out_.push_back(s);
  }
  std::vector<EffectStep>& out_;
};

// Pauses between frames, in milliseconds.
constexpr int kSlidePause = 50;   // slides, drops and roll-ups
constexpr int kSettlePause = 20;  // the overshoot of a slide settling
constexpr int kOpenPause = 10;    // opening from the centre line
constexpr int kClosePause = 15;   // closing to the centre line
constexpr int kLinePause = 50;    // the last line shown before the close
constexpr int kFadePause = 30;
constexpr int kZoomPause = 20;
constexpr int kFlipPause = 20;
constexpr int kWipePause = 20;

// n moves along one side (the height, or with wide the width): growing from one n-th of it to
// the whole, or shrinking from the whole by an n-th at a time; a pause after each.
void AlongOneSide(Steps& s, const EffectGeometry& g, bool wide, bool grow, int n, int pause,
                  bool redraw = false) {
  const int full = wide ? g.w : g.h, step = full / n;
  for (int i = 1; i <= n; ++i) {
    const int side = grow ? i * step : full - i * step;
    s.Move(g.x, g.y, wide ? side : g.w, wide ? g.h : side);
    if (redraw) s.Plain(EffectStep::kRedraw);
    s.Sleep(pause);
  }
}

void Settle(Steps& s, const EffectGeometry& g) {  // at its place and size, drawn
  s.Move(g.x, g.y, g.w, g.h);
  s.Plain(EffectStep::kRedraw);
}

void SlideIn(Steps& s, const EffectGeometry& g) {  // from the left, overshoot by 10 and settle
  const int step = (g.x + g.w) / 3;
  int p = -g.w;
  for (int i = 0; i < 3; ++i) {
    p += step;
    s.Move(p, g.y, g.w, g.h);
    s.Sleep(kSlidePause);
  }
  for (const int shift : {-5, -5, 5, 5}) {
    p += shift;
    s.Move(p, g.y, g.w, g.h);
    s.Sleep(kSettlePause);
  }
  Settle(s, g);
}

void DropDown(Steps& s, const EffectGeometry& g) {
  AlongOneSide(s, g, false, true, 5, kSlidePause);
  Settle(s, g);
}

void RollUp(Steps& s, const EffectGeometry& g) {  // and close
  AlongOneSide(s, g, false, false, 5, kSlidePause);
  s.Plain(EffectStep::kClose);
}

void SlideOut(Steps& s, const EffectGeometry& g) {  // to the left; stays shown
  const int step = (g.x + g.w) / 5;
  for (int i = 1, p = g.x - step; i <= 5; ++i, p -= step) {
    s.Move(p, g.y, g.w, g.h);
    s.Sleep(kSlidePause);
  }
}

void OpenFromCentre(Steps& s, const EffectGeometry& g) {
  s.MoveHidden(g.x, g.y, g.w, g.h);
  s.Freeze(false);
  s.Plain(EffectStep::kRedraw);
  s.Plain(EffectStep::kCapture);
  const int step = g.h / 10;
  const int half = step / 2;
  int p = g.h / 2;
  for (int i = 1, c = step; i <= 10; ++i, c += step) {
    p -= half;
    s.Move(g.x, g.y + p, g.w, c);
    const int top = (g.h - c) / 2;
    s.FramePlain(g.w, c, RECT{0, top, g.w, top + c});
    s.Sleep(kOpenPause);
  }
  s.Plain(EffectStep::kRelease);
  Settle(s, g);
}

void CloseToCentre(Steps& s, const EffectGeometry& g) {
  s.Freeze(true);
  const int step = g.h / 10;
  const int half = step / 2;
  int p = g.y;
  for (int i = 1, d = step; i <= 9; ++i, d += step) {
    p += half;
    s.Move(g.x, p, g.w, g.h - d);
    s.Sleep(kClosePause);
  }
  s.Move(g.x, g.y + g.h / 2, g.w, 1);
  s.Plain(EffectStep::kRedraw);
  s.Sleep(kLinePause);
  s.Plain(EffectStep::kClose);
}

void FadeIn(Steps& s, const EffectGeometry&) {
  s.Alpha(0);
  s.ShowWindow(SW_SHOW);
  for (int i = 1; i <= 10; ++i) {
    s.Alpha(19 * i + 60);
    s.Sleep(kFadePause);
  }
}

void FadeOut(Steps& s, const EffectGeometry&) {  // stays shown
  for (int i = 1; i <= 20; ++i) {
    s.Alpha(255 - 12 * i);
    s.Sleep(kFadePause);
  }
}

void ZoomIn(Steps& s, const EffectGeometry& g) {  // from the centre, overshoot and settle
  if (g.w == 0) return;
  s.Freeze(true);
  const int a = g.w / 3, b = g.h / 3;
  int p = g.x + g.w / 2, q = g.y + g.h / 2;
  for (int i = 1; i <= 3; ++i) {
    s.Alpha(50 * i);
    p -= a / 2;
    q -= b / 2;
    s.Move(p, q, i * a, i * b);
    s.Sleep(kZoomPause);
  }
  const int k = g.h * 10 / g.w;
  int sw = g.w + 60, sh = g.h + 6 * k;
  int left = g.x - 30, top = g.y - 3 * k;
  s.Store(g.x, g.y, sw, sh);
  s.Move(left, top, sw, sh);
  s.Corners(g);
  for (int i = 1; i <= 3; ++i) {
    s.Alpha(33 * i - 106);
    sw -= 20;
    sh -= 2 * k;
    left += 10;
    top += k;
    s.Store(g.x, g.y, sw, sh);
    s.Move(left, top, sw, sh);
    s.Sleep(kZoomPause);
  }
  s.Corners(g);
  s.Freeze(false);
  s.Plain(EffectStep::kRedraw);
}

void ZoomOut(Steps& s, const EffectGeometry& g) {  // grow while fading, then shrink to the centre
  if (g.w == 0) return;
  s.Freeze(true);
  const int k = g.h * 10 / g.w;
  int sx = g.x, sy = g.y, sw = g.w, sh = g.h;
  for (int i = 1; i <= 3; ++i) {
    s.Alpha(250 - 33 * i);
    sy -= k;
    sw += 20;
    sx -= 10;
    sh += 2 * k;
    s.Store(sx, sy, sw, sh);
    s.Move(sx, sy, sw, sh);
    s.Corners(g);
    s.Plain(EffectStep::kRedraw);
    s.Sleep(kZoomPause);
  }
  const int a = sw / 3, b = sh / 3;
  for (int i = 1; i <= 3; ++i) {
    s.Alpha((3 - i) * 50);
    sy += b / 2;
    sx += a / 2;
    s.Store(sx, sy, sw, sh);
    s.Move(sx, sy, sw - i * a, sh - i * b);
    s.Sleep(kZoomPause);
  }
}

// Below 10 pixels a tenth of the width is 0; one pixel a step keeps the flips finite.
int FlipStep(const EffectGeometry& g) { return std::max(g.w / 10, 1); }

void FlipIn(Steps& s, const EffectGeometry& g) {
  s.Plain(EffectStep::kCapture);
  s.Plain(EffectStep::kAddLayered);
  s.ShowWindow(SW_SHOW);
  const int step = FlipStep(g);
  for (int t = 0, sx = 2 * (g.w / 2); g.w >= 0 && t <= g.w; t += step, sx -= step) {
    s.Frame3D(t, 0, sx, 0, t, g.h);
    s.Sleep(kFlipPause);
  }
  s.Plain(EffectStep::kRelease);
  if (!g.layered) s.Plain(EffectStep::kDropLayered);
  s.Plain(EffectStep::kRedraw);
}

void FlipAway(Steps& s, const EffectGeometry& g) {
  s.Plain(EffectStep::kCapture);
  s.Plain(EffectStep::kAddLayered);
  const int step = FlipStep(g);
  const int r = g.w / 2;
  for (int t = 0, sx = 2 * r, u = -r; r >= 0 && t <= r; t += step, sx -= step, u += step) {
    const double ratio = r > 0 ? static_cast<double>(u) * u / (static_cast<double>(r) * r) : 1.0;
    const int e = static_cast<int>(15.0 - std::sqrt(std::max(0.0, (1.0 - ratio) * 225.0)));
    s.Frame3D(t, e, sx, 30 - e, t, g.h + e);
    s.Sleep(kFlipPause);
  }
  s.Plain(EffectStep::kRelease);
  if (g.childWindow) s.Plain(EffectStep::kClose);
}

void WipeIn(Steps& s, const EffectGeometry& g) {
  AlongOneSide(s, g, true, true, 10, kWipePause);
  Settle(s, g);
}

void WipeOut(Steps& s, const EffectGeometry& g) {  // and close
  AlongOneSide(s, g, true, false, 10, kWipePause, true);
  s.Plain(EffectStep::kClose);
}

// Indexed by Effect, the numbers callers pass.
constexpr void (*kBuilders[])(Steps&, const EffectGeometry&) = {
    SlideIn, DropDown, RollUp,  SlideOut, OpenFromCentre, CloseToCentre, FadeIn,
    FadeOut, ZoomIn,   ZoomOut, FlipIn,   FlipAway,       WipeIn,        WipeOut};
static_assert(std::size(kBuilders) == kEffectCount, "one builder per effect");

}  // namespace

std::vector<EffectStep> EffectSteps(int effect, const EffectGeometry& g) {
  std::vector<EffectStep> out;
  if (effect >= 0 && effect < kEffectCount) {
    Steps s(out);
    kBuilders[effect](s, g);
  }
  return out;
}

void SetEffectObserver(EffectObserver observer) { g_observer = observer; }

}  // namespace kv::ui

namespace {

using kv::ui::EffectStep;

void SetLayeredStyle(HWND wnd, bool on) {
  const LONG style = ::GetWindowLongW(wnd, GWL_EXSTYLE);
  ::SetWindowLongW(wnd, GWL_EXSTYLE, on ? style | WS_EX_LAYERED : style & ~WS_EX_LAYERED);
}

// Carries out a step that touches the window alone; false for the others.
bool RunWindowStep(HWND wnd, const EffectStep& s) {
  switch (s.kind) {
    case EffectStep::kMove:
      ::SetWindowPos(wnd, nullptr, s.x, s.y, s.w, s.h, SWP_NOZORDER | SWP_SHOWWINDOW);
      return true;
    case EffectStep::kMoveHidden:
      ::SetWindowPos(wnd, nullptr, s.x, s.y, s.w, s.h, SWP_NOZORDER | SWP_HIDEWINDOW);
      return true;
    case EffectStep::kSleep:
      ::Sleep(static_cast<DWORD>(s.value));
      return true;
    case EffectStep::kAlpha:
      SetLayeredStyle(wnd, true);
      ::SetLayeredWindowAttributes(wnd, 0, static_cast<BYTE>(s.value), LWA_ALPHA);
      return true;
    case EffectStep::kShowWindow:
      ::ShowWindow(wnd, s.value);
      return true;
    case EffectStep::kAddLayered:
    case EffectStep::kDropLayered:
      SetLayeredStyle(wnd, s.kind == EffectStep::kAddLayered);
      return true;
    default:
      return false;
  }
}

// One frame drawn from the captured picture into a frame of the window's size.
template <class Draw>
void ShowFrame(HWND wnd, IStream* picture, bool layered, Draw&& draw) {
  kv::WindowDC screen(wnd);
  RECT client = {};
  ::GetClientRect(wnd, &client);
  CKvDC mem(screen.get(), client, false, layered, wnd);
  const LARGE_INTEGER start = {};
  picture->Seek(start, STREAM_SEEK_SET, nullptr);
  draw(mem.m_hMemDC);
  mem.Draw();
}

// Carries out a step that changes the dialog or draws its captured picture; false ends the
// animation (the picture could not be kept).
bool RunDialogStep(CKvDlg& dlg, const EffectStep& s, kv::ComPtr<IStream>& picture) {
  switch (s.kind) {
    case EffectStep::kStoreGeometry:
      dlg.m_nX = s.x;
      dlg.m_nY = s.y;
      dlg.m_nWidth = s.w;
      dlg.m_nHeight = s.h;
      break;
    case EffectStep::kRedraw:
      dlg.Redraw();
      break;
    case EffectStep::kClose:
      ::ShowWindow(dlg.m_hWnd, SW_HIDE);
      dlg.m_bClosed = true;
      ::SendMessageW(dlg.m_hWnd, WM_MOUSEMOVE, 0, 0);
      break;
    case EffectStep::kFreeze:
      dlg.m_bFrozen = s.value != 0;
      break;
    case EffectStep::kCorners:
      dlg.ApplyRoundCorners();
      break;
    case EffectStep::kCapture: {
      {
        kv::WindowDC screen(dlg.m_hWnd);
        dlg.Paint(screen.get());
      }
      picture = kv::gfx::StreamOfCopy(nullptr, 0);
      if (!picture) return false;
      GetKvImage()->BmToStream(dlg.m_dcFrame.m_hBitmap, picture.get(), kv::ui::kBmpFormat);
      break;
    }
    case EffectStep::kFramePlain:
      ShowFrame(dlg.m_hWnd, picture.get(), false, [&](HDC dc) {
        RECT src = s.src;
        GetKvImage()->DrawImg(dc, picture.get(), 0, 0, s.w, s.h, &src);
      });
      break;
    case EffectStep::kFrame3D:
      ShowFrame(dlg.m_hWnd, picture.get(), true, [&](HDC dc) {
        const POINT* p = s.points;
        GetKvImage()->DrawRotate3D(dc, picture.get(), p[0].x, p[0].y, p[1].x, p[1].y, p[2].x,
                                   p[2].y);
      });
      break;
    case EffectStep::kRelease:
      picture.reset();
      break;
    default:
      break;
  }
  return true;
}

}  // namespace

// Runs on whichever thread calls it, often ShowDlg's worker: the window calls below are carried
// to the window's own thread by the system.
void CKvDlg::PlayEffect(int effect) {
  if (m_bEffectRunning.exchange(true)) return;
  kv::ui::EffectGeometry g;
  g.x = m_nX;
  g.y = m_nY;
  g.w = m_nWidth;
  g.h = m_nHeight;
  g.roundCorners = m_bRoundCorners;
  g.childWindow = m_bChild;
  g.layered = m_bLayeredWnd;
  kv::ComPtr<IStream> picture;
  for (const EffectStep& step : kv::ui::EffectSteps(effect, g)) {
    if (!RunWindowStep(m_hWnd, step) && !RunDialogStep(*this, step, picture)) break;
    if (const kv::ui::EffectObserver observer = kv::ui::g_observer) observer(m_hWnd, step);
  }
  m_bEffectRunning = false;
  ::PostMessageW(m_hWnd, kv::ui::WM_KV_EFFECTDONE, 0, 0);
}
