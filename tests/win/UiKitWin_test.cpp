#include "ui/UiKitWin.h"

#include <gtest/gtest.h>

namespace havrek {
namespace {

TEST(WindowHelpers, MeasuresFollowTheScreen) {
  EXPECT_EQ(PointsToPixels(72), ScreenDpiY());
  if (ScreenDpiY() == 96) {
    EXPECT_EQ(PointsToPixels(8), 11);
  }
  const ScreenPoint small = CenterInWorkArea(100, 100);
  const ScreenPoint wider = CenterInWorkArea(102, 100);
  EXPECT_EQ(wider.x, small.x - 1);
  const ScreenPoint huge = CenterInWorkArea(100000, 100000);
  EXPECT_LT(huge.x, 0);
  EXPECT_LT(huge.y, 0);
}

}  // namespace
}  // namespace havrek
