// Makes a running program fault from outside, without any help from it: starts a thread in its
// process at an address where nothing is mapped.
//   remote_fault.exe <full path of the program>
// Exits 0 when the thread was started, 1 when no process runs that program, 2 when it could not
// be reached.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>

#include "util/handles.h"

namespace {

// Nothing is ever mapped in the first 64 KB of a process.
constexpr uintptr_t kUnmapped = 0x100;

DWORD FindProcess(const wchar_t* path) {
  kv::UniqueHandleKernel snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    kv::UniqueHandleKernel process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process) continue;
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (::QueryFullProcessImageNameW(process.get(), 0, image, &size) &&
        ::lstrcmpiW(image, path) == 0)
      return entry.th32ProcessID;
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const DWORD pid = FindProcess(argv[1]);
  if (!pid) return 1;
  kv::UniqueHandleKernel process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
  if (!process) return 2;
  DWORD tid = 0;
  kv::UniqueHandleKernel thread(::CreateRemoteThread(
      process.get(), nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(kUnmapped), nullptr, 0,
      &tid));
  if (!thread) return 2;
  std::printf("faulting pid=%lu thread=%lu\n", pid, tid);
  return 0;
}
