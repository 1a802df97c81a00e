#pragma once
// What the ui tests share beyond kvtest.
#include <windows.h>

#include <array>
#include <atomic>

#include "gfx/image.h"
#include "tests/support/kvtest.h"
#include "ui/dialog.h"
#include "ui/ui_texts.h"

namespace uitest {

// Counts the drags it is asked for instead of entering the system's move loop (no button is
// really held), its creations and the ends of its animations.
class ProbeDlg : public CKvDlg {
 public:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) override {
    if (wnd == m_hWnd && msg == WM_NCLBUTTONDOWN) return drags += w == HTCAPTION, 0;
    if (wnd == m_hWnd && msg == kv::ui::WM_KV_EFFECTDONE) ++done;
    return CKvDlg::WndProc(wnd, msg, w, l);
  }
  void OnCreate() override { ++creates, CKvDlg::OnCreate(); }
  int drags = 0, creates = 0;
  std::atomic<int> done{0};
};

// The helper program carries the check box's pictures, which the product itself does not.
inline bool UseHelperPictures() {
  static HMODULE module = ::LoadLibraryExW((kvtest::BinDir() + L"kvtesthelper.exe").c_str(),
                                           nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module) GetKvImage()->SetInst(module);
  return module != nullptr;
}

using Box = std::array<int, 4>;

}  // namespace uitest
