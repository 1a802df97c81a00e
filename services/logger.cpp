#include "services/logger.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "services/registry.h"
#include "util/files.h"
#include "util/shared_memory.h"
#include "util/system.h"
#include "util/identity.h"
#include "util/format.h"

namespace {

namespace texts {
constexpr wchar_t kSwitchValue[] = L"debug";
constexpr wchar_t kSwitchOn[] = L"1";
constexpr wchar_t kFileNameFormat[] = L"%sKV-%d-%d-%d.log";
constexpr wchar_t kLineFormat[] = L"%d-%02d-%02d %02d:%02d:%02d\t%s\r\n";
constexpr wchar_t kAppendMode[] = L"ab";
}  // namespace texts

SYSTEMTIME Now() {
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  return now;
}

}  // namespace

namespace kv {

std::wstring LogFileNameFor(const std::wstring& folder, const SYSTEMTIME& time) {
  return FormatBounded(MAX_PATH + 64, texts::kFileNameFormat, folder.c_str(), time.wYear,
                       time.wMonth, time.wDay);
}

std::wstring LogLineFor(const SYSTEMTIME& time, const std::wstring& message) {
  return FormatBounded(message.size() + 65, texts::kLineFormat, time.wYear, time.wMonth, time.wDay,
                       time.wHour, time.wMinute, time.wSecond, message.c_str());
}

std::wstring FormatLogMessage(LPCWSTR format, va_list args) {
  if (!format) return {};
  std::wstring text = FormatBoundedV(CKvLog::kMessageUnits + 1, format, args);
  // Do not leave half of a surrogate pair at the cut.
  if (text.size() == static_cast<size_t>(CKvLog::kMessageUnits) && IS_HIGH_SURROGATE(text.back()))
    text.pop_back();
  return text;
}

}  // namespace kv

CKvLog& CKvLog::Instance() {
  static CKvLog log;
  return log;
}

CKvLog::CKvLog() : m_bForce(false), m_nMemPos(0), m_nMemSize(0) {}

CKvLog::~CKvLog() = default;

CKvLog::CKvLog(const CKvLog& other)
    : m_bForce(other.m_bForce.load()),
      m_strMemName(other.m_strMemName),
      m_nMemPos(other.m_nMemPos.load()),
      m_nMemSize(other.m_nMemSize) {
  HANDLE copy = nullptr;
  if (other.m_hMem &&
      ::DuplicateHandle(::GetCurrentProcess(), other.m_hMem.get(), ::GetCurrentProcess(), &copy, 0,
                        FALSE, DUPLICATE_SAME_ACCESS))
    m_hMem.reset(copy);
}

CKvLog& CKvLog::operator=(const CKvLog& other) {
  if (this == &other) return *this;
  CKvLog copy(other);
  m_bForce = copy.m_bForce.load();
  m_strMemName = std::move(copy.m_strMemName);
  m_hMem = std::move(copy.m_hMem);
  m_nMemPos = copy.m_nMemPos.load();
  m_nMemSize = copy.m_nMemSize;
  return *this;
}

void CKvLog::ForceLog(bool on) { m_bForce = on; }

bool CKvLog::isLog() {
  if (m_bForce) return true;
  wchar_t value[CKvReg::kValueRoom] = {};
  CKvReg& reg = CKvReg::Instance();
  if (!reg.GetRegInfo(HKEY_LOCAL_MACHINE, kVendorKey, texts::kSwitchValue, 0, value)) {
    value[0] = L'\0';
    if (isWow64()) reg.GetRegInfo(HKEY_LOCAL_MACHINE, kVendorKey, texts::kSwitchValue, 1, value);
  }
  return std::wcscmp(value, texts::kSwitchOn) == 0;
}

void CKvLog::GetLogFileName(std::wstring& name) {
  name = kv::LogFileNameFor(kv::ProgramFolder(), Now());
}

void CKvLog::WriteFileLine(LPCWSTR message) {
  std::wstring name;
  GetLogFileName(name);
  kv::UniqueStdioFile file(_wfopen(name.c_str(), texts::kAppendMode));
  if (!file) return;
  const std::wstring line = kv::LogLineFor(Now(), message ? message : L"");
  // The file is ANSI text of the thread's code page; what it lacks becomes the default character.
  const int bytes = ::WideCharToMultiByte(
      CP_THREAD_ACP, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::vector<char> narrow(static_cast<size_t>(bytes));
  ::WideCharToMultiByte(CP_THREAD_ACP, 0, line.data(), static_cast<int>(line.size()), narrow.data(),
                        bytes, nullptr, nullptr);
  std::fwrite(narrow.data(), 1, narrow.size(), file.get());
}

void CKvLog::WriteLog(LPCWSTR message) {
  if (!isLog()) return;
  WriteFileLine(message);
}

void CKvLog::WriteLog2(LPCWSTR format, ...) {
  if (!isLog()) return;
  va_list args;
  va_start(args, format);
  const std::wstring message = kv::FormatLogMessage(format, args);
  va_end(args);
  WriteFileLine(message.c_str());
}

void CKvLog::WriteLog3(LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  const std::wstring message = kv::FormatLogMessage(format, args);
  va_end(args);
  const std::wstring line = kv::LogLineFor(Now(), message);
  const int pos = m_nMemPos.load();
  // A line that would run past the block's end is lost, like a line for a missing block; the
  // position moves on in both cases, as readers expect. WriteShareMem refuses what crosses the end
  // the system reports; this checks the size asked for, which the system may round up.
  const long long end_bytes =
      (static_cast<long long>(pos) + static_cast<long long>(line.size()) + 1) * 2;
  if (end_bytes <= m_nMemSize) WriteShareMem(m_strMemName.c_str(), line.c_str(), pos);
  const long long next = static_cast<long long>(pos) + static_cast<long long>(line.size());
  m_nMemPos = next > INT_MAX ? INT_MAX : static_cast<int>(next);
}

void CKvLog::SetMemName(LPCWSTR name, int size) {
  m_strMemName = name ? name : L"";
  m_hMem.reset(CreateShareMem(m_strMemName.c_str(), size));
  m_nMemSize = m_hMem ? size : 0;
}

void WriteLog(LPCWSTR message) { CKvLog::Instance().WriteLog(message); }
