// The check box and its picture base: layout of box and label, which picture each state draws,
// the state table under the mouse, and the picture sources. The host is a real (hidden) dialog,
// so every refresh really paints and the frame buffer can be read back.
#include "ui/checkbox.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "gfx/font.h"
#include "gfx/image.h"
#include "tests/ui/ui_fixtures.h"
#include "tests/ui/widget_pictures.h"
#include "ui/dialog.h"

namespace {

using kvtest::Frame;

struct Calls {
  int down = 0;
  int up = 0;
};
void Down(void* p) { ++static_cast<Calls*>(p)->down; }
void Up(void* p) { ++static_cast<Calls*>(p)->up; }

class CheckBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kvtest::UseWidgetPictures());
    host_.m_vecChildren = {&box_};
    ASSERT_TRUE(host_.Create(0, 0, 0, 300, 200, 0, false, nullptr));
    box_.Init(L"不再提示", 50, 140, 200, 20, false, 0, 1, host_.m_hWnd, nullptr);
    box_.m_pfnDown = Down;
    box_.m_pfnUp = Up;
  }
  bool Mouse(int x, int y, int type) { return box_.OnMouse(x, y, type, &calls_); }
  // The frame buffer's pixel, as 0x00RRGGBB.
  COLORREF FramePixel(int x, int y) { return ::GetPixel(host_.m_dcFrame.m_hMemDC, x, y); }

  CKvDlg host_;
  CKvCheckBox box_;
  Calls calls_;
};

TEST(CheckBoxDefaults, ConstructorAndBase) {
  CKvCheckBox box;
  EXPECT_EQ(60036, box.m_nPicId);
  EXPECT_EQ(L"checkbox", box.m_strSkinName);
  EXPECT_EQ(L".png", box.m_strSkinExt);
  EXPECT_EQ(L"IMG", box.m_strResType);
  EXPECT_EQ(1, box.m_nFrameCount);
  EXPECT_EQ(0, box.m_nState);
  EXPECT_EQ(2, box.m_nEdgeWidth);
  EXPECT_TRUE(box.m_bEnabled);
  EXPECT_FALSE(box.m_bChecked);
  EXPECT_FALSE(box.m_bPressed);
  EXPECT_TRUE(box.m_strLabel.empty());
  EXPECT_EQ(4, box.m_nStateCount);
  EXPECT_EQ(GetKvFont()->isSupportYaHei() ? 0 : 2, box.m_nLabelDy);
  EXPECT_EQ(nullptr, box.m_pfnDown);
  EXPECT_EQ(nullptr, box.m_pfnUp);
}

TEST(CheckBoxDefaults, InitCheckedStartsInStateThreeUncheckedKeepsTheState) {
  CKvCheckBox box;
  box.m_nPicId = 1;
  box.m_strSkinName = L"other";
  box.Init(L"a", 1, 2, 3, 4, true, 5, 6, nullptr, nullptr);
  EXPECT_TRUE(box.m_bChecked);
  EXPECT_EQ(3, box.m_nState);
  EXPECT_EQ(60036, box.m_nPicId);
  EXPECT_EQ(L"checkbox", box.m_strSkinName);
  EXPECT_EQ(5, box.m_nEdgeWidth);
  EXPECT_EQ(6, box.m_nFrameCount);
  EXPECT_EQ(0, box.m_nPicSource) << "no file given";
  box.Init(L"b", 1, 2, 3, 4, false, 0, 1, nullptr, L"c:\\nowhere\\box.png");
  EXPECT_FALSE(box.m_bChecked);
  EXPECT_EQ(3, box.m_nState) << "unchecked leaves the state as it was";
  EXPECT_EQ(L"b", box.m_strLabel);
  EXPECT_EQ(3, box.m_nPicSource);
  EXPECT_EQ(L"c:\\nowhere\\box.png", box.m_strPicFile);
}

TEST_F(CheckBoxTest, BoxFifteenSquareTwoBelowTheTopLabelFromEighteenRight) {
  box_.m_nState = 3;
  Frame drawn(300, 200), expected(300, 200);
  box_.Draw(drawn.dc(), 50, 140);
  // The same picture and text, placed by hand.
  GetKvImage()->DrawStretchImg(expected.dc(), 60039, L"IMG", 50, 142, 15, 15, 0, 1, 3, 0);
  GetKvImage()->DrawString(expected.dc(), box_.m_hFont, L"不再提示", 68, 140 + box_.m_nLabelDy,
                           180, 20, 0, 254, false, true, 0);
  EXPECT_EQ(expected.Pixels(), drawn.Pixels());
  EXPECT_GT(drawn.Opaque(50, 142, 65, 157), 200) << "the box is drawn";
  EXPECT_EQ(0, drawn.Opaque(50, 140, 65, 142)) << "nothing above the box";
  EXPECT_EQ(0, drawn.Opaque(65, 140, 68, 160)) << "gap between box and label";
  EXPECT_GT(drawn.Opaque(68, 140, 250, 160), 10) << "the label";
  EXPECT_EQ(0, drawn.Opaque(250, 0, 300, 200));
}

TEST_F(CheckBoxTest, EachStateDrawsItsOwnResource) {
  for (int state = 0; state < 4; ++state) {
    box_.m_nState = state;
    Frame drawn(20, 20), expected(20, 20);
    box_.DrawImage(drawn.dc(), 0, 0, 15, 15);
    GetKvImage()->DrawStretchImg(expected.dc(), 60036 + state, L"IMG", 0, 0, 15, 15, 0, 1, state,
                                 0);
    EXPECT_GT(drawn.Opaque(0, 0, 15, 15), 200) << state;
    EXPECT_EQ(expected.Pixels(), drawn.Pixels()) << "state " << state;
  }
  // The four pictures differ, so the comparison above tells them apart.
  Frame a(20, 20), b(20, 20);
  GetKvImage()->DrawStretchImg(a.dc(), 60036, L"IMG", 0, 0, 15, 15, 0, 1, 0, 0);
  GetKvImage()->DrawStretchImg(b.dc(), 60039, L"IMG", 0, 0, 15, 15, 0, 1, 0, 0);
  EXPECT_NE(a.Pixels(), b.Pixels());
}

TEST_F(CheckBoxTest, StateBeyondTheCountIsClampedAndOneCountUsesOnePicture) {
  box_.m_nState = 7;
  Frame drawn(20, 20);
  box_.DrawImage(drawn.dc(), 0, 0, 15, 15);
  EXPECT_EQ(3, box_.m_nState);
  box_.m_nStateCount = 1;
  box_.m_nState = 2;
  Frame single(20, 20), expected(20, 20);
  box_.DrawImage(single.dc(), 0, 0, 15, 15);
  GetKvImage()->DrawStretchImg(expected.dc(), 60036, L"IMG", 0, 0, 15, 15, 0, 1, 2, 0);
  EXPECT_EQ(expected.Pixels(), single.Pixels());
}

TEST_F(CheckBoxTest, HiddenOrNullDcDrawsNothing) {
  box_.m_bVisible = false;
  Frame frame(300, 200);
  box_.Draw(frame.dc(), 50, 140);
  box_.DrawImage(frame.dc(), 0, 0, 15, 15);
  EXPECT_EQ(0, frame.Opaque(0, 0, 300, 200));
  box_.m_bVisible = true;
  box_.Draw(nullptr, 0, 0);
  box_.m_strLabel.clear();
  box_.Draw(frame.dc(), 50, 140);
  EXPECT_EQ(0, frame.Opaque(68, 140, 250, 160)) << "an empty label draws no text";
}

TEST_F(CheckBoxTest, PictureFileWhenItExistsElseTheResource) {
  const std::wstring dir = kvtest::FreshDir(L"checkbox_file");
  const std::wstring file = dir + L"box.bmp";
  // A plain red 15 x 15 picture written through GDI+.
  {
    Frame red(15, 15);
    HBRUSH brush = ::CreateSolidBrush(RGB(255, 0, 0));
    RECT all = {0, 0, 15, 15};
    ::FillRect(red.dc(), &all, brush);
    ::DeleteObject(brush);
    ASSERT_TRUE(GetKvImage()->SavePic(red.dc(), all, file.c_str(), L"bmp"));
  }
  box_.Init(L"", 0, 0, 15, 15, false, 0, 1, host_.m_hWnd, file.c_str());
  Frame from_file(20, 20), file_expected(20, 20), resource(20, 20);
  box_.DrawImage(from_file.dc(), 0, 0, 15, 15);
  GetKvImage()->DrawStretchImg(file_expected.dc(), file.c_str(), 0, 0, 15, 15, 0, 1, 0, 0);
  GetKvImage()->DrawStretchImg(resource.dc(), 60036, L"IMG", 0, 0, 15, 15, 0, 1, 0, 0);
  EXPECT_EQ(file_expected.Pixels(), from_file.Pixels());
  EXPECT_NE(resource.Pixels(), from_file.Pixels());

  box_.m_strPicFile = dir + L"missing.png";
  Frame fallback(20, 20), expected(20, 20);
  box_.DrawImage(fallback.dc(), 0, 0, 15, 15);
  GetKvImage()->DrawStretchImg(expected.dc(), 60036, L"IMG", 0, 0, 15, 15, 0, 1, 0, 0);
  EXPECT_EQ(expected.Pixels(), fallback.Pixels());
}

TEST_F(CheckBoxTest, PressAndReleaseInsideToggles) {
  EXPECT_TRUE(Mouse(60, 150, 4));
  EXPECT_EQ(1, box_.m_nState);
  EXPECT_TRUE(Mouse(60, 150, 0));
  EXPECT_TRUE(box_.m_bPressed);
  EXPECT_EQ(1, calls_.down);
  EXPECT_EQ(1, box_.m_nState) << "a press does not change the picture";
  EXPECT_TRUE(Mouse(60, 150, 1));
  EXPECT_TRUE(box_.m_bChecked);
  EXPECT_FALSE(box_.m_bPressed);
  EXPECT_EQ(2, box_.m_nState);
  EXPECT_EQ(1, calls_.up);
  EXPECT_FALSE(Mouse(10, 10, 4));
  EXPECT_EQ(3, box_.m_nState);
  // And back.
  Mouse(200, 155, 0);
  Mouse(200, 155, 1);
  EXPECT_FALSE(box_.m_bChecked);
  EXPECT_EQ(1, box_.m_nState);
  EXPECT_EQ(2, calls_.up);
  Mouse(400, 10, 4);
  EXPECT_EQ(0, box_.m_nState);
}

TEST_F(CheckBoxTest, PressInsideReleaseOutsideDoesNotToggle) {
  Mouse(60, 150, 4);
  Mouse(60, 150, 0);
  EXPECT_FALSE(Mouse(60, 170, 4)) << "160 is the last row";
  EXPECT_EQ(0, box_.m_nState) << "hover ends on the move out";
  EXPECT_FALSE(Mouse(60, 170, 1));
  EXPECT_FALSE(box_.m_bChecked);
  EXPECT_EQ(0, calls_.up);
  EXPECT_EQ(0, box_.m_nState);
}

TEST_F(CheckBoxTest, ReleaseWithoutPressDoesNothing) {
  EXPECT_TRUE(Mouse(60, 150, 1));
  EXPECT_FALSE(box_.m_bChecked);
  EXPECT_EQ(0, calls_.up);
}

TEST_F(CheckBoxTest, HitAreaIsBoxAndLabelWithEdges) {
  EXPECT_TRUE(Mouse(50, 140, 5));
  EXPECT_TRUE(Mouse(250, 160, 5));
  EXPECT_FALSE(Mouse(251, 160, 5));
  EXPECT_FALSE(Mouse(250, 161, 5));
  EXPECT_FALSE(Mouse(49, 150, 5));
  box_.m_bEnabled = false;
  EXPECT_TRUE(Mouse(60, 150, 4)) << "the enabled flag is not consulted";
}

TEST_F(CheckBoxTest, MoveKeepsHoverAndCheckedBoxHoversAsTwo) {
  box_.Init(L"x", 50, 140, 200, 20, true, 0, 1, host_.m_hWnd, nullptr);
  EXPECT_EQ(3, box_.m_nState);
  Mouse(60, 150, 4);
  EXPECT_EQ(2, box_.m_nState);
  Mouse(61, 150, 4);
  EXPECT_EQ(2, box_.m_nState);
  Mouse(0, 0, 4);
  EXPECT_EQ(3, box_.m_nState);
  Mouse(0, 0, 4);
  EXPECT_EQ(3, box_.m_nState);
}

TEST_F(CheckBoxTest, StateChangesReachTheFrameBuffer) {
  // Every refresh goes into the dialog's frame: the box's pixels there follow the state.
  auto box_pixels = [&] {
    std::vector<COLORREF> px;
    for (int y = 142; y < 157; ++y)
      for (int x = 50; x < 65; ++x) px.push_back(FramePixel(x, y));
    return px;
  };
  Mouse(60, 150, 4);
  const auto hover = box_pixels();
  Mouse(60, 150, 0);
  Mouse(60, 150, 1);
  const auto checked_hover = box_pixels();
  Mouse(0, 0, 4);
  const auto checked = box_pixels();
  EXPECT_NE(hover, checked_hover);
  EXPECT_NE(checked_hover, checked);
  // What the frame holds is what a paint of the box draws on the background.
  Frame expected(300, 200);
  ::BitBlt(expected.dc(), 0, 0, 300, 200, host_.m_dcBk.m_hMemDC, 0, 0, SRCCOPY);
  box_.Draw(expected.dc(), 50, 140);
  for (int y = 142; y < 157; ++y)
    for (int x = 50; x < 65; ++x)
      ASSERT_EQ(expected.At(x, y) & 0xFFFFFF,
                static_cast<uint32_t>(RGB(GetBValue(FramePixel(x, y)), GetGValue(FramePixel(x, y)),
                                          GetRValue(FramePixel(x, y)))))
          << x << "," << y;
}

}  // namespace
