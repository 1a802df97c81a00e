// The HTTP client against recording servers of the test's own: on 127.0.5.5:80, where the client always goes, and as
// the proxy of a proxy.dat. Each row: what the server answers, the request, what comes back into the caller's buffer and
// what arrived on the wire. The proxy, zlib's absence, memory and the log are seen through the helper in a folder.
#include <cstring>
#include <regex>

#include "services/http_client.h"
#include "services/zlib_codec.h"
#include "tests/services/services_fixtures.h"

namespace {

using namespace kvservices;
using kvtest::Answer;
using kvtest::HttpRequest;

// "result|infolen|" (infolen -1 after a POST, which leaves it alone), then the buffer.
struct Got {
  int result = -1, infolen = -1;
  std::string whole;
  long long grown = -1;  // through the helper: bytes its peak working set grew by
  std::string str() const { return std::to_string(result) + "|" + std::to_string(infolen) + "|"; }
};

// 'g' GET, 'p' POST, 'i' the probe, with the process-wide client or another; the buffer of room bytes starts dirty and
// nothing behind it may change.
Got Fetch(char how, const std::string& url, int room, const char* form = "a=1", CKvNet* net = nullptr) {
  const std::wstring full = kvtest::Wide(url[0] == '/' ? "http://127.0.5.5" + url : url);
  CKvNet& client = net ? *net : CKvNet::Instance();
  std::vector<char> memory(room + 64, '#');
  Got g;
  if (how == 'i') return g.result = isConnected(full.c_str()), g;
  g.result = how == 'p' ? client.Post(full.c_str(), form, static_cast<int>(std::strlen(form)), memory.data(), room)
                        : net ? net->GetUrlInfo(full.c_str(), memory.data(), room) : GetUrlInfo(full.c_str(), memory.data(), room);
  if (how == 'g') g.infolen = client.GetInfoLen();
  EXPECT_EQ(std::string(64, '#'), std::string(memory.data() + room, 64)) << "written past a buffer of " << room;
  return g.whole.assign(memory.data(), room), g;
}

// The one request that arrived as "METHOD target|Host|Content-Type|body" ("" for none), its other headers checked.
std::string Arrived(kvtest::Wire& wire) {
  const std::vector<HttpRequest> got = wire.Requests();
  if (got.size() != 1) return got.empty() ? "" : std::to_string(got.size()) + " requests";
  const HttpRequest& r = got[0];
  const std::pair<std::string, std::string> headers[] = {{"Accept", "text/html,application/xml;q=0.9,application/json,*/*;q=0.8"},
      {"Accept-Encoding", "gzip,deflate"}, {"Accept-Language", "zh-CN,zh;q=0.5"}, {"Accept-Charset", "gb2312,utf-8;q=0.7,*;q=0.7"},
      {"User-Agent", "Mozilla/5.0 (Windows NT 6.1)"}};
  for (const auto& [name, value] : headers)  // the probe adds none
    EXPECT_TRUE(r.Header("User-Agent").rfind("Agent", 0) == 0 || (r.Header(name) == value && r.CountHeader(name) == 1)) << name;
  return r.method + " " + r.target + "|" + r.Header("Host") + "|" + r.Header("Content-Type") + "|" + r.body;
}

class Http : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { wire_ = new kvtest::Wire("127.0.5.5", 80); }
  static void TearDownTestSuite() { delete wire_; }
  void SetUp() override { ASSERT_TRUE(wire_->ready()) << "port 80 on 127.0.5.5"; }
  static kvtest::Wire* wire_;
};
kvtest::Wire* Http::wire_ = nullptr;

// Inflated gzip answers are cut to room - 1 bytes. Reading goes on in pieces of 16384 bytes (room - 1 below that) while a
// whole piece and the terminator still fit: the reports' 50 bytes take one read of 49, where a gzip answer cut short
// stays raw. No request leaves its answer in the browser cache: the reports' addresses name the user and the product.
TEST_F(Http, AnswersArriveInTheCallersBuffer) {
  ASSERT_EQ(S_OK, CKvZlib::Instance().InitZlib(nullptr));  // every client's end unloads it
  std::string n;  // numbers, so that a piece read twice or skipped shows
  for (int i = 0; n.size() < 49152; ++i) n += std::to_string(i) + ",";
  CKvNet stopped;
  stopped.Stop();
  CKvNet copy(stopped);  // keeps the flag
  const std::string a(5000, 'A'), form = "application/x-www-form-urlencoded", report = "/report.asp?type=u&value=Kv%20Cache&uuid=KV" + std::to_string(::GetTickCount());
  const auto cut = [&](size_t size) { return n.substr(0, size); };
  // {answer, Content-Encoding, status, how, URL, room, client, "result|infolen|", the buffer's text (zeros after; "?": any), what arrived}
  const struct { std::string body; const char* encoding; int status; char how; std::string url; int room; CKvNet* net; std::string want, text, arrived; } rows[] = {
      {"hello", "", 200, 'g', report, 4096, nullptr, "1|5|", "hello", "GET " + report + "|127.0.5.5||"},
      {"hello", "", 200, 'p', report, 4096, nullptr, "1|-1|", "hello", "POST " + report + "|127.0.5.5|" + form + "|a=1"},
      {"hello", "", 200, 'p', "kv://127.0.5.5/other", 256, nullptr, "1|-1|", "hello", "POST /other|127.0.5.5|" + form + "|a=1"},  // any scheme
      {"", "", 200, 'i', "HTTP://127.0.5.5/Probe/Path", 0, nullptr, "1|-1|", "?", "GET /probe/path|127.0.5.5||"},  // bare and lower-cased
      {kHello, "gzip", 200, 'g', "/z", 4096, nullptr, "1|53|", kHelloText, "*"}, {kHello, "GZIP", 200, 'g', "/z", 4096, nullptr, "1|53|", kHelloText, "*"},
      {kHello, "gzip", 200, 'p', "/z", 4096, nullptr, "1|-1|", kHelloText, "*"}, {kHello, "GZIP", 200, 'p', "/z", 4096, nullptr, "1|-1|", kHelloText, "*"},
      {kZlib, "deflate", 200, 'g', "/z", 4096, nullptr, "1|25|", kZlib, "*"},  // deflate stays raw
      // A POST inflates a body with a zero byte inside too, and what is no stream is cut to nothing.
      {kManyA, "", 200, 'p', "/z", 8192, nullptr, "1|-1|", a, "*"}, {std::string("ab\0cd", 5), "", 200, 'p', "/z", 4096, nullptr, "1|-1|", std::string("\0b\0cd", 5), "*"},
      {"plain", "", 200, 'p', "/z", 4096, nullptr, "1|-1|", "plain", "*"}, {"not here", "", 404, 'g', "/z", 4096, nullptr, "1|8|", "not here", "*"},
      {"broken", "", 500, 'p', "/z", 4096, nullptr, "1|-1|", "broken", "*"}, {kManyA, "gzip", 200, 'g', "/z", 100, nullptr, "1|99|", a.substr(0, 99), "*"},
      {kManyA, "gzip", 200, 'p', "/z", 100, nullptr, "1|-1|", a.substr(0, 99), "*"}, {kHello, "gzip", 200, 'g', "/z", 50, nullptr, "1|49|", kHelloText.substr(0, 49), "*"},
      {std::string(100, 'x'), "", 200, 'g', "/z", 50, nullptr, "1|49|", std::string(49, 'x'), "*"},
      {kRandom, "gzip", 200, 'g', "/z", 50, nullptr, "1|49|", kRandom.substr(0, 49), "*"}, {"anything", "", 200, 'g', "/one", 1, nullptr, "1|0|", "", "GET /one|127.0.5.5||"},
      {"", "", 200, 'g', "/z", 2, nullptr, "1|0|", "", "*"}, {"a", "", 200, 'g', "/z", 2, nullptr, "1|1|", "a", "*"}, {"ab", "", 200, 'g', "/z", 2, nullptr, "1|1|", "a", "*"},
      {"abc", "", 200, 'g', "/z", 2, nullptr, "1|1|", "a", "*"}, {cut(40000), "", 200, 'g', "/z", 100000, nullptr, "1|40000|", cut(40000), "*"},
      {cut(40000), "", 200, 'g', "/z", 20000, nullptr, "1|16384|", cut(16384), "*"}, {cut(16385), "", 200, 'g', "/z", 16385, nullptr, "1|16384|", cut(16384), "*"},
      {cut(32767), "", 200, 'g', "/z", 32768, nullptr, "1|16384|", cut(16384), "*"}, {cut(32768), "", 200, 'g', "/z", 32768, nullptr, "1|16384|", cut(16384), "*"},
      {cut(32769), "", 200, 'g', "/z", 32768, nullptr, "1|16384|", cut(16384), "*"}, {cut(32769), "", 200, 'g', "/z", 32769, nullptr, "1|32768|", cut(32768), "*"},
      {cut(49152), "", 200, 'g', "/z", 49152, nullptr, "1|32768|", cut(32768), "*"},
      // A stopped client still makes its requests but reads nothing; the process-wide one was not stopped.
      {"never read", "", 200, 'g', "/stopped", 64, &stopped, "1|0|", "", "GET /stopped|127.0.5.5||"}, {"never read", "", 200, 'p', "/stopped", 64, &copy, "1|-1|", "", "*"},
      {"never read", "", 200, 'g', "/stopped", 64, &copy, "1|0|", "", "*"}, {"ok", "", 200, 'g', "/invalid.txt", 64, nullptr, "1|2|", "ok", "*"},
      // Names under the reserved "invalid" domain fail at once, with no name-server query and nothing sent.
      {"", "", 200, 'g', "http://reports.kv-uninstall.invalid/report.asp", 64, nullptr, "0|0|", "?", ""}, {"", "", 200, 'p', "http://INVALID/x", 64, nullptr, "0|-1|", "?", ""},
      {"", "", 200, 'i', "http://a.b.Invalid./x", 64, nullptr, "0|-1|", "?", ""}, {"", "", 200, 'i', "http://127.0.5.6/x", 64, nullptr, "0|-1|", "?", ""}};
  for (const auto& r : rows) {
    wire_->Clear(), wire_->SetAnswer(Answer(r.body, r.encoding, r.status));
    const DWORD start = ::GetTickCount();
    const Got g = Fetch(r.how, r.url, r.room, "a=1", r.net);
    const std::string row = r.how + (" " + r.url + " ") + std::to_string(r.room) + " " + r.encoding + " " + std::to_string(r.body.size());
    EXPECT_LT(::GetTickCount() - start, 2000u) << row;
    EXPECT_EQ(r.want, g.str()) << row;
    EXPECT_TRUE(r.text == "?" || r.text + std::string(r.room - r.text.size(), '\0') == g.whole) << row;
    EXPECT_TRUE(r.arrived == "*" || r.arrived == Arrived(*wire_)) << row << ": " << Arrived(*wire_);
  }
  DWORD size = 0;
  EXPECT_FALSE(::GetUrlCacheEntryInfoW(kvtest::Wide("http://127.0.5.5" + report).c_str(), nullptr, &size) || ::GetLastError() != ERROR_FILE_NOT_FOUND);
}

// One request of the helper's from dir.
Got ByHelper(const std::wstring& dir, const std::wstring& args) {
  Got g;
  for (const std::string& line : kvtest::Lines(kvtest::Helper(L"net " + args, dir, dir + L"kvtesthelper.exe").output)) {
    unsigned long before = 0, after = 0;
    std::sscanf(line.c_str(), "result %d", &g.result), std::sscanf(line.c_str(), "infolen %d", &g.infolen);
    if (line.rfind("body ", 0) == 0) g.whole = kvtest::FromHex(line.substr(5));
    if (std::sscanf(line.c_str(), "memory %lu %lu", &before, &after) == 2) g.grown = static_cast<long long>(after) - before;
  }
  if (args.rfind(L"post", 0) == 0) g.infolen = -1;
  return g;
}

// Through a proxy.dat beside the program every request goes to the proxy, which also decides what names mean; a URL
// with no "/" after its host is the server name, and "/" the path. Without zlib1.dll a gzip answer stays raw (GET) or
// goes (POST). A small answer that inflates to 64 MB is inflated only as far as the buffer keeps. A connection reset in
// the body fails the read, keeps what was read and logs the failure in the system's code page, if logging is on.
TEST_F(Http, ThroughTheHelperInAFolderOfItsOwn) {
  kvtest::Wire proxy;
  ASSERT_TRUE(proxy.ready());
  const std::wstring with = kvtest::FolderWith(L"net", {L"kvtesthelper.exe", L"zlib1.dll"}), without = kvtest::FolderWith(L"net_nozlib", {L"kvtesthelper.exe"});
  ASSERT_TRUE(Sized(with + L"zeros", 64 << 20));
  ASSERT_EQ(S_OK, CKvZlib::Instance().InitZlib(nullptr));
  ASSERT_EQ(S_OK, CKvZlib::Instance().EncodeFile((with + L"zeros").c_str(), (with + L"bomb").c_str(), 9));
  kvtest::HttpAnswer reset = Answer(std::string(3000, 'r'));
  reset.reset_after = 10;
  const std::string proxied = "through the proxy", dat = proxy.ProxyDat(), off = std::string(4, '\0') + dat.substr(4);
  // {proxy.dat, answer, in the folder with zlib, arguments, "result|infolen|", the buffer's text (zeros after), what arrived: a pattern}
  const struct { std::string dat; kvtest::HttpAnswer answer; bool zlib; std::wstring args; std::string want, text, arrived; } rows[] = {
      {dat, Answer(proxied), 1, L"get \"http://reports.example.invalid/report.asp?type=t\" 256", "1|17|", proxied,
       R"(proxy GET http://reports\.example\.invalid(:80)?/report\.asp\?type=t\|reports\.example\.invalid\|\|)"},
      {dat, Answer(proxied), 1, L"post \"http://reports.example.invalid/api.ashx\" a=1 256", "1|-1|", proxied,
       R"(proxy POST http://reports\.example\.invalid(:80)?/api\.ashx\|reports\.example\.invalid\|application/x-www-form-urlencoded\|a=1)"},
      {dat, Answer(proxied), 1, L"get http://bare.example.invalid 256", "1|17|", proxied, R"(proxy GET http://http://bare\.example\.invalid(:80)?/\|http://bare\.example\.invalid\|\|)"},
      {off, Answer("direct"), 1, L"get http://127.0.5.5/direct 256", "1|6|", "direct", R"(wire GET /direct\|127\.0\.5\.5\|\|)"},
      {"", Answer(kHello, "gzip"), 0, L"get http://127.0.5.5/gz 256", "1|42|", kHello, ".*"},
      {"", Answer(kHello, "gzip"), 0, L"post http://127.0.5.5/gz a=1 256", "1|-1|", '\0' + kHello.substr(1), ".*"},
      {"", Answer(kHello, "gzip"), 1, L"get http://127.0.5.5/gz 256", "1|53|", kHelloText, ".*"},
      {"", Answer(kvtest::ReadAll(with + L"bomb"), "gzip"), 1, L"get http://127.0.5.5/bomb 131072", "1|131071|", "", ".*"},
      {"", reset, 1, L"get http://127.0.5.5/reset 4096 --log", "0|0|", std::string(10, 'r'), ".*"},
      {"", reset, 0, L"get http://127.0.5.5/reset 4096", "0|0|", std::string(10, 'r'), ".*"}};
  for (const auto& r : rows) {
    const std::wstring dir = r.zlib ? with : without;
    kvtest::WriteText(dir + L"proxy.dat", r.dat), wire_->Clear(), proxy.Clear(), wire_->SetAnswer(r.answer), proxy.SetAnswer(r.answer);
    for (const std::wstring& log : kvtest::FileNames(dir + L"KV-*.log")) ::DeleteFileW((dir + log).c_str());
    const Got g = ByHelper(dir, r.args);
    if (r.answer.reset_after && g.result == 1) GTEST_SKIP() << "Wine's InternetReadFile did not fail on a reset connection";
    EXPECT_EQ(r.want, g.str()) << kvtest::Utf8(r.args);
    EXPECT_TRUE(r.text + std::string(g.whole.size() - std::min(g.whole.size(), r.text.size()), '\0') == g.whole) << kvtest::Utf8(r.args);
    const std::string at_proxy = Arrived(proxy), at_wire = Arrived(*wire_);
    EXPECT_TRUE(std::regex_match(at_proxy.empty() ? "wire " + at_wire : "proxy " + at_proxy, std::regex(r.arrived))) << at_proxy << at_wire;
    EXPECT_TRUE(r.args.find(L"bomb") == std::wstring::npos || (g.grown >= 0 && g.grown < 16LL << 20)) << g.grown << " bytes more at the peak";
    const std::vector<std::wstring> logs = kvtest::FileNames(dir + L"KV-*.log");
    char line[64] = {};
    ::WideCharToMultiByte(CP_ACP, 0, L"\t网络连接异常: InternetReadFile\r\n", -1, line, 64, nullptr, nullptr);
    EXPECT_EQ(r.args.find(L"--log") != std::wstring::npos, logs.size() == 1 && kvtest::ReadAll(dir + logs[0]).find(line) != std::string::npos);
  }
}

}  // namespace
