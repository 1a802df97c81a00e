#include "uninstall/run_log.h"

#include "services/logger.h"

namespace kv::runlog {

void Note(const std::wstring& line) { CKvLog::Instance().WriteLog(line.c_str()); }

void NoteRefusal(const wchar_t* what, const std::wstring& path, guard::Refusal refusal) {
  if (path.empty()) return;
  Note(std::wstring(L"refused ") + what + L" " + path + L": " + guard::RefusalText(refusal));
}

}  // namespace kv::runlog
