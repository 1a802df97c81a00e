#pragma once
// Loads kvUninstall.exe as the library it also is. Windows relocates an executable loaded so and
// binds its imports; Wine does neither, and then this does both. fixed_here tells whether
// anything had to be done here. Null when it cannot be loaded or bound.
#include <windows.h>

HMODULE KvLoadToolkit(const wchar_t* path, bool* fixed_here);
