// CKvImage drawing into 32-bit frames, judged by known pixels of pictures whose parts each have a
// colour of their own.
#include <shlwapi.h>

#include <functional>

#include "gfx/font.h"
#include "gfx/resource_utils.h"
#include "tests/gfx/gfx.h"

namespace {

using namespace gfxtest;
using kvtest::Frame;

constexpr uint32_t kCyan = 0xFF00FFFF, kMagenta = 0xFFFF00FF, kMaroon = 0xFF800000, kNavy = 0xFF000080;
constexpr uint32_t kPieces[3][3] = {{kRed, kGreen, kBlue}, {kYellow, kCyan, kMagenta}, {kMaroon, kGreen, kNavy}};
std::wstring Bands() {
  return Picture(L"bands.png", 20, 10, [](int x, int) { return kBands[x / 5]; });
}  // 20 x 10
std::wstring Nine() {
  return Picture(L"nine.png", 15, 15, [](int x, int y) { return kPieces[y / 5][x / 5]; });
}  // 5 x 5 each

kv::ComPtr<IStream> Stream(const std::wstring& path) {
  const std::string bytes = kvtest::ReadAll(path);
  kv::ComPtr<IStream> stream;
  *stream.put() = SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
  return stream;
}

// Each row draws into a 120 x 60 frame: no ink may land outside bounds, and each probe {x, y,
// premultiplied colour} holds.
TEST(Image, DrawsKnownPixels) {
  RECT greenBlue = {5, 0, 15, 10};
  const std::wstring bands = Bands(), nine = Nine();
  const wchar_t *b = bands.c_str(), *n = nine.c_str();
  const struct {
    const char* what;
    std::function<bool(HDC)> draw;
    RECT bounds;
    std::vector<std::tuple<int, int, uint32_t>> probes;
  } rows[] = {
      {"natural size when only h is 0",
       [&](HDC dc) { return Img().DrawImg(dc, b, 5, 5, 50, 0, nullptr); },
       {5, 5, 25, 15},
       {{5, 5, kRed}, {24, 14, kYellow}}},
      {"a source rectangle at its own size",
       [&](HDC dc) { return Img().DrawImg(dc, b, 3, 2, 0, 0, &greenBlue); },
       {3, 2, 13, 12},
       {{3, 2, kGreen}, {7, 11, kGreen}, {8, 2, kBlue}, {12, 11, kBlue}}},
      {"frame 7 of 4: the last",
       [&](HDC dc) { return Img().DrawStretchImg(dc, b, 2, 2, 20, 20, 0, 4, 7, 0); },
       {2, 2, 22, 22},
       {{12, 12, kYellow}}},
      {"0 frames: the whole picture",
       [&](HDC dc) { return Img().DrawStretchImg(dc, b, 0, 0, 40, 10, 0, 0, 0, 0); },
       {0, 0, 40, 10},
       {{2, 5, kRed}, {37, 5, kYellow}}},
      {"frame 1 of 3, 6 wide: columns 18 and 19 never show",
       [&](HDC dc) { return Img().DrawStretchImg(dc, b, 0, 0, 0, 0, 0, 3, 1, 0); },
       {0, 0, 6, 10},
       {{0, 5, kGreen}, {3, 5, kGreen}, {4, 5, kBlue}, {5, 9, kBlue}}},
      {"nine-slice",
       [&](HDC dc) { return Img().DrawStretchImg(dc, n, 10, 10, 90, 40, 5, 1, 0, 5); },
       {10, 10, 100, 50},
       {{14, 14, kRed},
        {15, 14, kGreen},
        {14, 15, kYellow},
        {15, 15, kCyan},
        {95, 10, kBlue},
        {97, 30, kMagenta},
        {10, 49, kMaroon},
        {95, 45, kNavy},
        {99, 49, kNavy}}},
      {"nine-slice without a cap width",
       [&](HDC dc) { return Img().DrawStretchImg(dc, n, 0, 0, 60, 40, 0, 1, 0, 5); },
       {0, 0, 60, 40},
       {{30, 2, kGreen}, {30, 20, kCyan}, {30, 37, kGreen}}},
      {"three-slice",
       [&](HDC dc) { return Img().DrawStretchImg(dc, n, 10, 10, 90, 30, 5, 1, 0, 0); },
       {10, 10, 100, 40},
       {{12, 12, kRed}, {14, 25, kYellow}, {15, 25, kCyan}, {95, 25, kMagenta}, {97, 38, kNavy}}},
      {"colour key: the green range goes",
       [&](HDC dc) { return Img().DrawTranImg(dc, b, kGreen, 0xFF00FE00, 0, 0, 0, 0); },
       {0, 0, 20, 10},
       {{2, 5, kRed}, {7, 5, 0}, {12, 5, kBlue}, {17, 5, kYellow}}},
      {"half opacity",
       [&](HDC dc) { return Img().DrawImgEx(dc, b, 1, 1, 1, 0.5f, 0, 0, 0, 0); },
       {0, 0, 20, 10},
       {{2, 2, 0x80800000}, {17, 2, 0x80808000}}},
      {"no red",
       [&](HDC dc) { return Img().DrawImgEx(dc, b, 0, 1, 1, 1, 0, 0, 0, 0); },
       {0, 0, 20, 10},
       {{2, 2, 0xFF000000}, {17, 2, kGreen}}},
      {"mirrored",
       [&](HDC dc) { return Img().DrawRotateFlip(dc, b, 0, 0, 0, 0, Gdiplus::RotateNoneFlipX, 1); },
       {0, 0, 20, 10},
       {{1, 5, kYellow}, {18, 5, kRed}}},
      {"a quarter turn at half opacity",
       [&](HDC dc) { return Img().DrawRotateFlip(dc, b, 0, 0, 0, 0, Gdiplus::Rotate90FlipNone, 0.5f); },
       {0, 0, 10, 20},
       {{5, 1, 0x80800000}, {5, 18, 0x80808000}}},
      {"turned 90 about the destination's centre",
       [&](HDC dc) { return Img().DrawRotate(dc, b, 90, 10, 10, 0, 0); },
       {14, 4, 26, 26},
       {{20, 6, kRed}, {20, 23, kYellow}}},
      {"turned by 0, natural size",
       [&](HDC dc) { return Img().DrawRotate(dc, b, 0, 5, 5, 0, 20); },
       {5, 5, 25, 15},
       {{5, 5, kRed}, {24, 14, kYellow}}},
      {"three corners: mirrored and doubled",
       [&](HDC dc) { return Img().DrawRotate3D(dc, Stream(b).get(), 50, 5, 10, 5, 50, 25), true; },
       {9, 4, 51, 26},
       {{45, 15, kRed}, {15, 15, kYellow}}},
  };
  for (const auto& row : rows) {
    Frame f(120, 60);
    EXPECT_TRUE(row.draw(f.dc())) << row.what;
    const RECT& r = row.bounds;
    EXPECT_EQ(f.Opaque(0, 0, 120, 60), f.Opaque(r.left, r.top, r.right, r.bottom)) << row.what << ": ink outside";
    for (const auto& [x, y, want] : row.probes)
      EXPECT_TRUE(kvtest::Near(f.At(x, y), want))
          << row.what << " at " << x << "," << y << ": " << std::hex << f.At(x, y);
  }
}

TEST(Image, NullDcFailsMissingSourcesDrawNothing) {
  Frame f(64, 64);
  const std::wstring absent = Dir() + L"absent.png", text = Dir() + L"text.png", bands = Bands();
  const wchar_t *a = absent.c_str(), *t = text.c_str(), *b = bands.c_str();
  kvtest::WriteText(text, "plain text, not a picture");
  int w = -1, h = -1;
  ExpectRows({
      {"a null dc fails",
       [&] {
         return !Img().DrawImg(nullptr, 60026, L"IMG", 0, 0, 0, 0, nullptr) &&
                !Img().DrawRotate(nullptr, 60026, L"IMG", 90, 0, 0, 0, 0) &&
                !Img().DrawStretchImg(nullptr, b, 0, 0, 9, 9, 2, 1, 0, 2);
       }},
      {"text on a null dc", [] { return Img().DrawString(nullptr, nullptr, L"x", 0, 0, 9, 9, 0, 255, 0, 0, 0), true; }},
      {"no file, no picture, no resource: nothing drawn",
       [&] {
         return Img().DrawImg(f.dc(), a, 0, 0, 0, 0, nullptr) && Img().DrawImgEx(f.dc(), t, 1, 1, 1, 1, 0, 0, 0, 0) &&
                Img().DrawStretchImg(f.dc(), 4242, L"IMG", 0, 0, 9, 9, 2, 1, 0, 2) && !f.Opaque(0, 0, 64, 64);
       }},
      {"no file: 0 x 0", [&] { return Img().GetImgSize(a, w, h) && w == 0 && h == 0; }},
      {"a picture's size", [&] { return Img().GetImgSize(b, w, h) && w == 20 && h == 10; }},
      {"checks", [&] { return !Img().CheckImage(a) && !Img().CheckImage(t) && Img().CheckImage(b); }},
  });
}

// Each source form of an operation draws what its resource form draws (the decoded picture's
// DrawImg, where every form ends, is what every other row draws through).
template <bool kFile, bool kDecoded, class Op>
void SameFromEachForm(const char* what, Op op) {
  const std::wstring file = Dir() + L"info.png";
  ASSERT_EQ(1, KvResSave(60056, L"IMG", file.c_str()));
  Frame want(64, 64);
  op(want.dc(), 60056, L"IMG");
  EXPECT_GT(want.Opaque(0, 0, 64, 64), 50) << what;
  auto same = [&](const char* form, auto source) {
    Frame f(64, 64);
    op(f.dc(), source);
    EXPECT_TRUE(want.Pixels() == f.Pixels()) << what << " from " << form;
  };
  same("a stream", Stream(file).get());
  if constexpr (kFile) same("a file", file.c_str());
  if constexpr (kDecoded) same("a decoded picture", std::make_unique<Gdiplus::Image>(file.c_str(), FALSE).get());
}

TEST(Image, EverySourceFormDrawsTheSame) {
  RECT r = {4, 4, 28, 28};
  SameFromEachForm<true, false>("DrawImg", [&](HDC dc, auto... s) { Img().DrawImg(dc, s..., 3, 5, 40, 30, &r); });
  SameFromEachForm<true, false>("DrawImgEx",
                                [](HDC dc, auto... s) { Img().DrawImgEx(dc, s..., 1, 0.5f, 1, 0.6f, 2, 2, 0, 0); });
  SameFromEachForm<true, false>("DrawTranImg",
                                [](HDC dc, auto... s) { Img().DrawTranImg(dc, s..., ~0u, 0xFFE0E0E0, 0, 0, 64, 64); });
  SameFromEachForm<true, true>("DrawStretchImg",
                               [](HDC dc, auto... s) { Img().DrawStretchImg(dc, s..., 1, 1, 60, 50, 6, 2, 1, 5); });
  SameFromEachForm<true, false>("DrawRotate",
                                [](HDC dc, auto... s) { Img().DrawRotate(dc, s..., 30, 10, 10, 40, 40); });
  SameFromEachForm<false, false>("DrawRotate3D",
                                 [](HDC dc, auto... s) { Img().DrawRotate3D(dc, s..., 10, 5, 50, 15, 5, 45); });
  SameFromEachForm<true, false>("DrawRotateFlip", [](HDC dc, auto... s) {
    Img().DrawRotateFlip(dc, s..., 5, 5, 0, 0, Gdiplus::Rotate270FlipX, 0.7f);
  });
}

// Decoding starts where the stream stands: at its end there is nothing left to draw.
TEST(Image, IfSupportedStreamIsDecodedFromWhereItStands) {
  if (kvtest::LinuxPath(L"C:\\").size()) GTEST_SKIP() << "Wine's decoder rewinds a stream left at its end";
  const kv::ComPtr<IStream> stream = Stream(Dir() + L"info.png");
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_END, nullptr);
  Frame f(64, 64);
  EXPECT_TRUE(Img().DrawImg(f.dc(), stream.get(), 0, 0, 0, 0, nullptr) && !f.Opaque(0, 0, 64, 64));
}

// Where a text left ink (inclusive), and its most opaque pixel.
struct Ink {
  Ink(const wchar_t* text, int x, int y, int w, int h, bool centre, bool limit = true, DWORD colour = 0,
      int alpha = 254) {
    Frame f(600, 80);
    Img().DrawString(f.dc(), GetKvFont()->GetFont(20, L"宋体", 0, 0, 0), text, x, y, w, h, colour, alpha, centre, limit,
                     0);
    for (int j = 0; j < 80; ++j)
      for (int i = 0; i < 600; ++i)
        if (const uint32_t p = f.At(i, j); p && ++count) {
          left = std::min(left, i), right = std::max(right, i), top = std::min(top, j), bottom = std::max(bottom, j);
          strongest = p >> 24 > strongest >> 24 ? p : strongest;
        }
  }
  int cx() const { return (left + right) / 2; }
  int cy() const { return (top + bottom) / 2; }
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
  uint32_t strongest = 0;
};

TEST(Image, TextPlacementColourAndLineLimit) {
  const Ink centred(L"卸载程序", 0, 0, 300, 60, true), left(L"卸载程序", 0, 0, 300, 60, false);
  EXPECT_LE(
      std::max({std::abs(centred.cx() - 150) - 1, std::abs(centred.cy() - 30), left.left, std::abs(left.cy() - 30)}),
      5);
  EXPECT_EQ(centred.right - centred.left, left.right - left.left);
  const Ink point(L"取消", 150, 40, 0, 30, true);  // no box: about the point
  EXPECT_LE(std::max(std::abs(point.cx() - 150), std::abs(point.cy() - 40)), 5);
  EXPECT_GT(Ink(L"这是一段很长的文字用来测试", 5, 20, 0, 0, false).right, 205);  // not cut at a point
  // Premultiplied red at alpha 200: the most opaque pixel has red equal to alpha and no green.
  const uint32_t red = Ink(L"卸载", 0, 0, 200, 40, false, true, RGB(255, 0, 0), 200).strongest, alpha = red >> 24;
  EXPECT_TRUE(alpha + 5 >= 195 && alpha <= 200 && kvtest::Near(red & 0xFFFF0000, alpha * 0x1010000) && !(red & 0xFF00))
      << std::hex << red;
  const wchar_t* lines = L"这是一段很长的文字用来测试行数限制";
  const Ink limited(lines, 0, 0, 120, 34, false), unlimited(lines, 0, 0, 120, 34, false, false);
  EXPECT_TRUE(limited.count < unlimited.count && limited.right < 120);  // whole lines only
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
    EXPECT_TRUE(f.Opaque(0, 0, 120, 40) > 40 && f.Pixels() == first)
        << kvtest::Utf8(face) << " on code page " << GetACP();
  }
}

}  // namespace
