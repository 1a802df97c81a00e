#pragma once
// A writer lock with a shared reading mode. Writers are exclusive; readers share the lock among
// themselves as long as no writer holds it. The gate is re-entrant for the thread that took it,
// so a writer may take a read lock inside its write lock; and the reader whose UnlockRead brings
// the count to 0 opens the gate, whichever thread took it.
#include <windows.h>

#include "util/kv_api.h"

class KV_CLASS CLock {
 public:
  CLock();
  ~CLock();
  CLock(const CLock&) = delete;
  // Copies the flags and the reader count only: each lock keeps its own system objects. Meaningful
  // only for locks that nobody holds.
  CLock& operator=(const CLock& other);

  void Lock();
  void Unlock();
  void LockRead();
  void UnlockRead();
  bool IsLockWrite();
  bool IsLockRead();

 private:
  // Waits until the gate is free or already this thread's, then takes one level of it. Called and
  // returns with m_cs held.
  void EnterGate();
  void LeaveGate();

  // m_cs guards every field below; the gate itself is the owner and depth, so that any thread may
  // open it and a waiting thread sleeps on m_cv rather than inside the critical section.
  CRITICAL_SECTION m_cs;
  bool m_bWrite;
  bool m_bRead;
  LONG m_nReaders;
  DWORD m_dwGateOwner;
  int m_nGateDepth;
  CONDITION_VARIABLE m_cv;
};
