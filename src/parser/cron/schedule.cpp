#include "parser/cron/schedule.h"

#include <algorithm>

#include "base/str_to_int.h"
#include "platform/datetime.h"
#include "platform/tick.h"

namespace {

constexpr char kNotCron[] = "Schedule is not in valid CRON format";
constexpr char kInvalidCron[] = "Invalid cron format";
constexpr int kMaxTests = 10000;
constexpr int kMaxYear = 9999;
constexpr int64_t kNoMoment = INT64_MIN;  // seconds before 1899-12-30 are negative

struct FieldRange {
  int32_t low;
  int32_t high;
};

constexpr FieldRange kRanges[kCronFieldCount] = {{0, 59}, {0, 59}, {0, 23},     {1, 31},
                                                 {1, 12}, {1, 7},  {1900, 3000}};

// ---- parsing ---------------------------------------------------------------

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool Has(std::string_view s, char c) {
  return s.find(c) != std::string_view::npos;
}

[[noreturn]] void RaiseConvert(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

// A value of the field; values outside its range fail like text that does
// not convert, so that a bad field is reported where it is written.
int32_t FieldValue(std::string_view text, const FieldRange& range) {
  const int32_t v = StrToInt(text);
  if (v < range.low || v > range.high) RaiseConvert(text);
  return v;
}

int32_t StepValue(std::string_view text) {
  return std::max<int32_t>(1, StrToInt(text));
}

struct Range {
  int32_t low;
  int32_t high;
  int32_t step;
};

// "a-b" or "a-b/t" (no "/" allowed in a), or "a/t" = a up to the field's end.
Range ParseRangeElement(std::string_view e, const FieldRange& range) {
  const size_t dash = e.find('-');
  if (dash == std::string_view::npos) {
    const size_t slash = e.find('/');
    return {FieldValue(e.substr(0, slash), range), range.high, StepValue(e.substr(slash + 1))};
  }
  std::string_view rest = e.substr(dash + 1);
  int32_t step = 1;
  const size_t slash = rest.find('/');
  if (slash != std::string_view::npos) {
    step = StepValue(rest.substr(slash + 1));
    rest = rest.substr(0, slash);
  }
  const int32_t a = FieldValue(e.substr(0, dash), range);
  const int32_t b = FieldValue(rest, range);
  if (a > b) throw ECronError(kNotCron);
  return {a, b, step};
}

TChronEntry ParseList(std::string_view f, const FieldRange& range) {
  // Collected as a set over the field's range, so repeats cannot grow it.
  std::vector<bool> seen(static_cast<size_t>(range.high - range.low + 1));
  int32_t last_step = 0;
  size_t begin = 0;
  while (true) {
    const size_t comma = f.find(',', begin);
    const std::string_view e =
        f.substr(begin, comma == std::string_view::npos ? std::string_view::npos : comma - begin);
    if (Has(e, '-') || Has(e, '/')) {
      const Range r = ParseRangeElement(e, range);
      for (int64_t v = r.low; v <= r.high; v += r.step)
        seen[static_cast<size_t>(v - range.low)] = true;
      last_step = r.step;
    } else {
      seen[static_cast<size_t>(FieldValue(e, range) - range.low)] = true;
    }
    if (comma == std::string_view::npos) break;
    begin = comma + 1;
  }
  TChronEntry entry;
  for (size_t i = 0; i < seen.size(); ++i)
    if (seen[i]) entry.Values.push_back(range.low + static_cast<int32_t>(i));
  entry.Low = entry.Values.front();
  entry.High = entry.Values.back();
  entry.Step = last_step;
  return entry;
}

TChronEntry ParseField(std::string_view f, const FieldRange& range) {
  const bool list = Has(f, ',');
  int32_t step = 0;
  bool stepped = false;
  if (!list && Has(f, '/')) {
    const size_t slash = f.find('/');
    step = StrToInt(f.substr(slash + 1));
    f = f.substr(0, slash);
    stepped = true;
  }
  TChronEntry entry;
  if (Has(f, '*')) {
    entry.Low = range.low;
    entry.High = range.high;
    entry.Step = std::max(1, step);
    return entry;
  }
  if (Has(f, '?')) {
    entry.Low = range.low;
    entry.High = range.high;
    entry.Step = step;
    entry.AnyFlag = true;
    return entry;
  }
  if (!list && Has(f, '-')) {
    const size_t dash = f.find('-');
    entry.Low = FieldValue(f.substr(0, dash), range);
    entry.High = FieldValue(f.substr(dash + 1), range);
    if (entry.Low > entry.High) throw ECronError(kNotCron);
    entry.Step = std::max(1, step);
    return entry;
  }
  if (stepped) {
    // "a/s": from a to the field's end every s.
    entry.Low = FieldValue(f, range);
    entry.High = range.high;
    entry.Step = std::max(1, step);
    return entry;
  }
  return ParseList(f, range);
}

// ---- matching --------------------------------------------------------------

int64_t NextOrSame64(const TChronEntry& e, int64_t v, int64_t high) {
  if (e.AnyFlag) {
    const int64_t n = v + e.Step;
    if (n <= high) return n;
    const int64_t size = high - e.Low + 1;
    if (size <= 0) return e.Low;
    return std::max<int64_t>(e.Low, ((n % size) + size) % size);
  }
  if (!e.Values.empty()) {
    const auto it = std::lower_bound(e.Values.begin(), e.Values.end(), v);
    return it != e.Values.end() ? *it : e.Values.front();
  }
  if (v < e.Low || v > high) return e.Low;
  const int64_t step = std::max(1, e.Step);
  const int64_t d = v - e.Low;
  if (d % step == 0) return v;
  const int64_t next = e.Low + (d / step + 1) * step;
  return next > high ? e.Low : next;
}

// A value is allowed when NextOrSame gives it back. high stands for the
// entry's High (the day-of-month entry never reaches past its month).
bool Allowed(const TChronEntry& e, int64_t v, int64_t high) {
  return NextOrSame64(e, v, high) == v;
}

// The smallest allowed value in from..limit, or -1.
int64_t NextAllowed(const TChronEntry& e, int64_t from, int64_t limit, bool month_bound = false) {
  const int64_t high = month_bound ? std::min<int64_t>(e.High, limit) : e.High;
  if (from > limit) return -1;
  if (e.AnyFlag) {
    if (e.Step == 0) return from;
    // Only values whose step passes High can come back to themselves.
    for (int64_t v = std::max(from, high - e.Step + 1); v <= limit; ++v)
      if (Allowed(e, v, high)) return v;
    return -1;
  }
  if (!e.Values.empty()) {
    const auto it = std::lower_bound(e.Values.begin(), e.Values.end(), from);
    return it != e.Values.end() && *it <= limit ? *it : -1;
  }
  if (e.Low > high) return from <= e.Low && e.Low <= limit ? e.Low : -1;
  const int64_t step = std::max(1, e.Step);
  int64_t v = e.Low;
  if (from > e.Low) v = e.Low + (from - e.Low + step - 1) / step * step;
  return v <= std::min(high, limit) ? v : -1;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

struct Search {
  const TChronSchedule& e;
  int tests = 0;

  void Test() {
    if (++tests > kMaxTests) throw ECronError(kInvalidCron);
  }

  // The first allowed time of day at or after h:m:s, as seconds of the day.
  int64_t TimeOfDay(int64_t h0, int64_t m0, int64_t s0) {
    for (int64_t h = NextAllowed(e[kCronHours], h0, 23); h >= 0;
         h = NextAllowed(e[kCronHours], h + 1, 23)) {
      Test();
      const bool first_hour = h == h0;
      for (int64_t m = NextAllowed(e[kCronMinutes], first_hour ? m0 : 0, 59); m >= 0;
           m = NextAllowed(e[kCronMinutes], m + 1, 59)) {
        Test();
        const int64_t s = NextAllowed(e[kCronSeconds], first_hour && m == m0 ? s0 : 0, 59);
        if (s >= 0) return h * 3600 + m * 60 + s;
      }
    }
    return -1;
  }

  // The first allowed moment at or after the second, or kNoMoment when there
  // is none up to the end of year 9999.
  int64_t From(int64_t second) {
    int64_t first_day = 0, last_second = 0;
    platform::TryEncodeDate(1, 1, 1, &first_day);
    platform::TryEncodeDateTime(kMaxYear, 12, 31, 23, 59, 59, &last_second);
    if (second > last_second) return kNoMoment;
    int64_t day = FloorDiv(second, platform::kSecondsPerDay);
    int64_t tod = second - day * platform::kSecondsPerDay;
    if (day < first_day) {
      day = first_day;
      tod = 0;
    }
    int y0 = 0, mo0 = 0, d0 = 0;
    platform::DecodeDate(day, &y0, &mo0, &d0);
    for (int64_t y = NextAllowed(e[kCronYear], y0, kMaxYear); y >= 0;
         y = NextAllowed(e[kCronYear], y + 1, kMaxYear)) {
      Test();
      const bool first_year = y == y0;
      for (int64_t mo = NextAllowed(e[kCronMonth], first_year ? mo0 : 1, 12); mo >= 0;
           mo = NextAllowed(e[kCronMonth], mo + 1, 12)) {
        Test();
        const bool first_month = first_year && mo == mo0;
        const int dim = platform::DaysInMonth(static_cast<int>(y), static_cast<int>(mo));
        for (int64_t d = NextAllowed(e[kCronDayOfMonth], first_month ? d0 : 1, dim, true); d >= 0;
             d = NextAllowed(e[kCronDayOfMonth], d + 1, dim, true)) {
          Test();
          int64_t days = 0;
          platform::TryEncodeDate(static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d),
                                  &days);
          if (!Allowed(e[kCronDayOfWeek], platform::DayOfWeekIso(days), e[kCronDayOfWeek].High))
            continue;
          const bool first_day_of_search = first_month && d == d0;
          const int64_t t = first_day_of_search ? TimeOfDay(tod / 3600, tod / 60 % 60, tod % 60)
                                                : TimeOfDay(0, 0, 0);
          if (t >= 0) return days * platform::kSecondsPerDay + t;
        }
      }
    }
    return kNoMoment;
  }
};

// Whether some value of the field's natural range is allowed at all.
bool FieldCanMatch(const TChronEntry& e, int field) {
  const int64_t low = field == kCronYear ? 1 : kRanges[field].low;
  const int64_t high = field == kCronYear ? kMaxYear : kRanges[field].high;
  return NextAllowed(e, low, high, field == kCronDayOfMonth) >= 0;
}

}  // namespace

int32_t TChronEntryHelper::NextOrSame(const TChronEntry& entry, int32_t value) {
  return static_cast<int32_t>(NextOrSame64(entry, value, entry.High));
}

int32_t TChronEntryHelper::NextAfter(const TChronEntry& entry, int32_t value) {
  if (entry.AnyFlag) return NextOrSame(entry, value);
  return static_cast<int32_t>(NextOrSame64(entry, static_cast<int64_t>(value) + 1, entry.High));
}

TChronSchedule ParseCronText(std::string_view text) {
  std::string_view fields[kCronFieldCount];
  int count = 0;
  size_t i = 0;
  while (count < kCronFieldCount) {
    while (i < text.size() && IsBlank(text[i]))
      ++i;
    if (i >= text.size()) break;
    const size_t begin = i;
    while (i < text.size() && !IsBlank(text[i]))
      ++i;
    fields[count++] = text.substr(begin, i - begin);
  }
  for (; count < kCronFieldCount; ++count)
    fields[count] = "*";

  TChronSchedule entries;
  bool all_any = true;
  for (int k = 0; k < kCronFieldCount; ++k) {
    entries[k] = ParseField(fields[k], kRanges[k]);
    all_any = all_any && entries[k].AnyFlag && entries[k].Step == 0;
  }
  if (all_any) throw ECronError(kNotCron);
  return entries;
}

double NextMoment(const TChronSchedule& entries, double end, double start, double from) {
  const int64_t t0 = std::max(platform::DateTimeToMs(from),
                              start != 0 ? platform::DateTimeToMs(start) : INT64_MIN);
  const int64_t end_ms = platform::DateTimeToMs(end);
  if (end != 0 && end_ms < t0) return 0;

  for (int k = 0; k < kCronFieldCount; ++k)
    if (!FieldCanMatch(entries[k], k)) throw ECronError(kInvalidCron);

  Search search{entries};
  const int64_t found = search.From(FloorDiv(t0, 1000) + 1);
  if (found == kNoMoment) {
    // None left: fine for a schedule that has had its moments, an error
    // for one that has none at all.
    Search ever{entries};
    const int64_t first_year = NextAllowed(entries[kCronYear], 1, kMaxYear);
    int64_t first_second = 0;
    platform::TryEncodeDateTime(static_cast<int>(first_year), 1, 1, 0, 0, 0, &first_second);
    if (ever.From(first_second) == kNoMoment) throw ECronError(kInvalidCron);
    return 0;
  }
  if (end != 0 && found * 1000 > end_ms) return 0;
  return platform::MsToDateTime(found * 1000);
}

// ---- TSchedule -------------------------------------------------------------

TSchedule::TSchedule() : NextTime(platform::LocalNow()), Entries(ParseCronText(CronText)) {}

void TSchedule::SetCronText(std::string_view text) {
  if (text != CronText) {
    Entries = ParseCronText(text);
    CronText = std::string(text);
  }
  Reset();
}

void TSchedule::Reset() {
  NextTime = platform::LocalNow();
  CalcNext();
}

bool TSchedule::CalcNext() {
  PrevTime = NextTime;
  NextTime = NextMoment(Entries, EndTime, StartTime, NextTime);
  return NextTime != 0;
}

void TSchedule::Check(bool& run_at_start) {
  State = kWaiting;
  const double now = platform::LocalNow();
  const int64_t now_ms = platform::DateTimeToMs(now);
  if (EndTime > 0 && now_ms > platform::DateTimeToMs(EndTime)) {
    State = kExpired;
    return;
  }
  if (run_at_start) {
    if (now_ms >= platform::DateTimeToMs(StartTime))
      State = kDue;
    else
      NextTime = StartTime;
    run_at_start = false;
    return;
  }
  if (platform::DateTimeToMs(NextTime) - now_ms >= 1) return;
  if (!CalcNext())
    State = kDueLast;
  else if (StartTime != 0 && now_ms < platform::DateTimeToMs(StartTime))
    State = kWaiting;
  else
    State = kDue;
}
