#pragma once
// Literal texts of the clean-up after the file deletion and of the self-deletion script.

// The product's entry in the list of installed programs lives under this HKLM key; the record's
// uninstallKey is appended directly.
constexpr wchar_t kUninstallKeyRoot[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

constexpr wchar_t kScriptPath[] = L"c:\\clear.bat";
constexpr wchar_t kScriptFolder[] = L"c:\\";
// Only administrators and the system may read or change the script: it runs with our rights.
constexpr wchar_t kScriptSecurity[] = L"D:P(A;;FA;;;BA)(A;;FA;;;SY)";
// cmd by its full path, without AutoRun commands and without delayed expansion, so that nothing
// but the script runs and "!" in a path stays a "!".
constexpr wchar_t kScriptCommandFormat[] = L"\"%s\\cmd.exe\" /d /q /v:off /c %s";
// The script ends this very process by its id (taskkill by its full path: cmd would look in the
// working folder first), deletes the program and, when it is empty then, the program's folder.
constexpr wchar_t kScriptTemplateFile[] =
    L"@ echo off\r\n\"%s\\taskkill.exe\" /pid %s /f\r\ndel \"%s\"\r\ndel %%0";
constexpr wchar_t kScriptTemplateFolder[] =
    L"@ echo off\r\n\"%s\\taskkill.exe\" /pid %s /f\r\ndel \"%s\"\r\nrd \"%s\"\r\ndel %%0";
