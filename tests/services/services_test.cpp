// The runtime services as their callers meet them.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <future>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "services/chinese_text.h"
#include "services/hashing.h"
#include "services/http_client.h"
#include "services/logger.h"
#include "services/registry.h"
#include "services/rw_lock.h"
#include "services/thread.h"
#include "services/xml_reader.h"
#include "services/zlib_codec.h"
#include "tests/support/kvtest.h"
#include "util/handles.h"
#include "util/system.h"

namespace {

using kvtest::Answer;
using kvtest::Hex;
using kvtest::ReadAll;
using kvtest::TempRegKey;
constexpr DWORD kHang = 10000;  // the machine is shared: only a hang takes this long
constexpr DWORD kSettle = 200;  // long enough for a thread that could go on to do so
const HKEY kUser = HKEY_CURRENT_USER, kMachine = HKEY_LOCAL_MACHINE;
const wchar_t kVendor[] = L"SOFTWARE\\Quarell";

// Made by a desktop gzip, so that inflation is checked against another compressor: a short member, 5000 letters A.
const std::string kHello =
    kvtest::FromHex("1F8B0800000000000203CB48CDC9C95748AFCA2C5028CF2FCA49D151C82028A20800A63FCCC935000000");
const std::string kManyA =
    kvtest::FromHex("1F8B0800000000000203EDC13101000000C2A06CEB5FCA147E4001000000006F03BE7B1A1388130000");

kvtest::Wire& Server() {
  static kvtest::Wire wire("127.0.5.5", 80);  // where the client always goes
  return wire;
}

// "result|infolen|buffer", the buffer without its trailing zeros; infolen "-" where the call leaves it alone.
std::string Outcome(int result, const std::string& infolen, std::string buffer) {
  return std::to_string(result) + "|" + infolen + "|" + buffer.erase(buffer.find_last_not_of('\0') + 1);
}

// 'g' GET, 'p' POST, 'i' the probe, by the process-wide client or another, into a dirty buffer with a guard behind.
std::string Fetch(char how, const std::string& url, int room, CKvNet* net) {
  const std::wstring full = kvtest::Wide(url[0] == '/' ? "http://127.0.5.5" + url : url);
  CKvNet& client = net ? *net : CKvNet::Instance();
  std::vector<char> memory(room + 64, '#');
  const int result = how == 'i'   ? isConnected(full.c_str())
                     : how == 'p' ? client.Post(full.c_str(), "a=1", 3, memory.data(), room)
                     : net        ? net->GetUrlInfo(full.c_str(), memory.data(), room)
                                  : GetUrlInfo(full.c_str(), memory.data(), room);
  EXPECT_EQ(std::string(64, '#'), std::string(memory.data() + room, 64)) << "written past a buffer of " << room;
  return Outcome(result, how == 'g' ? std::to_string(client.GetInfoLen()) : "-", std::string(memory.data(), room));
}

// The one request that arrived as "METHOD target|Host|Content-Type|body|", and "fixed" for the requests' own headers.
std::string Arrived(kvtest::Wire& wire) {
  const std::vector<kvtest::HttpRequest> got = wire.Requests();
  if (got.size() != 1) return got.empty() ? "" : std::to_string(got.size()) + " requests";
  const kvtest::HttpRequest& r = got[0];
  std::string fixed;
  for (const char* name : {"Accept", "Accept-Encoding", "Accept-Language", "Accept-Charset", "User-Agent"})
    fixed += (r.CountHeader(name) == 1 ? r.Header(name) : "?") + ";";
  const bool own = fixed ==
                   "text/html,application/xml;q=0.9,application/json,*/*;q=0.8;gzip,deflate;zh-CN,zh;q=0.5;"
                   "gb2312,utf-8;q=0.7,*;q=0.7;Mozilla/5.0 (Windows NT 6.1);";
  return r.method + " " + r.target + "|" + r.Header("Host") + "|" + r.Header("Content-Type") + "|" + r.body + "|" +
         (own ? "fixed" : "");
}

// Pieces of 16384 bytes (room - 1 below that) are read while one and the terminator fit; inflation stops at room - 1
// and a gzip answer cut short stays raw; a stopped client reads nothing; "invalid" names fail at once; nothing is
// cached. A POST answer with a zero byte inside is inflated, or emptied when it does not inflate.
TEST(Http, AnswersArriveInTheCallersBuffer) {
  ASSERT_TRUE(Server().ready()) << "port 80 on 127.0.5.5";
  ASSERT_EQ(S_OK, CKvZlib::Instance().InitZlib(nullptr));  // every client's end unloads it
  std::string n;                                           // numbers, so that a piece read twice or skipped shows
  for (int i = 0; n.size() < 40000; ++i) n += std::to_string(i) + ",";
  CKvNet stopped;
  stopped.Stop();
  const std::string form = "|127.0.5.5|application/x-www-form-urlencoded|a=1|fixed", at = "|127.0.5.5|||";
  const std::string report = "/report.asp?type=u&value=Kv%20Cache&uuid=KV" + std::to_string(::GetTickCount());
  // {answer, its encoding, room, "result|infolen|buffer", how, URL, client, what arrived ("*": anything)}
  const std::tuple<std::string, const char*, int, std::string, char, std::string, CKvNet*, std::string> rows[] = {
      {"hello", "", 4096, "1|5|hello", 'g', report, nullptr, "GET " + report + at + "fixed"},
      {"", "", 0, "1|-|", 'i', "HTTP://127.0.5.5/Probe/Path", nullptr, "GET /probe/path" + at},
      {"hello", "deflate", 256, "1|-|hello", 'p', "kv://127.0.5.5/other", nullptr, "POST /other" + form},
      {kHello, "", 4096, "1|-|hello gzip world, hello gzip world, hello gzip world!", 'p', "/z", nullptr, "*"},
      {std::string("ab\0cd", 5), "", 4096, "1|-|" + std::string("\0b\0cd", 5), 'p', "/z", nullptr, "*"},
      {kManyA, "GZIP", 100, "1|99|" + std::string(99, 'A'), 'g', "/z", nullptr, "*"},
      {kHello, "gzip", 20, Outcome(1, "19", kHello.substr(0, 19)), 'g', "/z", nullptr, "*"},
      {"ab", "", 2, "1|1|a", 'g', "/z", nullptr, "*"},
      {n, "", 100000, Outcome(1, std::to_string(n.size()), n), 'g', "/z", nullptr, "*"},
      {n, "", 32768, "1|16384|" + n.substr(0, 16384), 'g', "/z", nullptr, "*"},
      {"never read", "", 64, "1|0|", 'g', "/stopped", &stopped, "GET /stopped" + at + "fixed"},
      {"", "", 4, "0|-|####", 'p', "http://a.b.Invalid./x", nullptr, ""}};
  for (const auto& [body, encoding, room, want, how, url, net, arrived] : rows) {
    Server().Clear(), Server().SetAnswer(Answer(body, encoding));
    const std::string got = Fetch(how, url, room, net), came = Arrived(Server());
    EXPECT_TRUE(want == got && (arrived == "*" || arrived == came)) << url << room << ": " << got.substr(0, 99) << came;
  }
  DWORD size = 0;
  EXPECT_FALSE(::GetUrlCacheEntryInfoW(kvtest::Wide("http://127.0.5.5" + report).c_str(), nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError()) << "the answer was cached";
}

// The helper's requests from a folder of its own: without zlib1.dll; a small answer that inflates to 64 MB; a reset,
// which fails the read and is logged.
TEST(Http, ThroughTheHelperInAFolderOfItsOwn) {
  ASSERT_TRUE(Server().ready());
  const std::wstring with = kvtest::FolderWith(L"net", {L"kvtesthelper.exe", L"zlib1.dll"});
  const std::wstring without = kvtest::FolderWith(L"net_nozlib", {L"kvtesthelper.exe"});
  ASSERT_TRUE(kvtest::SparseFile(with + L"zeros", 64 << 20) && CKvZlib::Instance().InitZlib(nullptr) == S_OK);
  ASSERT_EQ(S_OK, CKvZlib::Instance().EncodeFile((with + L"zeros").c_str(), (with + L"bomb").c_str(), 9));
  kvtest::HttpAnswer reset = Answer(std::string(3000, 'r'));
  reset.reset_after = 10;
  char failure[64] = {};  // the log line's text in the system's code page
  ::WideCharToMultiByte(CP_ACP, 0, L"\t网络连接异常: InternetReadFile\r\n", -1, failure, 64, nullptr, nullptr);
  // {answer, folder, arguments, "result|infolen|buffer", " logged" and " grew" by 16 MB}
  const std::tuple<kvtest::HttpAnswer, std::wstring, std::wstring, std::string> rows[] = {
      {Answer(kHello, "gzip"), without, L"get http://127.0.5.5/gz 256", Outcome(1, "42", kHello)},
      {Answer(ReadAll(with + L"bomb"), "gzip"), with, L"get http://127.0.5.5/bomb 131072", "1|131071|"},
      {reset, with, L"get http://127.0.5.5/reset 4096 --log", "0|0|rrrrrrrrrr logged"}};
  for (const auto& [answer, dir, args, want] : rows) {
    Server().SetAnswer(answer);
    for (const std::wstring& log : kvtest::FileNames(dir + L"KV-*.log")) ::DeleteFileW((dir + log).c_str());
    int result = -1, infolen = -1;
    unsigned long before = 0, after = ~0ul;
    std::vector<char> hex(1 << 19);
    std::sscanf(kvtest::Helper(L"net " + args, dir, dir + L"kvtesthelper.exe").output.c_str(),
                "result %d infolen %d body %524287s memory %lu %lu", &result, &infolen, hex.data(), &before, &after);
    const std::vector<std::wstring> logs = kvtest::FileNames(dir + L"KV-*.log");
    const bool logged = logs.size() == 1 && ReadAll(dir + logs[0]).find(failure) != std::string::npos;
    const std::string got = Outcome(result, std::to_string(infolen), kvtest::FromHex(hex.data())) +
                            (logged ? " logged" : "") + (after - before >= 16ul << 20 ? " grew" : "");
    EXPECT_EQ(want, got) << kvtest::Utf8(args);
  }
}

// Runs call in place on in, in a buffer of room bytes with a guard behind it: "text left there|guard".
std::string InRoom(const std::string& in, size_t room, const std::function<void(char*)>& call) {
  std::string buffer = in + std::string(room - std::min(room, in.size()), '\0') + "##";
  call(buffer.data());
  return buffer.c_str() + std::string("|") + buffer.substr(std::max(room, in.size()));
}

// Published answers: MD5 over two blocks and with padding of a block of its own, HMAC-MD5 with a short key and with
// one longer than a block, DES's 3FA40E8A984D4815 and 85E813540F0AB405 scrambled with 08 09 .. 0F, a tail only
// scrambled. Byte n of a file is scrambled with (n + 8) % 256; the same file under another spelling is refused first.
TEST(Hashing, ResultsStayWithinTheirRoomsAndFiles) {
  const char key[] = "\x13\x34\x57\x79\x9b\xbc\xdf\xf1", block[] = "\x01\x23\x45\x67\x89\xab\xcd\xef\x41\x42\x43\x44";
  const std::wstring dir = kvtest::FreshDir(L"scramble"), full = kvtest::FullDevice();
  ASSERT_FALSE(full.empty()) << "no device whose writes fail for want of room";
  const std::string az = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                    larger = "Test Using Larger Than Block-Size Key - Hash Key First";
  std::string plain, coded, digits;
  for (int i = 0; i < 8; ++i) digits += "1234567890";
  for (int i = 0; i < 3000; ++i)
    plain += static_cast<char>(i * 37 + 11), coded += static_cast<char>(plain[i] ^ (i + 8));
  kvtest::WriteText(dir + L"plain", plain), kvtest::WriteText(dir + L"back", std::string(5000, 'x'));
  auto scramble = [&](const wchar_t* from, const std::wstring& to) {
    const std::string result = std::to_string(KvEncodeFile((dir + from).c_str(), to.c_str()));
    return to == full ? result : kvtest::Exists(to) ? result + ' ' + ReadAll(to) : result + " none";
  };
  const std::pair<std::string, std::string> rows[] = {
      {InRoom("", 33, [](char* b) { MD5Go(b, ""); }), "74E6F7298A9C2D168935F58C001BAD88|##"},  // an empty key is HMAC
      {InRoom(az, 63, [](char* b) { MD5Go(b, nullptr); }), "D174AB98D277D9F5A5611C2C9F419D9F|##"},
      {InRoom(digits, 81, [](char* b) { MD5Go(b, nullptr); }), "57EDF4A22BE3C955AC49DA2E2107B67A|##"},
      {InRoom("what do ya want for nothing?", 33, [](char* b) { MD5Go(b, "Jefe"); }),
       "750C783E6AB0B503EAA86E310A5DB738|##"},
      {InRoom(larger, 55, [&](char* b) { MD5Go(b, std::string(80, '\xAA').c_str()); }),
       "6B1AB7FE4BD7BF8F0B62E6CE61B9D0CD|##"},
      {InRoom("Now is t", 17, [](char* b) { KvEncode("\x01\x23\x45\x67\x89\xAB\xCD\xEF", b, 8, 1); }),
       "37AD04819440461A|##"},
      {InRoom(block, 25, [&](char* b) { KvEncode(key, b, 12, 1); }), "8DE1195F0307BA0A51535157|##"},
      {InRoom("8DE1195F0307BA0A51535157", 25, [&](char* b) { KvEncode(key, b, 24, 0); }), block + std::string("|##")},
      {scramble(L"plain", dir + L"coded"), "1 " + coded},
      {scramble(L"coded", dir + L"back"), "1 " + plain},
      {scramble(L"absent", dir + L"out") + scramble(L"plain", full), "0 none0"},
      {scramble(L"plain", dir.substr(0, dir.size() - 1) + L"\\..\\SCRAMBLE\\./plain"), "0 " + plain}};
  for (const auto& [got, want] : rows)
    EXPECT_TRUE(want == got) << Hex(want.substr(0, 40)) << " " << Hex(got.substr(0, 40));
}

const std::string kBig5 = "\xA4\xA4\xB0\xEA\xB3\x6E\xA5\xF3", kTraditional = "\xD6\xD0\x87\xF8\xDC\x9B\xBC\xFE";
std::string Converted(void (*convert)(LPSTR, int), const std::string& text, int room) {
  return InRoom(text, room, [&](char* b) { convert(b, room); });
}

// 中國軟件 in GBK and in Big5: traditional text is Big5 only on a Big5 system, and never runs past its room. 中 and row
// A1 are Chinese; the full-width row A3, A0, one byte, an odd length, nothing and null are not.
TEST(ChineseText, ConversionsAndClassesOnThisCodePage) {
  ASSERT_TRUE(kvtest::ExpectedCodePage() == 0 || kvtest::ExpectedCodePage() == ::GetACP());
  std::string classes;
  for (const char* text : {"\xD6\xD0", "\xA1\xA1", "\xA3\xAC", "\xA0\xA1", "\xD6", "\xD6\xD0\x61", "", (const char*)0})
    classes += std::to_string(isHZ(text));
  EXPECT_EQ(
      Hex(kBig5 + "|##" + kBig5.substr(0, 4) + "|##" + (::GetACP() == 950 ? kBig5 : kTraditional) +
          "|##Setup 1.0|##11000000"),
      Hex(Converted(&gb2big, kTraditional, 32) + Converted(&gb2big, kTraditional, 5) +
          Converted(&GbToTraditional, kTraditional, 32) + Converted(&GbToTraditional, "Setup 1.0", 32) + classes));
}

// "result|text" of a query of the process-wide reader (c count, v first value, i by index arg), or four steps
// "result|text@position " of a walk of the values from arg; nothing lands past the text.
std::wstring Query(const std::wstring& xml, char op, LPCWSTR name, int arg = 0) {
  Parse(xml.c_str());
  std::wstring answers;
  for (int at = arg, step = 0; step < (op == 'w' ? 4 : 1); ++step) {
    wchar_t out[512];
    std::wmemset(out, L'#', 512);
    const int r = op == 'c'   ? (out[0] = 0, GetXmlNodeCount(name))
                  : op == 'v' ? GetXmlNodeValue(name, out)
                  : op == 'i' ? GetXmlNodeValue2(name, out, arg)
                              : GetXmlNodeValue3(name, out, &at);
    const size_t n = wcsnlen(out, 512);
    EXPECT_EQ(std::wstring(511 - n, L'#'), std::wstring(out + n + 1, 511 - n)) << "past the text";
    answers += std::to_wstring(r) + L"|" + std::wstring(out, n) + (op == 'w' ? L"@" + std::to_wstring(at) + L" " : L"");
  }
  return answers;
}

// A literal search: the first "<name>", then the first "</name>"; values longer than a path come whole.
TEST(Xml, QueriesOnDocuments) {
  const std::wstring three = L"<a>1</a><a>2</a><b>x</b>", nested = L"<a>1<a>2</a></a>", w(300, L'w');
  const std::pair<std::wstring, std::wstring> rows[] = {
      {Query(three, 'c', L"a") + Query(three, 'v', L"a") + Query(three, 'v', L"c"), L"2|1|10|"},
      {Query(three, 'i', L"a", 1) + Query(three, 'i', L"a", 2), L"1|20|"},
      {Query(three, 'w', L"a"), L"1|1@4 1|2@12 0|@-1 0|@-1 "},
      {Query(L"</a>x<a>y</a>", 'v', L"a") + Query(nested, 'v', L"a") + Query(nested, 'i', L"a", 1), L"0|1|1<a>21|2"},
      {Query(L"<x>skip</x><v>" + w + L"</v>", 'v', L"v"), L"1|" + w}};
  for (const auto& [got, want] : rows) EXPECT_EQ(want, got);
}

std::string Failed(HRESULT hr) { return std::string("!").append(std::to_string(hr)); }

// Files become one zlib stream each and back, over what was there; no stream and over 1,000,000,000 bytes fail.
TEST(Zlib, FilesBothWays) {
  CKvZlib& zlib = CKvZlib::Instance();
  ASSERT_EQ(S_OK, zlib.InitZlib(nullptr));
  const std::wstring dir = kvtest::FreshDir(L"zlib");
  kvtest::WriteText(dir + L"ten", "0123456789"), kvtest::WriteText(dir + L"0", "");
  ASSERT_TRUE(kvtest::SparseFile(dir + L"big", 1000000001LL));
  auto code = [&](bool encode, const wchar_t* from, const wchar_t* to, int level_or_size) {
    const std::wstring source = dir + from, target = dir + to;
    kvtest::WriteText(target, "old content that must go");
    const HRESULT hr = encode
                           ? zlib.EncodeFile(source.c_str(), target.c_str(), level_or_size)
                           : zlib.DecodeFile(source.c_str(), target.c_str(), static_cast<unsigned long>(level_or_size));
    return hr == S_OK ? ReadAll(target) : Failed(hr);
  };
  const std::string fail = Failed(E_FAIL);
  const std::pair<std::string, std::string> rows[] = {
      {code(1, L"ten", L"ten.z", -1).substr(0, 1), "x"},
      {code(1, L"0", L"0.z", 9), ""},
      {code(0, L"ten.z", L"out", 2) + code(0, L"0.z", L"out0", 0), "0123456789"},  // an expected size too small
      {code(0, L"none", L"out", 0), Failed(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))},
      {code(0, L"ten", L"out", 0) + code(0, L"big", L"out", 0), fail + fail}};
  for (const auto& [got, want] : rows) EXPECT_TRUE(want == got) << want.substr(0, 20) << " " << got.substr(0, 20);
}

struct Ticks {  // a timer's calls: how many, when the first came, on which thread, and whether on another one later
  std::atomic<int> count{0};
  std::atomic<DWORD> first{0}, thread{0};
  std::atomic<bool> moved{false};
};
void Tick(void* param) {
  auto* t = static_cast<Ticks*>(param);
  if (t->count++ == 0) t->first = ::GetTickCount(), t->thread = ::GetCurrentThreadId();
  t->moved = t->moved || t->thread != ::GetCurrentThreadId();
}
bool Reach(Ticks& t, int n) {
  return kvtest::PollUntil([&] { return t.count >= n; }, kHang);
}
unsigned __stdcall TickForever(void* ticks) { return Tick(ticks), ::Sleep(INFINITE), 5; }
void Arm(CKvThread& s, Ticks& t, int id, int ms, int calls) { s.StartTimer(id, &Tick, ms, &t), Reach(t, calls); }
HANDLE Ticked(Ticks& t, HANDLE thread) { return Reach(t, 1), thread; }

// A live id keeps its timer, any number of ids run, and a reused id's sleeping old thread ends rather than run the new
// timer. All wake well within Stop's 100 ms: one terminated while it ends could hold the loader's lock for good.
TEST(Timers, EachOnAThreadOfItsOwnAfterAnIntervalAndEachHandleClosedOnce) {
  CKvThread service;
  Ticks a, b, c, more[25];
  const DWORD start = ::GetTickCount();
  service.StartTimer(7, &Tick, 300, &a), service.StartTimer(7, &Tick, 20, &b), service.KillTimer(99);
  for (int i = 0; i < 25; ++i) service.StartTimer(100 + i, &Tick, 20, &more[i]);
  ASSERT_TRUE(Reach(a, 2));
  service.KillTimer(7), service.StartTimer(7, &Tick, 30, &c);
  const int killed = a.count;
  EXPECT_TRUE(Reach(c, 10) && std::all_of(more, more + 25, [](Ticks& t) { return Reach(t, 3); }));
  service.Stop();
  EXPECT_TRUE(a.first - start >= 280 && a.count <= killed + 1 && !b.count) << "an interval first; a kill ends calls";
  EXPECT_FALSE(a.moved || c.moved || a.thread == ::GetCurrentThreadId()) << "each timer on a thread of its own";
  // Whoever ends a thread, its handle is closed once by Stop's return and no call follows. A thread is ended from
  // outside only once it has called, never while it starts (under the loader's lock).
  const std::tuple<const char*, std::function<void(CKvThread&, Ticks&)>, bool> rows[] = {
      {"never ends", [](auto& s, auto& t) { s.ExitThread(Ticked(t, s.StartThread(&TickForever, &t, 0)), 99); }, 1},
      {"killed, ends", [](auto& s, auto& t) { Arm(s, t, 1, 9, 1), s.KillTimer(1); }, 1},
      {"asleep at Stop", [](auto& s, auto& t) { Arm(s, t, 3, 2000, 1); }, 1},
      {"id reused asleep", [](auto& s, auto& t) { Arm(s, t, 4, 300, 1), s.KillTimer(4), Arm(s, t, 4, 300, 2); }, 1},
      {"started after Stop", [](auto& s, auto& t) { s.Stop(), s.StartTimer(5, &Tick, 10, &t); }, 0}};
  for (const auto& [what, run, called] : rows) {
    const DWORD before = kvtest::OpenHandles();
    Ticks ticks;
    auto service = std::make_unique<CKvThread>();
    run(*service, ticks);
    const DWORD start = ::GetTickCount();  // Stop waits 100 ms for a sleeping thread, not the rest of its sleep
    service->Stop(), service.reset();
    const int stopped = ticks.count;
    EXPECT_FALSE(kvtest::PollUntil([&] { return ticks.count != stopped; }, kSettle)) << what;
    EXPECT_TRUE(kvtest::PollUntil([&] { return kvtest::OpenHandles() == before; }, kSettle)) << what;
    EXPECT_TRUE(::GetTickCount() - start < 1500 && called == (ticks.count > 0)) << what;
  }
}

// Readers share, and the last one on any thread, not only the one that took the gate, lets the waiting writer in.
TEST(ReadWriteLock, ReadersShareAndTheLastOneOnAnyThreadLetsTheWriterIn) {
  CLock lock;
  auto on_another = [&](void (CLock::*call)()) {
    return std::async(std::launch::async, [&lock, call] { (lock.*call)(); });
  };
  auto done = [](const std::future<void>& job, DWORD ms) {
    return job.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
  };
  lock.LockRead();
  ASSERT_TRUE(done(on_another(&CLock::LockRead), kHang)) << "a second reader joins";
  const std::future<void> writer = on_another(&CLock::Lock);
  lock.UnlockRead();  // the reader that took the gate leaves first
  EXPECT_FALSE(done(writer, kSettle) || !lock.IsLockRead());
  EXPECT_TRUE(done(on_another(&CLock::UnlockRead), kHang) && done(writer, kHang) && lock.IsLockWrite());
}

// A log's messages, each followed by "|"; what is not a whole line stays as it is.
std::string Messages(const std::string& bytes) {
  return std::regex_replace(bytes, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t([^\r\n]*)\r\n)"), "$1|");
}

// The helper logs into the day's file beside it in the system's code page while the "debug" switch (whose lock the run
// holds) is "1": in the 32-bit view, else in the 64-bit one. A message is cut at 1023 units, not inside a pair.
TEST(LogSwitch, LinesAreWrittenWhenSwitchedOnInTheCodePageAndView) {
  ASSERT_TRUE(kvtest::ExpectedWow64() < 0 || kvtest::ExpectedWow64() == isWow64()) << "not the prefix asked for";
  char chinese[16] = "\xD0\xB6\xD4\xD8";  // 卸载 in GBK, on the product's own system
  if (::GetACP() != 936) ::WideCharToMultiByte(CP_ACP, 0, L"卸载", -1, chinese, sizeof(chinese), nullptr, nullptr);
  const std::wstring w(1100, L'w'), a(1022, L'a');
  // {what the helper logs, the log's messages, the switch in the 32-bit view, in the 64-bit view}
  const std::tuple<std::wstring, std::string, const wchar_t*, const wchar_t*> rows[] = {
      {L"write x", "", nullptr, nullptr},
      {L"write x", "", L"01", nullptr},
      {L"write one", "one|", L"1", nullptr},
      {L"force 卸载", chinese + std::string("|"), nullptr, nullptr},
      {L"write2 " + w + L" 5", std::string(1023, 'w') + "|", L"1", nullptr},
      {L"write2 " + a + L"\U0001F600 5", kvtest::Utf8(a) + "|", L"1", nullptr},
      {L"write only-64", "only-64|", nullptr, L"1"},
      {L"write hidden", "", L"0", L"1"}};
  for (const auto& [command, log, v32, v64] : rows) {
    if (v64 && !isWow64()) continue;  // one view here: the 64-bit prefix's run has these rows
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) kvtest::DeleteRegValue(kMachine, kVendor, L"debug", view);
    if (v32) kvtest::SetRegText(kMachine, kVendor, L"debug", v32, KEY_WOW64_32KEY);
    if (v64) kvtest::SetRegText(kMachine, kVendor, L"debug", v64, KEY_WOW64_64KEY);
    const std::wstring dir = kvtest::FolderWith(L"log", {L"kvtesthelper.exe"});
    kvtest::Helper(L"log " + command, dir, dir + L"kvtesthelper.exe");
    const std::vector<std::wstring> files = kvtest::FileNames(dir + L"KV-*.log");
    const bool named = files.size() == 1 &&
                       std::regex_match(kvtest::Utf8(files[0]), std::regex(R"(KV-20\d\d-[1-9]\d?-[1-9]\d?\.log)"));
    EXPECT_EQ(log, named           ? Messages(ReadAll(dir + files[0]))
                   : files.empty() ? ""
                                   : "misnamed")
        << kvtest::Utf8(command.substr(0, 20));
  }
  // Left on, every later program of the prefix would log beside itself.
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) kvtest::DeleteRegValue(kMachine, kVendor, L"debug", view);
}

// The shared log block: nothing before it is named, lines follow each other within its size, a copy keeps the block
// after the original goes, and nothing is written past its end.
TEST(LogBlock, LinesFollowEachOtherWithinTheBlock) {
  const std::wstring name = L"kvtest_logblock_" + std::to_wstring(::GetCurrentProcessId());
  auto original = std::make_unique<CKvLog>();
  original->WriteLog3(L"lost"), original->SetMemName(name.c_str(), 400), original->WriteLog3(L"first %d", 1);
  CKvLog copy(*original), assigned;
  original.reset(), copy.WriteLog3(L"%s", L"two"), assigned = copy;
  for (int i = 0; i < 6; ++i) assigned.WriteLog3(L"line %d", i);  // 28 units a line: four fit
  kv::UniqueHandleKernel mapping(::OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
  kv::UniqueView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
  ASSERT_TRUE(view);
  const auto* units = static_cast<const wchar_t*>(view.get());
  EXPECT_EQ(std::wstring(26, L'\0'), std::wstring(units, 26)) << "where the lost line would be";
  EXPECT_EQ("first 1|two|line 0|line 1|line 2|line 3|", Messages(kvtest::Utf8(units + 26)));
  EXPECT_EQ(std::wstring(1848, L'\0'), std::wstring(units + 200, 1848)) << "past the block";
}

// GetRegInfo as "1|text" or "0"; never a unit written past its room.
std::wstring Read(const TempRegKey& key, const wchar_t* name, int view = 0) {
  std::wstring text(CKvReg::kValueRoom + 8, L'z');
  const int result = GetRegInfo(key.root, key.path.c_str(), name, view, text.data());
  EXPECT_EQ(L'z', text[CKvReg::kValueRoom]);
  return result ? L"1|" + std::wstring(text.c_str()) : L"0";
}

void Count(void* calls) { ++*static_cast<std::atomic<int>*>(calls); }
// Whether calls reach n within ms while change(0), change(1), ... are made, until one is seen between two re-armings.
bool Sees(std::atomic<int>& calls, int n, const std::function<void(int)>& change = nullptr, DWORD ms = kHang) {
  int i = 0;
  return kvtest::PollUntil([&] { return calls >= n || (change && (change(i++), false)); }, ms);
}

// Flag 1 is the 64-bit view, 0 the 32-bit one under WOW64; outside WOW64 both reach the one view. A write to a missing
// key creates nothing, a text without room for its terminator is not read.
// Monitors share the one service and its stop flag: once at the start, then once per change anywhere below the key in
// the view asked for, until a stop ends the loop within one of its rounds; a restart revives no stopped monitor.
TEST(RegistryView, ValuesInTheirViewAndMonitorsOfTheSubtree) {
  ASSERT_TRUE(kvtest::ExpectedWow64() < 0 || kvtest::ExpectedWow64() == isWow64()) << "not the prefix asked for";
  TempRegKey key(kMachine, L"reg_view", {}), only64(kMachine, L"reg_view64", {}), none(kUser, L"reg_none", {});
  TempRegKey watched(kMachine, L"reg_monitor", {KEY_WOW64_64KEY}), other(kUser, L"reg_monitor_other");
  const std::wstring a(129, L'a'), b(130, L'b');
  for (const auto& [path, value, text, view] : {std::tuple{key.path, L"which", L"32", KEY_WOW64_32KEY},
                                                {key.path, L"which", L"old", KEY_WOW64_64KEY},
                                                {key.path, L"fits", a.c_str(), KEY_WOW64_32KEY},
                                                {key.path, L"long", b.c_str(), KEY_WOW64_32KEY},
                                                {only64.path, L"v", L"x", KEY_WOW64_64KEY}})
    kvtest::SetRegText(kMachine, path, value, text, view);
  const int set = SetRegInfo(kMachine, key.path.c_str(), L"which", 1, L"64") * 10 +
                  SetRegInfo(kUser, none.path.c_str(), L"v", 0, L"x");
  const std::pair<std::wstring, std::wstring> rows[] = {
      {std::to_wstring(set) + std::to_wstring(kvtest::KeyExists(kUser, none.path)) + Read(key, L"which", 1),
       L"1001|64"},
      {Read(key, L"which", 0) + Read(only64, L"v", 0), isWow64() ? L"1|320" : L"1|641|x"},
      {Read(key, L"absent") + Read(key, L"fits") + Read(key, L"long"), L"01|" + a + L"0"}};
  for (const auto& [got, want] : rows) EXPECT_EQ(want, got);
  std::atomic<int> calls{0}, stopped{0};
  kvtest::SetRegRaw(kMachine, watched.path + L"\\deep", nullptr, 0, nullptr, 0, KEY_WOW64_64KEY);
  auto add = [&](int i) {
    const std::wstring deep = watched.path + L"\\deep\\grandchild" + std::to_wstring(i);
    kvtest::SetRegRaw(kMachine, deep, nullptr, 0, nullptr, 0, KEY_WOW64_64KEY);
    kvtest::SetRegRaw(kUser, other.path + std::to_wstring(i), nullptr, 0, nullptr, 0);
  };
  auto running = [](int n) { return kvtest::PollUntil([n] { return kv::RunningRegMonitors() == n; }, kHang); };
  StartMonitor(kUser, other.path.c_str(), 0, &Count, &stopped);
  ASSERT_TRUE(Sees(stopped, 1));
  StopMonitor(), StartMonitor(kMachine, watched.path.c_str(), 1, &Count, &calls);
  ASSERT_TRUE(Sees(calls, 1) && running(1)) << "only the new one runs";
  EXPECT_FALSE(Sees(calls, 2, nullptr, 1200)) << "not again in two rounds without a change";
  EXPECT_TRUE(Sees(calls, 2, add));
  StopMonitor();
  EXPECT_TRUE(stopped == 1 && running(0)) << "a stop ends the loop within one of its rounds";
}

}  // namespace
