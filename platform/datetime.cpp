#include "platform/datetime.h"

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdint>

#include "platform/local_time.h"

namespace {

using namespace std::chrono;

constexpr std::int64_t kMinDay = -693593;  // 0001-01-01
constexpr std::int64_t kMaxDay = 2958465;  // 9999-12-31

const sys_days kEpoch = sys_days{year{1899} / December / 30};

std::string Format(const char* format, TDateTime value) {
  const std::tm tm = TmFromDateTime(value);
  char buf[256];
  const std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

}  // namespace

void UseUserTimeLocale() { std::setlocale(LC_TIME, ""); }

TDateTime Now() {
  // msvcrt has no timespec_get; the system clock is the same clock.
  const auto now = system_clock::now();
  const auto secs = floor<seconds>(now);
  const auto nanos = duration_cast<nanoseconds>(now - secs).count();
  return DateTimeFromTm(LocalTime(system_clock::to_time_t(secs)).tm) +
         static_cast<double>(nanos) / 1e9 / 86400.0;
}

TDateTime DateTimeFromTm(const std::tm& tm) {
  const year_month_day ymd{year{tm.tm_year + 1900}, month{static_cast<unsigned>(tm.tm_mon + 1)},
                           day{1}};
  const auto first = sys_days{ymd};
  const std::int64_t days = (first - kEpoch).count() + (tm.tm_mday - 1);
  const double fraction = (tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec) / 86400.0;
  // Before the epoch the fraction still counts forward from midnight.
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

std::tm TmFromDateTime(TDateTime value) {
  if (!std::isfinite(value)) value = 0;
  double whole = std::trunc(value);
  double fraction = std::fabs(value - whole);
  std::int64_t days = static_cast<std::int64_t>(
      std::fmax(static_cast<double>(kMinDay), std::fmin(static_cast<double>(kMaxDay), whole)));
  std::int64_t seconds = std::llround(fraction * 86400.0);
  if (seconds >= 86400) {
    seconds = 0;
    if (days < kMaxDay) days += days >= 0 ? 1 : -1;
  }
  const sys_days d = kEpoch + std::chrono::days{days};
  const year_month_day ymd{d};
  std::tm tm{};
  tm.tm_year = static_cast<int>(ymd.year()) - 1900;
  tm.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
  tm.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
  tm.tm_hour = static_cast<int>(seconds / 3600);
  tm.tm_min = static_cast<int>(seconds / 60 % 60);
  tm.tm_sec = static_cast<int>(seconds % 60);
  tm.tm_wday = static_cast<int>(weekday{d}.c_encoding());
  tm.tm_yday = static_cast<int>((d - sys_days{ymd.year() / January / 1}).count());
  tm.tm_isdst = -1;
  return tm;
}

std::string ShortDateText(TDateTime value) { return Format("%x", value); }
std::string LongTimeText(TDateTime value) { return Format("%X", value); }
std::string DateTimeText(TDateTime value) {
  return ShortDateText(value) + " " + LongTimeText(value);
}
