// Skin packages written by MakeSkin from real folders, read back by the test byte by byte and by
// LoadSkin/GetRes; damaged packages are made by hand.
#include "gfx/skin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "tests/support/file_bytes.h"
#include "tests/support/test_support.h"

namespace {

using kvtest::Bytes;
using Records = std::multiset<std::pair<std::wstring, std::string>>;

// Parses a package the way its format is written down (60-byte name, 4-byte length, data),
// trusting nothing. Names to data.
Records Parse(const Bytes& package) {
  Records records;
  size_t at = 0;
  for (uint32_t length = 0; package.size() - at >= 64; at += 64 + length) {
    wchar_t name[31] = {};
    std::memcpy(name, package.data() + at, 60);
    std::memcpy(&length, package.data() + at + 60, 4);
    if (length > package.size() - at - 64) break;
    records.emplace(name, std::string(package.begin() + at + 64, package.begin() + at + 64 + length));
  }
  EXPECT_EQ(package.size(), at) << "trailing bytes";
  return records;
}

// One record as a package holds it; length overrides the data's own.
Bytes Record(const std::wstring& name, const std::string& data, uint32_t length = ~0u) {
  Bytes r(64 + data.size(), 0);
  if (length == ~0u) length = static_cast<uint32_t>(data.size());
  std::memcpy(r.data(), name.c_str(), name.size() * sizeof(wchar_t));
  std::memcpy(r.data() + 60, &length, 4);
  std::memcpy(r.data() + 64, data.data(), data.size());
  return r;
}

// Writes a package where LoadSkin(L"kvtest_skin") looks for it.
void Install(const Bytes& package) {
  kvtest::RemoveTree(kvtest::BinDir() + L"Skins\\kvtest_skin\\");
  kvtest::WriteText(kvtest::BinDir() + L"Skins\\kvtest_skin\\skin.kvs", std::string(package.begin(), package.end()));
}

class SkinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kvtest::WriteText(source_ + L"bg.png", "background bytes");
    kvtest::WriteText(source_ + L"ok_0.png", "button state zero");
    kvtest::WriteText(source_ + L"empty.dat", "");
    CreateDirectoryW((source_ + L"sub.folder").c_str(), nullptr);
    kvtest::WriteText(source_ + L"sub.folder\\inner.png", "not packed");
  }
  void TearDown() override { kvtest::RemoveTree(kvtest::BinDir() + L"Skins\\kvtest_skin\\"); }
  const std::wstring source_ = kvtest::FreshDir(L"gfx_skin_src");
  const std::wstring out_ = kvtest::FreshDir(L"gfx_skin_out");
};

TEST_F(SkinTest, MakeSkinPacksEveryFileOfTheFolderByName) {
  CKvSkin skin;
  ASSERT_TRUE(skin.MakeSkin(source_.c_str(), (out_ + L"pack.kvs").c_str()));
  // A 0-byte file is a bare head; folders are not packed.
  EXPECT_EQ((Records{{L"bg", "background bytes"}, {L"ok_0", "button state zero"}, {L"empty", ""}}),
            Parse(kvtest::ReadBytes(out_ + L"pack.kvs")));
  // The name runs up to the first dot after the last backslash and must fit its 29 characters.
  const std::wstring dir = kvtest::FreshDir(L"gfx_skin_names");
  for (const wchar_t* name : {L"a.b.png", L".hidden", L"nodot", L"name_of_twenty_nine_character.png",
                              L"name_of_thirty_characters_abcd.png"})
    kvtest::WriteText(dir + name, kvtest::Utf8(name).substr(0, 2));
  ASSERT_TRUE(skin.MakeSkin(dir.c_str(), (out_ + L"names.kvs").c_str()));
  EXPECT_EQ((Records{{L"a", "a."}, {L"", ".h"}, {L"", "no"}, {L"name_of_twenty_nine_character", "na"}}),
            Parse(kvtest::ReadBytes(out_ + L"names.kvs")));
}

TEST_F(SkinTest, MakeSkinFailures) {
  CKvSkin skin;
  EXPECT_FALSE(skin.MakeSkin(source_.c_str(), (out_ + L"no\\such\\folder\\p.kvs").c_str()));
  EXPECT_FALSE(skin.MakeSkin((out_ + L"absent\\").c_str(), (out_ + L"p.kvs").c_str()));
  EXPECT_TRUE(kvtest::Exists(out_ + L"p.kvs"));  // created, then left empty
  EXPECT_TRUE(kvtest::ReadBytes(out_ + L"p.kvs").empty());
  // A file of 3 GB cannot be held in this process's memory, nor one of 4 GB in a record: failures,
  // not exceptions.
  for (const long long size : {3LL << 30, 4LL << 30}) {
    const std::wstring big = kvtest::FreshDir(L"gfx_skin_big");
    kvtest::WriteText(big + L"small.png", "fits");
    ASSERT_TRUE(kvtest::SparseFile(big + L"huge.bin", size));
    EXPECT_FALSE(skin.MakeSkin(big.c_str(), (out_ + L"big.kvs").c_str())) << size;
  }
  // Nothing could be written: the package is no success either.
  if (kvtest::FullDevice().empty()) GTEST_SKIP() << "no device whose writes fail for want of room";
  EXPECT_FALSE(skin.MakeSkin(source_.c_str(), kvtest::FullDevice().c_str()));
}

TEST_F(SkinTest, ModesAndPaths) {
  CKvSkin skin;
  std::vector<int> modes = {skin.GetResType()};
  skin.SetThemesName(L"blue");
  modes.push_back(skin.GetResType());
  wchar_t themes[MAX_PATH + 8];
  std::fill(std::begin(themes), std::end(themes), L'z');
  skin.GetThemesPath(themes);
  EXPECT_EQ(kvtest::BinDir() + L"Themes\\blue\\", std::wstring(themes));
  skin.SetThemesName(std::wstring(300, L't').c_str());
  skin.GetThemesPath(themes);
  EXPECT_EQ(MAX_PATH - 1u, std::wcslen(themes)) << "cut to the callers' 260 characters";
  EXPECT_EQ(std::wstring(8, L'z'), std::wstring(themes + MAX_PATH, 8));
  skin.SetSkinName(L"kvtest_skin");
  modes.push_back(skin.GetResType());
  skin.SetResType(0);
  modes.push_back(skin.GetResType());
  EXPECT_EQ((std::vector<int>{0, 1, 2, 0}), modes);
  EXPECT_EQ(GetKvSkin(), GetKvSkin());
}

TEST_F(SkinTest, LoadedPackageServesStreamsOnceFound) {
  CKvSkin skin;
  IStream* stream = reinterpret_cast<IStream*>(1);
  EXPECT_FALSE(skin.GetRes(L"bg", stream));  // nothing loaded yet
  EXPECT_EQ(nullptr, stream);
  kvtest::RemoveTree(kvtest::BinDir() + L"Skins\\kvtest_skin\\");
  EXPECT_FALSE(skin.LoadSkin(L"kvtest_skin"));  // no package file yet
  EXPECT_EQ(2, skin.GetResType());
  Install({});
  ASSERT_TRUE(skin.MakeSkin(source_.c_str(), (kvtest::BinDir() + L"Skins\\kvtest_skin\\skin.kvs").c_str()));
  ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin"));
  IStream *bg = nullptr, *again = nullptr, *ok = nullptr, *empty = nullptr;
  ASSERT_TRUE(skin.GetRes(L"bg", bg));
  char four[4];
  bg->Read(four, 4, nullptr);
  ASSERT_TRUE(skin.GetRes(L"bg", again));  // the same stream, where the last reader left it
  EXPECT_EQ(bg, again);
  EXPECT_EQ("ground bytes", kvtest::ReadRest(again));
  ASSERT_TRUE(skin.GetRes(L"ok_0", ok));
  EXPECT_EQ("button state zero", kvtest::ReadRest(ok));
  ASSERT_TRUE(skin.GetRes(L"empty", empty));
  STATSTG stat = {};
  empty->Stat(&stat, STATFLAG_NONAME);
  EXPECT_EQ(0u, stat.cbSize.QuadPart);
  stream = reinterpret_cast<IStream*>(1);
  EXPECT_FALSE(skin.GetRes(L"BG", stream));  // names compare exactly
  EXPECT_EQ(nullptr, stream);
  skin.FreeSkin();  // drops the package and the streams; mode and paths stay
  EXPECT_FALSE(skin.GetRes(L"bg", bg));
  EXPECT_EQ(2, skin.GetResType());
  ASSERT_TRUE(skin.LoadSkin(nullptr));  // the same skin location again
  EXPECT_TRUE(skin.GetRes(L"ok_0", ok));
}

// Damaged packages: the walk stops at a record whose length runs past the end (b claims 1000
// bytes, 20 follow, and c lies inside them), wraps around (2^32 - 64 would bring a trusting walk
// back to the same record for ever) or whose head is cut short. What came before stays readable.
TEST_F(SkinTest, DamagedPackagesAreNeverReadPastTheirEnd) {
  auto join = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const struct {
    Bytes package;
    const wchar_t* cut;
  } cases[] = {
      {join({Record(L"a", "data"), Record(L"b", std::string(20, 'x'), 1000)}), L"b"},
      {join({Record(L"a", "data"), Record(L"loop", "", 0xFFFFFFC0u)}), L"loop"},
      {join({Record(L"a", "data"), [] { Bytes c = Record(L"c", ""); c.resize(40); return c; }()}), L"c"},
  };
  for (const auto& c : cases) {
    Install(c.package);
    CKvSkin skin;
    ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin"));
    IStream* stream = nullptr;
    ASSERT_TRUE(skin.GetRes(L"a", stream)) << kvtest::Utf8(c.cut);
    EXPECT_EQ("data", kvtest::ReadRest(stream));
    EXPECT_FALSE(skin.GetRes(c.cut, stream)) << kvtest::Utf8(c.cut);
    EXPECT_EQ(nullptr, stream);
    EXPECT_FALSE(skin.GetRes(L"c", stream));
  }
  // Duplicate names find the first.
  Install(join({Record(L"dup", "first"), Record(L"dup", "second")}));
  CKvSkin skin;
  ASSERT_TRUE(skin.LoadSkin(L"kvtest_skin"));
  IStream* stream = nullptr;
  ASSERT_TRUE(skin.GetRes(L"dup", stream));
  EXPECT_EQ("first", kvtest::ReadRest(stream));
}

}  // namespace
