// Date and time values: day counts with a fraction since 1899-12-30 00:00
// local time (one second is 1/86400 of a day), shown in the user's short date
// and long time formats (strftime "%x" and "%X" of LC_TIME).
#pragma once

#include <ctime>
#include <string>

using TDateTime = double;

// Takes LC_TIME from the environment (LC_ALL, LC_TIME, LANG). Called once at
// start; until then the "C" locale's formats apply.
void UseUserTimeLocale();

// The current local time as a day count.
TDateTime Now();

// Local calendar time <-> day count. Out-of-range day counts are clamped.
TDateTime DateTimeFromTm(const std::tm& tm);
std::tm TmFromDateTime(TDateTime value);

// strftime "%x" / "%X" of the value.
std::string ShortDateText(TDateTime value);
std::string LongTimeText(TDateTime value);

// ShortDateText + " " + LongTimeText: the stamp of a debug log line.
std::string DateTimeText(TDateTime value);
