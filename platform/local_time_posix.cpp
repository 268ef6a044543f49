#include "platform/local_time.h"

TLocalTime LocalTime(std::time_t t) {
  TLocalTime out;
  localtime_r(&t, &out.tm);
  out.utcOffset = out.tm.tm_gmtoff;
  return out;
}
