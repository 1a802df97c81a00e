/* The free functions kvUninstall.exe exports, for programs in C (or any language that reads a C
   header). C++ programs include the toolkit's own headers instead, which also declare its classes.
   Text is UTF-16 (wchar_t); buffers without a size argument hold what the toolkit's documentation
   says they must. */
#ifndef KVUNINSTALL_H
#define KVUNINSTALL_H

#include <windows.h>
#include <objidl.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The toolkit's classes, which C reaches only through pointers. */
typedef struct CKvApp CKvApp;
typedef struct CKvThread CKvThread;
typedef struct CkvDump CkvDump;
typedef struct CKvImage CKvImage;
typedef struct CKvFont CKvFont;
typedef struct CKvSkin CKvSkin;

typedef void (*KvCallback)(void* param);

/* kvUninstall.dat: the header, and an entry of its removal or shortcut list. */
typedef struct UninstallRecord {
  wchar_t uninstallKey[100];
  wchar_t displayName[50];
  wchar_t menuFolder[30];
  wchar_t installDir[200];
} UninstallRecord;
typedef struct UninstallEntry {
  int isFile;
  wchar_t path[260];
} UninstallEntry;

#define KV_PROTOTYPE(result, name, params) result name params;
#include "kvuninstall_functions.inc"
#undef KV_PROTOTYPE

#ifdef __cplusplus
}
#endif

#endif
