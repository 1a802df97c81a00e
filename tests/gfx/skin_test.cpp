// Skin packages written by MakeSkin from real folders, read back by the test byte by byte and by
// LoadSkin/GetRes; damaged packages are made by hand.
#include "gfx/skin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

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

struct Record {
  std::wstring name;
  Bytes data;
};

// Parses a package the way its format is written down, trusting nothing.
std::vector<Record> Parse(const Bytes& package) {
  std::vector<Record> records;
  size_t at = 0;
  while (package.size() - at >= 64) {
    wchar_t name[31] = {};
    std::memcpy(name, package.data() + at, 60);
    uint32_t length = 0;
    std::memcpy(&length, package.data() + at + 60, 4);
    if (length > package.size() - at - 64) break;
    records.push_back({name, Bytes(package.begin() + at + 64, package.begin() + at + 64 + length)});
    at += 64 + length;
  }
  EXPECT_EQ(package.size(), at) << "trailing bytes";
  return records;
}

// One record head plus data, as a package holds it.
Bytes Head(const std::wstring& name, uint32_t length) {
  Bytes head(64, 0);
  std::memcpy(head.data(), name.c_str(), name.size() * sizeof(wchar_t));
  std::memcpy(head.data() + 60, &length, 4);
  return head;
}

Bytes RecordBytes(const std::wstring& name, const std::string& data) {
  Bytes r = Head(name, static_cast<uint32_t>(data.size()));
  r.resize(64 + data.size());
  if (!data.empty()) std::memcpy(r.data() + 64, data.data(), data.size());
  return r;
}

std::string ReadStream(IStream* stream) {
  std::string out;
  char buffer[256];
  ULONG got = 0;
  while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &got)) && got) out.append(buffer, got);
  return out;
}

ULONGLONG Position(IStream* stream) {
  LARGE_INTEGER zero = {};
  ULARGE_INTEGER at = {};
  stream->Seek(zero, STREAM_SEEK_CUR, &at);
  return at.QuadPart;
}

// Where LoadSkin (name) looks for its package.
std::wstring SkinFolder(const std::wstring& name) { return kvtest::BinDir() + L"Skins\\" + name + L"\\"; }

class SkinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = kvtest::FreshDir(L"gfx_skin_src");
    kvtest::WriteText(source_ + L"bg.png", "background bytes");
    kvtest::WriteText(source_ + L"ok_0.png", "button state zero");
    kvtest::WriteText(source_ + L"empty.dat", "");
    CreateDirectoryW((source_ + L"sub.folder").c_str(), nullptr);
    kvtest::WriteText(source_ + L"sub.folder\\inner.png", "not packed");
  }
  void TearDown() override { kvtest::RemoveTree(SkinFolder(L"kvtest_skin")); }
  // Writes a package into the skin folder of name and returns its path.
  std::wstring Install(const std::wstring& name, const Bytes& package) {
    const std::wstring path = SkinFolder(name) + L"skin.kvs";
    kvtest::RemoveTree(SkinFolder(name));
    WriteAll(path, package);
    return path;
  }
  std::wstring source_;
};

TEST_F(SkinTest, MakeSkinPacksEveryFileOfTheFolder) {
  CKvSkin skin;
  const std::wstring package = kvtest::FreshDir(L"gfx_skin_out") + L"pack.kvs";
  ASSERT_TRUE(skin.MakeSkin(source_.c_str(), package.c_str()));
  std::map<std::wstring, std::string> found;
  for (const Record& r : Parse(ReadAll(package))) found[r.name] = std::string(r.data.begin(), r.data.end());
  ASSERT_EQ(3u, found.size());
  EXPECT_EQ("background bytes", found[L"bg"]);
  EXPECT_EQ("button state zero", found[L"ok_0"]);
  EXPECT_EQ("", found[L"empty"]);  // a 0-byte file: a bare 64-byte head
  EXPECT_EQ(0u, found.count(L"sub"));
  EXPECT_EQ(0u, found.count(L"inner"));
}

TEST_F(SkinTest, RecordNamesFollowTheFirstDotAfterTheLastBackslash) {
  const std::wstring dir = kvtest::FreshDir(L"gfx_skin_names");
  kvtest::WriteText(dir + L"a.b.png", "ab");
  kvtest::WriteText(dir + L".hidden", "hidden");
  kvtest::WriteText(dir + L"nodot", "nodot");
  kvtest::WriteText(dir + L"name_of_twenty_nine_character.png", "29");  // 29: fits
  kvtest::WriteText(dir + L"name_of_thirty_characters_abcd.png", "30");  // 30: left out
  CKvSkin skin;
  const std::wstring package = kvtest::FreshDir(L"gfx_skin_names_out") + L"names.kvs";
  ASSERT_TRUE(skin.MakeSkin(dir.c_str(), package.c_str()));
  std::multimap<std::wstring, std::string> found;
  for (const Record& r : Parse(ReadAll(package))) found.emplace(r.name, std::string(r.data.begin(), r.data.end()));
  EXPECT_EQ(4u, found.size());
  EXPECT_EQ("ab", found.find(L"a")->second);
  EXPECT_EQ(2u, found.count(L""));  // ".hidden" and "nodot"
  EXPECT_EQ(1u, found.count(L"name_of_twenty_nine_character"));
}

TEST_F(SkinTest, MakeSkinFailures) {
  CKvSkin skin;
  const std::wstring out = kvtest::FreshDir(L"gfx_skin_fail");
  EXPECT_FALSE(skin.MakeSkin(source_.c_str(), (out + L"no\\such\\folder\\p.kvs").c_str()));
  EXPECT_FALSE(skin.MakeSkin((out + L"absent\\").c_str(), (out + L"p.kvs").c_str()));
  EXPECT_TRUE(kvtest::Exists(out + L"p.kvs"));  // created, then left empty
  EXPECT_TRUE(ReadAll(out + L"p.kvs").empty());
}

TEST_F(SkinTest, ModesAndPaths) {
  CKvSkin skin;
  EXPECT_EQ(0, skin.GetResType());
  skin.SetThemesName(L"blue");
  EXPECT_EQ(1, skin.GetResType());
  wchar_t themes[MAX_PATH] = {};
  skin.GetThemesPath(themes);
  EXPECT_EQ(kvtest::BinDir() + L"Themes\\blue\\", std::wstring(themes));
  wchar_t small[8] = {};
  skin.GetThemesPath(small, 8);
  EXPECT_EQ(7u, std::wcslen(small));
  skin.SetSkinName(L"kvtest_skin");
  EXPECT_EQ(2, skin.GetResType());
  skin.SetResType(0);
  EXPECT_EQ(0, skin.GetResType());
  EXPECT_EQ(GetKvSkin(), GetKvSkin());
}

TEST_F(SkinTest, LoadedPackageServesStreamsOnceFound) {
  CKvSkin skin;
  IStream* stream = reinterpret_cast<IStream*>(1);
  EXPECT_FALSE(skin.GetRes(L"bg", stream));  // nothing loaded yet
  EXPECT_EQ(nullptr, stream);
  EXPECT_FALSE(skin.LoadSkin(L"kvtest_skin"));  // no package file yet
  EXPECT_EQ(2, skin.GetResType());

  ASSERT_TRUE(skin.MakeSkin(source_.c_str(), Install(L"kvtest_skin", {}).c_str()));
  ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin"));
  IStream* bg = nullptr;
  ASSERT_TRUE(skin.GetRes(L"bg", bg));
  ASSERT_NE(nullptr, bg);
  char four[4];
  bg->Read(four, 4, nullptr);
  // The same stream again, where the last reader left it.
  IStream* again = nullptr;
  ASSERT_TRUE(skin.GetRes(L"bg", again));
  EXPECT_EQ(bg, again);
  EXPECT_EQ(4u, Position(again));
  EXPECT_EQ("ground bytes", ReadStream(again));

  IStream* ok = nullptr;
  ASSERT_TRUE(skin.GetRes(L"ok_0", ok));
  EXPECT_EQ("button state zero", ReadStream(ok));
  IStream* empty = nullptr;
  ASSERT_TRUE(skin.GetRes(L"empty", empty));
  STATSTG stat = {};
  empty->Stat(&stat, STATFLAG_NONAME);
  EXPECT_EQ(0u, stat.cbSize.QuadPart);

  IStream* wrongCase = reinterpret_cast<IStream*>(1);
  EXPECT_FALSE(skin.GetRes(L"BG", wrongCase));
  EXPECT_EQ(nullptr, wrongCase);

  // FreeSkin drops the package and the streams; mode and paths stay.
  skin.FreeSkin();
  EXPECT_FALSE(skin.GetRes(L"bg", bg));
  EXPECT_EQ(2, skin.GetResType());
  ASSERT_TRUE(skin.LoadSkin(nullptr));  // the same skin location again
  EXPECT_TRUE(skin.GetRes(L"ok_0", ok));
}

TEST_F(SkinTest, LengthPastTheEndStopsTheWalk) {
  // "a" is whole; "b" claims 1000 bytes but 20 follow; "c" lies inside b's claimed data.
  Bytes package = RecordBytes(L"a", "0123456789");
  Bytes b = Head(L"b", 1000);
  b.insert(b.end(), 20, 'x');
  package.insert(package.end(), b.begin(), b.end());
  Install(L"kvtest_skin", package);
  CKvSkin skin;
  ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin"));
  IStream* stream = nullptr;
  ASSERT_TRUE(skin.GetRes(L"a", stream));
  EXPECT_EQ("0123456789", ReadStream(stream));
  EXPECT_FALSE(skin.GetRes(L"b", stream));
  EXPECT_EQ(nullptr, stream);
  EXPECT_FALSE(skin.GetRes(L"c", stream));
}

TEST_F(SkinTest, LengthThatWrapsAroundStopsTheWalk) {
  // A length of 2^32 - 64 would bring a trusting walk back to the same record for ever.
  Bytes package = RecordBytes(L"a", "data");
  const Bytes loop = Head(L"loop", 0xFFFFFFC0u);
  package.insert(package.end(), loop.begin(), loop.end());
  Install(L"kvtest_skin", package);
  CKvSkin skin;
  ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin"));
  IStream* stream = nullptr;
  EXPECT_FALSE(skin.GetRes(L"missing", stream));
  EXPECT_TRUE(skin.GetRes(L"a", stream));
}

TEST_F(SkinTest, HeadCutShortIsNotRead) {
  Bytes package = RecordBytes(L"a", "data");
  const Bytes c = Head(L"c", 0);
  package.insert(package.end(), c.begin(), c.begin() + 40);  // name present, length cut off
  Install(L"kvtest_skin", package);
  CKvSkin skin;
  ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin"));
  IStream* stream = nullptr;
  EXPECT_FALSE(skin.GetRes(L"c", stream));
  EXPECT_TRUE(skin.GetRes(L"a", stream));
}

TEST_F(SkinTest, DuplicateNamesFindTheFirst) {
  Bytes package = RecordBytes(L"dup", "first");
  const Bytes second = RecordBytes(L"dup", "second");
  package.insert(package.end(), second.begin(), second.end());
  Install(L"kvtest_skin", package);
  CKvSkin skin;
  ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin"));
  IStream* stream = nullptr;
  ASSERT_TRUE(skin.GetRes(L"dup", stream));
  EXPECT_EQ("first", ReadStream(stream));
}

}  // namespace
