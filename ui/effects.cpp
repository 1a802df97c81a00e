#include "ui/effects.h"

#include <objidl.h>

#include <algorithm>
#include <atomic>
#include <cmath>

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

}  // namespace

std::vector<EffectStep> EffectSteps(int effect, const EffectGeometry& g) {
  std::vector<EffectStep> out;
  Steps s(out);
  const int x = g.x, y = g.y, w = g.w, h = g.h;
  auto corners = [&] {
    if (g.roundCorners) s.Plain(EffectStep::kCorners);
  };
  auto close = [&] { s.Plain(EffectStep::kClose); };
  switch (effect) {
    case 0: {  // slide in from the left, overshoot by 10 and settle
      const int step = (x + w) / 3;
      int p = -w;
      for (int i = 0; i < 3; ++i) {
        p += step;
        s.Move(p, y, w, h);
        s.Sleep(50);
      }
      for (int i = 0; i < 2; ++i) {
        p -= 5;
        s.Move(p, y, w, h);
        s.Sleep(20);
      }
      for (int i = 0; i < 2; ++i) {
        p += 5;
        s.Move(p, y, w, h);
        s.Sleep(20);
      }
      s.Move(x, y, w, h);
      s.Plain(EffectStep::kRedraw);
      break;
    }
    case 1: {  // drop down
      const int step = h / 5;
      int c = step;
      for (int i = 0; i < 5; ++i, c += step) {
        s.Move(x, y, w, c);
        s.Sleep(50);
      }
      s.Move(x, y, w, h);
      s.Plain(EffectStep::kRedraw);
      break;
    }
    case 2: {  // roll up and close
      const int step = h / 5;
      int d = step;
      for (int i = 0; i < 5; ++i, d += step) {
        s.Move(x, y, w, h - d);
        s.Sleep(50);
      }
      close();
      break;
    }
    case 3: {  // slide out to the left; stays shown
      const int step = (x + w) / 5;
      int p = x;
      for (int i = 0; i < 5; ++i) {
        p -= step;
        s.Move(p, y, w, h);
        s.Sleep(50);
      }
      break;
    }
    case 4: {  // open from the centre line
      s.MoveHidden(x, y, w, h);
      s.Freeze(false);
      s.Plain(EffectStep::kRedraw);
      s.Plain(EffectStep::kCapture);
      const int step = h / 10;
      const int half = step / 2;
      int p = h / 2;
      int c = step;
      for (int i = 0; i < 10; ++i, c += step) {
        p -= half;
        s.Move(x, y + p, w, c);
        const int top = (h - c) / 2;
        s.FramePlain(w, c, RECT{0, top, w, top + c});
        s.Sleep(10);
      }
      s.Plain(EffectStep::kRelease);
      s.Move(x, y, w, h);
      s.Plain(EffectStep::kRedraw);
      break;
    }
    case 5: {  // close to the centre line
      s.Freeze(true);
      const int step = h / 10;
      const int half = step / 2;
      int p = y;
      int d = step;
      for (int i = 0; i < 9; ++i, d += step) {
        p += half;
        s.Move(x, p, w, h - d);
        s.Sleep(15);
      }
      s.Move(x, y + h / 2, w, 1);
      s.Plain(EffectStep::kRedraw);
      s.Sleep(50);
      close();
      break;
    }
    case 6:  // fade in
      s.Alpha(0);
      s.ShowWindow(SW_SHOW);
      for (int i = 1; i <= 10; ++i) {
        s.Alpha(19 * i + 60);
        s.Sleep(30);
      }
      break;
    case 7:  // fade out; stays shown
      for (int i = 1; i <= 20; ++i) {
        s.Alpha(255 - 12 * i);
        s.Sleep(30);
      }
      break;
    case 8: {  // zoom in from the centre, overshoot and settle
      if (w == 0) break;
      s.Freeze(true);
      const int a = w / 3, b = h / 3;
      int p = x + w / 2, q = y + h / 2;
      for (int i = 1; i <= 3; ++i) {
        s.Alpha(50 * i);
        p -= a / 2;
        q -= b / 2;
        s.Move(p, q, i * a, i * b);
        s.Sleep(20);
      }
      const int k = h * 10 / w;
      int sw = w + 60, sh = h + 6 * k;
      int left = x - 30, top = y - 3 * k;
      s.Store(x, y, sw, sh);
      s.Move(left, top, sw, sh);
      corners();
      for (int i = 1; i <= 3; ++i) {
        s.Alpha(33 * i - 106);
        sw -= 20;
        sh -= 2 * k;
        left += 10;
        top += k;
        s.Store(x, y, sw, sh);
        s.Move(left, top, sw, sh);
        s.Sleep(20);
      }
      corners();
      s.Freeze(false);
      s.Plain(EffectStep::kRedraw);
      break;
    }
    case 9: {  // zoom out: grow while fading, then shrink to the centre
      if (w == 0) break;
      s.Freeze(true);
      const int k = h * 10 / w;
      int sx = x, sy = y, sw = w, sh = h;
      for (int i = 1; i <= 3; ++i) {
        s.Alpha(250 - 33 * i);
        sy -= k;
        sw += 20;
        sx -= 10;
        sh += 2 * k;
        s.Store(sx, sy, sw, sh);
        s.Move(sx, sy, sw, sh);
        corners();
        s.Plain(EffectStep::kRedraw);
        s.Sleep(20);
      }
      const int a = sw / 3, b = sh / 3;
      for (int i = 1; i <= 3; ++i) {
        s.Alpha((3 - i) * 50);
        sy += b / 2;
        sx += a / 2;
        s.Store(sx, sy, sw, sh);
        s.Move(sx, sy, sw - i * a, sh - i * b);
        s.Sleep(20);
      }
      break;
    }
    case 10: {  // flip in
      s.Plain(EffectStep::kCapture);
      s.Plain(EffectStep::kAddLayered);
      s.ShowWindow(SW_SHOW);
      // Below 10 pixels the tenth is 0; one pixel a step keeps the loop finite.
      const int step = std::max(w / 10, 1);
      const int r = w / 2;
      for (int t = 0, sx = 2 * r; w >= 0 && t <= w; t += step, sx -= step) {
        s.Frame3D(t, 0, sx, 0, t, h);
        s.Sleep(20);
      }
      s.Plain(EffectStep::kRelease);
      if (!g.layered) s.Plain(EffectStep::kDropLayered);
      s.Plain(EffectStep::kRedraw);
      break;
    }
    case 11: {  // flip away
      s.Plain(EffectStep::kCapture);
      s.Plain(EffectStep::kAddLayered);
      const int step = std::max(w / 10, 1);
      const int r = w / 2;
      int u = -r;
      for (int t = 0, sx = 2 * r; r >= 0 && t <= r; t += step, sx -= step, u += step) {
        const double ratio = r > 0 ? static_cast<double>(u) * u / (static_cast<double>(r) * r) : 1.0;
        const int e = static_cast<int>(15.0 - std::sqrt(std::max(0.0, (1.0 - ratio) * 225.0)));
        s.Frame3D(t, e, sx, 30 - e, t, h + e);
        s.Sleep(20);
      }
      s.Plain(EffectStep::kRelease);
      if (g.childWindow) close();
      break;
    }
    case 12: {  // wipe in
      const int step = w / 10;
      int c = step;
      for (int i = 0; i < 10; ++i, c += step) {
        s.Move(x, y, c, h);
        s.Sleep(20);
      }
      s.Move(x, y, w, h);
      s.Plain(EffectStep::kRedraw);
      break;
    }
    case 13: {  // wipe out
      const int step = w / 10;
      int d = step;
      for (int i = 0; i < 10; ++i, d += step) {
        s.Move(x, y, w - d, h);
        s.Plain(EffectStep::kRedraw);
        s.Sleep(20);
      }
      close();
      break;
    }
    default:
      break;
  }
  return out;
}

void SetEffectObserver(EffectObserver observer) { g_observer = observer; }

}  // namespace kv::ui

namespace {

void AddLayeredStyle(HWND wnd) {
  ::SetWindowLongW(wnd, GWL_EXSTYLE, ::GetWindowLongW(wnd, GWL_EXSTYLE) | WS_EX_LAYERED);
}

void TellObserver(HWND wnd, const kv::ui::EffectStep& step) {
  if (kv::ui::EffectObserver observer = kv::ui::g_observer) observer(wnd, step);
}

}  // namespace

// Runs on whichever thread calls it, often ShowDlg's worker: the window calls below are carried
// to the window's own thread by the system.
void CKvDlg::PlayEffect(int effect) {
  if (m_bEffectRunning.exchange(true)) return;
  using kv::ui::EffectStep;
  kv::ui::EffectGeometry g;
  g.x = m_nX;
  g.y = m_nY;
  g.w = m_nWidth;
  g.h = m_nHeight;
  g.roundCorners = m_bRoundCorners;
  g.childWindow = m_bChild;
  g.layered = m_bLayeredWnd;
  const std::vector<EffectStep> steps = kv::ui::EffectSteps(effect, g);

  kv::ComPtr<IStream> picture;
  auto frame = [&](bool layered, auto&& draw) {
    kv::WindowDC screen(m_hWnd);
    RECT client = {};
    ::GetClientRect(m_hWnd, &client);
    CKvDC mem(screen.get(), client, false, layered, m_hWnd);
    const LARGE_INTEGER start = {};
    picture->Seek(start, STREAM_SEEK_SET, nullptr);
    draw(mem.m_hMemDC);
    mem.Draw();
  };

  for (const EffectStep& s : steps) {
    bool stop = false;
    switch (s.kind) {
      case EffectStep::kMove:
        ::SetWindowPos(m_hWnd, nullptr, s.x, s.y, s.w, s.h, SWP_NOZORDER | SWP_SHOWWINDOW);
        break;
      case EffectStep::kMoveHidden:
        ::SetWindowPos(m_hWnd, nullptr, s.x, s.y, s.w, s.h, SWP_NOZORDER | SWP_HIDEWINDOW);
        break;
      case EffectStep::kStoreGeometry:
        m_nX = s.x;
        m_nY = s.y;
        m_nWidth = s.w;
        m_nHeight = s.h;
        break;
      case EffectStep::kSleep:
        ::Sleep(static_cast<DWORD>(s.value));
        break;
      case EffectStep::kAlpha:
        AddLayeredStyle(m_hWnd);
        ::SetLayeredWindowAttributes(m_hWnd, 0, static_cast<BYTE>(s.value), LWA_ALPHA);
        break;
      case EffectStep::kShowWindow:
        ::ShowWindow(m_hWnd, s.value);
        break;
      case EffectStep::kRedraw:
        Redraw();
        break;
      case EffectStep::kClose:
        ::ShowWindow(m_hWnd, SW_HIDE);
        m_bClosed = true;
        ::SendMessageW(m_hWnd, WM_MOUSEMOVE, 0, 0);
        break;
      case EffectStep::kFreeze:
        m_bFrozen = s.value != 0;
        break;
      case EffectStep::kCorners:
        ApplyRoundCorners();
        break;
      case EffectStep::kAddLayered:
        AddLayeredStyle(m_hWnd);
        break;
      case EffectStep::kDropLayered:
        ::SetWindowLongW(m_hWnd, GWL_EXSTYLE,
                         ::GetWindowLongW(m_hWnd, GWL_EXSTYLE) & ~WS_EX_LAYERED);
        break;
      case EffectStep::kCapture: {
        {
          kv::WindowDC screen(m_hWnd);
          Paint(screen.get());
        }
        picture = kv::gfx::StreamOfCopy(nullptr, 0);
        if (!picture) {
          stop = true;
          break;
        }
        GetKvImage()->BmToStream(m_dcFrame.m_hBitmap, picture.get(), kv::ui::kBmpFormat);
        break;
      }
      case EffectStep::kFramePlain:
        frame(false, [&](HDC dc) {
          RECT src = s.src;
          GetKvImage()->DrawImg(dc, picture.get(), 0, 0, s.w, s.h, &src);
        });
        break;
      case EffectStep::kFrame3D:
        frame(true, [&](HDC dc) {
          GetKvImage()->DrawRotate3D(dc, picture.get(), s.points[0].x, s.points[0].y,
                                     s.points[1].x, s.points[1].y, s.points[2].x, s.points[2].y);
        });
        break;
      case EffectStep::kRelease:
        picture.reset();
        break;
    }
    if (stop) break;
    TellObserver(m_hWnd, s);
  }

  m_bEffectRunning = false;
  ::PostMessageW(m_hWnd, kv::ui::WM_KV_EFFECTDONE, 0, 0);
}
