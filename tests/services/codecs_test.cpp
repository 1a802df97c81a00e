// Byte and text codecs: MD5 and the printable cipher, the file scrambling, Chinese text, the XML reader and zlib.
// hashing_crosscheck.py compares MD5, HMAC-MD5, DES and the printable cipher with other implementations on random
// inputs; the rows here hold what it cannot see: rooms, state, files and the system's code page.
#include "tests/services/services_fixtures.h"

namespace {

using namespace kvservices;
using kvtest::Hex;
using kvtest::ReadAll;

// Runs call in place on in, in a buffer of room bytes with a guard behind it: "text left there|guard".
std::string InRoom(const std::string& in, size_t room, const std::function<void(char*)>& call) {
  std::string buffer = in + std::string(room - std::min(room, in.size()), '\0') + "##";
  call(buffer.data());
  return buffer.c_str() + std::string("|") + buffer.substr(std::max(room, in.size()));
}

TEST(Hashing, ResultsStayWithinTheirRooms) {
  const char key[] = "\x13\x34\x57\x79\x9b\xbc\xdf\xf1", block[] =
                                                             "\x01\x23\x45\x67\x89\xab\xcd\xef"
                                                             "ABCD";
  const struct {
    std::string in;
    size_t room;
    std::function<void(char*)> call;
    std::string want;
  } rows[] = {
      {"", 33, [](char* b) { EXPECT_EQ(1, MD5Go(b, nullptr)); }, "D41D8CD98F00B204E9800998ECF8427E"},
      {"", 33, [](char* b) { MD5Go(b, ""); }, "74E6F7298A9C2D168935F58C001BAD88"},  // an empty key is still HMAC
      {std::string(40, 'x'), 41, [](char* b) { MD5Go(b, nullptr); }, "2E5A5DF30EBD8539445BA6E0F638B6F9"},
      {"\x0a\xff", 5, [](char* b) { ToHex(b, 2); }, "0AFF"},
      {"41425", 6, [](char* b) { ToAsc(b, 5); }, "AB"},  // whole pairs only
      // The published DES answer 85E813540F0AB405 scrambled with 08 09 .. 0F; the tail outside whole blocks only
      // scrambled.
      {block, 25, [&](char* b) { KvEncode(key, b, 12, 1); }, "8DE1195F0307BA0A51535157"},
      {"8DE1195F0307BA0A51535157", 25, [&](char* b) { KvEncode(key, b, 24, 0); }, block}};
  for (const auto& r : rows) EXPECT_EQ(r.want + "|##", InRoom(r.in, r.room, r.call)) << Hex(r.in);
  EXPECT_EQ(0, MD5Go(nullptr, nullptr));
  DesGo(nullptr, nullptr, 8, 1), EasyEncode(nullptr, 8);  // ignored
}

// Pieces straddling the 64-byte blocks every way; afterwards nothing of the message or the state stays behind.
TEST(Hashing, EngineStreamsAcrossBlocksAndWipesItsState) {
  const std::string digits = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  CMd5A md5;
  unsigned char digest[CMd5A::kDigestBytes];
  size_t at = 0;
  for (unsigned piece : {1u, 62u, 2u, 7u, 8u}) md5.Update(digits.data() + at, piece), at += piece;
  md5.Final(digest);
  EXPECT_EQ("57EDF4A22BE3C955AC49DA2E2107B67A", Hex(std::string(reinterpret_cast<char*>(digest), 16)));
  const auto* image = reinterpret_cast<const unsigned char*>(static_cast<const void*>(&md5));
  EXPECT_EQ(std::string(sizeof(CMd5A) - sizeof(void*), '\0'),
            std::string(image + sizeof(void*), image + sizeof(CMd5A)));
}

// Byte n of a file is scrambled with (n + 8) modulo 256, over the whole file rather than per piece read; a source that
// cannot be read makes no target, and the same file under any spelling is refused before it is emptied.
TEST(Hashing, ScramblingOverAWholeFile) {
  const std::wstring dir = kvtest::FreshDir(L"scramble"), here = dir.substr(0, dir.size() - 1);
  std::string plain, coded, zeros(600, '\0');
  for (int i = 0; i < 3000; ++i) plain.push_back(static_cast<char>(i * 37 + 11));
  EasyEncode(zeros.data(), 600), EasyEncode((coded = plain).data(), 3000);
  EXPECT_EQ("08090A0B FEFF0001 08",
            Hex(zeros.substr(0, 4)) + " " + Hex(zeros.substr(246, 4)) + " " + Hex(zeros.substr(256, 1)));
  kvtest::WriteText(dir + L"plain", plain), kvtest::WriteText(dir + L"back", std::string(5000, 'x')),
      kvtest::WriteText(dir + L"empty", "");
  const struct {
    std::wstring from, to;
    int result;
    std::string after;
  } rows[] = {// the target's bytes after; "-": none
              {L"plain", L"coded", 1, coded},
              {L"coded", L"back", 1, plain},
              {L"empty", L"empty.out", 1, ""},
              {L"absent", L"out", 0, "-"},
              {L"plain", L"no\\such\\out", 0, "-"},
              {L"plain", L"PLAIN", 0, plain},
              {L"plain", L"..\\scramble\\plain", 0, plain},
              {L"plain", L"\\./plain", 0, plain}};
  for (const auto& r : rows) {
    const std::wstring to = (r.to[0] == L'\\' ? here : dir) + r.to;
    EXPECT_EQ(r.result, KvEncodeFile((dir + r.from).c_str(), to.c_str())) << kvtest::Utf8(to);
    EXPECT_TRUE(r.after == (kvtest::Exists(to) ? ReadAll(to) : "-")) << kvtest::Utf8(to);
  }
  kv::UniqueFile full(::CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!full) GTEST_SKIP() << "no device whose writes fail for want of room";
  EXPECT_EQ(0, KvEncodeFile((dir + L"plain").c_str(), L"Z:\\dev\\full")) << "a failed write is a failure";
}

// 中国软件 in GBK, and 中國軟件 in GBK and in Big5; traditional text is Big5 only on a Big5 system, and never runs past
// its room. The rows that need the system's simplified-to-traditional mapping (Wine's code pages have none), or those
// that do not, with the character classes beside the latter.
void ChineseTextRows(bool mapping) {
  ASSERT_TRUE(kvtest::ExpectedCodePage() == 0 || kvtest::ExpectedCodePage() == ::GetACP());
  const std::string gbk = "\xD6\xD0\xB9\xFA\xC8\xED\xBC\xFE", traditional = "\xD6\xD0\x87\xF8\xDC\x9B\xBC\xFE";
  const std::string big5 = "\xA4\xA4\xB0\xEA\xB3\x6E\xA5\xF3", here = ::GetACP() == 950 ? big5 : traditional;
  const struct {
    void (*convert)(LPSTR, int);
    std::string text;
    size_t room;
    std::string want;
    bool mapping;
  } rows[] = {{&gb2big, "", 32, "", 0},
              {&gb2big, traditional, 32, big5, 0},
              {&gb2big, traditional, 5, big5.substr(0, 4), 0},
              {&GbToTraditional, traditional, 32, here, 0},
              {&GbToTraditional, "Setup 1.0", 32, "Setup 1.0", 0},
              {&gb2big, gbk + "v2", 32, big5 + "v2", 1},
              {&GbToTraditional, gbk, 32, here, 1}};
  for (const auto& r : rows) {
    if (r.mapping != mapping) continue;
    EXPECT_EQ(Hex(r.want + "|##"),
              Hex(InRoom(r.text, r.room, [&](char* b) { r.convert(b, static_cast<int>(r.room)); })))
        << Hex(r.text);
  }
  if (mapping) return;
  // 中, 中国软件 and row A1 are Chinese; the full-width row A3, A0, one byte, an odd length, ASCII, nothing and null
  // not.
  for (const char* yes : {"\xD6\xD0", gbk.c_str(), "\xA1\xA1"}) EXPECT_EQ(1, isHZ(yes)) << Hex(yes);
  for (const char* no : {"\xA3\xAC", "\xA0\xA1", "\xD6",
                         "\xD6\xD0"
                         "a",
                         "ab", "", (const char*)nullptr})
    EXPECT_EQ(0, isHZ(no)) << Hex(no ? no : "-");
  for (const char* yes : {"123", "0987654321", ""}) EXPECT_EQ(1, isDigital(yes)) << yes;
  for (const char* no : {"12a", "-1", "1 2", (const char*)nullptr}) EXPECT_EQ(0, isDigital(no)) << (no ? no : "null");
}

TEST(ChineseText, ConversionsAndClassesOnThisCodePage) { ChineseTextRows(false); }

TEST(ChineseText, IfSupportedSimplifiedMappedToTraditional) {
  wchar_t mapped[4] = {};
  if (::LCMapStringW(2052, LCMAP_TRADITIONAL_CHINESE, L"国", 1, mapped, 4) != 1 || mapped[0] != L'國')
    GTEST_SKIP() << "this system has no simplified-to-traditional mapping";
  ChineseTextRows(true);
}

// One query as the callers write it: op c counts, v gives the value, i the value by index arg, w walks the values from
// position arg, n the elements, a an attribute of the row's own text. Answers "result|text", a walk's steps
// "result|text@position" until it has failed twice. The output starts dirty and nothing may land past the text's end.
std::wstring Query(const std::wstring& xml, char op, LPCWSTR name, int arg) {
  CKvXml doc;
  EXPECT_EQ(1, doc.Parse(xml.c_str()));
  std::wstring answers;
  const bool walk = op == 'w' || op == 'n';
  for (int position = arg, failed = 0, steps = 0; walk ? failed < 2 && steps < 6 : steps < 1; ++steps) {
    wchar_t out[512];
    std::wmemset(out, L'#', 512);
    const int r = op == 'c'   ? doc.GetXmlNodeCount(name)
                  : op == 'v' ? doc.GetXmlNodeValue(name, out)
                  : op == 'i' ? doc.GetXmlNodeValue(name, out, arg)
                  : op == 'w' ? doc.GetXmlNodeValue(name, out, &position)
                  : op == 'n' ? doc.GetXmlNode(out, &position)
                              : doc.GetNodeAttr(xml.empty() ? nullptr : xml.c_str(), name, out);
    const size_t n = op == 'c' ? 0 : wcsnlen(out, 512);
    EXPECT_TRUE(op == 'c' || std::wstring(511 - n, L'#') == std::wstring(out + n + 1, 511 - n)) << "past the text";
    answers += (steps ? L" " : L"") + std::to_wstring(r) + (op == 'c' ? L"" : L"|" + std::wstring(out, n));
    answers += walk ? L"@" + std::to_wstring(position) : L"";
    failed += r == 0;
  }
  return answers;
}

// The reader searches the text literally: the first "<name>", then the first "</name>"; a walk stops at the start of
// each close tag; an element ends at the first "/>" or close tag; an attribute is found by its name and an opening
// quote.
TEST(Xml, QueriesOnDocuments) {
  const std::wstring three = L"<a>1</a><a>2</a><b>x</b>", nested = L"<a>1<a>2</a></a>",
                     attrs = L"<a x=\"1\">v</a><a>w</a>";
  const std::wstring item = L"<item id=\"1\" uid=\"9\">one</item>", w(300, L'w'),
                     long_value = L"<x>skip</x><v>" + w + L"</v>";
  const struct {
    std::wstring xml;
    char op;
    LPCWSTR name;
    std::wstring want;
    int arg = 0;
  } rows[] = {
      {three, 'c', L"a", L"2"},
      {three, 'v', L"a", L"1|1"},
      {three, 'i', L"a", L"1|2", 1},
      {three, 'i', L"a", L"0|", 2},
      {three, 'c', L"c", L"0"},
      {three, 'w', L"a", L"1|1@4 1|2@12 0|@-1 0|@-1"},
      {three, 'v', L"c", L"0|"},
      {three, 'w', L"c", L"0|@-1 0|@-1"},
      {L"</a>x<a>y</a>", 'v', L"a", L"0|"},
      {L"<a>no close", 'v', L"a", L"0|"},
      {nested, 'c', L"a", L"2"},
      {nested, 'v', L"a", L"1|1<a>2"},
      {nested, 'i', L"a", L"1|2", 1},
      {attrs, 'c', L"a", L"1"},
      {attrs, 'v', L"a", L"0|"},
      {attrs, 'w', L"a", L"1|w@18 0|@-1 0|@-1"},
      {L"<ab>x</ab><A>y</A><a>z</a>", 'v', L"a", L"1|z"},
      {L"<e></e>", 'v', L"e", L"1|"},
      {L"<名称>栎禾软件</名称>", 'v', L"名称", L"1|栎禾软件"},
      {long_value, 'v', L"v", L"1|" + w},
      {long_value, 'w', L"v", L"1|" + w + L"@314 0|@-1 0|@-1"},
      {L"<r><i q=\"x\"/><j>t</j></r>", 'n', nullptr, L"1|<r><i q=\"x\"/>@13 1|<j>t</j>@21 1|</r>@25 0|@-1 0|@-1"},
      {L"<list>" + item + L"<item id=\"2\"/></list>", 'n', nullptr,
       L"1|" + item + L"@37 1|<item id=\"2\"/>@51 1|</list>@58 0|@-1 0|@-1", 6},
      {L"<a></a", 'n', nullptr, L"0|@0 0|@0"},
      {item, 'a', L"id", L"1|1"},
      {item, 'a', L"", L"1|one"},
      {item, 'a', L"size", L"0|"},
      {L"<item id=\"2\"/>", 'a', L"", L"0|"},
      {L"<n uid=\"7\" id=\"8\"/>", 'a', L"id", L"1|7"},
      {L"<n id='8'/>", 'a', L"id", L"0|"},
      {L"<n id=\"8/>", 'a', L"id", L"0|"},
      {L"<n id=\"\"/>", 'a', L"id", L"1|"},
      {L"", 'a', L"id", L"0|"}};
  for (const auto& r : rows) EXPECT_EQ(r.want, Query(r.xml, r.op, r.name, r.arg)) << kvtest::Utf8(r.xml) << " " << r.op;
  // The free functions query the one process-wide reader, which takes values longer than a path.
  ASSERT_EQ(1, Parse((L"<k>v1</k><k>v2</k><k>v3</k><w>" + w + L"</w>").c_str()));
  wchar_t out[512];
  std::wstring seen = std::to_wstring(GetXmlNodeCount(L"k") + CKvXml::Instance().GetXmlNodeCount(L"k"));
  seen += L" " + std::to_wstring(GetXmlNodeValue(L"w", out)) + out;
  for (int index : {2, -1}) seen += L" " + std::to_wstring(GetXmlNodeValue2(L"k", out, index)) + out;
  for (int position = 0; GetXmlNodeValue3(L"k", out, &position);) seen += L" " + std::wstring(out);
  EXPECT_EQ(L"6 1" + w + L" 1v3 0 v1 v2 v3", seen);
  EXPECT_EQ(0, CKvXml().GetXmlNodeValue(L"v", nullptr, 0));
}

std::string Failed(HRESULT hr) { return std::string("!").append(std::to_string(hr)); }

// The inflated text, or "!" and the result; with a limit, through the form that keeps that much.
std::string Inflate(const std::string& data, long limit = -1) {
  BYTE* out = nullptr;
  long len = -1, size = static_cast<long>(data.size());
  const auto* in = reinterpret_cast<const BYTE*>(data.data());
  CKvZlib& zlib = CKvZlib::Instance();
  const HRESULT hr =
      limit < 0 ? zlib.DecodeGZipBuffer(in, size, &out, &len) : zlib.DecodeGZipBufferN(in, size, &out, &len, limit);
  const std::string text = out ? std::string(reinterpret_cast<char*>(out), static_cast<size_t>(len)) : "";
  std::free(out);
  return hr == S_OK ? text : out || len ? "!output left" : Failed(hr);
}

// A stream cut short, no stream, one needing a dictionary and nothing fail; a limit stops inflation, even before a
// break.
TEST(Zlib, InflatesGzipAndZlibToALimit) {
  ASSERT_EQ(S_OK, CKvZlib::Instance().InitZlib(nullptr));
  const std::string fail = Failed(E_FAIL), a(5000, 'A'), cut = kRandom.substr(0, 49);
  const struct {
    std::string in;
    long limit;
    std::string want;
  } rows[] = {{kHello, -1, kHelloText},
              {kZlib, -1, "hello zlib stream"},
              {kManyA, -1, a},
              {cut, -1, fail},
              {"not compressed", -1, fail},
              {kDictionary, -1, fail},
              {"", -1, fail},
              {kRandom, -1, kRandomText},
              {kManyA, 10, a.substr(0, 10)},
              {kManyA, 5000, a},
              {kManyA, 5001, a},
              {cut, 5, kRandomText.substr(0, 5)},
              {kManyA, 0, fail}};
  for (const auto& r : rows) EXPECT_EQ(r.want, Inflate(r.in, r.limit)) << Hex(r.in.substr(0, 12)) << " " << r.limit;
}

// Files become one zlib stream each and back, replacing what was there. Level 0 stores, so its stream outgrows the
// source and the output must grow; an expected size far too small only costs doublings. Over 1,000,000,000 bytes is
// refused.
TEST(Zlib, FilesBothWaysAndTheirFailures) {
  CKvZlib& zlib = CKvZlib::Instance();
  ASSERT_EQ(S_OK, zlib.InitZlib(nullptr));
  const std::wstring dir = kvtest::FreshDir(L"zlib");
  std::string text;
  for (int i = 0; text.size() < 2500000; ++i) text += "line " + std::to_string(i % 977) + "\n";
  kvtest::WriteText(dir + L"text", text), kvtest::WriteText(dir + L"ten", "0123456789"),
      kvtest::WriteText(dir + L"empty", "");
  ASSERT_TRUE(Sized(dir + L"big", 1000000001LL));
  auto code = [&](bool encode, const wchar_t* from, const std::wstring& to, int level_or_size) {
    kvtest::WriteText(dir + to, "old content that must go");
    const HRESULT hr =
        encode ? zlib.EncodeFile((dir + from).c_str(), (dir + to).c_str(), level_or_size)
               : zlib.DecodeFile((dir + from).c_str(), (dir + to).c_str(), static_cast<unsigned long>(level_or_size));
    return hr == S_OK ? ReadAll(dir + to) : Failed(hr);
  };
  EXPECT_EQ("0123456789",
            Inflate(code(true, L"ten", L"ten.z", -1)));  // zlib checks the header and the Adler-32 trailer
  EXPECT_EQ("", code(true, L"empty", L"empty.z", 9));
  EXPECT_GT(code(true, L"text", L"stored.z", 0).size(), text.size());
  EXPECT_LT(code(true, L"text", L"best.z", 9).size(), text.size() / 10);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
            zlib.EncodeFile((dir + L"ten").c_str(), (dir + L"no\\out").c_str(), -1));
  const std::string missing = Failed(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), fail = Failed(E_FAIL);
  const struct {
    bool encode;
    const wchar_t* from;
    int level_or_size;
    std::string want;
  } rows[] = {{0, L"ten.z", 0, "0123456789"},
              {0, L"ten.z", 10, "0123456789"},
              {0, L"empty.z", 0, ""},
              {0, L"best.z", 10, text},
              {0, L"best.z", 0, text},
              {0, L"stored.z", 2500000, text},
              {0, L"none", 0, missing},
              {0, L"ten", 0, fail},
              {0, L"big", 0, fail},
              {1, L"none", -1, missing},
              {1, L"big", 1, fail}};
  for (const auto& r : rows)
    EXPECT_TRUE(r.want == code(r.encode, r.from, L"out", r.level_or_size))
        << kvtest::Utf8(r.from) << " " << r.level_or_size;
  ::DeleteFileW((dir + L"big").c_str());
}

// Loading beside a module whose folder holds no zlib1.dll fails as the system says, and every service then fails with
// its own result, leaving the caller's output alone; loading from our own folder brings them back.
TEST(Zlib, AbsentLibraryLeavesEveryServiceFailing) {
  CKvZlib& zlib = CKvZlib::Instance();
  const std::wstring dir = kvtest::FreshDir(L"zlib_alone");
  ASSERT_TRUE(kvtest::CopyProgram(L"zlib1.dll", dir + L"kvlone.dll"));
  kv::UniqueModule module(::LoadLibraryW((dir + L"kvlone.dll").c_str()));
  zlib.UninitZlib();
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), zlib.InitZlib(L"kvlone.dll"));
  BYTE sentinel = 0, *out = &sentinel;
  long len = 77;
  kvtest::WriteText(dir + L"src", "abc");
  EXPECT_EQ(E_FAIL, zlib.DecodeGZipBuffer(reinterpret_cast<const BYTE*>(kHello.data()), 42, &out, &len));
  EXPECT_TRUE(out == &sentinel && len == 77) << "the caller's output is left alone";
  EXPECT_EQ(E_NOINTERFACE, zlib.EncodeFile((dir + L"src").c_str(), (dir + L"o").c_str(), -1));
  EXPECT_EQ(E_NOINTERFACE, zlib.DecodeFile((dir + L"src").c_str(), (dir + L"o").c_str(), 0));
  EXPECT_FALSE(kvtest::Exists(dir + L"o"));
  EXPECT_EQ(S_OK, zlib.InitZlib(nullptr));
  EXPECT_EQ(kHelloText, Inflate(kHello));
}

}  // namespace
