// The font cache on the prefix's real fonts folder. YaHei detection looks for files there, so the
// tests place msyh.ttc / msyh.ttf briefly (this test holds the fonts_folder lock meanwhile).
#include "gfx/font.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <memory>
#include <string>

#include "tests/support/test_support.h"

namespace {

std::wstring FontsFolder() {
  wchar_t path[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, path, CSIDL_FONTS, FALSE);
  return path;
}

// Puts a file of that name into the fonts folder for the life of the object.
class PlacedFont {
 public:
  explicit PlacedFont(const wchar_t* name) : path_(FontsFolder() + L"\\" + name) {
    kvtest::WriteText(path_, "not a real font, only its name matters");
  }
  ~PlacedFont() { DeleteFileW(path_.c_str()); }

 private:
  std::wstring path_;
};

LOGFONTW Read(HFONT font) {
  LOGFONTW lf = {};
  EXPECT_NE(0, GetObjectW(font, sizeof(lf), &lf));
  return lf;
}

class FontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteFileW((FontsFolder() + L"\\msyh.ttc").c_str());
    DeleteFileW((FontsFolder() + L"\\msyh.ttf").c_str());
  }
};

TEST_F(FontTest, WithoutYaHeiTheDefaultIsSimSun12) {
  CKvFont cache;
  EXPECT_EQ(0, cache.isSupportYaHei());
  EXPECT_EQ(12, cache.GetDefaultSize());
  const LOGFONTW lf = Read(cache.GetFont(0, nullptr, 0, 0, 0));
  EXPECT_STREQ(L"宋体", lf.lfFaceName);
  EXPECT_EQ(12, lf.lfHeight);
  EXPECT_EQ(FW_NORMAL, lf.lfWeight);
  EXPECT_EQ(PROOF_QUALITY, lf.lfQuality);
}

TEST_F(FontTest, YaHeiIsFoundAsTtcOrTtf) {
  for (const wchar_t* file : {L"msyh.ttc", L"msyh.ttf"}) {
    std::unique_ptr<CKvFont> cache;
    {
      PlacedFont placed(file);
      cache = std::make_unique<CKvFont>();
      EXPECT_EQ(1, cache->CheckFont(L"微软雅黑"));
    }
    EXPECT_EQ(1, cache->isSupportYaHei()) << kvtest::Utf8(file);
    EXPECT_EQ(18, cache->GetDefaultSize());
    const LOGFONTW lf = Read(cache->GetFont(0, nullptr, 0, 0, 0));
    EXPECT_STREQ(L"微软雅黑", lf.lfFaceName);
    EXPECT_EQ(18, lf.lfHeight);
    // The flag was settled at construction; the file is gone now.
    EXPECT_EQ(0, cache->CheckFont(L"微软雅黑"));
  }
}

TEST_F(FontTest, OnlyYaHeiCanBeDetected) {
  CKvFont cache;
  PlacedFont placed(L"msyh.ttc");
  EXPECT_EQ(1, cache.CheckFont(L"微软雅黑"));
  EXPECT_EQ(0, cache.CheckFont(L"宋体"));  // installed (replaced) all the same
  EXPECT_EQ(0, cache.CheckFont(L"Microsoft YaHei"));
  EXPECT_EQ(0, cache.CheckFont(nullptr));
}

TEST_F(FontTest, SameKeySameHandleDifferentKeysDifferentHandles) {
  CKvFont cache;
  HFONT a = cache.GetFont(0, nullptr, 0, 0, 0);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(a, cache.GetFont(0, nullptr, 0, 0, 0));
  EXPECT_EQ(a, cache.GetFont(12, L"宋体", 0, 0, 0));  // the default spelled out is the same key

  HFONT bold1 = cache.GetFont(12, L"宋体", 1, 0, 0);
  HFONT bold2 = cache.GetFont(12, L"宋体", 2, 0, 0);
  EXPECT_NE(bold1, bold2);
  EXPECT_NE(a, bold1);
  EXPECT_EQ(FW_BOLD, Read(bold1).lfWeight);
  EXPECT_EQ(FW_BOLD, Read(bold2).lfWeight);
  EXPECT_EQ(bold2, cache.GetFont(12, L"宋体", 2, 0, 0));

  // Faces compare exactly.
  EXPECT_NE(cache.GetFont(12, L"SimSun", 0, 0, 0), cache.GetFont(12, L"simsun", 0, 0, 0));
}

TEST_F(FontTest, StyleBytesAndStockFields) {
  CKvFont cache;
  LOGFONTW stock = {};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(stock), &stock);
  const LOGFONTW lf = Read(cache.GetFont(-16, L"宋体", 0, 0x101, 0x201));
  EXPECT_EQ(-16, lf.lfHeight);
  EXPECT_EQ(1, lf.lfUnderline);  // low bytes only
  EXPECT_EQ(1, lf.lfItalic);
  EXPECT_EQ(stock.lfCharSet, lf.lfCharSet);
  EXPECT_EQ(stock.lfPitchAndFamily, lf.lfPitchAndFamily);
  EXPECT_EQ(stock.lfOutPrecision, lf.lfOutPrecision);
}

TEST_F(FontTest, SetDefaultFontAffectsOnlyNewFonts) {
  CKvFont cache;
  HFONT before = cache.GetFont(0, nullptr, 0, 0, 0);
  cache.SetDefaultFont(14, L"宋体", 134);
  EXPECT_EQ(14, cache.GetDefaultSize());
  HFONT after = cache.GetFont(0, nullptr, 0, 0, 0);
  EXPECT_NE(before, after);
  const LOGFONTW lf = Read(after);
  EXPECT_EQ(14, lf.lfHeight);
  EXPECT_EQ(134, lf.lfCharSet);
  EXPECT_STREQ(L"宋体", lf.lfFaceName);
  EXPECT_EQ(12, Read(before).lfHeight);  // the old font is still alive and unchanged
  EXPECT_EQ(before, cache.GetFont(12, L"宋体", 0, 0, 0));

  cache.SetDefaultFont(20, L"Arial", -1);
  LOGFONTW stock = {};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(stock), &stock);
  EXPECT_EQ(stock.lfCharSet, Read(cache.GetFont(0, nullptr, 0, 0, 0)).lfCharSet);
}

TEST_F(FontTest, TheCacheOwnsAndDeletesItsFonts) {
  HFONT font = nullptr;
  {
    CKvFont cache;
    font = cache.GetFont(30, L"宋体", 0, 0, 0);
    ASSERT_NE(nullptr, font);
    LOGFONTW lf = {};
    EXPECT_NE(0, GetObjectW(font, sizeof(lf), &lf));
  }
  LOGFONTW lf = {};
  EXPECT_EQ(0, GetObjectW(font, sizeof(lf), &lf));
}

TEST_F(FontTest, LongFacesAreCutToWhatAFontHolds) {
  CKvFont cache;
  const std::wstring longFace(45, L'x');
  const LOGFONTW lf = Read(cache.GetFont(12, longFace.c_str(), 0, 0, 0));
  EXPECT_EQ(std::wstring(LF_FACESIZE - 1, L'x'), lf.lfFaceName);
}

TEST(FontService, OneProcessWideCache) {
  CKvFont* font = GetKvFont();
  ASSERT_NE(nullptr, font);
  EXPECT_EQ(font, GetKvFont());
  EXPECT_NE(nullptr, font->GetFont(0, nullptr, 0, 0, 0));
}

}  // namespace
