#include "platform/datetime.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "platform/local_time.h"
#include "tests/platform/calendar.h"

namespace {

TEST(DateTime, DayCountsFromTheEpoch) {
  EXPECT_DOUBLE_EQ(DateTimeFromTm(Tm(1899, 12, 30)), 0.0);
  EXPECT_DOUBLE_EQ(DateTimeFromTm(Tm(2000, 1, 1)), 36526.0);
  EXPECT_DOUBLE_EQ(DateTimeFromTm(Tm(2000, 1, 1, 12)), 36526.5);
  EXPECT_DOUBLE_EQ(DateTimeFromTm(Tm(1899, 12, 29, 6)), -1.25);
  const std::tm back = TmFromDateTime(DateTimeFromTm(Tm(2026, 12, 6, 17, 40, 26)));
  EXPECT_EQ(back.tm_year, 126);
  EXPECT_EQ(back.tm_mon, 11);
  EXPECT_EQ(back.tm_mday, 6);
  EXPECT_EQ(back.tm_hour, 17);
  EXPECT_EQ(back.tm_min, 40);
  EXPECT_EQ(back.tm_sec, 26);
  EXPECT_EQ(back.tm_wday, 0);  // a Sunday
  EXPECT_EQ(back.tm_yday, 339);
  // Half a second before midnight rounds into the next day.
  const std::tm next = TmFromDateTime(36526.0 + 86399.6 / 86400.0);
  EXPECT_EQ(next.tm_mday, 2);
  EXPECT_EQ(next.tm_hour, 0);
}

TEST(DateTime, OutOfRangeValuesAreClamped) {
  EXPECT_EQ(TmFromDateTime(1e300).tm_year, 9999 - 1900);
  EXPECT_EQ(TmFromDateTime(-1e300).tm_year, 1 - 1900);
  EXPECT_EQ(TmFromDateTime(std::nan("")).tm_year, 1899 - 1900);
}

TEST(DateTime, TextFollowsTheTimeLocale) {
  std::setlocale(LC_TIME, "C");
  const TDateTime t = DateTimeFromTm(Tm(2026, 12, 6, 17, 40, 26));
  EXPECT_EQ(ShortDateText(t), "12/06/26");
  EXPECT_EQ(LongTimeText(t), "17:40:26");
  EXPECT_EQ(DateTimeText(t), "12/06/26 17:40:26");
}

TEST(DateTime, NowIsTodayLocally) {
  const std::tm local = LocalTime(std::time(nullptr)).tm;
  EXPECT_NEAR(Now(), DateTimeFromTm(local), 5.0 / 86400.0);
}

}  // namespace
