#pragma once
// Fills the "%s" places of a literal format with texts, in order. Plain substitution: no printf
// family call, so no question of how a wide "%s" is read.
#include <algorithm>
#include <string>
#include <string_view>

namespace kv {

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

}  // namespace kv
