#include "platform/datetime.h"

#include <cmath>

namespace platform {
namespace {

// Days from 0000-03-01 style civil algorithm (H. Hinnant), shifted to 1899-12-30.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr int64_t kEpochShift = 25569;  // 1970-01-01 is day 25569 of the host's count

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, int64_t* days) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  *days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
          kEpochShift;
  return true;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       int64_t* seconds) {
  int64_t days = 0;
  if (!TryEncodeDate(year, month, day, &days)) return false;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return false;
  *seconds = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  return true;
}

void DecodeDate(int64_t days, int* year, int* month, int* day) {
  const int64_t z = days - kEpochShift + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

int DayOfWeekIso(int64_t days) {
  // Day 0 (1899-12-30) was a Saturday.
  int64_t r = (days + 5) % 7;
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

int64_t DateTimeToMs(double date_time) {
  return static_cast<int64_t>(std::llround(date_time * 86400000.0));
}

double MsToDateTime(int64_t ms) { return static_cast<double>(ms) / 86400000.0; }

}  // namespace platform
