// What both desktop shells decide without their windows: the daily send of
// the held requests and whether a start runs beside another.
#include <gtest/gtest.h>

#include "app/tray_logic.h"
#include "platform/files.h"
#include "tests/platform/temp_folder.h"

namespace {

constexpr int kAt = 8 * 60 + 30;  // SendAt=08:30

TEST(TrayLogicTest, HeldRequestsGoOnceADayWhenTheClockPassesTheSetTime) {
  THeldSendClock clock;
  EXPECT_FALSE(clock.Due(kAt, {kAt - 1, 100}));
  EXPECT_TRUE(clock.Due(kAt, {kAt, 100}));
  EXPECT_FALSE(clock.Due(kAt, {kAt + 5, 100}));  // once a day
  EXPECT_FALSE(clock.Due(kAt, {kAt - 1, 101}));
  EXPECT_TRUE(clock.Due(kAt, {kAt + 1, 101}));  // a tick of 6 s may land a minute late
  EXPECT_FALSE(clock.Due(-1, {kAt, 102}));       // no time set

  // Started after today's time: nothing today, tomorrow as usual.
  THeldSendClock late;
  EXPECT_FALSE(late.Due(kAt, {kAt + 2, 100}));
  EXPECT_FALSE(late.Due(kAt, {kAt + 3, 100}));
  EXPECT_TRUE(late.Due(kAt, {kAt, 101}));
}

TEST(TrayLogicTest, StartRunsBesideAnotherOnlyWithTheDuplicateFlag) {
  TempFolder dir;
  const std::string& folder = dir.path();
  const std::string flag = folder + "AllowDuplicateInstance.Flg";
  int raised = 0;
  const auto raise = [&] { ++raised; };

  EXPECT_EQ(ChooseStart(folder, false, false, raise), TStartChoice::Run);
  EXPECT_EQ(ChooseStart(folder, false, true, raise), TStartChoice::EndRaised);
  EXPECT_EQ(raised, 1);
  // No lock: another may run unseen, and two would send every request twice.
  EXPECT_EQ(ChooseStart(folder, true, false, raise), TStartChoice::EndRefused);
  EXPECT_EQ(raised, 1);

  PutFile(flag, "");
  EXPECT_EQ(ChooseStart(folder, true, true, raise), TStartChoice::Run);
  EXPECT_FALSE(FileExists(flag));  // one duplicate per flag
  EXPECT_EQ(ChooseStart(folder, false, true, raise), TStartChoice::EndRaised);
  EXPECT_EQ(raised, 2);
}

}  // namespace
