#include "services/chinese_text.h"

#include <cstring>
#include <string>

namespace {

constexpr LCID kSimplifiedChineseLocale = 2052;
constexpr UINT kGbkCodePage = 936;
constexpr UINT kBig5CodePage = 950;
constexpr unsigned char kLeadByteFloor = 0xA0;
constexpr unsigned char kFullWidthSymbolRow = 0xA3;

// The text's length, never reading past room bytes.
int LengthWithin(LPCSTR text, int room) {
  const void* end = std::memchr(text, '\0', static_cast<size_t>(room));
  return end ? static_cast<int>(static_cast<const char*>(end) - text) : room - 1;
}

// Copies bytes into text with a terminator, cut to the room.
void PutBack(const std::string& bytes, LPSTR text, int room) {
  const size_t n =
      bytes.size() < static_cast<size_t>(room) ? bytes.size() : static_cast<size_t>(room) - 1;
  std::memcpy(text, bytes.data(), n);
  text[n] = '\0';
}

// LCMapStringA with the Chinese locale reads and writes the locale's own code page, 936, whatever
// the system's ANSI code page is.
std::string ToTraditionalGbk(LPCSTR text, int length) {
  if (length == 0) return {};
  const int need =
      ::LCMapStringA(kSimplifiedChineseLocale, LCMAP_TRADITIONAL_CHINESE, text, length, nullptr, 0);
  if (need <= 0) return std::string(text, static_cast<size_t>(length));
  std::string mapped(static_cast<size_t>(need), '\0');
  ::LCMapStringA(kSimplifiedChineseLocale, LCMAP_TRADITIONAL_CHINESE, text, length, mapped.data(),
                 need);
  return mapped;
}

std::string Recode(const std::string& bytes, UINT from, UINT to) {
  if (bytes.empty()) return {};
  const int source_length = static_cast<int>(bytes.size());
  const int wide_length = ::MultiByteToWideChar(from, 0, bytes.data(), source_length, nullptr, 0);
  if (wide_length <= 0) return {};
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  ::MultiByteToWideChar(from, 0, bytes.data(), source_length, wide.data(), wide_length);
  const int out_length =
      ::WideCharToMultiByte(to, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  if (out_length <= 0) return {};
  std::string out(static_cast<size_t>(out_length), '\0');
  ::WideCharToMultiByte(to, 0, wide.data(), wide_length, out.data(), out_length, nullptr, nullptr);
  return out;
}

}  // namespace

void gb2big(LPSTR text, int room) {
  if (!text || room <= 0) return;
  const int length = LengthWithin(text, room);
  const std::string big5 = Recode(ToTraditionalGbk(text, length), kGbkCodePage, kBig5CodePage);
  if (big5.empty() && length > 0) return;  // nothing convertible: the text stays as it was
  PutBack(big5, text, room);
}

void GbToTraditional(LPSTR text, int room) {
  if (!text || room <= 0) return;
  if (::GetACP() == kBig5CodePage) {
    gb2big(text, room);
    return;
  }
  PutBack(ToTraditionalGbk(text, LengthWithin(text, room)), text, room);
}

int isHZ(LPCSTR text) {
  if (!text) return 0;
  const size_t length = std::strlen(text);
  const auto lead = static_cast<unsigned char>(text[0]);
  return length > 0 && length % 2 == 0 && lead > kLeadByteFloor && lead != kFullWidthSymbolRow;
}

int isDigital(LPCSTR text) {
  if (!text) return 0;
  for (; *text; ++text)
    if (*text < '0' || *text > '9') return 0;
  return 1;
}
