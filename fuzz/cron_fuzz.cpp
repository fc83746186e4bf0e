// Random text through the cron parser and the time-of-day list. Checks that
// nothing reads outside the text, that a parsed schedule's next moment lies
// after the time asked from and is itself a moment of the schedule, and
// that every time of the list makes a cron text that parses and fires daily.
//
// Input: up to the first NUL a cron text; after it a time-of-day list.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "fuzz_check.h"
#include "parser/cron/queue_schedule.h"
#include "parser/cron/schedule.h"
#include "platform/datetime.h"

namespace {

// 2025-03-30 01:59:59 and the turn of a leap year.
constexpr double kFrom[] = {45746.0 + (2 * 3600 - 1) / 86400.0, 47118.999988};

void Cron(std::string_view text) {
  TChronSchedule entries;
  try {
    entries = ParseCronText(text);
  } catch (const EqonError&) {
    return;
  }
  for (const double from : kFrom) {
    double next = 0;
    try {
      next = NextMoment(entries, 0, 0, from);
    } catch (const EqonError&) {
      return;  // no moment at all
    }
    if (next == 0) continue;  // none left
    Check(next > from, "next moment after the start");
    // One second before a moment, the moment is next.
    const double again =
        NextMoment(entries, 0, 0, platform::MsToDateTime(platform::DateTimeToMs(next) - 1000));
    Check(platform::DateTimeToMs(again) == platform::DateTimeToMs(next), "a moment is a moment");
  }
}

void TimeList(std::string_view list) {
  int last = -1;
  for (const TTimeOfDayEntry& e : ParseTimeOfDayList(list)) {
    Check(e.Index > last, "entries in list order");
    last = e.Index;
    const TChronSchedule entries = ParseCronText(CronTextOf(e.Fields));
    const double next = NextMoment(entries, 0, 0, kFrom[0]);
    Check(next > kFrom[0] && next <= kFrom[0] + 1, "a time of day comes within a day");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const size_t cut = all.find('\0');
  Cron(all.substr(0, cut));
  if (cut != std::string_view::npos) TimeList(all.substr(cut + 1));
  return 0;
}
