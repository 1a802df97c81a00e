#pragma once
// The literal texts of the runtime services: formats and file modes.
#include <string_view>

namespace kv::services {

// XML reader: "%s" is the element or attribute name.
inline constexpr std::wstring_view kXmlOpenTagFormat = L"<%s>";
inline constexpr std::wstring_view kXmlCloseTagFormat = L"</%s>";
inline constexpr std::wstring_view kXmlAttrLeadFormat = L"%s=\"";

// Scrambled file copies.
inline constexpr wchar_t kReadBinaryMode[] = L"rb";
inline constexpr wchar_t kWriteBinaryMode[] = L"wb";

}  // namespace kv::services
