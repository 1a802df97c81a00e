// Calls CKvApp::ExitApp with a timer running and a message loop pending, and prints what ran on
// the way out. Used by the application tests; ExitApp never returns, so it needs its own process.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "app/app.h"
#include "services/thread.h"

namespace {

struct Farewell {
  ~Farewell() { std::printf("static destructor ran\n"); std::fflush(stdout); }
};

void Tick(void*) {}

}  // namespace

int wmain() {
  static Farewell farewell;
  std::atexit([] { std::printf("exit handler ran\n"); std::fflush(stdout); });
  GetKvThread()->StartTimer(1, &Tick, 5000, nullptr);  // asleep: Stop ends it after 100 ms
  GetKvApp()->ExitApp();
}
