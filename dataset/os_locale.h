// The user's locale and the clock.
#pragma once

#include <string>

namespace clipra {

// The decimal separator of the user's locale ("." or ","), as the
// environment sets it; the process locale plays no part.
char LocaleDecimalSeparator();
// Overrides the separator (0 restores the locale's own) and answers the
// previous override; for tests.
char SetLocaleDecimalSeparator(char separator);
// Short day (0 = Sunday) and month (0 = January) names of the user's locale.
std::string LocaleShortDayName(int week_day);
std::string LocaleShortMonthName(int month);

struct LocalTime {
  int year = 0;
  int month = 0;  // 0 = January
  int day = 0;
  int week_day = 0;  // 0 = Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
};
LocalTime LocalTimeNow();
// Monotonic time in days, for measuring spans.
double NowDays();

}  // namespace clipra
