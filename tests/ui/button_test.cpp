// The image button on its own: hit edges, the state machine, which picture each state draws, and
// the view test. The host is a real (hidden) dialog window, so every refresh really paints.
#include "ui/button.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "gfx/font.h"
#include "gfx/image.h"
#include "gfx/skin.h"
#include "tests/support/test_support.h"
#include "tests/ui/ui_fixtures.h"
#include "ui/dialog.h"

namespace {

using kvtest::Frame;
using Pixels = std::vector<uint32_t>;

struct Calls {
  int down = 0, up = 0;
  void* last = nullptr;
};
void Down(void* p) { ++static_cast<Calls*>(p)->down, static_cast<Calls*>(p)->last = p; }
void Up(void* p) { ++static_cast<Calls*>(p)->up, static_cast<Calls*>(p)->last = p; }

class ButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.Create(0, 0, 0, 450, 230, 0, false, nullptr));
    button_ = std::make_unique<CKvButton>(L"卸 载", 255);
    button_->m_hHostWnd = host_.m_hWnd;
    button_->m_pfnDown = Down;
    button_->m_pfnUp = Up;
  }
  bool Mouse(int x, int y, int type) { return button_->OnMouse(x, y, type, &calls_); }
  // A button drawing picture id as one resource of `frames` frames.
  static std::unique_ptr<CKvButton> Picture(int id, const wchar_t* caption = nullptr) {
    auto b = std::make_unique<CKvButton>(caption, 0);
    b->m_nPicId = id;
    b->m_nStateCount = 1;
    return b;
  }
  static Pixels Render(CKvButton& b) {
    Frame f(100, 40);
    b.Draw(f.dc(), 0, 0);
    return f.Pixels();
  }
  static Pixels Reference(int id, int frames, int index, int edge_h = 2) {
    Frame f(100, 40);
    GetKvImage()->DrawStretchImg(f.dc(), id, L"IMG", 0, 0, 68, 29, 8, frames, index, edge_h);
    return f.Pixels();
  }

  CKvDlg host_;
  std::unique_ptr<CKvButton> button_;
  Calls calls_;
};

TEST_F(ButtonTest, MainDialogConstructorGeometry) {
  const CKvButton& b = *button_;
  EXPECT_EQ((std::vector<int>{255, 148, 68, 29, 8, 2, 3, 60001}),
            (std::vector<int>{b.m_nX, b.m_nY, b.m_nWidth, b.m_nHeight, b.m_nEdgeWidth,
                              b.m_nEdgeHeight, b.m_nFrameCount, b.m_nPicId}));
  EXPECT_EQ(L"IMG", b.m_strResType);
  EXPECT_EQ(L"button", b.m_strSkinName);
  EXPECT_EQ(L".png", b.m_strSkinExt);
  EXPECT_EQ(4, b.m_nStateCount) << "Init leaves the state count alone";
  EXPECT_EQ(GetKvFont()->isSupportYaHei() ? 0 : 2, b.m_nCaptionDy);
}

TEST_F(ButtonTest, HitEdgesAreInclusiveAndFollowOffsets) {
  struct Case { int x, y; bool in; };
  const Case cases[] = {{255, 148, true}, {323, 177, true}, {324, 177, false},
                        {323, 178, false}, {254, 160, false}, {260, 147, false}};
  for (Case c : cases) EXPECT_EQ(c.in, Mouse(c.x, c.y, 4)) << c.x << "," << c.y;
  button_->m_nOffsetX = 10;
  button_->m_nOffsetY = 5;
  EXPECT_TRUE(Mouse(245, 143, 4));
  EXPECT_FALSE(Mouse(314, 143, 4));
  EXPECT_TRUE(Mouse(313, 172, 4));
}

TEST_F(ButtonTest, ClickWithThreeFramesEndsInHover) {
  EXPECT_TRUE(Mouse(280, 160, 0));
  EXPECT_EQ(2, button_->m_nState);
  EXPECT_TRUE(button_->m_bPressed);
  EXPECT_EQ(1, calls_.down);
  EXPECT_EQ(&calls_, calls_.last);
  EXPECT_TRUE(Mouse(280, 160, 1));
  EXPECT_EQ(1, button_->m_nState);
  EXPECT_FALSE(button_->m_bPressed);
  EXPECT_EQ(1, calls_.up);
  EXPECT_TRUE(Mouse(280, 160, 1));
  EXPECT_EQ(1, calls_.up) << "a second release without a press is no click";
  EXPECT_TRUE(Mouse(280, 160, 5));
  EXPECT_EQ(1, button_->m_nState) << "other types do nothing";
  // With four frames the "after click" picture shows until the mouse moves.
  button_->m_nFrameCount = 4;
  Mouse(280, 160, 0);
  Mouse(280, 160, 1);
  EXPECT_EQ(3, button_->m_nState);
  Mouse(281, 160, 4);
  EXPECT_EQ(1, button_->m_nState);
}

TEST_F(ButtonTest, PressedFlagSurvivesLeavingButPressOutsideIsNoClick) {
  EXPECT_FALSE(Mouse(10, 10, 0));
  EXPECT_TRUE(Mouse(280, 160, 1));
  EXPECT_EQ(0, calls_.down + calls_.up);
  Mouse(280, 160, 0);
  EXPECT_FALSE(Mouse(10, 10, 4));
  EXPECT_EQ(0, button_->m_nState);
  EXPECT_TRUE(button_->m_bPressed);
  Mouse(280, 160, 1);
  EXPECT_EQ(1, calls_.up);
}

TEST_F(ButtonTest, DisabledButtonIgnoresEverything) {
  Mouse(280, 160, 4);
  button_->m_bEnabled = false;
  for (int type : {0, 1, 4, 5}) EXPECT_FALSE(Mouse(280, 160, type));
  EXPECT_FALSE(Mouse(10, 10, 4));
  EXPECT_EQ(1, button_->m_nState);
  EXPECT_EQ(0, calls_.down);
}

TEST_F(ButtonTest, InitKeepsStateCountAndPressedFlag) {
  button_->m_nStateCount = 1;
  button_->m_bPressed = true;
  button_->Init(nullptr, 1, 2, 3, 4, 5, 6, nullptr, L"C:\\pic.png");
  EXPECT_EQ(1, button_->m_nStateCount);
  EXPECT_TRUE(button_->m_bPressed);
  EXPECT_TRUE(button_->m_strCaption.empty());
  EXPECT_EQ(3, button_->m_nPicSource);
  EXPECT_EQ(L"C:\\pic.png", button_->m_strPicFile);
  EXPECT_EQ(nullptr, button_->m_pfnUp);
}

TEST_F(ButtonTest, ViewTestCountsTouchingEdges) {
  CKvButton b;
  b.m_hHostWnd = host_.m_hWnd;
  b.m_nWidth = 20;
  b.m_nHeight = 10;
  // Right edge at 0 and left edge at the window's right edge (450) still touch.
  const std::tuple<int, int, bool> cases[] = {
      {-20, 0, true}, {-21, 0, false}, {450, 0, true}, {451, 0, false}, {0, -11, false}};
  for (auto [x, y, in] : cases) {
    b.m_nX = x;
    b.m_nY = y;
    EXPECT_EQ(in, b.IsInView()) << x << "," << y;
  }
  b.m_nY = 0;
  b.m_bVisible = false;
  EXPECT_FALSE(b.IsInView());
}

TEST_F(ButtonTest, StateCountFourDrawsOneResourcePerState) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  CKvButton b;
  b.Init(nullptr, 0, 0, 68, 29, 8, 1, host_.m_hWnd, nullptr);
  b.m_nStateCount = 4;
  std::vector<Pixels> seen;
  for (int state = 0; state < 4; ++state) {
    b.m_nState = state;
    seen.push_back(Render(b));
    EXPECT_EQ(Reference(60001 + state, 1, 0), seen.back()) << "state " << state;
    EXPECT_GT(std::count_if(seen.back().begin(), seen.back().end(),
                            [](uint32_t p) { return (p >> 24) != 0; }), 1000);
  }
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_NE(seen[1], seen[2]);
  b.m_nStateCount = 3;
  b.m_nState = 5;  // above the count: drawn and stored as the last state
  EXPECT_EQ(Reference(60003, 1, 0), Render(b));
  EXPECT_EQ(2, b.m_nState);
}

TEST_F(ButtonTest, StateCountOneDrawsFramesOfOneResource) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  auto b = Picture(60073);
  std::vector<Pixels> seen;
  for (int state = 0; state < 3; ++state) {
    b->m_nState = state;
    seen.push_back(Render(*b));
    EXPECT_EQ(Reference(60073, 3, state), seen.back()) << "state " << state;
  }
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_NE(seen[0], seen[2]);
  EXPECT_NE(seen[0], Render(*Picture(60073, L"取 消"))) << "the caption is drawn over it";
}

TEST_F(ButtonTest, MissingPictureFileFallsBackToResource) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  auto b = Picture(60074);
  b->m_nPicSource = 3;
  b->m_strPicFile = L"C:\\kvtest\\no such picture.png";
  // The file branch draws the resource without the top and bottom edges.
  EXPECT_EQ(Reference(60074, 3, 0, 0), Render(*b));
}

// Theme mode: "<theme folder>button_<state>.png" when the theme has it, the resource otherwise.
TEST_F(ButtonTest, ThemeFolderPictureByState) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(60073), L"IMG");
  ASSERT_NE(nullptr, found);
  const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(nullptr, found)));
  CKvSkin* skin = GetKvSkin();
  skin->SetThemesName(L"kvtest_button_theme");
  wchar_t folder[MAX_PATH] = {};
  skin->GetThemesPath(folder);
  const std::wstring hover = std::wstring(folder) + L"button_1.png";
  kvtest::WriteText(hover, std::string(bytes, ::SizeofResource(nullptr, found)));
  skin->SetResType(1);

  auto b = Picture(60074);
  b->m_nState = 1;
  Frame f(100, 40);
  GetKvImage()->DrawStretchImg(f.dc(), hover.c_str(), 0, 0, 68, 29, 8, 3, 1, 0);
  EXPECT_EQ(f.Pixels(), Render(*b));
  b->m_nState = 0;  // the theme has no button_0.png
  EXPECT_EQ(Reference(60074, 3, 0, 0), Render(*b));
  skin->SetResType(0);
  kvtest::RemoveTree(folder);
}

}  // namespace
