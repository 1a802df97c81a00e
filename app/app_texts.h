#pragma once
// The literal texts and fixed numbers of the application shell and its main dialog.

namespace kv::app {

inline constexpr wchar_t kAppName[] = L"栎禾软件-卸载程序";
inline constexpr wchar_t kDumpName[] = L"qz_uninstall_dump";

inline constexpr wchar_t kQuestionFormat[] = L"您确定要卸载%s?";
inline constexpr wchar_t kCancelCaption[] = L"取 消";
inline constexpr wchar_t kUninstallCaption[] = L"卸 载";

// Pictures.
inline constexpr int kBackgroundPicture = 60052;
inline constexpr int kCancelPicture = 60073;
inline constexpr int kUninstallPicture = 60074;
inline constexpr int kStripPicture = 60026;
inline constexpr int kMarkerPicture = 60027;

// Layout of the 450 x 230 window.
inline constexpr int kWindowWidth = 450;
inline constexpr int kWindowHeight = 230;
inline constexpr int kBackgroundY = 89;
inline constexpr int kQuestionX = 35, kQuestionY = 146, kQuestionW = 210, kQuestionH = 30;
inline constexpr int kUninstallX = 255;
inline constexpr int kCancelX = 325;
inline constexpr int kStripX = 75, kStripY = 150, kStripW = 279, kStripH = 23;
inline constexpr int kMarkerX = 60, kMarkerTravel = 240, kMarkerRestY = 30;

// Told when files in use wait for the next restart: "Some files are in use; restart the computer
// to complete the uninstall."
inline constexpr wchar_t kRestartNotice[] = L"部分文件正在使用中，重新启动计算机后将完成卸载。";
inline constexpr int kNoticeWidth = 300, kNoticeHeight = 200;
inline constexpr int kNoticeShowEffect = 8, kNoticeCloseEffect = 9;

// Told when the command line holds a switch the program does not know, and when another
// uninstall of the product runs.
inline constexpr wchar_t kUnknownSwitchNotice[] = L"无法识别的参数：";
inline constexpr wchar_t kBusyNotice[] = L"另一个卸载程序正在运行。";
// Named per product folder: one uninstall of a product at a time, across sessions.
inline constexpr wchar_t kRunMutexPrefix[] = L"Global\\KvUninstall_";
// How long a silent run lets its reports go out before it removes itself.
inline constexpr DWORD kReportWaitMs = 5000;

// Animations: the window opens sliding in and leaves sliding out to the left.
inline constexpr int kShowEffect = 0;
inline constexpr int kCancelEffect = 3;

}  // namespace kv::app
