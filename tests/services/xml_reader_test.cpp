#include "services/xml_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>

namespace {

constexpr int kRoom = 512;

// Runs a query into a dirty buffer (so one that forgets to empty it is caught): "result|text".
// The buffer holds every text the tests look for; the queries take no size.
template <typename Query>
std::wstring Ask(Query query) {
  wchar_t out[kRoom];
  std::wmemset(out, L'#', kRoom);
  const int result = query(out);
  return std::to_wstring(result) + L"|" + std::wstring(out, wcsnlen(out, kRoom));
}
std::wstring Value(CKvXml& d, LPCWSTR name) {
  return Ask([&](LPWSTR out) { return d.GetXmlNodeValue(name, out); });
}
// The by-index form, called as its callers write it: name, output, index.
std::wstring ValueAt(CKvXml& d, LPCWSTR name, int index) {
  return Ask([&](LPWSTR out) { return d.GetXmlNodeValue(name, out, index); });
}
// Walks from *at: "result|text@position after".
std::wstring Walk(CKvXml& d, LPCWSTR name, int* at) {
  const std::wstring got = Ask([&](LPWSTR out) { return d.GetXmlNodeValue(name, out, at); });
  return got + L"@" + std::to_wstring(*at);
}
std::wstring Node(CKvXml& d, int* at) {
  const std::wstring got = Ask([&](LPWSTR out) { return d.GetXmlNode(out, at); });
  return got + L"@" + std::to_wstring(*at);
}
std::wstring Attr(LPCWSTR node, LPCWSTR attr) {
  CKvXml doc;
  return Ask([&](LPWSTR out) { return doc.GetNodeAttr(node, attr, out); });
}

CKvXml Doc(const wchar_t* xml) {
  CKvXml doc;
  EXPECT_EQ(1, doc.Parse(xml));
  return doc;
}

TEST(XmlValues, SameNamedElementsByOrderIndexAndWalk) {
  CKvXml doc = Doc(L"<a>1</a><a>2</a><b>x</b>");
  EXPECT_EQ(2, doc.GetXmlNodeCount(L"a"));
  EXPECT_EQ(L"1|1 1|2 0|", Value(doc, L"a") + L" " + ValueAt(doc, L"a", 1) + L" " + ValueAt(doc, L"a", 2));
  int at = 0;
  // Each step ends at the start of the close tag; an exhausted walk stays exhausted.
  EXPECT_EQ(L"1|1@4", Walk(doc, L"a", &at));
  EXPECT_EQ(L"1|2@12", Walk(doc, L"a", &at));
  EXPECT_EQ(L"0|@-1", Walk(doc, L"a", &at));
  EXPECT_EQ(L"0|@-1", Walk(doc, L"a", &at));
  at = 0;
  EXPECT_EQ(L"0 0| 0| 0|@-1", std::to_wstring(doc.GetXmlNodeCount(L"c")) + L" " + Value(doc, L"c") + L" " +
                                   ValueAt(doc, L"c", 0) + L" " + Walk(doc, L"c", &at));
}

TEST(XmlValues, TagMatching) {
  // The first value pairs the first open tag with the first close tag anywhere in the document.
  CKvXml early_close = Doc(L"</a>x<a>y</a>"), unclosed = Doc(L"<a>no close");
  EXPECT_EQ(L"0| 0|", Value(early_close, L"a") + L" " + Value(unclosed, L"a"));
  // Open tags with attributes are not open tags; their close tag still counts.
  CKvXml attrs = Doc(L"<a x=\"1\">v</a><a>w</a>");
  int at = 0;
  EXPECT_EQ(1, attrs.GetXmlNodeCount(L"a"));
  EXPECT_EQ(L"0| 1|w@18", Value(attrs, L"a") + L" " + Walk(attrs, L"a", &at));
  CKvXml nested = Doc(L"<a>1<a>2</a></a>");
  EXPECT_EQ(2, nested.GetXmlNodeCount(L"a"));
  EXPECT_EQ(L"1|1<a>2 1|2", Value(nested, L"a") + L" " + ValueAt(nested, L"a", 1));
  // "<ab>" is not "<a>", and the search is case-sensitive.
  CKvXml mixed = Doc(L"<ab>x</ab><A>y</A><a>z</a>");
  EXPECT_EQ(1, mixed.GetXmlNodeCount(L"a"));
  EXPECT_EQ(L"1|z", Value(mixed, L"a"));
  CKvXml empty = Doc(L"<e></e>"), wide = Doc(L"<名称>栎禾软件</名称>");
  EXPECT_EQ(L"1| 1|栎禾软件", Value(empty, L"e") + L" " + Value(wide, L"名称"));
}

TEST(XmlValues, LongTextsComeWholeWithTheirTerminatorOnly) {
  const std::wstring text(300, L'v');
  CKvXml doc = Doc((L"<x>skip</x><v>" + text + L"</v>").c_str());
  std::wstring out(text.size() + 8, L'#');  // the text, its terminator and a guard
  EXPECT_EQ(1, doc.GetXmlNodeValue(L"v", out.data()));
  EXPECT_EQ(text + L'\0' + std::wstring(7, L'#'), out);
  std::fill(out.begin(), out.end(), L'#');
  int at = 0;
  EXPECT_EQ(1, doc.GetXmlNodeValue(L"v", out.data(), &at));
  EXPECT_EQ(text + L'\0' + std::wstring(7, L'#'), out);
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"v", nullptr, 0));
}

TEST(XmlNodes, ElementsEndAtTheFirstCloseOrSelfClosingTag) {
  CKvXml doc = Doc(L"<r><i q=\"x\"/><j>t</j></r>");
  int at = 0;
  EXPECT_EQ(L"1|<r><i q=\"x\"/>@13", Node(doc, &at));
  EXPECT_EQ(L"1|<j>t</j>@21", Node(doc, &at));
  EXPECT_EQ(L"1|</r>@25", Node(doc, &at));  // the stray close tag is its own end
  EXPECT_EQ(L"0|@-1", Node(doc, &at));
  CKvXml nested = Doc(L"  <r><s>t</s><u>v</u></r>"), cut = Doc(L"<a></a");
  at = 0;
  EXPECT_EQ(L"1|<r><s>t</s>@13", Node(nested, &at));
  at = 0;
  EXPECT_EQ(L"0|@", Node(cut, &at).substr(0, 3));  // a close tag without its end is no element
}

TEST(XmlNodes, ListOfRecordsWithAttributes) {
  CKvXml doc = Doc(L"<list><item id=\"1\" uid=\"9\">one</item><item id=\"2\"/></list>");
  int at = 6;
  wchar_t node[kRoom];
  ASSERT_EQ(1, doc.GetXmlNode(node, &at));
  EXPECT_EQ(std::wstring(L"<item id=\"1\" uid=\"9\">one</item>"), node);
  EXPECT_EQ(L"1|1 1|one", Attr(node, L"id") + L" " + Attr(node, L""));
  ASSERT_EQ(1, doc.GetXmlNode(node, &at));
  EXPECT_EQ(std::wstring(L"<item id=\"2\"/>"), node);
  EXPECT_EQ(L"1|2", Attr(node, L"id"));
  EXPECT_EQ(L"0|", Attr(node, nullptr));  // no "<" after the first ">": no inner text
}

TEST(XmlAttributes, NamesQuotesAndInnerText) {
  EXPECT_EQ(L"1|q", Attr(L"<i name=\"q\">t</i>", L"name"));
  EXPECT_EQ(L"1|t", Attr(L"<i name=\"q\">t</i>", L""));
  EXPECT_EQ(L"0|", Attr(L"<i name=\"q\">t</i>", L"size"));
  EXPECT_EQ(L"1|7", Attr(L"<n uid=\"7\" id=\"8\"/>", L"id"));  // a longer name ending alike wins
  EXPECT_EQ(L"0|", Attr(L"<n id='8'/>", L"id"));  // only double quotes
  EXPECT_EQ(L"0|", Attr(L"<n id=\"8/>", L"id"));
  EXPECT_EQ(L"1|", Attr(L"<n id=\"\"/>", L"id"));
  EXPECT_EQ(L"0|", Attr(nullptr, L"id"));
}

TEST(XmlReader, CopiesAreIndependentAndFreeFunctionsUseTheSingleReader) {
  CKvXml first = Doc(L"<a>1</a>");
  CKvXml second(first), third;
  third = first;
  first.Parse(L"<a>changed</a>");
  EXPECT_EQ(L"1|1 1|1", Value(second, L"a") + L" " + Value(third, L"a"));
  EXPECT_EQ(1, first.Parse(nullptr));  // Parse replaces; a null document is empty
  EXPECT_EQ(0, first.GetXmlNodeCount(L"a"));

  const std::wstring long_value(400, L'w');  // longer than a path: the caller gives the room
  ASSERT_EQ(1, Parse((L"<k>v1</k><k>v2</k><k>v3</k><w>" + long_value + L"</w>").c_str()));
  EXPECT_EQ(3, GetXmlNodeCount(L"k"));
  EXPECT_EQ(3, CKvXml::Instance().GetXmlNodeCount(L"k"));
  wchar_t out[kRoom];
  EXPECT_EQ(1, GetXmlNodeValue(L"w", out));
  EXPECT_EQ(long_value, out);
  EXPECT_EQ(1, GetXmlNodeValue(L"k", out));
  EXPECT_EQ(std::wstring(L"v1"), out);
  EXPECT_EQ(1, GetXmlNodeValue2(L"k", out, 2));
  EXPECT_EQ(std::wstring(L"v3"), out);
  std::wstring walked;
  for (int position = 0; GetXmlNodeValue3(L"k", out, &position);) walked += out;
  EXPECT_EQ(L"v1v2v3", walked);
  EXPECT_EQ(0, GetXmlNodeValue2(L"k", out, -1));
  Parse(L"<other/>");
  EXPECT_EQ(0, GetXmlNodeCount(L"k"));
}

}  // namespace
