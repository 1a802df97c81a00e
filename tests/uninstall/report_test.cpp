// Usage reports on the wire: DoReport in this process against a server on 127.0.6.6:80, and the
// engine's "uninstall" report from real runs of kvUninstallCli through a loopback proxy named by
// the installation's proxy.dat.
#include "uninstall/report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "services/http_client.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"
#include "uninstall/record.h"

namespace {

using kvtest::HttpRequest;
using kvtest::HttpServer;
using kvtest::QueryValue;

constexpr char kAddress[] = "127.0.6.6";
constexpr wchar_t kEndpoint[] = L"http://127.0.6.6/report.asp";
constexpr DWORD kWaitMs = 15000;

std::wstring StoredUid() {
  wchar_t text[64] = {};
  DWORD bytes = sizeof(text) - sizeof(wchar_t);
  ::RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Quarell", L"UID", RRF_RT_REG_SZ, nullptr, text,
                 &bytes);
  return text;
}

std::string Narrow(const std::wstring& text) { return kvtest::Utf8(text); }

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
  EXPECT_EQ(Narrow(StoredUid()), m[4].str()) << "the identifier stored for the user";
  if (after < 100000000) {
    EXPECT_EQ(20u, m[4].str().size());
  }
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

TEST_F(Reports, TypeOf29IsSentTypeOf30IsNot) {
  DoReport(kEndpoint, std::wstring(30, L't').c_str(), L"v");
  EXPECT_TRUE(Sent().empty());
  DoReport(kEndpoint, std::wstring(29, L't').c_str(), L"v");
  const std::vector<HttpRequest> sent = Sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(std::string(29, 't'), QueryValue(sent[0].target, "type"));
}

TEST_F(Reports, ValueOf100IsSentEmpty) {
  DoReport(kEndpoint, L"long", std::wstring(100, L'v').c_str());
  std::vector<HttpRequest> sent = Sent();
  ASSERT_EQ(1u, sent.size());
  bool found = false;
  EXPECT_EQ("", QueryValue(sent[0].target, "value", &found));
  EXPECT_TRUE(found);
  server_->Clear();
  DoReport(kEndpoint, L"long", std::wstring(99, L'v').c_str());
  sent = Sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(std::string(99, 'v'), QueryValue(sent[0].target, "value"));
}

TEST_F(Reports, MissingArguments) {
  DoReport(nullptr, L"open", L"v");
  DoReport(kEndpoint, nullptr, L"v");
  EXPECT_TRUE(Sent().empty());
  DoReport(kEndpoint, L"novalue", nullptr);
  const std::vector<HttpRequest> sent = Sent();
  ASSERT_EQ(1u, sent.size());
  bool found = false;
  EXPECT_EQ("", QueryValue(sent[0].target, "value", &found));
  EXPECT_TRUE(found);
}

TEST_F(Reports, SeveralAtOnceShareTheIdentifier) {
  for (int i = 0; i < 5; ++i) DoReport(kEndpoint, L"burst", std::to_wstring(i).c_str());
  const std::vector<HttpRequest> sent = Sent();
  ASSERT_EQ(5u, sent.size());
  std::vector<bool> seen(5, false);
  for (const HttpRequest& r : sent) {
    EXPECT_EQ(Narrow(StoredUid()), QueryValue(r.target, "uuid"));
    const int i = std::stoi(QueryValue(r.target, "value"));
    ASSERT_TRUE(i >= 0 && i < 5);
    seen[static_cast<size_t>(i)] = true;
  }
  EXPECT_EQ(std::vector<bool>(5, true), seen);
}

// ---- The engine's report, from real runs ----

template <size_t N>
void Put(wchar_t (&slot)[N], const std::wstring& text) {
  std::memset(slot, 0, sizeof(slot));
  std::memcpy(slot, text.data(), std::min(text.size(), N - 1) * sizeof(wchar_t));
}

struct EngineRun {
  std::wstring dir;
  std::string output;
};

// An installation with kvUninstallCli, a record and a proxy.dat naming the loopback proxy.
EngineRun RunEngine(const std::wstring& name, const std::wstring& display_name,
                    unsigned short proxy_port, bool folder_mode) {
  EngineRun run;
  run.dir = kvtest::FreshDir(name);
  EXPECT_TRUE(kvtest::CopyProgram(L"kvUninstallCli.exe", run.dir + L"kvUninstallCli.exe"));
  ProxyConfig proxy = {};
  proxy.enabled = 1;
  Put(proxy.host, L"127.0.0.1");
  Put(proxy.port, std::to_wstring(proxy_port));
  kvtest::WriteText(run.dir + L"proxy.dat",
                    std::string(reinterpret_cast<const char*>(&proxy), sizeof(proxy)));
  kvtest::WriteText(run.dir + L"data\\file.txt", "x");
  UninstallRecord header = {};
  Put(header.uninstallKey, L"KvReportTest");
  Put(header.displayName, display_name);
  std::vector<UninstallEntry> removals;
  if (folder_mode) {
    Put(header.installDir, run.dir);
  } else {
    UninstallEntry entry = {};
    entry.isFile = 1;
    Put(entry.path, run.dir + L"data\\file.txt");
    removals.push_back(entry);
  }
  EXPECT_EQ(1, WriteUninstallRecord((run.dir + L"kvUninstall.dat").c_str(), &header,
                                    removals.data(), static_cast<int>(removals.size()), nullptr, 0));
  const kvtest::ProcessResult r = kvtest::Run(L"\"" + run.dir + L"kvUninstallCli.exe\"", run.dir);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(0u, r.exit_code) << r.output;
  run.output = r.output;
  return run;
}

// The report endpoint as the proxy sees it: the absolute URL, with or without the port.
std::string EndpointPattern() {
  std::string url = Narrow(kReportEndpoint);
  const std::string scheme = "http://";
  const size_t slash = url.find('/', scheme.size());
  return url.substr(0, slash) + "(?::80)?" + url.substr(slash);
}

TEST(EngineReport, UninstallReportOfEachRun) {
  HttpServer proxy("127.0.0.1", 0);
  ASSERT_TRUE(proxy.listening());

  const DWORD before = ::GetTickCount();
  EngineRun first = RunEngine(L"report_run1", L"Brix Demo", proxy.port(), false);
  ASSERT_TRUE(proxy.WaitForRequests(1, kWaitMs)) << first.output;
  EXPECT_FALSE(kvtest::Exists(first.dir + L"data\\file.txt")) << "the run went on";
  const DWORD middle = ::GetTickCount();
  EngineRun second = RunEngine(L"report_run2", L"栎禾软件 演示版", proxy.port(), true);
  ASSERT_TRUE(proxy.WaitForRequests(2, kWaitMs)) << second.output;
  EXPECT_FALSE(kvtest::Exists(second.dir + L"data")) << "the folder sweep went on";
  const DWORD after = ::GetTickCount();

  const std::vector<HttpRequest> sent = proxy.Requests();
  ASSERT_EQ(2u, sent.size());
  const std::regex endpoint(EndpointPattern() + "\\?.*");
  for (const HttpRequest& r : sent) {
    EXPECT_EQ("GET", r.method);
    EXPECT_TRUE(std::regex_match(r.target, endpoint)) << r.target;
  }
  const std::string prefix_1 = sent[0].target.substr(0, sent[0].target.find('?'));
  const std::string prefix_2 = sent[1].target.substr(0, sent[1].target.find('?'));
  ExpectReportQuery(sent[0].target, prefix_1, "uninstall", "Brix%20Demo", before, middle);
  ExpectReportQuery(sent[1].target, prefix_2, "uninstall",
                    "%e6%a0%8e%e7%a6%be%e8%bd%af%e4%bb%b6%20%e6%bc%94%e7%a4%ba%e7%89%88", middle,
                    after);
  // The same identifier in both runs.
  EXPECT_EQ(QueryValue(sent[0].target, "uuid"), QueryValue(sent[1].target, "uuid"));
}

TEST(EngineReport, NoRecordNoReport) {
  HttpServer proxy("127.0.0.1", 0);
  ASSERT_TRUE(proxy.listening());
  const std::wstring dir = kvtest::FreshDir(L"report_norecord");
  ASSERT_TRUE(kvtest::CopyProgram(L"kvUninstallCli.exe", dir + L"kvUninstallCli.exe"));
  ProxyConfig config = {};
  config.enabled = 1;
  Put(config.host, L"127.0.0.1");
  Put(config.port, std::to_wstring(proxy.port()));
  kvtest::WriteText(dir + L"proxy.dat",
                    std::string(reinterpret_cast<const char*>(&config), sizeof(config)));
  const kvtest::ProcessResult r = kvtest::Run(L"\"" + dir + L"kvUninstallCli.exe\"", dir);
  EXPECT_EQ(0u, r.exit_code) << r.output;
  ::Sleep(300);
  EXPECT_TRUE(proxy.Requests().empty());
}

}  // namespace
