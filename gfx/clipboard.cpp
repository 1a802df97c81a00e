#include "gfx/clipboard.h"

#include <cwchar>

#include "util/handles.h"

namespace {

// Open for no window; closed when the scope ends.
class ClipboardScope {
 public:
  ClipboardScope() : open_(::OpenClipboard(nullptr) != FALSE) {}
  ClipboardScope(const ClipboardScope&) = delete;
  ClipboardScope& operator=(const ClipboardScope&) = delete;
  ~ClipboardScope() {
    if (open_) ::CloseClipboard();
  }
  explicit operator bool() const { return open_; }

 private:
  bool open_;
};

}  // namespace

int GetClipboard(LPWSTR buffer, int maxChars) {
  ClipboardScope clipboard;
  if (!clipboard) return 0;
  if (!buffer || maxChars <= 0) return 1;
  HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
  if (!data) return 1;
  kv::GlobalLockScope lock(data);
  const auto* text = static_cast<const wchar_t*>(lock.get());
  if (!text) return 1;
  // The block may end without a terminator: never read past it.
  const size_t block_chars = ::GlobalSize(data) / sizeof(wchar_t);
  const size_t length = wcsnlen(text, block_chars);
  const size_t n =
      length < static_cast<size_t>(maxChars) ? length : static_cast<size_t>(maxChars) - 1;
  wmemcpy(buffer, text, n);
  buffer[n] = L'\0';
  return 1;
}

int SetClipboard(LPCWSTR text) {
  ClipboardScope clipboard;
  if (!clipboard) return 0;
  ::EmptyClipboard();
  const size_t length = text ? std::wcslen(text) : 0;
  kv::UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 2 * length + 2));
  if (!block) return 0;
  {
    kv::GlobalLockScope lock(block.get());
    if (!lock.get()) return 0;
    if (length) wmemcpy(static_cast<wchar_t*>(lock.get()), text, length);
  }
  if (!::SetClipboardData(CF_UNICODETEXT, block.get())) return 0;  // still ours: freed on return
  block.release();                                                 // the clipboard owns it now
  return 1;
}

int KvGetStrWidth(LPCWSTR text, HWND window, HFONT font) {
  kv::WindowDC dc(window);
  if (!dc) return 0;
  kv::SelectObjectScope select(dc.get(), font);
  SIZE size = {};
  const int length = text ? static_cast<int>(std::wcslen(text)) : 0;
  if (!::GetTextExtentPoint32W(dc.get(), text ? text : L"", length, &size)) return 0;
  return size.cx;
}
