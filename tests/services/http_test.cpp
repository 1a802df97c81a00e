// The HTTP client against recording servers of the test's own: on 127.0.5.5:80, where the client always goes, and as
// the proxy of a proxy.dat. Each row: what the server answers, the request, what comes back into the caller's buffer
// and what arrived on the wire. The proxy, zlib's absence, memory and the log are seen through the helper in a folder
// of its own.
#include "tests/services/services_fixtures.h"

namespace {

using namespace kvservices;
using kvtest::Answer;

kvtest::Wire& Server() {
  static kvtest::Wire wire("127.0.5.5", 80);
  return wire;
}

struct Got {  // "result|infolen|" (infolen -1 after a POST, which leaves it alone), then the caller's buffer
  int result = -1, infolen = -1;
  std::string whole;
  long long grown = -1;  // through the helper: bytes its peak working set grew by
  std::string str() const { return std::to_string(result) + "|" + std::to_string(infolen) + "|"; }
};

// 'g' GET, 'p' POST, 'i' the probe, with the process-wide client or another, into a buffer that starts dirty and behind
// which nothing may change.
Got Fetch(char how, const std::string& url, int room, CKvNet* net) {
  const std::wstring full = kvtest::Wide(url[0] == '/' ? "http://127.0.5.5" + url : url);
  CKvNet& client = net ? *net : CKvNet::Instance();
  std::vector<char> memory(room + 64, '#');
  Got g;
  if (how == 'i') return g.result = isConnected(full.c_str()), g;
  g.result = how == 'p' ? client.Post(full.c_str(), "a=1", 3, memory.data(), room)
             : net      ? net->GetUrlInfo(full.c_str(), memory.data(), room)
                        : GetUrlInfo(full.c_str(), memory.data(), room);
  if (how == 'g') g.infolen = client.GetInfoLen();
  EXPECT_EQ(std::string(64, '#'), std::string(memory.data() + room, 64)) << "written past a buffer of " << room;
  return g.whole.assign(memory.data(), room), g;
}

// The one request that arrived, as "METHOD target|Host|Content-Type|body" ("" for none), its other headers checked.
std::string Arrived(kvtest::Wire& wire) {
  const std::vector<kvtest::HttpRequest> got = wire.Requests();
  if (got.size() != 1) return got.empty() ? "" : std::to_string(got.size()) + " requests";
  const kvtest::HttpRequest& r = got[0];
  const std::pair<std::string, std::string> headers[] = {
      {"Accept", "text/html,application/xml;q=0.9,application/json,*/*;q=0.8"},
      {"Accept-Encoding", "gzip,deflate"},
      {"Accept-Language", "zh-CN,zh;q=0.5"},
      {"Accept-Charset", "gb2312,utf-8;q=0.7,*;q=0.7"},
      {"User-Agent", "Mozilla/5.0 (Windows NT 6.1)"}};
  for (const auto& [name, value] : headers)  // the probe adds none
    EXPECT_TRUE(r.Header("User-Agent").rfind("Agent", 0) == 0 || (r.Header(name) == value && r.CountHeader(name) == 1))
        << name;
  return r.method + " " + r.target + "|" + r.Header("Host") + "|" + r.Header("Content-Type") + "|" + r.body;
}

// Inflated gzip answers are cut to room - 1 bytes. Reading goes on in pieces of 16384 bytes (room - 1 below that) while
// a whole piece and the terminator still fit: the reports' 50 bytes take one read of 49, where a gzip answer cut short
// stays raw. No answer stays in the browser cache: the reports' addresses name the user and the product.
TEST(Http, AnswersArriveInTheCallersBuffer) {
  ASSERT_TRUE(Server().ready()) << "port 80 on 127.0.5.5";
  ASSERT_EQ(S_OK, CKvZlib::Instance().InitZlib(nullptr));  // every client's end unloads it
  std::string n;                                           // numbers, so that a piece read twice or skipped shows
  for (int i = 0; n.size() < 49152; ++i) n += std::to_string(i) + ",";
  auto cut = [&](size_t size) { return n.substr(0, size); };
  CKvNet stopped;
  stopped.Stop();
  CKvNet copy(stopped);  // keeps the flag
  const std::string a(5000, 'A'), form = "|application/x-www-form-urlencoded|a=1";
  const std::string report = "/report.asp?type=u&value=Kv%20Cache&uuid=KV" + std::to_string(::GetTickCount());
  // {answer, "result|infolen|", the buffer's text (zeros after; "?": any), room, how, encoding, status, URL, client,
  // what arrived ("*": anything)}
  struct Row {
    std::string body, want, text;
    int room = 4096;
    char how = 'g';
    const char* encoding = "";
    int status = 200;
    std::string url = "/z";
    CKvNet* net = nullptr;
    std::string arrived = "*";
  };
  const Row rows[] = {
      {"hello", "1|5|", "hello", 4096, 'g', "", 200, report, nullptr, "GET " + report + "|127.0.5.5||"},
      {"hello", "1|-1|", "hello", 4096, 'p', "", 200, report, nullptr, "POST " + report + "|127.0.5.5" + form},
      {"hello", "1|-1|", "hello", 256, 'p', "", 200, "kv://127.0.5.5/other", nullptr,
       "POST /other|127.0.5.5" + form},  // any scheme
      {"", "1|-1|", "?", 0, 'i', "", 200, "HTTP://127.0.5.5/Probe/Path", nullptr,
       "GET /probe/path|127.0.5.5||"},  // bare, lower case
      {kHello, "1|53|", kHelloText, 4096, 'g', "GZIP"},
      {kHello, "1|-1|", kHelloText, 4096, 'p', "gzip"},
      {kZlib, "1|25|", kZlib, 4096, 'g', "deflate"},
      {"not here", "1|8|", "not here", 4096, 'g', "", 404},
      {"broken", "1|-1|", "broken", 4096, 'p', "", 500},
      // A POST inflates a body with a zero byte inside too, and cuts what is no stream to nothing.
      {kManyA, "1|-1|", a, 8192, 'p'},
      {std::string("ab\0cd", 5), "1|-1|", std::string("\0b\0cd", 5), 4096, 'p'},
      {"plain", "1|-1|", "plain", 4096, 'p'},
      {kManyA, "1|99|", a.substr(0, 99), 100, 'g', "gzip"},
      {kManyA, "1|-1|", a.substr(0, 99), 100, 'p', "gzip"},
      {kHello, "1|49|", kHelloText.substr(0, 49), 50, 'g', "gzip"},
      {kRandom, "1|49|", kRandom.substr(0, 49), 50, 'g', "gzip"},
      {std::string(100, 'x'), "1|49|", std::string(49, 'x'), 50},
      {"anything", "1|0|", "", 1, 'g', "", 200, "/one", nullptr, "GET /one|127.0.5.5||"},
      {"", "1|0|", "", 2},
      {"a", "1|1|", "a", 2},
      {"ab", "1|1|", "a", 2},
      {"abc", "1|1|", "a", 2},
      {cut(40000), "1|40000|", cut(40000), 100000},
      {cut(40000), "1|16384|", cut(16384), 20000},
      {cut(16385), "1|16384|", cut(16384), 16385},
      {cut(32767), "1|16384|", cut(16384), 32768},
      {cut(32768), "1|16384|", cut(16384), 32768},
      {cut(32769), "1|16384|", cut(16384), 32768},
      {cut(32769), "1|32768|", cut(32768), 32769},
      {cut(49152), "1|32768|", cut(32768), 49152},
      // A stopped client still makes its requests but reads nothing; the process-wide one was not stopped.
      {"never read", "1|0|", "", 64, 'g', "", 200, "/stopped", &stopped, "GET /stopped|127.0.5.5||"},
      {"never read", "1|-1|", "", 64, 'p', "", 200, "/z", &copy},
      {"never read", "1|0|", "", 64, 'g', "", 200, "/z", &copy},
      {"ok", "1|2|", "ok", 64, 'g', "", 200, "/invalid.txt"},
      // Names under the reserved "invalid" domain fail at once, with no name-server query and nothing sent; so does a
      // dead server.
      {"", "0|0|", "?", 64, 'g', "", 200, "http://reports.kv-uninstall.invalid/report.asp", nullptr, ""},
      {"", "0|-1|", "?", 64, 'p', "", 200, "http://INVALID/x", nullptr, ""},
      {"", "0|-1|", "?", 64, 'i', "", 200, "http://a.b.Invalid./x", nullptr, ""},
      {"", "0|-1|", "?", 64, 'i', "", 200, "http://127.0.5.6/x", nullptr, ""}};
  for (const Row& r : rows) {
    Server().Clear(), Server().SetAnswer(Answer(r.body, r.encoding, r.status));
    const DWORD start = ::GetTickCount();
    const Got g = Fetch(r.how, r.url, r.room, r.net);
    const std::string row =
        r.how + (" " + r.url + " ") + std::to_string(r.room) + " " + r.encoding + " " + std::to_string(r.body.size());
    EXPECT_LT(::GetTickCount() - start, 2000u) << row;
    EXPECT_EQ(r.want, g.str()) << row;
    EXPECT_TRUE(r.text == "?" || r.text + std::string(r.room - r.text.size(), '\0') == g.whole) << row;
    EXPECT_TRUE(r.arrived == "*" || r.arrived == Arrived(Server())) << row << ": " << Arrived(Server());
  }
  DWORD size = 0;
  EXPECT_FALSE(::GetUrlCacheEntryInfoW(kvtest::Wide("http://127.0.5.5" + report).c_str(), nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError()) << "the answer was cached";
}

// One request of the helper's from dir.
Got ByHelper(const std::wstring& dir, const std::wstring& args) {
  Got g;
  for (const std::string& line : kvtest::Lines(kvtest::Helper(L"net " + args, dir, dir + L"kvtesthelper.exe").output)) {
    unsigned long before = 0, after = 0;
    std::sscanf(line.c_str(), "result %d", &g.result), std::sscanf(line.c_str(), "infolen %d", &g.infolen);
    if (line.rfind("body ", 0) == 0) g.whole = kvtest::FromHex(line.substr(5));
    if (std::sscanf(line.c_str(), "memory %lu %lu", &before, &after) == 2)
      g.grown = static_cast<long long>(after) - before;
  }
  if (args.rfind(L"post", 0) == 0) g.infolen = -1;
  return g;
}

// Through a proxy.dat beside the program every request goes to the proxy, which also decides what names mean; a URL
// with no "/" after its host is the server name, and "/" the path. Without zlib1.dll a gzip answer stays raw (GET) or
// goes, its first byte zeroed (POST). A small answer that inflates to 64 MB is inflated only as far as the buffer
// keeps. A reset in the body fails the read, keeps what was read and logs the failure in the system's code page, if
// logging is on.
TEST(Http, ThroughTheHelperInAFolderOfItsOwn) {
  kvtest::Wire proxy;
  ASSERT_TRUE(proxy.ready() && Server().ready());
  const std::wstring with = kvtest::FolderWith(L"net", {L"kvtesthelper.exe", L"zlib1.dll"});
  const std::wstring without = kvtest::FolderWith(L"net_nozlib", {L"kvtesthelper.exe"});
  ASSERT_TRUE(Sized(with + L"zeros", 64 << 20));
  ASSERT_EQ(S_OK, CKvZlib::Instance().InitZlib(nullptr));
  ASSERT_EQ(S_OK, CKvZlib::Instance().EncodeFile((with + L"zeros").c_str(), (with + L"bomb").c_str(), 9));
  kvtest::HttpAnswer reset = Answer(std::string(3000, 'r'));
  reset.reset_after = 10;
  const std::string proxied = "through the proxy", dat = proxy.ProxyDat(), off = std::string(4, '\0') + dat.substr(4);
  const std::string reports = R"(proxy (GET|POST) http://reports\.example\.invalid(:80)?/)",
                    host = R"(\|reports\.example\.invalid\|)";
  // {proxy.dat, answer, with zlib, arguments, "result|infolen|", the buffer's text (zeros after), what arrived where: a
  // pattern}
  const struct {
    std::string dat;
    kvtest::HttpAnswer answer;
    bool zlib;
    std::wstring args;
    std::string want, text, arrived;
  } rows[] = {
      {dat, Answer(proxied), 1, L"get \"http://reports.example.invalid/report.asp?type=t\" 256", "1|17|", proxied,
       reports + R"(report\.asp\?type=t)" + host + R"(\|)"},
      {dat, Answer(proxied), 1, L"post \"http://reports.example.invalid/api.ashx\" a=1 256", "1|-1|", proxied,
       reports + R"(api\.ashx)" + host + R"(application/x-www-form-urlencoded\|a=1)"},
      {dat, Answer(proxied), 1, L"get http://bare.example.invalid 256", "1|17|", proxied,
       R"(proxy GET http://http://bare\.example\.invalid(:80)?/\|http://bare\.example\.invalid\|\|)"},
      {off, Answer("direct"), 1, L"get http://127.0.5.5/direct 256", "1|6|", "direct",
       R"(wire GET /direct\|127\.0\.5\.5\|\|)"},
      {"", Answer(kHello, "gzip"), 0, L"get http://127.0.5.5/gz 256", "1|42|", kHello, ".*"},
      {"", Answer(kHello, "gzip"), 0, L"post http://127.0.5.5/gz a=1 256", "1|-1|", '\0' + kHello.substr(1), ".*"},
      {"", Answer(kHello, "gzip"), 1, L"get http://127.0.5.5/gz 256", "1|53|", kHelloText, ".*"},
      {"", Answer(kvtest::ReadAll(with + L"bomb"), "gzip"), 1, L"get http://127.0.5.5/bomb 131072", "1|131071|", "",
       ".*"},
      {"", reset, 1, L"get http://127.0.5.5/reset 4096 --log", "0|0|", std::string(10, 'r'), ".*"},
      {"", reset, 0, L"get http://127.0.5.5/reset 4096", "0|0|", std::string(10, 'r'), ".*"}};
  for (const auto& r : rows) {
    const std::wstring dir = r.zlib ? with : without;
    kvtest::WriteText(dir + L"proxy.dat", r.dat), Server().Clear(), proxy.Clear(), Server().SetAnswer(r.answer),
        proxy.SetAnswer(r.answer);
    for (const std::wstring& log : kvtest::FileNames(dir + L"KV-*.log")) ::DeleteFileW((dir + log).c_str());
    const Got g = ByHelper(dir, r.args);
    if (r.answer.reset_after && g.result == 1)
      GTEST_SKIP() << "Wine's InternetReadFile did not fail on a reset connection";
    EXPECT_EQ(r.want, g.str()) << kvtest::Utf8(r.args);
    EXPECT_TRUE(r.text + std::string(g.whole.size() - std::min(g.whole.size(), r.text.size()), '\0') == g.whole)
        << kvtest::Utf8(r.args);
    const std::string at_proxy = Arrived(proxy), at_wire = Arrived(Server());
    EXPECT_TRUE(std::regex_match(at_proxy.empty() ? "wire " + at_wire : "proxy " + at_proxy, std::regex(r.arrived)))
        << at_proxy << at_wire;
    EXPECT_TRUE(r.args.find(L"bomb") == std::wstring::npos || (g.grown >= 0 && g.grown < 16LL << 20))
        << g.grown << " bytes more at the peak";
    const std::vector<std::wstring> logs = kvtest::FileNames(dir + L"KV-*.log");
    char line[64] = {};
    ::WideCharToMultiByte(CP_ACP, 0, L"\t网络连接异常: InternetReadFile\r\n", -1, line, 64, nullptr, nullptr);
    EXPECT_EQ(r.args.find(L"--log") != std::wstring::npos,
              logs.size() == 1 && kvtest::ReadAll(dir + logs[0]).find(line) != std::string::npos);
  }
}

}  // namespace
