// The local calendar time of a moment and the zone's offset from UTC then:
// the one place that asks the system for the time zone.
#pragma once

#include <ctime>

struct TLocalTime {
  std::tm tm{};
  long utcOffset = 0;  // seconds east of UTC
};

TLocalTime LocalTime(std::time_t t);
