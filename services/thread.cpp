#include "services/thread.h"

#include <process.h>

#include <algorithm>
#include <memory>

#include "util/handles.h"

namespace {

constexpr int kStopWaitMs = 100;

// What a timer thread needs, fixed when its timer starts. A reuse of the id may rewrite the
// record at any time, so the thread never reads the record's timer fields, only its flags.
struct TimerStart {
  tagKvTimer* record;
  unsigned generation;
  KvCallback callback;
  void* param;
  DWORD interval;
  const std::atomic<int>* stop;
  HANDLE own;
};

HANDLE BeginThread(KvThreadProc routine, void* param, unsigned flags) {
  return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, routine, param, flags, nullptr));
}

}  // namespace

CKvThread::CKvThread() = default;

CKvThread::~CKvThread() {
  // Timer threads read their records; none may outlive the table.
  Stop();
}

HANDLE CKvThread::StartThread(KvThreadProc routine, void* param, int detach) {
  HANDLE thread = BeginThread(routine, param, 0);
  if (thread && detach) {
    kv::UniqueHandleKernel detached(thread);  // nobody waits for a detached thread
    return nullptr;
  }
  return thread;
}

void CKvThread::ExitThread(HANDLE thread, int milliseconds) {
  if (!thread) return;
  const kv::UniqueHandleKernel owned(thread);  // the caller's handle is ours to close
  if (::WaitForSingleObject(thread, static_cast<DWORD>(milliseconds)) == WAIT_TIMEOUT)
    ::TerminateThread(thread, 0);
}

tagKvTimer* CKvThread::AddTimer(const tagKvTimer& timer) {
  auto found = std::find_if(timers_.begin(), timers_.end(),
                            [&](const tagKvTimer& t) { return t.id == timer.id; });
  tagKvTimer* record = nullptr;
  if (found != timers_.end()) {
    if (found->killed.load() == 0) return nullptr;  // a live timer keeps its id
    record = &*found;
    // The old thread may still sleep; it no longer owns the record, Stop will collect it.
    if (HANDLE old = record->thread.exchange(nullptr)) retired_.push_back(old);
    // The generation changes before killed is cleared: a thread that reads killed (0) and then
    // the generation cannot see the old generation any more.
    record->generation.fetch_add(1);
  } else {
    record = &timers_.emplace_back();
  }
  record->id = timer.id;
  record->callback = timer.callback;
  record->interval = timer.interval;
  record->owner = timer.owner;
  record->param = timer.param;
  record->killed.store(0);
  return record;
}

void CKvThread::StartTimer(int id, KvCallback callback, int interval, void* param) {
  tagKvTimer timer;
  timer.id = id;
  timer.callback = callback;
  timer.interval = interval;
  timer.owner = this;
  timer.param = param;
  tagKvTimer* record = AddTimer(timer);
  if (!record) return;
  auto start =
      std::make_unique<TimerStart>(TimerStart{record, record->generation.load(), callback, param,
                                              static_cast<DWORD>(interval), &stop_, nullptr});
  // Started suspended so that the handle is known before the thread can look for it.
  HANDLE thread = BeginThread(&CKvThread::TimerThread, start.get(), CREATE_SUSPENDED);
  if (!thread) {
    record->killed.store(1);
    return;
  }
  start->own = thread;
  record->thread.store(thread);
  start.release();  // the thread owns it now
  ::ResumeThread(thread);
}

// Runs on the timer's own thread.
unsigned __stdcall CKvThread::TimerThread(void* param) {
  const std::unique_ptr<TimerStart> start(static_cast<TimerStart*>(param));
  tagKvTimer* record = start->record;
  // killed is read before the generation: a reuse bumps the generation before it clears killed.
  auto still_mine = [&] {
    return start->stop->load() == 0 && record->killed.load() == 0 &&
           record->generation.load() == start->generation;
  };
  while (still_mine()) {
    ::Sleep(start->interval);
    if (!still_mine()) break;
    if (start->callback) start->callback(start->param);
  }
  HANDLE own = start->own;
  // Whoever takes the handle out of the record closes it: this thread when it ends by itself,
  // Stop or a reuse of the id otherwise.
  if (own && record->thread.compare_exchange_strong(own, nullptr))
    kv::UniqueHandleKernel closed(own);
  return 0;
}

void CKvThread::KillTimer(int id) {
  auto found =
      std::find_if(timers_.begin(), timers_.end(), [&](const tagKvTimer& t) { return t.id == id; });
  if (found != timers_.end()) found->killed.store(1);
}

void CKvThread::Stop() {
  stop_.store(1);
  for (tagKvTimer& timer : timers_) {
    if (HANDLE thread = timer.thread.exchange(nullptr)) ExitThread(thread, kStopWaitMs);
  }
  for (HANDLE thread : retired_) ExitThread(thread, kStopWaitMs);
  retired_.clear();
}

CKvThread* GetKvThread() {
  static CKvThread service;
  return &service;
}
