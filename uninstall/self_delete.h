#pragma once
// The pieces of CKvUninstaller::DeleteSelf, apart so that they can be checked without ending a
// process: forming the script, writing it as a new file and starting it.
#include <windows.h>

#include <string>

namespace kv::self_delete {

// The running program's final path, taken once; empty when it cannot be taken.
std::wstring RunningProgram();

// A path as a batch file must spell it to mean that path: cmd expands "%" even inside quotes.
std::wstring BatchLiteral(const std::wstring& path);

// The script text: ends process pid with the system folder's taskkill, deletes exe and, when
// folder is not empty, removes that folder if nothing is left in it. Paths as they are written.
std::wstring ScriptText(const std::wstring& system_dir, DWORD pid, const std::wstring& exe,
                        const std::wstring& folder);

// text in code page, exactly; false (out unchanged) when some character has no exact form there.
bool ToCodePage(const std::wstring& text, UINT codePage, std::string* out);

// A spelling of path that code page holds exactly: the path itself or its short form. Empty when
// there is none. A lossy spelling must never reach the script: cmd reads the "?" that stands in
// for a missing character as a wildcard.
std::wstring SpellablePath(const std::wstring& path, UINT codePage);

// The code page cmd reads a batch file in: the console's, which is the OEM code page.
UINT ScriptCodePage();

// Writes bytes as a new file at path, line ends as the C runtime's text mode writes them (each
// line feed after an added carriage return), readable and writable by administrators and the
// system only. Whatever was at path is removed first; the file is created so that it cannot be
// an existing one. False (and nothing left at path by us) when any step fails.
bool WriteFreshScript(const std::wstring& path, const std::string& bytes);

// The command line that runs script: cmd by its full path, without AutoRun.
std::wstring ScriptCommandLine(const std::wstring& system_dir, const std::wstring& script);

// Starts the script hidden, without the shell; false when it could not be started.
bool StartScript(const std::wstring& script);

}  // namespace kv::self_delete
