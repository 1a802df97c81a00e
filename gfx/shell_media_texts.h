#pragma once
// Literal texts of the icon, tray, media and dialog functions, in one place. "%s" marks where a
// value goes (FillIn below).
#include <algorithm>
#include <string>
#include <string_view>

namespace kv::shell_media {

// Local names of internet-shortcut icons: "%s%s" is the temporary folder and the cleaned address.
inline constexpr std::wstring_view kLocalIconFormat = L"%s%s";
inline constexpr std::wstring_view kHttpPrefix = L"http://";
inline constexpr std::wstring_view kHttpsPrefix = L"https://";

// MCI commands.
inline constexpr std::wstring_view kMciOpenFormat = L"open %s alias mymusic";
inline constexpr std::wstring_view kMciPlayRepeat = L"play mymusic repeat";
inline constexpr std::wstring_view kMciPlay = L"play mymusic";
inline constexpr std::wstring_view kMciPauseFormat = L"pause %s";
inline constexpr std::wstring_view kMciResumeFormat = L"resume %s";
inline constexpr std::wstring_view kMciStopFormat = L"stop %s";

// Title of the folder browser on a Western (code page 1252) system and on any other.
inline constexpr std::wstring_view kSelectFolderWestern = L"Please select the folder";
inline constexpr std::wstring_view kSelectFolderChinese = L"请选择文件夹";

// Puts the values in place of the successive "%s" of format, in order.
template <typename... Values>
std::wstring FillIn(std::wstring_view format, const Values&... values) {
  std::wstring out;
  size_t from = 0;
  auto put = [&](std::wstring_view value) {
    const size_t at = format.find(L"%s", from);
    if (at == std::wstring_view::npos) {  // more values than places: nothing more to fill
      from = format.size();
      return;
    }
    out.append(format.substr(from, at - from));
    out.append(value);
    from = at + 2;
  };
  (put(std::wstring_view(values)), ...);
  out.append(format.substr(std::min(from, format.size())));
  return out;
}

}  // namespace kv::shell_media
