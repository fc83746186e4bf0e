#pragma once
// Queue controllers: which request of a list goes out next, its answer
// time-out and retries, the minimum interval between requests, and the
// triggers (poll periods, times of day, cron strings, host events).
//
// One lock per queue, StateLock, owns the run-time state: Pending, Retry,
// AnswerTimer, IntervalTimer, Position, RequestIdValue, TimerPeriod and the
// run-time fields of the items (Busy, Due, Attempts, RequestId, PollTimer,
// LastSent, EventParams). It is always taken after the request list's own
// lock (read or write), so a holder of StateLock also keeps the items alive.
// Others reach the state through a TQueueState:
//
//   auto st = queue.LockState();             // list read lock, then StateLock
//   if (TBasicRequestItem* p = st.Pending()) ...
//   st.EndPending(1, p);                      // RequestDone(1), Pending := none
//
// The tick holds the same two locks while it calls the send and time-out
// handlers, so a handler may take LockState() again (both locks re-enter).
// Handlers must not take the client list or a data source's master list.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "parser/basic_request_item.h"
#include "threading/qon_timer_ex.h"
#include "threading/timeout.h"

class TQueueController;
class TQueueState;
class TScheduledEvent;
class TSchEventList;
class TqonParamsList;
class IParserModule;

// What a queue asks of its owner (a data source or a parser client), so that
// the queue knows neither.
class IQueueOwner {
 public:
  virtual ~IQueueOwner() = default;
  // Nothing may go out: the queue's timer stays off.
  virtual bool IsStopped() = 0;
  // Requests wait for later instead of spending their attempts.
  virtual bool IsHeld() = 0;
  // The plug-in module the owner serves; null when there is none.
  virtual IParserModule* Module() const = 0;
};

// Sends the item; true when it went out. May set the answer time-out (ms, 0 =
// none) and the request id.
using TSendRequestEvent = std::function<bool(TQueueController& sender, TBasicRequestItem& item,
                                             uint32_t& timeout, uint32_t& request_id)>;
// The pending request's answer time-out elapsed; may change the retry decision.
using TRequestTimeoutEvent =
    std::function<void(TQueueController& sender, TBasicRequestItem& item, bool& retry)>;
// An error while building scheduled events.
using TQueueErrorEvent = std::function<void(TQueueController& sender, const std::string& context,
                                            const std::exception& error, const std::string& info)>;
// A scheduled event made the item due.
using TQueueScheduledEvent =
    std::function<void(TQueueController& sender, TScheduledEvent& event, TBasicRequestItem& item)>;

class TQueueController {
 public:
  // owner: the data source or client; not owned. The queue itself does not
  // consult it: the owner-specific queues beside the owners do.
  explicit TQueueController(IQueueOwner* owner);
  virtual ~TQueueController();
  TQueueController(const TQueueController&) = delete;
  TQueueController& operator=(const TQueueController&) = delete;

  // Each calls its handler when assigned (a missing send handler: not sent).
  virtual bool DoSendRequest(TBasicRequestItem& item, uint32_t& timeout, uint32_t& request_id);
  virtual void DoTimeout(TBasicRequestItem& item, bool& retry);
  virtual void DoError(const std::string& context, const std::exception& error,
                       const std::string& info);
  virtual void DoScheduledEvent(TScheduledEvent& event, TBasicRequestItem& item);
  virtual bool IsStopped();
  virtual bool IsHeld();
  // Nothing without a timer (see TQueueControllerTimer).
  virtual void UpdateTimer(bool reset_position);
  // Event items named `name` (any letter case) get the parameters and, unless
  // `all`, become due; with `all` every item's poll period and attempts start
  // again, and Once items that gave up are tried again.
  virtual void FireEvent(const std::string& name, bool all, const TqonParamsList* parameters);
  // Something that may let a tick act sooner has changed: a queue whose
  // ticks sleep ticks again from the next boundary. Called under StateLock
  // by every change the queue sees (a TQueueState's end included).
  virtual void Wake() {}
  // Sets ResetRequested for the next tick.
  void RequestReset(uint8_t value);

  // Ends the answer wait; the pending item is no longer busy (Once items
  // stay done) and codes 1 and 8..10 give it its attempts back. Pending
  // itself stays: TQueueState::EndPending does both under one lock.
  void RequestDone(int32_t code);
  [[nodiscard]] TQueueState LockState();
  // Empties the request list together with Pending, the kept retry and the
  // answer time-out. Use this rather than Requests->Clear().
  void ClearRequests();
  // Empties the list the same way and lets `fill` add the new items, all
  // under the locks: no tick sees a half-loaded list.
  void ReloadRequests(const std::function<void(TObjectList<TBasicRequestItem>& list)>& fill);

  TSendRequestEvent OnSendRequest;
  TRequestTimeoutEvent OnTimeout;
  TQueueErrorEvent OnError;
  TQueueScheduledEvent OnScheduledEvent;
  // Not 0 at a tick: the tick restarts the controller instead of sending.
  // Set it through RequestReset, which wakes a sleeping tick.
  std::atomic<uint8_t> ResetRequested{0};
  IQueueOwner* const Owner;
  const std::unique_ptr<TBasicRequestList> Requests;
  uint32_t RequestIdValue = 4294967295u;
  TqonTimeout IntervalTimer;
  int32_t Position = -1;    // index after the last item sent; -1: start of the list
  TqonTimeout AnswerTimer;  // running: a request is awaited
  TBasicRequestItem* Pending = nullptr;
  std::atomic<int32_t> MinInterval{0};  // ms between two requests; 0 = none

 protected:
  friend class TQueueState;

  // The selection and sending part of a tick (answer time-out, minimum
  // interval, rotating selection, send).
  void ServeQueue();
  void RequestDoneLocked(const TObjectList<TBasicRequestItem>& items, int32_t code);

  std::recursive_mutex StateLock;
  // A timed-out request whose retry waits for the minimum interval.
  TBasicRequestItem* Retry = nullptr;

 private:
  int Select(const TObjectList<TBasicRequestItem>& items);
  int Visit(const TObjectList<TBasicRequestItem>& items, int from, int to);
  void Send(TBasicRequestItem& item, int index, bool retry);
  void NotSent(TBasicRequestItem& item, int index, bool was_due);
};

// The queue's run-time state, held: the request list's read lock and the
// queue's StateLock. Pending and every item stay valid while it lives.
class TQueueState {
 public:
  explicit TQueueState(TQueueController& queue);
  TQueueState(TQueueState&&) = default;
  // The holder may have changed what the next tick does.
  ~TQueueState();

  TQueueController& Queue() const { return *queue_; }
  const TObjectList<TBasicRequestItem>& Items() const { return *list_; }
  TBasicRequestItem* Pending() const { return queue_->Pending; }
  // An answer time-out is running for Pending.
  bool Awaited() const { return !queue_->AnswerTimer.IsClear(); }
  void RequestDone(int32_t code) { queue_->RequestDoneLocked(*list_, code); }
  // RequestDone(code) and Pending := none, when a request is pending and it
  // is `expected` (any when null). False when there was nothing to end: a
  // second answer to the same request ends nothing.
  bool EndPending(int32_t code, const TBasicRequestItem* expected = nullptr);
  void ClearPending() { queue_->Pending = nullptr; }

 private:
  TQueueController* queue_;
  TBasicRequestList::ReadGuard list_;
  std::unique_lock<std::recursive_mutex> state_;
};

// A controller with its own tick and scheduled events. The tick runs in the
// thread that created the controller.
class TQueueControllerTimer : public TQueueController {
 public:
  explicit TQueueControllerTimer(IQueueOwner* owner);
  ~TQueueControllerTimer() override;

  // Timer on exactly when not stopped and the list is not empty; with reset
  // the rotation starts again at the first item and the interval is over.
  void UpdateTimer(bool reset_position) override;

  // The timer is reached through these (any thread) or under timer_mutex_.
  bool HasTimer();
  void SetTimerEnabled(bool enabled);
  void SetTimerInterval(uint32_t ms);
  // Tick every 50 ms, or as often as the shortest poll interval (1 ms at
  // least); rotation from the start; every poll period starts again.
  void Restart();
  // A tick that finds nothing to do before some later time sleeps until the
  // first boundary at or after it instead of ticking through; what it does
  // stays the same. Process-wide; on unless switched off (tests compare).
  static std::atomic<bool> CoalesceTicks;
  void Wake() override;
  void OnTimer();
  // Handler of this queue's scheduled events: items with the event's key
  // become due and the tick runs at once.
  void OnScheduleFired(TScheduledEvent& event);
  // Stops and frees every scheduled event. Waits for a firing in progress:
  // do not hold the request list's lock while calling it.
  void ClearScheduledEvents();
  // Frees the timer: no tick reaches the controller afterwards (one in
  // progress in the timer's thread is waited for).
  void StopTimer();

  // A new serial number for the item part of a schedule key.
  uint32_t NextScheduleSerial() { return ++schedule_serial_; }

  uint32_t TimerPeriod = 50;
  std::unique_ptr<TqonTimerEx> Timer;  // see SetTimerEnabled
  // Guarded by EventsLock; never replaced while it is held.
  std::unique_ptr<TSchEventList> ScheduledEvents;
  std::mutex EventsLock;

 private:
  void Tick();
  // After a tick: the timer sleeps while no tick can act.
  void Coalesce();
  // The first time a tick may act (a Tick64 reading, at most kMaxQuiet
  // ahead), or 0 when it may act now. Under the list lock and StateLock.
  uint64_t QuietUntil(const TObjectList<TBasicRequestItem>& items);

  std::mutex timer_mutex_;
  std::atomic<bool> deferred_{false};  // the timer sleeps past its next boundary
  std::atomic<bool> ticking_{false};
  std::atomic<uint32_t> schedule_serial_{0};
};
