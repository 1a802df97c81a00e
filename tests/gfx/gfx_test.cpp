// Drawing into 32-bit frames, judged by known pixels of pictures whose parts each have a colour of their own;
// animations, through the frame observer; resources, picture files, skin packages, and what our wrappers decide.
#include "tests/support/kvtest.h"

#include <shlobj.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "gfx/clipboard.h"
#include "gfx/dialogs.h"
#include "gfx/font.h"
#include "gfx/icons.h"
#include "gfx/image.h"
#include "gfx/movie_observer.h"
#include "gfx/resource_utils.h"
#include "gfx/skin.h"
#include "util/handles.h"

namespace {

using kvtest::Frame;
using kvtest::ReadAll;

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kYellow = 0xFFFFFF00;
constexpr uint32_t kCyan = 0xFF00FFFF, kMagenta = 0xFFFF00FF, kMaroon = 0xFF800000, kNavy = 0xFF000080;
constexpr uint32_t kBands[] = {kRed, kGreen, kBlue, kYellow};
constexpr uint32_t kPieces[3][3] = {{kRed, kGreen, kBlue}, {kYellow, kCyan, kMagenta}, {kMaroon, kGreen, kNavy}};
CKvImage& Img() { return *GetKvImage(); }
const std::wstring& Dir() {
  static const std::wstring dir = kvtest::FreshDir(L"gfx");
  return dir;
}

// A PNG in Dir() whose pixel (x, y) is colour(x, y), straight alpha; made once per run.
std::wstring Picture(const wchar_t* name, int w, int h, uint32_t (*colour)(int, int)) {
  CLSID png = {};
  const std::wstring path = Dir() + name;
  if (Img().GetEncoderClsid(L"image/png", &png) < 0 || kvtest::Exists(path)) return path;
  Gdiplus::Bitmap picture(w, h, PixelFormat32bppARGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) picture.SetPixel(x, y, Gdiplus::Color(colour(x, y)));
  EXPECT_EQ(Gdiplus::Ok, picture.Save(path.c_str(), &png, nullptr)) << kvtest::Utf8(path);
  return path;
}

// Draws into a 120 x 60 frame: no ink may land outside bounds, and each probe {x, y, premultiplied
// colour} holds.
void Draws(const char* what, RECT r, std::vector<std::tuple<int, int, uint32_t>> probes,
           const std::function<bool(HDC)>& draw) {
  Frame f(120, 60);
  EXPECT_TRUE(draw(f.dc())) << what;
  EXPECT_EQ(f.Opaque(0, 0, 120, 60), f.Opaque(r.left, r.top, r.right, r.bottom)) << what << ": ink outside";
  for (const auto& [x, y, want] : probes)
    EXPECT_TRUE(kvtest::Near(f.At(x, y), want)) << what << " at " << x << "," << y << ": " << std::hex << f.At(x, y);
}

TEST(Image, DrawsKnownPixels) {
  RECT greenBlue = {5, 0, 15, 10};
  const std::wstring bands = Picture(L"bands.png", 20, 10, [](int x, int) { return kBands[x / 5]; });  // 5 wide
  const std::wstring absent = Dir() + L"absent.png", text = Dir() + L"text.png";
  const std::wstring nine = Picture(L"nine.png", 15, 15, [](int x, int y) { return kPieces[y / 5][x / 5]; });  // 5 x 5
  const wchar_t *b = bands.c_str(), *n = nine.c_str();
  kvtest::WriteText(text, "plain text, not a picture");
  Draws("a source rectangle at its own size", {3, 2, 13, 12},
        {{3, 2, kGreen}, {7, 11, kGreen}, {8, 2, kBlue}, {12, 11, kBlue}},
        [&](HDC dc) { return Img().DrawImg(dc, b, 3, 2, 0, 0, &greenBlue); });
  Draws("frame 7 of 4: the last", {2, 2, 22, 22}, {{12, 12, kYellow}},
        [&](HDC dc) { return Img().DrawStretchImg(dc, b, 2, 2, 20, 20, 0, 4, 7, 0); });
  Draws("frame 1 of 3, 6 wide: columns 18 and 19 never show", {0, 0, 6, 10},
        {{0, 5, kGreen}, {3, 5, kGreen}, {4, 5, kBlue}, {5, 9, kBlue}},
        [&](HDC dc) { return Img().DrawStretchImg(dc, b, 0, 0, 0, 0, 0, 3, 1, 0); });
  // Nine-slice, 5-pixel caps: each piece up to its edge, and not a pixel past it.
  const auto nineSlice = [&](HDC dc) { return Img().DrawStretchImg(dc, n, 10, 10, 90, 40, 5, 1, 0, 5); };
  Draws("nine-slice, top left", {10, 10, 100, 50},
        {{14, 14, kRed}, {15, 14, kGreen}, {14, 15, kYellow}, {15, 15, kCyan}}, nineSlice);
  Draws("nine-slice, the rest", {10, 10, 100, 50},
        {{55, 12, kGreen}, {95, 10, kBlue}, {97, 30, kMagenta}, {12, 30, kYellow}, {10, 45, kMaroon}, {99, 49, kNavy}},
        nineSlice);
  Draws("colour key: the green range goes", {0, 0, 20, 10}, {{2, 5, kRed}, {7, 5, 0}, {12, 5, kBlue}, {17, 5, kYellow}},
        [&](HDC dc) { return Img().DrawTranImg(dc, b, kGreen, 0xFF00FE00, 0, 0, 0, 0); });
  Draws("no red, half opacity", {0, 0, 20, 10}, {{2, 2, 0x80000000}, {12, 2, 0x80000080}, {17, 2, 0x80008000}},
        [&](HDC dc) { return Img().DrawImgEx(dc, b, 0, 1, 1, 0.5f, 0, 0, 0, 0); });
  Draws("turned 90 about the destination's centre", {14, 4, 26, 26}, {{20, 6, kRed}, {20, 23, kYellow}},
        [&](HDC dc) { return Img().DrawRotate(dc, b, 90, 10, 10, 0, 0); });
  // What does not decode draws nothing, yet succeeds; with no DC nothing does.
  Draws("nothing that decodes", {}, {}, [&](HDC dc) {
    return Img().DrawImg(dc, absent.c_str(), 0, 0, 0, 0, nullptr) &&
           Img().DrawImgEx(dc, text.c_str(), 1, 1, 1, 1, 0, 0, 0, 0) &&
           Img().DrawStretchImg(dc, 4242, L"IMG", 0, 0, 9, 9, 2, 1, 0, 2) && !Img().CheckImage(text.c_str()) &&
           Img().CheckImage(b) && !Img().DrawImg(nullptr, 60026, L"IMG", 0, 0, 0, 0, nullptr);
  });
}

// Text in a 20-pixel 宋体, in a box or about a point.
int Ink(Frame& f, const wchar_t* text, int x, int y, int w, int h, bool centre, bool limit = true) {
  Img().DrawString(f.dc(), GetKvFont()->GetFont(20, L"宋体", 0, 0, 0), text, x, y, w, h, RGB(255, 0, 0), 200, centre,
                   limit, 0);
  return f.Opaque(0, 0, f.w(), f.h());
}

TEST(Image, TextPlacementAndLineLimit) {
  const wchar_t* lines = L"这是一段很长的文字用来测试行数限制";
  Frame centred(300, 60), point(300, 80), limited(300, 60), unlimited(300, 60);
  EXPECT_TRUE(Ink(centred, L"卸载程序", 0, 0, 300, 60, true) && !centred.Opaque(0, 0, 100, 60) &&
              !centred.Opaque(200, 0, 300, 60) && !centred.Opaque(0, 0, 300, 15) && !centred.Opaque(0, 45, 300, 60));
  EXPECT_TRUE(Ink(point, L"取消", 150, 40, 0, 30, true) && !point.Opaque(0, 0, 120, 80) &&
              !point.Opaque(180, 0, 300, 80));
  EXPECT_TRUE(Ink(limited, lines, 0, 0, 120, 34, false) < Ink(unlimited, lines, 0, 0, 120, 34, false, false) &&
              !limited.Opaque(120, 0, 300, 60));  // whole lines only
}

// The face is read from the font in its wide form: on every code page the Chinese faces draw as
// the face the prefix maps them to (read as ANSI on code page 1252 they would turn into "??").
TEST(CodePage, ChineseFacesDrawAsTheirSubstitute) {
  EXPECT_TRUE(kvtest::ExpectedCodePage() == 0 || kvtest::ExpectedCodePage() == GetACP()) << GetACP();
  std::vector<uint32_t> first;
  for (const wchar_t* face : {L"WenQuanYi Micro Hei", L"宋体", L"微软雅黑"}) {
    Frame f(120, 40);
    Img().DrawString(f.dc(), GetKvFont()->GetFont(18, face, 0, 0, 0), L"卸 载", 0, 0, 120, 40, 0, 254, true, true, 0);
    first = first.empty() ? f.Pixels() : first;
    EXPECT_TRUE(f.Opaque(0, 0, 120, 40) > 40 && f.Pixels() == first) << kvtest::Utf8(face) << " on " << GetACP();
  }
}

// Each frame: the thread that drew it, its centre's colour and red level. Each thread is waited
// for through a handle of its own.
struct Shown {
  DWORD thread;
  char look;
  int level;
};
std::mutex g_lock;
std::map<int, std::vector<Shown>> g_shown;
std::map<int, std::vector<kv::UniqueHandleKernel>> g_threads;

void Observe(int id, HDC frame) {  // on the animation's thread
  const COLORREF c = GetPixel(frame, 30, 30);
  const char look = ".RGYB"[(GetRValue(c) > 200) | (GetGValue(c) > 200) << 1 | (GetBValue(c) > 200) << 2];
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_shown[id].empty() || g_shown[id].back().thread != GetCurrentThreadId())
    g_threads[id].emplace_back(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
  g_shown[id].push_back({GetCurrentThreadId(), look, GetRValue(c)});
}
std::vector<Shown> Frames(int id) {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_shown[id];
}
bool WaitFrames(int id, size_t n) {
  return kvtest::PollUntil([&] { return Frames(id).size() >= n; }, 20000);
}
bool Ended(int id) {
  std::vector<HANDLE> threads;
  std::lock_guard<std::mutex> hold(g_lock);
  for (const auto& thread : g_threads[id]) threads.push_back(thread.get());
  return WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 20000) == WAIT_OBJECT_0;
}

class Movie : public ::testing::Test {
 protected:
  void SetUp() override { kv::SetMovieFrameObserver(Observe); }
  void TearDown() override { kv::SetMovieFrameObserver(nullptr); }
  bool Play(int id, const std::wstring& path, int frames, int ms, int effect, HDC background) {
    const bool added = Img().AddMovie(window_.get(), path.c_str(), 0, 0, frames, ms, id, effect, 60, 60, background);
    Img().StartMovie(id);
    return added;
  }
  // Hidden: GDI works on it, and it covers nothing on the shared display.
  std::unique_ptr<HWND__, BOOL(WINAPI*)(HWND)> window_{
      CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr),
      DestroyWindow};
  kvtest::Frame black_{60, 60};  // a background: each frame starts from it
  std::wstring strip_ = Picture(L"strip.png", 240, 60, [](int x, int) { return kBands[x / 60]; });  // 4 frames
};

// A strip's frames in turn from one thread: restarted while the old thread pauses, the old one
// must not carry on beside the new one, which starts from frame 0; started while running, nothing
// changes. A window destroyed under an animation ends it.
TEST_F(Movie, FramesComeInTurnFromOneThreadUntilTheWindowGoes) {
  ASSERT_TRUE(Play(2101, strip_, 4, 300, 0, nullptr) && WaitFrames(2101, 1));
  Img().StopMovie(2101);
  Img().StartMovie(2101);
  ASSERT_TRUE(WaitFrames(2101, 3));
  Img().StartMovie(2101);
  ASSERT_TRUE(WaitFrames(2101, 7) && Play(2102, strip_, 0, 10, 0, nullptr) && WaitFrames(2102, 2));  // no frame count
  window_.reset();
  ASSERT_TRUE(kvtest::PollUntil([] { return Img().isStop(2101) && Img().isStop(2102); }, 20000) && Ended(2101) &&
              Ended(2102));
  std::string looks;
  for (const Shown& s : Frames(2101)) looks += s.thread == Frames(2101)[1].thread ? s.look : '-';
  EXPECT_TRUE(looks.substr(0, 7) == "-RGBYRG" && looks.find('-', 1) == std::string::npos) << looks;
  EXPECT_EQ('R', Frames(2102)[1].look);  // the whole picture as one frame
  CKvImage image;                        // running threads hold records by address: the list never grows past its room
  for (int id = 0; id < 100; ++id) ASSERT_TRUE(image.AddMovie(nullptr, L"x.png", 0, 0, 1, 50, id, 0, 1, 1, nullptr));
  EXPECT_FALSE(image.AddMovie(nullptr, L"x.png", 0, 0, 1, 50, 100, 0, 1, 1, nullptr));
}

// In single precision (1 / 47) * 47 is not exactly 1: whatever the arithmetic, a fade ends on its
// last frame, at its end value.
TEST_F(Movie, FadesEndOnTheirLastFrame) {
  const std::wstring white = Picture(L"white.png", 30, 30, [](int, int) { return 0xFFFFFFFFu; });
  std::vector<int> long48(48, -1);  // -1: any level
  long48.back() = 255;
  const std::tuple<int, int, std::vector<int>> rows[] = {
      {2201, 3, {0, 64, 128, 191, 255}}, {2202, 4, {255, 191, 128, 64, 0}}, {2204, 3, {0, 255}}, {2205, 3, long48}};
  for (const auto& [id, effect, levels] : rows) {
    ASSERT_TRUE(Play(id, white, static_cast<int>(levels.size()), 1, effect, black_.dc()));
    ASSERT_TRUE(WaitFrames(id, levels.size()) && Ended(id));
    const std::vector<Shown> shown = Frames(id);
    ASSERT_EQ(levels.size(), shown.size()) << id;
    for (size_t i = 0; i < shown.size(); ++i)
      EXPECT_NEAR(levels[i] < 0 ? shown[i].level : levels[i], shown[i].level, 3) << id << " frame " << i;
  }
}

// A resource is saved whole, or the save reports failure: no such id, no such folder, a full disk.
TEST(Resources, SavedWholeOrNotAtAll) {
  std::string bytes(KvResSize(60026, L"IMG"), '#');
  const std::wstring saved = Dir() + L"saved.png", absent = Dir() + L"absent.png", full = kvtest::FullDevice();
  ASSERT_TRUE(bytes.size() > 8 && KvResGetBuff(60026, L"IMG", bytes.data()) && KvResSave(60026, L"IMG", saved.c_str()));
  EXPECT_TRUE(bytes.substr(0, 4) == "\x89PNG" && bytes == ReadAll(saved));
  EXPECT_EQ(0, KvResSave(4242, L"IMG", absent.c_str()) + kvtest::Exists(absent) +
                   KvResSave(60026, L"IMG", (Dir() + L"no\\such.png").c_str()) +
                   (full.empty() ? 0 : KvResSave(60026, L"IMG", full.c_str())));
}

// A failed edit leaves the program as it was. An .ico of two images, 16 and 32 pixels, 10 bytes of
// 'a' and 20 of 'b', goes in as a group that names each image by number; an .ico whose entries are
// missing, or whose second image lies past its end, fails.
TEST(Resources, EditsWriteWholeOrLeaveTheProgramAsItWas) {
  const std::wstring d = Dir(), exe = d + L"edit.exe";
  const std::string ico = "00000100020010100000010020000A00000026000000202000000100200014000000";
  ASSERT_TRUE(kvtest::CopyProgram(L"kvtesthelper.exe", exe));
  kvtest::WriteText(d + L"two.ico", kvtest::FromHex(ico + "30000000") + std::string(10, 'a') + std::string(20, 'b'));
  kvtest::WriteText(d + L"bad.ico", kvtest::FromHex(ico + "30001000") + std::string(10, 'a') + std::string(20, 'b'));
  kvtest::WriteText(d + L"short.ico", kvtest::FromHex("000001000500010203"));
  const std::string before = ReadAll(exe);
  EXPECT_FALSE(ReplaceExeIco(exe.c_str(), (d + L"short.ico").c_str(), 107) ||
               ReplaceExeIco(exe.c_str(), (d + L"bad.ico").c_str(), 108));
  EXPECT_TRUE(before == ReadAll(exe)) << "a failed edit changed the program";
  ASSERT_TRUE(ReplaceExeIco(exe.c_str(), (d + L"two.ico").c_str(), 107));
  kv::UniqueModule module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  auto resource = [&](const wchar_t* type, int id) {
    HRSRC res = FindResourceExW(module.get(), type, MAKEINTRESOURCEW(id), 2052);
    const char* bytes = res ? static_cast<const char*>(LockResource(LoadResource(module.get(), res))) : "";
    return std::string(bytes, res ? SizeofResource(module.get(), res) : 0);
  };
  EXPECT_EQ(std::pair(std::string(20, 'b'),
                      std::string("00000100020010100000010020000A00000000002020000001002000140000000100")),
            std::pair(resource(RT_ICON, 1), kvtest::Hex(resource(RT_GROUP_ICON, 107))));
}

// Written, w x h and starting with magic; or (w 0) reported as failed, and nothing there.
void Writes(const char* what, bool written, const std::wstring& file, int w, int h = 0, std::string magic = "") {
  int gotW = 0, gotH = 0;
  Img().GetImgSize(file.c_str(), gotW, gotH);
  EXPECT_EQ(std::tuple(w != 0, w, h, magic), std::tuple(written, gotW, gotH, ReadAll(file).substr(0, magic.size())))
      << what;
}

TEST(PictureFiles, WrittenInTheAskedSizeAndTypeOrNotAtAll) {
  const std::wstring src = Picture(L"halves.png", 200, 100, [](int x, int) { return x < 100 ? kRed : kBlue; });
  const std::wstring d = Dir(), inPlace = d + L"in_place.png", full = kvtest::FullDevice();
  ASSERT_TRUE(CopyFileW(src.c_str(), inPlace.c_str(), FALSE));
  Writes("zoom by percent, in place", Img().Zoom(inPlace.c_str(), 50, 0, 0, nullptr, L"png"), inPlace, 100, 50,
         "\x89PNG");
  Writes("zoom to a height, as jpeg", Img().Zoom(src.c_str(), 0, 0, 60, (d + L"h.jpg").c_str(), nullptr), d + L"h.jpg",
         120, 60, "\xFF\xD8");
  Writes("saved as bmp", Img().SavePic(src.c_str(), (d + L"s.bmp").c_str(), L"bmp"), d + L"s.bmp", 200, 100, "BM");
  Writes("save with no encoder", Img().SavePic(src.c_str(), (d + L"n.bmp").c_str(), L"nosuch"), d + L"n.bmp", 0);
  if (!full.empty()) {  // a full disk: the encoder fails as it writes
    Writes("zoom to a full disk", Img().Zoom(src.c_str(), 50, 0, 0, full.c_str(), L"png"), d + L"n.bmp", 0);
    Writes("save to a full disk", Img().SavePic(src.c_str(), full.c_str(), L"bmp"), d + L"n.bmp", 0);
  }
  kvtest::Frame f(80, 60);
  const RECT area = {40, 30, 80, 60};
  Writes("a rectangle of a dc", Img().SavePic(f.dc(), area, (d + L"area.png").c_str(), L"png"), d + L"area.png", 40,
         30);
  Writes("an empty rectangle", Img().SavePic(f.dc(), RECT{40, 30, 40, 60}, (d + L"e.png").c_str(), L"png"),
         d + L"e.png", 0);
}

// One record as a package holds it (a 60-byte name, a 4-byte length, the data); length overrides
// the data's own.
std::string Record(const std::wstring& name, const std::string& data, uint32_t length = ~0u) {
  std::string head(64, '\0');
  std::memcpy(head.data(), name.c_str(), name.size() * 2);
  length = length == ~0u ? static_cast<uint32_t>(data.size()) : length;
  std::memcpy(head.data() + 60, &length, 4);
  return head + data;
}

// Made from a folder and read back by name: up to the first dot after the last backslash, a name
// too long for 29 characters left out.
TEST(Skin, PackagesHoldEveryFileByItsNameOrFailWhole) {
  const std::wstring src = kvtest::FreshDir(L"gfx_skin"), big = kvtest::FreshDir(L"gfx_skin4"), out = Dir();
  const std::wstring package = kvtest::BinDir() + L"Skins\\kvtest_skin\\skin.kvs";  // where LoadSkin looks
  for (const wchar_t* name : {L"bg.png", L"a.b.png", L"nodot", L"name_of_twenty_nine_character.png",
                              L"name_of_thirty_characters_abcd.png", L"sub.folder\\inner.png"})
    kvtest::WriteText(src + name, kvtest::Utf8(name).substr(0, 3));
  kvtest::WriteText(src + L"empty.dat", "");
  kvtest::WriteText(package, "");
  CKvSkin skin;
  ASSERT_TRUE(skin.MakeSkin(src.c_str(), package.c_str()) && skin.LoadSkin(L"kvtest_skin"));
  IStream* stream = nullptr;
  std::string got;
  for (const wchar_t* name : {L"bg", L"a", L"", L"name_of_twenty_nine_character", L"empty", L"inner", L"sub",
                              L"name_of_thirty_characters_abc"})
    got += skin.GetRes(name, stream) ? kvtest::ReadRest(stream) + "|" : "-|";
  EXPECT_EQ("bg.|a.b|nod|nam||-|-|-|", got);
  ASSERT_TRUE(kvtest::SparseFile(big + L"huge.bin", 4LL << 30));
  EXPECT_FALSE(skin.MakeSkin(src.c_str(), (out + L"no\\such\\p.kvs").c_str()) ||
               skin.MakeSkin(big.c_str(), (out + L"big.kvs").c_str()) ||  // more than a record's length holds
               skin.MakeSkin(src.c_str(), kvtest::FullDevice().c_str()));
}

TEST(Skin, RecordsAreServedOnceFoundAndNeverReadPastTheEnd) {
  const std::wstring dir = kvtest::BinDir() + L"Skins\\kvtest_skin\\";
  CKvSkin skin;
  IStream *first = nullptr, *again = nullptr;
  kvtest::WriteText(dir + L"skin.kvs", Record(L"bg", "background") + Record(L"dup", "1") + Record(L"dup", "2"));
  ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin") && skin.GetRes(L"bg", first));
  char four[4];
  first->Read(four, 4, nullptr);
  ASSERT_TRUE(skin.GetRes(L"bg", again));  // the same stream, where the last reader left it
  EXPECT_EQ(std::pair(first, std::string("ground")), std::pair(again, kvtest::ReadRest(again)));
  EXPECT_TRUE(skin.GetRes(L"dup", again) && kvtest::ReadRest(again) == "1" && !skin.GetRes(L"BG", first));
  // Damaged: a length past the end (b claims 100 bytes, 84 follow, c lies inside them), one that
  // wraps around (2^32 - 64 would bring a trusting walk back to the same record for ever), a head
  // cut short. What comes before stays readable.
  for (const auto& [package, cut] :
       {std::pair(Record(L"b", std::string(20, 'x') + Record(L"c", ""), 100), L"b"),
        std::pair(Record(L"loop", "", 0xFFFFFFC0u), L"loop"), std::pair(Record(L"c", "").substr(0, 40), L"c")}) {
    kvtest::WriteText(dir + L"skin.kvs", Record(L"a", "data") + package);
    ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin") && skin.GetRes(L"a", first)) << kvtest::Utf8(cut);
    EXPECT_EQ("data", kvtest::ReadRest(first));
    EXPECT_FALSE(skin.GetRes(cut, first) || skin.GetRes(L"c", again) || first) << kvtest::Utf8(cut);
  }
  kvtest::RemoveTree(dir);
}

// YaHei is found by its file in the fonts folder, put there for a moment (the run holds the
// fonts_folder lock); the choice is made once, when the cache is made. One font per key.
TEST(Font, DefaultFaceFollowsYaHeiAndEachKeyMakesOneFont) {
  wchar_t fonts[MAX_PATH] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, fonts, CSIDL_FONTS, FALSE));
  for (const wchar_t* file : {L"", L"\\msyh.ttc", L"\\msyh.ttf"}) {
    const std::wstring path = fonts + std::wstring(file), face = *file ? L"微软雅黑" : L"宋体";
    if (*file) kvtest::WriteText(path, "only its name counts");
    CKvFont cache;
    DeleteFileW(path.c_str());
    LOGFONTW lf = {};
    GetObjectW(cache.GetFont(0, nullptr, 0, 0, 0), sizeof(lf), &lf);
    EXPECT_TRUE(cache.isSupportYaHei() == (*file != 0) && face == lf.lfFaceName && lf.lfHeight == (*file ? 18 : 12) &&
                cache.GetFont(9, L"宋体", 1, 0, 0) == cache.GetFont(9, L"宋体", 1, 0, 0) &&
                cache.GetFont(9, L"宋体", 1, 0, 0) != cache.GetFont(9, L"宋体", 2, 0, 0))
        << kvtest::Utf8(file);
  }
}

// The address of a shortcut's icon comes from a downloaded file: nothing in it may lead out of the
// temporary folder, nor name a device.
TEST(Icons, LocalNameOfAnIconAddress) {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"HTTP://Host/A/b.ico", L"host_a_b.ico"},
      {L"http://h/..\\..\\Startup\\evil.exe", L"h_.._.._startup_evil.exe"},
      {L"http://h/q?a=<b>|*:\"", L"h_q_a=_b_____"},
      {L"..", L""},
      {L"http://com1.x.ico", L""},
      {L"http://" + std::wstring(300, L'a'), L""}};
  for (const auto& [address, name] : rows)
    EXPECT_EQ(name.empty() ? L"" : temp + name, kv::UrlIconLocalPath(address)) << kvtest::Utf8(address);
}

// Cancelled: a failure, and nothing left in the buffer.
TEST(CodePage, FolderDialogTitleFollowsTheCodePage) {
  wchar_t buffer[MAX_PATH] = L"left over";
  int result = -1;
  std::wstring texts = L"|";
  const auto readAndCancel = [&](HWND dialog) {
    wchar_t text[256];
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
      texts += std::wstring(text, GetWindowTextW(child, text, 256)) + L"|";
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  };
  ASSERT_TRUE(kvtest::Drive([&] { result = ShowSelDir(buffer, nullptr); }, readAndCancel));
  EXPECT_EQ(std::pair(0, std::wstring()), std::pair(result, std::wstring(buffer)));
  const wchar_t* title = GetACP() == 1252 ? L"|Please select the folder|" : L"|请选择文件夹|";
  EXPECT_NE(std::wstring::npos, texts.find(title)) << kvtest::Utf8(texts);
}

// Nothing is written past the room; with no text on the clipboard the buffer stays as it was.
TEST(Clipboard, TextIsCutToTheRoom) {
  const std::tuple<const wchar_t*, int, const wchar_t*> rows[] = {
      {L"栎禾软件 kv", 64, L"栎禾软件 kv"}, {L"abcde", 5, L"abcd"}, {L"abcde", 6, L"abcde"}, {L"", 8, L"kept"}};
  for (const auto& [text, room, want] : rows) {
    wchar_t buffer[65] = L"kept";
    std::fill(buffer + 5, std::end(buffer), L'#');
    *text ? SetClipboard(text) : (OpenClipboard(nullptr) && EmptyClipboard() && CloseClipboard());
    ASSERT_EQ(1, GetClipboard(buffer, room));
    EXPECT_EQ(std::wstring(want) + L"#", buffer + std::wstring(1, buffer[room]));
  }
}

}  // namespace
