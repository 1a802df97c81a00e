#pragma once
// The pieces of CKvUninstaller::DeleteSelf, apart so that they can be checked without ending a
// process: choosing the template, forming the script and writing it.
#include <windows.h>

#include <cstdio>
#include <string>

namespace kv::self_delete {

// The folder the script removes: installDir when it names something that exists and is neither
// a drive root nor a system folder; otherwise empty (the script then removes only the program).
std::wstring FolderToRemove(const std::wstring& installDir);

// The script text: the folder template when folder is not empty, else the program-only one.
std::wstring ScriptText(const std::wstring& exe, const std::wstring& folder);

// text in code page, exactly; false (out unchanged) when some character has no exact form there.
bool ToCodePage(const std::wstring& text, UINT codePage, std::string* out);

// A spelling of path that code page holds exactly: the path itself or its short form. Empty when
// there is none. A lossy spelling must never reach the script: cmd reads the "?" that stands in
// for a missing character as a wildcard.
std::wstring SpellablePath(const std::wstring& path, UINT codePage);

// Opens the script for writing in text mode, so each line feed reaches the disk after an added
// carriage return; null when it cannot be created.
FILE* OpenScript(const char* path);
// Writes bytes as they are (no terminator); false when not all of them were written.
bool WriteScript(FILE* file, const std::string& bytes);

}  // namespace kv::self_delete
