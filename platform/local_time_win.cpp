#include "platform/local_time.h"

TLocalTime LocalTime(std::time_t t) {
  TLocalTime out;
  localtime_s(&out.tm, &t);
  // The local fields read as if they were UTC, less the moment itself.
  std::tm copy = out.tm;
  out.utcOffset = static_cast<long>(_mkgmtime(&copy) - t);
  return out;
}
