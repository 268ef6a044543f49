// Calendar dates of the proleptic Gregorian calendar and days since
// 1970-01-01, for any year, without the C library's time zone functions
// (which differ between systems and stop at 1970 on some).
#pragma once

#include <cstdint>

namespace wrap {

struct CivilDate {
  std::int64_t year;
  int month;  // 1 to 12
  int day;    // 1 to 31
};

// month may lie outside 1 to 12 and day outside the month: they carry
// over, as timegm's fields do.
inline std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
  const std::int64_t m0 = month - 1;
  year += (m0 >= 0 ? m0 : m0 - 11) / 12;
  const std::int64_t m = m0 - ((m0 >= 0 ? m0 : m0 - 11) / 12) * 12 + 1;
  // Years start in March, so that the leap day comes last.
  const std::int64_t y = m <= 2 ? year - 1 : year;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + (day - 1);
}

inline CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace wrap
