// The font cache on the prefix's real fonts folder. YaHei detection looks for files there, so the
// tests place msyh.ttc / msyh.ttf briefly (this test holds the fonts_folder lock meanwhile).
#include "gfx/font.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <tuple>

#include "tests/support/test_support.h"

namespace {

std::wstring FontFile(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, path, CSIDL_FONTS, FALSE);
  return std::wstring(path) + L"\\" + name;
}

// Puts a file of that name into the fonts folder for the life of the object.
struct PlacedFont {
  explicit PlacedFont(const wchar_t* name) : path(FontFile(name)) { kvtest::WriteText(path, "only its name matters"); }
  ~PlacedFont() { DeleteFileW(path.c_str()); }
  std::wstring path;
};

LOGFONTW Read(HGDIOBJ font) {
  LOGFONTW lf = {};
  EXPECT_NE(0, GetObjectW(font, sizeof(lf), &lf));
  return lf;
}

class FontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteFileW(FontFile(L"msyh.ttc").c_str());
    DeleteFileW(FontFile(L"msyh.ttf").c_str());
  }
};

TEST_F(FontTest, DefaultIsSimSun12WithoutYaHeiAndYaHei18WithIt) {
  CKvFont plain;
  LOGFONTW lf = Read(plain.GetFont(0, nullptr, 0, 0, 0));
  EXPECT_STREQ(L"宋体", lf.lfFaceName);
  EXPECT_EQ(std::tuple(0, 12, 12L, LONG{FW_NORMAL}, BYTE{PROOF_QUALITY}),
            std::tuple(plain.isSupportYaHei(), plain.GetDefaultSize(), lf.lfHeight, lf.lfWeight, lf.lfQuality));
  for (const wchar_t* file : {L"msyh.ttc", L"msyh.ttf"}) {
    std::unique_ptr<CKvFont> cache;
    {
      PlacedFont placed(file);
      cache = std::make_unique<CKvFont>();
      EXPECT_EQ(1, cache->CheckFont(L"微软雅黑"));
      EXPECT_EQ(0, cache->CheckFont(L"宋体"));  // installed (replaced) all the same: only YaHei is detected
      EXPECT_EQ(0, cache->CheckFont(L"Microsoft YaHei"));
      EXPECT_EQ(0, cache->CheckFont(nullptr));
    }
    lf = Read(cache->GetFont(0, nullptr, 0, 0, 0));
    EXPECT_STREQ(L"微软雅黑", lf.lfFaceName);
    EXPECT_EQ(std::tuple(1, 18, 18L), std::tuple(cache->isSupportYaHei(), cache->GetDefaultSize(), lf.lfHeight))
        << kvtest::Utf8(file);
    EXPECT_EQ(0, cache->CheckFont(L"微软雅黑"));  // the flag was settled at construction; the file is gone
  }
}

TEST_F(FontTest, KeysStyleBytesAndStockFields) {
  CKvFont cache;
  HFONT a = cache.GetFont(0, nullptr, 0, 0, 0);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(a, cache.GetFont(0, nullptr, 0, 0, 0));
  EXPECT_EQ(a, cache.GetFont(12, L"宋体", 0, 0, 0));  // the default spelled out is the same key
  HFONT bold1 = cache.GetFont(12, L"宋体", 1, 0, 0), bold2 = cache.GetFont(12, L"宋体", 2, 0, 0);
  EXPECT_NE(bold1, bold2);
  EXPECT_NE(a, bold1);
  EXPECT_EQ(FW_BOLD, Read(bold1).lfWeight);
  EXPECT_EQ(FW_BOLD, Read(bold2).lfWeight);
  EXPECT_EQ(bold2, cache.GetFont(12, L"宋体", 2, 0, 0));
  EXPECT_NE(cache.GetFont(12, L"SimSun", 0, 0, 0), cache.GetFont(12, L"simsun", 0, 0, 0));  // exact faces
  const LOGFONTW stock = Read(GetStockObject(DEFAULT_GUI_FONT)), lf = Read(cache.GetFont(-16, L"宋体", 0, 0x101, 0x201));
  EXPECT_EQ(std::tuple(-16L, BYTE{1}, BYTE{1}), std::tuple(lf.lfHeight, lf.lfUnderline, lf.lfItalic));  // low bytes
  EXPECT_EQ(std::tuple(stock.lfCharSet, stock.lfPitchAndFamily, stock.lfOutPrecision),
            std::tuple(lf.lfCharSet, lf.lfPitchAndFamily, lf.lfOutPrecision));
  // Faces are cut to what a font holds.
  EXPECT_EQ(std::wstring(LF_FACESIZE - 1, L'x'), Read(cache.GetFont(12, std::wstring(45, L'x').c_str(), 0, 0, 0)).lfFaceName);
}

TEST_F(FontTest, SetDefaultFontAffectsOnlyNewFonts) {
  CKvFont cache;
  HFONT before = cache.GetFont(0, nullptr, 0, 0, 0);
  cache.SetDefaultFont(14, L"宋体", 134);
  EXPECT_EQ(14, cache.GetDefaultSize());
  HFONT after = cache.GetFont(0, nullptr, 0, 0, 0);
  EXPECT_NE(before, after);
  const LOGFONTW lf = Read(after);
  EXPECT_EQ(std::pair(14L, BYTE{134}), std::pair(lf.lfHeight, lf.lfCharSet));
  EXPECT_STREQ(L"宋体", lf.lfFaceName);
  EXPECT_EQ(12, Read(before).lfHeight);  // the old font is still alive and unchanged
  EXPECT_EQ(before, cache.GetFont(12, L"宋体", 0, 0, 0));
  cache.SetDefaultFont(20, L"Arial", -1);
  EXPECT_EQ(Read(GetStockObject(DEFAULT_GUI_FONT)).lfCharSet, Read(cache.GetFont(0, nullptr, 0, 0, 0)).lfCharSet);
}

TEST_F(FontTest, TheCacheOwnsAndDeletesItsFonts) {
  HFONT font = nullptr;
  {
    CKvFont cache;
    font = cache.GetFont(30, L"宋体", 0, 0, 0);
    Read(font);
  }
  LOGFONTW lf = {};
  EXPECT_EQ(0, GetObjectW(font, sizeof(lf), &lf));
  ASSERT_NE(nullptr, GetKvFont());  // one process-wide cache
  EXPECT_EQ(GetKvFont(), GetKvFont());
  EXPECT_NE(nullptr, GetKvFont()->GetFont(0, nullptr, 0, 0, 0));
}

}  // namespace
