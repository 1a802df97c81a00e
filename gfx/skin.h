#pragma once
// Where widget pictures come from: the module's resources (mode 0), loose files in a theme folder
// (mode 1) or named records of a skin package held in memory (mode 2).
//
// A skin package is binary, little-endian, with no file header: records back to back up to the
// end of the file, each a 60-byte UTF-16 name (NUL-terminated, zero-padded, at most 29
// characters), a 32-bit data length N and N bytes of data. SetSkinName names the skin's folder,
// <program folder>Skins\<name>\; the package LoadSkin reads is the file "skin.kvs" in that folder.
#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

#include "util/handles.h"
#include "util/kv_api.h"

// A record already found in the package: its name and a stream over a private copy of its data.
// The list holds the only reference to the stream.
struct tagSkinRes {
  wchar_t szName[30];
  IStream* pStream;
};

class KV_CLASS CKvSkin {
 public:
  CKvSkin();
  ~CKvSkin();
  CKvSkin(const CKvSkin&) = delete;
  CKvSkin& operator=(const CKvSkin&) = delete;

  // The modes: where widget pictures come from.
  static constexpr int kFromResources = 0;
  static constexpr int kFromTheme = 1;
  static constexpr int kFromPackage = 2;

  void SetResType(int mode);
  int GetResType();
  // Theme folder <program folder>Themes\<name>\; mode 1.
  void SetThemesName(const wchar_t* name);
  // Copies the theme folder into buffer (260 characters), cut to fit.
  void GetThemesPath(wchar_t* buffer);
  // Skin folder <program folder>Skins\<name>\; mode 2.
  void SetSkinName(const wchar_t* name);
  // Reads the whole package into memory; with a name, SetSkinName first.
  bool LoadSkin(const wchar_t* name);
  // The stream of the first record of that name (exact comparison), or false and null. The
  // stream stays the skin's: callers never release it, and every caller shares its position.
  bool GetRes(const wchar_t* name, IStream*& stream);
  void FreeSkin();
  // Writes a package of every file in folder (which ends with a separator), in the order the
  // enumeration returns them. Files that cannot be opened or whose name does not fit a record are
  // left out. False when the package cannot be made whole: it cannot be created or written, or a
  // file is too large for a record (4 GB and more) or for memory.
  bool MakeSkin(const wchar_t* folder, const wchar_t* packageFile);

  static constexpr int kNameChars = 29;
  static constexpr DWORD kHeadSize = 64;
  static constexpr DWORD kLengthOffset = 60;

 private:
  bool FindRes(const wchar_t* name, IStream*& stream);
  // Appends path's record; true also when the file is left out, false when the package failed.
  bool WriteSkin(FILE* file, const wchar_t* path);

  std::wstring m_strSkinPath;
  std::wstring m_strThemesPath;
  kv::UniqueGlobal m_hSkin;  // the whole package, or empty
  DWORD m_dwSkinSize = 0;
  int m_nResType = kFromResources;
  std::vector<tagSkinRes> m_vecRes;
};

// The process-wide skin state, built on first use.
KV_API CKvSkin* GetKvSkin();
