#pragma once
// The literal texts of the graphics subsystem: font faces, file names, folders and formats.

namespace kv::gfx {

// Fonts.
inline constexpr wchar_t kFaceYaHei[] = L"微软雅黑";
inline constexpr wchar_t kFaceSimSun[] = L"宋体";
inline constexpr int kSizeYaHei = 18;
inline constexpr int kSizeSimSun = 12;
inline constexpr wchar_t kYaHeiTtf[] = L"\\msyh.ttf";
inline constexpr wchar_t kYaHeiTtc[] = L"\\msyh.ttc";

// Pictures.
inline constexpr wchar_t kImageType[] = L"IMG";
inline constexpr wchar_t kMimeFormat[] = L"image/%s";
inline constexpr wchar_t kDefaultMime[] = L"image/jpeg";
inline constexpr wchar_t kDisplay[] = L"DISPLAY";

// Skins and themes.
inline constexpr wchar_t kThemesFormat[] = L"%sThemes\\%s\\";
inline constexpr wchar_t kSkinsFormat[] = L"%sSkins\\%s\\";
inline constexpr wchar_t kAllFiles[] = L"*.*";
inline constexpr wchar_t kPathJoin[] = L"%s%s";
// The package inside a skin's folder that LoadSkin opens.
inline constexpr wchar_t kSkinPackageFile[] = L"skin.kvs";

}  // namespace kv::gfx
