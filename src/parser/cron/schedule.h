#pragma once
// Cron schedules: a text of up to seven fields (seconds, minutes, hours, day
// of month, month, day of week, year) and the search for its next moment.
// Date-times at the edge are day counts since 30 December 1899 with the time
// as the fraction; the search itself runs on whole seconds.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"

// Texts that are no cron schedule, and searches that cannot end.
class ECronError : public EqonError {
 public:
  using EqonError::EqonError;
};

// One field. A range (Low..High every Step) when Values is empty, else the
// ascending list of values. AnyFlag marks "?".
struct TChronEntry {
  int32_t Low = 0;
  int32_t High = 0;
  int32_t Step = 0;
  bool AnyFlag = false;
  std::vector<int32_t> Values;

  bool operator==(const TChronEntry&) const = default;
};

enum TChronField : int {
  kCronSeconds,
  kCronMinutes,
  kCronHours,
  kCronDayOfMonth,
  kCronMonth,
  kCronDayOfWeek,  // 1 = Monday ... 7 = Sunday
  kCronYear,
  kCronFieldCount
};

using TChronSchedule = std::array<TChronEntry, kCronFieldCount>;

// The per-field next-value rules.
struct TChronEntryHelper {
  static int32_t NextOrSame(const TChronEntry& entry, int32_t value);
  static int32_t NextAfter(const TChronEntry& entry, int32_t value);
};

// Raises EConvertError for numbers that do not convert or lie outside their
// field, ECronError "Schedule is not in valid CRON format" otherwise.
TChronSchedule ParseCronText(std::string_view text);

// The earliest whole second after max(from, start) that every field allows,
// or 0 when there is none (none left before the year limit, or later than
// end). end and start are ignored when 0. Raises ECronError
// "Invalid cron format" when the entries can never match at all or the
// search needs more than 10000 tests.
double NextMoment(const TChronSchedule& entries, double end, double start, double from);

class TSchedule {
 public:
  enum : uint8_t { kWaiting = 0, kDue = 1, kDueLast = 2, kExpired = 3 };

  TSchedule();

  std::string CronText;
  double EndTime = 0;  // 0 = none
  double NextTime = 0;
  double PrevTime = 0;
  double StartTime = 0;  // 0 = none
  TChronSchedule Entries;
  uint8_t State = kWaiting;

  // Parses when the text differs from CronText (a text that fails leaves the
  // schedule as it was), then Reset.
  void SetCronText(std::string_view text);
  // NextTime := now, then CalcNext.
  void Reset();
  bool CalcNext();
  // Decides State from the current time; clears run_at_start once used.
  void Check(bool& run_at_start);
};
