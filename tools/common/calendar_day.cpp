#include "calendar_day.h"

#include <ctime>

namespace tavolen::tools {

bool isCalendarDay(int year, int month, int day) {
  if (year < 1970 || year > 2037 || month < 1 || month > 12 || day < 1 || day > 31) return false;
  // Through the calendar and back: a day past the month's end moves on.
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return std::mktime(&t) != -1 && t.tm_year == year - 1900 && t.tm_mon == month - 1 && t.tm_mday == day;
}

}  // namespace tavolen::tools
