// The HTTP client against a recording server of the test's own on 127.0.5.5:80 (the client always
// talks to port 80): what goes out on the wire and what comes back into the caller's buffer. The
// proxy, zlib's absence, memory and the log are seen through the helper in a folder of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "services/http_client.h"
#include "services/zlib_codec.h"
#include "tests/services/services_fixtures.h"
#include "tests/support/kvtest.h"

namespace {

using namespace kvservices;
using kvtest::Answer;
using kvtest::HttpRequest;
constexpr char kHost[] = "127.0.5.5";

struct Got {
  int result = -1, infolen = -1;  // infolen -1: a POST, which leaves it alone
  std::string whole;              // the caller's buffer
  long long grown = -1;           // through the helper: bytes its peak working set grew by
  std::string str() const { return std::to_string(result) + "|" + std::to_string(infolen) + "|" + whole.c_str(); }
};

// GET (or POST data) a path on the server, or a whole URL, into a buffer of room bytes that
// starts dirty; nothing behind the buffer may change.
Got Fetch(const std::string& url, int room, const char* post = nullptr, CKvNet* net = nullptr) {
  const std::wstring full = kvtest::Wide(url[0] == '/' ? "http://" + std::string(kHost) + url : url);
  CKvNet& client = net ? *net : CKvNet::Instance();
  std::vector<char> memory(room + 64, '#');
  Got g;
  g.result = post ? client.Post(full.c_str(), post, static_cast<int>(std::strlen(post)), memory.data(), room)
                  : net ? net->GetUrlInfo(full.c_str(), memory.data(), room) : GetUrlInfo(full.c_str(), memory.data(), room);
  if (!post) g.infolen = client.GetInfoLen();
  EXPECT_EQ(std::string(64, '#'), std::string(memory.data() + room, 64)) << "written past a buffer of " << room;
  g.whole.assign(memory.data(), room);
  return g;
}

// One request of the helper's, run from dir.
Got ByHelper(const std::wstring& dir, const std::wstring& args) {
  Got g;
  for (const std::string& line : kvtest::Lines(kvtest::Helper(L"net " + args, dir, dir + L"kvtesthelper.exe").output)) {
    unsigned long before = 0, after = 0;
    std::sscanf(line.c_str(), "result %d", &g.result);
    std::sscanf(line.c_str(), "infolen %d", &g.infolen);
    if (line.rfind("body ", 0) == 0) g.whole = kvtest::FromHex(line.substr(5));
    if (std::sscanf(line.c_str(), "memory %lu %lu", &before, &after) == 2) g.grown = static_cast<long long>(after) - before;
  }
  if (args.rfind(L"post", 0) == 0) g.infolen = -1;
  return g;
}
std::wstring Folder(const wchar_t* name, bool zlib) {
  return zlib ? kvtest::FolderWith(name, {L"kvtesthelper.exe", L"zlib1.dll"}) : kvtest::FolderWith(name, {L"kvtesthelper.exe"});
}

void ExpectHeaders(const HttpRequest& r, const std::string& host) {
  const std::pair<std::string, std::string> headers[] = {
      {"Accept", "text/html,application/xml;q=0.9,application/json,*/*;q=0.8"}, {"Accept-Encoding", "gzip,deflate"},
      {"Accept-Language", "zh-CN,zh;q=0.5"}, {"Accept-Charset", "gb2312,utf-8;q=0.7,*;q=0.7"}, {"Host", host},
      {"User-Agent", "Mozilla/5.0 (Windows NT 6.1)"}};
  for (const auto& [name, value] : headers) EXPECT_TRUE(r.Header(name) == value && r.CountHeader(name) == 1) << name;
}

class Http : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { wire_ = new kvtest::Wire(kHost, 80); }
  static void TearDownTestSuite() { delete wire_; }
  void SetUp() override {
    ASSERT_TRUE(wire_->ready()) << "port 80 on " << kHost;
    ASSERT_EQ(S_OK, CKvZlib::Instance().InitZlib(nullptr));  // every client's end unloads it
    wire_->Clear();
  }
  static kvtest::Wire* wire_;
};
kvtest::Wire* Http::wire_ = nullptr;

// The reports' addresses carry the user's identifier and the product's name: nothing of a
// request may stay in the user's browser cache.
TEST_F(Http, RequestsCarryTheirHeadersAndBodiesAndStayOutOfTheCache) {
  wire_->SetAnswer(Answer("hello"));
  const std::string unique = "/report.asp?type=uninstall&value=Kv%20Cache&uuid=KV" + std::to_string(::GetTickCount());
  const std::string form = "name=%e4%b8%ad&n=1";
  // {URL, form (null: GET), what arrived: "METHOD target|Content-Type|body"}
  const struct { std::string url; const char* post; std::string arrived; } rows[] = {
      {unique, nullptr, "GET " + unique + "||"},
      {unique, form.c_str(), "POST " + unique + "|application/x-www-form-urlencoded|" + form},
      {"kv://127.0.5.5/other", "x=1", "POST /other|application/x-www-form-urlencoded|x=1"}};  // any scheme
  for (const auto& r : rows) EXPECT_EQ("hello" + std::string(4091, '\0'), Fetch(r.url, 4096, r.post).whole);
  const std::vector<HttpRequest> got = wire_->Requests();
  ASSERT_EQ(3u, got.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(rows[i].arrived, got[i].method + " " + got[i].target + "|" + got[i].Header("Content-Type") + "|" + got[i].body);
    ExpectHeaders(got[i], kHost);
  }
  DWORD size = 0;
  EXPECT_FALSE(::GetUrlCacheEntryInfoW(kvtest::Wide("http://127.0.5.5" + unique).c_str(), nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError()) << "the answer was cached";
}

TEST_F(Http, ProbeSendsABareLowerCasedGet) {
  EXPECT_NE(0, isConnected(L"HTTP://127.0.5.5/Probe/Path"));
  EXPECT_EQ(0, isConnected(L"http://127.0.5.6/x")) << "nobody listens there";
  const std::vector<HttpRequest> got = wire_->Requests();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ("GET /probe/path", got[0].method + " " + got[0].target);
  EXPECT_EQ(0, got[0].CountHeader("Accept-Language")) << "the probe adds no header";
  EXPECT_EQ(0u, got[0].Header("User-Agent").rfind("Agent", 0)) << got[0].Header("User-Agent");
}

TEST_F(Http, AnswersByEncodingStatusAndRoom) {
  std::string n;  // 40000 bytes of numbers, so that a piece read twice or skipped shows
  for (int i = 0; n.size() < 40000; ++i) n += std::to_string(i) + ",";
  n.resize(40000);
  const std::string a(5000, 'A');
  // {answer, Content-Encoding, status, POST, room, "result|infolen|", the buffer's text (zeros after)}
  const struct { std::string body; const char* encoding; int status; bool post; int room; std::string want, text; } rows[] = {
      {kHello, "gzip", 200, false, 4096, "1|53|", kHelloText}, {kHello, "GZIP", 200, false, 4096, "1|53|", kHelloText},
      {kHello, "gzip", 200, true, 4096, "1|-1|", kHelloText}, {kHello, "GZIP", 200, true, 4096, "1|-1|", kHelloText},
      {kZlib, "deflate", 200, false, 4096, "1|25|", kZlib},  // deflate is left raw
      // POST without an encoding: a zero byte inside sends it to the decoder; what is no stream empties.
      {kManyA, "", 200, true, 8192, "1|-1|", a}, {std::string("ab\0cd", 5), "", 200, true, 4096, "1|-1|", std::string("\0b\0cd", 5)},
      {"plain answer", "", 200, true, 4096, "1|-1|", "plain answer"},
      {"not here", "", 404, false, 4096, "1|8|", "not here"}, {"broken", "", 500, true, 4096, "1|-1|", "broken"},
      // Inflated text is cut to room - 1 bytes; the reports' 50 bytes take one read of 49, and a
      // gzip member cut there cannot be inflated and stays raw.
      {kManyA, "gzip", 200, false, 100, "1|99|", a.substr(0, 99)}, {kManyA, "gzip", 200, true, 100, "1|-1|", a.substr(0, 99)},
      {kHello, "gzip", 200, false, 50, "1|49|", kHelloText.substr(0, 49)},
      {std::string(100, 'x'), "", 200, false, 50, "1|49|", std::string(49, 'x')},
      {kRandom, "gzip", 200, false, 50, "1|49|", kRandom.substr(0, 49)},
      {"anything", "", 200, false, 1, "1|0|", ""},  // the terminator only, the request made all the same
      // Pieces of 16384 bytes (room - 1 below that): reading goes on while a whole piece and the
      // terminator still fit.
      {"", "", 200, false, 2, "1|0|", ""}, {"a", "", 200, false, 2, "1|1|", "a"}, {"ab", "", 200, false, 2, "1|1|", "a"},
      {"abc", "", 200, false, 2, "1|1|", "a"}, {n, "", 200, false, 100000, "1|40000|", n},
      {n, "", 200, false, 20000, "1|16384|", n.substr(0, 16384)}, {n, "", 200, false, 16385, "1|16384|", n.substr(0, 16384)},
      {n.substr(0, 32767), "", 200, false, 32768, "1|16384|", n.substr(0, 16384)},
      {n.substr(0, 32768), "", 200, false, 32768, "1|16384|", n.substr(0, 16384)},
      {n.substr(0, 32769), "", 200, false, 32768, "1|16384|", n.substr(0, 16384)},
      {n.substr(0, 32768), "", 200, false, 32769, "1|32768|", n.substr(0, 32768)},
      {n, "", 200, false, 49152, "1|32768|", n.substr(0, 32768)}};
  for (const auto& r : rows) {
    wire_->SetAnswer(Answer(r.body, r.encoding, r.status));
    const Got g = Fetch("/any", r.room, r.post ? "a" : nullptr);
    const std::string row = std::to_string(r.room) + " " + r.encoding + " " + std::to_string(r.body.size());
    EXPECT_EQ(r.want, std::to_string(g.result) + "|" + std::to_string(g.infolen) + "|") << row;
    EXPECT_TRUE(r.text + std::string(r.room - r.text.size(), '\0') == g.whole) << row;
  }
  EXPECT_EQ(std::size(rows), wire_->Requests().size());
}

TEST_F(Http, StopEndsAllReading) {
  wire_->SetAnswer(Answer("never read"));
  {
    CKvNet net;
    net.Stop();
    CKvNet copy(net);  // a copy keeps the flag
    for (const char* post : {(const char*)nullptr, "a=1"})
      for (CKvNet* client : {&net, &copy})
        EXPECT_EQ(post ? "1|-1|" : "1|0|", Fetch("/stopped", 64, post, client).str());
    EXPECT_TRUE(wire_->WaitForRequests(4, kHang)) << "the requests themselves are made";
  }
  ASSERT_EQ(S_OK, CKvZlib::Instance().InitZlib(nullptr));  // every client's end unloads zlib
  EXPECT_EQ("1|10|never read", Fetch("/again", 64).str()) << "the process-wide client was not stopped";
}

// Nobody listens: the send fails and the read decides. Windows refuses the read (result 0); Wine's
// InternetReadFile succeeds with no bytes, so the answer is empty. A name under the reserved
// "invalid" domain fails at once, with no name-server query and nothing sent.
TEST_F(Http, UnreachableServersGiveNothing) {
  for (const char* post : {(const char*)nullptr, "a=1"}) {
    const Got g = Fetch("http://127.0.5.6/nothing", 64, post);
    EXPECT_TRUE(g.result == 0 || g.whole == std::string(64, '\0')) << g.str();
    if (!post) EXPECT_EQ(0, g.infolen);
  }
  for (const char* url : {"http://reports.kv-uninstall.invalid/report.asp?type=open", "http://INVALID/x", "http://a.b.Invalid./x"}) {
    const DWORD begin = ::GetTickCount();
    EXPECT_EQ(0, Fetch(url, 64).result) << url;
    EXPECT_EQ(0, Fetch(url, 64, "a=1").result) << url;
    EXPECT_EQ(0, isConnected(kvtest::Wide(url).c_str())) << url;
    EXPECT_LT(::GetTickCount() - begin, 2000u) << url;
  }
  EXPECT_TRUE(wire_->Requests().empty());
  wire_->SetAnswer(Answer("ok"));
  EXPECT_EQ("1|2|ok", Fetch("/invalid.txt", 64).str()) << "only the host's last label counts";
}

TEST_F(Http, ThroughTheProxyOfProxyDat) {
  kvtest::Wire proxy;
  ASSERT_TRUE(proxy.ready());
  proxy.SetAnswer(Answer("through the proxy"));
  const std::wstring dir = Folder(L"net_proxy", true);
  std::string dat = proxy.ProxyDat();
  kvtest::WriteText(dir + L"proxy.dat", dat);
  // {helper's request, its answer, what the proxy saw: "METHOD target|Host|body" as a pattern}
  const struct { std::wstring args; std::string want, seen; } rows[] = {
      {L"get \"http://reports.example.invalid/report.asp?type=t\" 256", "1|17|through the proxy",
       R"(GET http://reports\.example\.invalid(:80)?/report\.asp\?type=t\|reports\.example\.invalid\|)"},
      {L"post \"http://reports.example.invalid/api.ashx\" a=1 256", "1|-1|through the proxy",
       R"(POST http://reports\.example\.invalid(:80)?/api\.ashx\|reports\.example\.invalid\|a=1)"},
      // No "/" after the host: the whole URL is the server name and "/" the path.
      {L"get http://bare.example.invalid 256", "1|17|through the proxy",
       R"(GET http://http://bare\.example\.invalid(:80)?/\|http://bare\.example\.invalid\|)"}};
  for (const auto& r : rows) EXPECT_EQ(r.want, ByHelper(dir, r.args).str()) << kvtest::Utf8(r.args);
  const std::vector<HttpRequest> got = proxy.Requests();
  ASSERT_EQ(3u, got.size());
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_TRUE(std::regex_match(got[i].method + " " + got[i].target + "|" + got[i].Header("Host") + "|" + got[i].body,
                                 std::regex(rows[i].seen))) << got[i].target;
  ExpectHeaders(got[0], "reports.example.invalid");
  dat[0] = 0;  // switched off in the record: straight to the server
  kvtest::WriteText(dir + L"proxy.dat", dat);
  wire_->SetAnswer(Answer("direct"));
  EXPECT_EQ("1|6|direct", ByHelper(dir, L"get \"http://127.0.5.5/direct\" 256").str());
  EXPECT_EQ(3u, proxy.Requests().size());
  EXPECT_EQ(1u, wire_->Requests().size());
}

TEST_F(Http, WithoutZlibGzipStaysRawOrEmpty) {
  wire_->SetAnswer(Answer(kHello, "gzip"));
  const std::wstring without = Folder(L"net_nozlib", false), with = Folder(L"net_zlib", true);
  const Got raw = ByHelper(without, L"get http://127.0.5.5/gz 256");
  EXPECT_EQ("1|42", raw.str().substr(0, 4));
  EXPECT_EQ(kHello + std::string(214, '\0'), raw.whole);
  EXPECT_EQ("1|-1|", ByHelper(without, L"post http://127.0.5.5/gz a=1 256").str()) << "Post empties what it cannot decode";
  EXPECT_EQ("1|53|" + kHelloText, ByHelper(with, L"get http://127.0.5.5/gz 256").str());
}

// A small answer that inflates to 64 MB: inflation stops at what the caller's buffer keeps rather
// than growing the whole body in memory first.
TEST_F(Http, InflationStopsAtTheBuffer) {
  const std::wstring dir = Folder(L"net_bomb", true);
  ASSERT_TRUE(Sized(dir + L"zeros", 64 << 20));
  ASSERT_EQ(S_OK, CKvZlib::Instance().EncodeFile((dir + L"zeros").c_str(), (dir + L"zeros.z").c_str(), 9));
  const std::string bomb = kvtest::ReadAll(dir + L"zeros.z");
  ASSERT_LT(bomb.size(), 131071u) << "the whole answer fits the buffer";
  wire_->SetAnswer(Answer(bomb, "gzip"));
  const Got g = ByHelper(dir, L"get http://127.0.5.5/bomb 131072");
  EXPECT_EQ("1|131071|", g.str());
  EXPECT_EQ(std::string(131072, '\0'), g.whole);
  ASSERT_GE(g.grown, 0) << "no memory line";
  EXPECT_LT(g.grown, 16LL << 20) << "bytes the peak working set grew by during the request";
}

// A connection reset in the body fails the read: result 0, what was read stays, and the failure
// line goes to the day's log beside the program in the system's code page, when logging is on.
TEST_F(Http, ReadFailureIsLogged) {
  kvtest::HttpAnswer answer = Answer(std::string(3000, 'r'));
  answer.reset_after = 10;
  wire_->SetAnswer(answer);
  const std::wstring logged = Folder(L"net_log", true), quiet = Folder(L"net_nolog", true);
  const Got g = ByHelper(logged, L"get http://127.0.5.5/reset 4096 --log");
  if (g.result == 1) GTEST_SKIP() << "Wine's InternetReadFile did not fail on a reset connection";
  EXPECT_EQ("0|0|" + std::string(10, 'r'), g.str());
  const std::vector<std::wstring> logs = kvtest::FileNames(logged + L"KV-*.log");
  ASSERT_EQ(1u, logs.size()) << "no log file";
  char line[64] = {};
  ::WideCharToMultiByte(CP_ACP, 0, L"网络连接异常: InternetReadFile", -1, line, 64, nullptr, nullptr);
  EXPECT_NE(std::string::npos, kvtest::ReadAll(logged + logs[0]).find("\t" + std::string(line) + "\r\n"));
  EXPECT_EQ(0, ByHelper(quiet, L"get http://127.0.5.5/reset 4096").result);
  EXPECT_TRUE(kvtest::FileNames(quiet + L"KV-*.log").empty());
}

}  // namespace
