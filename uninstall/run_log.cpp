#include "uninstall/run_log.h"

#include <mutex>

#include "services/logger.h"
#include "util/handles.h"
#include "util/format.h"

namespace kv::runlog {
namespace {

struct Sink {
  std::mutex mutex;
  kv::UniqueFile file;
};

Sink& TheSink() {
  static Sink sink;
  return sink;
}

bool IsLink(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  kv::UniqueFind entry(::FindFirstFileW(path.c_str(), &data));
  return entry && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string Utf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

}  // namespace

// Appends to an existing plain file, or creates a new one; never through a link. Where a handle
// cannot show a link as a link (Wine), its final path still shows where it led.
bool OpenFile(const std::wstring& path) {
  const size_t cut = path.find_last_of(L'\\');
  const std::wstring folder =
      cut == std::wstring::npos ? L"" : guard::FinalPath(path.substr(0, cut));
  if (folder.empty() || IsLink(path)) return false;
  const DWORD exists = ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  kv::UniqueFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    exists ? OPEN_EXISTING : CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
    return false;
  const std::wstring final_path = guard::FinalPathOf(file.get());
  if (!final_path.empty() && !guard::SamePath(final_path, folder + path.substr(cut))) return false;
  std::lock_guard<std::mutex> lock(TheSink().mutex);
  TheSink().file = std::move(file);
  return true;
}

void Note(const std::wstring& line) {
  CKvLog::Instance().WriteLog(line.c_str());
  Sink& sink = TheSink();
  std::lock_guard<std::mutex> lock(sink.mutex);
  if (!sink.file) return;
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  const std::wstring stamp =
      kv::FormatBounded(32, L"%d-%02d-%02d %02d:%02d:%02d ", now.wYear, now.wMonth, now.wDay,
                        now.wHour, now.wMinute, now.wSecond);
  const std::string bytes = Utf8(stamp + line + L"\r\n");
  DWORD written = 0;
  ::WriteFile(sink.file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void NoteRefusal(const wchar_t* what, const std::wstring& path, guard::Refusal refusal) {
  if (path.empty()) return;
  Note(std::wstring(L"refused ") + what + L" " + path + L": " + guard::RefusalText(refusal));
}

void Note(const wchar_t* what, const std::wstring& path, unsigned long error) {
  if (!error) return Note(std::wstring(what) + L" " + path);
  wchar_t* words = nullptr;
  ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<LPWSTR>(&words), 0, nullptr);
  kv::UniqueLocal owned(words);
  std::wstring reason = words ? words : L"error";
  while (!reason.empty() && std::wstring(L"\r\n .").find(reason.back()) != std::wstring::npos)
    reason.pop_back();
  Note(std::wstring(what) + L" " + path + L": " + reason + L" (" + std::to_wstring(error) + L")");
}

}  // namespace kv::runlog
