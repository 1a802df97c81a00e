// The image button on its own: hit edges, the state machine, which picture each state draws, and
// the view test. The host is a real (hidden) dialog window, so every refresh really paints.
#include "ui/button.h"

#include <gtest/gtest.h>

#include <memory>

#include "gfx/font.h"
#include "tests/ui/ui_fixtures.h"
#include "ui/dialog.h"

namespace {

using kvtest::Frame;

struct Calls {
  int down = 0;
  int up = 0;
  void* last = nullptr;
};

void Down(void* p) {
  auto* c = static_cast<Calls*>(p);
  ++c->down;
  c->last = p;
}
void Up(void* p) {
  auto* c = static_cast<Calls*>(p);
  ++c->up;
  c->last = p;
}

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

  CKvDlg host_;
  std::unique_ptr<CKvButton> button_;
  Calls calls_;
};

TEST_F(ButtonTest, MainDialogConstructorGeometry) {
  EXPECT_EQ(255, button_->m_nX);
  EXPECT_EQ(148, button_->m_nY);
  EXPECT_EQ(68, button_->m_nWidth);
  EXPECT_EQ(29, button_->m_nHeight);
  EXPECT_EQ(8, button_->m_nEdgeWidth);
  EXPECT_EQ(2, button_->m_nEdgeHeight);
  EXPECT_EQ(3, button_->m_nFrameCount);
  EXPECT_EQ(60001, button_->m_nPicId);
  EXPECT_EQ(L"IMG", button_->m_strResType);
  EXPECT_EQ(L"button", button_->m_strSkinName);
  EXPECT_EQ(L".png", button_->m_strSkinExt);
  EXPECT_EQ(4, button_->m_nStateCount) << "Init leaves the state count alone";
  EXPECT_EQ(GetKvFont()->isSupportYaHei() ? 0 : 2, button_->m_nCaptionDy);
}

TEST_F(ButtonTest, HitEdgesAreInclusive) {
  EXPECT_TRUE(Mouse(255, 148, 4));
  EXPECT_TRUE(Mouse(323, 177, 4));
  EXPECT_FALSE(Mouse(324, 177, 4));
  EXPECT_FALSE(Mouse(323, 178, 4));
  EXPECT_FALSE(Mouse(254, 160, 4));
  EXPECT_FALSE(Mouse(260, 147, 4));
}

TEST_F(ButtonTest, OffsetsMoveTheHitArea) {
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
  // A second release without a press is no click.
  EXPECT_TRUE(Mouse(280, 160, 1));
  EXPECT_EQ(1, calls_.up);
}

TEST_F(ButtonTest, ClickWithFourFramesShowsAfterClickUntilMoved) {
  button_->m_nFrameCount = 4;
  Mouse(280, 160, 0);
  Mouse(280, 160, 1);
  EXPECT_EQ(3, button_->m_nState);
  Mouse(281, 160, 4);
  EXPECT_EQ(1, button_->m_nState);
}

TEST_F(ButtonTest, PressedFlagSurvivesLeaving) {
  Mouse(280, 160, 0);
  EXPECT_FALSE(Mouse(10, 10, 4));
  EXPECT_EQ(0, button_->m_nState);
  EXPECT_TRUE(button_->m_bPressed);
  Mouse(280, 160, 1);
  EXPECT_EQ(1, calls_.up);
}

TEST_F(ButtonTest, PressOutsideReleaseInsideIsNoClick) {
  EXPECT_FALSE(Mouse(10, 10, 0));
  EXPECT_TRUE(Mouse(280, 160, 1));
  EXPECT_EQ(0, calls_.down);
  EXPECT_EQ(0, calls_.up);
}

TEST_F(ButtonTest, MoveInsideHoversAndOtherTypesDoNothing) {
  EXPECT_TRUE(Mouse(280, 160, 4));
  EXPECT_EQ(1, button_->m_nState);
  EXPECT_TRUE(Mouse(280, 160, 5));
  EXPECT_EQ(1, button_->m_nState);
  EXPECT_EQ(0, calls_.up);
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
  b.m_nX = -20;  // right edge at 0: touches
  EXPECT_TRUE(b.IsInView());
  b.m_nX = -21;
  EXPECT_FALSE(b.IsInView());
  b.m_nX = 450;  // left edge on the window's right edge
  EXPECT_TRUE(b.IsInView());
  b.m_nX = 451;
  EXPECT_FALSE(b.IsInView());
  b.m_nX = 0;
  b.m_nY = -11;
  EXPECT_FALSE(b.IsInView());
  b.m_nY = 0;
  b.m_bVisible = false;
  EXPECT_FALSE(b.IsInView());
}

// Draws b's current state into a fresh frame and returns its pixels.
std::vector<uint32_t> Render(CKvButton& b) {
  Frame f(100, 40);
  b.Draw(f.dc(), 0, 0);
  return f.Pixels();
}

std::vector<uint32_t> Reference(int id, int frames, int index) {
  Frame f(100, 40);
  GetKvImage()->DrawStretchImg(f.dc(), id, L"IMG", 0, 0, 68, 29, 8, frames, index, 2);
  return f.Pixels();
}

TEST_F(ButtonTest, StateCountFourDrawsOneResourcePerState) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  CKvButton b;
  b.Init(nullptr, 0, 0, 68, 29, 8, 1, host_.m_hWnd, nullptr);
  b.m_nStateCount = 4;
  std::vector<std::vector<uint32_t>> seen;
  for (int state = 0; state < 4; ++state) {
    b.m_nState = state;
    seen.push_back(Render(b));
    EXPECT_EQ(Reference(60001 + state, 1, 0), seen.back()) << "state " << state;
    EXPECT_GT(std::count_if(seen.back().begin(), seen.back().end(),
                            [](uint32_t p) { return (p >> 24) != 0; }),
              1000);
  }
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_NE(seen[1], seen[2]);
}

TEST_F(ButtonTest, StateCountOneDrawsFramesOfOneResource) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  CKvButton b(nullptr, 0);
  b.m_nPicId = 60073;
  b.m_nStateCount = 1;
  std::vector<std::vector<uint32_t>> seen;
  for (int state = 0; state < 3; ++state) {
    b.m_nState = state;
    seen.push_back(Render(b));
    EXPECT_EQ(Reference(60073, 3, state), seen.back()) << "state " << state;
  }
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_NE(seen[0], seen[2]);
}

TEST_F(ButtonTest, StateAboveStateCountIsDrawnAndStoredAsLast) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  CKvButton b;
  b.Init(nullptr, 0, 0, 68, 29, 8, 1, host_.m_hWnd, nullptr);
  b.m_nStateCount = 3;
  b.m_nState = 5;
  const std::vector<uint32_t> drawn = Render(b);
  EXPECT_EQ(2, b.m_nState);
  EXPECT_EQ(Reference(60003, 1, 0), drawn);
}

TEST_F(ButtonTest, CaptionIsDrawnOverThePicture) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  CKvButton plain(nullptr, 0);
  plain.m_nPicId = 60073;
  plain.m_nStateCount = 1;
  CKvButton captioned(L"取 消", 0);
  captioned.m_nPicId = 60073;
  captioned.m_nStateCount = 1;
  EXPECT_EQ(Reference(60073, 3, 0), Render(plain)) << "an empty caption draws no text";
  EXPECT_NE(Render(plain), Render(captioned));
}

TEST_F(ButtonTest, MissingPictureFileFallsBackToResource) {
  ASSERT_TRUE(kvtest::UseProgramPictures());
  CKvButton b(nullptr, 0);
  b.m_nPicId = 60074;
  b.m_nStateCount = 1;
  b.m_nPicSource = 3;
  b.m_strPicFile = L"C:\\kvtest\\no such picture.png";
  // The file branch draws the resource without the top and bottom edges.
  Frame f(100, 40);
  GetKvImage()->DrawStretchImg(f.dc(), 60074, L"IMG", 0, 0, 68, 29, 8, 3, 0, 0);
  EXPECT_EQ(f.Pixels(), Render(b));
}

}  // namespace
