#pragma once
// A small HTTP/1.1 server on a loopback address for the network tests: it records every request
// exactly as it arrived (method, target, headers, body) and gives each the answer it was told.
// It also serves as a proxy, since a proxy receives the absolute URL as the request target.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kvtest {

struct HttpRequest {
  std::string method;
  std::string target;  // path and query, or the absolute URL through a proxy
  std::vector<std::pair<std::string, std::string>> headers;  // in order, value trimmed
  std::string body;

  // Value of the first header of that name (case-insensitive); empty when absent.
  std::string Header(const std::string& name) const;
  int CountHeader(const std::string& name) const;
};

struct HttpAnswer {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Above 0: the connection is reset after that many body bytes (Content-Length stays full).
  size_t reset_after = 0;
};

// An answer with that body, a Content-Encoding header when encoding is not empty, and status.
inline HttpAnswer Answer(const std::string& body, const std::string& encoding = "", int status = 200) {
  HttpAnswer a;
  a.status = status;
  a.body = body;
  if (!encoding.empty()) a.headers.emplace_back("Content-Encoding", encoding);
  return a;
}

class HttpServer {
 public:
  // Listens on address:port; port 0 takes any free port.
  explicit HttpServer(const char* address = "127.0.0.1", unsigned short port = 0);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  bool listening() const { return listen_socket_ != kNoSocket; }
  unsigned short port() const { return port_; }
  void SetAnswer(const HttpAnswer& answer);
  std::vector<HttpRequest> Requests();
  void Clear();
  // Waits until at least count requests have arrived.
  bool WaitForRequests(size_t count, DWORD timeout_ms);

 private:
  static constexpr uintptr_t kNoSocket = ~static_cast<uintptr_t>(0);
  void Serve();
  void Handle(uintptr_t client);

  uintptr_t listen_socket_ = kNoSocket;
  unsigned short port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  HttpAnswer answer_;
  std::vector<HttpRequest> requests_;
  std::thread thread_;
};

// Percent-decodes a query value.
std::string UrlDecode(const std::string& text);
// Value of key in the query of a target ("...?a=1&b=2"); found set when the key is there.
std::string QueryValue(const std::string& target, const std::string& key, bool* found = nullptr);

}  // namespace kvtest
