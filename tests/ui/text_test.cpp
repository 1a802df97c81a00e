// The text widget: what it draws and where, that it takes no mouse input, and that a press on it
// still drags its window.
#include "ui/text.h"

#include <gtest/gtest.h>

#include "gfx/font.h"
#include "gfx/image.h"
#include "tests/ui/ui_fixtures.h"
#include "ui/dialog.h"

namespace {

using kvtest::Frame;

class DragProbe : public CKvDlg {
 public:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (wnd == m_hWnd && msg == WM_NCLBUTTONDOWN) {
      if (wParam == HTCAPTION) ++drags;
      return 0;  // no system move loop: no button is really held
    }
    return CKvDlg::WndProc(wnd, msg, wParam, lParam);
  }
  int drags = 0;
};

TEST(Text, ConstructorDefaults) {
  CKvText text;
  EXPECT_TRUE(text.m_bDragThrough);
  EXPECT_FALSE(text.m_bCentred);
  EXPECT_TRUE(text.m_strText.empty());
  EXPECT_EQ(GetKvFont()->isSupportYaHei() ? 0 : 2, text.m_nTextDy);
  EXPECT_EQ(4, text.m_nStateCount);
}

TEST(Text, SetTextCopiesTheRecordAndSetsDragThroughAgain) {
  CKvText text;
  text.m_bDragThrough = false;
  text.m_nTextDy = 7;
  text.SetText({L"提示信息", 35, 4, 200, 25, true});
  EXPECT_EQ(L"提示信息", text.m_strText);
  EXPECT_EQ(35, text.m_nX);
  EXPECT_EQ(4, text.m_nY);
  EXPECT_EQ(200, text.m_nWidth);
  EXPECT_EQ(25, text.m_nHeight);
  EXPECT_TRUE(text.m_bCentred);
  EXPECT_TRUE(text.m_bDragThrough);
  EXPECT_EQ(GetKvFont()->isSupportYaHei() ? 0 : 2, text.m_nTextDy);
}

TEST(Text, SetFontAsksTheCache) {
  CKvText text;
  text.SetFont(14, RGB(255, 255, 255), L"宋体", 1, 0, 0);
  EXPECT_EQ(GetKvFont()->GetFont(14, L"宋体", 1, 0, 0), text.m_hFont);
  EXPECT_EQ(RGB(255, 255, 255), text.m_crText);
  text.SetFont(0, RGB(1, 2, 3), nullptr, 0, 0, 0);
  EXPECT_EQ(GetKvFont()->GetFont(0, nullptr, 0, 0, 0), text.m_hFont);
}

TEST(Text, DrawsLikeDrawStringMovedDownByItsOffset) {
  CKvText text;
  text.SetText({L"栎禾软件 Text", 10, 10, 150, 30, false});
  text.SetFont(16, RGB(200, 30, 30), nullptr, 1, 0, 0);
  text.m_nTextDy = 5;
  Frame drawn(200, 60), expected(200, 60);
  text.Draw(drawn.dc(), 12, 8);
  GetKvImage()->DrawString(expected.dc(), text.m_hFont, L"栎禾软件 Text", 12, 13, 150, 30,
                           RGB(200, 30, 30), 254, false, true, 0);
  EXPECT_GT(drawn.Opaque(0, 0, 200, 60), 20) << "some text was drawn";
  EXPECT_EQ(expected.Pixels(), drawn.Pixels());

  Frame centred(200, 60), centred_expected(200, 60);
  text.m_bCentred = true;
  text.Draw(centred.dc(), 12, 8);
  GetKvImage()->DrawString(centred_expected.dc(), text.m_hFont, L"栎禾软件 Text", 12, 13, 150, 30,
                           RGB(200, 30, 30), 254, true, true, 0);
  EXPECT_EQ(centred_expected.Pixels(), centred.Pixels());
  EXPECT_NE(drawn.Pixels(), centred.Pixels());
}

TEST(Text, EmptyTextOrNullDcDrawsNothing) {
  CKvText text;
  text.SetText({L"", 0, 0, 100, 20, false});
  text.SetFont(30, RGB(0, 0, 0), nullptr, 1, 1, 1);
  Frame frame(120, 40);
  text.Draw(frame.dc(), 0, 0);
  EXPECT_EQ(0, frame.Opaque(0, 0, 120, 40));
  text.m_strText = L"x";
  text.Draw(nullptr, 0, 0);  // must not fail
}

TEST(Text, PaintDrawsAtItsPlaceOnlyWhenInView) {
  CKvDlg host;
  ASSERT_TRUE(host.Create(0, 0, 0, 200, 100, 0, false, nullptr));
  CKvText text;
  text.m_hHostWnd = host.m_hWnd;
  text.SetText({L"Hello", 20, 30, 100, 20, false});
  text.m_nOffsetX = 10;
  Frame painted(200, 100), drawn(200, 100);
  text.Paint(painted.dc());
  text.Draw(drawn.dc(), 10, 30);
  EXPECT_GT(painted.Opaque(0, 0, 200, 100), 0);
  EXPECT_EQ(drawn.Pixels(), painted.Pixels());
  text.m_nX = -200;  // right edge left of the window
  Frame outside(200, 100);
  text.Paint(outside.dc());
  EXPECT_EQ(0, outside.Opaque(0, 0, 200, 100));
}

TEST(Text, PressIsNotTakenAndStillDragsTheWindow) {
  DragProbe dlg;
  CKvText text;
  text.SetText({L"提示信息", 35, 4, 200, 25, false});
  dlg.m_vecChildren = {&text};
  ASSERT_TRUE(dlg.Create(0, 0, 0, 300, 200, 0, false, nullptr));
  EXPECT_FALSE(text.OnMouse(50, 10, 0, nullptr));
  EXPECT_FALSE(text.OnMouse(50, 10, 1, nullptr));
  ::PostMessageW(dlg.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, kvtest::Point(50, 10));
  kvtest::Pump(30);
  EXPECT_EQ(1, dlg.drags) << "a press on the title drags the box";
  // The same place without drag-through is a child that keeps the window still.
  text.m_bDragThrough = false;
  ::PostMessageW(dlg.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, kvtest::Point(50, 10));
  kvtest::Pump(30);
  EXPECT_EQ(1, dlg.drags);
}

}  // namespace
