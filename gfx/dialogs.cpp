#include "gfx/dialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include <string>

#include "gfx/gfx_texts.h"
#include "util/caller_text.h"
#include "util/handles.h"

namespace {

namespace texts = kv::gfx;

constexpr DWORD kColorFlags = CC_RGBINIT | CC_FULLOPEN;
constexpr DWORD kOpenFlags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_READONLY;
static_assert(kOpenFlags == 0x81801 && (kOpenFlags | OFN_ALLOWMULTISELECT) == 0x81A01,
              "open flags");
static_assert(sizeof(OPENFILENAMEW) == 88, "the full open-file record");
constexpr UINT kFolderFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
constexpr UINT kWesternCodePage = 1252;
constexpr COLORREF kCustomColorStart = RGB(255, 255, 255);

}  // namespace

COLORREF GetColorDlg(HWND owner, COLORREF initial) {
  // The custom colours live for this call only; they start white.
  COLORREF custom[16];
  for (COLORREF& c : custom) c = kCustomColorStart;
  CHOOSECOLORW choose = {};
  choose.lStructSize = sizeof(choose);
  choose.hwndOwner = owner;
  choose.rgbResult = initial;
  choose.lpCustColors = custom;
  choose.Flags = kColorFlags;
  return ::ChooseColorW(&choose) ? choose.rgbResult : initial;
}

int ShowSaveFileDlg(LPWSTR buffer, HWND owner, LPCWSTR defExt, LPCWSTR filter) {
  if (!buffer) return 0;
  buffer[0] = L'\0';
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter;
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = kv::kPathRoom;
  ofn.lpstrDefExt = defExt;
  return ::GetSaveFileNameW(&ofn) ? 1 : 0;
}

int ShowOpenFileDlg(LPWSTR buffer, int bufferChars, HWND owner, LPCWSTR filter, LPCWSTR defExt,
                    int multiSelect) {
  if (!buffer || bufferChars <= 0) return 0;
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer;  // not emptied: its text is the initial file name
  ofn.nMaxFile = static_cast<DWORD>(bufferChars);
  ofn.lpstrDefExt = defExt;
  ofn.Flags = kOpenFlags | (multiSelect ? OFN_ALLOWMULTISELECT : 0);
  return ::GetOpenFileNameW(&ofn) ? 1 : 0;
}

int ShowSelDir(LPWSTR buffer, HWND owner) {
  if (!buffer) return 0;
  buffer[0] = L'\0';
  kv::ComInit com;
  const std::wstring title(::GetACP() == kWesternCodePage ? texts::kSelectFolderWestern
                                                          : texts::kSelectFolderChinese);
  BROWSEINFOW browse = {};
  browse.hwndOwner = owner;
  browse.lpszTitle = title.c_str();
  browse.ulFlags = kFolderFlags;
  kv::UniqueCoTaskMem chosen(::SHBrowseForFolderW(&browse));
  if (!chosen) return 0;
  // Writes at most MAX_PATH characters, its terminator included: the caller's room.
  return ::SHGetPathFromIDListW(static_cast<LPCITEMIDLIST>(chosen.get()), buffer) ? 1 : 0;
}
