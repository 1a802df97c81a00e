#pragma once
// The program's pictures plus the check box pictures it does not carry, from msgbox_probe.exe
// (tests/programs/pictures.rc2), for widget tests that draw check boxes.
#include <windows.h>

#include "gfx/image.h"
#include "tests/support/test_support.h"

namespace kvtest {

inline bool UseWidgetPictures() {
  static HMODULE module = ::LoadLibraryExW((BinDir() + L"msgbox_probe.exe").c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return false;
  GetKvImage()->SetInst(module);
  return true;
}

}  // namespace kvtest
