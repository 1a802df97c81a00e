#pragma once
// A reader for flat, machine-written XML text: one document held as text and searched literally.
// It builds no tree and decodes nothing; an element is recognised only by its exact open tag
// "<name>". Positions are indexes in UTF-16 code units.
//
// Every query first empties its output, then answers 1 when it found what was asked and 0
// otherwise. Outputs are caller buffers of room characters (terminator included); a found text
// that does not fit is not cut: the answer is then 0 with an empty output, and a position argument
// is left at the element's start so that the same call with more room finds it again.
#include <windows.h>

#include <string>

#include "util/kv_api.h"

class KV_CLASS CKvXml {
 public:
  CKvXml();
  CKvXml(const CKvXml& other);
  CKvXml& operator=(const CKvXml& other);
  ~CKvXml();

  // The process-wide reader, created on first use. Parse must not run while another thread
  // queries it: the document is shared without a lock.
  static CKvXml& Instance();

  // Stores a copy of the document (a null text stores an empty one). Always 1.
  int Parse(LPCWSTR xml);
  // Text between the first "<name>" and the first "</name>" of the document.
  int GetXmlNodeValue(LPCWSTR name, LPWSTR out, int room);
  // Text of the index-th (from 0) element of that name, counted in document order.
  int GetXmlNodeValue(LPCWSTR name, LPWSTR out, int index, int room);
  // Text of the next element of that name at or after *position. On success *position is the
  // start of that element's close tag, so repeated calls walk a list; when there is none it is -1.
  int GetXmlNodeValue(LPCWSTR name, LPWSTR out, int* position, int room);
  // Number of occurrences of the open tag "<name>".
  int GetXmlNodeCount(LPCWSTR name);
  // The next whole element, tags included, at or after *position; *position moves past it.
  int GetXmlNode(LPWSTR out, int* position, int room);
  // The value of the double-quoted attribute attr in node text, or the inner text when attr is
  // empty. Works on the text given, not on the document.
  int GetNodeAttr(LPCWSTR node, LPCWSTR attr, LPWSTR out, int room);

 private:
  std::wstring m_strXml;
};

// The same queries on the process-wide reader. room: characters at out.
KV_API int Parse(LPCWSTR xml);
KV_API int GetXmlNodeValue(LPCWSTR name, LPWSTR out, int room = MAX_PATH);
KV_API int GetXmlNodeValue2(LPCWSTR name, LPWSTR out, int index, int room = MAX_PATH);
KV_API int GetXmlNodeValue3(LPCWSTR name, LPWSTR out, int* position, int room = MAX_PATH);
KV_API int GetXmlNodeCount(LPCWSTR name);
