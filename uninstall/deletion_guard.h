#pragma once
// The one gate every deletion of the uninstaller passes. The program runs as administrator and
// deletes what a file written by someone else names, so a path is taken only when it is plainly
// an absolute drive path and, once its links are resolved, lies where a product may live: not a
// root, not a folder the system or a user owns, not above one, not inside Windows.
#include <windows.h>

#include <string>

namespace kv::guard {

enum class Refusal {
  kNone,
  kNotAbsolute,     // not of the form "X:\..." (relative, rooted at the current drive, empty)
  kForeignForm,     // UNC, "\\?\", device or stream names, forward slashes, wildcards
  kDotPiece,        // "." or ".." pieces, or pieces the system would trim (trailing dot or space)
  kUnresolved,      // the path could not be followed to its final form
  kRoot,            // a drive or volume root
  kWindows,         // the Windows folder or anything inside it
  kWellKnown,       // a folder of the system or of a user (Program Files, AppData, Desktop, ...)
  kProfileRoot,     // a user's profile folder, any user's
  kAboveWellKnown,  // a parent of any of those
  kLink,            // a link where a real folder is needed: it is never followed
  kOutside,         // resolves outside the folder it must stay in
};

// The reason in a few words, for the log.
const wchar_t* RefusalText(Refusal refusal);

struct Verdict {
  Refusal refusal = Refusal::kUnresolved;
  // The final path (links resolved, long names, the volume's own spelling) to work on instead
  // of the path asked about: a folder ends with a backslash, as the walk needs it.
  std::wstring resolved;
  explicit operator bool() const { return refusal == Refusal::kNone; }
};

// A folder to sweep (with or without a trailing backslash). It must exist as a real folder, not
// as a link. With within set, the folder must also lie strictly inside that folder.
Verdict CheckFolder(const std::wstring& folder, const std::wstring& within = L"");

// A single file to delete. Only the folder that holds it is resolved: a file that is itself a
// link is deleted as a link. The file need not exist.
Verdict CheckFile(const std::wstring& file);

// The checks an installer can make before anything is installed: the path's form, and, for the
// part of it that exists already, where it leads.
Verdict CheckPlannedFolder(const std::wstring& folder);
Verdict CheckPlannedFile(const std::wstring& file);

// The form alone: "X:\" followed by plain names; no links are looked at.
Refusal CheckForm(const std::wstring& path);

// A name that stays one plain name inside a folder: no separators, no "." or "..", nothing the
// system trims or reads as a device or a stream.
bool IsPlainName(const std::wstring& name);

// Case-insensitive equality and containment of final paths without trailing backslashes.
bool SamePath(const std::wstring& a, const std::wstring& b);
bool IsInside(const std::wstring& path, const std::wstring& folder);

// The final form of an existing file or folder, followed through its links: "X:\..." without a
// trailing backslash, or empty (gone, on a network, or not resolvable).
std::wstring FinalPath(const std::wstring& path);
std::wstring FinalPathOf(HANDLE handle);

}  // namespace kv::guard
