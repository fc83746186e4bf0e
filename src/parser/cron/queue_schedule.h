#pragma once
// A queue's scheduled events: the events of time and cron items, their keys,
// and how long the queue's requests may stay apart.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parser/basic_request_item.h"
#include "parser/queue_controller.h"

// Builds the scheduled event `index` of a time or cron item on the queue
// (fields in cron-parameter order: 0 day of week ... 5 seconds). Errors go to
// the queue's OnError with the context "Cron"; the event stays in the list.
void AddScheduledEvent(TQueueControllerTimer& queue, TBasicRequestItem& item,
                       const TExportCronParams& fields, int index);
// The entries of a time-of-day list ("8:30; 2 pm, 23:59:30"), each with its
// position in the list and its fields in cron-parameter order; entries that
// name no time are left out.
struct TTimeOfDayEntry {
  int Index = 0;
  TExportCronParams Fields;
};
std::vector<TTimeOfDayEntry> ParseTimeOfDayList(std::string_view list);
// The cron text of an event's fields (the year any).
std::string CronTextOf(const TExportCronParams& fields);
// The events of an AtTime item (one per time of day) or of a Cron item.
void AddTimeEvents(TQueueControllerTimer& queue, TBasicRequestItem& item);
// "G" + method + "_" + 8 hex digits of the item's serial + "_" + 8 hex
// digits of the queue.
std::string MakeScheduleKey(const TQueueControllerTimer& queue, uint8_t method, uint32_t serial);

// The longest period of the queue's requests in ms; 0 when there is none.
int64_t LongestRequestPeriod(TQueueControllerTimer& queue);
