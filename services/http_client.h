#pragma once
// The toolkit's HTTP client over WinINet: GET into a byte buffer, form POST, a reachability probe,
// an optional fixed proxy from proxy.dat, and gzip answers inflated through CKvZlib.
#include <windows.h>
#include <wininet.h>

#include <atomic>

#include "util/kv_api.h"

// proxy.dat, read byte for byte: UTF-16LE texts, each NUL-terminated inside its field.
struct ProxyConfig {
  int enabled;  // non-zero: every request goes through host:port
  wchar_t host[100];
  wchar_t port[12];  // decimal text
  wchar_t user[50];
  wchar_t password[50];
};
static_assert(sizeof(ProxyConfig) == 428, "proxy.dat layout is fixed");

class KV_CLASS CKvNet {
 public:
  static CKvNet& Instance();

  CKvNet();
  ~CKvNet();
  CKvNet(const CKvNet& other);
  CKvNet& operator=(const CKvNet& other);

  void LoadProxyConfig();
  // GET url (plain http, port 80). Fills buffer (size bytes) with the body and a terminating zero;
  // 1 when the request was made and the body read, 0 on failure. Synchronous: call it from a
  // worker thread.
  int GetUrlInfo(LPCWSTR url, char* buffer, int size);
  // POST of data (form-encoded by the caller) to url; the answer goes to buffer as in GetUrlInfo.
  int Post(LPCWSTR url, const char* data, int dataLen, char* buffer, int size);
  // Sends a GET without reading the answer; non-zero when it was sent.
  int isConnected(LPCWSTR url);
  int isGzip(HINTERNET request);
  int GetInfoLen();
  // From any thread: no body byte is read any more, by this or any later call.
  void Stop();

 private:
  HINTERNET OpenInternet(bool withTimeout);
  // Up to the attempts, the pause between them; then the proxy's credentials on the connection.
  HINTERNET Connect(HINTERNET internet, LPCWSTR server);
  void SetProxyCredentials(HINTERNET connection);
  // Body into buffer; false when a read failed (the log has said which).
  bool ReadBody(HINTERNET request, char* buffer, int size, int* total);
  // One request from opening the internet handle to the read of its answer into buffer, shared by
  // GET and POST; false (and a log line) when any step failed.
  bool Exchange(LPCWSTR verb, LPCWSTR server, LPCWSTR path, bool form, const char* body,
                DWORD bodyLen, char* buffer, int size, int* total, bool* gzip);

  ProxyConfig m_proxy;
  std::atomic<bool> m_bStop;
  int m_nConnectAttempts;
  int m_nConnectPauseMs;
  std::atomic<int> m_nInfoLen;
};

KV_API int GetUrlInfo(LPCWSTR url, char* buffer, int size);
KV_API int isConnected(LPCWSTR url);
