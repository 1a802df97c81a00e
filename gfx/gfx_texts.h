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
// Alpha of the text every widget draws (of 255).
inline constexpr int kTextAlpha = 254;

// Skins and themes.
inline constexpr wchar_t kThemesFormat[] = L"%sThemes\\%s\\";
inline constexpr wchar_t kSkinsFormat[] = L"%sSkins\\%s\\";
inline constexpr wchar_t kAllFiles[] = L"*.*";
inline constexpr wchar_t kPathJoin[] = L"%s%s";
// The package inside a skin's folder that LoadSkin opens.
inline constexpr wchar_t kSkinPackageFile[] = L"skin.kvs";

// Icons of internet shortcuts: the temporary folder and the cleaned icon address.
inline constexpr wchar_t kLocalIconFormat[] = L"%s%s";
inline constexpr wchar_t kHttpPrefix[] = L"http://";
inline constexpr wchar_t kHttpsPrefix[] = L"https://";
// Characters no file name holds: separators, the drive and stream colon, wildcards and the rest.
inline constexpr wchar_t kNameBreakers[] = L"\\/:*?\"<>|";
// Names Win32 takes for devices in every folder.
inline constexpr const wchar_t* kDeviceNames[] = {
    L"con",  L"prn",  L"aux",  L"nul",  L"com1", L"com2", L"com3", L"com4",
    L"com5", L"com6", L"com7", L"com8", L"com9", L"lpt1", L"lpt2", L"lpt3",
    L"lpt4", L"lpt5", L"lpt6", L"lpt7", L"lpt8", L"lpt9"};

// MCI commands of the MP3 player.
inline constexpr wchar_t kMciOpenFormat[] = L"open %s alias mymusic";
inline constexpr wchar_t kMciPlayRepeat[] = L"play mymusic repeat";
inline constexpr wchar_t kMciPlay[] = L"play mymusic";
inline constexpr wchar_t kMciPauseFormat[] = L"pause %s";
inline constexpr wchar_t kMciResumeFormat[] = L"resume %s";
inline constexpr wchar_t kMciStopFormat[] = L"stop %s";

// Title of the folder browser on a Western (code page 1252) system and on any other.
inline constexpr wchar_t kSelectFolderWestern[] = L"Please select the folder";
inline constexpr wchar_t kSelectFolderChinese[] = L"请选择文件夹";

}  // namespace kv::gfx
