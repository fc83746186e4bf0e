#pragma once
// A queue's scheduled events: the events of time and cron items, their keys,
// and how long the queue's requests may stay apart.
#include <cstdint>
#include <string>

#include "parser/basic_request_item.h"
#include "parser/queue_controller.h"

// Builds the scheduled event `index` of a time or cron item on the queue
// (fields in cron-parameter order: 0 day of week ... 5 seconds). Errors go to
// the queue's OnError with the context "Cron"; the event stays in the list.
void AddScheduledEvent(TQueueControllerTimer& queue, TBasicRequestItem& item,
                       const TExportCronParams& fields, int index);
// The events of an AtTime item (one per time of day) or of a Cron item.
void AddTimeEvents(TQueueControllerTimer& queue, TBasicRequestItem& item);
// "G" + method + "_" + 8 hex digits of the item's serial + "_" + 8 hex
// digits of the queue.
std::string MakeScheduleKey(const TQueueControllerTimer& queue, uint8_t method, uint32_t serial);

// The longest period of the queue's requests in ms; 0 when there is none.
int64_t LongestRequestPeriod(TQueueControllerTimer& queue);
