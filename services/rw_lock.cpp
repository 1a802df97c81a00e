#include "services/rw_lock.h"

#include "util/handles.h"

namespace {}  // namespace

CLock::CLock() : m_bWrite(false), m_bRead(false), m_nReaders(0), m_dwGateOwner(0), m_nGateDepth(0) {
  ::InitializeCriticalSection(&m_cs);
  ::InitializeConditionVariable(&m_cv);
}

CLock::~CLock() { ::DeleteCriticalSection(&m_cs); }

CLock& CLock::operator=(const CLock& other) {
  if (this == &other) return *this;
  // Copying a critical section byte for byte would leave two objects sharing one system record:
  // only the state that describes the lock is copied.
  kv::CriticalSectionScope guard(&m_cs);
  m_bWrite = other.m_bWrite;
  m_bRead = other.m_bRead;
  m_nReaders = other.m_nReaders;
  return *this;
}

void CLock::EnterGate() {
  const DWORD self = ::GetCurrentThreadId();
  while (m_nGateDepth > 0 && m_dwGateOwner != self)
    ::SleepConditionVariableCS(&m_cv, &m_cs, INFINITE);
  m_dwGateOwner = self;
  ++m_nGateDepth;
}

void CLock::LeaveGate() {
  if (m_nGateDepth == 0) return;
  if (--m_nGateDepth == 0) {
    m_dwGateOwner = 0;
    ::WakeAllConditionVariable(&m_cv);
  }
}

void CLock::Lock() {
  kv::CriticalSectionScope guard(&m_cs);
  EnterGate();
  m_bWrite = true;
  m_bRead = true;
}

void CLock::Unlock() {
  kv::CriticalSectionScope guard(&m_cs);
  m_bWrite = false;
  m_bRead = false;
  LeaveGate();
}

void CLock::LockRead() {
  kv::CriticalSectionScope guard(&m_cs);
  const DWORD self = ::GetCurrentThreadId();
  for (;;) {
    // A reading group is open: join it without owning the gate.
    if (m_bRead && !m_bWrite) {
      ++m_nReaders;
      return;
    }
    // Free, or held by this very thread (a writer reading inside its own write lock).
    if (m_nGateDepth == 0 || m_dwGateOwner == self) break;
    // Held by a writer, or by a reading group that is just closing: wait, then look again, since a
    // reading group that opened meanwhile is one to join.
    ::SleepConditionVariableCS(&m_cv, &m_cs, INFINITE);
  }
  EnterGate();
  ++m_nReaders;
  m_bRead = true;
}

void CLock::UnlockRead() {
  kv::CriticalSectionScope guard(&m_cs);
  if (m_nReaders == 0) return;  // unbalanced call: nothing to release
  if (--m_nReaders == 0) {
    m_bRead = false;
    LeaveGate();
  }
}

bool CLock::IsLockWrite() {
  kv::CriticalSectionScope guard(&m_cs);
  return m_bWrite;
}

bool CLock::IsLockRead() {
  kv::CriticalSectionScope guard(&m_cs);
  return m_bRead;
}
