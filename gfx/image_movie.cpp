// Picture animations of CKvImage: each plays on a detached thread of its own, frame by frame, in
// a rectangle of a window, until it is stopped or a fade is complete.
#include <process.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "gfx/image.h"
#include "gfx/movie_observer.h"
#include "ui/memory_dc.h"
#include "util/handles.h"

namespace {

enum MovieEffect { kStrip = 0, kRotateFlipCycle = 1, kSpin = 2, kFadeIn = 3, kFadeOut = 4 };
enum MovieSource { kFromResource = 0, kFromFile = 1 };

// Opacity of frame n of a fade over frames frames. The last frame is exactly the end value, so a
// fade always ends even where (1 / (frames - 1)) * n does not come out exact in floating point;
// a fade of fewer than two frames is its end value at once.
float FadeInOpacity(int n, int frames) {
  if (frames < 2 || n >= frames - 1) return 1.0f;
  return static_cast<float>((1.0 / (frames - 1)) * n);
}

// Which run of each record is the live one. StopMovie only raises the record's stop flag, and the
// thread notices it after its pause; a StartMovie within that pause clears the flag again, so
// without this the old thread would carry on beside the new one. Each thread plays only while its
// run is the record's latest.
class MovieRuns {
 public:
  unsigned Begin(const tagMovieInfo* movie) {
    std::lock_guard<std::mutex> hold(lock_);
    return ++latest_[movie];
  }
  bool IsLatest(const tagMovieInfo* movie, unsigned run) {
    std::lock_guard<std::mutex> hold(lock_);
    return latest_[movie] == run;
  }

 private:
  std::mutex lock_;
  std::map<const tagMovieInfo*, unsigned> latest_;
};

std::atomic<kv::MovieFrameObserver> g_frameObserver{nullptr};

MovieRuns& Runs() {
  static MovieRuns runs;
  return runs;
}

// What a new animation thread receives: its record and the number of its run.
struct MovieStart {
  tagMovieInfo* movie;
  unsigned run;
};

// The fields both forms of AddMovie share; the caller adds the picture's source.
tagMovieInfo MovieRecord(CKvImage* owner, HWND window, HDC background, int id, int effect, int x,
                         int y, int w, int h, int frames, int intervalMs) {
  tagMovieInfo movie;
  movie.hWnd = window;
  movie.hBkDC = background;
  movie.nId = id;
  movie.nEffect = effect;
  movie.x = x;
  movie.y = y;
  movie.w = w;
  movie.h = h;
  movie.nFrames = frames;
  movie.nInterval = intervalMs;
  movie.bStop = 1;
  movie.pOwner = owner;
  return movie;
}

// Calls draw with the animation's picture as CKvImage's drawing calls take it: a file's path, or a
// resource's id and type.
template <class Draw>
void WithPicture(const tagMovieInfo& movie, Draw&& draw) {
  if (movie.nSrcType == kFromFile)
    draw(movie.strPath.c_str());
  else
    draw(movie.nResId, movie.strResType.c_str());
}

// Draws frame n (of frames) of the animation into mem; the opacity of a fade's frame, -1 for the
// other effects.
float DrawFrame(CKvImage& owner, const tagMovieInfo& movie, HDC mem, int n, int frames) {
  switch (movie.nEffect) {
    case kStrip:
      WithPicture(movie, [&](auto... picture) {
        owner.DrawStretchImg(mem, picture..., 0, 0, 0, 0, 0, frames, n, 0);
      });
      return -1.0f;
    case kRotateFlipCycle: {
      const auto turn = static_cast<Gdiplus::RotateFlipType>(n);
      WithPicture(movie, [&](auto... picture) {
        owner.DrawRotateFlip(mem, picture..., 0, 0, 0, 0, turn, 1.0f);
      });
      return -1.0f;
    }
    case kSpin: {
      const int angle = (360 / frames) * n;  // integer division first: 360 / 7 turns by 51
      WithPicture(movie,
                  [&](auto... picture) { owner.DrawRotate(mem, picture..., angle, 0, 0, 0, 0); });
      return -1.0f;
    }
    case kFadeIn:
    case kFadeOut: {
      const float in = FadeInOpacity(n, frames);
      const float opacity = movie.nEffect == kFadeIn ? in : 1.0f - in;
      WithPicture(movie, [&](auto... picture) {
        owner.DrawImgEx(mem, picture..., 1, 1, 1, opacity, 0, 0, movie.w, movie.h);
      });
      return opacity;
    }
    default:  // nothing beyond the background copy
      return -1.0f;
  }
}

// A fade ends on its final frame, without a pause after it.
bool FadeEnded(int effect, float opacity) {
  return (effect == kFadeIn && opacity == 1.0f) || (effect == kFadeOut && opacity == 0.0f);
}

}  // namespace

void kv::SetMovieFrameObserver(MovieFrameObserver observer) { g_frameObserver = observer; }

bool CKvImage::isExistsMovie(int id) { return GetMovieIndex(id) >= 0; }

int CKvImage::GetMovieIndex(int id) {
  for (size_t i = 0; i < m_vecMovie.size(); ++i)
    if (m_vecMovie[i].nId == id) return static_cast<int>(i);
  return -1;
}

bool CKvImage::AddMovie(HWND window, int resId, const wchar_t* resType, int x, int y, int frames,
                        int intervalMs, int id, int effect, int w, int h, HDC background) {
  if (isExistsMovie(id)) return true;
  // Running threads hold their records by address: the list must never reallocate, so it never
  // grows past the room reserved for it.
  if (m_vecMovie.size() >= kMovieRoom) return false;
  tagMovieInfo movie =
      MovieRecord(this, window, background, id, effect, x, y, w, h, frames, intervalMs);
  movie.nSrcType = kFromResource;
  movie.nResId = resId;
  movie.strResType = resType ? resType : L"";
  m_vecMovie.push_back(movie);
  return true;
}

bool CKvImage::AddMovie(HWND window, const wchar_t* path, int x, int y, int frames, int intervalMs,
                        int id, int effect, int w, int h, HDC background) {
  if (isExistsMovie(id)) return true;
  if (m_vecMovie.size() >= kMovieRoom) return false;
  tagMovieInfo movie =
      MovieRecord(this, window, background, id, effect, x, y, w, h, frames, intervalMs);
  movie.nSrcType = kFromFile;
  movie.strPath = path ? path : L"";
  m_vecMovie.push_back(movie);
  return true;
}

void CKvImage::StartMovie(int id) {
  InterlockedExchange(&m_bStopAll, 0);
  // Covers an unknown id and an animation that already runs (or a fade that ended unstopped).
  if (!isStop(id)) return;
  const int index = GetMovieIndex(id);
  if (index < 0) return;
  tagMovieInfo& movie = m_vecMovie[static_cast<size_t>(index)];
  auto start = std::make_unique<MovieStart>(MovieStart{&movie, Runs().Begin(&movie)});
  InterlockedExchange(&movie.bStop, 0);
  const uintptr_t thread =
      _beginthreadex(nullptr, 0, &CKvImage::MovieThread, start.get(), 0, nullptr);
  if (!thread) {
    // No thread runs it: it is stopped, and a later StartMovie may try again.
    InterlockedExchange(&movie.bStop, 1);
    return;
  }
  start.release();                                                    // the thread's now
  kv::UniqueHandleKernel detached(reinterpret_cast<HANDLE>(thread));  // nobody waits for it
}

void CKvImage::StopMovie(int id) {
  const int index = GetMovieIndex(id);
  if (index >= 0) InterlockedExchange(&m_vecMovie[static_cast<size_t>(index)].bStop, 1);
}

bool CKvImage::isStop(int id) {
  const int index = GetMovieIndex(id);
  return index >= 0 && m_vecMovie[static_cast<size_t>(index)].bStop != 0;
}

// Runs on the animation's own thread; reads its record, which never moves.
unsigned __stdcall CKvImage::MovieThread(void* param) {
  const std::unique_ptr<MovieStart> start(static_cast<MovieStart*>(param));
  tagMovieInfo* movie = start->movie;
  CKvImage* owner = movie->pOwner;
  // Counts the record does not check: at least one frame, so the frame number stays defined.
  const int frames = std::max(movie->nFrames, 1);
  const int x = movie->x, y = movie->y, w = movie->w, h = movie->h;

  kv::WindowDC window_dc(movie->hWnd);
  RECT area = {x, y, x + w, y + h};
  CKvDC frame(window_dc.get(), area, false, false, nullptr);
  const HDC mem = frame.m_hMemDC;

  for (int n = 0; owner->m_bStopAll == 0 && movie->bStop == 0 && Runs().IsLatest(movie, start->run);
       n = (n + 1) % frames) {
    // A window destroyed under a running animation ends it; it counts as stopped then.
    if (!::IsWindow(movie->hWnd)) {
      InterlockedExchange(&movie->bStop, 1);
      break;
    }
    if (movie->hBkDC) ::BitBlt(mem, 0, 0, w, h, movie->hBkDC, x, y, SRCCOPY);
    const float opacity = DrawFrame(*owner, *movie, mem, n, frames);
    frame.Draw();
    if (const kv::MovieFrameObserver observer = g_frameObserver) observer(movie->nId, mem);
    if (FadeEnded(movie->nEffect, opacity)) break;
    ::Sleep(static_cast<DWORD>(std::max(movie->nInterval, 0)));
  }
  return 0;
}
