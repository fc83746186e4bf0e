#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "parser/cron/interval_meter.h"
#include "parser/cron/schedule.h"
#include "platform/tick.h"

namespace {

using namespace std::chrono;

// Dates here come from the standard calendar, not from the library's own.
constexpr sys_days kZero = sys_days{year{1899} / December / 30};

int64_t SecondsOf(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
  const int64_t days = (sys_days{year{y} / mo / d} - kZero).count();
  return days * 86400 + h * 3600 + mi * 60 + s;
}

double At(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return static_cast<double>(SecondsOf(y, mo, d, h, mi, s) * 1000 + ms) / 86400000.0;
}

std::string TextOfSeconds(int64_t sec) {
  const int64_t day = sec >= 0 ? sec / 86400 : -((-sec + 86399) / 86400);
  const int64_t tod = sec - day * 86400;
  const year_month_day ymd{kZero + days{day}};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(tod / 3600), static_cast<int>(tod / 60 % 60),
                static_cast<int>(tod % 60));
  return buf;
}

std::string Text(double dt) {
  if (dt == 0) return "none";
  const int64_t ms = std::llround(dt * 86400000.0);
  EXPECT_EQ(ms % 1000, 0) << "moments are whole seconds";
  return TextOfSeconds(ms / 1000);
}

std::string Next(const char* cron, double from) {
  return Text(NextMoment(ParseCronText(cron), 0, 0, from));
}

// Brute force: every day by the standard calendar, every second of a day
// whose date fields are allowed. Fields are judged by NextOrSame alone.
bool AllowedValue(const TChronEntry& e, int v) {
  return TChronEntryHelper::NextOrSame(e, v) == v;
}

std::string Reference(const TChronSchedule& e, double from, int last_year) {
  const int64_t start =
      static_cast<int64_t>(std::floor(std::llround(from * 86400000.0) / 1000.0)) + 1;
  int64_t day = start / 86400;
  for (;; ++day) {
    const year_month_day ymd{kZero + days{day}};
    const int y = static_cast<int>(ymd.year());
    if (y > last_year) return "none";
    const int mo = static_cast<int>(static_cast<unsigned>(ymd.month()));
    const int d = static_cast<int>(static_cast<unsigned>(ymd.day()));
    TChronEntry dom = e[kCronDayOfMonth];
    const int dim = static_cast<int>(
        static_cast<unsigned>(year_month_day_last{ymd.year() / ymd.month() / last}.day()));
    dom.High = std::min(dom.High, dim);
    const int dow = static_cast<int>(weekday{kZero + days{day}}.iso_encoding());
    if (!AllowedValue(e[kCronYear], y) || !AllowedValue(e[kCronMonth], mo) ||
        !AllowedValue(dom, d) || !AllowedValue(e[kCronDayOfWeek], dow))
      continue;
    for (int64_t s = std::max<int64_t>(start, day * 86400); s < (day + 1) * 86400; ++s) {
      const int tod = static_cast<int>(s - day * 86400);
      if (AllowedValue(e[kCronHours], tod / 3600) && AllowedValue(e[kCronMinutes], tod / 60 % 60) &&
          AllowedValue(e[kCronSeconds], tod % 60))
        return TextOfSeconds(s);
    }
  }
}

TEST(CronNextMoment, ExamplesFromTheCalendar) {
  const double june1 = At(2023, 6, 1);
  EXPECT_EQ(Next("0 0 0 13 * 5", june1), "2023-10-13 00:00:00");  // Friday the 13th
  EXPECT_EQ(Next("0 0 0 29 2 1", june1), "2044-02-29 00:00:00");  // 29 February, a Monday
  EXPECT_EQ(Next("0 0 0 29 2 1", At(2044, 3, 1)), "2072-02-29 00:00:00");
  EXPECT_EQ(Next("0 0 12 31 * *", june1), "2023-07-31 12:00:00");  // June has 30 days
  EXPECT_EQ(Next("0 0 12 31 * *", At(2023, 7, 31, 12)), "2023-08-31 12:00:00");
  EXPECT_EQ(Next("0 0 0 31 * *", At(2023, 8, 31, 0, 0, 1)), "2023-10-31 00:00:00");
  EXPECT_EQ(Next("0 0 0 29 2 *", At(2023, 1, 1)), "2024-02-29 00:00:00");
  EXPECT_EQ(Next("0 0 0 29 2 *", At(2096, 3, 1)), "2104-02-29 00:00:00");  // 2100 is no leap year
  EXPECT_EQ(Next("0 0 0 15 * 1", june1), "2024-01-15 00:00:00");  // a 15th that is a Monday
  EXPECT_EQ(Next("30 15 10 1 1 * *", At(2023, 1, 1, 10, 15, 30)), "2024-01-01 10:15:30");
  EXPECT_EQ(Next("59 59 23 31 12 *", At(2023, 12, 31, 23, 59, 58)), "2023-12-31 23:59:59");
  EXPECT_EQ(Next("* * * * * *", At(2023, 12, 31, 23, 59, 59)), "2024-01-01 00:00:00");
}

TEST(CronNextMoment, WholeSecondsWithoutDrift) {
  // From 12:00:00 itself, whatever its milliseconds, the next noon is tomorrow's.
  for (int ms : {0, 1, 500, 999})
    EXPECT_EQ(Next("0 0 12 * * *", At(2023, 6, 1, 12, 0, 0, ms)), "2023-06-02 12:00:00");
  EXPECT_EQ(Next("0 0 12 * * *", At(2023, 6, 1, 11, 59, 59, 999)), "2023-06-01 12:00:00");
  // A long chain, each from the one before, stays on the exact second.
  const TChronSchedule e = ParseCronText("0 0 12 * * *");
  double t = At(2023, 1, 1);
  for (int i = 0; i < 3000; ++i)
    t = NextMoment(e, 0, 0, t);
  EXPECT_EQ(Text(t), "2031-03-19 12:00:00");
}

// n successive moments, each from the one before.
std::vector<std::string> Moments(const char* cron, double from, int n) {
  const TChronSchedule e = ParseCronText(cron);
  std::vector<std::string> out;
  for (double t = from; n-- > 0;)
    out.push_back(Text(t = NextMoment(e, 0, 0, t)));
  return out;
}

TEST(CronNextMoment, StepsRangesAndLists) {
  const double t = At(2023, 6, 1, 10, 0, 0);
  EXPECT_EQ(
      Moments("*/15 * * * * *", t, 5),
      (std::vector<std::string>{"2023-06-01 10:00:15", "2023-06-01 10:00:30", "2023-06-01 10:00:45",
                                "2023-06-01 10:01:00", "2023-06-01 10:01:15"}));
  // "a/s" runs from a to the field's end: four times an hour, not once.
  EXPECT_EQ(Moments("0 0/15 * * * *", t, 4),
            (std::vector<std::string>{"2023-06-01 10:15:00", "2023-06-01 10:30:00",
                                      "2023-06-01 10:45:00", "2023-06-01 11:00:00"}));
  EXPECT_EQ(Moments("0 5/20 * * * *", t, 4),
            (std::vector<std::string>{"2023-06-01 10:05:00", "2023-06-01 10:25:00",
                                      "2023-06-01 10:45:00", "2023-06-01 11:05:00"}));
  EXPECT_EQ(Moments("0 10-20/5 * * * *", At(2023, 6, 1, 10, 16), 2),
            (std::vector<std::string>{"2023-06-01 10:20:00", "2023-06-01 11:10:00"}));
  // Day of week 1-5: Friday 2 June 2023 is followed by Monday the 5th; 7 is Sunday.
  EXPECT_EQ(Next("0 0 8 * * 1-5", At(2023, 6, 2, 9)), "2023-06-05 08:00:00");
  EXPECT_EQ(Next("0 0 8 * * 7", At(2023, 6, 1)), "2023-06-04 08:00:00");
  EXPECT_EQ(Next("0 0 0 1 1 * 2030", t), "2030-01-01 00:00:00");
  EXPECT_EQ(Next("0 0 0 1 1 * 2020,2022", t), "none");  // all moments are past
}

TEST(CronParse, FieldForms) {
  const TChronSchedule e = ParseCronText("  5,1,3   1-10/3,20\t*/7 ? 2-4 1 ");
  EXPECT_EQ(e[kCronSeconds].Values, (std::vector<int32_t>{1, 3, 5}));
  EXPECT_EQ(e[kCronSeconds].Low, 1);
  EXPECT_EQ(e[kCronSeconds].High, 5);
  EXPECT_EQ(e[kCronMinutes].Values, (std::vector<int32_t>{1, 4, 7, 10, 20}));
  EXPECT_EQ(e[kCronMinutes].Step, 3);
  EXPECT_EQ(e[kCronHours], (TChronEntry{0, 23, 7, false, {}}));
  EXPECT_EQ(e[kCronDayOfMonth], (TChronEntry{1, 31, 0, true, {}}));
  EXPECT_EQ(e[kCronMonth], (TChronEntry{2, 4, 1, false, {}}));
  EXPECT_EQ(e[kCronDayOfWeek].Values, (std::vector<int32_t>{1}));
  EXPECT_EQ(e[kCronYear], (TChronEntry{1900, 3000, 1, false, {}}));  // padded

  const TChronSchedule four = ParseCronText("0 30 12 15");
  EXPECT_EQ(four[kCronMonth], (TChronEntry{1, 12, 1, false, {}}));
  EXPECT_EQ(four[kCronDayOfWeek], (TChronEntry{1, 7, 1, false, {}}));
  EXPECT_EQ(Next("0 30 12 15", At(2023, 6, 15, 13)), "2023-07-15 12:30:00");
  EXPECT_EQ(ParseCronText("0 0 0 1 1 1 2030 junk junk")[kCronYear].Values,
            (std::vector<int32_t>{2030}));  // fields past the seventh are ignored
  EXPECT_EQ(ParseCronText("*/0 $A 0x3 3-$5")[kCronSeconds].Step, 1);
  EXPECT_EQ(ParseCronText("*/0 $A 0x3 3-$5")[kCronMinutes].Values, (std::vector<int32_t>{10}));
  EXPECT_EQ(ParseCronText("0 0 0 1 1 * 1900-3000,1900-3000")[kCronYear].Values.size(), 1101u);
}

template <typename E>
std::string ErrorOf(const char* text) {
  try {
    ParseCronText(text);
  } catch (const E& e) {
    return e.what();
  }
  return "accepted";
}

TEST(CronParse, RejectsWhatIsNoSchedule) {
  EXPECT_EQ(ErrorOf<ECronError>("? ? ? ? ? ? ?"), "Schedule is not in valid CRON format");
  EXPECT_EQ(ErrorOf<ECronError>("? ? ? ? ? ?"), "accepted");  // the padded year is "*"
  EXPECT_EQ(ErrorOf<ECronError>("0 0 20-5"), "Schedule is not in valid CRON format");
  EXPECT_EQ(ErrorOf<ECronError>("0 0 1,20-5"), "Schedule is not in valid CRON format");
  // Values outside their field fail where they are written, like text.
  const std::pair<const char*, const char*> bad[] = {{"0 0 24", "24"},
                                                     {"0 0 0 0", "0"},
                                                     {"0 0 0 1 13", "13"},
                                                     {"0 0 0 1 1 0", "0"},
                                                     {"0 0 0 1 1 * 3001", "3001"},
                                                     {"60/5", "60"},
                                                     {"1-60", "60"},
                                                     {"1,,2", ""},
                                                     {"*/", ""},
                                                     {"5-", ""},
                                                     {"99999999999", "99999999999"},
                                                     {"a", "a"}};
  for (const auto& [text, value] : bad)
    EXPECT_EQ(ErrorOf<EConvertError>(text),
              "'" + std::string(value) + "' is not a valid integer value");
}

TEST(CronNextMoment, TextsThatNeverFireRaise) {
  for (const char* text : {"0 0 0 30 2 *", "0 0 0 31 4 *", "0 0 0 31 2,4,6,9,11 *",
                           "0 0 0 29 2 * 2021-2023", "?/5 * * * * *"}) {
    const TChronSchedule e = ParseCronText(text);
    EXPECT_THROW(NextMoment(e, 0, 0, At(2023, 6, 1)), ECronError) << text;
  }
  try {
    NextMoment(ParseCronText("0 0 0 30 2 *"), 0, 0, At(2023, 6, 1));
  } catch (const ECronError& e) {
    EXPECT_STREQ(e.what(), "Invalid cron format");
  }
}

TEST(CronNextMoment, StartAndEndBoundTheSearch) {
  const TChronSchedule e = ParseCronText("0 0 12 * * *");
  const double from = At(2023, 6, 1);
  EXPECT_EQ(Text(NextMoment(e, 0, At(2023, 6, 10, 8), from)), "2023-06-10 12:00:00");
  EXPECT_EQ(Text(NextMoment(e, 0, At(2023, 6, 10, 12), from)), "2023-06-11 12:00:00");
  EXPECT_EQ(Text(NextMoment(e, At(2023, 6, 1, 12), 0, from)), "2023-06-01 12:00:00");
  EXPECT_EQ(Text(NextMoment(e, At(2023, 6, 1, 11, 59, 59), 0, from)), "none");
  EXPECT_EQ(Text(NextMoment(e, At(2023, 5, 1), 0, from)), "none");
  // The years end at the field's end and at 9999 at the latest.
  EXPECT_EQ(Text(NextMoment(e, 0, 0, At(3000, 12, 31, 13))), "none");
  EXPECT_EQ(Text(NextMoment(ParseCronText("0 0 12 * * * ?"), 0, 0, At(9999, 12, 31, 13))), "none");
  EXPECT_EQ(Text(NextMoment(ParseCronText("0 0 12 * * * ?"), 0, 0, At(5000, 1, 1))),
            "5000-01-01 12:00:00");
  EXPECT_EQ(Text(NextMoment(ParseCronText("0 0 12 * * * ?"), 0, 0, At(1, 1, 1))),
            "0001-01-01 12:00:00");
}

// Random well-formed texts against the brute-force walk.
std::string RandomField(std::mt19937& rng, int low, int high, bool year) {
  auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
  const int span = high - low;
  const int a = pick(low, high);
  const int b = pick(a, std::min(high, a + span / 2));
  switch (pick(0, year ? 3 : 8)) {
    case 0:
    case 1:
      return "*";
    case 2:
      return "*/" + std::to_string(pick(1, span / 2 + 1));
    case 3:
      return std::to_string(a) + "-" + std::to_string(b);
    case 4:
    case 5:
      return std::to_string(a);
    case 6:
      return std::to_string(a) + "-" + std::to_string(b) + "/" + std::to_string(pick(1, 5));
    case 7:
      return std::to_string(a) + "/" + std::to_string(pick(1, span / 3 + 1));
    default: {
      std::string list = std::to_string(a);
      for (int n = pick(1, 3); n > 0; --n)
        list += "," + std::to_string(pick(low, high));
      return list;
    }
  }
}

TEST(CronNextMoment, AgreesWithBruteForce) {
  std::mt19937 rng(20230601);
  int found = 0;
  for (int i = 0; i < 250; ++i) {
    const bool sparse_time = i % 2 == 0;
    std::string text = RandomField(rng, 0, 59, false);
    text += " " + (sparse_time ? std::to_string(rng() % 60) : RandomField(rng, 0, 59, false));
    text += " " + (sparse_time ? std::to_string(rng() % 24) : RandomField(rng, 0, 23, false));
    text += " " + RandomField(rng, 1, 31, false);
    text += " " + RandomField(rng, 1, 12, false);
    text += " " + RandomField(rng, 1, 7, false);
    text += " " + (rng() % 4 == 0 ? RandomField(rng, 2020, 2060, true) : std::string("*"));
    const TChronSchedule e = ParseCronText(text);
    const double from = At(2000 + static_cast<int>(rng() % 60), 1 + rng() % 12, 1 + rng() % 28,
                           static_cast<int>(rng() % 24), static_cast<int>(rng() % 60),
                           static_cast<int>(rng() % 60), static_cast<int>(rng() % 1000));
    std::string got;
    try {
      got = Text(NextMoment(e, 0, 0, from));
    } catch (const ECronError&) {
      got = "none";
    }
    const std::string want = Reference(e, from, 3000);
    ASSERT_EQ(got, want) << text << " from " << Text(from);
    found += got != "none";
  }
  EXPECT_GT(found, 150);
}

TEST(CronParse, AnyInputParsesOrRaisesAndNeverHangs) {
  const std::string alphabet = "0123456789*/?-,$x  \t59";
  for (uint32_t seed = 0; seed < 3000; ++seed) {
    std::mt19937 rng(seed);
    std::string text;
    const size_t len = rng() % 48;
    for (size_t i = 0; i < len; ++i)
      text += seed % 3 == 0 ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
    try {
      const TChronSchedule e = ParseCronText(text);
      for (const TChronEntry& entry : e)
        ASSERT_LE(entry.Values.size(), 1101u);
      NextMoment(e, 0, 0, At(2023, 6, 1, 12));
    } catch (const EConvertError&) {
    } catch (const ECronError& e) {
      const std::string m = e.what();
      ASSERT_TRUE(m == "Invalid cron format" || m == "Schedule is not in valid CRON format") << m;
    }
  }
  for (const char* text : {"*/2147483647", "0/2147483647", "1-59/2147483647,2", "*/-2147483648",
                           "?/2147483647 ?/-2147483648 ? ? ? ? ?", "? ? ? ? ? ? ?/2000",
                           "0 0 0 1-31/2147483647 * * 1900-3000/2147483647"}) {
    try {
      NextMoment(ParseCronText(text), 0, 0, At(2023, 6, 1, 12));
    } catch (const ECronError&) {
    }
  }
  // A megabyte of list stays a field of at most 60 values.
  std::string huge;
  while (huge.size() < (1u << 20))
    huge += "0-59,";
  EXPECT_EQ(ParseCronText(huge + "1")[kCronSeconds].Values.size(), 60u);
}

TEST(CronEntryHelper, NextValues) {
  const TChronEntry range{10, 38, 5, false, {}};
  EXPECT_EQ(TChronEntryHelper::NextOrSame(range, 21), 25);
  EXPECT_EQ(TChronEntryHelper::NextOrSame(range, 36), 10);  // 40 is past High
  EXPECT_EQ(TChronEntryHelper::NextAfter(range, INT32_MAX), 10);
  const TChronEntry any{0, 59, 10, true, {}};  // "?/10" steps from the value itself
  EXPECT_EQ(TChronEntryHelper::NextAfter(any, 20), 30);
  EXPECT_EQ(TChronEntryHelper::NextOrSame(any, 55), 5);
}

TEST(CronSchedule, CheckFollowsTheClock) {
  platform::VirtualClock clock(1'000'000, At(2023, 6, 1, 11, 59, 58, 500));
  TSchedule s;
  s.SetCronText("0 0 12 * * *");
  EXPECT_EQ(Text(s.NextTime), "2023-06-01 12:00:00");
  bool run_at_start = false;
  s.Check(run_at_start);
  EXPECT_EQ(s.State, TSchedule::kWaiting);
  clock.Advance(1500);  // 12:00:00.000
  s.Check(run_at_start);
  EXPECT_EQ(s.State, TSchedule::kDue);
  EXPECT_EQ(Text(s.PrevTime), "2023-06-01 12:00:00");
  EXPECT_EQ(Text(s.NextTime), "2023-06-02 12:00:00");
  s.Check(run_at_start);
  EXPECT_EQ(s.State, TSchedule::kWaiting);

  // A text that fails to parse leaves the schedule as it was.
  EXPECT_THROW(s.SetCronText("0 0 25"), EConvertError);
  EXPECT_EQ(s.CronText, "0 0 12 * * *");
  EXPECT_EQ(Text(s.NextTime), "2023-06-02 12:00:00");

  s.EndTime = At(2023, 6, 1, 13);
  clock.SetLocalNow(At(2023, 6, 1, 13, 0, 0, 1));
  s.Check(run_at_start);
  EXPECT_EQ(s.State, TSchedule::kExpired);
}

TEST(CronSchedule, LastMomentAndRunAtStart) {
  platform::VirtualClock clock(1'000'000, At(2024, 12, 31, 23, 0));
  TSchedule s;
  s.SetCronText("0 0 0,23 31 12 * 2024");
  EXPECT_EQ(Text(s.NextTime), "none");  // 23:00:00 itself is not after now
  clock.SetLocalNow(At(2024, 12, 31, 22, 0));
  s.Reset();
  EXPECT_EQ(Text(s.NextTime), "2024-12-31 23:00:00");
  clock.SetLocalNow(At(2024, 12, 31, 23, 0));
  bool run_at_start = false;
  s.Check(run_at_start);
  EXPECT_EQ(s.State, TSchedule::kDueLast);

  s.SetCronText("0 0 12 * * *");
  s.StartTime = At(2025, 1, 5, 8);
  run_at_start = true;
  s.Check(run_at_start);
  EXPECT_FALSE(run_at_start);
  EXPECT_EQ(s.State, TSchedule::kWaiting);
  EXPECT_EQ(Text(s.NextTime), "2025-01-05 08:00:00");
  clock.SetLocalNow(At(2025, 1, 5, 8, 0, 0, 1));
  s.Check(run_at_start);
  EXPECT_EQ(s.State, TSchedule::kDue);
  EXPECT_EQ(Text(s.NextTime), "2025-01-05 12:00:00");
}

TEST(CronIntervalMeter, MeasuresOnTheVirtualClock) {
  platform::VirtualClock clock;
  TIntervalMeter meter;
  EXPECT_FALSE(meter.HasCounter);
  clock.Advance(1234);
  EXPECT_EQ(meter.ElapsedMs(), 1234u);
  meter.Reset();
  EXPECT_EQ(meter.ElapsedMs(), 0u);
}

}  // namespace
