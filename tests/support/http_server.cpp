#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/http_server.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace kvtest {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

void SendAll(SOCKET s, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const int n = ::send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
  const std::string key = Lower(name);
  for (const auto& [n, v] : headers)
    if (Lower(n) == key) return v;
  return "";
}

int HttpRequest::CountHeader(const std::string& name) const {
  const std::string key = Lower(name);
  return static_cast<int>(std::count_if(headers.begin(), headers.end(),
                                        [&](const auto& h) { return Lower(h.first) == key; }));
}

HttpServer::HttpServer(const char* address, unsigned short port) {
  WSADATA wsa;
  if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return;
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = ::htons(port);
  ::inet_pton(AF_INET, address, &addr.sin_addr);
  int len = sizeof(addr);
  // Fixed ports are bound again by the next test while old connections linger.
  BOOL reuse = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(s, 16) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::closesocket(s);
    return;
  }
  listen_socket_ = s;
  port_ = ::ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

HttpServer::~HttpServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_socket_ != kNoSocket) ::closesocket(static_cast<SOCKET>(listen_socket_));
  ::WSACleanup();
}

void HttpServer::SetAnswer(const HttpAnswer& answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answer_ = answer;
}

std::vector<HttpRequest> HttpServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void HttpServer::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

bool HttpServer::WaitForRequests(size_t count, DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (requests_.size() >= count) return true;
    }
    if (::GetTickCount() - start >= timeout_ms) return false;
    ::Sleep(10);
  }
}

void HttpServer::Serve() {
  const SOCKET listener = static_cast<SOCKET>(listen_socket_);
  while (!stop_) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(listener, &set);
    timeval wait = {0, 50000};
    if (::select(0, &set, nullptr, nullptr, &wait) <= 0) continue;
    SOCKET client = ::accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    Handle(client);
    ::closesocket(client);
  }
}

void HttpServer::Handle(uintptr_t socket) {
  const SOCKET client = static_cast<SOCKET>(socket);
  DWORD timeout = 5000;
  ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
  std::string data;
  char chunk[4096];
  size_t head_end = std::string::npos;
  while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
    const int n = ::recv(client, chunk, sizeof(chunk), 0);
    if (n <= 0) return;
    data.append(chunk, static_cast<size_t>(n));
  }
  HttpRequest request;
  const std::string head = data.substr(0, head_end);
  size_t line_end = head.find("\r\n");
  const std::string first = head.substr(0, line_end);
  const size_t sp1 = first.find(' '), sp2 = first.rfind(' ');
  request.method = first.substr(0, sp1);
  request.target = sp2 > sp1 ? first.substr(sp1 + 1, sp2 - sp1 - 1) : "";
  while (line_end != std::string::npos) {
    const size_t next = head.find("\r\n", line_end + 2);
    const std::string line = head.substr(line_end + 2, next == std::string::npos
                                                           ? std::string::npos
                                                           : next - line_end - 2);
    const size_t colon = line.find(':');
    if (colon != std::string::npos)
      request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    line_end = next;
  }
  const size_t length = std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
  request.body = data.substr(head_end + 4);
  while (request.body.size() < length) {
    const int n = ::recv(client, chunk, sizeof(chunk), 0);
    if (n <= 0) break;
    request.body.append(chunk, static_cast<size_t>(n));
  }

  HttpAnswer answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    answer = answer_;
  }
  std::string reply = "HTTP/1.1 " + std::to_string(answer.status) + " " + Reason(answer.status) +
                      "\r\nContent-Length: " + std::to_string(answer.body.size()) +
                      "\r\nConnection: close\r\n";
  for (const auto& [n, v] : answer.headers) reply += n + ": " + v + "\r\n";
  reply += "\r\n";
  if (answer.reset_after > 0 && answer.reset_after < answer.body.size()) {
    reply += answer.body.substr(0, answer.reset_after);
    SendAll(client, reply);
    ::Sleep(100);
    linger abort = {1, 0};  // closing now sends a reset instead of the rest
    ::setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                 sizeof(abort));
    return;
  }
  reply += answer.body;
  SendAll(client, reply);
  ::shutdown(client, SD_SEND);
}

std::string UrlDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string QueryValue(const std::string& target, const std::string& key, bool* found) {
  if (found) *found = false;
  const size_t q = target.find('?');
  if (q == std::string::npos) return "";
  size_t pos = q + 1;
  while (pos <= target.size()) {
    size_t amp = target.find('&', pos);
    if (amp == std::string::npos) amp = target.size();
    const std::string pair = target.substr(pos, amp - pos);
    const size_t eq = pair.find('=');
    if (pair.substr(0, eq) == key) {
      if (found) *found = true;
      return eq == std::string::npos ? "" : pair.substr(eq + 1);
    }
    pos = amp + 1;
  }
  return "";
}

}  // namespace kvtest
