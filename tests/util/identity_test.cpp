// Identifiers, percent-encoding and the registrations, against the real registry, shell and
// certificate stores of the test prefix.
#include "util/identity.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "util/handles.h"

namespace {

constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Quarell";

std::wstring ReadString(HKEY root, const std::wstring& key, const wchar_t* name, bool* found = nullptr) {
  wchar_t text[1024] = {};
  DWORD bytes = sizeof(text) - sizeof(wchar_t);
  const LONG rc = ::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &bytes);
  if (found) *found = rc == ERROR_SUCCESS;
  return rc == ERROR_SUCCESS ? text : L"";
}

void WriteString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetKeyValueW(root, key.c_str(), name, REG_SZ, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

void DeleteUid() { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kVendorKey, L"UID"); }

bool TickAllowsPersistence() {
  if (::GetTickCount() < 100000000) return true;
  std::printf("SKIPPED: the system has been up for more than 27.8 hours, identifiers are longer "
              "than 20 characters and never reused\n");
  return false;
}

// "KV" + tick (at least 8 digits) + 5 + 5 digits.
void ExpectUidShape(const std::wstring& uid, DWORD before, DWORD after) {
  ASSERT_GE(uid.size(), 20u) << kvtest::Utf8(uid);
  EXPECT_EQ(L"KV", uid.substr(0, 2));
  for (size_t i = 2; i < uid.size(); ++i) EXPECT_TRUE(std::iswdigit(uid[i])) << kvtest::Utf8(uid);
  const unsigned long tick = std::wcstoul(uid.substr(2, uid.size() - 12).c_str(), nullptr, 10);
  EXPECT_GE(tick, before);
  EXPECT_LE(tick, after);
  if (after < 100000000) {
    EXPECT_EQ(20u, uid.size());
  }
}

TEST(CreateUid, FormatWithoutPersistence) {
  DeleteUid();
  const DWORD before = ::GetTickCount();
  wchar_t uid[kUidRoom] = {};
  CreateUID(uid, 0);
  ExpectUidShape(uid, before, ::GetTickCount());
  bool found = true;
  ReadString(HKEY_CURRENT_USER, kVendorKey, L"UID", &found);
  EXPECT_FALSE(found) << "persist 0 stores nothing";
}

TEST(CreateUid, RoomIsRespected) {
  wchar_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  CreateUID(buffer, 0, 5);
  EXPECT_EQ(std::wstring(L"KV"), std::wstring(buffer, 2));
  EXPECT_EQ(4u, std::wcslen(buffer));
  EXPECT_EQ(L'#', buffer[5]);
}

TEST(CreateUid, PersistsAndReuses) {
  if (!TickAllowsPersistence()) GTEST_SKIP();
  DeleteUid();
  wchar_t first[kUidRoom] = {}, second[kUidRoom] = {};
  CreateUID(first, 1);
  EXPECT_EQ(std::wstring(first), ReadString(HKEY_CURRENT_USER, kVendorKey, L"UID"));
  ::Sleep(20);
  CreateUID(second, 1);
  EXPECT_STREQ(first, second);

  // Any 20-character value is taken as it is.
  WriteString(HKEY_CURRENT_USER, kVendorKey, L"UID", L"ABCDEFGHIJKLMNOPQRST");
  CreateUID(second, 1);
  EXPECT_STREQ(L"ABCDEFGHIJKLMNOPQRST", second);
}

TEST(CreateUid, WrongLengthIsReplaced) {
  if (!TickAllowsPersistence()) GTEST_SKIP();
  for (const wchar_t* stored : {L"KV000000010000100001X", L"KV0000000100001000X", L"",
                                L"KV0000000100001000010000100001000010000"}) {
    WriteString(HKEY_CURRENT_USER, kVendorKey, L"UID", stored);
    wchar_t uid[kUidRoom] = {};
    CreateUID(uid, 1);
    EXPECT_NE(std::wstring(stored), uid);
    EXPECT_EQ(20u, std::wcslen(uid));
    EXPECT_EQ(std::wstring(uid), ReadString(HKEY_CURRENT_USER, kVendorKey, L"UID"));
  }
}

TEST(CreateUid, CreatesMissingKey) {
  if (!TickAllowsPersistence()) GTEST_SKIP();
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kVendorKey);
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kVendorKey);
  wchar_t uid[kUidRoom] = {};
  CreateUID(uid, 1);
  EXPECT_EQ(std::wstring(uid), ReadString(HKEY_CURRENT_USER, kVendorKey, L"UID"));
}

std::wstring Encode(const std::wstring& text, int* result = nullptr) {
  std::vector<wchar_t> buffer(kUrlEncodeLimit + 8, L'\0');
  std::copy(text.begin(), text.end(), buffer.begin());
  const int r = URLEncode(buffer.data(), kUrlEncodeLimit);
  if (result) *result = r;
  return buffer.data();
}

TEST(UrlEncode, Table) {
  int r = 0;
  EXPECT_EQ(L"Brix_Uninstall", Encode(L"Brix_Uninstall", &r));
  EXPECT_EQ(1, r);
  EXPECT_EQ(L"a%20b%26c%3dd", Encode(L"a b&c=d"));
  EXPECT_EQ(L"100%", Encode(L"100%"));
  EXPECT_EQ(L"AZaz09!'()*-./:_~", Encode(L"AZaz09!'()*-./:_~"));
  EXPECT_EQ(L"%20%22%23%24%26%2b%2c%3b%3c%3d%3e%3f%40%5b%5c%5d%5e%60%7b%7c%7d",
            Encode(L" \"#$&+,;<=>?@[\\]^`{|}"));
  EXPECT_EQ(L"%01%09%1f%7f", Encode(L"\x01\t\x1f\x7f"));
  EXPECT_EQ(L"%e4%b8%ad", Encode(L"中"));
  EXPECT_EQ(L"%e6%a0%8e%e7%a6%be%e8%bd%af%e4%bb%b6", Encode(L"栎禾软件"));
  EXPECT_EQ(L"%c3%a9", Encode(L"\u00e9"));
  EXPECT_EQ(L"", Encode(L"", &r));
  EXPECT_EQ(1, r);
  EXPECT_EQ(0, URLEncode(nullptr));
}

TEST(UrlEncode, LimitOf1024) {
  int r = 0;
  const std::wstring fits(341, L' ');  // 1023 characters encoded, 1024 with the terminator
  EXPECT_EQ(1023u, Encode(fits, &r).size());
  EXPECT_EQ(1, r);
  const std::wstring over = fits + L"a";
  EXPECT_EQ(over, Encode(over, &r));
  EXPECT_EQ(0, r);
}

TEST(UrlEncode, CallersRoom) {
  wchar_t buffer[12];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  std::wcscpy(buffer, L"a b c");
  EXPECT_EQ(0, URLEncode(buffer, 9));  // needs 9 + 1
  EXPECT_STREQ(L"a b c", buffer);
  EXPECT_EQ(1, URLEncode(buffer, 10));
  EXPECT_STREQ(L"a%20b%20c", buffer);
  EXPECT_EQ(L'#', buffer[10]);
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Points the http handler at a probe program for the scope; puts the prefix's own back.
class BrowserCommand {
 public:
  explicit BrowserCommand(const std::wstring& command) {
    saved_ = ReadString(HKEY_CLASSES_ROOT, kKey, nullptr, &had_);
    WriteString(HKEY_CLASSES_ROOT, kKey, nullptr, command);
  }
  ~BrowserCommand() {
    if (had_)
      WriteString(HKEY_CLASSES_ROOT, kKey, nullptr, saved_);
    else
      ::RegDeleteKeyValueW(HKEY_CLASSES_ROOT, kKey, nullptr);
  }

 private:
  static constexpr wchar_t kKey[] = L"http\\shell\\open\\command";
  std::wstring saved_;
  bool had_ = false;
};

TEST(OpenUrl, StartsTheRegisteredBrowser) {
  const std::wstring dir = kvtest::FreshDir(L"openurl");
  ASSERT_TRUE(kvtest::CopyProgram(L"args_probe.exe", dir + L"args_probe.exe"));
  {
    BrowserCommand browser(L"\"" + dir + L"args_probe.exe\" -nohome \"%1\"");
    OpenUrl(L"http://example.invalid/page?x=1", 1);
    // Waited for the browser: its trace is there at once.
    const std::string args = ReadFile(dir + L"args.txt");
    EXPECT_NE(std::string::npos, args.find("http://example.invalid/page?x=1")) << args;
    EXPECT_EQ(std::string::npos, args.find("-nohome")) << "only the program is kept";
  }
  ::DeleteFileW((dir + L"args.txt").c_str());
  {
    BrowserCommand browser(L"\"" + dir + L"args_probe.exe\" \"%1\"");
    const DWORD start = ::GetTickCount();
    OpenUrl(L"http://example.invalid/second", 0);
    EXPECT_LT(::GetTickCount() - start, 450u) << "no wait: returns before the probe ends";
  }
  for (int i = 0; i < 100 && !kvtest::Exists(dir + L"args.txt"); ++i) ::Sleep(50);
  EXPECT_NE(std::string::npos, ReadFile(dir + L"args.txt").find("http://example.invalid/second"));
}

TEST(Registration, Protocol) {
  const std::wstring name = L"kvtestproto";
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, name.c_str());
  RegProtocol(name.c_str(), L"handler\\app.exe");
  const std::wstring path = kvtest::BinDir() + L"handler\\app.exe";
  EXPECT_EQ(L"kvtestprotoProtocol", ReadString(HKEY_CLASSES_ROOT, name, nullptr));
  EXPECT_EQ(path, ReadString(HKEY_CLASSES_ROOT, name, L"URL Protocol"));
  EXPECT_EQ(path + L",0", ReadString(HKEY_CLASSES_ROOT, name + L"\\DefaultIcon", nullptr));
  EXPECT_EQ(path + L" \"%1\"", ReadString(HKEY_CLASSES_ROOT, name + L"\\shell\\open\\command", nullptr));
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, name.c_str());
  ::RegDeleteKeyW(HKEY_CLASSES_ROOT, name.c_str());
}

TEST(Registration, FileRelationOnlyOnce) {
  const std::wstring ext = L".kvtestext", type = L"KvTest.Document";
  for (const std::wstring& k : {ext, type}) {
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, k.c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, k.c_str());
  }
  RegFileRelation(ext.c_str(), L"C:\\Kv App\\app.exe", type.c_str(), L"C:\\Kv App\\app.exe,1",
                  L"Kv test document");
  const std::wstring command_key = type + L"\\Shell\\Open\\Command";
  EXPECT_EQ(type, ReadString(HKEY_CLASSES_ROOT, ext, nullptr));
  EXPECT_EQ(L"Kv test document", ReadString(HKEY_CLASSES_ROOT, type, nullptr));
  EXPECT_EQ(L"C:\\Kv App\\app.exe,1", ReadString(HKEY_CLASSES_ROOT, type + L"\\DefaultIcon", nullptr));
  EXPECT_EQ(L"\"C:\\Kv App\\app.exe\" \"%1\"", ReadString(HKEY_CLASSES_ROOT, command_key, nullptr));

  // Already associated (the type compared without case): nothing changes.
  WriteString(HKEY_CLASSES_ROOT, command_key, nullptr, L"changed");
  RegFileRelation(ext.c_str(), L"C:\\Other\\b.exe", L"kvtest.document", L"i", L"d");
  EXPECT_EQ(L"changed", ReadString(HKEY_CLASSES_ROOT, command_key, nullptr));
  EXPECT_EQ(L"Kv test document", ReadString(HKEY_CLASSES_ROOT, type, nullptr));
  // Another type takes the extension over.
  RegFileRelation(ext.c_str(), L"C:\\Other\\b.exe", L"KvTest.Other", L"i", L"d");
  EXPECT_EQ(L"KvTest.Other", ReadString(HKEY_CLASSES_ROOT, ext, nullptr));
  EXPECT_EQ(L"\"C:\\Other\\b.exe\" \"%1\"",
            ReadString(HKEY_CLASSES_ROOT, L"KvTest.Other\\Shell\\Open\\Command", nullptr));
  for (const std::wstring& k : {ext, type, std::wstring(L"KvTest.Other")}) {
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, k.c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, k.c_str());
  }
}

// A self-signed root made for these tests: CN=KvTest Identity Root, O=Quarell Test.
constexpr wchar_t kTestRootSubject[] = L"KvTest Identity Root";
constexpr BYTE kTestRootDer[] = {
0x30, 0x82, 0x02, 0x38, 0x30, 0x82, 0x01, 0xa1, 0xa0, 0x03, 0x02, 0x01, 0x02, 0x02, 0x02, 0x10,
0x92, 0x30, 0x0d, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0b, 0x05, 0x00,
0x30, 0x36, 0x31, 0x1d, 0x30, 0x1b, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0c, 0x14, 0x4b, 0x76, 0x54,
0x65, 0x73, 0x74, 0x20, 0x49, 0x64, 0x65, 0x6e, 0x74, 0x69, 0x74, 0x79, 0x20, 0x52, 0x6f, 0x6f,
0x74, 0x31, 0x15, 0x30, 0x13, 0x06, 0x03, 0x55, 0x04, 0x0a, 0x0c, 0x0c, 0x51, 0x75, 0x61, 0x72,
0x65, 0x6c, 0x6c, 0x20, 0x54, 0x65, 0x73, 0x74, 0x30, 0x20, 0x17, 0x0d, 0x32, 0x36, 0x31, 0x32,
0x30, 0x37, 0x30, 0x30, 0x35, 0x33, 0x35, 0x36, 0x5a, 0x18, 0x0f, 0x32, 0x31, 0x32, 0x36, 0x31,
0x31, 0x31, 0x33, 0x30, 0x30, 0x35, 0x33, 0x35, 0x36, 0x5a, 0x30, 0x36, 0x31, 0x1d, 0x30, 0x1b,
0x06, 0x03, 0x55, 0x04, 0x03, 0x0c, 0x14, 0x4b, 0x76, 0x54, 0x65, 0x73, 0x74, 0x20, 0x49, 0x64,
0x65, 0x6e, 0x74, 0x69, 0x74, 0x79, 0x20, 0x52, 0x6f, 0x6f, 0x74, 0x31, 0x15, 0x30, 0x13, 0x06,
0x03, 0x55, 0x04, 0x0a, 0x0c, 0x0c, 0x51, 0x75, 0x61, 0x72, 0x65, 0x6c, 0x6c, 0x20, 0x54, 0x65,
0x73, 0x74, 0x30, 0x81, 0x9f, 0x30, 0x0d, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01,
0x01, 0x01, 0x05, 0x00, 0x03, 0x81, 0x8d, 0x00, 0x30, 0x81, 0x89, 0x02, 0x81, 0x81, 0x00, 0xe2,
0x98, 0xbf, 0xc0, 0x02, 0x83, 0xb6, 0x74, 0xa9, 0x4f, 0xb0, 0x57, 0x26, 0xc2, 0xbb, 0xd6, 0xfd,
0x21, 0x13, 0xde, 0x54, 0xda, 0x22, 0xa0, 0x75, 0x91, 0xd8, 0x20, 0x25, 0x34, 0xe4, 0x6f, 0xdb,
0x37, 0xb1, 0xaa, 0x43, 0xe1, 0xcc, 0xc4, 0xb5, 0x0b, 0xec, 0x5e, 0xec, 0xba, 0x23, 0xa8, 0x67,
0x4d, 0xe3, 0x20, 0x69, 0x18, 0xaa, 0x2e, 0x6b, 0x54, 0xe8, 0xdf, 0x53, 0xcc, 0x60, 0x6a, 0x78,
0xe9, 0x0f, 0x8d, 0x59, 0x9b, 0x5c, 0x6d, 0xce, 0x12, 0x2d, 0xc8, 0xc4, 0xd4, 0x1a, 0x1f, 0xdc,
0x1c, 0xc2, 0x04, 0xbe, 0x0e, 0x78, 0x56, 0x36, 0xf0, 0xe9, 0xeb, 0x87, 0xd7, 0xe7, 0x80, 0xcd,
0x8d, 0x68, 0x53, 0xc7, 0x50, 0x23, 0x13, 0xfd, 0x05, 0xe7, 0x4a, 0x81, 0xc5, 0x97, 0xcd, 0xef,
0xe5, 0x2a, 0x2a, 0x34, 0x5c, 0x4a, 0xaa, 0x7b, 0xe1, 0x3c, 0x3b, 0x71, 0x00, 0x16, 0xad, 0x02,
0x03, 0x01, 0x00, 0x01, 0xa3, 0x53, 0x30, 0x51, 0x30, 0x1d, 0x06, 0x03, 0x55, 0x1d, 0x0e, 0x04,
0x16, 0x04, 0x14, 0x81, 0x61, 0x5d, 0x98, 0xcf, 0x44, 0xf5, 0xbb, 0x0b, 0xe3, 0x07, 0xc0, 0xdc,
0x64, 0x25, 0xe3, 0x84, 0x6f, 0x2c, 0x4e, 0x30, 0x1f, 0x06, 0x03, 0x55, 0x1d, 0x23, 0x04, 0x18,
0x30, 0x16, 0x80, 0x14, 0x81, 0x61, 0x5d, 0x98, 0xcf, 0x44, 0xf5, 0xbb, 0x0b, 0xe3, 0x07, 0xc0,
0xdc, 0x64, 0x25, 0xe3, 0x84, 0x6f, 0x2c, 0x4e, 0x30, 0x0f, 0x06, 0x03, 0x55, 0x1d, 0x13, 0x01,
0x01, 0xff, 0x04, 0x05, 0x30, 0x03, 0x01, 0x01, 0xff, 0x30, 0x0d, 0x06, 0x09, 0x2a, 0x86, 0x48,
0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0b, 0x05, 0x00, 0x03, 0x81, 0x81, 0x00, 0x75, 0xa3, 0x5b, 0x00,
0x4a, 0x3b, 0x5a, 0x9c, 0xbf, 0xa7, 0x53, 0x5b, 0x27, 0x36, 0x94, 0x00, 0x23, 0x2a, 0xb9, 0x5d,
0xc2, 0x00, 0x9d, 0x44, 0x91, 0xc8, 0x9b, 0x6d, 0x3d, 0x00, 0x0a, 0x49, 0xfb, 0x92, 0xaa, 0xef,
0x2b, 0x85, 0xa7, 0x52, 0x5f, 0x2e, 0xec, 0x58, 0x2c, 0x9c, 0xc0, 0x91, 0x05, 0x78, 0x1a, 0x2d,
0xa2, 0x5d, 0x1b, 0x53, 0xd0, 0x66, 0x8d, 0x5a, 0x85, 0xe1, 0xe2, 0x6c, 0xee, 0x68, 0x3c, 0x96,
0x1a, 0xe8, 0x84, 0x8e, 0x0d, 0x2e, 0x80, 0xa2, 0xa4, 0x25, 0x5b, 0x2f, 0x0c, 0x8f, 0xc0, 0x27,
0x77, 0x78, 0xd4, 0x24, 0xad, 0x15, 0xa1, 0xe2, 0x73, 0x5d, 0x42, 0x53, 0xd8, 0xcf, 0x22, 0x20,
0x48, 0x0f, 0x54, 0x42, 0x04, 0x14, 0xc8, 0xff, 0x3c, 0x58, 0x42, 0x0f, 0xab, 0x4e, 0x87, 0x7a,
0xa1, 0x2e, 0x10, 0x90, 0x8a, 0x13, 0x3b, 0x8b, 0x6d, 0x7f, 0xb0, 0xd9
};

// Where the machine's Root store keeps the certificate: a key named by its SHA-1 thumbprint.
// Checked and cleaned through the registry, because the process keeps its own view of the root
// store once it has been opened.
constexpr wchar_t kTestRootRegistryKey[] =
    L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
    L"A0A61BA58C30E996EF251282E834243897628033";

bool InMachineRoot() {
  kv::UniqueKey key;
  return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestRootRegistryKey, 0, KEY_READ, key.put()) ==
         ERROR_SUCCESS;
}

void RemoveFromMachineRoot() {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestRootRegistryKey);
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTestRootRegistryKey);
}

TEST(Certificates, ImportIntoMachineRoot) {
  RemoveFromMachineRoot();
  ASSERT_FALSE(InMachineRoot());
  EXPECT_EQ(1, ImportCACert(kTestRootDer, sizeof(kTestRootDer)));
  EXPECT_TRUE(InMachineRoot());
  EXPECT_EQ(1, ImportCACert(kTestRootDer, sizeof(kTestRootDer))) << "already there: replaced";

  if (CertExists(kTestRootSubject)) {
    EXPECT_EQ(1, CertExists(L"Identity Root")) << "a part of the subject is enough";
  } else {
    std::printf("SKIPPED: the current-user Root store does not show the machine's Root "
                "certificates here, so CertExists cannot see the import\n");
  }
  EXPECT_EQ(0, CertExists(L"No Such Subject 7f3a9c"));
  RemoveFromMachineRoot();

  const std::wstring dir = kvtest::FreshDir(L"certfiles");
  kvtest::WriteText(dir + L"root.der", std::string(reinterpret_cast<const char*>(kTestRootDer),
                                                    sizeof(kTestRootDer)));
  EXPECT_EQ(1, ImportCertFile((dir + L"root.der").c_str()));
  EXPECT_TRUE(InMachineRoot());
  RemoveFromMachineRoot();
}

TEST(Certificates, RejectsWhatIsNotACertificate) {
  const BYTE garbage[] = {0x30, 0x03, 0x01, 0x02, 0x03};
  EXPECT_EQ(0, ImportCACert(garbage, sizeof(garbage)));
  EXPECT_EQ(0, ImportCACert(kTestRootDer, 0));
  EXPECT_EQ(0, ImportCACert(nullptr, 10));
  const std::wstring dir = kvtest::FreshDir(L"certfiles_bad");
  kvtest::WriteText(dir + L"root.pem", "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
  kvtest::WriteText(dir + L"empty.der", "");
  EXPECT_EQ(0, ImportCertFile((dir + L"root.pem").c_str()));
  EXPECT_EQ(0, ImportCertFile((dir + L"empty.der").c_str()));
  EXPECT_EQ(0, ImportCertFile((dir + L"missing.der").c_str()));
  EXPECT_FALSE(InMachineRoot());
}

TEST(Certificates, VerifySignature) {
  EXPECT_EQ(0, VerifySignature((kvtest::BinDir() + L"args_probe.exe").c_str())) << "unsigned";
  EXPECT_EQ(0, VerifySignature(L"C:\\kvtest\\no such file.exe"));
  EXPECT_EQ(0, VerifySignature(nullptr));
  const std::wstring dir = L"C:\\kvfixtures_signature\\";
  if (!kvtest::Exists(dir + L"signed.exe")) {
    std::printf("SKIPPED: no signed program (openssl or osslsigncode missing on the build "
                "machine); only the refusals are checked\n");
    return;
  }
  // The signer made trusted the way an installer would: its certificate into the machine's Root.
  const std::wstring signer = dir + L"signer.der";
  std::ifstream in(signer.c_str(), std::ios::binary);
  const std::string der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(der.empty());
  ASSERT_EQ(1, ImportCertFile(signer.c_str()));
  EXPECT_EQ(1, VerifySignature((dir + L"signed.exe").c_str()));
  // One changed byte breaks the signed digest.
  EXPECT_EQ(0, VerifySignature((dir + L"tampered.exe").c_str()));

  kv::UniqueCertContext cert(::CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
  ASSERT_TRUE(cert);
  BYTE hash[20] = {};
  DWORD hash_size = sizeof(hash);
  ASSERT_TRUE(::CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, hash, &hash_size));
  std::wstring key = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
  for (BYTE b : hash) {
    wchar_t hex[3];
    std::swprintf(hex, 3, L"%02X", b);
    key += hex;
  }
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
}

}  // namespace
