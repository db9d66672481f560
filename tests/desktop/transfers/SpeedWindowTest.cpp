// Speed and transfer time over the ten-sample window, with ticks given by the test.
#include <gtest/gtest.h>

#include "desktop/transfers/SpeedWindow.h"

namespace {

TEST(SpeedWindowTest, SpeedAndTimeFollowTheTenSampleWindow) {
  struct Step {
    int64_t size;
    uint32_t now;
    int32_t timeAdded;
    int32_t speed;
  };
  // 1000 bytes a second. Until the window is full the span runs from the first sample; then
  // it is the ten seconds back to the sample being replaced.
  const Step steps[] = {
      {1000, 1000, 0, 1000},      {2000, 2000, 1000, 2000},    {3000, 3000, 2000, 1500},
      {4000, 4000, 3000, 1333},   {5000, 5000, 4000, 1250},    {6000, 6000, 5000, 1200},
      {7000, 7000, 6000, 1166},   {8000, 8000, 7000, 1142},    {9000, 9000, 8000, 1125},
      {10000, 10000, 9000, 1111}, {11000, 11000, 10000, 1000}, {12000, 12000, 10000, 1000},
      {12000, 13000, 10000, 900}, {11000, 14000, 10000, 800},  // a shrinking size counts 0
  };
  SpeedWindow window;
  window.clear();
  int32_t time = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.now);
    SpeedWindow::Result result = window.sample(step.size, step.now);
    EXPECT_EQ(result.timeAdded, step.timeAdded);
    EXPECT_EQ(result.speed, step.speed);
    time += result.timeAdded;
  }
  EXPECT_EQ(time, 45000 + 4 * 10000);
}

TEST(SpeedWindowTest, CountsFromTheSizeAtTheStartAndAcrossATickWrap) {
  SpeedWindow window;
  window.clear(1 << 20);               // a resumed transfer: the bytes on disk are not speed
  const uint32_t start = 0xFFFFFC18u;  // 1000 ms before the counter wraps
  EXPECT_EQ(window.sample((1 << 20) + 500, start).speed, 500);
  SpeedWindow::Result wrapped = window.sample((1 << 20) + 1500, start + 2000);
  EXPECT_EQ(wrapped.timeAdded, 2000);
  EXPECT_EQ(wrapped.speed, 750);
}

}  // namespace
