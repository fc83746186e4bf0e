#pragma once
// Scheduled events: a named cron schedule that calls its handler at each of
// its moments. Timer-kind events (the kind this system creates) fire in the
// thread that started them, through its message loop; the other kinds wait
// in a thread of their own.
//
//   TScheduledEvent& e = list.Add("G3_00000001_00000002/0");
//   e.SetSignalType(TScheduledEvent::kSignalTimer);
//   e.Schedule.SetCronText("0 0 12 * * * *");
//   e.OnSchedule = [](TScheduledEvent& event, void*) { ... };
//   e.Start(false);
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "parser/cron/interval_meter.h"
#include "parser/cron/schedule.h"
#include "platform/message_loop.h"

class TqonTimerEx;
class TScheduledEvent;

// Misuse of a scheduled event ("OnSchedule is not defined", ...).
class EScheduledEventError : public EqonError {
 public:
  using EqonError::EqonError;
};

// An auto-reset event: one Set releases one wait.
class TWakeEvent {
 public:
  void Set();
  // True when set within ms (the signal is then consumed).
  bool WaitFor(uint64_t ms);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

// The waiter of one event: a timer of the starting thread (timer mode) or a
// thread of its own that sleeps on the wake event.
class TScheduleThread {
 public:
  using TNotifyEvent = std::function<void(TScheduleThread& sender)>;

  // Computes the first wait and starts: the timer in the calling thread, or
  // the thread. Raises what the timer's creation raises.
  TScheduleThread(TScheduledEvent& event, bool timer_mode, bool run_at_start);
  // Ends the thread (which must have been told to terminate) or frees the timer.
  ~TScheduleThread();
  TScheduleThread(const TScheduleThread&) = delete;
  TScheduleThread& operator=(const TScheduleThread&) = delete;

  platform::WindowHandle MessageWindow = 0;
  std::shared_ptr<TWakeEvent> WakeEvent;
  bool RunAtStart = false;
  int64_t Interval = 0;  // ms
  TScheduledEvent* const Event;
  std::unique_ptr<TqonTimerEx> Timer;

  // Called when the thread ends by itself (not after Terminate), in the thread.
  void SetOnTerminate(TNotifyEvent handler);
  // From then on the waiter fires no more and its thread ends soon.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  bool InWaiterThread() const;

 private:
  friend class TScheduledEvent;

  // Starts the timer or the thread.
  void Run();
  void Execute();
  // Steps 1 to 4 of the wait: check, fire, skip missed moments. False when
  // the waiter is to end.
  bool Step();
  void TimerTick();
  void SkipMissed();
  // Type 1: runs Fire in the starting thread and waits for it.
  void FireSynchronized();
  void SyncDone(uintptr_t sequence);

  std::atomic<bool> terminated_{false};
  std::recursive_mutex tick_mutex_;  // held by a timer tick
  TIntervalMeter meter_;
  std::thread thread_;
  std::recursive_mutex terminate_mutex_;
  TNotifyEvent on_terminate_;
  std::mutex sync_mutex_;
  std::condition_variable sync_cv_;
  uintptr_t sync_sequence_ = 0;
  bool sync_done_ = true;
};

class TScheduledEvent {
 public:
  using TNotifyEvent = std::function<void(TScheduledEvent& event)>;
  using TScheduleEvent = std::function<void(TScheduledEvent& event, void* parameter)>;

  enum : uint8_t {
    kSignalWorkerThread = 0,
    kSignalSynchronize = 1,
    kSignalMessage = 2,
    kSignalTimer = 3,
  };
  static constexpr uint32_t kFireMessage = 1025;
  static constexpr uint32_t kSyncMessage = 1026;

  explicit TScheduledEvent(std::string name);
  // Stops the event and waits for its worker threads. Not from inside its
  // own handlers.
  ~TScheduledEvent();
  TScheduledEvent(const TScheduledEvent&) = delete;
  TScheduledEvent& operator=(const TScheduledEvent&) = delete;

  std::string Name;
  std::atomic<bool> Paused{false};
  std::atomic<bool> Running{false};
  // Belongs to the waiter while a thread-kind event runs.
  TSchedule Schedule;
  std::shared_ptr<TWakeEvent> WakeEvent;
  std::unique_ptr<platform::MessageWindow> MessageWindow;
  std::unique_ptr<TScheduleThread> Waiter;
  std::atomic<uint64_t> RunCount{0};
  uint64_t MaxRuns = 0;  // 0 = unlimited

  TNotifyEvent OnStart;
  TNotifyEvent OnStop;
  TNotifyEvent OnExpired;
  TScheduleEvent OnSchedule;
  TNotifyEvent OnFinished;
  TNotifyEvent OnRunLimit;

  uint8_t SignalType() const { return signal_type_; }
  // Raises "Cannot change signaling type while running".
  void SetSignalType(uint8_t kind);

  // False (and not running) when the schedule has no next moment. A running
  // event is stopped first.
  bool Start(bool run_at_start);
  void Stop();
  void Fire(void* parameter);

 private:
  friend class TScheduleThread;
  friend class TWorkerThread;
  class DispatchScope;

  intptr_t WindowProc(uint32_t msg, uintptr_t wparam, intptr_t lparam);
  void StartWorker();
  bool InOwnDispatch() const;
  // Frees what was retired, but never a waiter whose own thread asks.
  void FreeRetired();

  uint8_t signal_type_ = kSignalMessage;
  std::mutex state_mutex_;  // Running, Waiter, MessageWindow, WakeEvent while stopping
  std::atomic<uint32_t> owner_thread_{0};
  int dispatch_depth_ = 0;  // owner thread only
  // Stopped from inside one of its own dispatches: freed once it unwinds.
  std::vector<std::unique_ptr<TScheduleThread>> retired_waiters_;
  std::vector<std::unique_ptr<platform::MessageWindow>> retired_windows_;
  std::mutex retired_mutex_;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex workers_mutex_;
  std::vector<Worker> workers_;
};

// Runs one firing in a thread of its own and ends.
class TWorkerThread {
 public:
  explicit TWorkerThread(TScheduledEvent& event) : Event(&event) {}
  TScheduledEvent* const Event;
  void Execute();
};

// An owning list of events.
class TSchEventList {
 public:
  using TAddEvent = std::function<void(TSchEventList& sender, TScheduledEvent& event)>;

  TSchEventList() = default;
  ~TSchEventList() { Clear(); }
  TSchEventList(const TSchEventList&) = delete;
  TSchEventList& operator=(const TSchEventList&) = delete;

  TAddEvent OnAdd;

  // Creates the event, appends it, then calls OnAdd.
  TScheduledEvent& Add(const std::string& name);
  TScheduledEvent& Items(size_t index) { return *items_.at(index); }
  size_t Count() const { return items_.size(); }
  // Frees every event (each stops first), from the last to the first.
  void Clear();

 private:
  std::vector<std::unique_ptr<TScheduledEvent>> items_;
};
