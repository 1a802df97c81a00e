// Resource readers on this test program's own pictures (compiled from the program's .rc), resource
// editing on copies of a built executable read back with LoadLibraryEx as a data file, and the
// image-file members of CKvImage.
#include "gfx/resource_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gfx/image.h"
#include "tests/gfx/pixels.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::wstring& path, const Bytes& data) {
  kvtest::WriteText(path, std::string(data.begin(), data.end()));
}

// The committed picture file, through Wine's Z: drive.
std::wstring SourcePicture(const char* name) {
  std::string path = std::string("Z:") + KV_SOURCE_DIR + "/resources/" + name;
  for (char& c : path)
    if (c == '/') c = '\\';
  return std::wstring(path.begin(), path.end());
}

const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A resource of a module loaded as data, in one language.
Bytes ResourceOf(HMODULE module, const wchar_t* type, int id, WORD language) {
  HRSRC res = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
  if (!res) return {};
  HGLOBAL loaded = LoadResource(module, res);
  const auto* bytes = static_cast<const unsigned char*>(LockResource(loaded));
  return bytes ? Bytes(bytes, bytes + SizeofResource(module, res)) : Bytes();
}

struct DataModule {
  explicit DataModule(const std::wstring& path)
      : module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~DataModule() {
    if (module) FreeLibrary(module);
  }
  HMODULE module;
};

// ---- readers ----

TEST(ResourceRead, SizeStreamBufferAndFileMatchThePicture) {
  const Bytes file = ReadAll(SourcePicture("progress_strip_60026.png"));
  ASSERT_GT(file.size(), 8u);
  EXPECT_EQ(static_cast<int>(file.size()), KvResSize(60026, L"IMG"));

  IStream* stream = KvResGetStream(60026, L"IMG");
  ASSERT_NE(nullptr, stream);
  STATSTG stat = {};
  stream->Stat(&stat, STATFLAG_NONAME);
  EXPECT_EQ(file.size(), stat.cbSize.QuadPart);
  Bytes read(file.size() + 16);
  ULONG got = 0;
  stream->Read(read.data(), static_cast<ULONG>(read.size()), &got);
  read.resize(got);
  stream->Release();
  EXPECT_EQ(0, std::memcmp(kPngSignature, read.data(), 8));
  EXPECT_EQ(file, read);

  Bytes buffer(file.size(), 0xAB);
  EXPECT_EQ(1, KvResGetBuff(60026, L"IMG", buffer.data(), static_cast<int>(buffer.size())));
  EXPECT_EQ(file, buffer);
  Bytes small(16, 0xAB);
  EXPECT_EQ(0, KvResGetBuff(60026, L"IMG", small.data(), 16));  // too small: untouched
  EXPECT_EQ(Bytes(16, 0xAB), small);

  const std::wstring saved = kvtest::FreshDir(L"gfx_res_save") + L"strip.png";
  EXPECT_EQ(1, KvResSave(60026, L"IMG", saved.c_str()));
  EXPECT_EQ(file, ReadAll(saved));
}

TEST(ResourceRead, MissingResourcesGiveNothing) {
  EXPECT_EQ(0, KvResSize(4242, L"IMG"));
  EXPECT_EQ(0, KvResSize(60026, L"NOPE"));
  EXPECT_EQ(nullptr, KvResGetStream(4242, L"IMG"));
  char buffer[8] = {};
  EXPECT_EQ(0, KvResGetBuff(4242, L"IMG", buffer, 8));
  const std::wstring path = kvtest::FreshDir(L"gfx_res_missing") + L"none.bin";
  EXPECT_EQ(0, KvResSave(4242, L"IMG", path.c_str()));
  EXPECT_FALSE(kvtest::Exists(path));
}

TEST(ResourceRead, PredefinedTypesByNumber) {
  // The icon group of the program, addressed by RT_GROUP_ICON: 6 bytes + 14 per icon.
  const int size = KvResSize(107, RT_GROUP_ICON);
  EXPECT_EQ(6 + 14 * 4, size);
}

// ---- editing another executable ----

std::wstring CopyOfAProgram(const wchar_t* folder) {
  const std::wstring exe = kvtest::FreshDir(folder) + L"target.exe";
  EXPECT_TRUE(kvtest::CopyProgram(L"exitapp_probe.exe", exe));
  return exe;
}

TEST(ResourceEdit, UpdateWritesNeutralResources) {
  const std::wstring exe = CopyOfAProgram(L"gfx_res_update");
  const char data[] = "resource payload";
  EXPECT_NE(0, KvResUpdate2(exe.c_str(), 7, L"KVDATA", const_cast<char*>(data), sizeof(data)));

  const std::wstring src = kvtest::FreshDir(L"gfx_res_update_src") + L"picture.png";
  WriteAll(src, ReadAll(SourcePicture("msg_info_60056.png")));
  EXPECT_NE(0, KvResUpdate(exe.c_str(), 60099, L"IMG", src.c_str()));

  DataModule copy(exe);
  ASSERT_NE(nullptr, copy.module);
  EXPECT_EQ(Bytes(data, data + sizeof(data)), ResourceOf(copy.module, L"KVDATA", 7, 0));
  EXPECT_EQ(ReadAll(src), ResourceOf(copy.module, L"IMG", 60099, 0));

  // A drawing service pointed at that module finds the new picture there, and only there.
  CKvImage image;
  int w = 0, h = 0;
  image.GetImgSize(60099, w, h);
  EXPECT_EQ(0, w);  // not in this test program
  image.SetInst(copy.module);
  image.GetImgSize(60099, w, h);
  EXPECT_EQ(32, w);
  EXPECT_EQ(32, h);
  image.GetImgSize(60052, w, h);
  EXPECT_EQ(0, w);
}

TEST(ResourceEdit, UpdateFailures) {
  const std::wstring dir = kvtest::FreshDir(L"gfx_res_update_fail");
  kvtest::WriteText(dir + L"plain.txt", "not a program");
  char data[4] = {1, 2, 3, 4};
  EXPECT_EQ(0, KvResUpdate2((dir + L"plain.txt").c_str(), 1, L"KVDATA", data, 4));
  EXPECT_EQ(0, KvResUpdate2((dir + L"absent.exe").c_str(), 1, L"KVDATA", data, 4));

  const std::wstring exe = CopyOfAProgram(L"gfx_res_update_fail2");
  const Bytes before = ReadAll(exe);
  EXPECT_EQ(0, KvResUpdate(exe.c_str(), 1, L"KVDATA", (dir + L"absent.bin").c_str()));
  EXPECT_EQ(before, ReadAll(exe));  // untouched
}

// An .ico of n images whose bytes are recognisable: image i is (i + 1) * 10 bytes of 'a' + i.
Bytes MakeIco(int n, bool badLastOffset = false) {
  Bytes ico(6 + 16 * n);
  const uint16_t head[3] = {0, 1, static_cast<uint16_t>(n)};
  std::memcpy(ico.data(), head, 6);
  uint32_t offset = static_cast<uint32_t>(ico.size());
  for (int i = 0; i < n; ++i) {
    const uint32_t size = (i + 1) * 10;
    unsigned char entry[16] = {static_cast<unsigned char>(16 << i), static_cast<unsigned char>(16 << i), 0, 0,
                               1, 0, 32, 0};
    std::memcpy(entry + 8, &size, 4);
    const uint32_t at = (badLastOffset && i == n - 1) ? 0x100000 : offset;
    std::memcpy(entry + 12, &at, 4);
    std::memcpy(ico.data() + 6 + 16 * i, entry, 16);
    offset += size;
  }
  for (int i = 0; i < n; ++i) ico.insert(ico.end(), (i + 1) * 10, static_cast<unsigned char>('a' + i));
  return ico;
}

constexpr WORD kChinese = 2052;

BOOL CALLBACK CollectIds(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  if (IS_INTRESOURCE(name))
    reinterpret_cast<std::vector<ULONG_PTR>*>(param)->push_back(reinterpret_cast<ULONG_PTR>(name));
  return TRUE;
}

TEST(ResourceEdit, ReplaceExeIcoWritesTheGroupAndIconsFromZero) {
  const std::wstring exe = CopyOfAProgram(L"gfx_res_ico");
  const std::wstring ico = kvtest::FreshDir(L"gfx_res_ico_src") + L"three.ico";
  WriteAll(ico, MakeIco(3));
  EXPECT_NE(0, ReplaceExeIco(exe.c_str(), ico.c_str(), 107));

  DataModule copy(exe);
  ASSERT_NE(nullptr, copy.module);
  const Bytes group = ResourceOf(copy.module, RT_GROUP_ICON, 107, kChinese);
  ASSERT_EQ(48u, group.size());
  EXPECT_EQ(3, group[4]);
  for (int i = 0; i < 3; ++i) {
    const unsigned char* entry = group.data() + 6 + 14 * i;
    EXPECT_EQ(16 << i, entry[0]);
    uint32_t size = 0;
    uint16_t id = 0xFFFF;
    std::memcpy(&size, entry + 8, 4);
    std::memcpy(&id, entry + 12, 2);
    EXPECT_EQ(static_cast<uint32_t>((i + 1) * 10), size);
    EXPECT_EQ(i, id);
  }
  // Icons 1 and 2 by id; icon 0 has the id a null name pointer would have, so it is found by
  // enumerating the icons of the language.
  EXPECT_EQ(Bytes(20, 'b'), ResourceOf(copy.module, RT_ICON, 1, kChinese));
  EXPECT_EQ(Bytes(30, 'c'), ResourceOf(copy.module, RT_ICON, 2, kChinese));
  std::vector<ULONG_PTR> ids;
  EnumResourceNamesW(copy.module, RT_ICON, CollectIds, reinterpret_cast<LONG_PTR>(&ids));
  EXPECT_NE(ids.end(), std::find(ids.begin(), ids.end(), 0u)) << "no icon with id 0";
}

TEST(ResourceEdit, ReplaceExeIcoFailures) {
  const std::wstring dir = kvtest::FreshDir(L"gfx_res_ico_fail");
  const std::wstring exe = CopyOfAProgram(L"gfx_res_ico_fail_exe");
  EXPECT_EQ(0, ReplaceExeIco(exe.c_str(), (dir + L"absent.ico").c_str(), 107));
  WriteAll(dir + L"short.ico", Bytes{0, 0, 1, 0, 5, 0, 1, 2, 3});  // 5 entries announced, none there
  EXPECT_EQ(0, ReplaceExeIco(exe.c_str(), (dir + L"short.ico").c_str(), 107));

  // The last image lies past the file's end: the call fails, what came before is committed.
  WriteAll(dir + L"bad.ico", MakeIco(3, true));
  EXPECT_EQ(0, ReplaceExeIco(exe.c_str(), (dir + L"bad.ico").c_str(), 108));
  DataModule copy(exe);
  ASSERT_NE(nullptr, copy.module);
  EXPECT_EQ(48u, ResourceOf(copy.module, RT_GROUP_ICON, 108, kChinese).size());
  EXPECT_EQ(Bytes(20, 'b'), ResourceOf(copy.module, RT_ICON, 1, kChinese));
  EXPECT_TRUE(ResourceOf(copy.module, RT_ICON, 2, kChinese).empty());
}

TEST(ResourceEdit, TheProgramIconGoesIntoACopy) {
  const std::wstring exe = CopyOfAProgram(L"gfx_res_ico_program");
  const std::wstring ico = SourcePicture("kvUninstall.ico");
  EXPECT_NE(0, ReplaceExeIco(exe.c_str(), ico.c_str(), 200));
  DataModule copy(exe);
  ASSERT_NE(nullptr, copy.module);
  EXPECT_EQ(6u + 14u * 4u, ResourceOf(copy.module, RT_GROUP_ICON, 200, kChinese).size());
}

// ---- image files ----

CKvImage& Img() { return *GetKvImage(); }

TEST(ImageFiles, EncodersAreFoundByExactMimeType) {
  GUID png = {}, bmp = {};
  const int pngIndex = Img().GetEncoderClsid(L"image/png", &png);
  EXPECT_GE(pngIndex, 0);
  EXPECT_GE(Img().GetEncoderClsid(L"image/bmp", &bmp), 0);
  EXPECT_NE(0, std::memcmp(&png, &bmp, sizeof(GUID)));
  GUID none = {};
  EXPECT_EQ(-1, Img().GetEncoderClsid(L"image/PNG", &none));
  EXPECT_EQ(-1, Img().GetEncoderClsid(L"image/none", &none));
}

std::wstring Picture200x100(const std::wstring& dir, const wchar_t* name) {
  const std::wstring path = dir + name;
  EXPECT_TRUE(kvtest::MakePicture(path, 200, 100, [](int x, int) { return x < 100 ? 0xFFFF0000u : 0xFF0000FFu; }));
  return path;
}

TEST(ImageFiles, ZoomByPercentInPlaceAndByHeightToJpeg) {
  const std::wstring dir = kvtest::FreshDir(L"gfx_zoom");
  const std::wstring src = Picture200x100(dir, L"src.png");
  EXPECT_TRUE(Img().Zoom(src.c_str(), 50, 0, 0, nullptr, L"png"));
  int w = 0, h = 0;
  Img().GetImgSize(src.c_str(), w, h);
  EXPECT_EQ(100, w);
  EXPECT_EQ(50, h);
  EXPECT_EQ(0, std::memcmp(kPngSignature, ReadAll(src).data(), 8));

  const std::wstring src2 = Picture200x100(dir, L"src2.png");
  const std::wstring dst = dir + L"out.jpg";
  EXPECT_TRUE(Img().Zoom(src2.c_str(), 0, 0, 60, dst.c_str(), nullptr));
  Img().GetImgSize(dst.c_str(), w, h);
  EXPECT_EQ(120, w);
  EXPECT_EQ(60, h);
  const Bytes jpeg = ReadAll(dst);
  ASSERT_GT(jpeg.size(), 2u);
  EXPECT_EQ(0xFF, jpeg[0]);
  EXPECT_EQ(0xD8, jpeg[1]);

  const std::wstring dst3 = dir + L"width.png";
  EXPECT_TRUE(Img().Zoom(src2.c_str(), 0, 50, 0, dst3.c_str(), L"png"));
  Img().GetImgSize(dst3.c_str(), w, h);
  EXPECT_EQ(50, w);
  EXPECT_EQ(25, h);
  const std::wstring dst4 = dir + L"both.png";
  EXPECT_TRUE(Img().Zoom(src2.c_str(), 0, 30, 70, dst4.c_str(), L"png"));
  Img().GetImgSize(dst4.c_str(), w, h);
  EXPECT_EQ(30, w);
  EXPECT_EQ(70, h);
}

TEST(ImageFiles, ZoomToNothingLeavesTheFile) {
  const std::wstring dir = kvtest::FreshDir(L"gfx_zoom_empty");
  const std::wstring src = Picture200x100(dir, L"src.png");
  const Bytes before = ReadAll(src);
  EXPECT_TRUE(Img().Zoom(src.c_str(), 0, 0, 0, nullptr, L"png"));
  EXPECT_EQ(before, ReadAll(src));
  EXPECT_TRUE(Img().Zoom((dir + L"absent.png").c_str(), 50, 0, 0, nullptr, L"png"));
  EXPECT_FALSE(kvtest::Exists(dir + L"absent.png"));
  EXPECT_TRUE(Img().Zoom(src.c_str(), 50, 0, 0, (dir + L"x.out").c_str(), L"nosuch"));
  EXPECT_FALSE(kvtest::Exists(dir + L"x.out"));
}

TEST(ImageFiles, SavePicConvertsFiles) {
  const std::wstring dir = kvtest::FreshDir(L"gfx_convert");
  const std::wstring src = Picture200x100(dir, L"src.png");
  EXPECT_TRUE(Img().SavePic(src.c_str(), (dir + L"out.bmp").c_str(), L"bmp"));
  const Bytes bmp = ReadAll(dir + L"out.bmp");
  ASSERT_GT(bmp.size(), 2u);
  EXPECT_EQ('B', bmp[0]);
  EXPECT_EQ('M', bmp[1]);
  int w = 0, h = 0;
  Img().GetImgSize((dir + L"out.bmp").c_str(), w, h);
  EXPECT_EQ(200, w);
  EXPECT_EQ(100, h);
  EXPECT_TRUE(Img().SavePic((dir + L"absent.png").c_str(), (dir + L"none.bmp").c_str(), L"bmp"));
  EXPECT_FALSE(kvtest::Exists(dir + L"none.bmp"));
}

TEST(ImageFiles, SavePicOfARectangleCapturesThatArea) {
  kvtest::Dib dib(80, 60);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) dib.bits()[y * 80 + x] = (x >= 40 && y >= 30) ? 0xFF00FF00 : 0xFF000000;
  const std::wstring path = kvtest::FreshDir(L"gfx_savepic") + L"area.png";
  RECT area = {40, 30, 80, 60};
  EXPECT_TRUE(Img().SavePic(dib.dc(), area, path.c_str(), L"png"));
  Gdiplus::Bitmap saved(path.c_str(), FALSE);
  ASSERT_EQ(Gdiplus::Ok, saved.GetLastStatus());
  EXPECT_EQ(40u, saved.GetWidth());
  EXPECT_EQ(30u, saved.GetHeight());
  Gdiplus::Color c;
  saved.GetPixel(0, 0, &c);
  EXPECT_EQ(0xFF00FF00u, c.GetValue() | 0xFF000000u);
  saved.GetPixel(39, 29, &c);
  EXPECT_EQ(0xFF00FF00u, c.GetValue() | 0xFF000000u);
}

TEST(ImageFiles, BitmapIntoAStream) {
  kvtest::Dib dib(16, 8);
  kv::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  const char lead[3] = {'x', 'y', 'z'};
  stream->Write(lead, 3, nullptr);
  HBITMAP bitmap = static_cast<HBITMAP>(GetCurrentObject(dib.dc(), OBJ_BITMAP));
  EXPECT_TRUE(Img().BmToStream(bitmap, stream.get(), L"png"));
  LARGE_INTEGER zero = {};
  ULARGE_INTEGER end = {};
  stream->Seek(zero, STREAM_SEEK_CUR, &end);
  EXPECT_GT(end.QuadPart, 3u + 8u);  // left after the written data
  LARGE_INTEGER three = {};
  three.QuadPart = 3;
  stream->Seek(three, STREAM_SEEK_SET, nullptr);
  unsigned char head[8] = {};
  stream->Read(head, 8, nullptr);
  EXPECT_EQ(0, std::memcmp(kPngSignature, head, 8));
}

TEST(ImageFiles, ScreenAndWindowCaptures) {
  const std::wstring dir = kvtest::FreshDir(L"gfx_capture");
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  EXPECT_TRUE(Img().SaveScreen((dir + L"screen.bmp").c_str(), L"bmp"));
  if (!kvtest::Exists(dir + L"screen.bmp")) {
    printf("SKIPPED: no display to capture\n");
    GTEST_SKIP();
  }
  int w = 0, h = 0;
  Img().GetImgSize((dir + L"screen.bmp").c_str(), w, h);
  EXPECT_EQ(sw, w);
  EXPECT_EQ(sh, h);

  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 50, 60,
                                90, 40, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(nullptr, window);
  EXPECT_TRUE(Img().SavePic(window, (dir + L"window.png").c_str(), L"png"));
  Img().GetImgSize((dir + L"window.png").c_str(), w, h);
  EXPECT_EQ(90, w);
  EXPECT_EQ(40, h);
  DestroyWindow(window);
}

}  // namespace
