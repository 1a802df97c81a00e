// Calls the toolkit through the SDK: free functions and classes of kvUninstall.exe, bound by the
// import library the first time they are used. Prints what they give and exits 0 when all is as
// documented.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "services/hashing.h"
#include "services/rw_lock.h"
#include "services/xml_reader.h"
#include "util/files.h"

extern "C" int PlainDigest(char* out);  // the same from C, in plain.c

int wmain() {
  int failures = 0;
  auto expect = [&failures](bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    failures += ok ? 0 : 1;
  };
  wchar_t size[64] = {};
  IntToStrSize(1025, size);
  expect(std::wcscmp(size, L"1.00 KB") == 0, "IntToStrSize(1025) gives 1.00 KB");
  expect(CompVersion(L"1.2.10", L"1.2.9") == 1, "CompVersion orders 1.2.10 after 1.2.9");

  CKvXml& xml = CKvXml::Instance();
  xml.Parse(L"<a>1</a><a>2</a>");
  wchar_t value[16] = {};
  expect(xml.GetXmlNodeCount(L"a") == 2 && xml.GetXmlNodeValue(L"a", value, 1) &&
             std::wcscmp(value, L"2") == 0,
         "CKvXml finds the second <a>");
  CLock lock;
  lock.Lock();
  expect(lock.IsLockWrite(), "CLock is held for writing");
  lock.Unlock();

  char digest[40] = {};
  expect(PlainDigest(digest) && std::strcmp(digest, "900150983CD24FB0D6963F7D28E17F72") == 0,
         "MD5Go from C gives the digest of abc");
  return failures;
}
