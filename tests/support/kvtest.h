#pragma once
// The fixtures every test program shares: scratch folders and files in the test prefix, child
// processes and the helper program, the Linux side under Wine, waiting on a condition, registry
// keys of a test's own, off-screen 32-bit frames, and the HTTP peer on loopback.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "util/handles.h"

namespace kvtest {

// Exit code of a test program whose run skipped something and failed nothing (CTest's skip code).
constexpr int kSkipped = 77;

// ---- places and files -------------------------------------------------------------------------

// Folder of the running test program, with a trailing backslash (the build's bin folder).
std::wstring BinDir();
// A fresh, empty folder C:\kvtest\<name>\ (with a trailing backslash).
std::wstring FreshDir(const std::wstring& name);
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// The whole file as bytes; empty when it cannot be read.
std::string ReadAll(const std::wstring& path);
// Writes bytes as the whole file, making its folders.
void WriteText(const std::wstring& path, const std::string& bytes);
bool Exists(const std::wstring& path);
// Removes a file, or a folder with everything in it; links are removed, never followed.
void RemoveTree(const std::wstring& path);
void RemoveLink(const std::wstring& link);
// Copies a file of the bin folder (a program, zlib1.dll) to target, a full path.
bool CopyProgram(const std::wstring& program, const std::wstring& target);
// A fresh folder C:\kvtest\<name>\ holding copies of the given files of the bin folder.
std::wstring FolderWith(const std::wstring& name, std::initializer_list<const wchar_t*> files);
// Names of the files matching pattern (a path ending in wildcards), in the order found.
std::vector<std::wstring> FileNames(const std::wstring& pattern);
// A link at link (no trailing backslash) to the folder target; false where none can be made.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);

std::string FromHex(const std::string& hex);  // "0AFF" -> bytes 0A FF
std::string Hex(const std::string& bytes);    // upper case

// ---- processes ----------------------------------------------------------------------------------

struct ProcessResult {
  DWORD exit_code = static_cast<DWORD>(-1);
  std::string output;  // stdout and stderr together
  bool timed_out = false;
};

// Starts command_line (a program path, quoted where needed, plus arguments) in dir (empty: this
// process's folder), waits at most timeout_ms and collects its output.
ProcessResult Run(const std::wstring& command_line, const std::wstring& dir = L"", DWORD timeout_ms = 60000);
// The test helper program (kvtesthelper.exe of the bin folder, or program when given: a copy of
// it elsewhere) with a sub-command and its arguments.
ProcessResult Helper(const std::wstring& arguments, const std::wstring& dir = L"", const std::wstring& program = L"");
std::vector<std::string> Lines(const std::string& text);

// Under Wine: runs /bin/<program> on the Linux side and waits (at most 10 s) until done says its
// work is visible: Wine does not wait for a Linux program. False elsewhere.
bool OnLinux(const std::wstring& program, const std::wstring& arguments, const std::function<bool()>& done);
// The Linux name of a path under Wine; empty elsewhere.
std::wstring LinuxPath(const std::wstring& path);

// Shows a modal window (a common dialog, a message box) with show on a thread of its own, waits
// for the thread's first visible top-level window, lets act drive it, and ends it whatever act
// did; true when a window came.
bool Drive(const std::function<void()>& show, const std::function<void(HWND)>& act);

// ---- waiting ------------------------------------------------------------------------------------

// Polls done until it holds (true) or timeout_ms have passed (false).
bool PollUntil(const std::function<bool()>& done, DWORD timeout_ms);
// The same while dispatching this thread's messages, for tests that own windows.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms);
// Dispatches this thread's messages for about ms milliseconds.
void Pump(DWORD ms);

// ---- the registry -------------------------------------------------------------------------------

// Root\Software\kvtest_<name>_<process>, made in the given views (0, KEY_WOW64_32KEY,
// KEY_WOW64_64KEY) and removed from every view at the end.
struct TempRegKey {
  TempRegKey(HKEY root, const std::wstring& name, std::initializer_list<REGSAM> views = {0});
  ~TempRegKey();
  TempRegKey(const TempRegKey&) = delete;
  TempRegKey& operator=(const TempRegKey&) = delete;
  HKEY root;
  std::wstring path;
};
bool SetRegText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text, REGSAM view = 0);
bool SetRegRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD bytes,
               REGSAM view = 0);
std::wstring RegText(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0, bool* found = nullptr);
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);
void DeleteRegTree(HKEY root, const std::wstring& path, REGSAM view = 0);
// KV_EXPECT_WOW64 as the test table sets it: 1 under WOW64, 0 in the 32-bit prefix, -1 unset.
int ExpectedWow64();
// KV_EXPECT_ACP as the test table sets it: the ANSI code page the run is meant for, or 0.
UINT ExpectedCodePage();

// ---- pixels -------------------------------------------------------------------------------------

// A top-down 32-bit DIB section with its own memory DC, starting transparent black. Pixels read
// back as premultiplied 0xAARRGGBB, which is what GDI+ writes into such a bitmap.
class Frame {
 public:
  Frame(int w, int h);
  HDC dc() const { return dc_.get(); }
  int w() const { return w_; }
  int h() const { return h_; }
  uint32_t At(int x, int y) const;
  std::vector<uint32_t> Pixels() const;
  void Fill(uint32_t argb);
  // Pixels with any alpha inside [x0, x1) x [y0, y1).
  int Opaque(int x0, int y0, int x1, int y1) const;
  // Pixels inside [x0, x1) x [y0, y1) that differ from value.
  int CountNot(uint32_t value, int x0, int y0, int x1, int y1) const;

 private:
  int w_, h_;
  uint32_t* bits_ = nullptr;  // set as the bitmap is made
  kv::UniqueMemDC dc_;
  kv::UniqueBitmap bitmap_;
  kv::SelectObjectScope selected_;
};
// Every channel within tolerance.
bool Near(uint32_t a, uint32_t b, int tolerance = 2);
// The test programs carry no pictures: they draw the product's, from kvUninstall.exe.
bool UseProgramPictures();

// ---- the HTTP peer ------------------------------------------------------------------------------

struct HttpRequest {
  std::string method;
  std::string target;                                        // path and query, or the absolute URL through a proxy
  std::vector<std::pair<std::string, std::string>> headers;  // in order, values trimmed
  std::string body;
  // Value of the first header of that name (any case); empty when absent.
  std::string Header(const std::string& name) const;
  int CountHeader(const std::string& name) const;
};

struct HttpAnswer {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  size_t reset_after = 0;  // above 0: the connection is reset after that many body bytes
};
HttpAnswer Answer(const std::string& body, const std::string& encoding = "", int status = 200);

// A recording HTTP server of this test's own (tests/support/kvwire.py, started for the whole run),
// on address:port (port 0: any free one). It records every request as it arrived and answers each
// with the answer it was last given; as a proxy it sees absolute URLs.
class Wire {
 public:
  explicit Wire(const char* address = "127.0.0.1", unsigned short port = 0);
  ~Wire();
  Wire(const Wire&) = delete;
  Wire& operator=(const Wire&) = delete;
  bool ready() const { return port_ != 0; }
  unsigned short port() const { return port_; }
  void SetAnswer(const HttpAnswer& answer);
  std::vector<HttpRequest> Requests();
  void Clear();
  bool WaitForRequests(size_t count, DWORD timeout_ms);
  // proxy.dat naming this server as the proxy (428 bytes: enabled, host, port, no credentials).
  std::string ProxyDat() const;

 private:
  std::string Order(const std::string& request);
  std::string address_;
  unsigned short port_ = 0;
};
// Value of key in the query of a target ("...?a=1&b=2"); found set when the key is there.
std::string QueryValue(const std::string& target, const std::string& key, bool* found = nullptr);

// Removes one value of a key in the given view; nothing when it is not there.
void DeleteRegValue(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0);

// Handles this process holds open, for leak checks.
DWORD OpenHandles();

// ---- files that fail, large files, streams -------------------------------------------------------

// A file of that size that takes no room on disk; false when it cannot be made.
bool SparseFile(const std::wstring& path, long long size);
// A file every write to fails for want of room (Linux's /dev/full through Wine's Z: drive); empty
// where there is none.
std::wstring FullDevice();
// What is left to read in the stream, from where it stands.
std::string ReadRest(IStream* stream);

}  // namespace kvtest
