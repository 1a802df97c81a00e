// Identifiers, percent-encoding and the registrations, against the real registry, shell and
// certificate stores of the test prefix.
#include "util/identity.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/install_support.h"
#include "util/crypt_handles.h"
#include "util/handles.h"

namespace {

using kvtest::RegString;
constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Quarell";

void WriteString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(root, key.c_str(), name, REG_SZ, text.c_str(),
                                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

std::wstring StoredUid(bool* found = nullptr) {
  return RegString(HKEY_CURRENT_USER, kVendorKey, L"UID", found);
}

bool TickAllowsPersistence() {
  if (::GetTickCount() < 100000000) return true;
  std::printf("SKIPPED: the system has been up for more than 27.8 hours, identifiers are longer "
              "than 20 characters and never reused\n");
  return false;
}

TEST(CreateUid, FormatWithoutPersistence) {
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kVendorKey, L"UID");
  const DWORD before = ::GetTickCount();
  wchar_t buffer[kUidRoom + 4];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  CreateUID(buffer, 0);
  EXPECT_EQ(std::wstring(4, L'#'), std::wstring(buffer + kUidRoom, 4)) << "written past the room";
  const DWORD after = ::GetTickCount();
  // "KV" + tick (at least 8 digits) + 5 + 5 digits.
  const std::wstring uid = buffer;
  ASSERT_TRUE(std::regex_match(uid, std::wregex(L"KV[0-9]{18,}"))) << kvtest::Utf8(uid);
  const unsigned long tick = std::wcstoul(uid.substr(2, uid.size() - 12).c_str(), nullptr, 10);
  EXPECT_GE(tick, before);
  EXPECT_LE(tick, after);
  if (after < 100000000) { EXPECT_EQ(20u, uid.size()); }
  bool found = true;
  StoredUid(&found);
  EXPECT_FALSE(found) << "persist 0 stores nothing";
}

TEST(CreateUid, PersistsReusesAndReplacesWrongLengths) {
  if (!TickAllowsPersistence()) GTEST_SKIP();
  kvtest::DeleteKeyTree(HKEY_CURRENT_USER, kVendorKey);  // a missing key is created
  wchar_t first[kUidRoom] = {}, second[kUidRoom] = {};
  CreateUID(first, 1);
  EXPECT_EQ(std::wstring(first), StoredUid());
  ::Sleep(20);
  CreateUID(second, 1);
  EXPECT_STREQ(first, second);
  // Any 20-character value is taken as it is.
  WriteString(HKEY_CURRENT_USER, kVendorKey, L"UID", L"ABCDEFGHIJKLMNOPQRST");
  CreateUID(second, 1);
  EXPECT_STREQ(L"ABCDEFGHIJKLMNOPQRST", second);
  for (const wchar_t* stored : {L"KV000000010000100001X", L"KV0000000100001000X", L"",
                                L"KV0000000100001000010000100001000010000"}) {
    WriteString(HKEY_CURRENT_USER, kVendorKey, L"UID", stored);
    CreateUID(second, 1);
    EXPECT_NE(std::wstring(stored), second);
    EXPECT_EQ(20u, std::wcslen(second));
    EXPECT_EQ(std::wstring(second), StoredUid());
  }
}

std::wstring Encode(const std::wstring& text, int* result = nullptr) {
  std::vector<wchar_t> buffer(kUrlEncodeLimit + 8, L'\0');
  std::copy(text.begin(), text.end(), buffer.begin());
  const int r = URLEncode(buffer.data());
  if (result) *result = r;
  return buffer.data();
}

TEST(UrlEncode, TableAndLimit) {
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"Brix_Uninstall", L"Brix_Uninstall"}, {L"a b&c=d", L"a%20b%26c%3dd"}, {L"100%", L"100%"},
      {L"AZaz09!'()*-./:_~", L"AZaz09!'()*-./:_~"},
      {L" \"#$&+,;<=>?@[\\]^`{|}", L"%20%22%23%24%26%2b%2c%3b%3c%3d%3e%3f%40%5b%5c%5d%5e%60%7b%7c%7d"},
      {L"\x01\t\x1f\x7f", L"%01%09%1f%7f"}, {L"中", L"%e4%b8%ad"},
      {L"栎禾软件", L"%e6%a0%8e%e7%a6%be%e8%bd%af%e4%bb%b6"}, {L"\u00e9", L"%c3%a9"}, {L"", L""}};
  for (const auto& [in, out] : rows) {
    int r = 0;
    EXPECT_EQ(out, Encode(in, &r)) << kvtest::Utf8(in);
    EXPECT_EQ(1, r);
  }
  EXPECT_EQ(0, URLEncode(nullptr));
  int r = 0;
  const std::wstring fits(341, L' ');  // 1023 characters encoded, 1024 with the terminator
  EXPECT_EQ(1023u, Encode(fits, &r).size());
  EXPECT_EQ(1, r);
  EXPECT_EQ(fits + L"a", Encode(fits + L"a", &r));
  EXPECT_EQ(0, r);
}

// Points the http handler at a probe program for the scope; puts the prefix's own back.
class BrowserCommand {
 public:
  explicit BrowserCommand(const std::wstring& command) {
    saved_ = RegString(HKEY_CLASSES_ROOT, kKey, nullptr, &had_);
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
    const std::string args = kvtest::ReadAll(dir + L"args.txt");
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
  EXPECT_NE(std::string::npos, kvtest::ReadAll(dir + L"args.txt").find("http://example.invalid/second"));
}

TEST(Registration, Protocol) {
  const std::wstring name = L"kvtestproto";
  // The command line quotes a program path with a blank: unquoted, its first word would be started.
  struct Row { const wchar_t* program; const wchar_t* open; };
  for (const Row& r : {Row{L"handler\\app.exe", L""}, Row{L"my handler\\app.exe", L"\""}}) {
    kvtest::DeleteKeyTree(HKEY_CLASSES_ROOT, name);
    RegProtocol(name.c_str(), r.program);
    const std::wstring path = kvtest::BinDir() + r.program;
    EXPECT_EQ(L"kvtestprotoProtocol", RegString(HKEY_CLASSES_ROOT, name, nullptr));
    EXPECT_EQ(path, RegString(HKEY_CLASSES_ROOT, name, L"URL Protocol"));
    EXPECT_EQ(path + L",0", RegString(HKEY_CLASSES_ROOT, name + L"\\DefaultIcon", nullptr));
    EXPECT_EQ(r.open + path + r.open + L" \"%1\"",
              RegString(HKEY_CLASSES_ROOT, name + L"\\shell\\open\\command", nullptr));
  }
  kvtest::DeleteKeyTree(HKEY_CLASSES_ROOT, name);
}

TEST(Registration, FileRelationOnlyOnce) {
  const std::wstring ext = L".kvtestext", type = L"KvTest.Document", other = L"KvTest.Other";
  for (const std::wstring& k : {ext, type, other}) kvtest::DeleteKeyTree(HKEY_CLASSES_ROOT, k);
  RegFileRelation(ext.c_str(), L"C:\\Kv App\\app.exe", type.c_str(), L"C:\\Kv App\\app.exe,1",
                  L"Kv test document");
  const std::wstring command_key = type + L"\\Shell\\Open\\Command";
  EXPECT_EQ(type, RegString(HKEY_CLASSES_ROOT, ext, nullptr));
  EXPECT_EQ(L"Kv test document", RegString(HKEY_CLASSES_ROOT, type, nullptr));
  EXPECT_EQ(L"C:\\Kv App\\app.exe,1", RegString(HKEY_CLASSES_ROOT, type + L"\\DefaultIcon", nullptr));
  EXPECT_EQ(L"\"C:\\Kv App\\app.exe\" \"%1\"", RegString(HKEY_CLASSES_ROOT, command_key, nullptr));
  // Already associated (the type compared without case): nothing changes.
  WriteString(HKEY_CLASSES_ROOT, command_key, nullptr, L"changed");
  RegFileRelation(ext.c_str(), L"C:\\Other\\b.exe", L"kvtest.document", L"i", L"d");
  EXPECT_EQ(L"changed", RegString(HKEY_CLASSES_ROOT, command_key, nullptr));
  EXPECT_EQ(L"Kv test document", RegString(HKEY_CLASSES_ROOT, type, nullptr));
  // Another type takes the extension over.
  RegFileRelation(ext.c_str(), L"C:\\Other\\b.exe", other.c_str(), L"i", L"d");
  EXPECT_EQ(other, RegString(HKEY_CLASSES_ROOT, ext, nullptr));
  EXPECT_EQ(L"\"C:\\Other\\b.exe\" \"%1\"",
            RegString(HKEY_CLASSES_ROOT, other + L"\\Shell\\Open\\Command", nullptr));
  for (const std::wstring& k : {ext, type, other}) kvtest::DeleteKeyTree(HKEY_CLASSES_ROOT, k);
}

std::string FromHex(const char* hex) {
  std::string out;
  for (; hex[0] && hex[1]; hex += 2) out += static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16));
  return out;
}

// A self-signed root made for these tests: CN=KvTest Identity Root, O=Quarell Test.
constexpr wchar_t kTestRootSubject[] = L"KvTest Identity Root";
const std::string kTestRootDer = FromHex(
    "30820238308201a1a00302010202021092300d06092a864886f70d01010b05003036311d301b06035504030c144b7654"
    "657374204964656e7469747920526f6f7431153013060355040a0c0c51756172656c6c20546573743020170d32363132"
    "30373030353335365a180f32313236313131333030353335365a3036311d301b06035504030c144b7654657374204964"
    "656e7469747920526f6f7431153013060355040a0c0c51756172656c6c205465737430819f300d06092a864886f70d01"
    "0101050003818d0030818902818100e298bfc00283b674a94fb05726c2bbd6fd2113de54da22a07591d8202534e46fdb"
    "37b1aa43e1ccc4b50bec5eecba23a8674de3206918aa2e6b54e8df53cc606a78e90f8d599b5c6dce122dc8c4d41a1fdc"
    "1cc204be0e785636f0e9eb87d7e780cd8d6853c7502313fd05e74a81c597cdefe52a2a345c4aaa7be13c3b710016ad02"
    "03010001a3533051301d0603551d0e0416041481615d98cf44f5bb0be307c0dc6425e3846f2c4e301f0603551d230418"
    "3016801481615d98cf44f5bb0be307c0dc6425e3846f2c4e300f0603551d130101ff040530030101ff300d06092a8648"
    "86f70d01010b05000381810075a35b004a3b5a9cbfa7535b27369400232ab95dc2009d4491c89b6d3d000a49fb92aaef"
    "2b85a7525f2eec582c9cc09105781a2da25d1b53d0668d5a85e1e26cee683c961ae8848e0d2e80a2a4255b2f0c8fc027"
    "7778d424ad15a1e2735d4253d8cf2220480f54420414c8ff3c58420fab4e877aa12e10908a133b8b6d7fb0d9");
const BYTE* Der() { return reinterpret_cast<const BYTE*>(kTestRootDer.data()); }
const int kDerSize = static_cast<int>(kTestRootDer.size());

// Where the machine's Root store keeps a certificate: a key named by its SHA-1 thumbprint.
// Checked and cleaned through the registry, because the process keeps its own view of the root
// store once it has been opened.
const std::wstring kRootKeys = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
const std::wstring kTestRootKey = kRootKeys + L"A0A61BA58C30E996EF251282E834243897628033";

bool InMachineRoot() { return kvtest::KeyExists(HKEY_LOCAL_MACHINE, kTestRootKey); }

TEST(Certificates, ImportIntoMachineRootOnlyCertificates) {
  kvtest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kTestRootKey);
  const BYTE garbage[] = {0x30, 0x03, 0x01, 0x02, 0x03};
  EXPECT_EQ(0, ImportCACert(garbage, sizeof(garbage)));
  EXPECT_EQ(0, ImportCACert(Der(), 0));
  EXPECT_EQ(0, ImportCACert(nullptr, 10));
  const std::wstring dir = kvtest::FreshDir(L"certfiles");
  kvtest::WriteText(dir + L"root.pem", "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
  kvtest::WriteText(dir + L"empty.der", "");
  for (const wchar_t* f : {L"root.pem", L"empty.der", L"missing.der"})
    EXPECT_EQ(0, ImportCertFile((dir + f).c_str())) << kvtest::Utf8(f);
  ASSERT_FALSE(InMachineRoot());

  EXPECT_EQ(1, ImportCACert(Der(), kDerSize));
  EXPECT_TRUE(InMachineRoot());
  EXPECT_EQ(1, ImportCACert(Der(), kDerSize)) << "already there: replaced";
  if (CertExists(kTestRootSubject)) {
    EXPECT_EQ(1, CertExists(L"Identity Root")) << "a part of the subject is enough";
  } else {
    std::printf("SKIPPED: the current-user Root store does not show the machine's Root "
                "certificates here, so CertExists cannot see the import\n");
  }
  EXPECT_EQ(0, CertExists(L"No Such Subject 7f3a9c"));
  kvtest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kTestRootKey);
  kvtest::WriteText(dir + L"root.der", kTestRootDer);
  EXPECT_EQ(1, ImportCertFile((dir + L"root.der").c_str()));
  EXPECT_TRUE(InMachineRoot());
  kvtest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kTestRootKey);
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
  const std::string der = kvtest::ReadAll(signer);
  ASSERT_FALSE(der.empty());
  ASSERT_EQ(1, ImportCertFile(signer.c_str()));
  EXPECT_EQ(1, VerifySignature((dir + L"signed.exe").c_str()));
  EXPECT_EQ(0, VerifySignature((dir + L"tampered.exe").c_str())) << "one changed byte";

  kv::UniqueCertContext cert(::CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
  ASSERT_TRUE(cert);
  BYTE hash[20] = {};
  DWORD hash_size = sizeof(hash);
  ASSERT_TRUE(::CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, hash, &hash_size));
  std::wstring key = kRootKeys;
  for (BYTE b : hash) {
    wchar_t hex[3];
    std::swprintf(hex, 3, L"%02X", b);
    key += hex;
  }
  kvtest::DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
}

}  // namespace
