// The utilities against the test prefix's files, registry, shell and stores: a row for each rule.
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <numeric>
#include <regex>

#include "tests/support/kvtest.h"
#include "util/files.h"
#include "util/identity.h"
#include "util/shared_memory.h"
#include "util/shell.h"
#include "util/system.h"

namespace {

using std::pair, std::wstring;
const wstring kPid = std::to_wstring(::GetCurrentProcessId()), kBin = kvtest::BinDir();

// The parts of a row joined, called in the order written: a part may build on those before it.
wstring J(std::initializer_list<wstring> parts) { return std::accumulate(parts.begin(), parts.end(), wstring()); }
wstring T(long long n) { return std::to_wstring(n); }
// A call's result and text in a buffer of 260 characters, and a mark when it wrote past them.
template <typename Call>
wstring Out(Call call) {
  wchar_t text[MAX_PATH + 4] = L"untouched";
  std::fill(text + MAX_PATH, text + MAX_PATH + 4, L'#');
  const int result = call(text);
  return T(result) + L" " + wstring(text, std::find(text, text + MAX_PATH, L'\0')) +
         (wstring(text + MAX_PATH, 4) == L"####" ? L"|" : L" (past the room)|");
}

TEST(Files, ContentsFactsVersionsAndSizes) {
  const wstring dir = kvtest::FreshDir(L"util_files"), path = dir + L"data.bin", absent = dir + L"absent";
  const std::string data("line\r\n\0zero", 11);
  DWORD room = 8;
  std::string back(10, 'z');
  auto newer = [](const wchar_t* a, const wchar_t* b) { return T(CompVersion(a, b)) + L" "; };
  auto text = [](long long size) { return Out([&](LPWSTR t) { return IntToStrSize(size, t), 0; }); };
  auto size = [](const wchar_t* text) { return T(StrToIntSize(text)) + L" "; };
  auto version = [](const wstring& file) { return Out([&](LPWSTR t) { return GetFileVer(file.c_str(), t); }); };
  EXPECT_EQ(L"1181", J({T(KvWriteFile(path.c_str(), data.data(), 11)), T(KvReadFile(path.c_str(), back.data(), &room)),
                        T(room), T(back == data.substr(0, 8) + "zz")}));
  EXPECT_EQ(L"1000110", J({T(isDir(dir.c_str())), T(isDir(path.c_str())), T(isDir(absent.c_str())), T(isDir(nullptr)),
                           T(FileSize(path.c_str())), T(FileSize(absent.c_str()))}));
  EXPECT_EQ(L"1 3.14.15.65000|0 |", J({version(kBin + L"kvtesthelper.exe"), version(kBin + L"util_tests.exe")}));
  // Numbers, not letters; a missing field is 0, a fifth one does not count; no text, no version.
  EXPECT_EQ(L"1 0 0 0 -1 -2 -2 ",
            J({newer(L"1.2.10", L"1.2.9"), newer(L"1.2", L"1.2.0.0"), newer(L"2.a", L"2.0"),
               newer(L"3.0.0.1", L"3.0.0.1.9"), newer(L"-1.0", L"0.0"), newer(L"1.0", L""), newer(nullptr, L"1")}));
  EXPECT_EQ(L"0 1024 B|0 1.00 KB|0 1024.00 KB|0 1.00 GB|0 -705032704 B|",
            J({text(1024), text(1025), text(1048576), text(1073741825), text(-5000000000LL)}));
  // Beyond the 64-bit range a size stops at the range's end, as the number itself does.
  EXPECT_EQ(L"2097152 0 0 0 1073741824 1073741824 -9223372036854775808 9223372036854775807 9223372035781033984 ",
            J({size(L"2 mb"), size(L"MB 2"), size(L"500 B"), size(L"5GB"), size(L"1.5 GB"), size(L"1 KMG"),
               size(L"-9000000000 GB"), size(L"99999999999999999999 K"), size(L"8589934591 GB")}));
}

// Uninstall entries of this process's own, named after its prefix; all gone at the end.
struct Installed {
  const wstring own = L"KvTest " + kPid + L" ",
                list = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\kv" + kPid;
  int made = 0;
  wstring Add(HKEY root, REGSAM view, const wstring& name, const wchar_t* version) {
    kvtest::SetRegText(root, list + T(++made), L"DisplayName", own + name, view);
    return version && kvtest::SetRegText(root, list + T(made), L"DisplayVersion", version, view), L"";
  }
  wstring Find(const wstring& prefix) {
    return T(CheckInstalled((own + prefix).c_str())) +
           Out([&](LPWSTR t) { return GetSoftVer((own + prefix).c_str(), t); });
  }
  ~Installed() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
      for (int i = 1; i <= made; ++i)
        kvtest::DeleteRegTree(root, list + T(i), KEY_WOW64_64KEY), kvtest::DeleteRegTree(root, list + T(i));
  }
};

// The machine's list in the default view, then the user's, then under WOW64 those of the 64-bit
// view; names of 150 characters do not fit the 300 bytes read, nor versions of 60 the 50.
TEST(Installed, PrefixesVersionsAndViews) {
  const HKEY user = HKEY_CURRENT_USER, machine = HKEY_LOCAL_MACHINE;
  Installed in;
  EXPECT_EQ(L"11 2.5.1|00 untouched|00 untouched|",
            J({in.Add(user, 0, L"Product 栎禾 Suite", L"2.5.1"), in.Find(L"Product"), in.Find(L"product"),
               in.Find(L"Product 栎禾 Suite 2")}));
  EXPECT_EQ(L"00 untouched|11 |11 |", J({in.Add(user, 0, L"Long " + wstring(150, L'n'), L"1.0"), in.Find(L"Long"),
                                         in.Add(user, 0, L"Wordy", wstring(60, L'9').c_str()), in.Find(L"Wordy"),
                                         in.Add(machine, 0, L"Bare", nullptr), in.Find(L"Bare")}));
  EXPECT_EQ(L"11 user|11 machine|", J({in.Add(user, 0, L"Both", L"user"), in.Find(L"Both"),
                                       in.Add(machine, 0, L"Both", L"machine"), in.Find(L"Both")}));
  ASSERT_EQ(kvtest::ExpectedWow64(), isWow64());
  if (!isWow64()) return;
  EXPECT_EQ(L"11 64|11 user|11 32|",
            J({in.Add(machine, KEY_WOW64_64KEY, L"Sixty", L"64"), in.Find(L"Sixty"), in.Add(user, 0, L"Sixty", L"user"),
               in.Find(L"Sixty"), in.Add(machine, KEY_WOW64_32KEY, L"Sixty", L"32"), in.Find(L"Sixty")}));
}

TEST(CodePage, OneOfTheThreeMatches) {
  const UINT acp = ::GetACP();  // the product's 936, or 1252 or 950 in the re-runs: first, that it is the one meant
  EXPECT_EQ((std::vector<UINT>{kvtest::ExpectedCodePage(), acp == 936, acp == 950, acp == 1252}),
            (std::vector<UINT>{acp, UINT(isSimplified()), UINT(isTraditional()), UINT(isEnglish())}));
}

wstring g_copydata;  // what WM_COPYDATA brought to the window of the name: identifier and text
LRESULT CALLBACK InstanceWindow(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_COPYDATA) return ::DefWindowProcW(window, message, wparam, lparam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
  g_copydata += T(data->dwData) + L" " + wstring(static_cast<const wchar_t*>(data->lpData), data->cbData / 2);
  return TRUE;
}
// The first CheckOneInstance keeps its mutex; a later one finds the window of the name, restores it
// and sends it the message, with its terminator, when that is longer than one character.
TEST(System, SingleInstance) {
  const wstring name = L"kvtest instance " + kPid;
  const WNDCLASSW wc = {0, InstanceWindow, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, L"KvTestInstance"};
  auto check = [&](const wchar_t* message) { return T(CheckOneInstance(name.c_str(), message)); };
  EXPECT_EQ(L"11", J({check(nullptr), check(L"hi")})) << "first, then no window of the name";
  kv::UniqueHandle<kv::NullTraits<HWND, ::DestroyWindow>> window(::CreateWindowExW(
      0, MAKEINTATOM(::RegisterClassW(&wc)), name.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, 0, 0, 0, 0));
  ::ShowWindow(window.get(), SW_SHOWMINIMIZED);
  ASSERT_TRUE(::IsIconic(window.get())) << "a minimised window needs a display";
  EXPECT_EQ(wstring(L"00000 open 卸载 now\0", 18),
            J({check(L"x"), T(g_copydata.size()), check(L"open 卸载 now"), T(::IsIconic(window.get())), g_copydata}));
}

// "KV", the tick count (8 digits or more, signed), two numbers of 5 digits: 23 characters past 24.9
// days of uptime (the row util_uptime). A stored one is reused only at exactly 20.
TEST(Identity, UidOfTheTickCountAndStored) {
  const wstring vendor = L"SOFTWARE\\Quarell";
  wstring uid(kUidRoom + 4, L'#');
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, vendor.c_str(), L"UID");
  const DWORD before = ::GetTickCount();
  CreateUID(uid.data(), 0);
  const DWORD after = ::GetTickCount();
  ASSERT_TRUE(!std::getenv("KV_LONG_UPTIME") || before > 0x80000000u) << "the row meant a negative tick count";
  std::wsmatch m;
  const wstring text = uid.c_str();
  ASSERT_TRUE(std::regex_match(text, m, std::wregex(L"KV(-?[0-9]{8,10})[0-9]{10}"))) << kvtest::Utf8(text);
  EXPECT_LE(DWORD(std::stoll(m[1].str())) - before, after - before) << "made at the tick count";
  EXPECT_EQ((pair{wstring(4, L'#'), wstring()}),
            (pair{uid.substr(kUidRoom), kvtest::RegText(HKEY_CURRENT_USER, vendor, L"UID")}))
      << "within its room; persist 0 stores nothing";
  for (const wchar_t* value : {L"ABCDEFGHIJKLMNOPQRST", L"KV0000000100001000X", L"KV000000010000100001X", L""}) {
    kvtest::DeleteRegTree(HKEY_CURRENT_USER, vendor);  // with no value, the key itself is made
    if (*value) kvtest::SetRegText(HKEY_CURRENT_USER, vendor, L"UID", value);
    CreateUID(uid.data(), 1);
    EXPECT_EQ((pair{std::wcslen(value) == 20, wstring(uid.c_str())}),
              (pair{value == wstring(uid.c_str()), kvtest::RegText(HKEY_CURRENT_USER, vendor, L"UID")}));
  }
}

// A program path with a blank is quoted, or the shell would start its first word. The fixture has a
// certificate (a Root store keeps it under its thumbprint), a program signed with it, a changed copy.
TEST(Identity, ProtocolsAndCertificates) {
  const wstring fixture = L"C:\\kvfixtures_signature\\", path = kBin + L"my handler\\app.exe";
  auto verify = [&](const wstring& file) { return T(VerifySignature(file.c_str())); };
  const std::string der = kvtest::ReadAll(fixture + L"signer.der");
  ASSERT_FALSE(der.empty()) << "no signature fixture: the row fixture_signature makes it";
  const wstring root = L"SOFTWARE\\Microsoft\\SystemCertificates\\ROOT\\Certificates\\" +
                       kvtest::Wide(kvtest::ReadAll(fixture + L"signer.sha1"));
  RegProtocol(L"kvtestproto", L"my handler\\app.exe");
  EXPECT_EQ(L"\"" + path + L"\" \"%1\"",
            kvtest::RegText(HKEY_CLASSES_ROOT, L"kvtestproto\\shell\\open\\command", nullptr));
  EXPECT_EQ(L"111",
            J({T(ImportCertFile((fixture + L"signer.der").c_str())), T(kvtest::KeyExists(HKEY_LOCAL_MACHINE, root)),
               T(ImportCACert(reinterpret_cast<const BYTE*>(der.data()), int(der.size())))}));
  EXPECT_EQ(L"100", J({verify(fixture + L"signed.exe"), verify(fixture + L"tampered.exe"),
                       verify(kBin + L"kvtesthelper.exe")}));
  kvtest::DeleteRegTree(HKEY_CLASSES_ROOT, L"kvtestproto");
  kvtest::DeleteRegTree(HKEY_LOCAL_MACHINE, root);
}

wstring Csidl(int csidl, const wstring& tail = L"") {
  wchar_t path[MAX_PATH] = {};
  return ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE), L"1 " + wstring(path) + tail + L"|";
}
// An application-data folder so long that the pins below it pass 260 characters. Only a link has
// its icon changed: any other file, or none, stays as it was.
TEST(Shell, FoldersAndShortcuts) {
  kv::ComInit com;
  const wstring dir = kvtest::FreshDir(L"util_shell"), base = dir.substr(0, dir.size() - 1), self = dir + L"Self.lnk",
                exe = kBin + L"util_tests.exe", quick = L"\\Microsoft\\Internet Explorer\\Quick Launch",
                pins = quick + L"\\User Pinned\\TaskBar", long_appdata = dir + wstring(180, L'a');
  const wchar_t* shell_folders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const wstring appdata = kvtest::RegText(HKEY_CURRENT_USER, shell_folders, L"AppData");
  kvtest::WriteText(dir + L"f", "my notes");
  ::CreateDirectoryW(long_appdata.c_str(), nullptr);
  auto quick_launch = [&](int pinned, const wstring& appdata_is) {
    kvtest::SetRegRaw(HKEY_CURRENT_USER, shell_folders, L"AppData", REG_EXPAND_SZ, appdata_is.c_str(),
                      DWORD(appdata_is.size() + 1) * 2);
    return Out([&](LPWSTR t) { return GetQuickLaunchPath(t, pinned); });
  };
  auto target = [&](const wstring& link) { return Out([&](LPWSTR t) { return int(LnkToRealPath(link.c_str(), t)); }); };
  auto icon = [&](const wstring& link, int index = -1) {
    const wstring got = Out([&](LPWSTR t) { return GetShortcutIcon(link.c_str(), t, &index); });
    return got + T(index);
  };
  auto set_icon = [&](const wstring& path) {
    const std::string before = kvtest::ReadAll(path);
    const int result = SetShortcutIcon(path.c_str(), L"C:\\o.ico");
    return T(result) + T(before == kvtest::ReadAll(path)) + T(kvtest::Exists(path));
  };
  ASSERT_NE(Csidl(CSIDL_DESKTOPDIRECTORY), Csidl(CSIDL_COMMON_DESKTOPDIRECTORY)) << "rows must tell the desktops apart";
  EXPECT_EQ(Csidl(CSIDL_PROGRAMS) + Csidl(CSIDL_STARTMENU) + Csidl(CSIDL_COMMON_DESKTOPDIRECTORY) +
                Csidl(CSIDL_PROGRAM_FILES) + Csidl(CSIDL_APPDATA, quick) + Csidl(CSIDL_APPDATA, pins),
            J({Out(GetProgramsPath), Out(GetStartMenuPath), Out(GetDesktopPath), Out(GetProgramFilePath),
               quick_launch(0, appdata), quick_launch(1, appdata)}));
  EXPECT_EQ(L"1 " + long_appdata + quick + L"|1 |" + Csidl(CSIDL_APPDATA, quick),
            J({quick_launch(0, long_appdata), quick_launch(1, long_appdata), quick_launch(0, appdata)}));
  EXPECT_EQ(L"10 " + exe + L"|1 " + exe + L"|01011 C:\\o.ico|0011010",
            J({T(CreateShortcut(base.c_str(), L"Self", nullptr, nullptr, 0, nullptr, 1)), target(self), icon(self),
               set_icon(self), icon(self), set_icon(dir + L"f"), set_icon(dir + L"absent.lnk")}));
  // LnkToRealPath sets up COM itself: it works on a thread that never did.
  EXPECT_EQ(L"0 " + exe + L"|", std::async(std::launch::async, [&] { return target(self); }).get());
}

// A block of two whole pages, the size every system reports exactly: no copy crosses its end, and a
// read of an unterminated text keeps to the room given (-1 here: ReadShareMem's 260 characters).
TEST(ShareMem, MissingLivingAndEdges) {
  const wstring name = L"kvtest_shm_" + kPid;
  const wchar_t* n = name.c_str();
  constexpr int kSize = 8192;
  const std::vector<wchar_t> full(kSize / 2, L'A');
  wchar_t text[12] = L"keep";
  kv::UniqueHandleKernel block;
  auto write2 = [&](int length, int offset) { return T(WriteShareMem2(n, full.data(), length, offset)); };
  auto read2 = [&](int length, int offset) { return T(ReadShareMem2(n, text, length, offset)); };
  auto write = [&](const wchar_t* text, int index) { return T(WriteShareMem(n, text, index)); };
  EXPECT_EQ(L"0000keep 18192",
            J({T(isExistsShareMem(n)), T(GetShareMemSize(n)), write(L"a", 0), T(ReadShareMem(n, text)), text, L" ",
               (block.reset(CreateShareMem(n, kSize)), T(isExistsShareMem(n))), T(GetShareMemSize(n))}));
  EXPECT_EQ(wstring(L"111abcdeXY\0ij", 13),
            J({write(L"abcdefghij", 0), write(L"XY", 5), read2(22, 0), wstring(text, 10)}));
  EXPECT_EQ(wstring(L"1000100101abc\0", 14),
            J({write2(4, kSize - 4), write2(4, kSize - 3), write2(4, -1), write2(-4, 0), read2(4, kSize - 4),
               read2(5, kSize - 4), read2(1, kSize), write(L"abc", kSize / 2 - 4), write(L"abc", kSize / 2 - 3),
               read2(8, kSize - 8), wstring(text, 4)}));
  ASSERT_EQ(1, WriteShareMem2(n, full.data(), kSize, 0));
  for (const auto& [room, units] : {pair{0, 0}, {1, 0}, {5, 4}, {kSize / 2 + 8, kSize / 2 - 1}, {-1, MAX_PATH - 1}}) {
    wstring got(kSize / 2 + 16, L'z');
    EXPECT_EQ(room ? 1 : 0, room < 0 ? ReadShareMem(n, got.data()) : ReadShareMemN(n, got.data(), room)) << room;
    EXPECT_EQ(wstring(units, L'A') + wstring(room ? 1 : 0, L'\0') + wstring(got.size() - units - !!room, L'z'), got);
  }
}

}  // namespace
