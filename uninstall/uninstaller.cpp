#include "uninstall/uninstaller.h"

#include <string>

#include "services/http_client.h"
#include "services/thread.h"
#include "uninstall/deletion_guard.h"
#include "uninstall/folder_sweep.h"
#include "uninstall/report.h"
#include "uninstall/run_log.h"
#include "uninstall/self_delete.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

constexpr DWORD kStartDelayMs = 300;

bool FolderMode(const UninstallRecord& record) { return record.installDir[0] != L'\0'; }

void LogNote(const wchar_t* what, const std::wstring& path, unsigned long error) {
  kv::runlog::Note(what, path, error);
}

// The final form of an existing file, or the path as it is when it cannot be resolved.
std::wstring FinalOrAsIs(const std::wstring& path) {
  const std::wstring final_path = kv::guard::FinalPath(path);
  return final_path.empty() ? path : final_path;
}

}  // namespace

CKvUninstaller::CKvUninstaller()
    : m_hNotify(nullptr),
      m_nFilesTotal(0),
      m_nFilesDone(0),
      m_record{},
      m_szOwnDir{},
      m_nQueued(0) {
  GetCurPath(m_szOwnDir);
}

CKvUninstaller::~CKvUninstaller() = default;

void CKvUninstaller::StartUninstall(HWND notify, int async) {
  m_hNotify = notify;
  if (async) {
    GetKvThread()->StartThread(&CKvUninstaller::UninstallThread, this, 1);
    return;
  }
  UninstallFunc();
}

// Runs on the detached worker thread.
unsigned __stdcall CKvUninstaller::UninstallThread(void* param) {
  if (!param) return 0;
  auto* self = static_cast<CKvUninstaller*>(param);
  ::Sleep(kStartDelayMs);
  self->UninstallFunc();
  ::PostMessageW(self->m_hNotify, WM_KV_PROGRESS, kProgressDone, 0);
  return 0;
}

bool CKvUninstaller::UninstallFunc() {
  const std::wstring own_dir = m_szOwnDir;
  const std::wstring record_path = own_dir + kRecordFileName;
  {
    kv::UniqueStdioFile file(_wfopen(record_path.c_str(), L"rb"));
    if (!file) {
      ::PostMessageW(m_hNotify, WM_KV_PROGRESS, kProgressDone, 0);
      return false;
    }
    ReadRecordLists(file.get(), &m_record, &m_removals, &m_shortcuts);
  }
  kv::runlog::Note(L"record " + record_path + L": key \"" + SlotText(m_record.uninstallKey) +
                   L"\", name \"" + SlotText(m_record.displayName) + L"\", menu folder \"" +
                   SlotText(m_record.menuFolder) + L"\", " +
                   (FolderMode(m_record)
                        ? L"folder mode, installDir \"" + SlotText(m_record.installDir) + L"\""
                        : L"list mode, " + std::to_wstring(m_removals.size()) + L" to remove") +
                   L", " + std::to_wstring(m_shortcuts.size()) + L" shortcuts");
  // Told before anything is gone; the report runs on its own thread. The client is made here so
  // that it has read proxy.dat before a folder sweep can take it away.
  CKvNet::Instance();
  DoReport(kReportEndpoint, kReportTypeUninstall, SlotText(m_record.displayName).c_str());

  m_nFilesDone = 0;
  m_nFilesTotal = 0;
  m_nQueued = 0;
  // Folder mode sweeps our own folder, unless it is one that no product may sweep: then nothing
  // in it goes.
  const kv::guard::Verdict own =
      FolderMode(m_record) ? kv::guard::CheckFolder(own_dir) : kv::guard::Verdict{};
  if (FolderMode(m_record)) {
    if (own) {
      m_nFilesTotal = CountFiles(own.resolved.c_str());
      SweepFolder(own.resolved);
      // What the walk leaves by rule (folders named with a leading full stop) is the product's
      // too: the rest of the folder goes, uncounted, before the program removes itself.
      SweepFolder(own.resolved, /*enter_dot_folders=*/true);
    } else {
      kv::runlog::NoteRefusal(L"own folder", own_dir, own.refusal);
    }
  } else {
    RemoveListed();
  }
  ClearReg(SlotText(m_record.uninstallKey).c_str());
  DelShortcut();
  // The record goes last: a run cut short can be finished by starting the uninstaller again.
  if (own) DeleteFileEntry(FinalOrAsIs(record_path));
  return true;
}

void CKvUninstaller::RemoveListed() {
  // Each entry is judged once: what the guard refuses is neither counted nor touched.
  std::vector<std::pair<bool, std::wstring>> targets;
  for (const UninstallEntry& entry : m_removals) {
    const std::wstring path = SlotText(entry.path);
    const kv::guard::Verdict verdict =
        entry.isFile ? kv::guard::CheckFile(path) : kv::guard::CheckFolder(path);
    if (!verdict) {
      kv::runlog::NoteRefusal(entry.isFile ? L"file" : L"folder", path, verdict.refusal);
      continue;
    }
    m_nFilesTotal += entry.isFile ? 1 : CountFiles(verdict.resolved.c_str());
    targets.emplace_back(entry.isFile != 0, verdict.resolved);
  }
  for (const auto& [is_file, path] : targets) {
    if (is_file)
      DeleteFileEntry(path);
    else
      SweepFolder(path);
  }
}

std::vector<std::wstring> CKvUninstaller::Deferred() const {
  std::vector<std::wstring> paths = {kv::self_delete::RunningProgram()};
  if (FolderMode(m_record))
    paths.push_back(FinalOrAsIs(std::wstring(m_szOwnDir) + kRecordFileName));
  return paths;
}

int CKvUninstaller::CountFiles(LPCWSTR dir) { return kv::sweep::FolderSweep::Count(dir); }

void CKvUninstaller::SendProgress() {
  if (m_nFilesTotal <= 0) return;
  const long long percent = static_cast<long long>(m_nFilesDone) * kProgressDone / m_nFilesTotal;
  if (percent >= 0 && percent <= kProgressDone)
    ::SendMessageW(m_hNotify, WM_KV_PROGRESS, static_cast<WPARAM>(percent), 0);
}

bool CKvUninstaller::SweepFolder(const std::wstring& root, bool enter_dot_folders) {
  // The second pass over a folder only finishes what the counted one left: it reports nothing.
  std::function<void()> on_file;
  if (!enter_dot_folders)
    on_file = [this] {
      ++m_nFilesDone;
      SendProgress();
    };
  kv::sweep::FolderSweep sweep(Deferred(), std::move(on_file), LogNote);
  if (!enter_dot_folders) kv::runlog::Note(L"sweeping", root);
  const bool entered = sweep.Sweep(root, enter_dot_folders);
  m_nQueued += sweep.queued();
  return entered;
}

bool CKvUninstaller::DelDir(LPCWSTR dir) {
  const kv::guard::Verdict verdict = kv::guard::CheckFolder(dir ? dir : L"");
  if (!verdict) {
    kv::runlog::NoteRefusal(L"folder", dir ? dir : L"", verdict.refusal);
    return false;
  }
  return SweepFolder(verdict.resolved);
}

void CKvUninstaller::DeleteFileEntry(const std::wstring& path) {
  if (kv::guard::SamePath(FinalOrAsIs(path), kv::self_delete::RunningProgram())) return;
  WIN32_FIND_DATAW data;
  kv::UniqueFind entry(::FindFirstFileW(path.c_str(), &data));
  if (!entry || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  const kv::sweep::FileOutcome outcome =
      kv::sweep::DeleteProductFile(path, data.dwFileAttributes, LogNote);
  if (outcome == kv::sweep::FileOutcome::kQueued) ++m_nQueued;
  if (outcome == kv::sweep::FileOutcome::kDeleted) kv::runlog::Note(L"deleted", path);
}
