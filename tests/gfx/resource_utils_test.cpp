// Resource readers on this test program's own pictures (compiled from the program's .rc), resource
// editing on copies of a built executable read back with LoadLibraryEx as a data file, and the
// image-file members of CKvImage.
#include "gfx/resource_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "gfx/image.h"
#include "tests/gfx/pixels.h"
#include "tests/support/file_bytes.h"
#include "tests/support/test_support.h"

namespace {

using kvtest::Bytes;
using kvtest::ReadBytes;
using kvtest::WriteBytes;

constexpr WORD kChinese = 2052;
const Bytes kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool StartsWith(const Bytes& data, const Bytes& head) {
  return data.size() >= head.size() && std::equal(head.begin(), head.end(), data.begin());
}

// The committed picture file, through Wine's Z: drive.
std::wstring SourcePicture(const char* name) {
  std::string path = std::string("Z:") + KV_SOURCE_DIR + "/resources/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  return std::wstring(path.begin(), path.end());
}

// A copy of an executable, loaded as data once edited.
struct Target {
  explicit Target(const wchar_t* folder) : dir(kvtest::FreshDir(folder)), exe(dir + L"target.exe") {
    EXPECT_TRUE(kvtest::CopyProgram(L"exitapp_probe.exe", exe));
  }
  ~Target() { FreeLibrary(module); }
  HMODULE Load() { return module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE); }
  Bytes Resource(const wchar_t* type, int id, WORD language) const {
    HRSRC res = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
    const auto* bytes = res ? static_cast<const unsigned char*>(LockResource(LoadResource(module, res))) : nullptr;
    return bytes ? Bytes(bytes, bytes + SizeofResource(module, res)) : Bytes();
  }
  std::wstring dir, exe;
  HMODULE module = nullptr;
};

TEST(ResourceRead, SizeStreamBufferAndFileMatchThePictureMissingGiveNothing) {
  const Bytes file = ReadBytes(SourcePicture("progress_strip_60026.png"));
  ASSERT_TRUE(StartsWith(file, kPngSignature));
  EXPECT_EQ(static_cast<int>(file.size()), KvResSize(60026, L"IMG"));
  kv::ComPtr<IStream> stream;
  *stream.put() = KvResGetStream(60026, L"IMG");
  ASSERT_TRUE(stream);
  STATSTG stat = {};
  stream->Stat(&stat, STATFLAG_NONAME);
  EXPECT_EQ(file.size(), stat.cbSize.QuadPart);
  EXPECT_EQ(std::string(file.begin(), file.end()), kvtest::ReadRest(stream.get()));
  Bytes buffer(file.size() + 8, 0xAB);  // KvResSize bytes, and a guard behind them
  EXPECT_EQ(1, KvResGetBuff(60026, L"IMG", buffer.data()));
  EXPECT_EQ(file, Bytes(buffer.begin(), buffer.end() - 8));
  EXPECT_EQ(Bytes(8, 0xAB), Bytes(buffer.end() - 8, buffer.end()));
  const std::wstring dir = kvtest::FreshDir(L"gfx_res_save"), saved = dir + L"strip.png";
  EXPECT_EQ(1, KvResSave(60026, L"IMG", saved.c_str()));
  EXPECT_EQ(file, ReadBytes(saved));
  EXPECT_EQ(6 + 14 * 4, KvResSize(107, RT_GROUP_ICON));  // a predefined type by number
  // Missing resources give nothing; nor does a save whose file cannot be made.
  EXPECT_EQ(std::tuple(0, 0, 0, 0, 0),
            std::tuple(KvResSize(4242, L"IMG"), KvResSize(60026, L"NOPE"), KvResGetBuff(4242, L"IMG", buffer.data()),
                       KvResSave(4242, L"IMG", (saved + L"2").c_str()),
                       KvResSave(60026, L"IMG", (dir + L"no\\such\\strip.png").c_str())));
  EXPECT_EQ(nullptr, KvResGetStream(4242, L"IMG"));
  EXPECT_FALSE(kvtest::Exists(saved + L"2"));
}

TEST(ResourceEdit, UpdateWritesNeutralResourcesOrFailsLeavingTheFile) {
  Target target(L"gfx_res_update");
  char data[] = "resource payload";
  kvtest::WriteText(target.dir + L"plain.txt", "not a program");
  EXPECT_EQ(0, KvResUpdate2((target.dir + L"plain.txt").c_str(), 1, L"KVDATA", data, 4));
  EXPECT_EQ(0, KvResUpdate2((target.dir + L"absent.exe").c_str(), 1, L"KVDATA", data, 4));
  const Bytes before = ReadBytes(target.exe);
  EXPECT_EQ(0, KvResUpdate(target.exe.c_str(), 1, L"KVDATA", (target.dir + L"absent.bin").c_str()));
  // A source of nearly 2 GB does not fit this process's memory: a failure, not an exception.
  ASSERT_TRUE(kvtest::SparseFile(target.dir + L"huge.bin", 0x7FFFFFF0));
  EXPECT_EQ(0, KvResUpdate(target.exe.c_str(), 1, L"KVDATA", (target.dir + L"huge.bin").c_str()));
  EXPECT_EQ(before, ReadBytes(target.exe));  // untouched

  EXPECT_NE(0, KvResUpdate2(target.exe.c_str(), 7, L"KVDATA", data, sizeof(data)));
  const std::wstring src = target.dir + L"picture.png";
  WriteBytes(src, ReadBytes(SourcePicture("msg_info_60056.png")));
  EXPECT_NE(0, KvResUpdate(target.exe.c_str(), 60099, L"IMG", src.c_str()));
  ASSERT_NE(nullptr, target.Load());
  EXPECT_EQ(Bytes(data, data + sizeof(data)), target.Resource(L"KVDATA", 7, 0));
  EXPECT_EQ(ReadBytes(src), target.Resource(L"IMG", 60099, 0));
  // A drawing service pointed at that module finds the new picture there, and only there.
  CKvImage image;
  int w = 0, h = 0, w52 = 0, h52 = 0;
  image.GetImgSize(60099, w, h);
  EXPECT_EQ(0, w);
  image.SetInst(target.module);
  image.GetImgSize(60099, w, h);
  image.GetImgSize(60052, w52, h52);
  EXPECT_EQ(std::tuple(32, 32, 0), std::tuple(w, h, w52));
}

// An .ico of n images whose bytes are recognisable: image i is (i + 1) * 10 bytes of 'a' + i.
Bytes MakeIco(int n, bool badLastOffset = false) {
  Bytes ico = {0, 0, 1, 0, static_cast<unsigned char>(n), 0};
  uint32_t offset = 6 + 16 * n;
  for (int i = 0; i < n; ++i) {
    const uint32_t size = (i + 1) * 10, at = (badLastOffset && i == n - 1) ? 0x100000 : offset;
    const unsigned char entry[8] = {static_cast<unsigned char>(16 << i), static_cast<unsigned char>(16 << i), 0, 0, 1, 0, 32, 0};
    ico.insert(ico.end(), entry, entry + 8);
    ico.insert(ico.end(), reinterpret_cast<const unsigned char*>(&size), reinterpret_cast<const unsigned char*>(&size) + 4);
    ico.insert(ico.end(), reinterpret_cast<const unsigned char*>(&at), reinterpret_cast<const unsigned char*>(&at) + 4);
    offset += size;
  }
  for (int i = 0; i < n; ++i) ico.insert(ico.end(), (i + 1) * 10, static_cast<unsigned char>('a' + i));
  return ico;
}

BOOL CALLBACK CollectIds(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  if (IS_INTRESOURCE(name)) reinterpret_cast<std::vector<ULONG_PTR>*>(param)->push_back(reinterpret_cast<ULONG_PTR>(name));
  return TRUE;
}

TEST(ResourceEdit, ReplaceExeIcoWritesTheGroupAndIconsFromZero) {
  Target target(L"gfx_res_ico");
  WriteBytes(target.dir + L"three.ico", MakeIco(3));
  EXPECT_NE(0, ReplaceExeIco(target.exe.c_str(), (target.dir + L"three.ico").c_str(), 107));
  ASSERT_NE(nullptr, target.Load());
  const Bytes group = target.Resource(RT_GROUP_ICON, 107, kChinese);
  ASSERT_EQ(48u, group.size());
  EXPECT_EQ(3, group[4]);
  for (int i = 0; i < 3; ++i) {
    const unsigned char* entry = group.data() + 6 + 14 * i;
    uint32_t size = 0;
    uint16_t id = 0xFFFF;
    std::memcpy(&size, entry + 8, 4);
    std::memcpy(&id, entry + 12, 2);
    EXPECT_EQ(std::tuple(16 << i, (i + 1) * 10u, i), std::tuple(int{entry[0]}, size, int{id}));
  }
  // Icon 0 has the id a null name pointer would have, so it is found by enumerating the icons.
  EXPECT_EQ(Bytes(20, 'b'), target.Resource(RT_ICON, 1, kChinese));
  EXPECT_EQ(Bytes(30, 'c'), target.Resource(RT_ICON, 2, kChinese));
  std::vector<ULONG_PTR> ids;
  EnumResourceNamesW(target.module, RT_ICON, CollectIds, reinterpret_cast<LONG_PTR>(&ids));
  EXPECT_NE(ids.end(), std::find(ids.begin(), ids.end(), 0u)) << "no icon with id 0";
  Target program(L"gfx_res_ico_program");  // the program's own icon, four sizes
  EXPECT_NE(0, ReplaceExeIco(program.exe.c_str(), SourcePicture("kvUninstall.ico").c_str(), 200));
  ASSERT_NE(nullptr, program.Load());
  EXPECT_EQ(6u + 14u * 4u, program.Resource(RT_GROUP_ICON, 200, kChinese).size());
}

TEST(ResourceEdit, ReplaceExeIcoFailures) {
  Target target(L"gfx_res_ico_fail");
  EXPECT_EQ(0, ReplaceExeIco(target.exe.c_str(), (target.dir + L"absent.ico").c_str(), 107));
  WriteBytes(target.dir + L"short.ico", Bytes{0, 0, 1, 0, 5, 0, 1, 2, 3});  // 5 entries announced, none there
  EXPECT_EQ(0, ReplaceExeIco(target.exe.c_str(), (target.dir + L"short.ico").c_str(), 107));
  // The last image lies past the file's end: the call fails and nothing is committed, neither the
  // group (which would name a missing icon) nor the icons before it.
  const Bytes before = ReadBytes(target.exe);
  WriteBytes(target.dir + L"bad.ico", MakeIco(3, true));
  EXPECT_EQ(0, ReplaceExeIco(target.exe.c_str(), (target.dir + L"bad.ico").c_str(), 108));
  EXPECT_EQ(before, ReadBytes(target.exe));
}

CKvImage& Img() { return *GetKvImage(); }

TEST(ImageFiles, EncodersAreFoundByExactMimeType) {
  GUID png = {}, bmp = {}, none = {};
  EXPECT_GE(Img().GetEncoderClsid(L"image/png", &png), 0);
  EXPECT_GE(Img().GetEncoderClsid(L"image/bmp", &bmp), 0);
  EXPECT_NE(png, bmp);
  EXPECT_EQ(std::pair(-1, -1), std::pair(Img().GetEncoderClsid(L"image/PNG", &none), Img().GetEncoderClsid(L"image/none", &none)));
}

// A 200 x 100 picture, red | blue.
std::wstring Picture(const std::wstring& path) {
  EXPECT_TRUE(kvtest::MakePicture(path, 200, 100, [](int x, int) { return x < 100 ? 0xFFFF0000u : 0xFF0000FFu; }));
  return path;
}

void ExpectSize(const std::wstring& path, int w, int h) {
  int gotW = 0, gotH = 0;
  Img().GetImgSize(path.c_str(), gotW, gotH);
  EXPECT_EQ(std::pair(w, h), std::pair(gotW, gotH)) << kvtest::Utf8(path);
}

TEST(ImageFiles, ZoomAndSavePicWriteTheAskedSizeAndType) {
  const std::wstring dir = kvtest::FreshDir(L"gfx_zoom"), src = Picture(dir + L"src.png"), src2 = Picture(dir + L"src2.png");
  EXPECT_TRUE(Img().Zoom(src.c_str(), 50, 0, 0, nullptr, L"png"));  // by percent, in place
  ExpectSize(src, 100, 50);
  EXPECT_TRUE(StartsWith(ReadBytes(src), kPngSignature));
  EXPECT_TRUE(Img().Zoom(src2.c_str(), 0, 0, 60, (dir + L"out.jpg").c_str(), nullptr));  // by height
  ExpectSize(dir + L"out.jpg", 120, 60);
  EXPECT_TRUE(StartsWith(ReadBytes(dir + L"out.jpg"), {0xFF, 0xD8}));
  EXPECT_TRUE(Img().Zoom(src2.c_str(), 0, 50, 0, (dir + L"width.png").c_str(), L"png"));
  ExpectSize(dir + L"width.png", 50, 25);
  EXPECT_TRUE(Img().Zoom(src2.c_str(), 0, 30, 70, (dir + L"both.png").c_str(), L"png"));
  ExpectSize(dir + L"both.png", 30, 70);
  EXPECT_TRUE(Img().SavePic(src2.c_str(), (dir + L"out.bmp").c_str(), L"bmp"));
  ExpectSize(dir + L"out.bmp", 200, 100);
  EXPECT_TRUE(StartsWith(ReadBytes(dir + L"out.bmp"), {'B', 'M'}));
  // Nothing to do, no source, no encoder or no file that can be made: false, and no file written
  // or changed.
  const Bytes before = ReadBytes(src2);
  EXPECT_FALSE(Img().Zoom(src2.c_str(), 0, 0, 0, nullptr, L"png"));
  EXPECT_EQ(before, ReadBytes(src2));
  EXPECT_FALSE(Img().Zoom((dir + L"absent.png").c_str(), 50, 0, 0, nullptr, L"png"));
  EXPECT_FALSE(Img().Zoom(src2.c_str(), 50, 0, 0, (dir + L"x.out").c_str(), L"nosuch"));
  EXPECT_FALSE(Img().Zoom(src2.c_str(), 50, 0, 0, (dir + L"no\\such\\z.png").c_str(), L"png"));
  EXPECT_FALSE(Img().SavePic((dir + L"absent.png").c_str(), (dir + L"none.bmp").c_str(), L"bmp"));
  EXPECT_FALSE(Img().SavePic(src2.c_str(), (dir + L"none.bmp").c_str(), L"nosuch"));
  EXPECT_FALSE(Img().SavePic(src2.c_str(), (dir + L"no\\such\\s.bmp").c_str(), L"bmp"));
  for (const wchar_t* name : {L"absent.png", L"x.out", L"none.bmp"}) EXPECT_FALSE(kvtest::Exists(dir + name));
  // Files that can be opened but not written: failures too.
  const std::wstring full = kvtest::FullDevice();
  if (full.empty()) GTEST_SKIP() << "no device whose writes fail for want of room";
  EXPECT_FALSE(Img().SavePic(src2.c_str(), full.c_str(), L"bmp"));
  EXPECT_FALSE(Img().Zoom(src2.c_str(), 50, 0, 0, full.c_str(), L"png"));
  EXPECT_EQ(0, KvResSave(60026, L"IMG", full.c_str()));
}

TEST(ImageFiles, SavePicOfARectangleAndBitmapIntoAStream) {
  kvtest::Dib dib(80, 60);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) dib.bits()[y * 80 + x] = (x >= 40 && y >= 30) ? 0xFF00FF00 : 0xFF000000;
  const std::wstring path = kvtest::FreshDir(L"gfx_savepic") + L"area.png";
  RECT area = {40, 30, 80, 60};
  EXPECT_TRUE(Img().SavePic(dib.dc(), area, path.c_str(), L"png"));
  Gdiplus::Bitmap saved(path.c_str(), FALSE);
  ASSERT_EQ(Gdiplus::Ok, saved.GetLastStatus());
  EXPECT_EQ(std::pair(40u, 30u), std::pair(saved.GetWidth(), saved.GetHeight()));
  for (auto [x, y] : {std::pair{0, 0}, {39, 29}}) {
    Gdiplus::Color c;
    saved.GetPixel(x, y, &c);
    EXPECT_EQ(0xFF00FF00u, c.GetValue() | 0xFF000000u) << x;
  }
  kv::ComPtr<IStream> stream;  // written after what the stream already holds, left after it
  ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  stream->Write("xyz", 3, nullptr);
  const auto bitmap = static_cast<HBITMAP>(GetCurrentObject(dib.dc(), OBJ_BITMAP));
  // No encoder or an empty rectangle: nothing is written, and the answer says so.
  EXPECT_FALSE(Img().BmToStream(bitmap, stream.get(), L"nosuch"));
  EXPECT_FALSE(Img().SavePic(dib.dc(), area, path.c_str(), L"nosuch"));
  EXPECT_FALSE(Img().SavePic(dib.dc(), RECT{40, 30, 40, 60}, (path + L"2").c_str(), L"png"));
  EXPECT_TRUE(Img().BmToStream(bitmap, stream.get(), L"png"));
  LARGE_INTEGER at = {};
  ULARGE_INTEGER end = {};
  stream->Seek(at, STREAM_SEEK_CUR, &end);
  EXPECT_GT(end.QuadPart, 3u + 8u);
  at.QuadPart = 3;
  stream->Seek(at, STREAM_SEEK_SET, nullptr);
  Bytes head(8);
  stream->Read(head.data(), 8, nullptr);
  EXPECT_EQ(kPngSignature, head);
}

TEST(ImageFiles, ScreenAndWindowCaptures) {
  const std::wstring dir = kvtest::FreshDir(L"gfx_capture");
  EXPECT_FALSE(Img().SaveScreen((dir + L"none.bmp").c_str(), L"nosuch"));
  EXPECT_TRUE(Img().SaveScreen((dir + L"screen.bmp").c_str(), L"bmp"));
  if (!kvtest::Exists(dir + L"screen.bmp")) {
    printf("SKIPPED: no display to capture\n");
    GTEST_SKIP();
  }
  ExpectSize(dir + L"screen.bmp", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 50, 60, 90, 40, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(nullptr, window);
  EXPECT_TRUE(Img().SavePic(window, (dir + L"window.png").c_str(), L"png"));
  EXPECT_FALSE(Img().SavePic(window, (dir + L"none.png").c_str(), L"nosuch"));
  ExpectSize(dir + L"window.png", 90, 40);
  DestroyWindow(window);
}

}  // namespace
