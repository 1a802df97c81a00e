#include "services/xml_reader.h"

#include <string_view>

#include "services/services_texts.h"

namespace {

using kv::services::kXmlAttrLeadFormat;
using kv::services::kXmlCloseTagFormat;
using kv::services::kXmlOpenTagFormat;

// The markup the searches look for.
constexpr std::wstring_view kTagStart = L"<";
constexpr std::wstring_view kTagEnd = L">";
constexpr std::wstring_view kEmptyElementEnd = L"/>";
constexpr std::wstring_view kCloseTagStart = L"</";
constexpr std::wstring_view kQuote = L"\"";

constexpr int kNone = -1;

// Puts name in place of the one "%s" of format.
std::wstring FormatName(std::wstring_view format, LPCWSTR name) {
  const size_t at = format.find(L"%s");
  std::wstring text(format.substr(0, at));
  text += name ? name : L"";
  text += format.substr(at + 2);
  return text;
}

// std::wstring::find as a signed index: kNone when absent or when from is past the text.
int Find(std::wstring_view text, std::wstring_view what, int from) {
  if (from < 0) return kNone;
  const size_t at = text.find(what, static_cast<size_t>(from));
  return at == std::wstring_view::npos ? kNone : static_cast<int>(at);
}

// First step of every query: the output is empty whatever happens next.
void Clear(LPWSTR out) {
  if (out) out[0] = L'\0';
}

// Copies text[from, from + length) and its terminator into the caller's buffer.
int Emit(std::wstring_view text, int from, int length, LPWSTR out) {
  if (from < 0 || length < 0 || !out) return 0;
  text.substr(static_cast<size_t>(from), static_cast<size_t>(length))
      .copy(out, static_cast<size_t>(length));
  out[length] = L'\0';
  return 1;
}

}  // namespace

CKvXml::CKvXml() = default;
CKvXml::CKvXml(const CKvXml& other) = default;
CKvXml& CKvXml::operator=(const CKvXml& other) = default;
CKvXml::~CKvXml() = default;

CKvXml& CKvXml::Instance() {
  static CKvXml reader;
  return reader;
}

int CKvXml::Parse(LPCWSTR xml) {
  m_strXml = xml ? xml : L"";
  return 1;
}

int CKvXml::GetXmlNodeValue(LPCWSTR name, LPWSTR out) {
  Clear(out);
  const std::wstring open = FormatName(kXmlOpenTagFormat, name);
  const std::wstring close = FormatName(kXmlCloseTagFormat, name);
  const int o = Find(m_strXml, open, 0);
  if (o == kNone) return 0;
  const int start = o + static_cast<int>(open.size());
  // The close tag is searched from the document's start, not from the open tag: a close tag that
  // stands before the open tag gives a negative length and no answer.
  const int c = Find(m_strXml, close, 0);
  if (c == kNone || c - start < 0) return 0;
  return Emit(m_strXml, start, c - start, out);
}

int CKvXml::GetXmlNodeValue(LPCWSTR name, LPWSTR out, int index) {
  Clear(out);
  if (index < 0) return 0;
  const std::wstring open = FormatName(kXmlOpenTagFormat, name);
  const std::wstring close = FormatName(kXmlCloseTagFormat, name);
  int p = 0;
  for (int i = 0; i <= index; ++i) {
    p = Find(m_strXml, open, p);
    if (p == kNone) return 0;
    p += static_cast<int>(open.size());
  }
  const int c = Find(m_strXml, close, p);
  if (c == kNone) return 0;
  return Emit(m_strXml, p, c - p, out);
}

int CKvXml::GetXmlNodeValue(LPCWSTR name, LPWSTR out, int* position) {
  Clear(out);
  if (!position) return 0;
  const std::wstring open = FormatName(kXmlOpenTagFormat, name);
  const std::wstring close = FormatName(kXmlCloseTagFormat, name);
  int p = Find(m_strXml, open, *position);
  *position = p;
  if (p == kNone) return 0;
  p += static_cast<int>(open.size());
  const int c = Find(m_strXml, close, p);
  if (c == kNone) return 0;
  if (!Emit(m_strXml, p, c - p, out)) return 0;
  *position = c;
  return 1;
}

int CKvXml::GetXmlNodeCount(LPCWSTR name) {
  const std::wstring open = FormatName(kXmlOpenTagFormat, name);
  int n = 0;
  for (int p = Find(m_strXml, open, 0); p != kNone; p = Find(m_strXml, open, p + 1)) ++n;
  return n;
}

int CKvXml::GetXmlNode(LPWSTR out, int* position) {
  Clear(out);
  if (!position) return 0;
  const int p = Find(m_strXml, kTagStart, *position);
  *position = p;
  if (p == kNone) return 0;
  int e = Find(m_strXml, kEmptyElementEnd, p);
  if (e != kNone) e += static_cast<int>(kEmptyElementEnd.size());
  const int c = Find(m_strXml, kCloseTagStart, p);
  if (c > 0 && (c < e || e == kNone)) {
    // A close tag without its ">" would end the element before it starts; no element then.
    const int gt = Find(m_strXml, kTagEnd, c);
    e = gt == kNone ? kNone : gt + 1;
  }
  if (e == kNone || e - p < 0) return 0;
  if (!Emit(m_strXml, p, e - p, out)) return 0;
  *position += e - p;
  return 1;
}

int CKvXml::GetNodeAttr(LPCWSTR node, LPCWSTR attr, LPWSTR out) {
  Clear(out);
  const std::wstring_view text = node ? node : L"";
  if (!attr || !*attr) {
    const int a = Find(text, kTagEnd, 0);
    if (a == kNone) return 0;
    const int b = Find(text, kTagStart, a + 1);
    if (b == kNone) return 0;
    return Emit(text, a + 1, b - (a + 1), out);
  }
  const std::wstring lead = FormatName(kXmlAttrLeadFormat, attr);
  const int a = Find(text, lead, 0);
  if (a == kNone) return 0;
  const int start = a + static_cast<int>(lead.size());
  const int b = Find(text, kQuote, start);
  if (b == kNone) return 0;
  return Emit(text, start, b - start, out);
}

int Parse(LPCWSTR xml) { return CKvXml::Instance().Parse(xml); }

int GetXmlNodeValue(LPCWSTR name, LPWSTR out) {
  return CKvXml::Instance().GetXmlNodeValue(name, out);
}

int GetXmlNodeValue2(LPCWSTR name, LPWSTR out, int index) {
  return CKvXml::Instance().GetXmlNodeValue(name, out, index);
}

int GetXmlNodeValue3(LPCWSTR name, LPWSTR out, int* position) {
  return CKvXml::Instance().GetXmlNodeValue(name, out, position);
}

int GetXmlNodeCount(LPCWSTR name) { return CKvXml::Instance().GetXmlNodeCount(name); }
