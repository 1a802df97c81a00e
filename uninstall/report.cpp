#include "uninstall/report.h"

#include <atomic>
#include <cwchar>
#include <memory>
#include <string>

#include "services/http_client.h"
#include "util/handles.h"
#include "util/identity.h"
#include "util/format.h"
#include "util/caller_text.h"

namespace {

constexpr wchar_t kReportFormat[] = L"%s?type=%s&value=%s&uuid=%s&sign=%d";
constexpr size_t kTypeRoom = 30;
constexpr size_t kValueRoom = 100;
constexpr int kUidBufferChars = 50;
constexpr int kAnswerBytes = 50;       // the answer is read and ignored
constexpr size_t kMaxUrlChars = 1024;  // with its terminator

std::atomic<int> g_in_flight{0};

// Runs on the report's own thread; owns the block.
DWORD WINAPI SendReport(void* param) {
  std::unique_ptr<ReportRequest> request(static_cast<ReportRequest*>(param));
  wchar_t value[kMaxUrlChars] = {};
  std::wcscpy(value, request->value);
  if (!URLEncode(value)) value[0] = L'\0';
  wchar_t uid[kUidBufferChars] = {};
  CreateUID(uid, 1);
  const int sign = static_cast<int>(::GetTickCount());

  const std::wstring url =
      kv::FormatBounded(kMaxUrlChars, kReportFormat, request->url, request->type, value, uid, sign);

  char answer[kAnswerBytes] = {};
  CKvNet::Instance().GetUrlInfo(url.c_str(), answer, kAnswerBytes);
  request.reset();
  --g_in_flight;
  return 0;
}

}  // namespace

void DoReport(LPCWSTR url, LPCWSTR type, LPCWSTR value) {
  if (!url || !type || std::wcslen(type) >= kTypeRoom) return;
  auto request = std::make_unique<ReportRequest>();
  *request = {};
  kv::CopyToField(request->url, url);
  kv::CopyToField(request->type, type);
  if (value && std::wcslen(value) < kValueRoom) kv::CopyToField(request->value, value);

  ++g_in_flight;
  kv::UniqueHandleKernel thread(::CreateThread(nullptr, 0, SendReport, request.get(), 0, nullptr));
  if (!thread) {
    --g_in_flight;
    return;
  }
  request.release();  // the thread frees it
}

bool WaitForReports(DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (g_in_flight > 0) {
    if (::GetTickCount() - start >= timeoutMs) return false;
    ::Sleep(10);
  }
  return true;
}
