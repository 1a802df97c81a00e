#pragma once
// Literal texts of the clean-up after the file deletion and of the self-deletion script.

// The product's entry in the list of installed programs lives under this HKLM key; the record's
// uninstallKey is appended directly.
constexpr wchar_t kUninstallKeyRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The product's link on the all-users desktop: desktop folder and display name.
constexpr wchar_t kDesktopLinkFormat[] = L"%s\\%s.lnk";

constexpr char kScriptPath[] = "c:\\clear.bat";
constexpr wchar_t kScriptPathW[] = L"c:\\clear.bat";
constexpr wchar_t kScriptFolder[] = L"c:\\";
constexpr wchar_t kScriptVerb[] = L"open";
// List mode: the executable goes. Folder mode: the installation folder goes with it.
constexpr wchar_t kScriptTemplateFile[] =
    L"@ echo off\r\ntaskkill /im kvUninstall.exe /f\r\ndel \"%s\"\r\ndel %%0";
constexpr wchar_t kScriptTemplateFolder[] =
    L"@ echo off\r\ntaskkill /im kvUninstall.exe /f\r\ndel \"%s\"\r\nrd /S /Q \"%s\"\r\ndel %%0";
