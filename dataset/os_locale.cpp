#include "dataset/os_locale.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <chrono>
#include <ctime>

namespace clipra {

namespace {

std::atomic<char> separator_override{0};

// The user's own names of days and months, without touching the
// process-wide locale. Only the time category is loaded: the others would
// cost a dozen file reads in every run that writes a header.
locale_t UserLocale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    return l ? l : newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  }();
  return loc;
}

std::string LangInfo(nl_item item, const char* fallback) {
  locale_t loc = UserLocale();
  const char* s = loc ? nl_langinfo_l(item, loc) : nullptr;
  return s && *s ? s : fallback;
}

}  // namespace

char LocaleDecimalSeparator() {
  if (const char c = separator_override.load()) return c;
  // Asked afresh each time: it is cheap, and follows a changed environment.
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (!loc) return '.';
  const char* s = nl_langinfo_l(RADIXCHAR, loc);
  const char c = s && s[0] && !s[1] ? s[0] : '.';
  freelocale(loc);
  return c;
}

char SetLocaleDecimalSeparator(char separator) {
  return separator_override.exchange(separator);
}

std::string LocaleShortDayName(int week_day) {
  static const char* const kEnglish[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  week_day = ((week_day % 7) + 7) % 7;
  return LangInfo(static_cast<nl_item>(ABDAY_1 + week_day), kEnglish[week_day]);
}

std::string LocaleShortMonthName(int month) {
  static const char* const kEnglish[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  month = ((month % 12) + 12) % 12;
  return LangInfo(static_cast<nl_item>(ABMON_1 + month), kEnglish[month]);
}

LocalTime LocalTimeNow() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  LocalTime lt;
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon;
  lt.day = tm.tm_mday;
  lt.week_day = tm.tm_wday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  return lt;
}

double NowDays() {
  using namespace std::chrono;
  const auto now = steady_clock::now().time_since_epoch();
  return duration<double>(now).count() / 86400.0;
}

}  // namespace clipra
