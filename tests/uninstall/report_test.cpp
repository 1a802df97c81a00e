// Usage reports on the wire: DoReport against a server on 127.0.6.6:80, and the engine's
// "uninstall" report from real kvUninstallCli runs through the loopback proxy of their proxy.dat.
#include "uninstall/report.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "services/http_client.h"
#include "tests/support/http_server.h"
#include "tests/support/install_support.h"

namespace {

using kvtest::HttpRequest;
using kvtest::HttpServer;
using kvtest::QueryValue;

constexpr char kAddress[] = "127.0.6.6";
constexpr wchar_t kEndpoint[] = L"http://127.0.6.6/report.asp";
constexpr DWORD kWaitMs = 15000;

std::string StoredUid() {
  return kvtest::Utf8(kvtest::RegString(HKEY_CURRENT_USER, L"SOFTWARE\\Quarell", L"UID"));
}

// The query of a report, with each key in its place.
void ExpectReportQuery(const std::string& target, const std::string& prefix,
                       const std::string& type, const std::string& encoded_value, DWORD before,
                       DWORD after) {
  const std::regex shape("(.*)\\?type=(.*)&value=(.*)&uuid=(KV-?[0-9]+)&sign=(-?[0-9]+)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(target, m, shape)) << target;
  EXPECT_EQ(prefix, m[1].str());
  EXPECT_EQ(type, m[2].str());
  EXPECT_EQ(encoded_value, m[3].str());
  EXPECT_EQ(StoredUid(), m[4].str()) << "the identifier stored for the user";
  if (after < 100000000) { EXPECT_EQ(20u, m[4].str().size()); }
  const long long sign = std::stoll(m[5].str());
  EXPECT_GE(static_cast<DWORD>(sign), before);
  EXPECT_LE(static_cast<DWORD>(sign), after);
}

class Reports : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = std::make_unique<HttpServer>(kAddress, 80); }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    ASSERT_TRUE(server_->listening()) << "port 80 on " << kAddress;
    server_->Clear();
  }
  // Reports sent by this process, after all of them are done.
  static std::vector<HttpRequest> Sent() {
    EXPECT_TRUE(WaitForReports(kWaitMs));
    return server_->Requests();
  }
  static std::unique_ptr<HttpServer> server_;
};
std::unique_ptr<HttpServer> Reports::server_;

TEST_F(Reports, OpenReportOfTheDialog) {
  const DWORD before = ::GetTickCount();
  DoReport(kEndpoint, kReportTypeOpen, kReportValueOpen);
  const std::vector<HttpRequest> sent = Sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("GET", sent[0].method);
  EXPECT_EQ("Mozilla/5.0 (Windows NT 6.1)", sent[0].Header("User-Agent"));
  ExpectReportQuery(sent[0].target, "/report.asp", "open", "Brix_Uninstall", before,
                    ::GetTickCount());
}

TEST_F(Reports, ValueIsPercentEncodedTypeIsNot) {
  DoReport(kEndpoint, L"x&y", L"栎禾软件 演示版");
  const std::vector<HttpRequest> sent = Sent();
  ASSERT_EQ(1u, sent.size());
  const std::regex shape("/report\\.asp\\?type=x&y&value=([^&]*)&uuid=.*");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(sent[0].target, m, shape)) << sent[0].target;
  EXPECT_EQ("%e6%a0%8e%e7%a6%be%e8%bd%af%e4%bb%b6%20%e6%bc%94%e7%a4%ba%e7%89%88", m[1].str());
}

// Type and value at their limits and missing: what is sent, in the query.
TEST_F(Reports, LimitsAndMissingArguments) {
  DoReport(kEndpoint, std::wstring(30, L't').c_str(), L"v");
  DoReport(nullptr, L"open", L"v");
  DoReport(kEndpoint, nullptr, L"v");
  EXPECT_TRUE(Sent().empty());
  struct Case {
    std::wstring type, value;
    bool no_value;
    std::string type_sent, value_sent;
  };
  const Case cases[] = {{std::wstring(29, L't'), L"v", false, std::string(29, 't'), "v"},
                        {L"long", std::wstring(100, L'v'), false, "long", ""},
                        {L"long", std::wstring(99, L'v'), false, "long", std::string(99, 'v')},
                        {L"novalue", L"", true, "novalue", ""}};
  for (const Case& c : cases) {
    server_->Clear();
    DoReport(kEndpoint, c.type.c_str(), c.no_value ? nullptr : c.value.c_str());
    const std::vector<HttpRequest> sent = Sent();
    ASSERT_EQ(1u, sent.size()) << c.type_sent;
    bool found = false;
    EXPECT_EQ(c.type_sent, QueryValue(sent[0].target, "type"));
    EXPECT_EQ(c.value_sent, QueryValue(sent[0].target, "value", &found));
    EXPECT_TRUE(found);
  }
}

TEST_F(Reports, SeveralAtOnceShareTheIdentifier) {
  for (int i = 0; i < 5; ++i) DoReport(kEndpoint, L"burst", std::to_wstring(i).c_str());
  const std::vector<HttpRequest> sent = Sent();
  std::multiset<std::string> values;
  for (const HttpRequest& r : sent) {
    EXPECT_EQ(StoredUid(), QueryValue(r.target, "uuid"));
    values.insert(QueryValue(r.target, "value"));
  }
  EXPECT_EQ((std::multiset<std::string>{"0", "1", "2", "3", "4"}), values);
}

// ---- The engine's report, from real runs ----

// An installation with kvUninstallCli and a proxy.dat naming the loopback proxy.
kvtest::CliInstall ProxiedInstall(const std::wstring& name, unsigned short proxy_port) {
  kvtest::CliInstall install(name);
  ProxyConfig proxy = {};
  proxy.enabled = 1;
  kvtest::Put(proxy.host, L"127.0.0.1");
  kvtest::Put(proxy.port, std::to_wstring(proxy_port));
  kvtest::WriteText(install.dir + L"proxy.dat", std::string(reinterpret_cast<const char*>(&proxy), sizeof(proxy)));
  kvtest::WriteText(install.dir + L"data\\file.txt", "x");
  kvtest::Put(install.header.uninstallKey, L"KvReportTest");
  return install;
}

// The report endpoint as the proxy sees it: the absolute URL, with or without the port.
std::string EndpointPattern() {
  std::string url = kvtest::Utf8(kReportEndpoint);
  const std::string scheme = "http://";
  const size_t slash = url.find('/', scheme.size());
  return url.substr(0, slash) + "(?::80)?" + url.substr(slash);
}

TEST(EngineReport, UninstallReportOfEachRun) {
  HttpServer proxy("127.0.0.1", 0);
  ASSERT_TRUE(proxy.listening());

  kvtest::CliInstall first = ProxiedInstall(L"report_run1", proxy.port());
  kvtest::Put(first.header.displayName, L"Brix Demo");
  first.removals = {kvtest::Entry(1, first.dir + L"data\\file.txt")};
  kvtest::CliInstall second = ProxiedInstall(L"report_run2", proxy.port());
  kvtest::Put(second.header.displayName, L"栎禾软件 演示版");
  kvtest::Put(second.header.installDir, second.dir);

  const DWORD before = ::GetTickCount();
  first.WriteAndRun();
  ASSERT_TRUE(proxy.WaitForRequests(1, kWaitMs));
  EXPECT_FALSE(kvtest::Exists(first.dir + L"data\\file.txt")) << "the run went on";
  const DWORD middle = ::GetTickCount();
  second.WriteAndRun();
  ASSERT_TRUE(proxy.WaitForRequests(2, kWaitMs));
  EXPECT_FALSE(kvtest::Exists(second.dir + L"data")) << "the folder sweep went on";
  const DWORD after = ::GetTickCount();

  const std::vector<HttpRequest> sent = proxy.Requests();
  ASSERT_EQ(2u, sent.size());
  const std::regex endpoint(EndpointPattern() + "\\?.*");
  const std::string values[] = {
      "Brix%20Demo", "%e6%a0%8e%e7%a6%be%e8%bd%af%e4%bb%b6%20%e6%bc%94%e7%a4%ba%e7%89%88"};
  const DWORD ticks[] = {before, middle, after};
  for (size_t i = 0; i < 2; ++i) {  // each with the one stored identifier
    const std::string& target = sent[i].target;
    EXPECT_EQ("GET", sent[i].method);
    EXPECT_TRUE(std::regex_match(target, endpoint)) << target;
    ExpectReportQuery(target, target.substr(0, target.find('?')), "uninstall", values[i], ticks[i],
                      ticks[i + 1]);
  }
}

TEST(EngineReport, NoRecordNoReport) {
  HttpServer proxy("127.0.0.1", 0);
  ASSERT_TRUE(proxy.listening());
  ProxiedInstall(L"report_norecord", proxy.port()).Run();
  ::Sleep(300);
  EXPECT_TRUE(proxy.Requests().empty());
}

}  // namespace
