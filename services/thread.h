#pragma once
// Plain worker threads and polling timers: one process-wide service (GetKvThread).
#include <windows.h>

#include <atomic>
#include <deque>
#include <vector>

#include "util/kv_api.h"

class CKvThread;

// One timer. The timer's thread holds a pointer to its record, so records never move.
struct KV_CLASS tagKvTimer {
  int id = 0;
  KvCallback callback = nullptr;
  int interval = 0;
  CKvThread* owner = nullptr;
  void* param = nullptr;
  std::atomic<HANDLE> thread{nullptr};
  std::atomic<int> killed{0};
  // Bumped each time the record is reused for a new timer of the same id, so that a thread of an
  // earlier timer that is still asleep sees that the record is no longer its own.
  std::atomic<unsigned> generation{0};
};

class KV_CLASS CKvThread {
 public:
  CKvThread();
  ~CKvThread();
  CKvThread(const CKvThread&) = delete;
  CKvThread& operator=(const CKvThread&) = delete;

  HANDLE StartThread(KvThreadProc routine, void* param, int detach);
  void ExitThread(HANDLE thread, int milliseconds);
  void StartTimer(int id, KvCallback callback, int interval, void* param);
  void KillTimer(int id);
  void Stop();

 private:
  tagKvTimer* AddTimer(const tagKvTimer& timer);
  static unsigned __stdcall TimerThread(void* record);

  std::atomic<int> stop_{0};
  // A deque grows without moving what it holds: the table takes any number of distinct ids and
  // every record keeps its address for as long as the service lives.
  std::deque<tagKvTimer> timers_;
  // Handles of timer threads whose record was reused while they were still asleep; they end on
  // their own at their next wake-up, and Stop waits for them like for any other timer thread.
  std::vector<HANDLE> retired_;
};

// The process-wide thread service, created on first use.
KV_API CKvThread* GetKvThread();
