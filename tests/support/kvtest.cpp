#include <winsock2.h>
#include <ws2tcpip.h>
#include <winternl.h>

#include "tests/support/kvtest.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "gfx/image.h"
#include "util/files.h"
#include "util/handles.h"

namespace kvtest {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

HKEY OpenKey(HKEY root, const std::wstring& path, REGSAM access) {
  HKEY key = nullptr;
  return ::RegOpenKeyExW(root, path.c_str(), 0, access, &key) == ERROR_SUCCESS ? key : nullptr;
}

// One exchange with a loopback server: the request goes out whole, the answer's body comes back
// (the server closes each connection after its answer).
std::string Exchange(const std::string& address, unsigned short port, const std::string& request) {
  static const bool started = [] {
    WSADATA wsa;
    return ::WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  }();
  if (!started) return {};
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return {};
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = ::htons(port);
  ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
  std::string reply;
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
    for (size_t sent = 0; sent < request.size();) {
      const int n = ::send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    char chunk[4096];
    for (int n; (n = ::recv(s, chunk, sizeof(chunk), 0)) > 0;) reply.append(chunk, static_cast<size_t>(n));
  }
  ::closesocket(s);
  const size_t body = reply.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

HttpRequest ParseRequest(const std::string& raw) {
  HttpRequest request;
  const size_t head_end = raw.find("\r\n\r\n");
  const std::string head = raw.substr(0, head_end);
  size_t line_end = head.find("\r\n");
  const std::string first = head.substr(0, line_end);
  const size_t sp1 = first.find(' '), sp2 = first.rfind(' ');
  request.method = first.substr(0, sp1);
  request.target = sp2 > sp1 ? first.substr(sp1 + 1, sp2 - sp1 - 1) : "";
  while (line_end != std::string::npos) {
    const size_t next = head.find("\r\n", line_end + 2);
    const std::string line =
        head.substr(line_end + 2, next == std::string::npos ? std::string::npos : next - line_end - 2);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    line_end = next;
  }
  if (head_end != std::string::npos) request.body = raw.substr(head_end + 4);
  return request;
}

struct Reader {
  HANDLE pipe;
  std::string text;
};

DWORD WINAPI ReadAllOf(void* param) {
  auto* reader = static_cast<Reader*>(param);
  char buffer[4096];
  for (DWORD got = 0; ::ReadFile(reader->pipe, buffer, sizeof(buffer), &got, nullptr) && got;)
    reader->text.append(buffer, got);
  return 0;
}

}  // namespace

// ---- places and files ---------------------------------------------------------------------------

std::wstring BinDir() {
  wchar_t dir[MAX_PATH + 1] = {};
  GetCurPath(dir);
  return dir;
}

std::wstring FreshDir(const std::wstring& name) {
  const std::wstring dir = L"C:\\kvtest\\" + name + L"\\";
  RemoveTree(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

std::string Utf8(const std::wstring& text) {
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
  return out;
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::wstring& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Wine cannot remove a link to a folder through any Windows call: there the Linux side removes
// links, and whole trees, whose removal never follows a link.
// Nothing runs for what is not there: a Linux program started for nothing could still be at work
// when the path is made anew.
void RemoveLink(const std::wstring& link) {
  if (!Exists(link) || ::RemoveDirectoryW(link.c_str()) || ::DeleteFileW(link.c_str())) return;
  if (const std::wstring name = LinuxPath(link); !name.empty())
    OnLinux(L"rm", L"-f \"" + name + L"\"", [&] { return !Exists(link); });
}

void RemoveTree(const std::wstring& path) {
  if (!Exists(path)) return;
  if (const std::wstring name = LinuxPath(path); !name.empty()) {
    OnLinux(L"rm", L"-rf \"" + name + L"\"", [&] { return !Exists(path); });
    return;
  }
  std::wstring dir = path;
  while (dir.size() > 3 && dir.back() == L'\\') dir.pop_back();
  const DWORD attributes = ::GetFileAttributesW(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLink(dir);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(dir.c_str());
    return;
  }
  for (const std::wstring& name : FileNames(dir + L"\\*"))
    if (name != L"." && name != L"..") RemoveTree(dir + L"\\" + name);
  ::RemoveDirectoryW(dir.c_str());
}

bool CopyProgram(const std::wstring& program, const std::wstring& target) {
  return ::CopyFileW((BinDir() + program).c_str(), target.c_str(), FALSE) != 0;
}

std::wstring FolderWith(const std::wstring& name, std::initializer_list<const wchar_t*> files) {
  const std::wstring dir = FreshDir(name);
  for (const wchar_t* file : files) EXPECT_TRUE(CopyProgram(file, dir + file)) << Utf8(file);
  return dir;
}

std::vector<std::wstring> FileNames(const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  kv::UniqueFind find(::FindFirstFileW(pattern.c_str(), &found));
  if (!find) return names;
  do names.push_back(found.cFileName);
  while (::FindNextFileW(find.get(), &found));
  return names;
}

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
  auto is_link = [&link] {
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  };
  // Windows makes the link itself; Wine answers success and makes nothing.
  if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && is_link()) return true;
  const std::wstring link_unix = LinuxPath(link), target_unix = LinuxPath(target);
  return !link_unix.empty() && !target_unix.empty() &&
         OnLinux(L"ln", L"-s \"" + target_unix + L"\" \"" + link_unix + L"\"", is_link);
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return hex;
}

// ---- processes ----------------------------------------------------------------------------------

ProcessResult Run(const std::wstring& command_line, const std::wstring& dir, DWORD timeout_ms) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  kv::UniqueHandleKernel read_end, write_end;
  if (!::CreatePipe(read_end.put(), write_end.put(), &inherit, 0)) return result;
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = write_end.get();
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::wstring command = command_line;
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &si, &pi))
    return result;
  kv::UniqueHandleKernel process(pi.hProcess), thread(pi.hThread);
  write_end.reset();  // only the child holds the write end now: reads end when it exits
  // Read on a thread of its own, so that a child that never exits still lets the wait time out.
  Reader reader{read_end.get(), {}};
  kv::UniqueHandleKernel reading(::CreateThread(nullptr, 0, ReadAllOf, &reader, 0, nullptr));
  if (::WaitForSingleObject(process.get(), timeout_ms) == WAIT_TIMEOUT) {
    result.timed_out = true;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
  }
  ::WaitForSingleObject(reading.get(), 5000);
  ::GetExitCodeProcess(process.get(), &result.exit_code);
  result.output = reader.text;
  return result;
}

ProcessResult Helper(const std::wstring& arguments, const std::wstring& dir, const std::wstring& program) {
  const std::wstring path = program.empty() ? BinDir() + L"kvtesthelper.exe" : program;
  return Run(L"\"" + path + L"\" " + arguments, dir);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::wstring LinuxPath(const std::wstring& path) {
  using Fn = char*(__cdecl*)(const wchar_t*);
  static const auto unix_name = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unix_name ? unix_name(path.c_str()) : nullptr;
  if (!name) return {};
  std::string text = name;
  ::HeapFree(::GetProcessHeap(), 0, name);
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return Wide(text);
}

bool OnLinux(const std::wstring& program, const std::wstring& arguments, const std::function<bool()>& done) {
  if (LinuxPath(L"C:\\").empty()) return false;
  Run(L"Z:\\bin\\" + program + L" " + arguments);
  return PollUntil(done, 10000);
}

namespace {

BOOL CALLBACK FindVisible(HWND wnd, LPARAM param) {
  auto* found = reinterpret_cast<std::pair<DWORD, HWND>*>(param);
  if (::GetWindowThreadProcessId(wnd, nullptr) != found->first || !::IsWindowVisible(wnd)) return TRUE;
  found->second = wnd;
  return FALSE;
}

HWND VisibleWindowOf(DWORD thread) {
  std::pair<DWORD, HWND> found{thread, nullptr};
  ::EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&found));
  return found.second;
}

}  // namespace

bool Drive(const std::function<void()>& show, const std::function<void(HWND)>& act) {
  std::atomic<DWORD> thread_id{0};
  std::atomic<bool> done{false};
  std::thread shower([&] {
    thread_id = ::GetCurrentThreadId();
    show();
    done = true;
  });
  HWND window = nullptr;
  PollUntil([&] { return thread_id && (window = VisibleWindowOf(thread_id)) != nullptr; }, 20000);
  if (window) {
    ::Sleep(300);  // the window sets itself up after it shows
    act(window);
  }
  // Whatever happened, end the window (or a box of its own) so that the thread can be joined.
  for (int i = 0; !PollUntil([&] { return done.load(); }, 500) && i < 40; ++i)
    if (HWND still = VisibleWindowOf(thread_id)) ::PostMessageW(still, WM_COMMAND, IDCANCEL, 0);
  shower.join();
  return window != nullptr;
}

// ---- waiting ------------------------------------------------------------------------------------

bool PollUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  for (const DWORD start = ::GetTickCount(); !done(); ::Sleep(10))
    if (::GetTickCount() - start > timeout_ms) return false;
  return true;
}

void Pump(DWORD ms) {
  const DWORD start = ::GetTickCount();
  MSG msg;
  do {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  } while (::GetTickCount() - start < ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  for (const DWORD start = ::GetTickCount(); !done(); Pump(10))
    if (::GetTickCount() - start > timeout_ms) return false;
  return true;
}

// ---- the registry -------------------------------------------------------------------------------

TempRegKey::TempRegKey(HKEY r, const std::wstring& name, std::initializer_list<REGSAM> views)
    : root(r), path(L"Software\\kvtest_" + name + L"_" + std::to_wstring(::GetCurrentProcessId())) {
  for (REGSAM view : views) SetRegRaw(root, path, nullptr, 0, nullptr, 0, view);
}

TempRegKey::~TempRegKey() {
  for (REGSAM view : {0, KEY_WOW64_32KEY, KEY_WOW64_64KEY}) DeleteRegTree(root, path, view);
}

bool SetRegRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD bytes,
               REGSAM view) {
  kv::UniqueKey key;
  if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS)
    return false;
  return !name || ::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
}

bool SetRegText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text, REGSAM view) {
  return SetRegRaw(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
                   view);
}

std::wstring RegText(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view, bool* found) {
  wchar_t text[1024] = {};
  DWORD bytes = sizeof(text) - sizeof(wchar_t), type = 0;
  kv::UniqueKey key(OpenKey(root, path, KEY_READ | view));
  const bool ok =
      key &&
      ::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ);
  if (found) *found = ok;
  return ok ? text : L"";
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  return kv::UniqueKey(OpenKey(root, path, KEY_READ | view)).get() != nullptr;
}

void DeleteRegTree(HKEY root, const std::wstring& path, REGSAM view) {
  if (kv::UniqueKey key(OpenKey(root, path, KEY_ALL_ACCESS | view)); key) ::RegDeleteTreeW(key.get(), nullptr);
  ::RegDeleteKeyExW(root, path.c_str(), view, 0);
}

int ExpectedWow64() {
  const char* expect = std::getenv("KV_EXPECT_WOW64");
  return expect ? std::atoi(expect) : -1;
}

UINT ExpectedCodePage() {
  const char* expect = std::getenv("KV_EXPECT_ACP");
  return expect ? static_cast<UINT>(std::atoi(expect)) : 0;
}

// ---- pixels -------------------------------------------------------------------------------------

namespace {

HBITMAP TopDownDib(int w, int h, uint32_t** bits) {
  BITMAPINFO bi = {};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  return ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(bits), nullptr, 0);
}

}  // namespace

Frame::Frame(int w, int h)
    : w_(w),
      h_(h),
      dc_(::CreateCompatibleDC(nullptr)),
      bitmap_(TopDownDib(w, h, &bits_)),
      selected_(dc_.get(), bitmap_.get()) {
  Fill(0);
}

uint32_t Frame::At(int x, int y) const {
  ::GdiFlush();
  return bits_[y * w_ + x];
}

std::vector<uint32_t> Frame::Pixels() const {
  ::GdiFlush();
  return std::vector<uint32_t>(bits_, bits_ + w_ * h_);
}

void Frame::Fill(uint32_t argb) {
  ::GdiFlush();
  std::fill(bits_, bits_ + w_ * h_, argb);
}

int Frame::Opaque(int x0, int y0, int x1, int y1) const {
  ::GdiFlush();
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += (bits_[y * w_ + x] >> 24) != 0;
  return n;
}

int Frame::CountNot(uint32_t value, int x0, int y0, int x1, int y1) const {
  ::GdiFlush();
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += bits_[y * w_ + x] != value;
  return n;
}

bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int shift = 0; shift < 32; shift += 8)
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
      return false;
  return true;
}

bool UseProgramPictures() {
  static HMODULE module = ::LoadLibraryExW((BinDir() + L"kvUninstall.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return false;
  GetKvImage()->SetInst(module);
  return true;
}

// ---- the HTTP peer ------------------------------------------------------------------------------

std::string HttpRequest::Header(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (Lower(n) == Lower(name)) return v;
  return "";
}

int HttpRequest::CountHeader(const std::string& name) const {
  return static_cast<int>(
      std::count_if(headers.begin(), headers.end(), [&](const auto& h) { return Lower(h.first) == Lower(name); }));
}

HttpAnswer Answer(const std::string& body, const std::string& encoding, int status) {
  HttpAnswer answer;
  answer.status = status;
  answer.body = body;
  if (!encoding.empty()) answer.headers.emplace_back("Content-Encoding", encoding);
  return answer;
}

// The factory's port is in the file KV_WIRE names (a Linux path: drive Z: reaches it).
Wire::Wire(const char* address, unsigned short port) : address_(address) {
  const char* port_file = std::getenv("KV_WIRE");
  if (!port_file) return;
  std::wstring path = L"Z:" + Wide(port_file);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  const int factory = std::atoi(ReadAll(path).c_str());
  if (factory <= 0) return;
  const std::string answer = Exchange(
      "127.0.0.1", static_cast<unsigned short>(factory),
      "GET /kvwire/new?address=" + address_ + "&port=" + std::to_string(port) + " HTTP/1.1\r\nHost: kvwire\r\n\r\n");
  port_ = static_cast<unsigned short>(std::atoi(answer.c_str()));
}

Wire::~Wire() {
  if (port_) Order("GET /kvwire/close HTTP/1.1\r\nHost: kvwire\r\n\r\n");
}

std::string Wire::Order(const std::string& request) { return Exchange(address_, port_, request); }

void Wire::SetAnswer(const HttpAnswer& answer) {
  std::string text = std::to_string(answer.status) + "\r\n";
  for (const auto& [n, v] : answer.headers) text += n + ": " + v + "\r\n";
  if (answer.reset_after) text += "Reset-After: " + std::to_string(answer.reset_after) + "\r\n";
  text += "\r\n" + answer.body;
  Order("POST /kvwire/answer HTTP/1.1\r\nHost: kvwire\r\nContent-Length: " + std::to_string(text.size()) + "\r\n\r\n" +
        text);
}

std::vector<HttpRequest> Wire::Requests() {
  const std::string records = Order("GET /kvwire/requests HTTP/1.1\r\nHost: kvwire\r\n\r\n");
  std::vector<HttpRequest> requests;
  for (size_t at = 0; at + 8 <= records.size();) {
    const size_t length = std::strtoul(records.substr(at, 8).c_str(), nullptr, 16);
    requests.push_back(ParseRequest(records.substr(at + 8, length)));
    at += 8 + length;
  }
  return requests;
}

void Wire::Clear() { Order("GET /kvwire/clear HTTP/1.1\r\nHost: kvwire\r\n\r\n"); }

bool Wire::WaitForRequests(size_t count, DWORD timeout_ms) {
  return PollUntil([&] { return Requests().size() >= count; }, timeout_ms);
}

std::string Wire::ProxyDat() const {
  auto field = [](const std::wstring& text, size_t chars) {
    std::string bytes(chars * 2, '\0');
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
  };
  const int enabled = 1;
  return std::string(reinterpret_cast<const char*>(&enabled), 4) + field(L"127.0.0.1", 100) +
         field(std::to_wstring(port_), 12) + field(L"", 50) + field(L"", 50);
}

std::string QueryValue(const std::string& target, const std::string& key, bool* found) {
  if (found) *found = false;
  const size_t q = target.find('?');
  if (q == std::string::npos) return "";
  for (size_t pos = q + 1; pos <= target.size();) {
    size_t amp = target.find('&', pos);
    if (amp == std::string::npos) amp = target.size();
    const std::string pair = target.substr(pos, amp - pos);
    const size_t eq = pair.find('=');
    if (pair.substr(0, eq) == key) {
      if (found) *found = true;
      return eq == std::string::npos ? "" : pair.substr(eq + 1);
    }
    pos = amp + 1;
  }
  return "";
}

void DeleteRegValue(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view) {
  if (kv::UniqueKey key(OpenKey(root, path, KEY_SET_VALUE | view)); key) ::RegDeleteValueW(key.get(), name);
}

// GetProcessHandleCount answers 0 under Wine: there the system's list of handles is counted.
DWORD OpenHandles() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count) return count;
  using Query = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<BYTE> list(1 << 16);
  NTSTATUS status = 0;
  while (query && (status = query(SystemHandleInformation, list.data(), static_cast<ULONG>(list.size()),
                                  nullptr)) == static_cast<NTSTATUS>(0xC0000004L))  // too small
    list.resize(list.size() * 2);
  if (!query || status != 0) return 0;
  const auto* info = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(list.data());
  for (ULONG i = 0; i < info->Count; ++i) count += info->Handle[i].OwnerPid == ::GetCurrentProcessId();
  return count;
}

// ---- files that fail, large files, streams -------------------------------------------------------

bool SparseFile(const std::wstring& path, long long size) {
  kv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  LARGE_INTEGER end = {};
  end.QuadPart = size;
  return file && ::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get());
}

std::wstring FullDevice() {
  // A device has no file attributes: opening it is the test.
  const std::wstring path = L"Z:\\dev\\full";
  kv::UniqueFile device(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
  return device ? path : L"";
}

std::string ReadRest(IStream* stream) {
  std::string rest;
  char chunk[4096];
  for (ULONG got = 0; stream && SUCCEEDED(stream->Read(chunk, sizeof(chunk), &got)) && got;) rest.append(chunk, got);
  return rest;
}

}  // namespace kvtest

// The test programs' entry: GoogleTest's run with one more answer for CTest. A run in which nothing
// failed but something was skipped ends with kvtest::kSkipped, which CTest counts as a skip, so a
// check this system cannot make is never reported as passed.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (const int failed = RUN_ALL_TESTS()) return failed;
  return testing::UnitTest::GetInstance()->skipped_test_count() ? kvtest::kSkipped : 0;
}
