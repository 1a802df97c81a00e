#include "services/xml_reader.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

constexpr int kRoom = 64;

// An output buffer that starts dirty, so that a query that forgets to empty it is caught.
struct Out {
  wchar_t text[kRoom];
  Out() { std::wmemset(text, L'#', kRoom); }
  std::wstring str() const { return text; }
};

CKvXml Doc(const wchar_t* xml) {
  CKvXml doc;
  EXPECT_EQ(1, doc.Parse(xml));
  return doc;
}

TEST(XmlValues, TwoSameNamedElements) {
  CKvXml doc = Doc(L"<a>1</a><a>2</a>");
  EXPECT_EQ(2, doc.GetXmlNodeCount(L"a"));

  Out out;
  EXPECT_EQ(1, doc.GetXmlNodeValue(L"a", out.text, kRoom));
  EXPECT_EQ(L"1", out.str());
  EXPECT_EQ(1, doc.GetXmlNodeValue(L"a", out.text, 1, kRoom));
  EXPECT_EQ(L"2", out.str());
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"a", out.text, 2, kRoom));
  EXPECT_EQ(L"", out.str());

  int position = 0;
  EXPECT_EQ(1, doc.GetXmlNodeValue(L"a", out.text, &position, kRoom));
  EXPECT_EQ(L"1", out.str());
  EXPECT_EQ(4, position);  // the start of the first "</a>"
  EXPECT_EQ(1, doc.GetXmlNodeValue(L"a", out.text, &position, kRoom));
  EXPECT_EQ(L"2", out.str());
  EXPECT_EQ(12, position);
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"a", out.text, &position, kRoom));
  EXPECT_EQ(L"", out.str());
  EXPECT_EQ(-1, position);
  // An exhausted walk stays exhausted rather than starting over.
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"a", out.text, &position, kRoom));
  EXPECT_EQ(-1, position);
}

TEST(XmlValues, AbsentElementGivesEmptyOutput) {
  CKvXml doc = Doc(L"<b>x</b>");
  Out out;
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"a", out.text, kRoom));
  EXPECT_EQ(L"", out.str());
  Out by_index;
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"a", by_index.text, 0, kRoom));
  EXPECT_EQ(L"", by_index.str());
  Out by_position;
  int position = 0;
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"a", by_position.text, &position, kRoom));
  EXPECT_EQ(L"", by_position.str());
  EXPECT_EQ(-1, position);
  EXPECT_EQ(0, doc.GetXmlNodeCount(L"a"));
  EXPECT_EQ(1, doc.GetXmlNodeCount(L"b"));
}

TEST(XmlValues, CloseTagIsSearchedFromTheDocumentStart) {
  // The first value pairs the first open tag with the first close tag anywhere in the document.
  Out out;
  EXPECT_EQ(0, Doc(L"</a>x<a>y</a>").GetXmlNodeValue(L"a", out.text, kRoom));
  EXPECT_EQ(L"", out.str());
  EXPECT_EQ(0, Doc(L"<a>no close").GetXmlNodeValue(L"a", out.text, kRoom));

  // Open tags with attributes are not open tags; their close tag still counts.
  CKvXml attrs = Doc(L"<a x=\"1\">v</a><a>w</a>");
  EXPECT_EQ(1, attrs.GetXmlNodeCount(L"a"));
  EXPECT_EQ(0, attrs.GetXmlNodeValue(L"a", out.text, kRoom));
  int position = 0;
  EXPECT_EQ(1, attrs.GetXmlNodeValue(L"a", out.text, &position, kRoom));
  EXPECT_EQ(L"w", out.str());
}

TEST(XmlValues, NestedSameNamesCountInDocumentOrder) {
  CKvXml doc = Doc(L"<a>1<a>2</a></a>");
  Out out;
  EXPECT_EQ(2, doc.GetXmlNodeCount(L"a"));
  EXPECT_EQ(1, doc.GetXmlNodeValue(L"a", out.text, kRoom));
  EXPECT_EQ(L"1<a>2", out.str());
  EXPECT_EQ(1, doc.GetXmlNodeValue(L"a", out.text, 1, kRoom));
  EXPECT_EQ(L"2", out.str());
  // Overlapping names: "<ab>" is not "<a>", and the search is case-sensitive.
  CKvXml mixed = Doc(L"<ab>x</ab><A>y</A><a>z</a>");
  EXPECT_EQ(1, mixed.GetXmlNodeCount(L"a"));
  EXPECT_EQ(1, mixed.GetXmlNodeValue(L"a", out.text, kRoom));
  EXPECT_EQ(L"z", out.str());
}

TEST(XmlValues, EmptyValueAndWideText) {
  Out out;
  EXPECT_EQ(1, Doc(L"<e></e>").GetXmlNodeValue(L"e", out.text, kRoom));
  EXPECT_EQ(L"", out.str());
  EXPECT_EQ(1, Doc(L"<名称>栎禾软件</名称>").GetXmlNodeValue(L"名称", out.text, kRoom));
  EXPECT_EQ(L"栎禾软件", out.str());
}

TEST(XmlValues, OutputThatDoesNotFitIsRefusedWhole) {
  CKvXml doc = Doc(L"<x>skip</x><v>abcdef</v>");
  wchar_t small[7];
  std::wmemset(small, L'#', 7);
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"v", small, 6));
  EXPECT_EQ(L'\0', small[0]);
  EXPECT_EQ(L'#', small[6]);  // nothing written past the room given
  EXPECT_EQ(1, doc.GetXmlNodeValue(L"v", small, 7));
  EXPECT_EQ(std::wstring(L"abcdef"), small);
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"v", small, 0, 6));

  // The walk stays on the element, so a retry with more room finds it.
  int position = 0;
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"v", small, &position, 6));
  EXPECT_EQ(11, position);
  EXPECT_EQ(1, doc.GetXmlNodeValue(L"v", small, &position, 7));
  EXPECT_EQ(std::wstring(L"abcdef"), small);
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"v", nullptr, &position, 0));
}

TEST(XmlNodes, SelfClosingChildEndsTheElement) {
  CKvXml doc = Doc(L"<r><i q=\"x\"/><j>t</j></r>");
  Out out;
  int position = 0;
  EXPECT_EQ(1, doc.GetXmlNode(out.text, &position, kRoom));
  EXPECT_EQ(L"<r><i q=\"x\"/>", out.str());
  EXPECT_EQ(13, position);
  EXPECT_EQ(1, doc.GetXmlNode(out.text, &position, kRoom));
  EXPECT_EQ(L"<j>t</j>", out.str());
  EXPECT_EQ(21, position);
  // What is left is the stray "</r>": it is its own end.
  EXPECT_EQ(1, doc.GetXmlNode(out.text, &position, kRoom));
  EXPECT_EQ(L"</r>", out.str());
  EXPECT_EQ(0, doc.GetXmlNode(out.text, &position, kRoom));
  EXPECT_EQ(L"", out.str());
  EXPECT_EQ(-1, position);
}

TEST(XmlNodes, NestedElementEndsAtFirstInnerCloseTag) {
  CKvXml doc = Doc(L"  <r><s>t</s><u>v</u></r>");
  Out out;
  int position = 0;
  EXPECT_EQ(1, doc.GetXmlNode(out.text, &position, kRoom));
  EXPECT_EQ(L"<r><s>t</s>", out.str());
  EXPECT_EQ(13, position);
}

TEST(XmlNodes, ListOfRecordsWithAttributes) {
  CKvXml doc = Doc(L"<list><item id=\"1\" uid=\"9\">one</item><item id=\"2\"/></list>");
  Out node, value;
  int position = 6;
  ASSERT_EQ(1, doc.GetXmlNode(node.text, &position, kRoom));
  EXPECT_EQ(L"<item id=\"1\" uid=\"9\">one</item>", node.str());
  EXPECT_EQ(1, doc.GetNodeAttr(node.text, L"id", value.text, kRoom));
  EXPECT_EQ(L"1", value.str());
  EXPECT_EQ(1, doc.GetNodeAttr(node.text, L"", value.text, kRoom));
  EXPECT_EQ(L"one", value.str());
  ASSERT_EQ(1, doc.GetXmlNode(node.text, &position, kRoom));
  EXPECT_EQ(L"<item id=\"2\"/>", node.str());
  EXPECT_EQ(1, doc.GetNodeAttr(node.text, L"id", value.text, kRoom));
  EXPECT_EQ(L"2", value.str());
  // No "<" after the first ">": no inner text.
  EXPECT_EQ(0, doc.GetNodeAttr(node.text, nullptr, value.text, kRoom));
}

TEST(XmlNodes, CloseTagWithoutItsEndIsNoElement) {
  CKvXml doc = Doc(L"<a></a");
  Out out;
  int position = 0;
  EXPECT_EQ(0, doc.GetXmlNode(out.text, &position, kRoom));
  EXPECT_EQ(L"", out.str());
}

TEST(XmlAttributes, NameAndInnerText) {
  CKvXml doc;
  Out out;
  EXPECT_EQ(1, doc.GetNodeAttr(L"<i name=\"q\">t</i>", L"name", out.text, kRoom));
  EXPECT_EQ(L"q", out.str());
  EXPECT_EQ(1, doc.GetNodeAttr(L"<i name=\"q\">t</i>", L"", out.text, kRoom));
  EXPECT_EQ(L"t", out.str());
  EXPECT_EQ(0, doc.GetNodeAttr(L"<i name=\"q\">t</i>", L"size", out.text, kRoom));
  EXPECT_EQ(L"", out.str());
}

TEST(XmlAttributes, SuffixNamesAndQuotes) {
  CKvXml doc;
  Out out;
  // A longer name ending in the same letters matches first.
  EXPECT_EQ(1, doc.GetNodeAttr(L"<n uid=\"7\" id=\"8\"/>", L"id", out.text, kRoom));
  EXPECT_EQ(L"7", out.str());
  // Only double quotes.
  EXPECT_EQ(0, doc.GetNodeAttr(L"<n id='8'/>", L"id", out.text, kRoom));
  EXPECT_EQ(0, doc.GetNodeAttr(L"<n id=\"8/>", L"id", out.text, kRoom));
  EXPECT_EQ(1, doc.GetNodeAttr(L"<n id=\"\"/>", L"id", out.text, kRoom));
  EXPECT_EQ(L"", out.str());
  EXPECT_EQ(0, doc.GetNodeAttr(nullptr, L"id", out.text, kRoom));
}

TEST(XmlReader, CopiesAreIndependent) {
  CKvXml first = Doc(L"<a>1</a>");
  CKvXml second(first);
  CKvXml third;
  third = first;
  first.Parse(L"<a>changed</a>");
  Out out;
  EXPECT_EQ(1, second.GetXmlNodeValue(L"a", out.text, kRoom));
  EXPECT_EQ(L"1", out.str());
  EXPECT_EQ(1, third.GetXmlNodeValue(L"a", out.text, kRoom));
  EXPECT_EQ(L"1", out.str());
  // Parse replaces; a null document is empty.
  EXPECT_EQ(1, first.Parse(nullptr));
  EXPECT_EQ(0, first.GetXmlNodeCount(L"a"));
}

TEST(XmlReader, FreeFunctionsUseTheSingleReader) {
  EXPECT_EQ(&CKvXml::Instance(), &CKvXml::Instance());
  ASSERT_EQ(1, Parse(L"<k>v1</k><k>v2</k><k>v3</k>"));
  EXPECT_EQ(3, GetXmlNodeCount(L"k"));
  EXPECT_EQ(3, CKvXml::Instance().GetXmlNodeCount(L"k"));

  wchar_t out[MAX_PATH];
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
