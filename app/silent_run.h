#pragma once
// What the uninstaller does beside its window: the silent run for deployment tools, and the
// guard that keeps two uninstalls of one product from running at once.
#include <windows.h>

#include "util/handles.h"

namespace kv::app {

// Held for the process's life by the first uninstaller of this product folder; empty (false)
// when another already holds it.
class SingleRun {
 public:
  SingleRun();
  explicit operator bool() const { return static_cast<bool>(mutex_); }

 private:
  kv::UniqueHandleKernel mutex_;
};

// The whole uninstall without a window or a question: the record, the same engine and clean-up,
// the reports, the self-removal. Ends the process (0, or 3010 when the restart completes the
// removal) or returns the exit code of what stopped it.
DWORD RunSilently();

}  // namespace kv::app
