#include "app/silent_run.h"

#include <string>

#include "app/app.h"
#include "app/app_texts.h"
#include "services/hashing.h"
#include "uninstall/record.h"
#include "uninstall/report.h"
#include "uninstall/run_log.h"
#include "uninstall/uninstaller.h"

namespace kv::app {

// One name per product folder (any spelling of it), for every session of the machine.
SingleRun::SingleRun() {
  std::wstring folder = GetKvApp()->m_szAppDir;
  ::CharLowerBuffW(folder.data(), static_cast<DWORD>(folder.size()));
  const int bytes =
      ::WideCharToMultiByte(CP_UTF8, 0, folder.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string digest(static_cast<size_t>(bytes) + kMd5HexRoom, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, folder.c_str(), -1, digest.data(), bytes, nullptr, nullptr);
  MD5Go(digest.data(), nullptr);
  const std::wstring name = kRunMutexPrefix + std::wstring(digest.c_str(), digest.c_str() + 32);
  mutex_.reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
  if (mutex_ && ::GetLastError() == ERROR_ALREADY_EXISTS) mutex_.reset();
}

DWORD RunSilently() {
  const std::wstring record = std::wstring(GetKvApp()->m_szAppDir) + kRecordFileName;
  if (::GetFileAttributesW(record.c_str()) == INVALID_FILE_ATTRIBUTES) {
    kv::runlog::Note(L"no record:", record, ::GetLastError());
    return kExitNoRecord;
  }
  kv::UniqueFile readable(::CreateFileW(record.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  if (!readable) {
    kv::runlog::Note(L"record cannot be read:", record, ::GetLastError());
    return kExitBadRecord;
  }
  readable.reset();
  DoReport(kReportEndpoint, kReportTypeOpen, kReportValueOpen);
  CKvUninstaller engine;
  engine.StartUninstall(nullptr, 0);
  // The window's run takes seconds and lets its reports go out meanwhile; this one waits for them.
  WaitForReports(kReportWaitMs);
  engine.DeleteSelf();  // ends the process
  kv::runlog::Note(L"the program could not remove itself; exit code 1");
  return 1;
}

}  // namespace kv::app
