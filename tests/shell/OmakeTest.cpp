// The bonus window beside the settings dialog: both variants from the button press to the end,
// with the dialog's title, visibility and timer handed back.
#include <gtest/gtest.h>

#include <QPushButton>
#include <deque>

#include "shell/bonus/TOmakeWin.h"
#include "shell/settings/TSetteiForm.h"
#include "tests/shell/ShellTestApp.h"

namespace {

using shelltest::App;

class OmakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    SetteiFormOptions o;
    o.storePath = dir.File("Pralvex.reg");
    o.random = [this] {
      if (randoms.empty()) return 1;
      const int r = randoms.front();
      randoms.pop_front();
      return r;
    };
    form = std::make_unique<TSetteiForm>(o);
    new TOmakeWin(form.get());
    form->show();
  }

  // Presses and clicks the bonus button; the window's own timer is stopped so ticks are by hand.
  void Launch() {
    form->BtnBaronMouseDown(QPoint(30, 12));
    form->BtnBaronClick();
    ASSERT_TRUE(form->OmakeWin()->isVisible());
    form->OmakeWin()->Timer1.stop();
  }

  TempFolder dir;
  std::deque<int> randoms;
  std::unique_ptr<TSetteiForm> form;
};

TEST_F(OmakeTest, BouncingHeadRenamesTheDialogAndLeavesAtTheBottom) {
  randoms = {1, 0, 40};  // show the window; variant 0; start 40 pixels into the dialog
  Launch();
  TOmakeWin* w = form->OmakeWin();
  EXPECT_EQ(w->Variant, 0);
  EXPECT_EQ(w->windowTitle(), QStringLiteral("印度"));
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Ondrelax"));
  EXPECT_EQ(w->Head().X, form->DialogRect().left() + 40);
  EXPECT_TRUE(form->SetteiTimer.isActive());  // the dialog keeps running
  int ticks = 0, shaped = 0;
  bool bounced = false;
  while (w->isVisible()) {
    w->Timer1Timer();
    if (!w->ShapeRegion.isEmpty()) {
      ++shaped;
      // The shape is the head's pixels only, never its black corners or the whole screen.
      EXPECT_LT(w->ShapeRegion.boundingRect().width(), 130);
    }
    bounced = bounced || w->Head().SpeedY < 0;
    ASSERT_LT(++ticks, 1000);
  }
  EXPECT_TRUE(bounced);  // it fell on the dialog's top half
  EXPECT_GT(shaped, 10);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Ondrelix"));
}

TEST_F(OmakeTest, FallingDialogHidesTheDialogAndGivesItBackRunning) {
  randoms = {1, 2};  // show the window; variant 1; then 1 for every other draw
  const QRect before = form->DialogRect();
  Launch();
  TOmakeWin* w = form->OmakeWin();
  EXPECT_EQ(w->Variant, 1);
  EXPECT_FALSE(form->SetteiTimer.isActive());
  EXPECT_EQ(w->ShapeRegion, QRegion(before));  // the picture takes the dialog's place
  EXPECT_EQ(w->Fall().Snapshot().width, before.width());
  EXPECT_EQ(w->Fall().Pin.x, before.left() + form->PressPoint().x());
  w->Timer1Timer();
  EXPECT_FALSE(form->isVisible());
  int ticks = 0;
  while (w->isVisible()) {
    w->Timer1Timer();
    ASSERT_LT(++ticks, 3000);
  }
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->SetteiTimer.isActive());
  EXPECT_EQ(form->SetteiTimer.interval(), 33);
  EXPECT_EQ(form->DialogRect().topLeft(), before.topLeft());
}

TEST_F(OmakeTest, ClosingTheDialogClosesTheBonusWindow) {
  randoms = {1, 0, 0};
  Launch();
  form->close();
  EXPECT_FALSE(form->OmakeWin()->isVisible());
}

}  // namespace
