#pragma once
// The literal texts and fixed numbers of the widget toolkit.
#include <windows.h>

namespace kv::ui {

inline constexpr wchar_t kEditTypeName[] = L"CKvEditEx";
inline constexpr wchar_t kButtonSkinName[] = L"button";
inline constexpr wchar_t kButtonSkinExt[] = L".png";
// Theme folder, skin name, state, extension.
inline constexpr wchar_t kThemeFileFormat[] = L"%s%s_%d%s";
// Application name, tick count.
inline constexpr wchar_t kClassNameFormat[] = L"%s_KVWND_%d";
inline constexpr wchar_t kBmpFormat[] = L"bmp";

inline constexpr int kButtonPicture = 60001;
inline constexpr int kDialogBackground = 60051;

// Messages the toolkit posts to its own windows.
inline constexpr UINT WM_KV_EFFECTDONE = 7225;

// Mouse event types handed to widgets.
inline constexpr int kMouseDown = 0;
inline constexpr int kMouseUp = 1;
inline constexpr int kMouseMove = 4;
inline constexpr int kMouseRightUp = 5;

// Text, check box and message box.
inline constexpr wchar_t kCheckBoxSkinName[] = L"checkbox";
inline constexpr wchar_t kMsgBoxTitle[] = L"提示信息";
inline constexpr wchar_t kMsgBoxOk[] = L"确定";
inline constexpr wchar_t kMsgBoxCancel[] = L"取消";
// Seconds left.
inline constexpr wchar_t kMsgBoxOkCountdown[] = L"确定(%d)";

inline constexpr int kCheckBoxPicture = 60036;     // four states: 60036 to 60039
inline constexpr int kCloseButtonPicture = 60006;  // three states: 60006 to 60008
inline constexpr int kInfoPicture = 60056;
inline constexpr int kQuestionPicture = 60057;
inline constexpr int kAppIcon = 107;

}  // namespace kv::ui
