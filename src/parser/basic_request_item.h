#pragma once
// One configured request of a queue: how it is triggered, its retry budget
// and the run-time state the queue controller keeps on it. Protocols derive
// their own request from it.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "threading/thread_object_list.h"
#include "threading/timeout.h"

class TdovXMLNode;
class TqonParamsList;

// Request methods, shared by the configuration and the queues.
enum : uint8_t {
  kMethodOnce = 0,
  kMethodPoll = 1,
  kMethodAtTime = 2,
  kMethodCron = 3,
  kMethodEvent = 4,
};

// The fields of a cron string in reverse order: 0 day of week, 1 month,
// 2 day of month, 3 hours, 4 minutes, 5 seconds.
using TExportCronParams = std::array<std::string, 6>;

struct TExportUnchangedMode {
  uint8_t Method = 0;
  std::string MethodText;  // time list, event name or cron string by method
  TExportCronParams CronParams;
};

// A cron string's fields: runs of blanks separate like one blank, so
// "0 0  12 * * *" keeps its fields in place.
std::vector<std::string_view> SplitCronFields(std::string_view text);
// With six fields or more the first six fill params (reversed) and the
// answer is true; otherwise params is left all empty.
bool SplitCronParams(std::string_view text, TExportCronParams* params);

// What a descendant keeps in SubItems.
class TRequestSubItem {
 public:
  virtual ~TRequestSubItem() = default;
};

class TBasicRequestItem {
 public:
  TBasicRequestItem();
  virtual ~TBasicRequestItem();
  TBasicRequestItem(const TBasicRequestItem&) = delete;
  TBasicRequestItem& operator=(const TBasicRequestItem&) = delete;

  // Copies the configured fields, Due and ScheduleKey; the copy is not Busy
  // and its poll timer is clear. Counters, sub-items and event parameters
  // stay as they are.
  virtual void Assign(const TBasicRequestItem& source);
  // Reads the item from a configuration node; index is the request's
  // 1-based position, for its default caption.
  virtual void LoadFromNode(const TdovXMLNode* node, int index);

  // The event parameters, created on first use.
  TqonParamsList& GetEventParams();

  bool Enabled = false;
  bool Busy = false;
  std::string Caption;
  uint8_t Method = kMethodOnce;
  int32_t PollInterval = 1000;  // milliseconds
  uint32_t RequestId = 4294967295u;
  bool Due = false;
  // A further moment came while Due: one more send after the next.
  bool DueAgain = false;
  std::string ScheduleKey;
  TObjectList<TRequestSubItem> SubItems{true};  // owned
  uint8_t Attempts = 0;
  // A Once item whose attempts all went unanswered: done until the list is
  // reloaded or every item starts again (an open port).
  bool GaveUp = false;
  uint8_t MaxAttempts = 1;
  TExportUnchangedMode Mode;
  TqonTimeout PollTimer;
  uint64_t LastSent = 0;  // tick of the last successful send; 0 = never
  std::unique_ptr<TqonParamsList> EventParams;
};

// The locked list a queue keeps its requests in; it owns them.
class TBasicRequestList : public TThreadObjectList<TBasicRequestItem> {
 public:
  TBasicRequestList() : TThreadObjectList<TBasicRequestItem>(true) {}
};
