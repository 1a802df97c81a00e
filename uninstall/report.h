#pragma once
// Usage reports: one HTTP GET per event to the vendor's report server, sent on a thread of its
// own. The caller never waits and never learns the outcome.
#include <windows.h>

#include "util/kv_api.h"

#ifndef KV_REPORT_HOST
#define KV_REPORT_HOST L"reports.kv-uninstall.invalid"
#endif

// Endpoints on the report server; its host is a build setting.
constexpr wchar_t kReportEndpoint[] = L"http://" KV_REPORT_HOST L"/report.asp";
constexpr wchar_t kCrashReportEndpoint[] = L"http://" KV_REPORT_HOST L"/api.ashx";

// Events of the uninstaller.
constexpr wchar_t kReportTypeOpen[] = L"open";
constexpr wchar_t kReportValueOpen[] = L"Brix_Uninstall";
constexpr wchar_t kReportTypeUninstall[] = L"uninstall";

// The block handed to the sending thread: three NUL-terminated texts.
struct ReportRequest {
  wchar_t url[200];
  wchar_t type[30];
  wchar_t value[100];
};
static_assert(sizeof(ReportRequest) == 660, "330 UTF-16 code units");

// Sends "url?type=..&value=..&uuid=..&sign=.." on a new thread. Nothing is sent when url or type
// is missing or type has 30 characters or more; a missing value or one of 100 characters or more
// is sent empty.
KV_API void DoReport(LPCWSTR url, LPCWSTR type, LPCWSTR value);

// For tools and tests that end right after an event: waits up to timeoutMs for the reports still
// under way. True when none is left. The uninstaller itself never waits.
bool WaitForReports(DWORD timeoutMs);
