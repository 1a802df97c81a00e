#pragma once
// Folders an uninstaller must never sweep, whatever its record says: drive roots and the
// system's well-known folders. A record that points there is a broken install, and emptying the
// folder would destroy far more than the product.
#include <string>

// True when folder (with or without a trailing backslash) is a drive or share root, or one of
// the Windows, system, Program Files, ProgramData, profile, Desktop or Documents folders.
bool IsProtectedFolder(const std::wstring& folder);
