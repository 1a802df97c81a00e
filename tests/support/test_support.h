#pragma once
// Helpers shared by the test programs: scratch folders in the test prefix, files, child processes.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kvtest {

// Folder of the running test program, with a trailing backslash (the build's bin folder).
std::wstring BinDir();

// A fresh, empty folder C:\kvtest\<name>\ (with a trailing backslash).
std::wstring FreshDir(const std::wstring& name);

void WriteText(const std::wstring& path, const std::string& text);
bool Exists(const std::wstring& path);
// Removes a file, or a folder with everything in it; links are removed, never followed.
void RemoveTree(const std::wstring& path);
void RemoveLink(const std::wstring& link);

// Under Wine: runs /bin/<program> with arguments on the Linux side and waits (at most 10 s) until
// done says its work is visible. False elsewhere or when it never becomes visible.
bool OnLinux(const std::wstring& program, const std::wstring& arguments,
             const std::function<bool()>& done);
// The Linux name of a path under Wine; empty elsewhere.
std::wstring LinuxPath(const std::wstring& path);

// A file of size bytes, all zero, that takes no room on disk: its end is set past nothing written.
bool SparseFile(const std::wstring& path, long long size);
// A file every write to fails for want of room (the Unix /dev/full through Wine's Z: drive);
// empty where there is none.
std::wstring FullDevice();

// Copies a program of the bin folder to target (a full file path).
bool CopyProgram(const std::wstring& program, const std::wstring& target);

struct ProcessResult {
  DWORD exit_code = static_cast<DWORD>(-1);
  std::string output;  // stdout and stderr, UTF-8
  bool timed_out = false;
};

// Starts command_line (a program path, quoted where needed, plus arguments) with its working
// folder set to dir (empty: inherit), waits at most timeout_ms and collects its output.
ProcessResult Run(const std::wstring& command_line, const std::wstring& dir = L"",
                  DWORD timeout_ms = 60000);

// Runs show(), which opens a modal dialog, on a thread of its own while act() works the dialog
// from this one, as a user would. Whatever act did, the dialog is then cancelled so that the thread
// ends. Returns whether a dialog was found; act receives its window.
bool Drive(const std::function<void()>& show, const std::function<void(HWND)>& act);

std::vector<std::string> Lines(const std::string& text);
std::string Utf8(const std::wstring& text);

}  // namespace kvtest
