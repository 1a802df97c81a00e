// Picture animations played into a real window. A sampler reads the window's pixels far more
// often than frames change and records the sequence of distinct frames it saw; each frame is
// recognised against reference frames drawn with the same CKvImage operation the animation uses.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "gfx/image.h"
#include "tests/gfx/pixels.h"
#include "tests/support/test_support.h"

namespace {

using kvtest::Dib;

constexpr int kW = 60, kH = 60;      // the animation's area
constexpr int kX = 20, kY = 10;      // its place in the window's client area
constexpr DWORD kSettleMs = 3000;    // generous: the machine is shared

LRESULT CALLBACK QuietProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_ERASEBKGND) return 1;  // never paint over the frames
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    ::BeginPaint(wnd, &ps);
    ::EndPaint(wnd, &ps);
    return 0;
  }
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
    // Start from a colour no frame has, so that what the window showed before is no frame.
    kv::WindowDC dc(wnd_);
    kv::UniqueBrush magenta(::CreateSolidBrush(RGB(255, 0, 255)));
    RECT all = {0, 0, 120, 90};
    ::FillRect(dc.get(), &all, magenta.get());
    ::GdiFlush();
  }
  ~Stage() {
    if (::IsWindow(wnd_)) ::DestroyWindow(wnd_);
  }
  HWND wnd() const { return wnd_; }
  void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
  // The animation's area as the window shows it now.
  void Capture(Dib& into) {
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
std::vector<int> Watch(Stage& stage, const std::vector<std::unique_ptr<Dib>>& references, DWORD ms) {
  std::vector<int> seen;
  Dib capture(kW, kH);
  const long match_limit = kW * kH * 3 * 3;  // about 3 levels per channel on average
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < ms) {
    stage.Capture(capture);
    int best = -1;
    long best_distance = match_limit;
    for (size_t i = 0; i < references.size(); ++i) {
      const long d = Distance(capture, *references[i]);
      if (d < best_distance) {
        best_distance = d;
        best = static_cast<int>(i);
      }
    }
    if (best >= 0 && (seen.empty() || seen.back() != best)) seen.push_back(best);
    stage.Pump();
    ::Sleep(5);
  }
  return seen;
}

std::string Show(const std::vector<int>& seq) {
  std::string s;
  for (int v : seq) s += std::to_string(v) + " ";
  return s;
}

// Every step goes to the next frame, cyclically; at least min_steps of them.
void ExpectCycle(const std::vector<int>& seen, int frames, size_t min_steps) {
  ASSERT_GE(seen.size(), min_steps + 1) << Show(seen);
  for (size_t i = 1; i < seen.size(); ++i)
    ASSERT_EQ((seen[i - 1] + 1) % frames, seen[i]) << "step " << i << " of " << Show(seen);
}

int ThreadCount() {
  kv::UniqueHandleKernel snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int n = 0;
  const DWORD self = ::GetCurrentProcessId();
  for (BOOL ok = ::Thread32First(snapshot.get(), &entry); ok; ok = ::Thread32Next(snapshot.get(), &entry))
    n += entry.th32OwnerProcessID == self;
  return n;
}

bool WaitForThreads(int count, DWORD ms = kSettleMs) {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < ms) {
    if (ThreadCount() == count) return true;
    ::Sleep(20);
  }
  return ThreadCount() == count;
}

bool WaitForStop(int id, DWORD ms = kSettleMs) {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < ms && !GetKvImage()->isStop(id)) ::Sleep(20);
  return GetKvImage()->isStop(id);
}

std::wstring Folder() {
  static const std::wstring dir = kvtest::FreshDir(L"image_movie");
  return dir;
}

// A strip of four 50-pixel frames, each one solid colour.
constexpr uint32_t kStripColours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
std::wstring StripPicture() {
  const std::wstring path = Folder() + L"strip.png";
  if (!kvtest::Exists(path))
    kvtest::MakePicture(path, 200, 60, [](int x, int) { return kStripColours[x / 50]; });
  return path;
}

// A picture no turn or mirror maps onto itself: a bar along the top and a block at the left.
std::wstring ArrowPicture() {
  const std::wstring path = Folder() + L"arrow.png";
  if (!kvtest::Exists(path))
    kvtest::MakePicture(path, 40, 40, [](int x, int y) -> uint32_t {
      if (y < 8) return 0xFFFF0000;
      if (x < 10 && y < 30) return 0xFF00FF00;
      return 0x00000000;
    });
  return path;
}

std::wstring WhitePicture() {
  const std::wstring path = Folder() + L"white.png";
  if (!kvtest::Exists(path)) kvtest::MakePicture(path, 30, 30, [](int, int) { return 0xFFFFFFFFu; });
  return path;
}

// A background device context of the window's size, one solid colour.
struct Background {
  explicit Background(uint32_t rgb) : dib(200, 200) { dib.Fill(rgb); }
  Dib dib;
};

// Reference frames: what one frame looks like, drawn over the background at the animation's place.
std::unique_ptr<Dib> Reference(const Background* background, const std::function<void(HDC)>& draw) {
  auto dib = std::make_unique<Dib>(kW, kH);
  if (background) ::BitBlt(dib->dc(), 0, 0, kW, kH, background->dib.dc(), kX, kY, SRCCOPY);
  draw(dib->dc());
  ::GdiFlush();
  return dib;
}

std::vector<std::unique_ptr<Dib>> FadeReferences(const Background* bg, const std::wstring& path,
                                                  std::initializer_list<float> levels) {
  std::vector<std::unique_ptr<Dib>> refs;
  for (float a : levels)
    refs.push_back(Reference(bg, [&](HDC dc) { GetKvImage()->DrawImgEx(dc, path.c_str(), 1, 1, 1, a, 0, 0, kW, kH); }));
  return refs;
}

TEST(MovieRecords, AddIsOncePerIdAndStartsStopped) {
  CKvImage* image = GetKvImage();
  EXPECT_FALSE(image->isStop(1001));  // unknown
  EXPECT_EQ(-1, image->GetMovieIndex(1001));
  ASSERT_TRUE(image->AddMovie(nullptr, StripPicture().c_str(), 0, 0, 4, 50, 1001, 0, 10, 10, nullptr));
  const int index = image->GetMovieIndex(1001);
  ASSERT_GE(index, 0);
  EXPECT_TRUE(image->isStop(1001));
  // A second add with the same id changes nothing and adds nothing.
  EXPECT_TRUE(image->AddMovie(nullptr, 60052, L"IMG", 5, 5, 9, 10, 1001, 3, 20, 20, nullptr));
  EXPECT_EQ(index, image->GetMovieIndex(1001));
  ASSERT_TRUE(image->AddMovie(nullptr, 60052, L"IMG", 0, 0, 2, 50, 1002, 3, 10, 10, nullptr));
  EXPECT_EQ(index + 1, image->GetMovieIndex(1002));
  // Unknown ids are ignored.
  image->StopMovie(999999);
  image->StartMovie(999999);
  EXPECT_FALSE(image->isStop(999999));
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

TEST(MoviePlayback, StripShowsItsFramesInTurn) {
  Stage stage;
  CKvImage* image = GetKvImage();
  const std::wstring strip = StripPicture();
  std::vector<std::unique_ptr<Dib>> refs;
  for (int n = 0; n < 4; ++n)
    refs.push_back(Reference(nullptr, [&](HDC dc) {
      image->DrawStretchImg(dc, strip.c_str(), 0, 0, 0, 0, 0, 4, n, 0);
    }));
  const int threads = ThreadCount();
  ASSERT_TRUE(image->AddMovie(stage.wnd(), strip.c_str(), kX, kY, 4, 150, 2001, 0, kW, kH, nullptr));
  image->StartMovie(2001);
  EXPECT_FALSE(image->isStop(2001));
  ASSERT_TRUE(WaitForThreads(threads + 1));
  // Starting a running animation starts no second thread.
  image->StartMovie(2001);
  ::Sleep(300);
  EXPECT_EQ(threads + 1, ThreadCount());

  const std::vector<int> seen = Watch(stage, refs, 2000);
  ExpectCycle(seen, 4, 6);

  image->StopMovie(2001);
  EXPECT_TRUE(image->isStop(2001));
  EXPECT_TRUE(WaitForThreads(threads));
  // Stopped: the window keeps its last frame.
  Dib before(kW, kH), after(kW, kH);
  stage.Capture(before);
  ::Sleep(400);
  stage.Capture(after);
  EXPECT_EQ(0, Distance(before, after));
}

TEST(MoviePlayback, StopAndStartAtOnceLeavesOneThread) {
  // The old thread is still in its pause when the new one starts; it must not carry on too.
  Stage stage;
  CKvImage* image = GetKvImage();
  const std::wstring strip = StripPicture();
  std::vector<std::unique_ptr<Dib>> refs;
  for (int n = 0; n < 4; ++n)
    refs.push_back(Reference(nullptr, [&](HDC dc) {
      image->DrawStretchImg(dc, strip.c_str(), 0, 0, 0, 0, 0, 4, n, 0);
    }));
  const int threads = ThreadCount();
  ASSERT_TRUE(image->AddMovie(stage.wnd(), strip.c_str(), kX, kY, 4, 250, 2051, 0, kW, kH, nullptr));
  image->StartMovie(2051);
  ASSERT_TRUE(WaitForThreads(threads + 1));
  ::Sleep(100);
  image->StopMovie(2051);
  image->StartMovie(2051);
  EXPECT_FALSE(image->isStop(2051));
  ::Sleep(600);  // past the old thread's pause
  EXPECT_EQ(threads + 1, ThreadCount());
  // One thread draws: a clean cycle, which two interleaved threads would not give.
  ExpectCycle(Watch(stage, refs, 2200), 4, 5);
  image->StopMovie(2051);
  EXPECT_TRUE(WaitForThreads(threads));
}

TEST(MoviePlayback, SpinTurnsByWholeDegreesAndComesBack) {
  Stage stage;
  CKvImage* image = GetKvImage();
  const std::wstring arrow = ArrowPicture();
  Background gray(0xFF808080);
  // 360 / 7 in integers is 51: 0, 51, ... 306, then 0 again (a last step of 54).
  std::vector<std::unique_ptr<Dib>> refs;
  for (int n = 0; n < 7; ++n)
    refs.push_back(Reference(&gray, [&](HDC dc) { image->DrawRotate(dc, arrow.c_str(), 51 * n, 0, 0, 0, 0); }));
  ASSERT_TRUE(image->AddMovie(stage.wnd(), arrow.c_str(), kX, kY, 7, 120, 2101, 2, kW, kH, gray.dib.dc()));
  image->StartMovie(2101);
  const std::vector<int> seen = Watch(stage, refs, 2500);
  image->StopMovie(2101);
  ExpectCycle(seen, 7, 9);
  EXPECT_TRUE(WaitForStop(2101));
}

TEST(MoviePlayback, RotateFlipCycleUsesTheTurnNumbers) {
  Stage stage;
  CKvImage* image = GetKvImage();
  const std::wstring arrow = ArrowPicture();
  Background gray(0xFF404040);
  std::vector<std::unique_ptr<Dib>> refs;
  for (int n = 0; n < 8; ++n)
    refs.push_back(Reference(&gray, [&](HDC dc) {
      image->DrawRotateFlip(dc, arrow.c_str(), 0, 0, 0, 0, static_cast<Gdiplus::RotateFlipType>(n), 1.0f);
    }));
  ASSERT_TRUE(image->AddMovie(stage.wnd(), arrow.c_str(), kX, kY, 8, 100, 2201, 1, kW, kH, gray.dib.dc()));
  image->StartMovie(2201);
  const std::vector<int> seen = Watch(stage, refs, 2500);
  image->StopMovie(2201);
  ExpectCycle(seen, 8, 10);
}

TEST(MoviePlayback, FadeInEndsAtFullOpacityAndReplaysAfterStop) {
  Stage stage;
  CKvImage* image = GetKvImage();
  const std::wstring white = WhitePicture();
  Background black(0xFF000000);
  const auto refs = FadeReferences(&black, white, {0.0f, 0.25f, 0.5f, 0.75f, 1.0f});
  const int threads = ThreadCount();
  ASSERT_TRUE(image->AddMovie(stage.wnd(), white.c_str(), kX, kY, 5, 200, 2301, 3, kW, kH, black.dib.dc()));
  image->StartMovie(2301);
  std::vector<int> seen = Watch(stage, refs, 1800);
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), seen) << Show(seen);
  // Ended, not stopped: the thread is gone but the animation does not count as stopped, so a
  // start does nothing until it has been stopped.
  EXPECT_TRUE(WaitForThreads(threads));
  EXPECT_FALSE(image->isStop(2301));
  image->StartMovie(2301);
  seen = Watch(stage, refs, 500);
  EXPECT_EQ((std::vector<int>{4}), seen) << Show(seen);

  image->StopMovie(2301);
  EXPECT_TRUE(image->isStop(2301));
  image->StartMovie(2301);
  seen = Watch(stage, refs, 1800);
  // From the last frame still on show back to 0, then up again.
  EXPECT_EQ((std::vector<int>{4, 0, 1, 2, 3, 4}), seen) << Show(seen);
}

TEST(MoviePlayback, FadeOutEndsAtZero) {
  Stage stage;
  CKvImage* image = GetKvImage();
  const std::wstring white = WhitePicture();
  Background black(0xFF000000);
  const auto refs = FadeReferences(&black, white, {1.0f, 0.75f, 0.5f, 0.25f, 0.0f});
  ASSERT_TRUE(image->AddMovie(stage.wnd(), white.c_str(), kX, kY, 5, 200, 2401, 4, kW, kH, black.dib.dc()));
  image->StartMovie(2401);
  const std::vector<int> seen = Watch(stage, refs, 1800);
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), seen) << Show(seen);
  EXPECT_FALSE(image->isStop(2401));
}

TEST(MoviePlayback, FadeOfAnyFrameCountEnds) {
  // In single precision 1 / 48 * 48 is not exactly 1; whatever the arithmetic, the fade must end on
  // its last frame.
  Stage stage;
  CKvImage* image = GetKvImage();
  const std::wstring white = WhitePicture();
  Background black(0xFF000000);
  const int threads = ThreadCount();
  ASSERT_TRUE(image->AddMovie(stage.wnd(), white.c_str(), kX, kY, 49, 10, 2501, 3, kW, kH, black.dib.dc()));
  image->StartMovie(2501);
  EXPECT_TRUE(WaitForThreads(threads + 1, 1000) || ThreadCount() == threads);
  EXPECT_TRUE(WaitForThreads(threads));
  const auto full = FadeReferences(&black, white, {1.0f});
  EXPECT_EQ((std::vector<int>{0}), Watch(stage, full, 200));
}

TEST(MoviePlayback, WithoutBackgroundFramesBuildOnEachOther) {
  // No background DC: the memory picture keeps the previous frame, so a fade in of white over
  // the first (black) frame accumulates: 0, 64, 159, 231, 255 rather than 0, 64, 128, 191, 255.
  Stage stage;
  CKvImage* image = GetKvImage();
  const std::wstring white = WhitePicture();
  std::vector<std::unique_ptr<Dib>> refs;
  for (uint32_t level : {0u, 64u, 159u, 231u, 255u}) {
    auto dib = std::make_unique<Dib>(kW, kH);
    dib->Fill(0xFF000000 | level << 16 | level << 8 | level);
    refs.push_back(std::move(dib));
  }
  // The 0.5 step of a fresh start, which must not appear.
  auto fresh_half = std::make_unique<Dib>(kW, kH);
  fresh_half->Fill(0xFF808080);
  refs.push_back(std::move(fresh_half));
  ASSERT_TRUE(image->AddMovie(stage.wnd(), white.c_str(), kX, kY, 5, 200, 2601, 3, kW, kH, nullptr));
  image->StartMovie(2601);
  const std::vector<int> seen = Watch(stage, refs, 1800);
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), seen) << Show(seen);
}

TEST(MoviePlayback, ResourcePicture) {
  Stage stage;
  CKvImage* image = GetKvImage();
  Background black(0xFF000000);
  auto refs = std::vector<std::unique_ptr<Dib>>();
  refs.push_back(Reference(&black, [&](HDC dc) { image->DrawImgEx(dc, 60052, L"IMG", 1, 1, 1, 0.0f, 0, 0, kW, kH); }));
  refs.push_back(Reference(&black, [&](HDC dc) { image->DrawImgEx(dc, 60052, L"IMG", 1, 1, 1, 1.0f, 0, 0, kW, kH); }));
  ASSERT_NE(0, Distance(*refs[0], *refs[1]));
  ASSERT_TRUE(image->AddMovie(stage.wnd(), 60052, L"IMG", kX, kY, 2, 300, 2701, 3, kW, kH, black.dib.dc()));
  image->StartMovie(2701);
  const std::vector<int> seen = Watch(stage, refs, 1200);
  EXPECT_EQ((std::vector<int>{0, 1}), seen) << Show(seen);
}

TEST(MoviePlayback, DestroyedWindowEndsTheAnimation) {
  CKvImage* image = GetKvImage();
  const int threads = ThreadCount();
  {
    Stage stage;
    ASSERT_TRUE(image->AddMovie(stage.wnd(), StripPicture().c_str(), kX, kY, 0, 50, 2801, 0, kW, kH, nullptr));
    image->StartMovie(2801);  // a frame count of 0 plays as one frame
    ASSERT_TRUE(WaitForThreads(threads + 1));
    ::Sleep(200);
    EXPECT_FALSE(image->isStop(2801));
  }
  EXPECT_TRUE(WaitForStop(2801));
  EXPECT_TRUE(WaitForThreads(threads));
  // Stopped, so it may be started again (on its gone window it ends at once).
  image->StartMovie(2801);
  EXPECT_TRUE(WaitForStop(2801));
}

}  // namespace
