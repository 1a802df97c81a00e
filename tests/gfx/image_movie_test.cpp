// Picture animations played into a real window. A sampler reads the window's pixels far more
// often than frames change and records the sequence of distinct frames it saw; each frame is
// recognised against reference frames drawn with the same CKvImage operation the animation uses.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gfx/image.h"
#include "tests/gfx/pixels.h"
#include "tests/support/test_support.h"

namespace {

using kvtest::Dib;
using Refs = std::vector<std::unique_ptr<Dib>>;

constexpr int kW = 60, kH = 60;    // the animation's area
constexpr int kX = 20, kY = 10;    // its place in the window's client area
constexpr DWORD kSettleMs = 3000;  // generous: the machine is shared
constexpr uint32_t kStripColours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};

CKvImage* Image() { return GetKvImage(); }

LRESULT CALLBACK QuietProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_ERASEBKGND) return 1;  // never paint over the frames
  if (msg == WM_PAINT) return ::ValidateRect(wnd, nullptr), 0;
  return ::DefWindowProcW(wnd, msg, wp, lp);
}

// A visible window that shows the animation and never paints on its own.
class Stage {
 public:
  Stage() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = QuietProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"kvMovieStage";
    ::RegisterClassW(&wc);
    wnd_ = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE,
                             700, 500, 120, 90, nullptr, nullptr, wc.hInstance, nullptr);
    Pump();
    kv::UniqueBrush magenta(::CreateSolidBrush(RGB(255, 0, 255)));  // a colour no frame has
    RECT all = {0, 0, 120, 90};
    ::FillRect(kv::WindowDC(wnd_).get(), &all, magenta.get());
    ::GdiFlush();
  }
  ~Stage() { ::DestroyWindow(wnd_); }
  HWND wnd() const { return wnd_; }
  void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
  void Capture(Dib& into) {  // the animation's area as the window shows it now
    kv::WindowDC dc(wnd_);
    ::BitBlt(into.dc(), 0, 0, kW, kH, dc.get(), kX, kY, SRCCOPY);
  }
 private:
  HWND wnd_ = nullptr;
};

// Distance between two captures over the colour channels (the window's alpha means nothing).
long Distance(const Dib& a, const Dib& b) {
  ::GdiFlush();
  long sum = 0;
  for (int i = 0; i < kW * kH; ++i)
    for (int shift = 0; shift < 24; shift += 8)
      sum += std::abs(kvtest::Channel(a.bits()[i], shift) - kvtest::Channel(b.bits()[i], shift));
  return sum;
}

// Watches the window for ms milliseconds and returns the sequence of reference frames it showed,
// each run of equal frames counted once. Captures that match no reference (a frame caught while
// being copied) are left out.
std::vector<int> Watch(Stage& stage, const Refs& references, DWORD ms) {
  std::vector<int> seen;
  Dib capture(kW, kH);
  for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < ms; ::Sleep(5)) {
    stage.Capture(capture);
    int best = -1;
    long best_distance = kW * kH * 3 * 3;  // about 3 levels per channel on average
    for (size_t i = 0; i < references.size(); ++i)
      if (const long d = Distance(capture, *references[i]); d < best_distance) best_distance = d, best = static_cast<int>(i);
    if (best >= 0 && (seen.empty() || seen.back() != best)) seen.push_back(best);
    stage.Pump();
  }
  return seen;
}

// Every step goes to the next frame, cyclically; at least min_steps of them.
void ExpectCycle(const std::vector<int>& seen, int frames, size_t min_steps) {
  ASSERT_GE(seen.size(), min_steps + 1) << testing::PrintToString(seen);
  for (size_t i = 1; i < seen.size(); ++i)
    ASSERT_EQ((seen[i - 1] + 1) % frames, seen[i]) << "step " << i << " of " << testing::PrintToString(seen);
}

int ThreadCount() {
  kv::UniqueHandleKernel snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int n = 0;
  for (BOOL ok = ::Thread32First(snapshot.get(), &entry); ok; ok = ::Thread32Next(snapshot.get(), &entry))
    n += entry.th32OwnerProcessID == ::GetCurrentProcessId();
  return n;
}

bool WaitFor(const std::function<bool()>& done, DWORD ms = kSettleMs) {
  for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < ms; ::Sleep(20))
    if (done()) return true;
  return done();
}
bool WaitForThreads(int count, DWORD ms = kSettleMs) { return WaitFor([&] { return ThreadCount() == count; }, ms); }
bool WaitForStop(int id) { return WaitFor([&] { return Image()->isStop(id); }); }

std::wstring Picture(const wchar_t* name, int w, int h, uint32_t (*colour)(int, int)) {
  return kvtest::CachedPicture(L"image_movie", name, w, h, colour);
}
// Four 50-pixel frames, each one solid colour.
std::wstring Strip() { return Picture(L"strip.png", 200, 60, [](int x, int) { return kStripColours[x / 50]; }); }
// No turn or mirror maps it onto itself: a bar along the top and a block at the left.
std::wstring Arrow() {
  return Picture(L"arrow.png", 40, 40, [](int x, int y) -> uint32_t {
    return y < 8 ? 0xFFFF0000 : x < 10 && y < 30 ? 0xFF00FF00 : 0;
  });
}
std::wstring White() { return Picture(L"white.png", 30, 30, [](int, int) { return 0xFFFFFFFFu; }); }

// A background device context of the window's size, one solid colour.
std::unique_ptr<Dib> Background(uint32_t rgb) {
  auto dib = std::make_unique<Dib>(200, 200);
  dib->Fill(rgb);
  return dib;
}

// n reference frames: frame i drawn by draw(dc, i) over the background at the animation's place.
Refs References(const Dib* background, int n, const std::function<void(HDC, int)>& draw) {
  Refs refs;
  for (int i = 0; i < n; ++i) {
    refs.push_back(std::make_unique<Dib>(kW, kH));
    if (background) ::BitBlt(refs.back()->dc(), 0, 0, kW, kH, background->dc(), kX, kY, SRCCOPY);
    draw(refs.back()->dc(), i);
  }
  return refs;
}

Refs Fades(const Dib* background, std::vector<float> levels) {
  return References(background, static_cast<int>(levels.size()), [&](HDC dc, int i) {
    Image()->DrawImgEx(dc, White().c_str(), 1, 1, 1, levels[i], 0, 0, kW, kH);
  });
}

Refs StripFrames() {
  return References(nullptr, 4, [](HDC dc, int n) { Image()->DrawStretchImg(dc, Strip().c_str(), 0, 0, 0, 0, 0, 4, n, 0); });
}

// Adds an animation into the stage's window and starts it.
bool Play(const Stage& stage, const std::wstring& path, int frames, int ms, int id, int mode, const Dib* bg) {
  const bool added = Image()->AddMovie(stage.wnd(), path.c_str(), kX, kY, frames, ms, id, mode, kW, kH, bg ? bg->dc() : nullptr);
  Image()->StartMovie(id);
  return added;
}

TEST(MovieRecords, AddIsOncePerIdAndStartsStopped) {
  EXPECT_FALSE(Image()->isStop(1001));  // unknown
  EXPECT_EQ(-1, Image()->GetMovieIndex(1001));
  ASSERT_TRUE(Image()->AddMovie(nullptr, Strip().c_str(), 0, 0, 4, 50, 1001, 0, 10, 10, nullptr));
  const int index = Image()->GetMovieIndex(1001);
  ASSERT_GE(index, 0);
  EXPECT_TRUE(Image()->isStop(1001));
  // A second add with the same id changes nothing and adds nothing.
  EXPECT_TRUE(Image()->AddMovie(nullptr, 60052, L"IMG", 5, 5, 9, 10, 1001, 3, 20, 20, nullptr));
  EXPECT_EQ(index, Image()->GetMovieIndex(1001));
  ASSERT_TRUE(Image()->AddMovie(nullptr, 60052, L"IMG", 0, 0, 2, 50, 1002, 3, 10, 10, nullptr));
  EXPECT_EQ(index + 1, Image()->GetMovieIndex(1002));
  Image()->StopMovie(999999);  // unknown ids are ignored
  Image()->StartMovie(999999);
  EXPECT_FALSE(Image()->isStop(999999));
}

TEST(MovieRecords, RoomForAHundredAndNoMore) {
  CKvImage image;  // a list of its own
  for (int id = 0; id < 100; ++id)
    ASSERT_TRUE(image.AddMovie(nullptr, L"none.png", 0, 0, 1, 50, id, 0, 1, 1, nullptr)) << id;
  // Records never move while threads may hold them, so the list does not grow past its room.
  EXPECT_FALSE(image.AddMovie(nullptr, L"none.png", 0, 0, 1, 50, 100, 0, 1, 1, nullptr));
  EXPECT_EQ(-1, image.GetMovieIndex(100));
  EXPECT_FALSE(image.isStop(100));
  EXPECT_TRUE(image.AddMovie(nullptr, L"none.png", 0, 0, 1, 50, 42, 0, 1, 1, nullptr));  // existing id
  EXPECT_EQ(99, image.GetMovieIndex(99));
}

TEST(MoviePlayback, StripShowsItsFramesInTurnOnOneThread) {
  Stage stage;
  const Refs refs = StripFrames();
  const int threads = ThreadCount();
  ASSERT_TRUE(Play(stage, Strip(), 4, 150, 2001, 0, nullptr));
  EXPECT_FALSE(Image()->isStop(2001));
  ASSERT_TRUE(WaitForThreads(threads + 1));
  Image()->StartMovie(2001);  // starting a running animation starts no second thread
  ::Sleep(300);
  EXPECT_EQ(threads + 1, ThreadCount());
  ExpectCycle(Watch(stage, refs, 2000), 4, 6);
  Image()->StopMovie(2001);
  EXPECT_TRUE(Image()->isStop(2001));
  EXPECT_TRUE(WaitForThreads(threads));
  Dib before(kW, kH), after(kW, kH);  // stopped: the window keeps its last frame
  stage.Capture(before);
  ::Sleep(400);
  stage.Capture(after);
  EXPECT_EQ(0, Distance(before, after));
  // Stopped and started while the old thread is still in its pause: it must not carry on too.
  ASSERT_TRUE(Play(stage, Strip(), 4, 250, 2051, 0, nullptr));
  ASSERT_TRUE(WaitForThreads(threads + 1));
  ::Sleep(100);
  Image()->StopMovie(2051);
  Image()->StartMovie(2051);
  EXPECT_FALSE(Image()->isStop(2051));
  ::Sleep(600);  // past the old thread's pause
  EXPECT_EQ(threads + 1, ThreadCount());
  ExpectCycle(Watch(stage, refs, 2200), 4, 5);  // two interleaved threads would break the cycle
  Image()->StopMovie(2051);
  EXPECT_TRUE(WaitForThreads(threads));
}

TEST(MoviePlayback, SpinAndRotateFlipCycle) {
  // Spin: 360 / 7 in integers is 51: 0, 51, ... 306, then 0 again. Rotate-flip: the turn numbers.
  const struct {
    int mode, frames, interval;
    size_t steps;
    uint32_t background;
    std::function<void(HDC, int)> draw;
  } cases[] = {
      {2, 7, 120, 9, 0xFF808080, [](HDC dc, int n) { Image()->DrawRotate(dc, Arrow().c_str(), 51 * n, 0, 0, 0, 0); }},
      {1, 8, 100, 10, 0xFF404040, [](HDC dc, int n) {
         Image()->DrawRotateFlip(dc, Arrow().c_str(), 0, 0, 0, 0, static_cast<Gdiplus::RotateFlipType>(n), 1.0f);
       }}};
  for (const auto& c : cases) {
    Stage stage;
    const auto gray = Background(c.background);
    const Refs refs = References(gray.get(), c.frames, c.draw);
    const int id = 2100 + c.mode;
    ASSERT_TRUE(Play(stage, Arrow(), c.frames, c.interval, id, c.mode, gray.get()));
    const std::vector<int> seen = Watch(stage, refs, 2500);
    Image()->StopMovie(id);
    ExpectCycle(seen, c.frames, c.steps);
    EXPECT_TRUE(WaitForStop(id)) << c.mode;
  }
}

TEST(MoviePlayback, FadesEndOnTheirLastFrame) {
  Stage stage;
  const auto black = Background(0xFF000000);
  const Refs in = Fades(black.get(), {0.0f, 0.25f, 0.5f, 0.75f, 1.0f});
  const int threads = ThreadCount();
  ASSERT_TRUE(Play(stage, White(), 5, 200, 2301, 3, black.get()));
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), Watch(stage, in, 1800));
  // Ended, not stopped: the thread is gone but a start does nothing until it has been stopped.
  EXPECT_TRUE(WaitForThreads(threads));
  EXPECT_FALSE(Image()->isStop(2301));
  Image()->StartMovie(2301);
  EXPECT_EQ((std::vector<int>{4}), Watch(stage, in, 500));
  Image()->StopMovie(2301);
  EXPECT_TRUE(Image()->isStop(2301));
  Image()->StartMovie(2301);  // from the last frame still on show back to 0, then up again
  EXPECT_EQ((std::vector<int>{4, 0, 1, 2, 3, 4}), Watch(stage, in, 1800));
  Stage out_stage;
  const Refs out = Fades(black.get(), {1.0f, 0.75f, 0.5f, 0.25f, 0.0f});
  ASSERT_TRUE(Play(out_stage, White(), 5, 200, 2401, 4, black.get()));
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), Watch(out_stage, out, 1800));
  EXPECT_FALSE(Image()->isStop(2401));
  // In single precision 1 / 48 * 48 is not exactly 1; whatever the arithmetic, the fade must end.
  Stage many;
  ASSERT_TRUE(WaitForThreads(threads));
  ASSERT_TRUE(Play(many, White(), 49, 10, 2501, 3, black.get()));
  EXPECT_TRUE(WaitForThreads(threads + 1, 1000) || ThreadCount() == threads);
  EXPECT_TRUE(WaitForThreads(threads));
  EXPECT_EQ((std::vector<int>{0}), Watch(many, Fades(black.get(), {1.0f}), 200));
}

TEST(MoviePlayback, WithoutBackgroundFramesBuildOnEachOther) {
  // The memory picture keeps the previous frame, so a fade in of white over the first (black) frame
  // accumulates: 0, 64, 159, 231, 255, and never shows the 128 of a fresh start (the last reference).
  Stage stage;
  const Refs refs = References(nullptr, 6, [](HDC dc, int i) {
    const int level = std::array{0, 64, 159, 231, 255, 128}[i];
    kv::UniqueBrush brush(::CreateSolidBrush(RGB(level, level, level)));
    RECT all = {0, 0, kW, kH};
    ::FillRect(dc, &all, brush.get());
  });
  ASSERT_TRUE(Play(stage, White(), 5, 200, 2601, 3, nullptr));
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), Watch(stage, refs, 1800));
}

TEST(MoviePlayback, ResourcePicture) {
  Stage stage;
  const auto black = Background(0xFF000000);
  const Refs refs = References(black.get(), 2, [](HDC dc, int i) {
    Image()->DrawImgEx(dc, 60052, L"IMG", 1, 1, 1, static_cast<float>(i), 0, 0, kW, kH);
  });
  ASSERT_NE(0, Distance(*refs[0], *refs[1]));
  ASSERT_TRUE(Image()->AddMovie(stage.wnd(), 60052, L"IMG", kX, kY, 2, 300, 2701, 3, kW, kH, black->dc()));
  Image()->StartMovie(2701);
  EXPECT_EQ((std::vector<int>{0, 1}), Watch(stage, refs, 1200));
}

TEST(MoviePlayback, DestroyedWindowEndsTheAnimation) {
  const int threads = ThreadCount();
  {
    Stage stage;
    ASSERT_TRUE(Play(stage, Strip(), 0, 50, 2801, 0, nullptr));  // a frame count of 0 plays as one frame
    ASSERT_TRUE(WaitForThreads(threads + 1));
    ::Sleep(200);
    EXPECT_FALSE(Image()->isStop(2801));
  }
  EXPECT_TRUE(WaitForStop(2801));
  EXPECT_TRUE(WaitForThreads(threads));
  Image()->StartMovie(2801);  // stopped, so it may start again; on its gone window it ends at once
  EXPECT_TRUE(WaitForStop(2801));
}

}  // namespace
