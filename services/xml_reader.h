#pragma once
// A reader for flat, machine-written XML text: one document held as text and searched literally.
// It builds no tree and decodes nothing; an element is recognised only by its exact open tag
// "<name>". Positions are indexes in UTF-16 code units.
//
// Every query first empties its output, then answers 1 when it found what was asked and 0
// otherwise. Outputs are caller buffers that hold the found text and its terminator: the caller
// knows its documents, the reader takes no size.
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
  int GetXmlNodeValue(LPCWSTR name, LPWSTR out);
  // Text of the index-th (from 0) element of that name, counted in document order.
  int GetXmlNodeValue(LPCWSTR name, LPWSTR out, int index);
  // Text of the next element of that name at or after *position. On success *position is the
  // start of that element's close tag, so repeated calls walk a list; when there is none it is -1.
  int GetXmlNodeValue(LPCWSTR name, LPWSTR out, int* position);
  // Number of occurrences of the open tag "<name>".
  int GetXmlNodeCount(LPCWSTR name);
  // The next whole element, tags included, at or after *position; *position moves past it.
  int GetXmlNode(LPWSTR out, int* position);
  // The value of the double-quoted attribute attr in node text, or the inner text when attr is
  // empty. Works on the text given, not on the document.
  int GetNodeAttr(LPCWSTR node, LPCWSTR attr, LPWSTR out);

 private:
  std::wstring m_strXml;
};

// The same queries on the process-wide reader.
KV_API int Parse(LPCWSTR xml);
KV_API int GetXmlNodeValue(LPCWSTR name, LPWSTR out);
KV_API int GetXmlNodeValue2(LPCWSTR name, LPWSTR out, int index);
KV_API int GetXmlNodeValue3(LPCWSTR name, LPWSTR out, int* position);
KV_API int GetXmlNodeCount(LPCWSTR name);
