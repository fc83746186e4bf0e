#include "parser/queue_controller.h"

#include <algorithm>

#include "paramlist/params_list.h"
#include "parser/cron/scheduled_event.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "platform/tick.h"

// ---- TQueueController ------------------------------------------------------

TQueueController::TQueueController(IQueueOwner* owner)
    : Owner(owner), Requests(std::make_unique<TBasicRequestList>()) {}

TQueueController::~TQueueController() = default;

bool TQueueController::DoSendRequest(TBasicRequestItem& item, uint32_t& timeout,
                                     uint32_t& request_id) {
  return OnSendRequest ? OnSendRequest(*this, item, timeout, request_id) : false;
}

void TQueueController::DoTimeout(TBasicRequestItem& item, bool& retry) {
  if (OnTimeout) OnTimeout(*this, item, retry);
}

void TQueueController::DoError(const std::string& context, const std::exception& error,
                               const std::string& info) {
  if (OnError) OnError(*this, context, error, info);
}

void TQueueController::DoScheduledEvent(TScheduledEvent& event, TBasicRequestItem& item) {
  if (OnScheduledEvent) OnScheduledEvent(*this, event, item);
}

bool TQueueController::IsStopped() {
  return false;
}

bool TQueueController::IsHeld() {
  return false;
}

void TQueueController::UpdateTimer(bool) {}

TQueueState TQueueController::LockState() {
  return TQueueState(*this);
}

void TQueueController::RequestDone(int32_t code) {
  TQueueState state(*this);
  state.RequestDone(code);
}

void TQueueController::RequestDoneLocked(const TObjectList<TBasicRequestItem>& items,
                                         int32_t code) {
  AnswerTimer.Clear();
  TBasicRequestItem* item = Pending;
  if (!item || items.IndexOf(item) < 0) return;
  if (item->Method != kMethodOnce) item->Busy = false;
  if (code == 1 || (code >= 8 && code <= 10)) item->Attempts = 0;
}

void TQueueController::RequestReset(uint8_t value) {
  std::lock_guard<std::recursive_mutex> state(StateLock);
  ResetRequested = value;
  Wake();
}

void TQueueController::ClearRequests() {
  ReloadRequests(nullptr);
}

void TQueueController::ReloadRequests(
    const std::function<void(TObjectList<TBasicRequestItem>& list)>& fill) {
  auto list = Requests->WriteLocked();
  std::lock_guard<std::recursive_mutex> state(StateLock);
  // No pointer into the old list may survive it.
  Pending = nullptr;
  Retry = nullptr;
  AnswerTimer.Clear();
  list->Clear();
  if (fill) fill(*list);
  Wake();
}

void TQueueController::FireEvent(const std::string& name, bool all,
                                 const TqonParamsList* parameters) {
  const std::string key = platform::AnsiLowerCase(name);
  auto list = Requests->WriteLocked();
  std::lock_guard<std::recursive_mutex> state(StateLock);
  for (TBasicRequestItem* item : *list) {
    const bool match =
        item->Method == kMethodEvent && platform::AnsiLowerCase(item->Mode.MethodText) == key;
    if (!all && !match) continue;
    item->PollTimer.Clear();
    item->LastSent = 0;
    item->Attempts = 0;
    if (all && item->GaveUp) {
      item->GaveUp = false;
      item->Busy = false;
    }
    if (match && parameters) {
      TqonParamsList& params = item->GetEventParams();
      params.Clear();
      params.AddItems(*parameters);
    }
    if (!all) {
      item->Due = true;
      Position = -1;
      IntervalTimer.Clear();
    }
  }
  Wake();
}

void TQueueController::ServeQueue() {
  auto list = Requests->ReadLocked();
  std::lock_guard<std::recursive_mutex> state(StateLock);
  const TObjectList<TBasicRequestItem>& items = *list;

  TBasicRequestItem* chosen = nullptr;
  int index = -1;

  if (AnswerTimer.IsClear()) {
    // Nothing awaited: a retry kept while the minimum interval ran goes first.
    if (Retry && (index = items.IndexOf(Retry)) >= 0) chosen = Retry;
    Retry = nullptr;
  } else {
    // The answer time-out. The handler may clear Pending: the step works on
    // its own copy.
    if (!AnswerTimer.ElapsedNow()) return;
    AnswerTimer.Clear();
    TBasicRequestItem* timed_out = Pending;
    const int at = timed_out ? items.IndexOf(timed_out) : -1;
    if (at >= 0) {
      bool retry = timed_out->Attempts < timed_out->MaxAttempts;
      timed_out->Busy = false;
      try {
        DoTimeout(*timed_out, retry);
      } catch (...) {
        timed_out->Attempts = 0;
        Pending = nullptr;
        throw;
      }
      if (retry) {
        chosen = timed_out;
        index = at;
      } else {
        timed_out->Attempts = 0;
        if (timed_out->Method == kMethodOnce) {
          timed_out->Busy = true;
          timed_out->GaveUp = true;
        }
      }
    }
    Pending = nullptr;
  }

  // The minimum interval; a retry waits for it and then goes first.
  if (!IntervalTimer.IsClear()) {
    if (!IntervalTimer.ElapsedNow()) {
      Retry = chosen;
      return;
    }
    IntervalTimer.Clear();
  }

  const bool retry = chosen != nullptr;
  if (!chosen) {
    index = Select(items);
    if (index < 0) return;
    chosen = items[index];
  }
  Send(*chosen, index, retry);
}

int TQueueController::Select(const TObjectList<TBasicRequestItem>& items) {
  const int count = items.Count();
  const int start = Position >= 0 && Position < count ? Position : 0;
  int found = Visit(items, start, count);
  // Nothing after Position is ready: the items before it get their turn now,
  // so a fast poll item in front of a slow one keeps its period.
  if (found < 0 && start > 0) found = Visit(items, 0, start);
  return found;
}

int TQueueController::Visit(const TObjectList<TBasicRequestItem>& items, int from, int to) {
  // One reading of the clock for the pass; only the 32-bit tick needs each
  // record's own widening.
  const bool tick64 = platform::HasTick64();
  const uint64_t now = tick64 ? platform::Tick64() : 0;
  int best = -1;
  uint64_t best_time = 0;
  for (int i = from; i < to; ++i) {
    TBasicRequestItem* item = items[i];
    if (!item->Enabled) continue;
    switch (item->Method) {
      case kMethodOnce:
        if (!item->Busy) return i;
        continue;
      case kMethodAtTime:
      case kMethodCron:
      case kMethodEvent:
        if (!item->Due) continue;
        break;
      default: {
        TqonTimeout& poll = item->PollTimer;
        const uint32_t period = static_cast<uint32_t>(item->PollInterval);
        if (!poll.IsClear() && !(tick64 ? now >= poll.Start + period : poll.Elapsed(period)))
          continue;
        break;
      }
    }
    if (item->LastSent == 0) return i;
    if (best < 0 || item->LastSent < best_time) {
      best = i;
      best_time = item->LastSent;
    }
  }
  return best;
}

void TQueueController::Send(TBasicRequestItem& item, int index, bool retry) {
  const bool was_due = item.Due;
  item.Busy = true;
  item.Due = false;
  const int32_t min_interval = MinInterval.load();
  if (min_interval > 0) IntervalTimer.StartWith(static_cast<uint32_t>(min_interval));
  if (item.Attempts < item.MaxAttempts) ++item.Attempts;
  // Pending from the moment the handler writes: a host that answers at once
  // (within the write, in this thread) finds the request it answers.
  TBasicRequestItem* const previous = Pending;
  Pending = &item;
  uint32_t timeout = 0;
  bool sent = false;
  try {
    sent = DoSendRequest(item, timeout, RequestIdValue);
  } catch (...) {
    // A handler that fails has not sent anything.
    if (Pending == &item) Pending = previous;
    NotSent(item, index, was_due);
    throw;
  }
  if (!sent) {
    if (Pending == &item) Pending = previous;
    NotSent(item, index, was_due);
    return;
  }
  Position = index + 1;
  if (item.DueAgain) {
    item.Due = true;
    item.DueAgain = false;
  }
  item.RequestId = RequestIdValue;
  // A retry keeps the poll period of the first attempt: a silent device
  // must not stretch its period by its time-outs and push the others back.
  if (retry && !item.PollTimer.IsClear()) {
    item.LastSent = item.PollTimer.Now();
  } else {
    item.PollTimer.Restart();
    item.LastSent = item.PollTimer.Start;
  }
  if (Pending != &item) return;  // already answered: nothing to wait for
  if (timeout != 0)
    AnswerTimer.StartWith(timeout);
  else
    AnswerTimer.Clear();
}

void TQueueController::NotSent(TBasicRequestItem& item, int index, bool was_due) {
  if (item.Attempts < item.MaxAttempts) {
    item.Busy = false;
    item.Due = was_due;
    return;
  }
  Position = index + 1;
  if (item.Method != kMethodOnce) item.Busy = false;
  item.Attempts = 0;
}

// ---- TQueueState -----------------------------------------------------------

TQueueState::TQueueState(TQueueController& queue)
    : queue_(&queue), list_(queue.Requests->ReadLocked()), state_(queue.StateLock) {}

TQueueState::~TQueueState() {
  if (state_.owns_lock()) queue_->Wake();
}

bool TQueueState::EndPending(int32_t code, const TBasicRequestItem* expected) {
  TBasicRequestItem* pending = queue_->Pending;
  if (!pending || (expected && expected != pending)) return false;
  queue_->RequestDoneLocked(*list_, code);
  queue_->Pending = nullptr;
  return true;
}

// ---- TQueueControllerTimer -------------------------------------------------

namespace {
// The longest sleep: what no wake-up reached still gets a tick this often.
constexpr uint64_t kMaxQuiet = 60000;
}  // namespace

std::atomic<bool> TQueueControllerTimer::CoalesceTicks{true};

TQueueControllerTimer::TQueueControllerTimer(IQueueOwner* owner)
    : TQueueController(owner), ScheduledEvents(std::make_unique<TSchEventList>()) {
  Timer = std::make_unique<TqonTimerEx>();
  Timer->SetEnabled(false);
  Timer->SetInterval(50);
  Timer->SetOnTimer([this](TqonTimerEx&) { OnTimer(); });
}

TQueueControllerTimer::~TQueueControllerTimer() {
  StopTimer();
  ClearScheduledEvents();
}

void TQueueControllerTimer::StopTimer() {
  // A tick in progress in the timer's thread may still ask for the timer:
  // it finds none, and the destruction below waits for that tick.
  std::unique_ptr<TqonTimerEx> timer;
  {
    std::lock_guard<std::mutex> lock(timer_mutex_);
    timer = std::move(Timer);
  }
  FreeTimer(timer);
}

bool TQueueControllerTimer::HasTimer() {
  std::lock_guard<std::mutex> lock(timer_mutex_);
  return Timer != nullptr;
}

void TQueueControllerTimer::SetTimerEnabled(bool enabled) {
  std::lock_guard<std::mutex> lock(timer_mutex_);
  if (Timer) Timer->SetEnabled(enabled);
}

void TQueueControllerTimer::SetTimerInterval(uint32_t ms) {
  std::lock_guard<std::mutex> lock(timer_mutex_);
  if (Timer) Timer->SetInterval(ms);
}

void TQueueControllerTimer::UpdateTimer(bool reset_position) {
  if (!HasTimer()) return;
  if (reset_position) {
    TQueueState state(*this);
    Position = -1;
    IntervalTimer.Clear();
  }
  SetTimerEnabled(!IsStopped() && Requests->Count() > 0);
}

void TQueueControllerTimer::Restart() {
  SetTimerEnabled(false);
  uint32_t period = 50;
  {
    auto list = Requests->WriteLocked();
    std::lock_guard<std::recursive_mutex> state(StateLock);
    Position = -1;
    for (TBasicRequestItem* item : *list) {
      item->PollTimer.Clear();
      item->LastSent = 0;
      if (item->Method == kMethodPoll && static_cast<uint32_t>(item->PollInterval) < period)
        period = static_cast<uint32_t>(item->PollInterval);
    }
    // A poll interval of 0 must not switch the tick off.
    TimerPeriod = std::max<uint32_t>(period, 1);
    period = TimerPeriod;
  }
  SetTimerInterval(period);
  UpdateTimer(false);
}

void TQueueControllerTimer::OnTimer() {
  // The timer keeps running during the tick: killing and setting it again
  // on every tick costs a pass over all timers of the thread, and thousands
  // of client queues share one thread. The flag keeps a tick out of itself
  // (a handler that pumps messages) instead.
  if (ticking_.exchange(true)) return;
  if (IsStopped()) {
    SetTimerEnabled(false);
    ticking_ = false;
    return;
  }
  try {
    Tick();
  } catch (...) {
    ticking_ = false;
    UpdateTimer(false);
    throw;
  }
  ticking_ = false;
  UpdateTimer(false);
  Coalesce();
}

void TQueueControllerTimer::Wake() {
  if (!deferred_.exchange(false)) return;
  std::lock_guard<std::mutex> lock(timer_mutex_);
  if (Timer) Timer->Wake();
}

void TQueueControllerTimer::Coalesce() {
  bool events;
  {
    std::lock_guard<std::mutex> lock(EventsLock);
    events = ScheduledEvents && ScheduledEvents->Count() > 0;
  }
  auto list = Requests->ReadLocked();
  std::lock_guard<std::recursive_mutex> state(StateLock);
  // Under StateLock, as every wake-up: none is lost between the reckoning
  // and the timer's new time. Own scheduled events run ticks of their own
  // at moments the queue cannot see, and a held or reset tick is cheap to
  // keep.
  const uint64_t until =
      CoalesceTicks.load() && !events && !IsHeld() && ResetRequested == 0 && platform::HasTick64()
          ? QuietUntil(*list)
          : 0;
  const bool was = deferred_.exchange(until != 0);
  if (until == 0 && !was) return;
  std::lock_guard<std::mutex> lock(timer_mutex_);
  if (Timer && Timer->OwnerThread() == platform::CurrentThreadId())
    Timer->Defer(until);
  else if (Timer)
    Timer->Wake();
}

uint64_t TQueueControllerTimer::QuietUntil(const TObjectList<TBasicRequestItem>& items) {
  const uint64_t now = platform::Tick64();
  const uint64_t limit = now + kMaxQuiet;
  // An awaited answer: nothing goes out before its time-out.
  if (!AnswerTimer.IsClear())
    return AnswerTimer.Deadline > now ? std::min(AnswerTimer.Deadline, limit) : 0;
  uint64_t ready = Retry ? now : limit;
  for (const TBasicRequestItem* item : items) {
    if (ready <= now) break;
    if (!item->Enabled) continue;
    switch (item->Method) {
      case kMethodOnce:
        if (!item->Busy) ready = now;
        break;
      case kMethodAtTime:
      case kMethodCron:
      case kMethodEvent:
        if (item->Due) ready = now;
        break;
      default: {
        const TqonTimeout& poll = item->PollTimer;
        const uint64_t at =
            poll.IsClear() ? now : poll.Start + static_cast<uint32_t>(item->PollInterval);
        ready = std::min(ready, at);
        break;
      }
    }
  }
  if (!IntervalTimer.IsClear()) ready = std::max(ready, IntervalTimer.Deadline);
  ready = std::min(ready, limit);
  return ready > now ? ready : 0;
}

void TQueueControllerTimer::Tick() {
  if (IsHeld()) return;
  if (ResetRequested.exchange(0) != 0) {
    Restart();
    return;
  }
  ServeQueue();
}

void TQueueControllerTimer::OnScheduleFired(TScheduledEvent& event) {
  std::string key = event.Name.substr(0, event.Name.find('/'));
  const size_t first = key.find_first_not_of(" \t\r\n");
  const size_t last = key.find_last_not_of(" \t\r\n");
  key = first == std::string::npos ? std::string() : key.substr(first, last - first + 1);
  bool matched = false;
  {
    TQueueState state(*this);
    for (TBasicRequestItem* item : state.Items()) {
      if (item->ScheduleKey != key) continue;
      // A late timer brings two moments close together: neither is lost,
      // unless they passed while requests were held.
      if (item->Due && !IsHeld()) item->DueAgain = true;
      item->Due = true;
      IntervalTimer.Clear();
      matched = true;
      DoScheduledEvent(event, *item);
    }
  }
  if (matched) OnTimer();
}

void TQueueControllerTimer::ClearScheduledEvents() {
  std::unique_ptr<TSchEventList> events;
  {
    std::lock_guard<std::mutex> lock(EventsLock);
    events = std::move(ScheduledEvents);
    ScheduledEvents = std::make_unique<TSchEventList>();
  }
  // Outside the lock: stopping waits for a firing in progress.
  try {
    if (events) events->Clear();
  } catch (...) {
  }
}
