#pragma once
// Date-times are day counts since 30 December 1899 with the time of day as
// the fraction, as the host exchanges them. Calendar arithmetic here is exact
// and proleptic Gregorian.
#include <cstdint>

namespace platform {

constexpr int64_t kSecondsPerDay = 86400;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// Day number (days since 1899-12-30) of a valid date; false when the date is invalid.
bool TryEncodeDate(int year, int month, int day, int64_t* days);
// Seconds since 1899-12-30 00:00:00; false when a field is out of range.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       int64_t* seconds);
void DecodeDate(int64_t days, int* year, int* month, int* day);
// 1 = Monday ... 7 = Sunday.
int DayOfWeekIso(int64_t days);

// Conversions between the day-fraction form and whole milliseconds, rounded
// to the nearest millisecond so that 12:00:00 never turns into 11:59:59.999.
int64_t DateTimeToMs(double date_time);
double MsToDateTime(int64_t ms);

}  // namespace platform
