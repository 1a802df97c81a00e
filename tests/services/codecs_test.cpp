// Byte and text codecs: DES, MD5, the printable cipher, Chinese text, the XML reader and zlib.
// hashing_crosscheck.py compares MD5, HMAC-MD5, DES and the printable cipher on random inputs
// with independent implementations; the rows here hold what it cannot see (rooms, files, state).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>

#include "services/chinese_text.h"
#include "services/des.h"
#include "services/hashing.h"
#include "services/xml_reader.h"
#include "services/zlib_codec.h"
#include "tests/services/services_fixtures.h"
#include "tests/support/kvtest.h"
#include "util/handles.h"

namespace {

using kvtest::FromHex;
using kvtest::Hex;
using kvtest::ReadAll;
using namespace kvservices;

TEST(Des, KnownAnswersBothWaysBlockByBlock) {
  // {key, plain, cipher}: published answers; then parity bits that change nothing, bytes after
  // the last whole block that stay as they are, and nothing at all.
  constexpr const char* kRows[][3] = {
      {"0123456789ABCDEF", "4E6F77206973207468652074696D6520666F7220616C6C20",
       "3FA40E8A984D48156A271787AB8883F9893D51EC4B563B53"},
      {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
      {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
      {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
      {"123556789ABDDEF0", "0123456789ABCDEF", "85E813540F0AB405"},
      {"133457799BBCDFF1", "0123456789ABCDEFA1B2C3", "85E813540F0AB405A1B2C3"},
      {"133457799BBCDFF1", "01020304050607", "01020304050607"},
      {"133457799BBCDFF1", "", ""}};
  for (const auto& r : kRows) {
    for (int way : {1, 0}) {
      const std::string key = FromHex(r[0]);
      std::string data = FromHex(r[way ? 1 : 2]);
      DesGo(key.data(), data.data(), static_cast<int>(data.size()), way);
      EXPECT_EQ(r[way ? 2 : 1], Hex(data)) << r[0] << " way " << way;
    }
  }
  DesGo(nullptr, nullptr, 8, 1);  // ignored
}

// Writes in place into rooms the caller sized: each row checks the result and the guard behind.
TEST(Hashing, ResultsWithinTheirRooms) {
  struct Row { std::string in; int room; std::function<void(char*)> run; std::string want; };
  const char key[] = "\x13\x34\x57\x79\x9b\xbc\xdf\xf1";
  const Row rows[] = {
      {"", 33, [](char* b) { EXPECT_EQ(1, MD5Go(b, nullptr)); }, "D41D8CD98F00B204E9800998ECF8427E"},
      {"", 33, [](char* b) { MD5Go(b, ""); }, "74E6F7298A9C2D168935F58C001BAD88"},  // HMAC
      {std::string(40, 'x'), 41, [](char* b) { MD5Go(b, nullptr); }, "2E5A5DF30EBD8539445BA6E0F638B6F9"},
      {"\x0a\xff", 5, [](char* b) { ToHex(b, 2); }, "0AFF"},
      {"41425", 6, [](char* b) { ToAsc(b, 5); }, "AB"},  // whole pairs only
      // The published DES answer scrambled with 08 09 .. 0F; the tail only scrambled.
      {"\x01\x23\x45\x67\x89\xab\xcd\xef" "ABCD", 25, [&](char* b) { KvEncode(key, b, 12, 1); },
       "8DE1195F0307BA0A51535157"},
      {"8DE1195F0307BA0A51535157", 25, [&](char* b) { KvEncode(key, b, 24, 0); },
       "\x01\x23\x45\x67\x89\xab\xcd\xef" "ABCD"}};
  for (const Row& r : rows) {
    std::string buffer = r.in + std::string(r.room - r.in.size(), '\0') + "####";
    r.run(buffer.data());
    EXPECT_EQ(r.want, std::string(buffer.c_str())) << Hex(r.in);
    EXPECT_EQ("####", buffer.substr(r.room)) << Hex(r.in);
  }
  EXPECT_EQ(0, MD5Go(nullptr, nullptr));
}

TEST(Hashing, EngineStreamsAcrossBlocksAndWipesItsState) {
  const std::string digits = "1234567890123456789012345678901234567890123456789012345678901234567890"
                             "1234567890";
  CMd5A md5;
  size_t at = 0;
  for (unsigned piece : {1u, 62u, 2u, 7u, 8u}) md5.Update(digits.data() + at, piece), at += piece;
  unsigned char digest[CMd5A::kDigestBytes];
  md5.Final(digest);
  EXPECT_EQ("57EDF4A22BE3C955AC49DA2E2107B67A", Hex(std::string(reinterpret_cast<char*>(digest), 16)));
  // Nothing of the message or the chaining state stays behind the vtable pointer.
  const auto* image = reinterpret_cast<const unsigned char*>(static_cast<const void*>(&md5));
  for (size_t i = sizeof(void*); i < sizeof(CMd5A); ++i) ASSERT_EQ(0, image[i]) << "byte " << i;
}

TEST(Hashing, ScramblingOverAWholeFile) {
  std::string run(600, '\0');
  EasyEncode(run.data(), 600);
  EXPECT_EQ("08090A0B FEFF0001 08", Hex(run.substr(0, 4)) + " " + Hex(run.substr(246, 4)) + " " +
                                        Hex(run.substr(256, 1)));  // modulo 256
  const std::wstring dir = kvtest::FreshDir(L"scramble");
  std::string plain;
  for (int i = 0; i < 3000; ++i) plain.push_back(static_cast<char>(i * 37 + 11));
  std::string coded = plain;
  EasyEncode(coded.data(), 3000);  // one run over the whole file, not one per piece read
  kvtest::WriteText(dir + L"plain", plain);
  kvtest::WriteText(dir + L"back", std::string(5000, 'x'));  // an existing target is truncated
  kvtest::WriteText(dir + L"empty", "");
  const std::wstring here = dir.substr(0, dir.size() - 1);
  // {source, target, result, target's bytes afterwards ("-": no such file)}
  struct Row { std::wstring from, to; int result; std::string after; };
  const Row rows[] = {
      {dir + L"plain", dir + L"coded", 1, coded}, {dir + L"coded", dir + L"back", 1, plain},
      {dir + L"empty", dir + L"empty.out", 1, ""}, {dir + L"absent", dir + L"out", 0, "-"},
      {dir + L"plain", dir + L"no\\such\\out", 0, "-"},
      // The same file under any spelling is refused before it is emptied.
      {dir + L"plain", dir + L"PLAIN", 0, plain}, {dir + L"plain", here + L"\\..\\scramble\\plain", 0, plain},
      {dir + L"plain", here + L"/./plain", 0, plain}};
  for (const Row& r : rows) {
    EXPECT_EQ(r.result, KvEncodeFile(r.from.c_str(), r.to.c_str())) << kvtest::Utf8(r.to);
    EXPECT_EQ(r.after, kvtest::Exists(r.to) ? ReadAll(r.to) : "-") << kvtest::Utf8(r.to);
  }
  EasyEncode(nullptr, 10);  // ignored
  kv::UniqueFile full(::CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!full) GTEST_SKIP() << "no device whose writes fail for want of room";
  EXPECT_EQ(0, KvEncodeFile((dir + L"plain").c_str(), L"Z:\\dev\\full")) << "a failed write is a failure";
}

// 中国软件 in GBK, 中國軟件 in GBK and in Big5.
const std::string kGbkSimplified = "\xD6\xD0\xB9\xFA\xC8\xED\xBC\xFE";
const std::string kGbkTraditional = "\xD6\xD0\x87\xF8\xDC\x9B\xBC\xFE";
const std::string kBig5 = "\xA4\xA4\xB0\xEA\xB3\x6E\xA5\xF3";

TEST(ChineseText, ConversionsOnThisCodePage) {
  ASSERT_TRUE(kvtest::ExpectedCodePage() == 0 || kvtest::ExpectedCodePage() == ::GetACP());
  wchar_t mapped[4] = {};
  const bool maps = ::LCMapStringW(2052, LCMAP_TRADITIONAL_CHINESE, L"国", 1, mapped, 4) == 1 &&
                    mapped[0] == L'國';
  const std::string here = ::GetACP() == 950 ? kBig5 : kGbkTraditional;
  // {conversion, text, room, result, needs the system's simplified-to-traditional mapping}
  struct Row { void (*convert)(LPSTR, int); std::string text; int room; std::string want; bool mapping; };
  const Row rows[] = {
      {&gb2big, "", 32, "", false}, {&gb2big, kGbkTraditional, 32, kBig5, false},
      {&gb2big, kGbkTraditional, 5, kBig5.substr(0, 4), false},  // cut, never overrun
      {&gb2big, kGbkSimplified + "v2", 32, kBig5 + "v2", true},
      {&GbToTraditional, kGbkTraditional, 32, here, false},
      {&GbToTraditional, "Setup 1.0", 32, "Setup 1.0", false},
      {&GbToTraditional, kGbkSimplified, 32, here, true}};
  for (const Row& r : rows) {
    if (r.mapping && !maps) continue;
    std::string buffer = r.text + std::string(r.room - std::min<int>(r.room, r.text.size()), '\0') + "##";
    r.convert(buffer.data(), r.room);
    EXPECT_EQ(Hex(r.want), Hex(buffer.c_str())) << Hex(r.text) << " room " << r.room;
    EXPECT_EQ("##", buffer.substr(std::max<size_t>(r.room, r.text.size())));
  }
  // {digits, Chinese}: 中, 中国软件, row A1 (a lead byte above A0); not the full-width row A3,
  // nor A0, one byte, an odd length, ASCII, empty or null.
  for (const char* yes : {"\xD6\xD0", kGbkSimplified.c_str(), "\xA1\xA1"}) EXPECT_EQ(1, isHZ(yes)) << yes;
  for (const char* no : {"\xA3\xAC", "\xA0\xA1", "\xD6", "\xD6\xD0" "a", "ab", "", (const char*)nullptr})
    EXPECT_EQ(0, isHZ(no)) << Hex(no ? no : "");
  for (const char* yes : {"123", "0987654321", ""}) EXPECT_EQ(1, isDigital(yes)) << yes;
  for (const char* no : {"12a", "-1", "1 2", (const char*)nullptr}) EXPECT_EQ(0, isDigital(no));
  if (!maps) GTEST_SKIP() << "this system has no simplified-to-traditional mapping: its rows skipped";
}

// One query as the callers write it, into a dirty buffer: "result|text"; a walk gives each step
// as "result|text@position" until it has failed twice. Nothing may be written past the text's
// terminator, since the queries take no size.
std::wstring Query(CKvXml& doc, const std::wstring& xml, char op, LPCWSTR name, int arg) {
  std::wstring answers;
  const bool walk = op == 'w' || op == 'n';
  for (int position = arg, failed = 0, steps = 0; walk ? failed < 2 && steps < 6 : steps < 1; ++steps) {
    wchar_t out[512];
    std::wmemset(out, L'#', 512);
    int r = 0;
    switch (op) {
      case 'c': return std::to_wstring(doc.GetXmlNodeCount(name));
      case 'v': r = doc.GetXmlNodeValue(name, out); break;
      case 'i': r = doc.GetXmlNodeValue(name, out, arg); break;
      case 'w': r = doc.GetXmlNodeValue(name, out, &position); break;
      case 'n': r = doc.GetXmlNode(out, &position); break;
      default: r = doc.GetNodeAttr(xml.empty() ? nullptr : xml.c_str(), name, out);
    }
    const size_t n = wcsnlen(out, 512);
    EXPECT_EQ(std::wstring(511 - n, L'#'), std::wstring(out + n + 1, 511 - n)) << "past the text";
    answers += (answers.empty() ? L"" : L" ") + std::to_wstring(r) + L"|" + std::wstring(out, n);
    if (walk) answers += L"@" + std::to_wstring(position);
    failed += r == 0;
  }
  return answers;
}

TEST(Xml, QueriesOnDocuments) {
  const std::wstring three = L"<a>1</a><a>2</a><b>x</b>", list = L"<item id=\"1\" uid=\"9\">one</item>";
  const std::wstring w300(300, L'w');
  // {document, query: c count, v value, i by index, w walk, n nodes, a attribute of the text
  // itself; name; index or start; answer}
  struct Row { std::wstring xml; char op; LPCWSTR name; int arg; std::wstring want; };
  const Row rows[] = {
      {three, 'c', L"a", 0, L"2"}, {three, 'v', L"a", 0, L"1|1"}, {three, 'i', L"a", 1, L"1|2"},
      {three, 'i', L"a", 2, L"0|"}, {three, 'w', L"a", 0, L"1|1@4 1|2@12 0|@-1 0|@-1"},
      {three, 'c', L"c", 0, L"0"}, {three, 'v', L"c", 0, L"0|"}, {three, 'w', L"c", 0, L"0|@-1 0|@-1"},
      // The first value pairs the first open tag with the first close tag anywhere.
      {L"</a>x<a>y</a>", 'v', L"a", 0, L"0|"}, {L"<a>no close", 'v', L"a", 0, L"0|"},
      {L"<a>1<a>2</a></a>", 'c', L"a", 0, L"2"}, {L"<a>1<a>2</a></a>", 'v', L"a", 0, L"1|1<a>2"},
      {L"<a>1<a>2</a></a>", 'i', L"a", 1, L"1|2"},
      // An open tag with attributes is no open tag; its close tag still counts.
      {L"<a x=\"1\">v</a><a>w</a>", 'c', L"a", 0, L"1"}, {L"<a x=\"1\">v</a><a>w</a>", 'v', L"a", 0, L"0|"},
      {L"<a x=\"1\">v</a><a>w</a>", 'w', L"a", 0, L"1|w@18 0|@-1 0|@-1"},
      {L"<ab>x</ab><A>y</A><a>z</a>", 'v', L"a", 0, L"1|z"}, {L"<e></e>", 'v', L"e", 0, L"1|"},
      {L"<名称>栎禾软件</名称>", 'v', L"名称", 0, L"1|栎禾软件"},
      {L"<x>skip</x><v>" + w300 + L"</v>", 'v', L"v", 0, L"1|" + w300},
      {L"<x>skip</x><v>" + w300 + L"</v>", 'w', L"v", 0, L"1|" + w300 + L"@314 0|@-1 0|@-1"},
      // Elements end at the first close or self-closing tag; a stray close tag is its own.
      {L"<r><i q=\"x\"/><j>t</j></r>", 'n', nullptr, 0,
       L"1|<r><i q=\"x\"/>@13 1|<j>t</j>@21 1|</r>@25 0|@-1 0|@-1"},
      {L"<list>" + list + L"<item id=\"2\"/></list>", 'n', nullptr, 6,
       L"1|" + list + L"@37 1|<item id=\"2\"/>@51 1|</list>@58 0|@-1 0|@-1"},
      {L"<a></a", 'n', nullptr, 0, L"0|@0 0|@0"},
      {list, 'a', L"id", 0, L"1|1"}, {list, 'a', L"", 0, L"1|one"}, {list, 'a', L"size", 0, L"0|"},
      {L"<item id=\"2\"/>", 'a', nullptr, 0, L"0|"},  // no "<" after the first ">": no inner text
      {L"<n uid=\"7\" id=\"8\"/>", 'a', L"id", 0, L"1|7"},  // a longer name ending alike wins
      {L"<n id='8'/>", 'a', L"id", 0, L"0|"}, {L"<n id=\"8/>", 'a', L"id", 0, L"0|"},
      {L"<n id=\"\"/>", 'a', L"id", 0, L"1|"}, {L"", 'a', L"id", 0, L"0|"}};
  for (const Row& r : rows) {
    CKvXml doc;
    EXPECT_EQ(1, doc.Parse(r.xml.c_str()));
    EXPECT_EQ(r.want, Query(doc, r.xml, r.op, r.name, r.arg)) << kvtest::Utf8(r.xml) << " " << r.op;
  }
  CKvXml doc;
  EXPECT_EQ(0, doc.GetXmlNodeValue(L"v", nullptr, 0));
}

TEST(Xml, CopiesAreIndependentAndFreeFunctionsShareOneReader) {
  CKvXml first;
  first.Parse(L"<a>1</a>");
  CKvXml second(first), third;
  third = first;
  first.Parse(nullptr);  // replaces the document with an empty one
  EXPECT_EQ(L"0 1 1", std::to_wstring(first.GetXmlNodeCount(L"a")) + L" " +
                          std::to_wstring(second.GetXmlNodeCount(L"a")) + L" " +
                          std::to_wstring(third.GetXmlNodeCount(L"a")));
  const std::wstring long_value(400, L'w');  // longer than a path: the caller gives the room
  ASSERT_EQ(1, Parse((L"<k>v1</k><k>v2</k><k>v3</k><w>" + long_value + L"</w>").c_str()));
  wchar_t out[512];
  std::wstring seen = std::to_wstring(GetXmlNodeCount(L"k") + CKvXml::Instance().GetXmlNodeCount(L"k"));
  for (int index : {0, 2, -1}) seen += L" " + std::to_wstring(GetXmlNodeValue2(L"k", out, index)) + out;
  for (int position = 0; GetXmlNodeValue3(L"k", out, &position);) seen += L" " + std::wstring(out);
  EXPECT_EQ(L"6 1v1 1v3 0 v1 v2 v3", seen);
  EXPECT_EQ(1, GetXmlNodeValue(L"w", out));
  EXPECT_EQ(long_value, out);
}

// The inflated text, or "!" and the result; with a limit, through the form that keeps that much.
std::string Inflate(const std::string& data, long limit = -1) {
  BYTE* out = nullptr;
  long len = -1;
  const auto* in = reinterpret_cast<const BYTE*>(data.data());
  CKvZlib& zlib = CKvZlib::Instance();
  const HRESULT hr = limit < 0 ? zlib.DecodeGZipBuffer(in, static_cast<long>(data.size()), &out, &len)
                               : zlib.DecodeGZipBufferN(in, static_cast<long>(data.size()), &out, &len, limit);
  const std::string text = out ? std::string(reinterpret_cast<char*>(out), static_cast<size_t>(len)) : "";
  std::free(out);
  if (hr != S_OK) EXPECT_TRUE(out == nullptr && len == 0) << "a failure leaves no output";
  return hr == S_OK ? text : "!" + std::to_string(hr);
}

TEST(Zlib, InflatesGzipAndZlibToALimit) {
  ASSERT_EQ(S_OK, CKvZlib::Instance().InitZlib(nullptr));
  const std::string fail = "!" + std::to_string(E_FAIL), a5000(5000, 'A');
  // {stream, limit (-1 none), text}: what a 50-byte buffer holds of a longer stream, no stream, a
  // stream needing a dictionary and nothing fail; a limit stops inflation, even before a break.
  const struct { std::string in; long limit; std::string want; } rows[] = {
      {kHello, -1, kHelloText}, {kZlib, -1, "hello zlib stream"}, {kManyA, -1, a5000},
      {kRandom.substr(0, 49), -1, fail}, {"this is not compressed at all", -1, fail},
      {kDictionary, -1, fail}, {"", -1, fail},
      {kRandom, -1, kRandomText}, {kManyA, 10, a5000.substr(0, 10)}, {kManyA, 5000, a5000},
      {kManyA, 5001, a5000}, {kRandom.substr(0, 49), 5, kRandomText.substr(0, 5)}, {kManyA, 0, fail}};
  for (const auto& r : rows) EXPECT_EQ(r.want, Inflate(r.in, r.limit)) << Hex(r.in.substr(0, 12)) << r.limit;
}

TEST(Zlib, FilesBothWaysAndTheirFailures) {
  CKvZlib& zlib = CKvZlib::Instance();
  ASSERT_EQ(S_OK, zlib.InitZlib(nullptr));
  const std::wstring dir = kvtest::FreshDir(L"zlib");
  std::string text;  // level 0 stores, so its stream outgrows the source: the output must grow
  for (int i = 0; text.size() < 2500000; ++i) text += "line " + std::to_string(i % 977) + "\n";
  kvtest::WriteText(dir + L"text", text);
  kvtest::WriteText(dir + L"ten", "0123456789");
  kvtest::WriteText(dir + L"empty", "");
  ASSERT_TRUE(Sized(dir + L"big", 1000000001LL));  // just over the bound
  auto encode = [&](const wchar_t* from, const wchar_t* to, int level) {
    kvtest::WriteText(dir + to, "old content that must go");
    return zlib.EncodeFile((dir + from).c_str(), (dir + to).c_str(), level);
  };
  auto decode = [&](const wchar_t* from, unsigned long expected) {
    kvtest::WriteText(dir + L"out", "old");
    const HRESULT hr = zlib.DecodeFile((dir + from).c_str(), (dir + L"out").c_str(), expected);
    return hr == S_OK ? ReadAll(dir + L"out") : "!" + std::to_string(hr);
  };
  ASSERT_EQ(S_OK, encode(L"ten", L"ten.z", -1));
  EXPECT_EQ("0123456789", Inflate(ReadAll(dir + L"ten.z")));  // header and Adler-32 checked
  ASSERT_EQ(S_OK, encode(L"empty", L"empty.z", 9));
  EXPECT_EQ("", ReadAll(dir + L"empty.z"));
  ASSERT_EQ(S_OK, encode(L"text", L"stored.z", 0));
  ASSERT_EQ(S_OK, encode(L"text", L"best.z", 9));
  EXPECT_GT(ReadAll(dir + L"stored.z").size(), text.size());
  EXPECT_LT(ReadAll(dir + L"best.z").size(), text.size() / 10);
  // {stream, expected size (too small only costs doublings; 0 starts from the floor), content}
  const struct { const wchar_t* from; unsigned long expected; std::string want; } rows[] = {
      {L"ten.z", 0, "0123456789"}, {L"ten.z", 10, "0123456789"}, {L"empty.z", 0, ""},
      {L"best.z", 10, text}, {L"best.z", 0, text}, {L"stored.z", 2500000, text},
      {L"none", 0, "!" + std::to_string(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))},
      {L"ten", 0, "!" + std::to_string(E_FAIL)}, {L"big", 0, "!" + std::to_string(E_FAIL)}};
  for (const auto& r : rows) EXPECT_TRUE(r.want == decode(r.from, r.expected)) << kvtest::Utf8(r.from);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), encode(L"none", L"o", -1));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), zlib.EncodeFile((dir + L"ten").c_str(), (dir + L"no\\o").c_str(), -1));
  EXPECT_EQ(E_FAIL, encode(L"big", L"o", 1));
  ::DeleteFileW((dir + L"big").c_str());
}

// Loading beside a module whose folder holds no zlib1.dll fails as the system says, and every
// service then fails with its own result; loading from our own folder brings them back.
TEST(Zlib, AbsentLibraryLeavesEveryServiceFailing) {
  CKvZlib& zlib = CKvZlib::Instance();
  const std::wstring dir = kvtest::FreshDir(L"zlib_alone");
  ASSERT_TRUE(kvtest::CopyProgram(L"zlib1.dll", dir + L"kvlone.dll"));
  kv::UniqueModule module(::LoadLibraryW((dir + L"kvlone.dll").c_str()));
  zlib.UninitZlib();
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), zlib.InitZlib(L"kvlone.dll"));
  BYTE sentinel = 0, *out = &sentinel;
  long len = 77;
  EXPECT_EQ(E_FAIL, zlib.DecodeGZipBuffer(reinterpret_cast<const BYTE*>(kHello.data()), 42, &out, &len));
  EXPECT_TRUE(out == &sentinel && len == 77) << "untouched";
  kvtest::WriteText(dir + L"src", "abc");
  EXPECT_EQ(E_NOINTERFACE, zlib.EncodeFile((dir + L"src").c_str(), (dir + L"o").c_str(), -1));
  EXPECT_EQ(E_NOINTERFACE, zlib.DecodeFile((dir + L"src").c_str(), (dir + L"o").c_str(), 0));
  EXPECT_FALSE(kvtest::Exists(dir + L"o"));
  EXPECT_EQ(S_OK, zlib.InitZlib(nullptr));
  EXPECT_EQ(kHelloText, Inflate(kHello));
}

}  // namespace
