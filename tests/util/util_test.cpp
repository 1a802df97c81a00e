// The toolkit's utilities against the real files, registry, shell, processes and stores of the
// test prefix: each rule that can go wrong is a row of a table.
#include <shlobj.h>

#include <cstring>
#include <functional>
#include <future>
#include <numeric>
#include <regex>

#include "tests/support/kvtest.h"
#include "util/driver_service.h"
#include "util/files.h"
#include "util/identity.h"
#include "util/shared_memory.h"
#include "util/shell.h"
#include "util/system.h"

namespace {

using kvtest::Exists, kvtest::Utf8, std::pair, std::tuple, std::wstring;
using Texts = std::vector<wstring>;
const wstring kPid = std::to_wstring(::GetCurrentProcessId()), kBin = kvtest::BinDir(),
              kSelf = kBin + L"util_tests.exe";

// A row: what it calls, what came back (parts joined), what should have. Braces make the calls in
// the order written, so a part, or a row, may build on those before it.
struct Row {
  std::string what;
  Texts got;
  wstring want;
};
void Check(const std::vector<Row>& rows) {
  for (const auto& [what, got, want] : rows)
    EXPECT_EQ(want, std::accumulate(got.begin(), got.end(), wstring())) << what;
}
wstring T(long long n) { return std::to_wstring(n); }
// A call that writes a text into a buffer of 260 characters: its result, a blank, the text.
wstring Out(const std::function<int(LPWSTR)>& call) {
  wchar_t text[MAX_PATH] = L"untouched";
  const int result = call(text);
  return T(result) + L" " + text;
}

TEST(Files, ContentsFactsVersionsAndSizes) {
  const wstring dir = kvtest::FreshDir(L"util_files"), path = dir + L"data.bin", absent = dir + L"absent";
  const std::string data("line one\r\nline two\n\0after zero", 30);
  // Binary, up to the room, cut by a second write: what is written (nothing if empty), room, read.
  for (const auto& [write, room, read] : {tuple{data, 64u, data}, {"", 10u, data.substr(0, 10)}, {"xy", 64u, "xy"}}) {
    std::string back(64, 'z');
    DWORD length = room;
    ASSERT_TRUE(write.empty() || KvWriteFile(path.c_str(), write.data(), DWORD(write.size())));
    ASSERT_EQ(1, KvReadFile(path.c_str(), back.data(), &length));
    EXPECT_EQ((pair{read + std::string(64 - read.size(), 'z'), DWORD(read.size())}), (pair{back, length}));
  }
  kvtest::WriteText(path, std::string(70000, 'q'));
  DWORD length = 8;
  Check(
      {{"module folder", {Out([](LPWSTR t) { return GetCurPathEx(L"no.dll", t), 1; })}, L"1 " + kBin},
       {"absent",
        {T(KvReadFile(absent.c_str(), &length, &length)), T(KvWriteFile((absent + L"\\f").c_str(), "", 0))},
        L"00"},
       {"isDir", {T(isDir(dir.c_str())), T(isDir(path.c_str())), T(isDir(absent.c_str())), T(isDir(nullptr))}, L"1000"},
       {"FileSize", {T(FileSize(path.c_str())), T(FileSize(absent.c_str())), T(FileSize(nullptr))}, L"7000000"},
       {"version",
        {Out([](LPWSTR t) { return GetFileVer((kBin + L"kvtesthelper.exe").c_str(), t); }), L",",
         Out([](LPWSTR t) { return GetFileVer(kSelf.c_str(), t); })},
        L"1 3.14.15.65000,0 "}});
  for (const auto& [a, b, newer] : {tuple{L"1.2.10", L"1.2.9", 1},
                                    {L"1.2.9", L"1.2.10", -1},
                                    {L"1.2", L"1.2.0.0", 0},
                                    {L"2.a", L"2.0", 0},
                                    {L"1.0", L"", -2},
                                    {L"", L"1.0", -2},
                                    {nullptr, L"1", -2},
                                    {L"3.0.0.1", L"3.0.0.1.9", 0},
                                    {L"3.0.0.2", L"3.0.0.1.9", 1},
                                    {L"10", L"9.9.9.9", 1},
                                    {L" 7.1", L"7.1", 0},
                                    {L"-1.0", L"0.0", -1},
                                    {L"1..2", L"1.0.2", 0},
                                    {L"4.0.0.0.1", L"4", 0},
                                    {L"0.0.0.1", L"0", 1}})
    EXPECT_EQ(newer, CompVersion(a, b)) << (a ? Utf8(a) : "null") << " vs " << Utf8(b);
  for (const auto& [size, text] : {pair{0LL, L"0 B"},
                                   {1024LL, L"1024 B"},
                                   {1025LL, L"1.00 KB"},
                                   {1536LL, L"1.50 KB"},
                                   {1048576LL, L"1024.00 KB"},
                                   {1048577LL, L"1.00 MB"},
                                   {1073741824LL, L"1024.00 MB"},
                                   {1073741825LL, L"1.00 GB"},
                                   {5LL * 1073741824 + 536870912, L"5.50 GB"},
                                   {-5LL, L"-5 B"},
                                   {-5000000000LL, L"-705032704 B"}})
    EXPECT_EQ(L"0 " + wstring(text), Out([&](LPWSTR t) { return IntToStrSize(size, t), 0; })) << size;
  // Beyond the 64-bit range a size stops at the range's end, as the number itself does.
  for (const auto& [size, text] : {pair{3221225472LL, L"3 GB"},
                                   {20480LL, L"20 KB"},
                                   {2097152LL, L"2 mb"},
                                   {0LL, L"MB 2"},
                                   {0LL, L"500 B"},
                                   {0LL, L"5GB"},
                                   {1073741824LL, L"1.5 GB"},
                                   {0LL, L""},
                                   {-1024LL, L"-1 KB"},
                                   {1048576LL, L"1 MBK"},
                                   {1073741824LL, L"1 KMG"},
                                   {INT64_MAX, L"9000000000 GB"},
                                   {INT64_MIN, L"-9000000000 GB"},
                                   {INT64_MAX, L"9007199254740992 KB"},
                                   {INT64_MAX, L"99999999999999999999 K"},
                                   {9223372035781033984LL, L"8589934591 GB"},
                                   {0LL, nullptr}})
    EXPECT_EQ(size, StrToIntSize(text)) << (text ? Utf8(text) : "null");
}

// Rows over uninstall entries of this process's own, their display names after its prefix: each
// may add one, then looks a prefix up.
struct Entry {
  HKEY root;
  REGSAM view;
  const wchar_t *name, *version;
};  // no root: nothing added
struct Lookup {
  Entry add;
  std::string what;
  wstring prefix, want;
};
void LookUp(const std::vector<Lookup>& rows) {
  const wstring own = L"KvTest " + kPid + L" ",
                list = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\kv" + kPid;
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& [add, what, prefix, want] = rows[i];
    if (add.root) kvtest::SetRegText(add.root, list + T(i), L"DisplayName", own + add.name, add.view);
    if (add.version) kvtest::SetRegText(add.root, list + T(i), L"DisplayVersion", add.version, add.view);
    Check({{what,
            {T(CheckInstalled((own + prefix).c_str())),
             Out([&](LPWSTR t) { return GetSoftVer((own + prefix).c_str(), t); })},
            want}});
  }
  for (size_t i = 0; i < rows.size(); ++i) kvtest::DeleteRegTree(rows[i].add.root, list + T(i), rows[i].add.view);
}

// The machine's list in the default view, then the user's.
TEST(Files, InstalledPrefixesVersionsAndOrder) {
  const HKEY user = HKEY_CURRENT_USER, machine = HKEY_LOCAL_MACHINE;
  const wstring none = L"00 untouched", nines(60, L'9'), long_name = L"Long " + wstring(150, L'n');
  LookUp({{{user, 0, L"Product 栎禾 Suite", L"2.5.1"}, "prefix", L"Product", L"11 2.5.1"},
          {{}, "whole", L"Product 栎禾 Suite", L"11 2.5.1"},
          {{}, "case", L"product", none},
          {{}, "longer", L"Product 栎禾 Suite 2", none},
          {{machine, 0, L"Bare", nullptr}, "no version", L"Bare", L"11 "},
          // 150 characters of name do not fit the 300 bytes read, nor 60 of version the 50.
          {{user, 0, long_name.c_str(), L"1.0"}, "long name", L"Long", none},
          {{user, 0, L"Wordy", nines.c_str()}, "long version", L"Wordy", L"11 "},
          {{user, 0, L"Both", L"user"}, "user", L"Both", L"11 user"},
          {{machine, 0, L"Both", L"machine"}, "machine first", L"Both", L"11 machine"}});
}

// Under WOW64 the machine's 64-bit list comes last. Runs in the 64-bit prefix only.
TEST(Wow64View, MachineList64BitLast) {
  ASSERT_EQ(1, isWow64()) << "a 32-bit process under WOW64";
  LookUp({{{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"Sixty", L"64"}, "64-bit view", L"Sixty", L"11 64"},
          {{HKEY_CURRENT_USER, 0, L"Sixty", L"user"}, "user first", L"Sixty", L"11 user"},
          {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"Sixty", L"32"}, "32-bit first", L"Sixty", L"11 32"}});
}

TEST(CodePage, OneOfTheThreeMatches) {
  const UINT acp = ::GetACP();  // the product's 936, or 1252 or 950 in the re-runs: first, that it is the one meant
  EXPECT_EQ((std::vector<UINT>{kvtest::ExpectedCodePage(), acp == 936, acp == 950, acp == 1252}),
            (std::vector<UINT>{acp, UINT(isSimplified()), UINT(isTraditional()), UINT(isEnglish())}));
}

TEST(System, NamesPrivilegesUacAndDrivers) {
  constexpr DWORD nt = VER_PLATFORM_WIN32_NT, w9x = VER_PLATFORM_WIN32_WINDOWS, s = VER_PLATFORM_WIN32s;
  for (const auto& [platform, major, minor, name] : {tuple{nt, 5, 0, L"Win2000"},
                                                     {nt, 5, 2, L"XP"},
                                                     {nt, 6, 0, L"Vista"},
                                                     {nt, 6, 1, L"Win7"},
                                                     {nt, 6, 3, L"Win8"},
                                                     {nt, 7, 2, L"Win8"},
                                                     {nt, 10, 0, L"XP"},
                                                     {nt, 4, 0, L"XP"},
                                                     {w9x, 4, 0, L"9x"},
                                                     {w9x, 4, 89, L"9x"},
                                                     {w9x, 4, 90, L"Me"},
                                                     {w9x, 5, 0, L"XP"},
                                                     {w9x, 3, 95, L"XP"},
                                                     {s, 4, 0, L"XP"}})
    EXPECT_STREQ(name, kv::OsNameFor(platform, major, minor)) << platform << " " << major << "." << minor;
  PRIVILEGE_SET set = {1, 0, {}};
  kv::UniqueHandleKernel token;
  ::LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, &set.Privilege[0].Luid);
  ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put());
  auto enabled = [&](BOOL held = -1) { return T(::PrivilegeCheck(token.get(), &set, &held) ? held : -1); };
  // EnableLUA is one value of the machine: the test puts back what it found.
  const wchar_t* policies = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
  DWORD type = 0, old = 0, size = sizeof(old);
  const bool had = !::RegGetValueW(HKEY_LOCAL_MACHINE, policies, L"EnableLUA", RRF_RT_ANY, &type, &old, &size);
  auto uac = [&](DWORD kind, DWORD value) {  // REG_NONE: no value at all
    kvtest::SetRegRaw(HKEY_LOCAL_MACHINE, policies, L"EnableLUA", kind, &value, sizeof(value));
    return kind != REG_NONE || !::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, policies, L"EnableLUA") ? T(isEnableUAC())
                                                                                                 : L"-";
  };
  auto load = [name = L"kvtestdrv" + kPid](bool on) {
    return T(on ? LoadDrv(name.c_str(), L"C:\\no.sys") : UnLoadDrv(name.c_str()));
  };
  // Switched off, a privilege leaves the token for good: switching it on cannot bring it back.
  Check({{"privilege",
          {T(SetPrivilege(SE_SYSTEMTIME_NAME, 1)), enabled(), T(SetPrivilege(SE_SYSTEMTIME_NAME, 0)), enabled(),
           T(SetPrivilege(SE_SYSTEMTIME_NAME, 1)), enabled(), T(SetPrivilege(L"SeNo", 1))},
          L"1110100"},
         {"EnableLUA",
          {uac(REG_DWORD, 1), uac(REG_DWORD, 0), uac(REG_DWORD, 2), uac(REG_BINARY, 1), uac(REG_NONE, 1)},
          L"10000"},
         // No driver can start here, its file being absent; the second load finds the service made.
         {"drivers", {load(false), load(true), load(true), load(false), load(false)}, L"00010"}});
  if (had) kvtest::SetRegRaw(HKEY_LOCAL_MACHINE, policies, L"EnableLUA", type, &old, size);
}

wstring g_copydata;  // what WM_COPYDATA brought to the window of the name: identifier and text
LRESULT CALLBACK InstanceWindow(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_COPYDATA) return ::DefWindowProcW(window, message, wparam, lparam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
  g_copydata += T(data->dwData) + L" " + wstring(static_cast<const wchar_t*>(data->lpData), data->cbData / 2);
  return TRUE;
}
// DoRun and OpenUrl start a copy of the helper named args.exe, which writes its command line to
// args.txt; while args.gate lies beside it, it waits, so that a start without waiting shows.
TEST(System, StartsAndSingleInstance) {
  const wchar_t* browser_key = L"http\\shell\\open\\command";
  const wstring browser = kvtest::RegText(HKEY_CLASSES_ROOT, browser_key, nullptr),
                url = L"http://example.invalid/?x=1";
  for (int n = 0; const auto& [by_url, wait] : {pair{false, 1}, {false, 0}, {true, 1}, {true, 0}}) {
    const wstring dir = kvtest::FreshDir(L"util_start" + T(++n)), exe = dir + L"args.exe",
                  args = by_url ? url : L"-a 卸载";
    ASSERT_TRUE(kvtest::CopyProgram(L"kvtesthelper.exe", exe));
    if (!wait) kvtest::WriteText(dir + L"args.gate", "");
    if (by_url)
      kvtest::SetRegText(HKEY_CLASSES_ROOT, browser_key, L"", L"\"" + exe + L"\" -nohome \"%1\""),
          OpenUrl(url.c_str(), wait);
    else
      EXPECT_EQ(1, DoRun(exe.c_str(), args.c_str(), wait, SW_HIDE));
    EXPECT_EQ(wait == 1, Exists(dir + L"args.txt")) << n;
    ::DeleteFileW((dir + L"args.gate").c_str());
    const std::string want = Utf8(L"\"" + exe + L"\" " + args);
    EXPECT_TRUE(kvtest::PollUntil([&] { return kvtest::ReadAll(dir + L"args.txt") == want; }, 30000)) << n;
  }
  kvtest::SetRegText(HKEY_CLASSES_ROOT, browser_key, L"", browser);
  // The first CheckOneInstance keeps its mutex; a later one finds the window of the name, restores
  // it and sends it the message, with its terminator, when that is longer than one character.
  const wstring name = L"kvtest instance " + kPid;
  const WNDCLASSW wc = {0, InstanceWindow, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, L"KvTestInstance"};
  auto check = [&](const wchar_t* message) { return T(CheckOneInstance(name.c_str(), message)); };
  Check({{"first, then no window of the name", {check(nullptr), check(L"hi")}, L"11"}});
  std::unique_ptr<HWND__, decltype(&::DestroyWindow)> window(
      ::CreateWindowExW(0, MAKEINTATOM(::RegisterClassW(&wc)), name.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                        nullptr, nullptr, nullptr, nullptr),
      ::DestroyWindow);
  ::ShowWindow(window.get(), SW_SHOWMINIMIZED);
  ASSERT_TRUE(::IsIconic(window.get())) << "a minimised window needs a display";
  Check({{"too short to send", {check(L"x"), T(g_copydata.size())}, L"00"},
         {"told",
          {check(L"open 卸载 now"), T(::IsIconic(window.get())), g_copydata},
          wstring(L"000 open 卸载 now\0", 16)}});
}

// "KV", the tick count (signed, 8 digits or more), two numbers of 5 digits: longer than 20 characters
// after some 28 hours of uptime. A stored one is reused only at exactly 20; any other gives way.
TEST(Identity, UidUrlsRegistrationsAndCertificates) {
  const wstring vendor = L"SOFTWARE\\Quarell";
  wstring uid(kUidRoom + 4, L'#');
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, vendor.c_str(), L"UID");
  const DWORD before = ::GetTickCount();
  CreateUID(uid.data(), 0);
  const DWORD after = ::GetTickCount();
  std::wsmatch m;
  const wstring text = uid.c_str();
  ASSERT_TRUE(std::regex_match(text, m, std::wregex(L"KV(-?[0-9]{8,10})[0-9]{10}"))) << Utf8(text);
  EXPECT_LE(DWORD(std::stoll(m[1].str())) - before, after - before) << "made at the tick count";
  EXPECT_EQ((pair{wstring(4, L'#'), wstring()}),
            (pair{uid.substr(kUidRoom), kvtest::RegText(HKEY_CURRENT_USER, vendor, L"UID")}))
      << "within its room; persist 0 stores nothing";
  for (const auto& [value, kept] : {pair{L"ABCDEFGHIJKLMNOPQRST", true},
                                    {L"KV0000000100001000X", false},
                                    {L"KV000000010000100001X", false},
                                    {L"KV0000000100001000010000100001000010000", false},
                                    {nullptr, false}}) {
    kvtest::DeleteRegTree(HKEY_CURRENT_USER, vendor);  // with no value, the key itself is made
    if (value) kvtest::SetRegText(HKEY_CURRENT_USER, vendor, L"UID", value);
    CreateUID(uid.data(), 1);
    EXPECT_EQ((pair{kept, wstring(uid.c_str())}),
              (pair{value && value == wstring(uid.c_str()), kvtest::RegText(HKEY_CURRENT_USER, vendor, L"UID")}));
  }
  // 341 blanks encode to 1023 characters: with the terminator, the encoder's limit.
  const wstring blanks(341, L' '), encoded = std::regex_replace(blanks, std::wregex(L" "), L"%20");
  for (const auto& [in, out, result] :
       {tuple{wstring(L"Brix_Uninstall"), wstring(L"Brix_Uninstall"), 1},
        {L"a b&c=d", L"a%20b%26c%3dd", 1},
        {L"100%", L"100%", 1},
        {L"AZaz09!'()*-./:_~", L"AZaz09!'()*-./:_~", 1},
        {L" \"#$&+,;<=>?@[\\]^`{|}", L"%20%22%23%24%26%2b%2c%3b%3c%3d%3e%3f%40%5b%5c%5d%5e%60%7b%7c%7d", 1},
        {L"\x01\t\x1f\x7f", L"%01%09%1f%7f", 1},
        {L"中\u00e9", L"%e4%b8%ad%c3%a9", 1},
        {L"", L"", 1},
        {L"栎禾软件", L"%e6%a0%8e%e7%a6%be%e8%bd%af%e4%bb%b6", 1},
        {blanks, encoded, 1},
        {blanks + L"a", blanks + L"a", 0}}) {
    std::vector<wchar_t> buffer(kUrlEncodeLimit + 8, L'\0');
    std::copy(in.begin(), in.end(), buffer.begin());
    EXPECT_EQ((pair{result, out}), (pair{URLEncode(buffer.data()), wstring(buffer.data())})) << Utf8(in);
  }
  EXPECT_EQ(0, URLEncode(nullptr));
  auto reg = [](const wstring& key, const wchar_t* name = nullptr) {
    return kvtest::RegText(HKEY_CLASSES_ROOT, key, name);
  };
  // A program path with a blank is quoted: unquoted, the shell would start what its first word names.
  for (const auto& [program, quote] : {pair{L"handler\\app.exe", L""}, {L"my handler\\app.exe", L"\""}}) {
    const wstring path = (RegProtocol(L"kvtestproto", program), kBin + program);
    EXPECT_EQ((Texts{L"kvtestprotoProtocol", path, path + L",0", quote + path + quote + L" \"%1\""}),
              (Texts{reg(L"kvtestproto"), reg(L"kvtestproto", L"URL Protocol"), reg(L"kvtestproto\\DefaultIcon"),
                     reg(L"kvtestproto\\shell\\open\\command")}));
  }
  // A file type once: the same type again (in any case) changes nothing, another takes over.
  for (const auto& [program, type, owner, command] :
       {tuple{L"C:\\Kv App\\a.exe", L"KvTest.Doc", wstring(L"KvTest.Doc"), L"\"C:\\Kv App\\a.exe\" \"%1\""},
        {L"C:\\b.exe", L"kvtest.doc", L"KvTest.Doc", L"\"C:\\Kv App\\a.exe\" \"%1\""},
        {L"C:\\b.exe", L"KvTest.Other", L"KvTest.Other", L"\"C:\\b.exe\" \"%1\""}}) {
    RegFileRelation(L".kvtestext", program, type, (wstring(type) + L",1").c_str(), type);
    EXPECT_EQ(
        (Texts{owner, owner, owner + L",1", command}),
        (Texts{reg(L".kvtestext"), reg(owner), reg(owner + L"\\DefaultIcon"), reg(owner + L"\\Shell\\Open\\Command")}));
  }
  for (const wchar_t* key : {L"kvtestproto", L".kvtestext", L"KvTest.Doc", L"KvTest.Other"})
    kvtest::DeleteRegTree(HKEY_CLASSES_ROOT, key);
  // The signature fixture: the helper signed with a throw-away key, a copy with one byte changed,
  // and the signer's certificate, which the import makes trusted as an installer would.
  const wstring fixture = L"C:\\kvfixtures_signature\\";
  const std::string der = kvtest::ReadAll(fixture + L"signer.der");
  if (der.empty()) GTEST_SKIP() << "no signature fixture: openssl or osslsigncode missing";
  // The machine's Root store keeps a certificate under a key named by its thumbprint.
  const wstring root = L"SOFTWARE\\Microsoft\\SystemCertificates\\ROOT\\Certificates\\" +
                       kvtest::Wide(kvtest::ReadAll(fixture + L"signer.sha1"));
  Check(
      {{"import",
        {T(ImportCertFile((fixture + L"signer.der").c_str())), T(kvtest::KeyExists(HKEY_LOCAL_MACHINE, root))},
        L"11"},
       {"there already: replaced", {T(ImportCACert(reinterpret_cast<const BYTE*>(der.data()), int(der.size())))}, L"1"},
       {"signed, changed, unsigned",
        {T(VerifySignature((fixture + L"signed.exe").c_str())), T(VerifySignature((fixture + L"tampered.exe").c_str())),
         T(VerifySignature((kBin + L"kvtesthelper.exe").c_str()))},
        L"100"},
       {"no such subject", {T(CertExists(L"No Such Subject 7f3a9c"))}, L"0"}});
  kvtest::DeleteRegTree(HKEY_LOCAL_MACHINE, root);
}

wstring Csidl(int csidl) {
  wchar_t path[MAX_PATH] = {};
  return ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE), path;
}
TEST(Shell, FoldersPathsAndShortcuts) {
  kv::ComInit com;
  const wstring dir = kvtest::FreshDir(L"util_shell"), folder = dir.substr(0, dir.size() - 1), self = dir + L"Self.lnk";
  const wstring quick = Csidl(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch",
                absent = dir + L"absent.lnk";
  kvtest::WriteText(dir + L"f", "my notes");
  auto tree = [&](const wchar_t* path, const wchar_t* made, const wchar_t* absent) {
    return Texts{T(CreateDirTree((dir + path).c_str())), T(isDir((dir + made).c_str())), T(Exists(dir + absent))};
  };
  auto target = [&](const wstring& link) { return Out([&](LPWSTR t) { return int(LnkToRealPath(link.c_str(), t)); }); };
  auto icon = [&](const wstring& path, int index = -1) {
    return Texts{Out([&](LPWSTR t) { return GetShortcutIcon(path.c_str(), t, &index); }), L",", T(index)};
  };
  // Only a link is changed: any other file, or none, stays as it was.
  auto set_icon = [&](const wstring& path, const std::string& before) {
    return Texts{T(SetShortcutIcon(path.c_str(), L"C:\\o.ico")), T(before == kvtest::ReadAll(path)), T(Exists(path))};
  };
  auto extract = [](const wchar_t* path) {
    return Out([&](LPWSTR t) { return ExtractPath(std::wcscpy(t, path)), 1; });
  };
  ASSERT_NE(Csidl(CSIDL_DESKTOPDIRECTORY), Csidl(CSIDL_COMMON_DESKTOPDIRECTORY))
      << "the rows must tell the desktops apart";
  Check(
      {{"programs", {Out(GetProgramsPath)}, L"1 " + Csidl(CSIDL_PROGRAMS)},
       {"menu", {Out(GetStartMenuPath)}, L"1 " + Csidl(CSIDL_STARTMENU)},
       {"desktop", {Out(GetDesktopPath)}, L"1 " + Csidl(CSIDL_COMMON_DESKTOPDIRECTORY)},
       {"program files", {Out(GetProgramFilePath)}, L"1 " + Csidl(CSIDL_PROGRAM_FILES)},
       {"quick launch", {Out([](LPWSTR t) { return GetQuickLaunchPath(t, 0); })}, L"1 " + quick},
       {"pinned", {Out([](LPWSTR t) { return GetQuickLaunchPath(t, 1); })}, L"1 " + quick + L"\\User Pinned\\TaskBar"},
       // Every folder up to the last backslash: a file name follows it; a file in the way stops it.
       {"tree", tree(L"a\\b\\c\\", L"a\\b\\c", L"-"), L"110"},
       {"file", tree(L"x\\\\y\\f.txt", L"x\\y", L"x\\y\\f.txt"), L"110"},
       {"file in the way", tree(L"f\\g\\h.txt", L"", L"f\\g"), L"110"},
       {"folder of a command line",
        {extract(L"\"C:\\P F\\p.exe\" /u"), extract(L"D:\\a\\b.txt")},
        L"1 C:\\P F\\1 D:\\a\\"},
       {"no folder in it", {extract(L"p.exe"), extract(L"\\p.exe"), (ExtractPath(nullptr), L"")}, L"1 p.exe1 \\p.exe"},
       {"link",
        {T(CreateShortcut(folder.c_str(), L"P", L"C:\\P\\p.exe", L"C:\\p.ico", 0, nullptr, 1)), target(dir + L"P.lnk")},
        L"10 C:\\P\\p.exe"},
       {"to the program",
        {T(CreateShortcut(folder.c_str(), L"Self", nullptr, nullptr, 0, nullptr, 1)), target(self)},
        L"10 " + kSelf},
       {"no folder", {T(CreateShortcut(nullptr, L"x", L"C:\\x.exe", nullptr, 0, nullptr, 1))}, L"0"},
       {"icon", icon(dir + L"P.lnk"), L"1 C:\\p.ico,0"},
       {"target for icon", icon(self), L"1 " + kSelf + L",0"},
       {"set icon", set_icon(self, kvtest::ReadAll(self)), L"101"},
       {"icon set", icon(self), L"1 C:\\o.ico,0"},
       {"not a link", set_icon(dir + L"f", "my notes"), L"011"},
       {"no link", set_icon(absent, ""), L"010"},
       // LnkToRealPath sets up COM itself: it works on a thread that never did.
       {"bare thread", {std::async(std::launch::async, [&] { return target(self); }).get()}, L"0 " + kSelf},
       // The shell rebuilds its icon cache when the icon size changes: the nudge puts it back, as text.
       {"icon size",
        {(RefreshIconCache(),
          kvtest::RegText(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\WindowMetrics", L"Shell Icon Size"))},
        T(::GetSystemMetrics(SM_CXICON))}});
}

// Copies within a block of two whole pages, the size every system reports exactly.
TEST(ShareMem, MissingLivingAndEdges) {
  const wstring name = L"kvtest_shm_" + kPid;
  const wchar_t* n = name.c_str();
  constexpr int kSize = 8192;
  const BYTE bytes[] = {1, 2, 3, 0, 5};
  BYTE out[7] = {}, edge[5] = {};
  wchar_t text[12] = L"keep";
  kv::UniqueHandleKernel block;
  // No block yet: nothing is copied, and the buffers keep what they held.
  for (const auto& [want, got] :
       std::vector<pair<int, int>>{{0, isExistsShareMem(n)},
                                   {0, GetShareMemSize(n)},
                                   {0, WriteShareMem(n, L"a", 0)},
                                   {0, ReadShareMem(n, text)},
                                   {0, WriteShareMem2(n, text, 4, 0)},
                                   {0, ReadShareMem2(n, text, 4, 0)},
                                   {0, ReadShareMemN(n, text, 8)},
                                   {0, isExistsShareMem(L"")},
                                   {1, !CreateShareMem(n, 0) && text == wstring(L"keep")},
                                   {1, (block.reset(CreateShareMem(n, kSize)), isExistsShareMem(n))},
                                   {kSize, GetShareMemSize(n)},
                                   {1, WriteShareMem(n, L"abcdefghij", 0)},
                                   {1, WriteShareMem(n, L"XY", 5)},
                                   {1, ReadShareMem2(n, text, 22, 0)},
                                   {1, WriteShareMem2(n, bytes, 5, 100)},
                                   {1, ReadShareMem2(n, out, 7, 99)},
                                   {1, WriteShareMem2(n, bytes, 4, kSize - 4)},
                                   {0, WriteShareMem2(n, bytes, 4, kSize - 3)},
                                   {0, WriteShareMem2(n, bytes, 4, -1)},
                                   {0, WriteShareMem2(n, bytes, -4, 0)},
                                   {1, ReadShareMem2(n, edge, 4, kSize - 4)},
                                   {0, ReadShareMem2(n, edge, 5, kSize - 4)},
                                   {0, ReadShareMem2(n, edge, 1, kSize)},
                                   {1, WriteShareMem(n, L"abc", kSize / 2 - 4)},
                                   {0, WriteShareMem(n, L"abc", kSize / 2 - 3)},
                                   {0, WriteShareMem(n, L"abc", -1)},
                                   {1, wstring(text, 10) == wstring(L"abcdeXY\0ij", 10)},
                                   {0, std::memcmp("\0\1\2\3\0\5\0", out, 7)}})
    EXPECT_EQ(want, got);
  // A text as long as the block, unterminated: a read keeps to the room given, or to the block's
  // end less the terminator's unit; the plain read (room -1 here) to its callers' 260 characters.
  const std::vector<wchar_t> full(kSize / 2, L'A');
  ASSERT_EQ(1, WriteShareMem2(n, full.data(), kSize, 0));
  for (const auto& [room, units] : {pair{0, 0}, {1, 0}, {5, 4}, {kSize / 2 + 8, kSize / 2 - 1}, {-1, MAX_PATH - 1}}) {
    wstring got(kSize / 2 + 16, L'z');
    EXPECT_EQ(room ? 1 : 0, room < 0 ? ReadShareMem(n, got.data()) : ReadShareMemN(n, got.data(), room)) << room;
    EXPECT_EQ(wstring(units, L'A') + wstring(room ? 1 : 0, L'\0') + wstring(got.size() - units - !!room, L'z'), got);
  }
}

}  // namespace
