#include "parser/cron/queue_schedule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string_view>

#include "base/errors.h"
#include "base/str_to_int.h"
#include "base/trim.h"
#include "parser/cron/schedule.h"
#include "parser/cron/scheduled_event.h"
#include "platform/strings.h"
#include "platform/tick.h"

namespace {
constexpr int64_t kDayMs = 86400000;
}  // namespace

std::string MakeScheduleKey(const TQueueControllerTimer& queue, uint8_t method, uint32_t serial) {
  char key[40];
  std::snprintf(key, sizeof(key), "G%u_%08X_%08X", static_cast<unsigned>(method),
                static_cast<unsigned>(serial),
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(&queue) & 0xFFFFFFFFu));
  return key;
}

namespace {

// Whether the item already carries a key of this queue for its method (the
// events of one time list share one key).
bool IsKeyOf(const TQueueControllerTimer& queue, uint8_t method, const std::string& key) {
  const std::string sample = MakeScheduleKey(queue, method, 0);
  if (key.size() != sample.size()) return false;
  const size_t serial_at = sample.find('_') + 1;
  return key.compare(0, serial_at, sample, 0, serial_at) == 0 &&
         key.compare(serial_at + 8, std::string::npos, sample, serial_at + 8) == 0;
}

}  // namespace

std::string CronTextOf(const TExportCronParams& fields) {
  std::string text;
  for (int k = 5; k >= 0; --k) {
    std::string_view field = TrimControls(fields[static_cast<size_t>(k)]);
    if (!text.empty()) text += ' ';
    if (field.empty())
      text += k >= 3 ? "0" : "*";
    else
      text.append(field);
  }
  return text + " *";
}

void AddScheduledEvent(TQueueControllerTimer& queue, TBasicRequestItem& item,
                       const TExportCronParams& fields, int index) {
  std::string key = item.ScheduleKey;
  if (!IsKeyOf(queue, item.Method, key))
    key = MakeScheduleKey(queue, item.Method, queue.NextScheduleSerial());
  item.ScheduleKey = key;
  std::string text;
  std::exception_ptr error;
  {
    std::lock_guard<std::mutex> lock(queue.EventsLock);
    TScheduledEvent& event = queue.ScheduledEvents->Add(key + "/" + std::to_string(index));
    try {
      event.SetSignalType(TScheduledEvent::kSignalTimer);
      text = CronTextOf(fields);
      event.Schedule.SetCronText(text);
      event.OnSchedule = [&queue](TScheduledEvent& fired, void*) { queue.OnScheduleFired(fired); };
      event.Start(false);
    } catch (...) {
      error = std::current_exception();
    }
  }
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    queue.DoError("Cron", e, text);
  } catch (...) {
    queue.DoError("Cron", EqonError("Unknown error"), text);
  }
}

std::vector<TTimeOfDayEntry> ParseTimeOfDayList(std::string_view list) {
  std::vector<TTimeOfDayEntry> out;
  size_t begin = 0;
  for (int index = 0; begin <= list.size(); ++index) {
    size_t end = list.find_first_of(";,", begin);
    if (end == std::string::npos) end = list.size();
    const std::string_view entry(list.data() + begin, end - begin);
    begin = end + 1;

    std::string t = platform::AnsiLowerCase(TrimControls(entry));
    if (t.empty()) continue;
    size_t cut = t.find('p');
    const bool pm = cut != std::string::npos;
    if (!pm) cut = t.find('a');
    const bool am = !pm && cut != std::string::npos;
    if (cut != std::string::npos) t = std::string(TrimControls(std::string_view(t).substr(0, cut)));

    int32_t parts[3] = {-1, -1, -1};
    std::string_view rest(t);
    for (int32_t& part : parts) {
      const size_t colon = rest.find(':');
      const std::string_view piece = TrimControls(rest.substr(0, colon));
      if (!TryStrToInt(piece, &part)) part = -1;
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
    int32_t hours = parts[0];
    if (hours < 0) continue;
    if (pm && hours >= 1 && hours <= 11) hours += 12;
    if (am && hours == 12) hours = 0;  // 12 am is midnight
    if (hours > 23) continue;
    const int32_t minutes = parts[1] >= 0 && parts[1] <= 59 ? parts[1] : 0;
    const int32_t seconds = parts[2] >= 0 && parts[2] <= 59 ? parts[2] : 0;

    TTimeOfDayEntry e;
    e.Index = index;
    e.Fields[0] = e.Fields[1] = e.Fields[2] = "*";
    e.Fields[3] = std::to_string(hours);
    e.Fields[4] = std::to_string(minutes);
    e.Fields[5] = std::to_string(seconds);
    out.push_back(std::move(e));
    if (end == list.size()) break;
  }
  return out;
}

void AddTimeEvents(TQueueControllerTimer& queue, TBasicRequestItem& item) {
  if (item.Method == kMethodCron) {
    AddScheduledEvent(queue, item, item.Mode.CronParams, 0);
    return;
  }
  for (const TTimeOfDayEntry& e : ParseTimeOfDayList(item.Mode.MethodText))
    AddScheduledEvent(queue, item, e.Fields, e.Index);
}

int64_t LongestRequestPeriod(TQueueControllerTimer& queue) {
  int64_t longest = 0;
  bool timed = false;
  auto list = queue.Requests->ReadLocked();
  for (const TBasicRequestItem* item : *list) {
    switch (item->Method) {
      case kMethodPoll:
        longest = std::max<int64_t>(longest, item->PollInterval);
        break;
      case kMethodAtTime:
      case kMethodCron:
        timed = true;
        break;
      case kMethodEvent:
        longest = std::max(longest, kDayMs);
        break;
      default:
        break;
    }
  }
  if (!timed) return longest;
  // The gaps between ten successive moments of every event, not the wait
  // for the first one.
  std::lock_guard<std::mutex> lock(queue.EventsLock);
  for (size_t i = 0; i < queue.ScheduledEvents->Count(); ++i) {
    const TSchedule& schedule = queue.ScheduledEvents->Items(i).Schedule;
    try {
      double previous =
          NextMoment(schedule.Entries, schedule.EndTime, schedule.StartTime, platform::LocalNow());
      for (int k = 1; k < 10 && previous != 0; ++k) {
        const double next =
            NextMoment(schedule.Entries, schedule.EndTime, schedule.StartTime, previous);
        if (next == 0) break;
        longest = std::max<int64_t>(longest, std::llround((next - previous) * kDayMs));
        previous = next;
      }
    } catch (...) {
    }
  }
  return longest;
}
