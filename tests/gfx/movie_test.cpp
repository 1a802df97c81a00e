// Picture animations in a hidden window, followed through the frame observer: each frame is read
// where the animation drew it, and each animation thread is waited for through a handle of its own.
#include <map>
#include <mutex>

#include "gfx/movie_observer.h"
#include "tests/gfx/gfx.h"

namespace {

using namespace gfxtest;

struct Shown {
  DWORD thread;
  std::string look;  // the colours at the centre, top, right, bottom and left of the 60 x 60 area
  int level;         // the centre's red
};
std::mutex g_lock;
std::map<int, std::vector<Shown>> g_shown;
std::map<int, std::vector<kv::UniqueHandleKernel>> g_threads;

// Runs on the animation's thread.
void Observe(int id, HDC frame) {
  std::string look;
  for (POINT p : {POINT{30, 30}, {30, 3}, {56, 30}, {30, 56}, {3, 30}}) {
    const COLORREF c = GetPixel(frame, p.x, p.y);
    look += ".RGYBMCW"[(GetRValue(c) > 200) | (GetGValue(c) > 200) << 1 | (GetBValue(c) > 200) << 2];
  }
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_shown[id].empty() || g_shown[id].back().thread != GetCurrentThreadId())
    g_threads[id].emplace_back(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
  g_shown[id].push_back({GetCurrentThreadId(), look, GetRValue(GetPixel(frame, 30, 30))});
}

std::vector<Shown> Frames(int id) {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_shown[id];
}
bool WaitFrames(int id, size_t n) {
  return kvtest::PollUntil([&] { return Frames(id).size() >= n; }, 20000);
}
bool Ended(int id) {  // every thread that showed a frame of id
  std::vector<HANDLE> threads;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    for (const auto& thread : g_threads[id]) threads.push_back(thread.get());
  }
  return WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 20000) == WAIT_OBJECT_0;
}

// Four 60-pixel frames, red, green, blue, yellow; an arrow that no turn or mirror maps onto itself
// (a red bar along the top, a green block at the left); white.
std::wstring Strip() {
  return Picture(L"strip.png", 240, 60, [](int x, int) { return kBands[x / 60]; });
}
std::wstring Arrow() {
  return Picture(L"arrow.png", 60, 60, [](int x, int y) {
    return y < 8 ? kRed : x < 10 && y >= 10 && y < 50 ? kGreen : 0u;
  });
}
std::wstring White() {
  return Picture(L"white.png", 30, 30, [](int, int) { return 0xFFFFFFFFu; });
}

class Movie : public ::testing::Test {
 protected:
  void SetUp() override { kv::SetMovieFrameObserver(Observe); }
  void TearDown() override { kv::SetMovieFrameObserver(nullptr); }
  bool Play(int id, const std::wstring& path, int frames, int ms, int effect, HDC background) {
    const bool added = Img().AddMovie(window_.get(), path.c_str(), 0, 0, frames, ms, id, effect, 60, 60, background);
    Img().StartMovie(id);
    return added;
  }
  Window window_ = MakeWindow(100, 100);
  kvtest::Frame black_{60, 60};  // a background: each frame starts from it
};

TEST_F(Movie, RecordsAreOncePerIdStartStoppedAndNeverMove) {
  EXPECT_EQ(std::pair(false, -1), std::pair(Img().isStop(1001), Img().GetMovieIndex(1001)));
  ASSERT_TRUE(Img().AddMovie(nullptr, Strip().c_str(), 0, 0, 4, 50, 1001, 0, 10, 10, nullptr));
  EXPECT_TRUE(
      Img().AddMovie(nullptr, 60052, L"IMG", 5, 5, 9, 10, 1001, 3, 20, 20, nullptr));  // the same id: nothing changes
  ASSERT_TRUE(Img().AddMovie(nullptr, 60052, L"IMG", 0, 0, 2, 50, 1002, 3, 10, 10, nullptr));
  EXPECT_EQ(std::pair(true, Img().GetMovieIndex(1001) + 1), std::pair(Img().isStop(1001), Img().GetMovieIndex(1002)));
  Img().StopMovie(999999);  // unknown: ignored
  Img().StartMovie(999999);
  EXPECT_FALSE(Img().isStop(999999));
  CKvImage image;  // running threads hold records by address: the list never grows past its room
  for (int id = 0; id < 100; ++id) ASSERT_TRUE(image.AddMovie(nullptr, L"x.png", 0, 0, 1, 50, id, 0, 1, 1, nullptr));
  EXPECT_FALSE(image.AddMovie(nullptr, L"x.png", 0, 0, 1, 50, 100, 0, 1, 1, nullptr));
  EXPECT_TRUE(image.AddMovie(nullptr, L"x.png", 0, 0, 1, 50, 42, 0, 1, 1, nullptr) && image.GetMovieIndex(100) == -1);
}

TEST_F(Movie, FramesComeInTurnFromOneThreadUntilStopped) {
  // The colours at the top, right, bottom and left: turned by 0, 90, 180 and 270 degrees, mirrored
  // and turned (across which diagonal types 5 and 7 mirror is the platform's choice).
  const std::vector<std::string> turns = {"R..G", "GR..", ".GR.", "..GR"};
  const std::string diagonal = "G..R|.RG.";
  const struct {
    int id, effect, frames;
    std::wstring picture;
    std::vector<std::string> looks;  // cyclically
  } rows[] = {{2001, 0, 4, Strip(), {"R", "G", "B", "Y"}},
              {2002, 2, 4, Arrow(), turns},
              {2003, 1, 8, Arrow(), {turns[0], turns[1], turns[2], turns[3], "RG..", diagonal, "..RG", diagonal}},
              {2004, 0, 0, Strip(), {"R"}}};  // no frame count: the whole picture as one frame
  for (const auto& row : rows) {
    ASSERT_TRUE(Play(row.id, row.picture, row.frames, 10, row.effect, black_.dc()));
    ASSERT_TRUE(WaitFrames(row.id, 1));
    Img().StartMovie(row.id);  // already running: no second thread
    ASSERT_TRUE(WaitFrames(row.id, row.looks.size() + 2));
    Img().StopMovie(row.id);
    EXPECT_TRUE(Img().isStop(row.id) && Ended(row.id)) << row.id;
    const std::vector<Shown> shown = Frames(row.id);
    for (size_t i = 0; i < row.looks.size() + 2; ++i) {
      const std::string seen = row.effect ? shown[i].look.substr(1) : shown[i].look.substr(0, 1),
                        want = row.looks[i % row.looks.size()];
      EXPECT_TRUE(want == seen || (want == diagonal && want.find(seen) != std::string::npos))
          << row.id << " frame " << i << ": " << seen;
      EXPECT_EQ(shown[0].thread, shown[i].thread) << row.id;
    }
  }
}

// Stopped and started again while the old thread pauses: the old thread must not carry on beside
// the new one, which starts from frame 0.
TEST_F(Movie, AQuickRestartLeavesOneThread) {
  ASSERT_TRUE(Play(2101, Strip(), 4, 300, 0, nullptr));
  ASSERT_TRUE(WaitFrames(2101, 1));
  Img().StopMovie(2101);
  Img().StartMovie(2101);
  ASSERT_TRUE(WaitFrames(2101, 5));
  Img().StopMovie(2101);
  ASSERT_TRUE(Ended(2101));
  std::string looks;
  for (const Shown& s : Frames(2101)) looks += s.thread == Frames(2101)[1].thread ? s.look[0] : '-';
  EXPECT_EQ("-RGBY", looks.substr(0, 5));
  EXPECT_EQ(std::string::npos, looks.find('-', 1)) << looks;
}

TEST_F(Movie, FadesEndOnTheirLastFrame) {
  const struct {
    int id, effect, frames;
    HDC background;
    std::vector<int> levels;
  } rows[] = {{2201, 3, 5, black_.dc(), {0, 64, 128, 191, 255}},
              {2202, 4, 5, black_.dc(), {255, 191, 128, 64, 0}},
              {2203, 3, 5, nullptr, {0, 64, 159, 231, 255}},  // no background: each frame over the last
              {2204, 3, 2, black_.dc(), {0, 255}}};
  for (const auto& row : rows) {
    ASSERT_TRUE(Play(row.id, White(), row.frames, 10, row.effect, row.background));
    ASSERT_TRUE(WaitFrames(row.id, row.levels.size()) && Ended(row.id));
    std::vector<int> levels;
    for (const Shown& s : Frames(row.id)) levels.push_back(s.level);
    ASSERT_EQ(row.levels.size(), levels.size()) << row.id;
    for (size_t i = 0; i < levels.size(); ++i) EXPECT_NEAR(row.levels[i], levels[i], 3) << row.id << " frame " << i;
  }
  // Ended, not stopped: a start does nothing until a stop.
  EXPECT_FALSE(Img().isStop(2201));
  Img().StartMovie(2201);
  EXPECT_FALSE(kvtest::PollUntil([] { return Frames(2201).size() > 5; }, 300));
  Img().StopMovie(2201);
  Img().StartMovie(2201);
  EXPECT_TRUE(WaitFrames(2201, 10) && Ended(2201) && Frames(2201).size() == 10);
  // In single precision (1 / 47) * 47 is not exactly 1: whatever the arithmetic, the fade ends.
  ASSERT_TRUE(Play(2205, White(), 48, 1, 3, black_.dc()));
  ASSERT_TRUE(WaitFrames(2205, 48) && Ended(2205));
  EXPECT_EQ(std::pair(48u, 255), std::pair(Frames(2205).size(), Frames(2205).back().level));
}

TEST_F(Movie, ResourcePicturesAndDestroyedWindows) {
  ASSERT_TRUE(Img().AddMovie(window_.get(), 60052, L"IMG", 0, 0, 2, 10, 2301, 3, 60, 60, black_.dc()));
  Img().StartMovie(2301);
  ASSERT_TRUE(WaitFrames(2301, 2) && Ended(2301));
  EXPECT_EQ(std::pair(0, true), std::pair(Frames(2301)[0].level, Frames(2301)[1].level > 0));
  ASSERT_TRUE(Play(2302, Strip(), 4, 10, 0, nullptr));
  ASSERT_TRUE(WaitFrames(2302, 2));
  window_.reset();  // a window destroyed under the animation ends it: it counts as stopped
  EXPECT_TRUE(kvtest::PollUntil([] { return Img().isStop(2302); }, 20000) && Ended(2302));
  Img().StartMovie(2302);  // stopped, so it may start: on its gone window it ends at once
  EXPECT_TRUE(kvtest::PollUntil([] { return Img().isStop(2302); }, 20000));
}

}  // namespace
