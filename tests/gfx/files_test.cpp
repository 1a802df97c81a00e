// Files in and out of the graphics folder: the program's own resources, resource editing of a copy
// of a program, picture files that CKvImage writes, and skin packages.
#include <cstring>
#include <functional>
#include <set>

#include "gfx/resource_utils.h"
#include "gfx/skin.h"
#include "tests/gfx/gfx.h"

namespace {

using namespace gfxtest;
using kvtest::ReadAll;

// A committed picture of the source tree, through Wine's Z: drive.
std::wstring Committed(const char* name) {
  std::wstring path = L"Z:" + kvtest::Wide(std::string(KV_SOURCE_DIR) + "/resources/" + name);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

TEST(Resources, ReadsGiveThePictureFileMissingOnesNothing) {
  const std::string file = ReadAll(Committed("progress_strip_60026.png")), size = std::to_string(file.size());
  ASSERT_EQ("\x89PNG", file.substr(0, 4));
  std::string buffer(file.size() + 8, '#');  // KvResSize bytes, and a guard behind them
  kv::ComPtr<IStream> stream;
  *stream.put() = KvResGetStream(60026, L"IMG");
  STATSTG stat = {};
  ASSERT_TRUE(stream && SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)));
  const std::wstring saved = Dir() + L"strip.png", absent = Dir() + L"absent.png", full = kvtest::FullDevice();
  const int intoBuffer = KvResGetBuff(60026, L"IMG", buffer.data()), intoFile = KvResSave(60026, L"IMG", saved.c_str());
  const int nothing =
      KvResSize(4242, L"IMG") + KvResSize(60026, L"NOPE") + KvResGetBuff(4242, L"IMG", buffer.data()) +
      KvResSave(4242, L"IMG", absent.c_str()) + KvResSave(60026, L"IMG", (Dir() + L"no\\such.png").c_str()) +
      (full.empty() ? 0 : KvResSave(60026, L"IMG", full.c_str())) + (KvResGetStream(4242, L"IMG") != nullptr);
  const std::tuple<const char*, std::string, std::string> rows[] = {
      {"size", std::to_string(KvResSize(60026, L"IMG")), size},
      {"stream size", std::to_string(stat.cbSize.QuadPart), size},
      {"stream", kvtest::ReadRest(stream.get()), file},
      {"buffer", std::to_string(intoBuffer) + buffer, "1" + file + "########"},
      {"file", std::to_string(intoFile) + ReadAll(saved), "1" + file},
      {"a predefined type by number", std::to_string(KvResSize(107, RT_GROUP_ICON)), "62"},
      {"nothing of an absent id or type, nor where no folder is or nothing fits",
       std::to_string(nothing) + std::to_string(kvtest::Exists(absent)), "00"},
  };
  for (const auto& [what, got, want] : rows) EXPECT_TRUE(want == got) << what << ": " << got.substr(0, 40);
}

// An .ico of three images whose bytes tell them apart: image i is (i + 1) * 10 bytes of 'a' + i.
std::string Ico(uint32_t lastOffset = 0) {
  std::string ico = kvtest::FromHex("000001000300");
  for (uint32_t i = 0, at = 6 + 48; i < 3; at += (i + 1) * 10, ++i) {
    const uint32_t fields[] = {(16u << i) * 0x101, 0x00200001, (i + 1) * 10, i == 2 && lastOffset ? lastOffset : at};
    ico.append(reinterpret_cast<const char*>(fields), sizeof(fields));
  }
  return ico + std::string(10, 'a') + std::string(20, 'b') + std::string(30, 'c');
}

TEST(Resources, EditsWriteWholeOrLeaveTheProgramAsItWas) {
  const std::wstring exe = Dir() + L"edit.exe", huge = Dir() + L"huge.bin", picture = Committed("msg_info_60056.png");
  ASSERT_TRUE(kvtest::CopyProgram(L"kvtesthelper.exe", exe) &&
              kvtest::SparseFile(huge, 0x7FFFFFF0));  // more than memory holds
  kvtest::WriteText(Dir() + L"plain.txt", "not a program");
  kvtest::WriteText(Dir() + L"three.ico", Ico());
  kvtest::WriteText(Dir() + L"bad.ico", Ico(0x100000));                            // the last image lies past the end
  kvtest::WriteText(Dir() + L"short.ico", kvtest::FromHex("000001000500010203"));  // 5 announced, none there
  char data[] = "resource payload";
  const std::string before = ReadAll(exe);
  const std::pair<const char*, int> failures[] = {
      {"not a program", KvResUpdate2((Dir() + L"plain.txt").c_str(), 1, L"KVDATA", data, 4)},
      {"no program", KvResUpdate2((Dir() + L"absent.exe").c_str(), 1, L"KVDATA", data, 4)},
      {"no source", KvResUpdate(exe.c_str(), 1, L"KVDATA", (Dir() + L"absent.bin").c_str())},
      {"a source too large", KvResUpdate(exe.c_str(), 1, L"KVDATA", huge.c_str())},
      {"no icon file", ReplaceExeIco(exe.c_str(), (Dir() + L"absent.ico").c_str(), 107)},
      {"icon entries missing", ReplaceExeIco(exe.c_str(), (Dir() + L"short.ico").c_str(), 107)},
      {"an icon past the file's end", ReplaceExeIco(exe.c_str(), (Dir() + L"bad.ico").c_str(), 108)},
  };
  for (const auto& [what, result] : failures) EXPECT_EQ(0, result) << what;
  EXPECT_TRUE(before == ReadAll(exe)) << "a failed edit changed the program";
  EXPECT_NE(0, KvResUpdate2(exe.c_str(), 7, L"KVDATA", data, sizeof(data)));
  EXPECT_NE(0, KvResUpdate(exe.c_str(), 60099, L"IMG", picture.c_str()));
  EXPECT_NE(0, ReplaceExeIco(exe.c_str(), (Dir() + L"three.ico").c_str(), 107));
  kv::UniqueModule module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  auto resource = [&](const wchar_t* type, int id, WORD language) {
    HRSRC res = FindResourceExW(module.get(), type, MAKEINTRESOURCEW(id), language);
    const char* bytes = res ? static_cast<const char*>(LockResource(LoadResource(module.get(), res))) : nullptr;
    return bytes ? std::string(bytes, SizeofResource(module.get(), res)) : "<none>";
  };
  EXPECT_EQ(std::pair(std::string(data, sizeof(data)), ReadAll(picture)),
            std::pair(resource(L"KVDATA", 7, 0), resource(L"IMG", 60099, 0)));
  // The group names icons 0, 1 and 2, language 2052, with the images' sizes and lengths.
  EXPECT_EQ(
      "000001000300"
      "10100000010020000A0000000000"
      "2020000001002000140000000100"
      "40400000010020001E0000000200",
      kvtest::Hex(resource(RT_GROUP_ICON, 107, 2052)));
  EXPECT_EQ(std::pair(std::string(20, 'b'), std::string(30, 'c')),
            std::pair(resource(RT_ICON, 1, 2052), resource(RT_ICON, 2, 2052)));
  CKvImage image;  // pointed at the edited module, drawing finds the new picture there only
  int w = 0, h = 0, w52 = 0, h52 = 0;
  image.SetInst(module.get());
  image.GetImgSize(60099, w, h);
  image.GetImgSize(60052, w52, h52);
  EXPECT_EQ(std::tuple(32, 32, 0), std::tuple(w, h, w52));
}

TEST(PictureFiles, WrittenInTheAskedSizeAndTypeOrNotAtAll) {
  GUID png = {}, bmp = {};
  EXPECT_TRUE(Img().GetEncoderClsid(L"image/png", &png) >= 0 && Img().GetEncoderClsid(L"image/bmp", &bmp) >= 0 &&
              png != bmp);
  EXPECT_EQ(-1, Img().GetEncoderClsid(L"image/PNG", &png) + Img().GetEncoderClsid(L"image/none", &png) + 1);
  const std::wstring src = Picture(L"halves.png", 200, 100, [](int x, int) { return x < 100 ? kRed : kBlue; });
  const std::wstring d = Dir(), inPlace = d + L"in_place.png", full = kvtest::FullDevice();
  ASSERT_TRUE(CopyFileW(src.c_str(), inPlace.c_str(), FALSE));
  const struct {
    const char* what;
    std::function<bool()> call;
    std::wstring file;  // with a picture there: w x h starting with magic; otherwise nothing there
    int w = 0, h = 0;
    std::string magic = "";
  } rows[] = {
      {"zoom by percent, in place", [&] { return Img().Zoom(inPlace.c_str(), 50, 0, 0, nullptr, L"png"); }, inPlace,
       100, 50, "\x89PNG"},
      {"zoom to a height, as jpeg", [&] { return Img().Zoom(src.c_str(), 0, 0, 60, (d + L"h.jpg").c_str(), nullptr); },
       d + L"h.jpg", 120, 60, "\xFF\xD8"},
      {"zoom to a width", [&] { return Img().Zoom(src.c_str(), 0, 50, 0, (d + L"w.png").c_str(), L"png"); },
       d + L"w.png", 50, 25, "\x89PNG"},
      {"zoom to both", [&] { return Img().Zoom(src.c_str(), 0, 30, 70, (d + L"b.png").c_str(), L"png"); }, d + L"b.png",
       30, 70, "\x89PNG"},
      {"saved as bmp", [&] { return Img().SavePic(src.c_str(), (d + L"s.bmp").c_str(), L"bmp"); }, d + L"s.bmp", 200,
       100, "BM"},
      {"the screen", [&] { return Img().SaveScreen((d + L"screen.bmp").c_str(), L"bmp"); }, d + L"screen.bmp",
       GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), "BM"},
      {"zoom to nothing", [&] { return !Img().Zoom(src.c_str(), 0, 0, 0, nullptr, L"png"); }, src, 200, 100, "\x89PNG"},
      {"zoom of no picture", [&] { return !Img().Zoom((d + L"x.png").c_str(), 50, 0, 0, nullptr, L"png"); },
       d + L"x.png"},
      {"zoom with no encoder", [&] { return !Img().Zoom(src.c_str(), 50, 0, 0, (d + L"x.out").c_str(), L"nosuch"); },
       d + L"x.out"},
      {"save of no picture", [&] { return !Img().SavePic((d + L"x.png").c_str(), (d + L"n.bmp").c_str(), L"bmp"); },
       d + L"n.bmp"},
      {"save with no encoder", [&] { return !Img().SavePic(src.c_str(), (d + L"n.bmp").c_str(), L"nosuch"); },
       d + L"n.bmp"},
      {"the screen with no encoder", [&] { return !Img().SaveScreen((d + L"n.bmp").c_str(), L"nosuch"); },
       d + L"n.bmp"},
      {"zoom and save to a full disk",
       [&] {
         return full.empty() || (!Img().Zoom(src.c_str(), 50, 0, 0, full.c_str(), L"png") &&
                                 !Img().SavePic(src.c_str(), full.c_str(), L"bmp"));
       },
       d + L"n.bmp"},
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(row.call()) << row.what;
    int w = 0, h = 0;
    Img().GetImgSize(row.file.c_str(), w, h);
    EXPECT_EQ(std::tuple(row.w, row.h, row.magic), std::tuple(w, h, ReadAll(row.file).substr(0, row.magic.size())))
        << row.what;
  }
}

TEST(PictureFiles, RectanglesWindowsAndStreams) {
  kvtest::Frame f(80, 60);
  RECT area = {40, 30, 80, 60};
  FillRect(f.dc(), &area, kv::UniqueBrush(CreateSolidBrush(RGB(0, 255, 0))).get());
  const std::wstring path = Dir() + L"area.png";
  EXPECT_TRUE(Img().SavePic(f.dc(), area, path.c_str(), L"png"));  // the rectangle's own area
  Gdiplus::Bitmap saved(path.c_str(), FALSE);
  Gdiplus::Color first, last;
  saved.GetPixel(0, 0, &first), saved.GetPixel(39, 29, &last);
  EXPECT_EQ(
      std::tuple(40u, 30u, 0xFF00FF00u, 0xFF00FF00u),
      std::tuple(saved.GetWidth(), saved.GetHeight(), first.GetValue() | 0xFF000000, last.GetValue() | 0xFF000000));
  const Window window = MakeWindow(90, 40);
  int w = 0, h = 0;
  const std::wstring shot = Dir() + L"window.png";
  EXPECT_TRUE(Img().SavePic(window.get(), shot.c_str(), L"png") && Img().GetImgSize(shot.c_str(), w, h));
  EXPECT_EQ(std::pair(90, 40), std::pair(w, h));
  kv::ComPtr<IStream> stream;  // written after what the stream holds, and left after it
  ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  stream->Write("xyz", 3, nullptr);
  const auto bitmap = static_cast<HBITMAP>(GetCurrentObject(f.dc(), OBJ_BITMAP));
  EXPECT_FALSE(Img().BmToStream(bitmap, stream.get(), L"nosuch") ||
               Img().SavePic(f.dc(), area, (path + L"2").c_str(), L"nosuch") ||
               Img().SavePic(f.dc(), RECT{40, 30, 40, 60}, (path + L"2").c_str(), L"png") ||
               kvtest::Exists(path + L"2"));
  ASSERT_TRUE(Img().BmToStream(bitmap, stream.get(), L"png"));
  EXPECT_EQ("", kvtest::ReadRest(stream.get()));
  ASSERT_EQ(S_OK, stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr));
  EXPECT_EQ("xyz\x89PNG", kvtest::ReadRest(stream.get()).substr(0, 7));
}

using Records = std::multiset<std::pair<std::wstring, std::string>>;

// Names to data, read as the format is written down (a 60-byte name, a 4-byte length, the data),
// trusting nothing.
Records Parse(const std::string& package) {
  Records records;
  size_t at = 0;
  for (uint32_t length = 0; package.size() - at >= 64; at += 64 + length) {
    std::memcpy(&length, package.data() + at + 60, 4);
    if (length > package.size() - at - 64) break;
    records.emplace(reinterpret_cast<const wchar_t*>(package.substr(at, 60).append(2, '\0').data()),
                    package.substr(at + 64, length));
  }
  EXPECT_EQ(package.size(), at) << "trailing bytes";
  return records;
}

// One record as a package holds it; length overrides the data's own.
std::string Record(const std::wstring& name, const std::string& data, uint32_t length = ~0u) {
  std::string head(64, '\0');
  std::memcpy(head.data(), name.c_str(), name.size() * 2);
  length = length == ~0u ? static_cast<uint32_t>(data.size()) : length;
  std::memcpy(head.data() + 60, &length, 4);
  return head + data;
}

TEST(Skin, PackagesHoldEveryFileByItsNameOrFailWhole) {
  const std::wstring src = kvtest::FreshDir(L"gfx_skin"), out = Dir();
  const std::wstring big3 = kvtest::FreshDir(L"gfx_skin3"), big4 = kvtest::FreshDir(L"gfx_skin4");
  for (const wchar_t* name :
       {L"bg.png", L"ok_0.png", L"a.b.png", L".hidden", L"nodot", L"name_of_twenty_nine_character.png",
        L"name_of_thirty_characters_abcd.png", L"sub.folder\\inner.png"})
    kvtest::WriteText(src + name, kvtest::Utf8(name).substr(0, 2));
  kvtest::WriteText(src + L"empty.dat", "");
  CKvSkin skin;
  ASSERT_TRUE(skin.MakeSkin(src.c_str(), (out + L"pack.kvs").c_str()));
  // Up to the first dot after the last backslash; a name too long for 29 characters is left out.
  EXPECT_EQ((Records{{L"bg", "bg"},
                     {L"ok_0", "ok"},
                     {L"a", "a."},
                     {L"", ".h"},
                     {L"", "no"},
                     {L"empty", ""},
                     {L"name_of_twenty_nine_character", "na"}}),
            Parse(ReadAll(out + L"pack.kvs")));
  ASSERT_TRUE(kvtest::SparseFile(big3 + L"huge.bin", 3LL << 30) && kvtest::SparseFile(big4 + L"huge.bin", 4LL << 30));
  const std::tuple<const char*, std::wstring, std::wstring> failures[] = {
      {"no folder for the package", src, out + L"no\\such\\p.kvs"},
      {"no folder to pack", out + L"absent\\", out + L"empty.kvs"},
      {"a file too large for memory", big3, out + L"big.kvs"},
      {"a file too large for a record", big4, out + L"big.kvs"},
      {"a full disk", src, kvtest::FullDevice()}};
  for (const auto& [what, folder, package] : failures)
    EXPECT_FALSE(skin.MakeSkin(folder.c_str(), package.c_str())) << what;
  EXPECT_EQ(std::pair(true, std::string()), std::pair(kvtest::Exists(out + L"empty.kvs"), ReadAll(out + L"empty.kvs")));
  wchar_t themes[MAX_PATH + 8];
  std::fill(std::begin(themes), std::end(themes), L'z');
  skin.SetThemesName(std::wstring(300, L't').c_str());
  skin.GetThemesPath(themes);  // cut to the caller's 260 characters
  EXPECT_EQ(std::tuple(1, size_t{MAX_PATH - 1}, std::wstring(8, L'z')),
            std::tuple(skin.GetResType(), std::wcslen(themes), std::wstring(themes + MAX_PATH, 8)));
}

TEST(Skin, RecordsAreServedOnceFoundAndNeverReadPastTheEnd) {
  const std::wstring dir = kvtest::BinDir() + L"Skins\\kvtest_skin\\";
  CKvSkin skin;
  IStream *first = reinterpret_cast<IStream*>(1), *again = nullptr;
  EXPECT_FALSE(skin.GetRes(L"bg", first));  // nothing loaded
  kvtest::RemoveTree(dir);
  EXPECT_FALSE(skin.LoadSkin(L"kvtest_skin"));  // no package yet
  EXPECT_EQ(std::pair(2, (IStream*)nullptr), std::pair(skin.GetResType(), first));
  kvtest::WriteText(dir + L"skin.kvs",
                    Record(L"bg", "background") + Record(L"empty", "") + Record(L"dup", "1") + Record(L"dup", "2"));
  ASSERT_TRUE(skin.LoadSkin(nullptr) && skin.GetRes(L"bg", first));  // the skin named before
  char four[4];
  first->Read(four, 4, nullptr);
  ASSERT_TRUE(skin.GetRes(L"bg", again));  // the same stream, where the last reader left it
  EXPECT_EQ(std::pair(first, std::string("ground")), std::pair(again, kvtest::ReadRest(again)));
  ASSERT_TRUE(skin.GetRes(L"empty", first) && skin.GetRes(L"dup", again));
  STATSTG stat = {};
  first->Stat(&stat, STATFLAG_NONAME);
  EXPECT_EQ(std::pair(0ull, std::string("1")),
            std::pair(stat.cbSize.QuadPart, kvtest::ReadRest(again)));  // duplicates: the first
  EXPECT_FALSE(skin.GetRes(L"BG", first));                              // names compare exactly
  skin.FreeSkin();
  EXPECT_FALSE(skin.GetRes(L"bg", first));
  // Damaged: a length past the end (b claims 1000 bytes, 20 follow, c lies inside them), one that
  // wraps around (2^32 - 64 would bring a trusting walk back to the same record for ever), a head
  // cut short. What comes before stays readable.
  for (const auto& [package, cut] :
       {std::pair(Record(L"b", std::string(20, 'x') + Record(L"c", ""), 1000), L"b"),
        std::pair(Record(L"loop", "", 0xFFFFFFC0u), L"loop"), std::pair(Record(L"c", "").substr(0, 40), L"c")}) {
    kvtest::WriteText(dir + L"skin.kvs", Record(L"a", "data") + package);
    ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin") && skin.GetRes(L"a", first)) << kvtest::Utf8(cut);
    EXPECT_EQ("data", kvtest::ReadRest(first));
    EXPECT_FALSE(skin.GetRes(cut, first) || skin.GetRes(L"c", again) || first) << kvtest::Utf8(cut);
  }
  kvtest::RemoveTree(dir);
}

}  // namespace
