#include "services/http_client.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "services/logger.h"
#include "services/zlib_codec.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/format.h"

namespace {

using UniqueInternet = kv::UniqueHandle<kv::NullTraits<HINTERNET, ::InternetCloseHandle>>;

constexpr wchar_t kProxyFileName[] = L"proxy.dat";
constexpr wchar_t kAgentFormat[] = L"Agent%ld";
constexpr wchar_t kProxyFormat[] = L"HTTP=HTTP://%s:%s";
constexpr wchar_t kVerbGet[] = L"GET";
constexpr wchar_t kVerbPost[] = L"POST";
constexpr wchar_t kHttpVersion[] = L"HTTP/1.1";
constexpr wchar_t kAcceptAll[] = L"*/*";
constexpr wchar_t kGzip[] = L"gzip";
constexpr wchar_t kHttpsScheme[] = L"https://";

constexpr wchar_t kHeaderAccept[] =
    L"Accept:text/html,application/xml;q=0.9,application/json,*/*;q=0.8\r\n";
constexpr wchar_t kHeaderEncoding[] = L"Accept-Encoding:gzip,deflate\r\n";
constexpr wchar_t kHeaderLanguage[] = L"Accept-Language:zh-CN,zh;q=0.5\r\n";
constexpr wchar_t kHeaderCharset[] = L"Accept-Charset:gb2312,utf-8;q=0.7,*;q=0.7\r\n";
constexpr wchar_t kHeaderHost[] = L"Host:";
constexpr wchar_t kHeaderAgent[] = L"User-Agent:Mozilla/5.0 (Windows NT 6.1)\r\n";
constexpr wchar_t kHeaderFormType[] = L"Content-Type: application/x-www-form-urlencoded\r\n";

constexpr wchar_t kLogInternetOpen[] = L"网络连接异常: InternetOpen";
constexpr wchar_t kLogInternetConnect[] = L"网络连接异常: InternetConnect";
constexpr wchar_t kLogOpenRequest[] = L"网络连接异常: HttpOpenRequest";
constexpr wchar_t kLogReadFile[] = L"网络连接异常: InternetReadFile";

constexpr INTERNET_PORT kHttpPort = 80;
constexpr wchar_t kReservedInvalidDomain[] = L"invalid";
constexpr DWORD kConnectTimeoutMs = 3000;
// No request leaves its answer in the user's browser cache: the reports' addresses carry the
// user's identifier and the product's name, which must not outlive an uninstall there.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr DWORD kProbeFlags =
    INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr int kMaxPiece = 16384;
constexpr DWORD kEncodingBytes = 512;
constexpr size_t kSchemeLength = 7;        // "http://"
constexpr size_t kSecureSchemeLength = 8;  // "https://"

struct UrlParts {
  std::wstring server;
  std::wstring path;
};

// GET: the server starts after a 7-character scheme and ends at the first "/" from position 8.
UrlParts SplitForGet(const std::wstring& url) {
  const size_t p = url.find(L'/', kSecureSchemeLength);
  if (p == std::wstring::npos) return {url, L"/"};
  return {url.substr(kSchemeLength, p - kSchemeLength), url.substr(p)};
}

// POST: skips any "scheme://" by the first "/" of the URL.
UrlParts SplitForPost(const std::wstring& url) {
  const size_t a = url.find(L'/');
  if (a == std::wstring::npos) return {url, L"/"};
  const size_t s = a + 2;
  const size_t p = url.find(L'/', s + 1);
  if (p == std::wstring::npos) return {url, L"/"};
  return {url.substr(s, p - s), url.substr(p)};
}

// The probe works on the lower-cased URL and knows "https://" too.
UrlParts SplitForProbe(const std::wstring& url) {
  std::wstring lower = url;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  const size_t p = lower.find(L'/', kSecureSchemeLength);
  if (p == std::wstring::npos) return {url, L"/"};
  const size_t start = lower.compare(0, kSecureSchemeLength, kHttpsScheme) == 0
                           ? kSecureSchemeLength
                           : kSchemeLength;
  return {lower.substr(start, p - start), lower.substr(p)};
}

std::wstring RequestHeaders(const std::wstring& server, bool form) {
  std::wstring headers = kHeaderAccept;
  headers += kHeaderEncoding;
  headers += kHeaderLanguage;
  headers += kHeaderCharset;
  headers += kHeaderHost;
  headers += server;
  headers += L"\r\n";
  headers += kHeaderAgent;
  if (form) headers += kHeaderFormType;
  return headers;
}

// A field of proxy.dat up to its terminator, or the whole field when the file gave none.
template <size_t N>
std::wstring Field(const wchar_t (&field)[N]) {
  return std::wstring(field, wcsnlen(field, N));
}

void Log(const wchar_t* text) { WriteLog(text); }

// Request, connection and internet handle, closed in that order.
struct Session {
  UniqueInternet internet;
  UniqueInternet connection;
  UniqueInternet request;
  ~Session() {
    request.reset();
    connection.reset();
    internet.reset();
  }
};

// Inflates the first total bytes of buffer (gzip or zlib framing) over its start, cut to fit
// with a terminator; false, and the buffer unchanged, when they do not inflate. Inflation stops at
// what the buffer keeps: a small hostile answer must not grow into gigabytes first.
bool InflateInto(char* buffer, int total, int size, int* length) {
  BYTE* inflated = nullptr;
  long inflated_length = 0;
  if (CKvZlib::Instance().DecodeGZipBufferN(reinterpret_cast<const BYTE*>(buffer), total, &inflated,
                                            &inflated_length, size - 1) != S_OK ||
      !inflated)
    return false;
  const kv::UniqueMalloc owned(inflated);  // the codec's block, malloc'd for its caller
  *length = static_cast<int>(inflated_length);
  std::memcpy(buffer, inflated, static_cast<size_t>(inflated_length));
  buffer[inflated_length] = '\0';
  return true;
}

// The request with the fixed headers added; null when it could not be opened.
UniqueInternet OpenRequest(HINTERNET connection, LPCWSTR verb, const UrlParts& parts, bool form) {
  LPCWSTR accept[] = {kAcceptAll, nullptr};
  UniqueInternet request(::HttpOpenRequestW(connection, verb, parts.path.c_str(), kHttpVersion,
                                            nullptr, accept, kRequestFlags, 0));
  if (!request) return request;
  // Replacing: the User-Agent line takes the place of the agent name on the wire.
  const std::wstring headers = RequestHeaders(parts.server, form);
  ::HttpAddRequestHeadersW(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  return request;
}

// Names under the reserved "invalid" top-level domain never exist; they are never looked up, so
// an unconfigured report host costs no name-server query and no wait. A proxy may still take
// them: it decides what such a name means.
bool IsReservedInvalidName(const std::wstring& server) {
  std::wstring name = server;
  while (!name.empty() && name.back() == L'.') name.pop_back();
  const size_t dot = name.rfind(L'.');
  const std::wstring last = dot == std::wstring::npos ? name : name.substr(dot + 1);
  return ::lstrcmpiW(last.c_str(), kReservedInvalidDomain) == 0;
}

}  // namespace

CKvNet& CKvNet::Instance() {
  static CKvNet instance;
  return instance;
}

CKvNet::CKvNet()
    : m_proxy{}, m_bStop(false), m_nConnectAttempts(3), m_nConnectPauseMs(1000), m_nInfoLen(0) {
  LoadProxyConfig();
  CKvZlib::Instance().InitZlib(nullptr);
}

CKvNet::~CKvNet() {
  m_bStop = true;
  CKvZlib::Instance().UninitZlib();
}

CKvNet::CKvNet(const CKvNet& other)
    : m_proxy(other.m_proxy),
      m_bStop(other.m_bStop.load()),
      m_nConnectAttempts(other.m_nConnectAttempts),
      m_nConnectPauseMs(other.m_nConnectPauseMs),
      m_nInfoLen(other.m_nInfoLen.load()) {}

CKvNet& CKvNet::operator=(const CKvNet& other) {
  m_proxy = other.m_proxy;
  m_bStop = other.m_bStop.load();
  m_nConnectAttempts = other.m_nConnectAttempts;
  m_nConnectPauseMs = other.m_nConnectPauseMs;
  m_nInfoLen = other.m_nInfoLen.load();
  return *this;
}

void CKvNet::LoadProxyConfig() {
  std::memset(&m_proxy, 0, sizeof(m_proxy));
  kv::UniqueStdioFile file(_wfopen((kv::ProgramFolder() + kProxyFileName).c_str(), L"rb"));
  if (file) std::fread(&m_proxy, 1, sizeof(m_proxy), file.get());
}

HINTERNET CKvNet::OpenInternet(bool withTimeout) {
  DWORD flags = 0;
  ::InternetGetConnectedState(&flags, 0);
  const std::wstring agent =
      kv::FormatBounded(32, kAgentFormat, static_cast<long>(::GetTickCount()));
  HINTERNET internet = nullptr;
  if (m_proxy.enabled) {
    // Both fields are bounded: at most 100 + 12 characters.
    const std::wstring proxy = kv::FormatBounded(160, kProxyFormat, Field(m_proxy.host).c_str(),
                                                 Field(m_proxy.port).c_str());
    internet = ::InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0);
  } else {
    const DWORD access = (flags & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                             : INTERNET_OPEN_TYPE_DIRECT;
    internet = ::InternetOpenW(agent.c_str(), access, nullptr, nullptr, 0);
  }
  if (internet && withTimeout) {
    DWORD timeout = kConnectTimeoutMs;
    ::InternetSetOptionW(internet, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
  }
  return internet;
}

bool CKvNet::ReadBody(HINTERNET request, char* buffer, int size, int* total) {
  const int piece = size > kMaxPiece ? kMaxPiece : size - 1;
  std::memset(buffer, 0, static_cast<size_t>(size));
  int done = 0;
  while (!m_bStop && done + piece < size) {
    DWORD got = 0;
    if (!::InternetReadFile(request, buffer + done, static_cast<DWORD>(piece), &got)) {
      Log(kLogReadFile);
      *total = done;
      return false;
    }
    if (got == 0) break;
    done += static_cast<int>(got);
  }
  buffer[done] = '\0';
  *total = done;
  return true;
}

HINTERNET CKvNet::Connect(HINTERNET internet, LPCWSTR server) {
  if (!m_proxy.enabled && IsReservedInvalidName(server)) return nullptr;
  HINTERNET connection = nullptr;
  for (int attempt = 1; attempt <= m_nConnectAttempts && !connection; ++attempt) {
    connection = ::InternetConnectW(internet, server, kHttpPort, nullptr, nullptr,
                                    INTERNET_SERVICE_HTTP, INTERNET_FLAG_RELOAD, 0);
    if (!connection && attempt < m_nConnectAttempts) ::Sleep(static_cast<DWORD>(m_nConnectPauseMs));
  }
  if (connection) SetProxyCredentials(connection);
  return connection;
}

void CKvNet::SetProxyCredentials(HINTERNET connection) {
  if (!m_proxy.enabled) return;
  const std::wstring user = Field(m_proxy.user), password = Field(m_proxy.password);
  ::InternetSetOptionW(connection, INTERNET_OPTION_PROXY_USERNAME,
                       const_cast<wchar_t*>(user.c_str()), static_cast<DWORD>(user.size()));
  ::InternetSetOptionW(connection, INTERNET_OPTION_PROXY_PASSWORD,
                       const_cast<wchar_t*>(password.c_str()), static_cast<DWORD>(password.size()));
}

bool CKvNet::Exchange(LPCWSTR verb, LPCWSTR server, LPCWSTR path, bool form, const char* body,
                      DWORD bodyLen, char* buffer, int size, int* total, bool* gzip) {
  Session s;
  s.internet.reset(OpenInternet(true));
  if (!s.internet) {
    Log(kLogInternetOpen);
    return false;
  }
  s.connection.reset(Connect(s.internet.get(), server));
  if (!s.connection) {
    Log(kLogInternetConnect);
    return false;
  }
  s.request = OpenRequest(s.connection.get(), verb, {server, path}, form);
  if (!s.request) {
    Log(kLogOpenRequest);
    return false;
  }
  // The send's result is not the outcome: the read decides it.
  ::HttpSendRequestW(s.request.get(), nullptr, 0, bodyLen ? const_cast<char*>(body) : nullptr,
                     bodyLen);
  *gzip = isGzip(s.request.get()) != 0;
  return ReadBody(s.request.get(), buffer, size, total);
}

int CKvNet::GetUrlInfo(LPCWSTR url, char* buffer, int size) {
  m_nInfoLen = 0;
  if (!url || !buffer || size <= 0) return 0;
  const UrlParts parts = SplitForGet(url);
  int total = 0;
  bool gzip = false;
  if (!Exchange(kVerbGet, parts.server.c_str(), parts.path.c_str(), false, nullptr, 0, buffer, size,
                &total, &gzip))
    return 0;
  m_nInfoLen = total;
  int inflated = 0;
  if (gzip && InflateInto(buffer, total, size, &inflated)) m_nInfoLen = inflated;
  return 1;
}

int CKvNet::Post(LPCWSTR url, const char* data, int dataLen, char* buffer, int size) {
  if (!url || !buffer || size <= 0) return 0;
  const UrlParts parts = SplitForPost(url);
  const DWORD body = data && dataLen > 0 ? static_cast<DWORD>(dataLen) : 0;
  int total = 0;
  bool gzip = false;
  if (!Exchange(kVerbPost, parts.server.c_str(), parts.path.c_str(), true, data, body, buffer, size,
                &total, &gzip))
    return 0;
  // A zero byte inside the body means it is binary: only its inflated form is worth returning.
  const bool binary = static_cast<int>(std::strlen(buffer)) != total;
  int inflated = 0;
  if ((gzip || binary) && !InflateInto(buffer, total, size, &inflated)) buffer[0] = '\0';
  return 1;
}

int CKvNet::isConnected(LPCWSTR url) {
  if (!url) return 0;
  Session s;
  s.internet.reset(OpenInternet(false));
  if (!s.internet) return 0;
  const UrlParts parts = SplitForProbe(url);
  if (!m_proxy.enabled && IsReservedInvalidName(parts.server)) return 0;
  s.connection.reset(::InternetConnectW(s.internet.get(), parts.server.c_str(), kHttpPort, nullptr,
                                        nullptr, INTERNET_SERVICE_HTTP, INTERNET_FLAG_NO_UI, 0));
  if (!s.connection) return 0;
  SetProxyCredentials(s.connection.get());
  LPCWSTR accept[] = {kAcceptAll, nullptr};
  s.request.reset(::HttpOpenRequestW(s.connection.get(), kVerbGet, parts.path.c_str(), kHttpVersion,
                                     nullptr, accept, kProbeFlags, 0));
  if (!s.request) return 0;
  return ::HttpSendRequestW(s.request.get(), nullptr, 0, nullptr, 0);
}

int CKvNet::isGzip(HINTERNET request) {
  wchar_t encoding[kEncodingBytes / sizeof(wchar_t)] = {};
  DWORD bytes = sizeof(encoding) - sizeof(wchar_t);
  if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_ENCODING, encoding, &bytes, nullptr)) return 0;
  return ::lstrcmpiW(encoding, kGzip) == 0 ? 1 : 0;
}

int CKvNet::GetInfoLen() { return m_nInfoLen; }

void CKvNet::Stop() { m_bStop = true; }

int GetUrlInfo(LPCWSTR url, char* buffer, int size) {
  return CKvNet::Instance().GetUrlInfo(url, buffer, size);
}

int isConnected(LPCWSTR url) { return CKvNet::Instance().isConnected(url); }
